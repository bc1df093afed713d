"""The last word on specks, over the whole image: a region that the tiles'
own speck pass left under the minimum size (a speck cut by a tile border,
whose two windows sent it to different neighbours) joins its cheapest
neighbour by the region statistics of the whole image. The kept labels are
read strip by strip; only the pairs that touch such a region are held."""

import numpy as np

from .small_regions import cheapest_hosts, neighbour_pairs, region_sums
from .unions import join_pairs

STRIP = 256


class RegionTally:
    """Pixel count and band sums of every label of the run (index = label)."""

    def __init__(self, nbands):
        self.area = np.zeros(1024)
        self.sums = np.zeros((nbands, 1024))

    def add(self, first, labels, image):
        """labels: first .. first + k - 1 (0 for none) over image's pixels."""
        local = np.where(labels != 0, labels - (first - 1), 0)
        n = int(local.max()) + 1
        area, sums = region_sums(image, local, n)
        top = first + n - 1
        if top > len(self.area):
            grow = max(top, 2 * len(self.area)) - len(self.area)
            self.area = np.concatenate([self.area, np.zeros(grow)])
            self.sums = np.concatenate([self.sums, np.zeros((len(self.sums), grow))], axis=1)
        self.area[first:top] += area[1:]
        self.sums[:, first:top] += sums[:, 1:]


def settle_specks(table, tally, store, height, width, min_size):
    """table (run label -> region 1 .. n, 0 none) with every region under
    min_size that has a neighbour joined to the cheapest one."""
    while True:
        n = int(table.max()) + 1
        k = min(len(table), len(tally.area))
        area = np.bincount(table[:k], weights=tally.area[:k], minlength=n)
        small = area < min_size
        small[0] = False
        if not small.any():
            return table
        sums = np.stack([np.bincount(table[:k], weights=s[:k], minlength=n)
                         for s in tally.sums])
        pairs, blen = _pairs_touching(table, small, store, height, width)
        if not len(pairs):
            return table
        with np.errstate(invalid="ignore", divide="ignore"):
            joins = cheapest_hosts(pairs, blen, area, sums / area, min_size)
        if not len(joins):
            return table
        table = join_pairs(table, joins)


def _pairs_touching(table, small, store, height, width):
    found, lengths = [], []
    for y0 in range(0, height, STRIP):
        y1 = min(y0 + STRIP, height)
        labels = table[store.read(y0, y1, 0, width)]
        below = table[store.read(y1, y1 + 1, 0, width)][0] if y1 < height else None
        pairs, blen = neighbour_pairs(labels, below)
        near = small[pairs[:, 0]] | small[pairs[:, 1]]
        found.append(pairs[near])
        lengths.append(blen[near])
    pairs, blen = np.concatenate(found), np.concatenate(lengths)
    n = int(table.max()) + 1
    keys, inverse = np.unique(pairs[:, 0] * n + pairs[:, 1], return_inverse=True)
    return np.stack([keys // n, keys % n], axis=1), np.bincount(inverse, weights=blen)
