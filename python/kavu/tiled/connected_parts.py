"""Every kept label one connected region.

A window region may reach its tile's owned pixels in several parts that meet
only in the margin; cut to the owned pixels, those parts must not share a
label, or the output holds a label of two pieces that touch nowhere (and
every area and centroid of it is wrong). The module's multilevel labelling
finds the 4-connected parts; under 8-connectivity, parts of one region that
touch at a corner are one part again."""

import numpy as np

from ..binding import routines
from .relabel import join_pairs


def _corner_pairs(labels, parts):
    """Part pairs of one label that touch diagonally only."""
    found = []
    for a, b in (
        ((slice(None, -1), slice(None, -1)), (slice(1, None), slice(1, None))),
        ((slice(None, -1), slice(1, None)), (slice(1, None), slice(None, -1))),
    ):
        same = (labels[a] == labels[b]) & (parts[a] != parts[b])
        found.append(np.stack([parts[a][same], parts[b][same]], axis=1))
    return np.concatenate(found).astype(np.int64)


def connected_parts(labels, connectivity):
    """Parts 1 .. n of the labels' pixels, each one connected set of one
    label, ordered by label and then by the raster order of the part's first
    pixel, so that a label of one part keeps its rank among the labels;
    pixels of label 0 are part 0."""
    _, parts = routines.multilevel_label_region(labels)
    if connectivity == 8:
        parts = join_pairs(parts, _corner_pairs(labels, parts))
    label_of = np.zeros(int(parts.max()) + 1, labels.dtype)
    label_of[parts.ravel()] = labels.ravel()
    order = np.argsort(label_of, kind="stable")
    order = order[label_of[order] != 0]
    rank = np.zeros(len(label_of), np.uint32)
    rank[order] = np.arange(1, len(order) + 1, dtype=np.uint32)
    return rank[parts]
