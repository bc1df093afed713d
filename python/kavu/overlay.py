"""`kavu overlay` and `kavu stats`: looking at a label raster against its
image. The overlay is a percentile-stretched RGB composite with the region
boundaries drawn on it (decimated when the raster is large); the statistics
are each region's area and band means, accumulated strip by strip."""

import csv
import sys

import numpy as np
from rasterio.enums import Resampling
from rasterio.errors import RasterioError, RasterioIOError
from rasterio.windows import Window

from . import _routines as routines
from .exits import EXIT_INPUT, EXIT_USAGE, CliError
from .raster_io import (OUT_BLOCK, AtomicOutput, gdal_env, open_raster, parse_bands, size_text,
                        write_error)

BOUNDARY_RGB = (255, 255, 0)


def _same_grid(ds, labels_ds):
    if (labels_ds.height, labels_ds.width) != (ds.height, ds.width):
        raise CliError(f"{labels_ds.name}: labels of {size_text(labels_ds)} for an image of "
                       f"{size_text(ds)}", EXIT_USAGE)


def stretch(band, valid, percent):
    """Linear stretch of one band to 0..255 between its percent and
    100 - percent percentiles over the valid pixels."""
    values = band[valid]
    if not values.size:
        return np.zeros(band.shape, np.uint8)
    lo, hi = np.percentile(values, [percent, 100 - percent])
    scale = 255.0 / (hi - lo) if hi > lo else 0.0
    return np.clip((band - lo) * scale, 0, 255).astype(np.uint8)


def write_overlay(in_path, labels_path, out_path, bands=None, percent=2.0, max_size=4096):
    if not 0 <= percent < 50:
        raise CliError(f"--stretch {percent}: needs to be at least 0 and below 50", EXIT_USAGE)
    with gdal_env():
        ds, labels_ds = open_raster(in_path), open_raster(labels_path, "labels")
        with ds, labels_ds:
            _same_grid(ds, labels_ds)
            default = "1,2,3" if ds.count >= 3 else "1"
            chosen = parse_bands(bands or default, ds.count)
            if len(chosen) not in (1, 3):
                raise CliError(f"--bands {bands}: give three bands (red, green, blue) or one",
                               EXIT_USAGE)
            factor = max(1, -(-max(ds.height, ds.width) // max_size))
            shape = (-(-ds.height // factor), -(-ds.width // factor))
            try:
                image = ds.read(chosen, out_shape=(len(chosen),) + shape,
                                resampling=Resampling.nearest)
                valid = ds.read_masks(chosen, out_shape=(len(chosen),) + shape).all(axis=0)
                labels = labels_ds.read(1, out_shape=shape, resampling=Resampling.nearest)
            except (RasterioError, RasterioIOError) as e:
                raise CliError(f"cannot read {in_path}: {e}", EXIT_INPUT) from None
    rgb = np.stack([stretch(b.astype(np.float64), valid, percent) for b in image], axis=-1)
    if rgb.shape[-1] == 1:
        rgb = np.repeat(rgb, 3, axis=-1)
    boundary = routines.create_bound_from_label(labels.astype(np.uint32)).boundary != 0
    rgb[boundary] = BOUNDARY_RGB
    _save_png(out_path, rgb)


def _save_png(out_path, rgb):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    with AtomicOutput(out_path) as work:
        try:
            plt.imsave(work.path, rgb, format="png")
        except OSError as e:
            raise write_error(out_path, e) from None
        work.commit()


def region_stats(ds, labels_ds, bands):
    """(labels, areas, means (nregions, nbands)) of every non-zero label,
    accumulated over strips of the rasters."""
    area = np.zeros(1, np.int64)
    sums = np.zeros((len(bands), 1), np.float64)
    for y0 in range(0, ds.height, OUT_BLOCK):
        window = Window(0, y0, ds.width, min(OUT_BLOCK, ds.height - y0))
        try:
            labels = labels_ds.read(1, window=window).astype(np.uint32)
            image = ds.read(bands, window=window, out_dtype=np.float32)
        except (RasterioError, RasterioIOError) as e:
            raise CliError(f"cannot read {ds.name}: {e}", EXIT_INPUT) from None
        info = routines.compute_reg_info(labels, image)
        n = info.max_lbl + 1
        if n > len(area):
            area = np.pad(area, (0, n - len(area)))
            sums = np.pad(sums, ((0, 0), (0, n - sums.shape[1])))
        area[:n] += info.regarea
        sums[:, :n] += info.regsum
    present = np.flatnonzero(area[1:]) + 1
    return present, area[present], (sums[:, present] / area[present]).T


def write_stats(in_path, labels_path, out_path=None, bands=None):
    with gdal_env():
        ds, labels_ds = open_raster(in_path), open_raster(labels_path, "labels")
        with ds, labels_ds:
            _same_grid(ds, labels_ds)
            chosen = parse_bands(bands, ds.count)
            labels, areas, means = region_stats(ds, labels_ds, chosen)
    if out_path is None or out_path == "-":
        _write_csv(sys.stdout, chosen, labels, areas, means)
        return
    with AtomicOutput(out_path) as work:
        try:
            with open(work.path, "w", encoding="utf-8") as f:
                _write_csv(f, chosen, labels, areas, means)
        except OSError as e:
            raise write_error(out_path, e) from None
        work.commit()


def _write_csv(f, bands, labels, areas, means):
    writer = csv.writer(f, lineterminator="\n")
    writer.writerow(["label", "area"] + [f"mean_b{b}" for b in bands])
    for label, a, m in zip(labels, areas, means):
        writer.writerow([int(label), int(a)] + [f"{v:.6g}" for v in m])
