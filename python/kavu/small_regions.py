"""Specks: regions smaller than a minimum size join the neighbour that is
cheapest to merge with, by the cost of the lambda schedule,
(|A| |B| / (|A| + |B|)) * |mean A - mean B|^2 / (common boundary length).
Rounds until no region below the size has a neighbour; in each round every
such region picks its neighbour at once, so the result does not depend on an
order of visits."""

import numpy as np

from .unions import join_pairs


def neighbour_pairs(labels, below=None):
    """(k, 2) label pairs (smaller first) and their common boundary length in
    4-neighbour steps, within labels and between its last row and the row
    below it (if given); label 0 takes no part."""
    down = labels if below is None else np.vstack([labels, below[None]])
    a = np.concatenate([labels[:, :-1].ravel(), down[:-1].ravel()]).astype(np.int64)
    b = np.concatenate([labels[:, 1:].ravel(), down[1:].ravel()]).astype(np.int64)
    keep = (a != b) & (a != 0) & (b != 0)
    lo, hi = np.minimum(a[keep], b[keep]), np.maximum(a[keep], b[keep])
    n = int(down.max()) + 1
    keys, blen = np.unique(lo * n + hi, return_counts=True)
    return np.stack([keys // n, keys % n], axis=1), blen


def region_sums(image, labels, n):
    """Pixel count and band sums (float64) of the labels 0 .. n - 1."""
    flat = labels.ravel()
    area = np.bincount(flat, minlength=n).astype(np.float64)
    return area, np.stack([np.bincount(flat, weights=band.ravel(), minlength=n)
                           for band in image])


def region_means(image, labels, n):
    area, sums = region_sums(image, labels, n)
    with np.errstate(invalid="ignore", divide="ignore"):
        return area, sums / area


def merge_costs(area, means, pairs, blen):
    a, b = area[pairs[:, 0]], area[pairs[:, 1]]
    dist = ((means[:, pairs[:, 0]] - means[:, pairs[:, 1]]) ** 2).sum(axis=0)
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
    order = np.lexsort((host, cost, speck))          # cheapest host first, ties by label
    speck, host = speck[order], host[order]
    first = np.r_[True, speck[1:] != speck[:-1]][:len(speck)]
    return np.stack([speck[first], host[first]], axis=1)


def absorb_specks(image, labels, min_size):
    """labels with every region under min_size pixels merged into a neighbour
    (regions without neighbours stay as they are); labels 1, 2, ..., 0 kept."""
    while True:
        n = int(labels.max()) + 1
        pairs, blen = neighbour_pairs(labels)
        if not len(pairs):
            return labels
        area, means = region_means(image, labels, n)
        joins = cheapest_hosts(pairs, blen, area, means, min_size)
        if not len(joins):
            return labels
        labels = join_pairs(labels, joins)
