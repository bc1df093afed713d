"""Everyday mistakes in the routine functions end in an error or a warning by
name, never in a result that only looks right."""

import numpy as np
import pytest

import kavu

RNG = np.random.default_rng(7)
IMAGE = RNG.random((2, 12, 10)).astype(np.float32)
NAN_IMAGE = IMAGE.copy()
NAN_IMAGE[1, 4, 5] = np.nan
LEVELS = RNG.integers(0, 1000, (12, 10)).astype(np.uint16)
LABELS = np.arange(120, dtype=np.uint32).reshape(12, 10)

FUNCTIONS = {
    "watershed": lambda image: kavu.watershed(LEVELS[:image.shape[-2], :image.shape[-1]], image),
    "tile_lambda_segment": lambda image: kavu.tile_lambda_segment(image, lambda_threshold=1),
    "iter_lambda_segment": kavu.iter_lambda_segment,
    "compute_reg_info": lambda image: kavu.compute_reg_info(LABELS[:image.shape[-2],
                                                                   :image.shape[-1]], image),
}


@pytest.mark.parametrize("function", FUNCTIONS.values(), ids=FUNCTIONS.keys())
def test_channels_last_images_warn_and_4d_images_are_refused(function):
    with pytest.warns(kavu.KavuWarning, match=r"read as 48 bands of 5 x 3 pixels") as w:
        try:
            function(np.zeros((48, 5, 3), np.float32))
        except kavu.Error:
            pass                                # the routine may refuse the shape as well
    assert w[0].message.name == "KAVU_IMAGE_CHANNELS_LAST"
    with pytest.raises(ValueError, match="not 4-D"):
        function(np.zeros((1, 2, 12, 10), np.float32))


@pytest.mark.parametrize("call, match", [
    (lambda: kavu.iter_lambda_segment(NAN_IMAGE), "image holds 1 NaN or infinite"),
    (lambda: kavu.compute_reg_info(LABELS, NAN_IMAGE), "image holds 1 NaN"),
    (lambda: kavu.compute_reg_info(np.array([np.inf, 1]), np.ones(2)), "labels holds 1"),
    (lambda: kavu.create_bound_from_label(NAN_IMAGE[1]), "labels holds 1"),
    (lambda: kavu.multilevel_label_region(NAN_IMAGE[1]), "image holds 1"),
    (lambda: kavu.replace_integer_data(NAN_IMAGE, [1], [2]), "data holds 1"),
    (lambda: kavu.tile_lambda_segment(IMAGE, lambda_threshold=-1), "0 or more, not -1.0"),
    (lambda: kavu.tile_lambda_segment(IMAGE, lambda_threshold=np.nan), "0 or more, not nan"),
    (lambda: kavu.compute_reg_info(np.array([3_000_000_000], np.uint32), np.ones(1)),
     "label 3000000000 would make tables of 3000000001 entries for 1 pixels"),
    (lambda: kavu.compute_reg_info(np.array([[-1, 2]]), np.ones((1, 2))), "0 or more, not -1"),
])
def test_refusals(call, match):
    with pytest.raises(ValueError, match=match):
        call()


def test_nan_pixels_are_left_out_as_if_masked():
    mask = np.isfinite(NAN_IMAGE).all(axis=0).view(np.uint8)
    for function in (lambda **kw: kavu.tile_lambda_segment(lambda_threshold=0.5, **kw).labels,
                     lambda **kw: kavu.watershed(LEVELS, merge_bd=True, **kw).labels):
        np.testing.assert_array_equal(function(image=NAN_IMAGE),
                                      function(image=IMAGE, mask=mask))
        assert function(image=NAN_IMAGE)[4, 5] == 0


def test_labels_start_at_one_and_16_bit_labels_that_run_out_warn():
    assert kavu.tile_lambda_segment(IMAGE).labels.min() == 1
    assert kavu.watershed(LEVELS, IMAGE).labels.dtype == np.uint32
    with pytest.warns(kavu.KavuWarning, match="do not fit in 16-bit labels") as w:
        kavu.watershed(LEVELS, IMAGE, long=False, start_lbl=65520)
    assert w[0].message.name == "KAVU_LABELS_16BIT_RUN_OUT"
