"""The package itself: loading, the dtype mapping, lending without copies and
results that own their memory."""

import gc
import subprocess
import sys

import numpy as np
import pytest

import kavu
import host_controls

ROUTINES = ["KAVU_WATERSHED", "KAVU_SEGMENT_GET_NBRINFO", "KAVU_TILE_LAMBDA_SEGMENT",
            "KAVU_ITER_LAMBDA_SEGMENT", "KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE",
            "KAVU_COMPUTE_REG_INFO", "KAVU_CREATE_BOUND_FROM_LABEL", "KAVU_CREATE_INCREASING",
            "KAVU_MULTILEVEL_LABEL_REGION", "KAVU_REPLACE_INTEGER_DATA"]

SUPPORTED = {np.uint8: 1, np.int16: 2, np.int32: 3, np.float32: 4, np.float64: 5,
             np.uint16: 12, np.uint32: 13, np.int64: 14, np.uint64: 15, np.bool_: 1}


def test_import_loads_the_module_once_with_all_routines():
    assert [r[0] for r in kavu.routines()] == ROUTINES
    assert all(r[4] for r in kavu.routines())  # all are functions
    assert [r[1] for r in kavu.routines()] == [2, 2, 2, 1, 3, 2, 2, 1, 2, 3]


@pytest.mark.parametrize("dtype", list(SUPPORTED))
def test_every_supported_dtype_reaches_the_routine_with_its_values(dtype):
    labels = np.array([[0, 1], [1, 2]], dtype=dtype if dtype is not np.bool_ else np.uint8)
    image = np.array([[1, 0], [1, 1]], dtype=dtype)
    r = kavu.compute_reg_info(labels, image)
    assert r.max_lbl == 2
    np.testing.assert_array_equal(r.regarea, [1, 2, 1])
    np.testing.assert_array_equal(r.regsum, [[1, 1, 1]])


@pytest.mark.parametrize("dtype", list(SUPPORTED))
def test_contiguous_supported_dtypes_are_lent_in_place(dtype):
    a = np.zeros((3, 4), dtype=dtype)
    assert host_controls.lent_address(a) == a.ctypes.data


def test_layouts_the_host_cannot_read_are_lent_as_contiguous_copies():
    base = np.arange(24, dtype=np.uint32).reshape(4, 6)
    for a in (base[:, ::2], base.T, base.astype(">u4")):
        assert host_controls.lent_address(a) != a.ctypes.data
        r = kavu.compute_reg_info(a, np.ones(a.shape, np.float32))
        np.testing.assert_array_equal(r.regarea, np.bincount(np.asarray(a, np.int64).ravel()))


@pytest.mark.parametrize("dtype", [np.int8, np.float16, np.complex64, np.complex128, object,
                                   "U3", "S2", "datetime64[s]", np.longdouble])
def test_dtypes_without_a_host_type_are_refused(dtype):
    bad = np.zeros((3, 3), dtype=dtype)
    with pytest.raises(TypeError, match="labels has dtype"):
        kavu.compute_reg_info(bad, np.zeros((3, 3), np.float32))
    with pytest.raises(TypeError, match="arg2 has dtype"):
        kavu.call("KAVU_COMPUTE_REG_INFO", np.zeros((3, 3), np.uint32), bad)


def test_values_that_are_not_arrays_numbers_or_strings_are_refused():
    with pytest.raises(TypeError, match="arg1 is a dict"):
        kavu.call("KAVU_COMPUTE_REG_INFO", {}, np.zeros(3))
    with pytest.raises(ValueError, match="empty"):
        kavu.call("KAVU_COMPUTE_REG_INFO", np.zeros(0, np.uint32), np.zeros(3))
    with pytest.raises(ValueError, match="at most 8"):
        kavu.call("KAVU_COMPUTE_REG_INFO", np.zeros((1,) * 9, np.uint32), np.zeros(3))
    with pytest.raises(ValueError, match="64-bit"):
        kavu.call("KAVU_COMPUTE_REG_INFO", np.zeros(3, np.uint32), np.zeros(3), max_lbl=2**64)


def test_results_own_host_memory_through_a_capsule():
    r = kavu.compute_reg_info(np.arange(6, dtype=np.uint32).reshape(2, 3),
                              np.ones((2, 2, 3), np.float32))
    for out in (r.regarea, r.regsum):
        assert type(out.base).__name__ == "PyCapsule"
        assert out.flags.writeable and out.flags.c_contiguous
    regsum = r.regsum
    del r
    gc.collect()
    regsum += 1  # the memory stays valid and writable after the result is gone
    np.testing.assert_array_equal(regsum, np.full((2, 6), 2, np.float32))
    assert host_controls.live_temporaries() == 0


def test_result_dims_are_the_host_dims_reversed():
    r = kavu.compute_reg_info(np.array([0, 1, 2, 3], np.uint32), np.ones((3, 1, 4), np.float32))
    assert r.regarea.shape == (4,)
    assert r.regsum.shape == (3, 4)  # host dims [n, nb]


def test_print_and_return_messages_become_warnings():
    # Reloading with a refused routine table prints KAVU_MBLK_SEGMENT_ERROR and
    # goes on; run apart so that this process keeps its routines.
    script = """
import warnings, kavu
import host_controls
host_controls.set_refusals(routine_table=True)
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    assert kavu._load(kavu.MODULE_PATH) == 1
[w] = caught
assert w.category is kavu.KavuWarning, w
assert w.message.name == "KAVU_MBLK_SEGMENT_ERROR", w.message.name
assert w.message.text.endswith("Error: Unable to initialize kavu_segmentation."), w.message.text
print("ok")
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert out.stdout.strip() == "ok", out.stderr
