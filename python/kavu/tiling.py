"""Tile geometry of the tiled segmentation: which pixels each tile owns and
which window around them its watershed floods.

Tiles are visited row by row, left to right. A tile owns rows [y0, y1) and
columns [x0, x1); the last tile of a row or column may be as narrow as one
pixel. Its watershed window adds one pixel on every side:

        x0-1  x0 ...... x1-1  x1
    y0-1  c    t  t  t  t  t   .      c, t, l: labelled by earlier tiles; their
    y0    l    #  #  #  #  #   f      watershed labels seed this tile's flooding
    ..    l    #  #  #  #  #   f      (margins), their output labels tie this
    y1-1  l    #  #  #  #  #   f      tile's regions to the earlier ones
    y1    .    f  f  f  f  f   f      #: owned, written by this tile
                                      f: owned by later tiles; here only the
                                      watershed's frame, never flooded or kept

Row y0-1 and column x0-1 thus overlap the tiles above and to the left by one
pixel, and every owned pixel is inside the window's frame. Outside the image
the window is padding (frame too), so a tile as small as 1 x 1 still has the
3 x 3 window the watershed needs, and border pixels of the image are flooded
like any other.
"""

from typing import NamedTuple


class Tile(NamedTuple):
    index: int
    row: int        # tile row and column in the grid
    col: int
    y0: int         # owned rows [y0, y1), columns [x0, x1)
    y1: int
    x0: int
    x1: int

    @property
    def height(self):
        return self.y1 - self.y0

    @property
    def width(self):
        return self.x1 - self.x0

    @property
    def overlap_y(self):
        """1 when the tile overlaps the row above (not in the first tile row)."""
        return int(self.row > 0)

    @property
    def overlap_x(self):
        return int(self.col > 0)

    @property
    def window(self):
        """Rows and columns (start, stop) of the watershed window."""
        return (self.y0 - 1, self.y1 + 1), (self.x0 - 1, self.x1 + 1)


def spans(size, step):
    return [(start, min(start + step, size)) for start in range(0, size, step)]


def grid(height, width, tile_rows, tile_cols):
    """The tiles of an image in processing order."""
    rows, cols = spans(height, tile_rows), spans(width, tile_cols)
    return [Tile(r * len(cols) + c, r, c, y0, y1, x0, x1)
            for r, (y0, y1) in enumerate(rows) for c, (x0, x1) in enumerate(cols)]
