"""A raster file of any size segmented tile by tile (kavu.tiled.run's
run_segmentation) into a uint32 label GeoTIFF with the input's georeferencing. The
kept labels wait in a scratch file beside the output; the final numbering is
written strip by strip, so memory follows the tile size, not the image."""

import time

from rasterio.errors import RasterioError
from rasterio.windows import Window

from ..tiled.run import check_options, check_workers, run_segmentation
from ..tiled.cluster import WindowTasks, connected
from ..tiled.label_stores import LabelScratch
from ..tiled.progress import no_progress
from .io import (
    OUT_BLOCK,
    AtomicOutput,
    gdal_env,
    georeferencing,
    label_profile,
    make_mask,
    open_label_raster,
    open_raster,
    parse_bands,
    write_error,
)
from .shared_source import SharedRaster
from .source import RasterSource

OUT_WINDOW = 4 * OUT_BLOCK  # width of the windows relabelled and written at a time


def _bars(progress):
    """The run's progress callback as the bars of a progress factory
    (kavu.tiled.progress): one bar a pass, opened at its start."""
    bars = {}

    def report(stage, done, total):
        if done == 0:
            bars[stage] = progress(total, stage)
        else:
            bars[stage].update()
        if done == total:
            bars.pop(stage).close()

    return report


def write_labels(table, scratch, ds, path, progress):
    """The scratch labels under their final numbers (table) into the GeoTIFF,
    one block-aligned window at a time."""
    profile = label_profile(ds.height, ds.width, **georeferencing(ds))
    windows = [
        (y0, x0) for y0 in range(0, ds.height, OUT_BLOCK) for x0 in range(0, ds.width, OUT_WINDOW)
    ]
    bar = progress(len(windows), "writing")
    try:
        with open_label_raster(path, profile) as dst:
            for y0, x0 in windows:
                y1, x1 = min(y0 + OUT_BLOCK, ds.height), min(x0 + OUT_WINDOW, ds.width)
                dst.write(
                    table[scratch.read(y0, y1, x0, x1)], 1, window=Window(x0, y0, x1 - x0, y1 - y0)
                )
                bar.update()
    except (OSError, RasterioError) as e:
        raise write_error(path, e) from None
    finally:
        bar.close()


def write_cog(plain_path, path):
    """The label GeoTIFF again as a Cloud-Optimised GeoTIFF: the same tiles,
    with overviews by nearest neighbour, so that a zoomed-out view shows
    labels that exist rather than averages of label numbers."""
    from rasterio.shutil import copy

    try:
        copy(
            plain_path,
            path,
            driver="COG",
            blocksize=OUT_BLOCK,
            compress="deflate",
            predictor=2,
            resampling="nearest",
            bigtiff="if_safer",
        )
    except (OSError, RasterioError) as e:
        raise write_error(path, e) from None


def segment_raster(
    in_path,
    out_path,
    options,
    bands=None,
    mask="auto",
    progress=no_progress,
    workers=None,
    client=None,
    cog=False,
):
    """Segments in_path into the label GeoTIFF out_path. bands: "1,2,3" (None:
    every band); mask: auto | none | nodata | path of a mask raster; progress:
    a progress factory (kavu.tiled.progress); workers: as for run_segmentation;
    client: a distributed.Client or a scheduler address whose workers segment
    the windows, reading them from in_path (None: threads of this process);
    cog: write a Cloud-Optimised GeoTIFF (write_cog) rather than a plain tiled one.
    Returns a summary dict (regions, tiles, pixels, seconds, lambda_threshold).
    Raises kavu.errors.OptionError (a ValueError) for options out of range,
    InputError and OutputError (OSErrors) for files."""
    started = time.monotonic()
    check_options(options)  # before anything is opened or created
    check_workers(workers)
    with gdal_env():
        ds = open_raster(in_path)
        with ds:
            chosen = parse_bands(bands, ds)
            source = RasterSource(ds, chosen, make_mask(mask, ds, chosen))
            with AtomicOutput(out_path) as work:
                scratch = LabelScratch(work.work_file("labels.u32"), ds.height, ds.width)
                try:
                    with connected(client) as own:
                        cluster = (
                            None
                            if own is None
                            else WindowTasks(own, SharedRaster(in_path, bands, mask))
                        )
                        run = run_segmentation(
                            source, scratch, options, workers, _bars(progress), cluster, work.dir
                        )
                    plain = work.work_file("plain.tif") if cog else work.path
                    write_labels(run.table, scratch, ds, plain, progress)
                finally:
                    scratch.close()
                if cog:
                    write_cog(plain, work.path)
                work.commit()
    return dict(
        regions=run.regions,
        tiles=run.tiles,
        pixels=ds.width * ds.height,
        seconds=time.monotonic() - started,
        lambda_threshold=run.lambda_threshold,
    )
