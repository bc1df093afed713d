"""Specks: regions smaller than a minimum size join the neighbour that is
cheapest to merge with, by the cost of the lambda schedule,
(|A| |B| / (|A| + |B|)) * |mean A - mean B|^2 / (common boundary length).
Rounds until no region below the size has a neighbour; in each round every
such region picks its neighbour at once, so the result does not depend on an
order of visits. Each window's own rounds run in C++ at the end of its
merging (binding.small_regions); the pieces here are the same rule on numpy
arrays, for the passes over the whole image.

The last word on specks, over the whole image: a region that the tiles'
own speck pass left under the minimum size (a speck cut by a tile border,
whose two windows sent it to different neighbours) joins its cheapest
neighbour by the region statistics of the whole image. The kept labels are
read strip by strip; only the pairs that touch such a region are held."""

import numpy as np

from .relabel import join_pairs


def neighbour_pairs(labels, below=None, only=None):
    """(k, 2) label pairs (smaller first) and their common boundary length in
    4-neighbour steps, within labels and between its last row and the row
    below it (if given); label 0 takes no part, and with `only` (a flag a
    label) neither do pairs of two unflagged labels."""
    down = labels if below is None else np.vstack([labels, below[None]])
    a = np.concatenate([labels[:, :-1].ravel(), down[:-1].ravel()]).astype(np.int64)
    b = np.concatenate([labels[:, 1:].ravel(), down[1:].ravel()]).astype(np.int64)
    keep = (a != b) & (a != 0) & (b != 0)
    if only is not None:
        keep &= only[a] | only[b]
    lo, hi = np.minimum(a[keep], b[keep]), np.maximum(a[keep], b[keep])
    n = int(down.max()) + 1
    keys, blen = np.unique(lo * n + hi, return_counts=True)
    return np.stack([keys // n, keys % n], axis=1), blen


def region_sums(image, labels, n):
    """Pixel count and band sums (float64) of the labels 0 .. n - 1."""
    flat = labels.ravel()
    area = np.bincount(flat, minlength=n).astype(np.float64)
    return area, np.stack([np.bincount(flat, weights=band.ravel(), minlength=n) for band in image])


def region_means(image, labels, n):
    area, sums = region_sums(image, labels, n)
    with np.errstate(invalid="ignore", divide="ignore"):
        return area, sums / area


def merge_costs(area, means, pairs, blen):
    a, b = area[pairs[:, 0]], area[pairs[:, 1]]
    # Band by band, in one fixed order (numpy's sum would add 8 bands or more
    # pairwise or not depending on the number of pairs): the window's pass in
    # C++ adds them the same way.
    dist = np.zeros(len(pairs))
    for band in means:
        dist += (band[pairs[:, 0]] - band[pairs[:, 1]]) ** 2
    return a * b / (a + b) * dist / blen


def cheapest_hosts(pairs, blen, area, means, min_size):
    """(speck, host) pairs: each region under min_size that has a neighbour
    with the neighbour cheapest to merge with (ties: the smaller label)."""
    cost = merge_costs(area, means, pairs, blen)
    # Each pair twice, as (speck, host) from either side.
    speck = np.concatenate([pairs[:, 0], pairs[:, 1]])
    host = np.concatenate([pairs[:, 1], pairs[:, 0]])
    cost = np.concatenate([cost, cost])
    small = area[speck] < min_size
    speck, host, cost = speck[small], host[small], cost[small]
    order = np.lexsort((host, cost, speck))  # cheapest host first, ties by label
    speck, host = speck[order], host[order]
    first = np.r_[True, speck[1:] != speck[:-1]][: len(speck)]
    return np.stack([speck[first], host[first]], axis=1)


STRIP_PIXELS = 1 << 20  # pixels of the kept labels read at a time


def settle_specks(table, tally, store, height, width, min_size):
    """table (run label -> region 1 .. n, 0 none) with every region under
    min_size that has a neighbour joined to the cheapest one. Besides the
    table, a round holds 8 bytes a region (the areas): the band sums are
    added up only for the regions that a speck touches."""
    while True:
        n = int(table.max()) + 1
        area = _region_areas(table, tally, n)
        small = area < min_size
        small[0] = False
        if not small.any():
            return table
        pairs, blen = _pairs_touching(table, small, store, height, width)
        if not len(pairs):
            return table
        involved = np.unique(pairs)  # in order, so ties still go to the smaller label
        with np.errstate(invalid="ignore", divide="ignore"):
            means = _band_sums(involved, table, tally) / area[involved]
        joins = cheapest_hosts(
            np.searchsorted(involved, pairs), blen, area[involved], means, min_size
        )
        if not len(joins):
            return table
        table = join_pairs(table, involved[joins])


def _table_chunks(table, tally):
    """(region of each, area, sums) of the run labels of table, a chunk at a time."""
    for first, area, sums in tally.chunks():
        k = min(len(area), len(table) - first)
        if k <= 0:
            return
        yield table[first : first + k], area[:k], sums[:, :k]


def _region_areas(table, tally, n):
    """Pixels of the regions 0 .. n - 1 (whole numbers: the order of adding
    changes nothing)."""
    area = np.zeros(n)
    for regions, chunk, _ in _table_chunks(table, tally):
        part = np.bincount(regions, weights=chunk)
        area[: len(part)] += part
    return area


def _band_sums(regions, table, tally):
    """(nbands, len(regions)) band sums of the sorted regions, each added up
    over its run labels in label order, one after the other, as a single
    bincount over all labels would."""
    sums = np.zeros((tally.columns - 1, len(regions)))
    for region_of, _, chunk in _table_chunks(table, tally):  # region of each run label
        pos = np.minimum(np.searchsorted(regions, region_of), len(regions) - 1)
        hit = regions[pos] == region_of
        for total, band in zip(sums, chunk):
            np.add.at(total, pos[hit], band[hit])
    return sums


def _pairs_touching(table, small, store, height, width):
    """Region pairs with a speck among them and their common boundary
    lengths, from the kept labels read a strip at a time."""
    rows = max(1, STRIP_PIXELS // width)
    found, lengths = [], []
    for y0 in range(0, height, rows):
        y1 = min(y0 + rows, height)
        labels = table[store.read(y0, y1, 0, width)]
        below = table[store.read(y1, y1 + 1, 0, width)][0] if y1 < height else None
        pairs, blen = neighbour_pairs(labels, below, only=small)
        found.append(pairs)
        lengths.append(blen)
    pairs, blen = np.concatenate(found), np.concatenate(lengths)
    n = int(table.max()) + 1
    keys, inverse = np.unique(pairs[:, 0] * n + pairs[:, 1], return_inverse=True)
    return np.stack([keys // n, keys % n], axis=1), np.bincount(inverse, weights=blen)
