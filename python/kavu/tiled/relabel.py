"""Labels that must become one region: within a window (basins that meet at
level 0, specks and their hosts) and across tiles (stitching).

The groups are kept as a label forest in the extension (4 bytes a label),
joined pair by pair as the pairs come: no graph of the pairs is ever built,
so the labels of a whole scene's run cost 4 bytes each up to their numbering."""

import numpy as np

from .. import _kavu


class LabelForest:
    """Labels 0 .. size - 1, each in a group of its own until joined;
    `grow` makes room for more."""

    def __init__(self, size=0):
        self.parent = np.arange(size, dtype=np.uint32)

    def grow(self, size):
        """Room for the labels below size at least (doubling, so that labels
        that come a tile at a time are copied a few times only)."""
        if size > len(self.parent):
            size = max(size, 2 * len(self.parent))
            self.parent = np.concatenate(
                [self.parent, np.arange(len(self.parent), size, dtype=np.uint32)]
            )

    def join(self, pairs):
        """Joins the two labels of each pair (an (k, 2) integer array)."""
        pairs = np.ascontiguousarray(pairs, np.int64).reshape(-1, 2)
        if len(pairs):
            _kavu.join_labels(self.parent, pairs)

    def numbered(self):
        """(groups, count): each label's group 0 .. count - 1 in the order of
        the group's smallest label (uint32). The forest is used up: its array
        becomes the groups."""
        count = _kavu.number_groups(self.parent)
        groups, self.parent = self.parent, None
        return groups, count


def groups(n, pairs):
    """(number of groups, group number of each of the labels 0 .. n - 1
    joined by the pairs (an (k, 2) integer array)), numbered in the order of
    each group's smallest label."""
    forest = LabelForest(n)
    forest.join(pairs)
    group, count = forest.numbered()
    return count, group


def join_table(n, pairs):
    """(table, count): each group of the labels 1 .. n - 1 joined by the pairs
    (none of them 0) numbered 1 .. count in the order of its smallest label;
    table[0] is 0."""
    count, table = groups(n, pairs)
    return table, count - 1


def join_pairs(labels, pairs):
    """labels (1 .. n, 0 for none) with each group of joined labels under its
    smallest label's place in 1, 2, ...; 0 stays 0."""
    if not len(pairs):
        return labels
    return join_table(int(labels.max()) + 1, pairs)[0][labels]


class LabelBook:
    """Labels of the run (1 .. n) that stitching found to be one region,
    joined as the tiles are kept."""

    def __init__(self):
        self.forest = LabelForest(1024)

    def add_pairs(self, pairs):
        pairs = np.asarray(pairs, np.int64).reshape(-1, 2)
        if len(pairs):
            self.forest.grow(int(pairs.max()) + 1)
            self.forest.join(pairs)

    def final_labels(self, n_labels):
        """(join_table of the labels 1 .. n_labels and the pairs found,
        number of regions)."""
        self.forest.grow(n_labels + 1)
        self.forest.parent = self.forest.parent[: n_labels + 1]
        groups, count = self.forest.numbered()
        return groups, count - 1
