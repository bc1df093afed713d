"""Merging as the main job runs it: one window of `kavu segment`, its basins
made by the package's own stages (the scale pass over the whole image, the
levels and the flooding of pieces.flood, watershed lines merged), then the
one tile_lambda_segment call without share files that pieces.merge makes.

Its time is split into building and merging: building is the same call at
lambda 0, which hashes the labels, accumulates the regions, builds and costs
the pairs, elects the merge heap, writes the output labels and releases it
all, merging nothing; merging is the rest of the call at the run's lambda."""

import json
import os

import numpy as np

from kavu.tiled import window as pieces
from kavu.tiled.run import SegmentOptions, TiledSegmentation
from kavu.tiled.levels import Quantiser
from kavu.tiled.array_source import ArraySource
from kavu.tiled.geometry import Tile

import datasets
from measure import median_time, peak_bytes, timed

MEAN_AREA = 1000  # the second threshold: kavu segment --mean-area 1000


def _scale_pass(image, **options):
    run = TiledSegmentation(ArraySource(image), SegmentOptions(**options), None, workers=1)
    for _ in run.measure_scale():
        pass
    return run


def thresholds(ds, image):
    """(quantiser, {"default": lambda, "1 per 1000 px": lambda}) that kavu
    segment takes for the whole image; kept with the data set."""
    path = os.path.join(ds, "main_job.json")
    if not os.path.exists(path):
        run = _scale_pass(image)
        by_area = _scale_pass(image, mean_area=MEAN_AREA)
        by_area.quantiser, by_area.spread = run.quantiser, run.spread  # one scale pass
        kept = {"largest": float(run.quantiser.largest), "default": run.choose_lambda(),
                f"1 per {MEAN_AREA} px": by_area.choose_lambda()}
        with open(path, "w") as f:
            json.dump(kept, f)
    with open(path) as f:
        kept = json.load(f)
    quantiser = Quantiser()
    quantiser.largest = np.float32(kept.pop("largest"))
    return quantiser, kept


def window_basins(image, quantiser, side):
    """(bands, basins, mask) of the side x side window at the image's centre
    (the whole image where it is smaller), as pieces.segment_window gets them."""
    _, h, w = image.shape
    y0, x0 = max((h - side) // 2, 0), max((w - side) // 2, 0)
    y1, x1 = min(y0 + side, h), min(x0 + side, w)
    pixels = pieces.read_window(ArraySource(image), Tile(0, 0, 0, y0, y1, x0, x1, y0, y1, x0, x1))
    bands, basins, mask, _ = pieces.flood(pixels, quantiser, connectivity=4, merge_lines=True)
    return bands, basins, mask


def _count_labels(labels, mask):
    return np.unique(labels if mask is None else labels[mask != 0]).size


def main_merging(ds, sides, shown, name):
    """Rows for every window side; those of sides other than `shown` are
    growth points only (flagged `growth_only`). Side 0 is the whole image."""
    image = datasets.load(ds, "image")
    quantiser, lambdas = thresholds(ds, image)
    rows = []
    for side in sides:
        bands, basins, mask = window_basins(image, quantiser, side or max(image.shape[1:]))
        n = _count_labels(basins, mask)
        h, w = basins.shape
        reps = 3 if side == shown else 2

        def call(threshold):
            return lambda: pieces.merge(bands, basins, mask, threshold)

        build_s, _ = median_time(call(0.0), min_reps=reps)
        for which, threshold in lambdas.items():
            (out, first), mem = peak_bytes(lambda: timed(call(threshold)))
            regions = _count_labels(out, mask)
            del out
            # A call of many seconds (the Hubble field) is its own sample.
            total_s, total_reps = median_time(call(threshold), first=first,
                                              min_reps=1 if first > 5 else reps)
            per = 1e6 / n
            rows.append(dict(
                family="main job merging", routine=f"tile_lambda_segment, λ {which}",
                data=f"{name}, {w}×{h} window, {bands.shape[0]} bands, {n:,} basins "
                     f"({h * w / n:.1f} px) → {regions:,} regions at λ {threshold:.4g}",
                unit="region", count=n, bands=bands.shape[0], ours_s=total_s,
                ours_reps=total_reps, mem_bytes=mem, build_s=build_s, lambda_kind=which,
                image=name, side=side, growth_only=side != shown,
                check=f"building {build_s * per:.2f} + merging "
                      f"{(total_s - build_s) * per:.2f} µs/basin"))
    return rows
