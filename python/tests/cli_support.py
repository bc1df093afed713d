"""Helpers of the command-line tests: running `kavu`, synthetic rasters written
with rasterio, and the adjusted Rand index that compares two segmentations."""

import os
import subprocess
import sys

import numpy as np
import rasterio
from rasterio.transform import from_origin

CRS = "EPSG:32725"
TRANSFORM = from_origin(285000.0, 9120000.0, 28.5, 28.5)


def kavu_command():
    """The launcher CTest names (<build>/bin/kavu), else this interpreter's -m kavu."""
    launcher = os.environ.get("KAVU_CLI")
    return [launcher] if launcher else [sys.executable, "-m", "kavu"]


def run(*args, cwd=None):
    """Runs `kavu ARGS`; stdin/stdout/stderr are pipes, never a terminal."""
    return subprocess.run(kavu_command() + [str(a) for a in args], capture_output=True,
                          text=True, cwd=cwd, stdin=subprocess.DEVNULL, timeout=600)


def segment(src, dst, *options):
    r = run("segment", src, dst, *options)
    assert r.returncode == 0, r.stderr
    return read_labels(dst)


def fields(height, width, bands=3, cells=12, noise=4.0, seed=0):
    """A float image of `cells` Voronoi fields, each with its own band means,
    plus Gaussian noise: regions with sharp borders that a segmentation should
    find, and many small watershed basins inside them."""
    rng = np.random.default_rng(seed)
    seeds = rng.uniform((0, 0), (height, width), (cells, 2))
    yy, xx = np.mgrid[0:height, 0:width]
    nearest = np.zeros((height, width), np.int64)
    best = np.full((height, width), np.inf)
    for k, (sy, sx) in enumerate(seeds):
        d = (yy - sy) ** 2 + (xx - sx) ** 2
        nearest[d < best] = k
        best = np.minimum(best, d)
    means = rng.uniform(30, 220, (bands, cells))
    image = means[:, nearest] + rng.normal(0, noise, (bands, height, width))
    return np.clip(image, 0, 255)


def write_raster(path, image, dtype="uint8", nodata=None, **profile):
    image = np.asarray(image)
    if image.ndim == 2:
        image = image[None]
    with rasterio.open(path, "w", driver="GTiff", height=image.shape[1], width=image.shape[2],
                       count=image.shape[0], dtype=dtype, nodata=nodata, crs=CRS,
                       transform=TRANSFORM, **profile) as dst:
        dst.write(image.astype(dtype))
    return path


def read_labels(path):
    with rasterio.open(path) as src:
        return src.read(1)


def adjusted_rand_index(a, b):
    """Hubert and Arabie's adjusted Rand index of two labellings of the same
    pixels: 1 for the same partition up to renaming, about 0 for independent ones."""
    a = np.unique(np.ravel(a), return_inverse=True)[1].astype(np.int64)
    b = np.unique(np.ravel(b), return_inverse=True)[1].astype(np.int64)
    n = a.size
    joint = np.unique(a * (b.max() + 1) + b, return_counts=True)[1].astype(np.float64)

    def pairs(counts):
        return float(np.sum(counts * (counts - 1) / 2))

    index = pairs(joint)
    sum_a = pairs(np.bincount(a).astype(np.float64))
    sum_b = pairs(np.bincount(b).astype(np.float64))
    expected = sum_a * sum_b / (n * (n - 1) / 2)
    top = (sum_a + sum_b) / 2
    return 1.0 if top == expected else (index - expected) / (top - expected)


def assert_consecutive(labels, valid=None, start=1):
    """Every valid pixel labelled, labels start .. start + N - 1 all used, and
    0 exactly on the invalid pixels."""
    valid = np.ones(labels.shape, bool) if valid is None else valid
    assert (labels[valid] != 0).all()
    assert (labels[~valid] == 0).all()
    used = np.unique(labels[valid])
    np.testing.assert_array_equal(used, np.arange(start, start + len(used)))
    return len(used)
