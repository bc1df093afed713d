"""The window's last step in C++: regions under a minimum size joined to
their cheapest neighbours (the rule of kavu.tiled.small_regions)."""

import numpy as np

from .. import _kavu


def absorb_small_regions(bands, labels, min_size):
    """labels (1 .. n, 0 for none) with every region under min_size pixels
    that has a neighbour joined to it, round after round; the result is
    numbered 1, 2, ... in the order of each group's smallest label. bands:
    (nbands, h, w) the pixels the costs are taken from."""
    out = np.array(labels, dtype=np.uint32, order="C")
    _kavu.absorb_small_regions(np.ascontiguousarray(bands, dtype=np.float32), out, float(min_size))
    return out
