"""Lambda chosen for a number of regions (--regions, kavu.segment(regions=))
lands within 25 % of it on the Landsat scene and a photograph, and as a mean
area on the command line."""

import os

import numpy as np
import pytest
import rasterio
from skimage import data

import kavu
from cli_support import segment

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.environ.get("KAVU_SAMPLE") or os.path.join(HERE, "../../data/L7_ETMs.tif")


@pytest.mark.parametrize("n", [150, 1000])
def test_regions_land_within_a_quarter(n):
    with rasterio.open(SAMPLE) as src:
        landsat = np.moveaxis(src.read(), 0, -1)
    for image in (landsat, data.camera()):
        found = kavu.segment(image, regions=n).max()
        assert 0.75 * n <= found <= 1.25 * n, (image.shape, found)


def test_mean_area_on_the_command_line(tmp_path):
    labels = segment(SAMPLE, tmp_path / "out.tif", "--mean-area", 120, "--tile", 128)
    assert 0.75 <= labels.size / labels.max() / 120 <= 1.25
