"""The stages that segment one tile's window, each a function of its inputs
alone (so that windows can be read, segmented and stitched by different
workers): read the pixels, flood the levels into watershed basins, merge the
basins by the lambda schedule, absorb the specks. Labels returned are local
to the window: 1, 2, ... with 0 for pixels that take no part."""

from typing import NamedTuple, Optional

import numpy as np

from ..binding import routines
from ..binding.small_regions import absorb_small_regions
from .levels import gradient_magnitude, interior_valid
from .relabel import join_pairs


class Frame:
    """The pixels read around a window: two of bands (the gradient of the
    watershed's frame pixel needs one more) and one of the mask (the frame
    pixel itself, the watershed's border)."""

    BANDS = 2
    MASK = 1

    @staticmethod
    def inner(array, frame):
        """array (..., h, w) without `frame` pixels on every side."""
        return array[..., frame:-frame, frame:-frame]


class WindowPixels(NamedTuple):
    block: np.ndarray  # float32 bands, the window plus Frame.BANDS on every side
    mask: Optional[np.ndarray]  # uint8, the window plus Frame.MASK (the watershed's frame)

    def image(self):
        """The window's own bands (no frame), contiguous."""
        return np.ascontiguousarray(Frame.inner(self.block, Frame.BANDS))

    def owned(self, tile):
        """The bands of the tile's owned pixels (tile.owned is window-relative)."""
        return self.block[
            (slice(None),)
            + tuple(slice(s.start + Frame.BANDS, s.stop + Frame.BANDS) for s in tile.owned)
        ]


class Flooded(NamedTuple):
    """A window flooded: its bands, basins, the mask of the pixels that take
    part (None: all) and the basin pairs that meet at level 0."""

    image: np.ndarray
    basins: np.ndarray
    mask: Optional[np.ndarray]
    level0: np.ndarray


def with_finite(mask, bands):
    """The mask with pixels that are NaN or infinite in some band left out
    (None when there is no mask and every value is finite)."""
    finite = np.isfinite(bands).all(axis=0)
    if finite.all():
        return mask
    finite = finite.view(np.uint8)
    return finite if mask is None else mask & finite


def read_window(source, tile):
    b, m = Frame.BANDS, Frame.MASK
    block = source.bands(tile.wy0 - b, tile.wy1 + b, tile.wx0 - b, tile.wx1 + b)
    mask = source.mask(tile.wy0 - m, tile.wy1 + m, tile.wx0 - m, tile.wx1 + m)
    return WindowPixels(block, with_finite(mask, Frame.inner(block, b - m)))


def read_scale_block(source, tile):
    """A tile's owned pixels and one more on every side, for the scale pass."""
    y0, y1, x0, x1 = tile.y0, tile.y1, tile.x0, tile.x1
    block = source.bands(y0 - 1, y1 + 1, x0 - 1, x1 + 1)
    mask = source.mask(y0 - 1, y1 + 1, x0 - 1, x1 + 1, outside="edge")
    return WindowPixels(block, with_finite(mask, block))


def observe_scale(pixels, quantiser, spread):
    """The first pass over a tile's owned pixels (read_scale_block): the
    largest gradient for the levels' scale and the band statistics for the
    default lambda."""
    block, mask = pixels
    quantiser.observe(gradient_magnitude(block), None if mask is None else interior_valid(mask))
    spread.observe(block[:, 1:-1, 1:-1], None if mask is None else mask[1:-1, 1:-1])


def flood(pixels, quantiser, connectivity, merge_lines):
    """The window flooded into watershed basins (Flooded). The frame pixel
    around the window is only the watershed's border and is dropped."""
    levels = quantiser.levels(gradient_magnitude(pixels.block))
    m = Frame.MASK
    bands = np.ascontiguousarray(Frame.inner(pixels.block, Frame.BANDS - m))
    ws = routines.watershed(
        levels, bands, connectivity=connectivity, long=True, merge_bd=merge_lines, mask=pixels.mask
    )
    labels = np.ascontiguousarray(Frame.inner(ws.labels, m))
    mask = None if pixels.mask is None else np.ascontiguousarray(Frame.inner(pixels.mask, m))
    if not merge_lines:  # watershed lines stay 0 and take no part
        lines_out = (labels != 0).view(np.uint8)
        mask = lines_out if mask is None else mask & lines_out
    return Flooded(pixels.image(), labels, mask, ws.merge_list)


def merge(image, basins, mask, lambda_threshold):
    """Lambda-schedule merging of the basins up to the threshold. Without
    share files the routine does not renumber its input: `basins` is lent,
    not copied, and comes back unchanged."""
    out = routines.tile_lambda_segment(
        image,
        in_label_img=basins,
        in_place=True,
        lambda_threshold=lambda_threshold,
        start_lbl=1,
        mask=mask,
    ).labels
    if mask is not None:
        out[mask == 0] = 0  # never written by the merging
    return out


def basin_pairs_as_regions(pairs, basins, regions):
    """Basin pairs (meeting at level 0) as pairs of the regions that hold them;
    basins on no merged pixel, and pairs already in one region, drop out."""
    keys, values = basins.ravel(), regions.ravel()
    order = np.argsort(keys, kind="stable")
    keys, values = keys[order], values[order]
    pos = np.minimum(np.searchsorted(keys, pairs), len(keys) - 1)
    mapped = np.where(keys[pos] == pairs, values[pos], 0).reshape(-1, 2)
    return mapped[(mapped[:, 0] != 0) & (mapped[:, 1] != 0) & (mapped[:, 0] != mapped[:, 1])]


def segment_window(pixels, quantiser, options):
    """Local labels of the window: levels, watershed, merging, specks."""
    image, basins, mask, pairs = flood(pixels, quantiser, options.connectivity, options.merge_lines)
    regions = merge(image, basins, mask, options.lambda_threshold)
    if pairs.size:
        regions = join_pairs(regions, basin_pairs_as_regions(pairs, basins, regions))
    if options.min_size > 1:
        regions = absorb_small_regions(image, regions, options.min_size)
    return regions
