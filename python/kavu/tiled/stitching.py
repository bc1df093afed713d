"""Stitching: which regions of neighbouring tiles are one region.

Every tile keeps only its owned pixels, numbered with labels of its own, but
its window reaches past each border (geometry.py), so both tiles at a border
have segmented the two pixels on either side of it, p (last owned pixel of
the earlier tile) and q (first owned pixel of the later one). Where both
windows put p and q in one region, the regions that hold p and q in the
kept result are joined. Asking both windows keeps one window's odd merge from
chaining regions together; asking only the owned labels (which meet at the
border by construction) would keep the border as a seam."""

from typing import NamedTuple, Optional, Tuple

import numpy as np


class BorderLine:
    """What a tile leaves for the tile after a border: its window's labels of
    p and q and its kept labels of p, along the border."""

    __slots__ = ("window_p", "window_q", "kept_p")

    def __init__(self, window_p, window_q, kept_p):
        self.window_p, self.window_q, self.kept_p = window_p, window_q, kept_p


def joined_pairs(earlier, window_p, window_q, kept_q):
    """Kept-label pairs (earlier tile, later tile) that both windows join."""
    agree = (earlier.window_p == earlier.window_q) & (window_p == window_q)
    agree &= (earlier.kept_p != 0) & (kept_q != 0)
    return np.stack([earlier.kept_p[agree], kept_q[agree]], axis=1)


class WindowEdges(NamedTuple):
    """The window's labels on either side of each border of the tile, as
    (outside, inside) line pairs (None where no tile lies beyond): all that
    stitching needs of a window, small enough to come back from a worker
    (Dask may hand it back as a plain tuple: Stitcher takes either)."""

    top: Optional[Tuple[np.ndarray, np.ndarray]]
    left: Optional[Tuple[np.ndarray, np.ndarray]]
    bottom: Optional[Tuple[np.ndarray, np.ndarray]]  # (last owned row, the row past it)
    right: Optional[Tuple[np.ndarray, np.ndarray]]


def window_edges(tile, local):
    """WindowEdges of a window's labels `local` (copies: the window can go)."""
    (ry, ry1), (rx, rx1) = ((s.start, s.stop) for s in tile.owned)
    rows, cols = slice(ry, ry1), slice(rx, rx1)
    return WindowEdges(
        (local[ry - 1, cols].copy(), local[ry, cols].copy()) if tile.row > 0 else None,
        (local[rows, rx - 1].copy(), local[rows, rx].copy()) if tile.col > 0 else None,
        (local[ry1 - 1, cols].copy(), local[ry1, cols].copy()) if tile.y1 < tile.wy1 else None,
        (local[rows, rx1 - 1].copy(), local[rows, rx1].copy()) if tile.x1 < tile.wx1 else None,
    )


class Stitcher:
    """Border lines of the tile to the left and of the tile row above (across
    the image's width), handed from tile to tile in grid order."""

    def __init__(self, width):
        self.width = width
        self.above = None
        self.below = self._row()
        self.left = None

    def _row(self):
        return BorderLine(*(np.zeros(self.width, np.uint32) for _ in range(3)))

    def pairs(self, tile, local, kept):
        """Pairs of kept labels joined across the tile's top and left borders.
        local: the window's labels or their WindowEdges; kept: the owned
        pixels' kept labels."""
        edges = window_edges(tile, local) if isinstance(local, np.ndarray) else local
        found = []
        if tile.row > 0:
            a = self.above
            xs = slice(tile.x0, tile.x1)
            earlier = BorderLine(a.window_p[xs], a.window_q[xs], a.kept_p[xs])
            found.append(joined_pairs(earlier, *edges.top, kept[0]))
        if tile.col > 0:
            found.append(joined_pairs(self.left, *edges.left, kept[:, 0]))
        return found

    def keep(self, tile, local, kept):
        """Lines for the tiles below and to the right of this one."""
        edges = window_edges(tile, local) if isinstance(local, np.ndarray) else local
        if tile.y1 < tile.wy1:  # a tile row follows
            xs = slice(tile.x0, tile.x1)
            self.below.window_p[xs], self.below.window_q[xs] = edges.bottom
            self.below.kept_p[xs] = kept[-1]
        if tile.x1 < tile.wx1:  # a tile follows in the row
            self.left = BorderLine(*edges.right, kept[:, -1].copy())
        else:
            self.above, self.below, self.left = self.below, self._row(), None
