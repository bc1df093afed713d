"""kavu.segment in scikit-image's conventions: channels on a named axis,
labels 1 .. N of the image's shape without channels, 0 only where pixels take
no part, and the same labels as `kavu segment` gives for the same pixels."""

import numpy as np
import pytest
import skimage.data
from scipy import ndimage

import kavu
from kavu.tiled.connected_parts import connected_parts
from cli_support import fields, segment, write_raster


def test_layouts_masks_and_labels(tmp_path):
    bands = fields(70, 90, seed=5).astype(np.uint8)                  # (3, 70, 90)
    last = kavu.segment(np.moveaxis(bands, 0, -1), 3000, tile=32)
    assert last.shape == (70, 90) and last.dtype == np.uint32
    assert set(np.unique(last)) == set(range(1, last.max() + 1))
    np.testing.assert_array_equal(kavu.segment(bands, 3000, channel_axis=0, tile=32), last)
    cli = segment(write_raster(tmp_path / "in.tif", bands), tmp_path / "out.tif",
                  "--lambda", 3000, "--tile", 32)
    np.testing.assert_array_equal(cli, last)
    mask = np.ones((70, 90), bool)
    mask[10:20, 30:60] = False
    image = np.moveaxis(bands, 0, -1).astype(np.float32)
    image[50, 5, 1] = np.nan
    labels = kavu.segment(image, 3000, mask=mask)
    left_out = ~mask
    left_out[50, 5] = True
    assert (labels[left_out] == 0).all() and (labels[~left_out] > 0).all()


@pytest.mark.parametrize("image, keywords", [
    (np.zeros((4, 5, 6, 2)), {}),
    (np.zeros((4, 5, 3)), dict(channel_axis=None)),
    (np.zeros((4, 5)), dict(mask=np.ones((5, 4)))),
    (np.zeros((4, 5)), dict(lambda_threshold=float("nan"))),
    (np.zeros((4, 5)), dict(lambda_threshold=1, regions=3)),
    (np.zeros((4, 5), np.complex64), {}),
])
def test_refused_arguments(image, keywords):
    with pytest.raises(ValueError):
        kavu.segment(image, **keywords)


@pytest.mark.parametrize("name, lambda_threshold, tile, connectivity", [
    ("coffee", 3000, 128, 4),       # window regions that met in the margin only kept one label
    ("camera", 500, 64, 4),
    ("immunohistochemistry", None, 64, 8),
])
def test_every_label_one_connected_region(name, lambda_threshold, tile, connectivity):
    image = getattr(skimage.data, name)()
    labels = kavu.segment(image, lambda_threshold, tile=tile, connectivity=connectivity,
                          channel_axis=-1 if image.ndim == 3 else None)
    touching = ndimage.generate_binary_structure(2, 1 if connectivity == 4 else 2)
    for label, box in enumerate(ndimage.find_objects(labels), 1):
        assert ndimage.label(labels[box] == label, touching)[1] == 1, label


def test_parts_that_touch_at_a_corner():
    labels = np.array([[1, 2, 2], [2, 1, 1], [0, 2, 1]], np.uint32)
    np.testing.assert_array_equal(connected_parts(labels, 4), [[1, 3, 3], [4, 2, 2], [0, 5, 2]])
    np.testing.assert_array_equal(connected_parts(labels, 8), [[1, 2, 2], [2, 1, 1], [0, 2, 1]])


def test_start_label_and_an_image_with_nothing_to_segment():
    image = fields(40, 50, seed=2)
    first = kavu.segment(image, 3000, channel_axis=0, tile=16)
    moved = kavu.segment(image, 3000, channel_axis=0, tile=16, start_label=1000)
    np.testing.assert_array_equal(moved, first + 999)
    with pytest.warns(kavu.KavuWarning, match="no pixel takes part"):
        assert not kavu.segment(np.full((20, 30), np.nan), 10).any()
