"""`kavu schedule` and `kavu cut`: the complete lambda-schedule merge of a
whole image (held in memory), saved with its starting labels so that a label
raster can be cut at any level afterwards, by region count or by lambda."""

import os
import threading

import numpy as np
from affine import Affine
from rasterio.crs import CRS
from rasterio.errors import RasterioError

from . import _routines as routines
from .exits import EXIT_INPUT, EXIT_USAGE, CliError
from .levels import Quantiser, gradient_magnitude
from .progress import no_progress
from .raster_io import (AtomicOutput, gdal_env, label_profile, open_label_raster, open_raster,
                        parse_bands, read_bands, write_error)


def whole_image_basins(ds, bands, connectivity):
    """The image (float32 bands) and its watershed basins, lines dissolved:
    the same flooding `kavu segment` makes with one tile as large as the image."""
    block = read_bands(ds, bands, -2, ds.height + 2, -2, ds.width + 2)
    magnitude = gradient_magnitude(block)
    quantiser = Quantiser()
    quantiser.observe(magnitude[1:-1, 1:-1])
    ws = routines.watershed(quantiser.levels(magnitude),
                            np.ascontiguousarray(block[:, 1:-1, 1:-1]),
                            connectivity=connectivity, long=True, merge_bd=True)
    return (np.ascontiguousarray(block[:, 2:-2, 2:-2]),
            np.ascontiguousarray(ws.labels[1:-1, 1:-1]))


def regions_after(lambdas, n_initial):
    """Running maximum of the merge costs and the regions left after each
    merge: cutting at a threshold T stops at the first merge costing T or more."""
    return np.maximum.accumulate(lambdas), n_initial - 1 - np.arange(len(lambdas))


def plot_schedule(path, lambdas, n_initial, title):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    level, regions = regions_after(lambdas.astype(np.float64), n_initial)
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100)
    positive = level > 0
    if positive.any():
        ax.step(level[positive], regions[positive], where="post")
        ax.set_xscale("log")
    else:                             # every merge costs 0 (a flat image), or none is left
        ax.step(level, regions, where="post")
    ax.set_yscale("log")
    ax.set_xlabel("lambda: regions merge while their merge costs less than this "
                  "(kavu segment --lambda)")
    ax.set_ylabel("regions in the result")
    ax.set_title(f"{title}: how many regions each lambda leaves ({n_initial} watershed "
                 "regions at the start)", fontsize=9)
    ax.grid(True, which="both", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, format="png")
    plt.close(fig)


def in_background(work, progress, stage):
    """work() in a thread of its own while this thread waits in short naps:
    Ctrl-C reaches the main thread only, and a routine that runs for minutes
    would otherwise hold it off until it returns. The routine itself cannot
    be stopped; the process ends without waiting for it."""
    outcome = {}

    def target():
        try:
            outcome["value"] = work()
        except BaseException as e:  # noqa: BLE001 - handed to the waiting thread
            outcome["error"] = e

    bar = progress(1, stage)
    worker = threading.Thread(target=target, name=f"kavu {stage}", daemon=True)
    worker.start()
    try:
        while worker.is_alive():
            worker.join(0.1)
            bar.update(0)                 # redraws the elapsed time
        bar.update()
    finally:
        bar.close()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def make_schedule(in_path, out_path, bands=None, from_pixels=False, connectivity=4,
                  progress=no_progress):
    """Writes SCHEDULE.npz and SCHEDULE.png; returns (npz, png, merges)."""
    if out_path is None:
        out_path = os.path.splitext(os.path.basename(in_path))[0] + ".schedule.npz"
    if not out_path.endswith(".npz"):
        raise CliError(f"{out_path}: the schedule file needs the extension .npz", EXIT_USAGE)
    png_path = out_path[:-4] + ".png"
    with gdal_env():
        ds = open_raster(in_path)
        with ds:
            chosen = parse_bands(bands, ds)
            if from_pixels:
                image = read_bands(ds, chosen, 0, ds.height, 0, ds.width)
                labels = np.arange(ds.height * ds.width, dtype=np.uint32).reshape(ds.shape)
            else:
                image, labels = in_background(
                    lambda: whole_image_basins(ds, chosen, connectivity), progress, "basins")
            crs = ds.crs.to_wkt() if ds.crs else ""
            transform = np.array(tuple(ds.transform)[:6])
    # NaN pixels stay in (the schedule has no mask): the schedule is kept up
    # to the first merge they make NaN, and `kavu cut` says what it cannot reach.
    result = in_background(lambda: routines.merge_schedule(image, in_label_img=labels),
                           progress, "merging")
    finite = np.isfinite(result.lambdas)
    m = len(finite) if finite.all() else int(np.argmin(finite))
    lambdas, label_map = result.lambdas[:m], result.label_map[:2 * m]
    n_initial = len(np.unique(labels))
    with AtomicOutput(out_path) as npz, AtomicOutput(png_path) as png:
        try:
            np.savez_compressed(npz.path, lambdas=lambdas, label_map=label_map,
                                labels=labels, n_initial=n_initial, crs=crs, transform=transform)
            plot_schedule(png.path, lambdas, n_initial, os.path.basename(in_path))
        except OSError as e:
            raise write_error(out_path, e) from None
        npz.commit()
        png.commit()
    return out_path, png_path, m


def merges_for(lambdas, n_initial, regions=None, lambda_threshold=None):
    """How many leading merges of the schedule to apply."""
    if regions is not None:
        n_final = n_initial - len(lambdas)
        if not n_final <= regions <= n_initial:
            why = " (merging stops at NaN or infinite pixels)" if n_final > 1 else ""
            raise CliError(f"--regions {regions} cannot be reached: the schedule goes from "
                           f"{n_initial} regions down to {n_final}{why}", EXIT_USAGE)
        return n_initial - regions
    above = np.flatnonzero(lambdas >= np.float32(lambda_threshold))
    return int(above[0]) if len(above) else len(lambdas)


def load_schedule(path):
    try:
        with np.load(path, allow_pickle=False) as f:
            return {k: f[k] for k in ("lambdas", "label_map", "labels", "n_initial", "crs",
                                      "transform")}
    except FileNotFoundError:
        raise CliError(f"cannot read schedule {path}: no such file", EXIT_INPUT) from None
    except (OSError, ValueError, KeyError) as e:
        raise CliError(f"cannot read schedule {path}: not a schedule written by kavu schedule "
                       f"({' '.join(str(e).split())})", EXIT_INPUT) from None


def cut_schedule(schedule_path, out_path, regions=None, lambda_threshold=None):
    """Writes the label GeoTIFF after the chosen merges; returns its region count."""
    s = load_schedule(schedule_path)
    k = merges_for(s["lambdas"], int(s["n_initial"]), regions, lambda_threshold)
    label_map = s["label_map"][:2 * k] if k else np.zeros(1, np.uint32)  # one element: no pair
    n, labels = routines.iter_lambda_create_label_image(s["labels"], label_map)
    labels += 1                                                           # 0 is "no region"
    crs = CRS.from_wkt(str(s["crs"])) if str(s["crs"]) else None
    profile = label_profile(labels.shape[0], labels.shape[1], crs=crs,
                            transform=Affine(*s["transform"]))
    with gdal_env(), AtomicOutput(out_path) as work:
        try:
            with open_label_raster(work.path, profile) as dst:
                dst.write(labels, 1)
        except (OSError, RasterioError) as e:
            raise write_error(out_path, e) from None
        work.commit()
    return n
