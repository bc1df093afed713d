"""The stability margin: the pixels of context a window adds around its tile.

Lambda-schedule merging depends on the order of merges; a region near a tile
border merges as in one piece only if the window sees enough around it, and
what is enough grows with the regions at the run's lambda. The margin is
MARGIN_PER_REGION_WIDTH times the width of a typical pixel's region (the
square root of its area, from the run's sample windows or one probe window),
between SMALLEST_MARGIN and half the tile.

Measured (ARI against one piece, 256-pixel tiles, 1024 x 1024 crops of the
synthetic field and of the astronaut mosaic, at wanted region counts): regions
of mean width 17 need 64 pixels (0.999 and 0.993; 32 gave 0.963), width 45
needs 128 (0.999; 64 gave 0.933), width 89 needs 192 (0.995; 128 gave 0.919).
Photographs hold a few large regions beside many small ones (coffee at a mean
width of 7 needed 128 for 0.999): the width that counts is that of the region
a typical pixel lies in, not the mean. At 1024-pixel tiles on 2048 x 2048
images, twice that width kept the ARI at 0.996 to 1.000 from the default
lambda to one region per 2,000 pixels, and lifted 20 regions from 0.78 and
0.92 to 0.90 and 1.00."""

import math

from .geometry import Tile
from .lambdas import SAMPLE_SIDE, sample_window

MARGIN_PER_REGION_WIDTH = 2
SMALLEST_MARGIN = 32
MARGIN_STEP = 16  # margins are rounded up to this


def largest_margin(tile):
    """A window's side stays within twice its tile's (memory follows the
    window); small tiles may always have 64."""
    return max(64, tile // 2)


def margin_for(tile, typical_area):
    """The margin for a tile size and the area of a typical pixel's region
    (None: unknown, the largest)."""
    if typical_area is None:
        return largest_margin(tile)
    wanted = MARGIN_STEP * math.ceil(
        MARGIN_PER_REGION_WIDTH * math.sqrt(typical_area) / MARGIN_STEP
    )
    return min(max(wanted, SMALLEST_MARGIN), largest_margin(tile))


def typical_area(windows, threshold, min_size):
    """The area of a typical pixel's region in the sample windows at the
    threshold (None without pixels)."""
    pixels, area = 0.0, 0.0
    for w in windows:
        p, a = w.pixels_and_area(threshold, min_size)
        pixels, area = pixels + p, area + a
    return area / pixels if pixels else None


def probe_windows(source, quantiser, connectivity, merge_lines):
    """One sample window at the image's centre: what a run without sample
    windows of its own measures its regions on."""
    side = SAMPLE_SIDE
    h, w = min(side, source.height), min(side, source.width)
    y0, x0 = (source.height - h) // 2, (source.width - w) // 2
    edge = side // 8
    tile = Tile(
        0,
        0,
        0,
        y0 + edge * (y0 > 0),
        y0 + h - edge * (y0 + h < source.height),
        x0 + edge * (x0 > 0),
        x0 + w - edge * (x0 + w < source.width),
        y0,
        y0 + h,
        x0,
        x0 + w,
    )
    window = sample_window(source, tile, quantiser, connectivity, merge_lines)
    return [] if window is None else [window]
