"""No seams at tile borders: on natural images, the label-change rate of the steps T-1 -> T
and T -> T+1 at tile borders T stays within 1.3 times the image's median step, or within 1.15
times what one piece gives at the same steps."""

import functools
import os

import numpy as np
import pytest
import rasterio
from skimage import data

import kavu
from cli_support import run

HERE = os.path.dirname(os.path.abspath(__file__))
CROP = 256      # a corner of each image keeps the test quick
SAMPLE = os.path.join(HERE, "../../data/L7_ETMs.tif")


@functools.lru_cache(None)
def image(name):
    if name == "landsat":
        path = os.environ.get("KAVU_SAMPLE") or SAMPLE
        with rasterio.open(path) as src:
            return np.moveaxis(src.read(), 0, -1)[:CROP, :CROP]
    return getattr(data, name)()[:CROP, :CROP]


@functools.lru_cache(None)
def labels(name, lam, tile):
    return kavu.segment(image(name), lam, tile=tile)


def border_steps(labels, tile):
    """Mean change rate of the steps just before and just after the tile
    borders, rows and columns apart, and the median step of the image."""
    rows = (labels[1:] != labels[:-1]).mean(axis=1)       # step y -> y + 1
    cols = (labels[:, 1:] != labels[:, :-1]).mean(axis=0)
    steps = [s[np.arange(tile, len(s), tile) + k].mean() for s in (rows, cols) for k in (-1, 0)]
    return np.array(steps), np.median(np.concatenate([rows, cols]))


@pytest.mark.parametrize("name", ["astronaut", "camera", "landsat"])
@pytest.mark.parametrize("tile", [64, 128])
@pytest.mark.parametrize("lam", [1e3, 1e4])
def test_tile_borders_change_labels_no_more_than_other_steps(name, tile, lam):
    tiled, one = labels(name, lam, tile), labels(name, lam, 4 * CROP)
    steps, median = border_steps(tiled, tile)
    alone, _ = border_steps(one, tile)
    assert ((steps <= 1.3 * median) | (steps <= 1.15 * alone)).all(), (steps, median, alone)


def test_tiles_below_the_smallest_are_refused_with_the_reason(tmp_path):
    r = run("segment", os.environ.get("KAVU_SAMPLE") or SAMPLE, tmp_path / "o.tif", "--tile", 3)
    assert r.returncode == 2 and "--tile 3: needs to be at least 8 pixels" in r.stderr
    assert not os.path.exists(tmp_path / "o.tif")
