"""`kavu overlay` and `kavu stats`: looking at a label raster against its
image. The overlay is a percentile-stretched RGB composite with the region
boundaries drawn on it (decimated when the raster is large); the statistics
are each region's area and band means, summed in float64 from the bands' own
values strip by strip over the labels each strip holds, so that label values
of any size cost no more than the regions present."""

import csv
import sys
from contextlib import contextmanager

import numpy as np
from rasterio.enums import Resampling
from rasterio.errors import RasterioError, RasterioIOError
from rasterio.windows import Window

from ..binding import routines
from ..errors import ArgumentError, InputError, NotLabels, OptionError
from .io import OUT_BLOCK, AtomicOutput, gdal_env, open_raster, parse_bands, size_text, write_error

BOUNDARY_RGB = (255, 255, 0)


def _same_grid(ds, labels_ds):
    if (labels_ds.height, labels_ds.width) != (ds.height, ds.width):
        raise ArgumentError(
            f"{labels_ds.name}: labels of {size_text(labels_ds)} for an image "
            f"of {size_text(ds)}"
        )


def _check_label_raster(labels_ds):
    kind = np.dtype(labels_ds.dtypes[0]).kind
    if labels_ds.count != 1 or kind not in "iu":
        raise NotLabels(
            "labels_path", labels_ds.name, f"has {labels_ds.count} band(s) of {labels_ds.dtypes[0]}"
        )


@contextmanager
def image_and_labels(in_path, labels_path, check_grid=_same_grid):
    """The image and its label raster, open, the labels checked to be labels
    and to lie on the image's grid (check_grid)."""
    with gdal_env():
        ds, labels_ds = open_raster(in_path), open_raster(labels_path, "labels")
        with ds, labels_ds:
            _check_label_raster(labels_ds)
            check_grid(ds, labels_ds)
            yield ds, labels_ds


def stretch(band, valid, percent):
    """Linear stretch of one band to 0..255 between its percent and
    100 - percent percentiles over the valid pixels with finite values; the
    others are black."""
    valid = valid & np.isfinite(band)
    values = band[valid]
    out = np.zeros(band.shape, np.uint8)
    if values.size:
        lo, hi = np.percentile(values, [percent, 100 - percent])
        scale = 255.0 / (hi - lo) if hi > lo else 0.0
        out[valid] = np.clip((values - lo) * scale, 0, 255)
    return out


def write_overlay(in_path, labels_path, out_path, bands=None, percent=2.0, max_size=4096):
    if not 0 <= percent < 50:
        raise OptionError("percent", percent, "needs to be at least 0 and below 50")
    with image_and_labels(in_path, labels_path) as (ds, labels_ds):
        default = "1,2,3" if ds.count >= 3 else "1"
        chosen = parse_bands(bands or default, ds)
        if len(chosen) not in (1, 3):
            raise OptionError("bands", bands, "give three bands (red, green, blue) or one")
        factor = max(1, -(-max(ds.height, ds.width) // max_size))
        shape = (-(-ds.height // factor), -(-ds.width // factor))
        try:
            image = ds.read(chosen, out_shape=(len(chosen),) + shape, resampling=Resampling.nearest)
            valid = ds.read_masks(chosen, out_shape=(len(chosen),) + shape).all(axis=0)
            labels = labels_ds.read(1, out_shape=shape, resampling=Resampling.nearest)
        except (RasterioError, RasterioIOError) as e:
            raise InputError(f"cannot read {in_path}: {e}", in_path) from None
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


def _strip_sums(labels, image):
    """(labels present, their areas, their float64 band sums) of one strip.
    Labels index the tables directly while those stay within a few entries
    per pixel; larger ones are numbered 0 .. k first."""
    present = None
    if int(labels.max(initial=0)) < 4 * labels.size:
        labels = labels.ravel().astype(np.intp)
    else:
        present, labels = np.unique(labels, return_inverse=True)
    area = np.bincount(labels)
    sums = np.array([np.bincount(labels, band.ravel(), len(area)) for band in image])
    if present is None:
        present = np.flatnonzero(area)
        return present, area[present], sums[:, present]
    return present, area, sums


def _strip_spread(labels, image, present, area, sums):
    """(sums of squared deviations from each label's mean in the strip,
    minima, maxima), each (nbands, len(present)), of the labels present in
    one strip (as _strip_sums gives them). One stable sort of the strip's
    labels groups every band's values by label in pixel order."""
    flat = labels.ravel()
    order = np.argsort(flat, kind="stable")
    starts = np.concatenate(([0], np.cumsum(area[:-1]))).astype(np.intp)
    means = sums / area
    spread = np.empty((3,) + sums.shape)
    for b, band in enumerate(image):
        values = band.ravel()[order].astype(np.float64)
        deviation = values - np.repeat(means[b], area)
        spread[0, b] = np.add.reduceat(deviation * deviation, starts)
        spread[1, b] = np.minimum.reduceat(values, starts)
        spread[2, b] = np.maximum.reduceat(values, starts)
    return spread


class RegionStats:
    """Per region (labels ascending, 0 and regions without a valid pixel left
    out): areas in pixels and band means, (nregions, nbands); with
    spread, also the bands' standard deviations, minima and maxima."""

    def __init__(self, labels, areas, means, stds=None, mins=None, maxs=None):
        self.labels, self.areas, self.means = labels, areas, means
        self.stds, self.mins, self.maxs = stds, mins, maxs


def region_stats(ds, labels_ds, bands, spread=False, within=None):
    """RegionStats of every non-zero label (only those from within[0] to
    within[1] if given, so that a caller holds a part of the regions at a
    time), accumulated over strips of the rasters. Pixels that are NaN or
    infinite in a band count for no region.
    The spread is combined over strips from each strip's own deviations
    (Chan, Golub and LeVeque), which keeps float64's precision where the
    values are large against their spread."""
    found = []  # (labels, areas, sums[, spread]) of each strip
    for y0 in range(0, ds.height, OUT_BLOCK):
        window = Window(0, y0, ds.width, min(OUT_BLOCK, ds.height - y0))
        try:
            labels = labels_ds.read(1, window=window)
            image = [ds.read(b, window=window) for b in bands]  # each in its own type
        except (RasterioError, RasterioIOError) as e:
            raise InputError(f"cannot read {ds.name}: {e}", ds.name) from None
        if labels.min() < 0:
            raise NotLabels("labels_path", labels_ds.name, f"holds label {labels.min()}")
        if within is not None:
            labels[(labels < within[0]) | (labels > within[1])] = 0
        for band in image:
            bad = ~np.isfinite(band)
            if bad.any():
                band[bad] = 0
                labels[bad] = 0
        sums = _strip_sums(labels, image)
        found.append(sums + ((_strip_spread(labels, image, *sums),) if spread else ()))
    labels, where = np.unique(np.concatenate([f[0] for f in found]), return_inverse=True)
    strip_area = np.concatenate([f[1] for f in found])
    area = np.bincount(where, strip_area)
    strip_sums = np.concatenate([f[2] for f in found], axis=1)
    sums = np.array([np.bincount(where, s) for s in strip_sums])
    keep = (labels != 0) & (area > 0)
    means = sums / np.maximum(area, 1)
    stats = RegionStats(labels[keep], area[keep].astype(np.int64), means[:, keep].T)
    if spread:
        m2, low, high = np.concatenate([f[3] for f in found], axis=2)
        apart = strip_sums / strip_area - means[:, where]
        m2 = np.array([np.bincount(where, m + strip_area * d * d) for m, d in zip(m2, apart)])
        stats.stds = np.sqrt(m2[:, keep] / area[keep]).T
        order = np.argsort(where, kind="stable")
        starts = np.flatnonzero(np.r_[True, np.diff(where[order]) != 0])
        stats.mins = np.minimum.reduceat(low[:, order], starts, axis=1)[:, keep].T
        stats.maxs = np.maximum.reduceat(high[:, order], starts, axis=1)[:, keep].T
    return stats


def write_stats(in_path, labels_path, out_path=None, bands=None):
    with image_and_labels(in_path, labels_path) as (ds, labels_ds):
        chosen = parse_bands(bands, ds)
        stats = region_stats(ds, labels_ds, chosen)
    if out_path is None or out_path == "-":
        _write_csv(sys.stdout, chosen, stats)
        return
    with AtomicOutput(out_path) as work:
        try:
            with open(work.path, "w", encoding="utf-8") as f:
                _write_csv(f, chosen, stats)
        except OSError as e:
            raise write_error(out_path, e) from None
        work.commit()


def _write_csv(f, bands, stats):
    writer = csv.writer(f, lineterminator="\n")
    writer.writerow(["label", "area"] + [f"mean_b{b}" for b in bands])
    for label, a, m in zip(stats.labels, stats.areas, stats.means):
        writer.writerow([int(label), int(a)] + [f"{v:.6g}" for v in m])
