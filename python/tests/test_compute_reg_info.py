"""KAVU_COMPUTE_REG_INFO through kavu.call and kavu.compute_reg_info, against numpy."""

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import kavu

OUT = kavu.OUT


def test_small_example_through_both_entries():
    labels = np.array([[0, 1], [1, 2]], np.uint32)
    image = np.array([[1, 2], [3, 4]], np.float32)
    r = kavu.compute_reg_info(labels, image)
    assert r.max_lbl == 2
    assert r.regarea.dtype == np.int32 and r.regsum.dtype == np.float32
    np.testing.assert_array_equal(r.regarea, [1, 2, 1])
    np.testing.assert_array_equal(r.regsum, [[1, 5, 4]])

    c = kavu.call("KAVU_COMPUTE_REG_INFO", labels, image, REGAREA=OUT, REGSUM=OUT)
    assert c.value == 2
    np.testing.assert_array_equal(c["regarea"], r.regarea)
    np.testing.assert_array_equal(c.keywords["REGSUM"], r.regsum)


def test_keywords_are_abbreviated_in_any_case_and_outputs_may_be_left_out():
    labels = np.array([[0, 1], [1, 2]], np.uint32)
    image = np.ones((2, 2), np.float32)
    c = kavu.call("kavu_compute_reg_info", labels, image, rega=OUT, MAX=4)
    assert c.value == 4
    assert list(c.keywords) == ["rega"]
    np.testing.assert_array_equal(c["REGA"], [1, 2, 1, 0, 0])
    assert kavu.call("KAVU_COMPUTE_REG_INFO", labels, image).value == 2


def test_max_lbl_zero_is_the_same_as_absent():
    labels = np.array([3, 1, 3], np.uint32)
    a = kavu.compute_reg_info(labels, np.ones(3), max_lbl=0)
    assert a.max_lbl == 3
    np.testing.assert_array_equal(a.regarea, [0, 1, 0, 2])


def test_one_dimensional_labels_take_bands_from_the_third_image_dim():
    labels = np.array([0, 1, 1], np.uint32)
    two_d = np.array([[1, 2, 3], [10, 20, 30]], np.float32)   # (k=2, npix)
    assert kavu.compute_reg_info(labels, two_d).regsum.shape == (1, 2)
    banded = np.array([[[1, 2, 3]], [[10, 20, 30]]], np.float32)  # (nb=2, 1, npix)
    np.testing.assert_array_equal(kavu.compute_reg_info(labels, banded).regsum,
                                  [[1, 5], [10, 50]])


def test_refusals_name_the_python_arguments():
    labels = np.zeros((2, 3), np.uint32)
    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(labels, np.zeros((3, 2)))
    assert (e.value.name, e.value.routine) == ("KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                                               "KAVU_COMPUTE_REG_INFO")
    assert e.value.text == ("KAVU_COMPUTE_REG_INFO: The first 2 dimensions of LABELS and IMAGE "
                            "do not match.")
    assert str(e.value) == e.value.text

    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(np.zeros(3, np.uint32), np.zeros(4))
    assert e.value.name == "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH"
    assert e.value.text == ("KAVU_COMPUTE_REG_INFO: The first dimension of LABELS and IMAGE "
                            "do not match.")

    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(np.zeros((2, 2, 2), np.uint32), np.zeros((2, 2, 2)))
    assert e.value.name == "KAVU_MBLK_SEGMENT_NOT_12D"
    assert e.value.text == "KAVU_COMPUTE_REG_INFO: LABELS needs to be 1D or 2D."

    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(np.array([0, 9], np.uint32), np.zeros(2), max_lbl=3)
    assert e.value.name == "KAVU_MBLK_SEGMENT_NOT_MEET_MINV"
    assert e.value.text == "KAVU_COMPUTE_REG_INFO: MAX_LBL needs to be at least 9."

    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(np.array([0, 2**31], np.uint32), np.zeros(2), max_lbl=3)
    assert e.value.name == "KAVU_MBLK_SEGMENT_ERROR" and "2147483648" in e.value.text


def test_host_errors_raise_kavu_error_with_their_own_names():
    labels = np.zeros((2, 2), np.uint32)
    # The second argument is checked for being an array before the first's dims.
    with pytest.raises(kavu.Error) as e:
        kavu.call("KAVU_COMPUTE_REG_INFO", np.zeros((2, 2, 2), np.uint32), 5)
    assert e.value.routine == "KAVU_COMPUTE_REG_INFO"
    assert not e.value.name.startswith("KAVU_MBLK") and "ARG2" in e.value.text
    with pytest.raises(kavu.Error) as e:
        kavu.compute_reg_info(labels, "text")
    assert "IMAGE" in e.value.text
    for bad in ({"NOSUCH": 1}, {"RE": OUT}):  # unknown; ambiguous (REGAREA, REGSUM)
        with pytest.raises(kavu.Error) as e:
            kavu.call("KAVU_COMPUTE_REG_INFO", labels, labels, **bad)
        assert not e.value.name.startswith("KAVU_MBLK")
        assert list(bad)[0] in e.value.text
    with pytest.raises(kavu.Error):
        kavu.call("KAVU_NO_SUCH_ROUTINE", labels)
    with pytest.raises(kavu.Error):
        kavu.call("KAVU_COMPUTE_REG_INFO", labels)  # too few arguments


label_images = hnp.arrays(np.uint32, hnp.array_shapes(min_dims=1, max_dims=2, max_side=12),
                          elements=st.integers(0, 40))


@settings(max_examples=60, deadline=None)
@given(labels=label_images, nbands=st.integers(1, 3), seed=st.integers(0, 2**32 - 1))
def test_areas_and_sums_equal_numpy_bincount(labels, nbands, seed):
    rng = np.random.default_rng(seed)
    image = rng.integers(-50, 50, size=(nbands,) + labels.shape).astype(np.float32)
    if labels.ndim == 1:
        image = image.reshape(nbands, 1, labels.size)
    r = kavu.compute_reg_info(labels, image)
    n = int(labels.max()) + 1
    assert r.max_lbl == n - 1
    np.testing.assert_array_equal(r.regarea, np.bincount(labels.ravel(), minlength=n))
    # Small integers sum exactly in float32, so the order of accumulation does not show.
    expected = [np.bincount(labels.ravel(), weights=image[b].ravel(), minlength=n)
                for b in range(nbands)]
    np.testing.assert_array_equal(r.regsum, np.array(expected, np.float32))
