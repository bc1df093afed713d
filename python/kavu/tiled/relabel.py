"""Labels that must become one region: within a window (basins that meet at
level 0, specks and their hosts) and across tiles (stitching)."""

import numpy as np
from scipy.sparse import coo_matrix
from scipy.sparse.csgraph import connected_components


def groups(n, pairs):
    """Group number of each of the labels 0 .. n - 1 joined by the pairs
    (an (k, 2) integer array)."""
    if not len(pairs):
        return n, np.arange(n)
    edges = coo_matrix((np.ones(len(pairs), np.int8), (pairs[:, 0], pairs[:, 1])), shape=(n, n))
    return connected_components(edges, directed=False)


def join_table(n, pairs):
    """(table, count): each group of the labels 1 .. n - 1 joined by the pairs
    numbered 1 .. count in the order of its smallest label; table[0] is 0."""
    n_groups, group = groups(n, np.asarray(pairs, np.int64).reshape(-1, 2))
    used, first = np.unique(group[1:], return_index=True)
    rank = np.zeros(n_groups, np.int64)
    rank[used[np.argsort(first)]] = np.arange(1, len(used) + 1)
    table = rank[group].astype(np.uint32)
    table[0] = 0
    return table, len(used)


def join_pairs(labels, pairs):
    """labels (1 .. n, 0 for none) with each group of joined labels under its
    smallest label's place in 1, 2, ...; 0 stays 0."""
    if not len(pairs):
        return labels
    return join_table(int(labels.max()) + 1, pairs)[0][labels]


class LabelBook:
    """Pairs of the tiles' labels (1 .. n) that stitching found to be one region."""

    def __init__(self):
        self.pairs = []

    def add_pairs(self, pairs):
        if len(pairs):
            self.pairs.append(np.asarray(pairs, np.int64).reshape(-1, 2))

    def final_labels(self, n_labels):
        """(join_table of the labels 1 .. n_labels and the pairs found,
        number of regions)."""
        pairs = np.concatenate(self.pairs) if self.pairs else np.zeros((0, 2), np.int64)
        return join_table(n_labels + 1, pairs)
