"""`kavu schedule`: the complete lambda-schedule merge of a whole image (held
in memory), saved with its starting labels and their pixel statistics so that
`kavu cut` can make a label raster at any level afterwards. The pixels taking
part are those `kavu segment` segments: the mask and the NaN rule are its own."""

import os
import threading
from typing import NamedTuple

import numpy as np

from ..binding import routines
from ..errors import ArgumentError, ScheduleTooLarge
from ..tiled.lambdas import BandSpread
from ..tiled.levels import Quantiser
from ..tiled.window import Frame, flood, observe_scale, read_scale_block, read_window
from ..tiled.progress import no_progress
from .io import AtomicOutput, gdal_env, make_mask, open_raster, parse_bands, size_text, write_error
from ..tiled.small_regions import region_sums
from .source import RasterSource
from ..tiled.geometry import Tile

# What a schedule holds per pixel, and per pixel and band, in bytes, rounded
# up from peaks measured on 2000^2 and 3000^2 noisy rasters of 1 and 3 bands
# (one basin for 6 pixels, as in the Landsat scene): 58 and 70 from basins;
# from single pixels the merging alone took 275 (docs/command-line.md).
BYTES_PER_PIXEL = {False: 64, True: 320}  # from basins / from single pixels
BYTES_PER_PIXEL_BAND = 12


class Start(NamedTuple):
    """Where the schedule starts: the image (float32 bands, +inf where a pixel
    takes no part), its starting labels (0: takes no part) and their pixel
    count and band sums (index = label)."""

    image: np.ndarray
    labels: np.ndarray
    area: np.ndarray
    sums: np.ndarray


def schedule_paths(in_path, out_path):
    """(SCHEDULE.npz, its plot): by default beside IN, IN's name + .schedule.npz."""
    if out_path is None:
        out_path = os.path.splitext(in_path)[0] + ".schedule.npz"
    if not out_path.endswith(".npz"):
        raise ArgumentError(f"{out_path}: the schedule file needs the extension .npz")
    return out_path, out_path[:-4] + ".png"


def available_memory():
    """Bytes this machine can give a process now (MemAvailable), or its RAM."""
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")


def refuse_too_large(ds, nbands, from_pixels):
    """The schedule holds the whole image and its merge structures at once:
    refused before any work when the estimate exceeds the free memory."""
    need = ds.width * ds.height * (BYTES_PER_PIXEL[from_pixels] + BYTES_PER_PIXEL_BAND * nbands)
    free = available_memory()
    if need > free:
        raise ScheduleTooLarge(
            f"{ds.name}: a schedule of {size_text(ds)} needs about "
            f"{need / 2**30:.1f} GiB, more than the {free / 2**30:.1f} GiB "
            "free here"
        )


def whole_image(source, connectivity, from_pixels):
    """The Start of a schedule of the source: its watershed basins flooded as
    `kavu segment` floods one tile as large as the image, or every pixel."""
    tile = Tile(0, 0, 0, 0, source.height, 0, source.width, 0, source.height, 0, source.width)
    pixels = read_window(source, tile)
    if from_pixels:
        mask = None if pixels.mask is None else Frame.inner(pixels.mask, Frame.MASK)
        labels = np.arange(1, source.height * source.width + 1, dtype=np.uint32).reshape(
            source.height, source.width
        )
    else:
        quantiser = Quantiser()
        observe_scale(read_scale_block(source, tile), quantiser, BandSpread())
        _, labels, mask, _ = flood(pixels, quantiser, connectivity, merge_lines=True)
    image = pixels.image()
    if mask is not None:
        labels[mask == 0] = 0
    area, sums = region_sums(image, labels, int(labels.max(initial=0)) + 1)
    area[0], sums[:, 0] = 0, 0
    if mask is not None:
        # The iterative mode has no mask: the pixels that take no part are one
        # region of infinite values, whose every merge costs infinity and so
        # comes after all the others (and is cut off with them).
        image[:, mask == 0] = np.inf
    return Start(image, labels, area, sums)


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
    else:  # every merge costs 0 (a flat image), or none is left
        ax.step(level, regions, where="post")
    ax.set_yscale("log")
    ax.set_xlabel(
        "lambda: regions merge while their merge costs less than this " "(kavu segment --lambda)"
    )
    ax.set_ylabel("regions in the result")
    ax.set_title(
        f"{title}: how many regions each lambda leaves ({n_initial} watershed "
        "regions at the start)",
        fontsize=9,
    )
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
            bar.update(0)  # redraws the elapsed time
        bar.update()
    finally:
        bar.close()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def make_schedule(
    in_path,
    npz_path,
    png_path,
    bands=None,
    mask="auto",
    from_pixels=False,
    connectivity=4,
    progress=no_progress,
):
    """Writes the schedule (schedule_paths) of the pixels of IN that take part
    (mask: as for `kavu segment`); returns the number of merges."""
    with gdal_env():
        ds = open_raster(in_path)
        with ds:
            chosen = parse_bands(bands, ds)
            source = RasterSource(ds, chosen, make_mask(mask, ds, chosen))
            refuse_too_large(ds, len(chosen), from_pixels)
            start = in_background(
                lambda: whole_image(source, connectivity, from_pixels), progress, "basins"
            )
            crs = ds.crs.to_wkt() if ds.crs else ""
            transform = np.array(tuple(ds.transform)[:6])
    result = in_background(
        lambda: routines.merge_schedule(start.image, in_label_img=start.labels), progress, "merging"
    )
    # Kept up to the first merge that costs infinity: one with the pixels that
    # take no part, or of values so large that the cost overflows.
    finite = np.isfinite(result.lambdas)
    m = len(finite) if finite.all() else int(np.argmin(finite))
    lambdas, label_map = result.lambdas[:m], result.label_map[: 2 * m]
    n_initial = int(np.count_nonzero(start.area))
    with AtomicOutput(npz_path) as npz, AtomicOutput(png_path) as png:
        try:
            np.savez_compressed(
                npz.path,
                lambdas=lambdas,
                label_map=label_map,
                labels=start.labels,
                area=start.area,
                sums=start.sums,
                n_initial=n_initial,
                crs=crs,
                transform=transform,
            )
            plot_schedule(png.path, lambdas, n_initial, os.path.basename(in_path))
        except OSError as e:
            raise write_error(npz_path, e) from None
        npz.commit()
        png.commit()
    return m
