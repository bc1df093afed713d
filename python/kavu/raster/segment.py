"""`kavu segment`: a raster file of any size segmented tile by tile
(kavu.tiled.run) into a uint32 label GeoTIFF with the input's georeferencing. The
kept labels wait in a scratch file beside the output; the final numbering is
written strip by strip, so memory follows the tile size, not the image."""

import time

from rasterio.errors import RasterioError
from rasterio.windows import Window

from ..tiled.run import TiledSegmentation, check_options
from ..tiled.label_stores import LabelScratch
from ..tiled.pipeline import workers_named
from ..tiled.progress import no_progress
from .io import (OUT_BLOCK, AtomicOutput, gdal_env, georeferencing, label_profile,
                 make_mask, open_label_raster, open_raster, parse_bands, write_error)
from .source import RasterSource

OUT_WINDOW = 4 * OUT_BLOCK  # width of the windows relabelled and written at a time


def run_tiles(run, progress):
    """Both passes over the tiles of a TiledSegmentation, with progress bars."""
    for stage, tiles in (("scale", run.measure_scale), ("segmenting", run.segment)):
        if tiles == run.segment:
            run.choose_lambda()
        bar = progress(len(run.tiles), stage)
        for _ in tiles():
            bar.update()
        bar.close()


def write_labels(run, scratch, ds, path, progress):
    """The scratch labels under their final numbers into the GeoTIFF, one
    block-aligned window at a time. Returns the number of regions."""
    table, n_regions = run.final_labels()
    profile = label_profile(ds.height, ds.width, **georeferencing(ds))
    windows = [(y0, x0) for y0 in range(0, ds.height, OUT_BLOCK)
               for x0 in range(0, ds.width, OUT_WINDOW)]
    bar = progress(len(windows), "writing")
    try:
        with open_label_raster(path, profile) as dst:
            for y0, x0 in windows:
                y1, x1 = min(y0 + OUT_BLOCK, ds.height), min(x0 + OUT_WINDOW, ds.width)
                dst.write(table[scratch.read(y0, y1, x0, x1)], 1,
                          window=Window(x0, y0, x1 - x0, y1 - y0))
                bar.update()
    except (OSError, RasterioError) as e:
        raise write_error(path, e) from None
    finally:
        bar.close()
    return n_regions


def segment_raster(in_path, out_path, options, bands=None, mask="auto", progress=no_progress):
    """Segments in_path into the label GeoTIFF out_path. bands: "1,2,3" (None:
    every band); mask: auto | none | nodata | path of a mask raster. Returns a
    summary dict (regions, tiles, pixels, seconds, lambda_threshold). Raises
    driver.OptionError (a ValueError) for options out of range."""
    started = time.monotonic()
    check_options(options)                # before anything is opened or created
    with gdal_env():
        ds = open_raster(in_path)
        with ds:
            chosen = parse_bands(bands, ds)
            source = RasterSource(ds, chosen, make_mask(mask, ds, chosen))
            with AtomicOutput(out_path) as work:
                scratch = LabelScratch(work.work_file("labels.u32"), ds.height, ds.width)
                try:
                    run = TiledSegmentation(source, options, scratch)
                    with workers_named(run.workers):
                        run_tiles(run, progress)
                    n_regions = write_labels(run, scratch, ds, work.path, progress)
                finally:
                    scratch.close()
                work.commit()
    return dict(regions=n_regions, tiles=len(run.tiles), pixels=ds.width * ds.height,
                seconds=time.monotonic() - started, lambda_threshold=run.lambda_threshold)
