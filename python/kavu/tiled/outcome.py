"""What keeping needs of a segmented window, and nothing more: the owned
pixels cut into connected parts, each part's area and band sums, and the
window's labels along the tile's borders. It is computed where the window was
segmented (a thread of the run, or a worker of a Dask cluster) and is all that
comes back from there, so the window itself never travels."""

from typing import NamedTuple

import numpy as np

from .connected_parts import connected_parts
from .small_regions import region_sums
from .stitching import WindowEdges, window_edges


class WindowOutcome(NamedTuple):
    parts: np.ndarray  # uint32 over the owned pixels: parts 1 .. count, 0 where none takes part
    count: int
    area: np.ndarray  # float64 (count,): pixels of the parts 1 .. count
    sums: np.ndarray  # float64 (nbands, count): their band sums
    edges: WindowEdges


def window_outcome(tile, local, pixels, connectivity):
    """The WindowOutcome of a tile whose window `pixels` (window.WindowPixels)
    was segmented into the local labels `local`."""
    parts = connected_parts(local[tile.owned], connectivity)
    count = int(parts.max())
    area, sums = region_sums(pixels.owned(tile), parts, count + 1)
    return WindowOutcome(parts, count, area[1:], sums[:, 1:], window_edges(tile, local))
