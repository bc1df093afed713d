"""Lambda chosen for a number of regions (--regions, kavu.segment(regions=))
lands within 25 % of it, and says so by name when it cannot; a lambda past
every merge cost of the image is named too."""

import os
import re
import warnings

import numpy as np
import pytest
import rasterio
from skimage import data

import kavu
from cli_support import fields, run, segment

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.environ.get("KAVU_SAMPLE") or os.path.join(HERE, "../../data/L7_ETMs.tif")


def landsat():
    with rasterio.open(SAMPLE) as src:
        return np.moveaxis(src.read(), 0, -1)


def patchwork():
    """Larger than one sample window holds, and unlike from side to side:
    small noisy fields on the left, broad ones on the right."""
    return np.hstack([fields(1100, 500, cells=900, noise=8.0, seed=2),
                      fields(1100, 500, cells=40, noise=2.0, seed=1)]).transpose(1, 2, 0)


@pytest.mark.parametrize("image, n", [(landsat, 5000), (landsat, 300), (data.chelsea, 50),
                                      (data.camera, 1000), (patchwork, 2000)])
def test_regions_land_within_a_quarter(image, n):
    with warnings.catch_warnings():
        warnings.simplefilter("error", kavu.KavuWarning)       # landing: nothing to say
        found = kavu.segment(image(), regions=n).max()
    assert 0.75 * n <= found <= 1.25 * n, found


def test_mean_area_on_the_command_line(tmp_path):
    labels = segment(SAMPLE, tmp_path / "out.tif", "--mean-area", 120, "--tile", 128)
    assert 0.75 <= labels.size / labels.max() / 120 <= 1.25


@pytest.mark.parametrize("options, name, text", [
    (dict(regions=10 ** 9), "KAVU_REGIONS_OUT_OF_REACH",
     "about 1000000000 regions are out of this image's reach: the closest lambda, 0, leaves"),
    (dict(lambda_threshold=3000), "KAVU_LAMBDA_PAST_EVERY_MERGE",
     "lambda 3000 is above every merge cost of the image (the largest is "),
])
def test_out_of_reach_is_named(options, name, text):
    image = data.chelsea()[::4, ::4] / 255.0
    with pytest.warns(kavu.KavuWarning) as caught:
        labels = kavu.segment(image, **options)
    assert [(w.message.name, str(w.message)[:len(text)]) for w in caught] == [(name, text)]
    if name == "KAVU_LAMBDA_PAST_EVERY_MERGE":       # just below the largest, one is undone
        largest = float(re.search(r"largest is ([^)]+)", str(caught[0].message))[1])
        assert labels.max() == 1 and kavu.segment(image, largest * 0.999).max() > 1

def test_regions_a_whole_number(tmp_path):
    with pytest.raises(ValueError, match=r"^regions=2\.5: needs to be a whole number$"):
        kavu.segment(data.camera(), regions=2.5)
    r = run("segment", SAMPLE, tmp_path / "out.tif", "--regions", "2.5")
    assert (r.returncode, r.stderr) == (
        2, "kavu segment: error: argument --regions: '2.5' is not a whole number\n")
