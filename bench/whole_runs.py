"""The main job whole, as users run it: `kavu segment` with its defaults (both
cores) on the 4096² photo mosaic, and on the synthetic field (uint16, as the
tiled road writes it) at lambda 7·10⁷, each against scikit-image's slic on the
same raster, asked for as many segments as kavu left. slic runs on one thread
in this process, on the bands as read (its own conversion to Lab included);
kavu in a process of its own (road._run), whose peak resident set is its
memory. With --before, the same runs of an earlier build."""

import os
import time

import numpy as np

import datasets
import road

FIELD_LAMBDA = 7e7


def mosaic_raster(path, work, side):
    """The photo mosaic of the main job's merging rows as a float32 GeoTIFF."""
    if os.path.exists(path):
        return path
    import rasterio

    image = datasets.load(datasets.make(work, f"astronaut-{side}"), "image")
    tmp = path + ".part"
    with rasterio.open(tmp, "w", driver="GTiff", width=side, height=side, count=len(image),
                       dtype="float32", tiled=True, blockxsize=256, blockysize=256) as dst:
        dst.write(image)
    os.replace(tmp, path)
    return path


def slic_seconds(path, segments):
    import rasterio
    from skimage.segmentation import slic

    with rasterio.open(path) as src:
        bands = src.read()
    started = time.perf_counter()
    slic(bands, n_segments=segments, channel_axis=0, start_label=1)
    return time.perf_counter() - started


def rows(args, log):
    side = args.main_mosaic
    cases = [
        ("photo mosaic", mosaic_raster(os.path.join(args.work, f"mosaic-{side}.tif"),
                                       args.work, side), []),
        ("synthetic field", road.write_raster(os.path.join(args.work, f"road-{side}.tif"), side),
         ["--lambda", repr(FIELD_LAMBDA)]),
    ]
    baseline = road.baseline_rss()
    out = os.path.join(args.work, "whole-run.tif")
    found = []
    for name, raster, options in cases:
        log(f"whole run, {name} {side}²:")
        command = ["segment", raster, out, *options]
        seconds, peak = road._run(command)
        regions = int(road.read_labels(out).max())
        row = dict(family="main job", routine="kavu segment " + " ".join(options or ["(defaults)"]),
                   data=f"{name} {side}², 3 bands", unit="px", count=side * side, bands=3,
                   ours_s=seconds, mem_bytes=peak - baseline, rss_bytes=peak, dataset=name)
        if args.before:
            before_s, before_peak = road._run(command, args.before)
            row.update(before_s=before_s, before_mem_bytes=before_peak - baseline)
        peer_s = slic_seconds(raster, regions)
        mpx = side * side / seconds / 1e6
        row.update(peer=f"skimage slic, one thread, {regions} segments", peer_s=peer_s,
                   check=f"{regions} regions; {mpx:.2f} Mpixel/s, slic "
                   f"{side * side / peer_s / 1e6:.2f}")
        found.append(row)
        log(f" {seconds:.0f} s, slic {peer_s:.0f} s\n")
    return found
