"""`kavu.segment`: the tiled segmentation of a numpy image, in scikit-image's
conventions (channels last by default, labels from 1 with 0 for masked
pixels), giving what `kavu segment` gives for the same pixels."""

from typing import Optional

import numpy as np
import numpy.typing as npt

from .tiled.run import DEFAULT_MIN_SIZE, DEFAULT_TILE, SegmentOptions, run_segmentation
from .tiled.label_stores import LabelArray
from .tiled.array_source import ArraySource
from .tiled.cluster import WindowTasks, connected


def _bands(image, channel_axis):
    image = np.asarray(image)
    if np.iscomplexobj(image):  # cast to float32, numpy would keep only the real part
        raise ValueError(
            f"image of {image.dtype}: complex bands cannot be segmented; "
            "take the modulus or a part first"
        )
    if image.ndim == 2:
        if channel_axis not in (None, -1):
            raise ValueError(f"channel_axis {channel_axis}: a 2-D image has no channel axis")
        return image[None].astype(np.float32)
    if image.ndim != 3:
        raise ValueError(
            f"image of {image.ndim} dimensions: needs (rows, cols) or "
            "(rows, cols, channels) with channel_axis naming the channels"
        )
    if channel_axis is None:
        raise ValueError("a 3-D image needs channel_axis (the axis of its channels)")
    return np.ascontiguousarray(np.moveaxis(image, channel_axis, 0), np.float32)


def _mask(mask, shape):
    if mask is None:
        return None
    mask = np.asarray(mask)
    if mask.shape != shape:
        raise ValueError(f"mask of shape {mask.shape}: needs the image's shape {shape}")
    return np.ascontiguousarray(mask != 0).view(np.uint8)


def segment(
    image: npt.ArrayLike,
    lambda_threshold: Optional[float] = None,
    *,
    channel_axis: Optional[int] = -1,
    mask: Optional[npt.ArrayLike] = None,
    regions: Optional[int] = None,
    mean_area: Optional[float] = None,
    min_size: int = DEFAULT_MIN_SIZE,
    tile: int = DEFAULT_TILE,
    connectivity: int = 4,
    start_label: int = 1,
    levels: str = "floored",
    client=None,
) -> npt.NDArray[np.uint32]:
    """Segments an image into regions: watershed basins of its gradient,
    merged cheapest first while the merge cost stays below lambda, specks
    absorbed, tile by tile as `kavu segment` does.

    image: (rows, cols), or (rows, cols, channels) with the channels on
        channel_axis (default last); any real dtype.
    lambda_threshold: merge two neighbouring regions A and B while the
        cheapest cost |A||B|/(|A|+|B|) * |mean A - mean B|^2 / (common
        boundary length) is below it. Default: a tenth of the summed band
        variances, unless regions or mean_area is given.
    mask: (rows, cols), non-zero where pixels take part; other pixels get 0.
        NaN and infinite pixels never take part either.
    regions, mean_area: choose lambda for about this many regions, or regions
        of about this many pixels on average (give one of the three).
    min_size: regions smaller than this many pixels join the neighbour that
        is cheapest to merge with (0 or 1: none do).
    tile: tile size in pixels; memory follows it.
    start_label: the first label (as in skimage.segmentation.slic).
    levels: "floored" (default): gradients below the image's median count as
        flat, so smooth areas start as one piece; "sobel": the plain gradient,
        as before this choice existed (smooth areas in more, smaller pieces).
    client: a distributed.Client, or a Dask scheduler's address, whose
        workers segment the windows (each sent with its task); the labels
        are the same as without.

    Returns (rows, cols) uint32 labels start_label .. start_label + N - 1,
    0 only where no pixel takes part. Raises ValueError for arguments out of range.
    """
    bands = _bands(image, channel_axis)
    height, width = bands.shape[1:]
    source = ArraySource(bands, _mask(mask, (height, width)))
    store = LabelArray(height, width)
    options = SegmentOptions(
        lambda_threshold=lambda_threshold,
        regions=regions,
        mean_area=mean_area,
        min_size=min_size,
        tile=tile,
        connectivity=connectivity,
        start_label=start_label,
        levels=levels,
    )
    with connected(client) as own:
        cluster = None if own is None else WindowTasks(own)
        result = run_segmentation(source, store, options, cluster=cluster)
    return result.table[store.labels]
