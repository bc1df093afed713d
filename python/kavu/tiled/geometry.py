"""Tile geometry of the tiled segmentation: which pixels each tile owns and
which window around them it segments.

Tiles are visited row by row, left to right. A tile owns rows [y0, y1) and
columns [x0, x1). Its window adds a stability margin of `margin` pixels on
every side (clipped to the image): the tile is segmented with that much of its
neighbours in view, and only the owned pixels are kept. A region that meets
the tile's border is thus shaped by the pixels on both sides of it, as in one
piece, instead of ending at the border; the windows of two neighbouring tiles
both see the pixels on either side of their common border, which is what
stitching compares (stitching.py here).

    +-------------------------+   window: y0 - margin .. y1 + margin
    |   +-----------------+   |
    |   |  owned pixels   |   |   margin: segmented, not kept
    |   +-----------------+   |
    +-------------------------+
"""

from typing import NamedTuple

SMALLEST_TILE = 8  # the watershed needs a 3 x 3 level image; below 8 a run is mostly margin


class Tile(NamedTuple):
    index: int
    row: int  # tile row and column in the grid
    col: int
    y0: int  # owned rows [y0, y1), columns [x0, x1)
    y1: int
    x0: int
    x1: int
    wy0: int  # window rows [wy0, wy1), columns [wx0, wx1)
    wy1: int
    wx0: int
    wx1: int

    @property
    def owned(self):
        """The owned pixels as slices of the window."""
        return (
            slice(self.y0 - self.wy0, self.y1 - self.wy0),
            slice(self.x0 - self.wx0, self.x1 - self.wx0),
        )


def spans(size, step):
    return [(start, min(start + step, size)) for start in range(0, size, step)]


def grid(height, width, tile, margin):
    """The tiles of an image in processing order."""
    rows, cols = spans(height, tile), spans(width, tile)
    return [
        Tile(
            r * len(cols) + c,
            r,
            c,
            y0,
            y1,
            x0,
            x1,
            max(y0 - margin, 0),
            min(y1 + margin, height),
            max(x0 - margin, 0),
            min(x1 + margin, width),
        )
        for r, (y0, y1) in enumerate(rows)
        for c, (x0, x1) in enumerate(cols)
    ]
