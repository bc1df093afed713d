"""Specks: with min_size no region is smaller, tiled or in one piece, and a
region that was already large enough keeps its pixels."""

import numpy as np
import pytest
from skimage import data

import kavu


@pytest.mark.parametrize("min_size", [30, 100])
@pytest.mark.parametrize("tile", [64, 1024])
def test_no_region_under_the_minimum_size(min_size, tile):
    image = data.coffee()[:256, :320]
    labels = kavu.segment(image, 1000, min_size=min_size, tile=tile)
    areas = np.bincount(labels.ravel())[1:]
    assert areas.min() >= min_size and (areas > 0).all()
    plain = kavu.segment(image, 1000, min_size=0, tile=tile)
    # Every region of the plain result large enough lies within one region.
    big = np.flatnonzero(np.bincount(plain.ravel()) >= 4 * min_size)
    for label in big[:50]:
        assert len(np.unique(labels[plain == label])) == 1
