"""Each routine through its function and through kavu.call: result fields,
dtypes and shapes, abbreviated keywords, outputs left undefined, inputs left
alone or renumbered in place, and refusals that name the Python arguments.
The routines' own behaviour is tested in C++."""
import numpy as np
import pytest

import kavu
from conftest import same_partition
from kavu.tiled.small_regions import merge_costs, neighbour_pairs, region_sums

OUT = kavu.OUT


def error_of(fn, *args, **kw):
    with pytest.raises(kavu.Error) as e:
        fn(*args, **kw)
    return e.value


def test_watershed():
    r = kavu.watershed(np.zeros((3, 3), np.uint16), np.zeros((3, 3)), start_lbl=41)
    assert r.labels.dtype == np.uint32 and r.max_region_label == 42 and r.labels[1, 1] == 42
    assert kavu.watershed(np.zeros((3, 3)), np.zeros((3, 3)), long=False).labels.dtype == np.uint16
    np.testing.assert_array_equal(r.wshedmask, np.where(r.labels == 0, 255, 0))
    assert r.merge_list.dtype == np.uint32 and r.merge_list.size == 0
    levels = np.zeros((3, 3), np.uint16)
    c = kavu.call("KAVU_WATERSHED", levels, levels, lo=1, start=9, max_reg=OUT, out_merge_list=OUT)
    assert c.value.dtype == np.uint32 and c.value[1, 1] == 10
    assert c["max_reg"] == 10 and c["out_merge_list"] is None and c.args == (None, None)
    e = error_of(kavu.watershed, np.zeros((5, 5), np.uint16), np.zeros((5, 4)))
    assert (e.name, e.routine, e.text) == (
        "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH", "KAVU_WATERSHED",
        "KAVU_WATERSHED: The first 2 dimensions of LEVELS and IMAGE do not match.")
    e = error_of(kavu.call, "KAVU_WATERSHED", np.zeros((2, 2)), 3)  # arrays first, then dims
    assert "ARG2" in e.text


def test_compute_reg_info():
    labels = np.array([[0, 1], [1, 2]], np.uint32)
    image = np.array([[1, 2], [3, 4]], np.float32)
    r = kavu.compute_reg_info(labels, image)
    assert r.max_lbl == 2 and r.regarea.dtype == np.int32 and r.regsum.dtype == np.float32
    np.testing.assert_array_equal(r.regarea, [1, 2, 1])
    np.testing.assert_array_equal(r.regsum, [[1, 5, 4]])
    c = kavu.call("kavu_compute_reg_info", labels, image, rega=OUT, MAX=4)
    assert c.value == 4 and list(c.keywords) == ["rega"]
    np.testing.assert_array_equal(c["REGA"], [1, 2, 1, 0, 0])
    e = error_of(kavu.compute_reg_info, np.zeros((2, 3), np.uint32), np.zeros((3, 2)))
    assert e.text == ("KAVU_COMPUTE_REG_INFO: The first 2 dimensions of LABELS and IMAGE "
                      "do not match.")


def test_label_utilities():
    b = kavu.create_bound_from_label(np.array([[1, 2], [1, 2]], np.uint32))
    assert b.count == 2 and b.boundary.dtype == np.uint8
    np.testing.assert_array_equal(b.boundary, [[255, 0], [255, 0]])
    c = kavu.call("KAVU_CREATE_BOUND_FROM_LABEL", np.array([[1, 2], [3, 4]]), OUT)
    assert c.value == 4 and c.args[0] is None and c[1].dtype == np.uint8
    m = kavu.multilevel_label_region(np.array([[1, 1, 2], [2, 1, 2]]))
    assert m.n_regions == 3
    np.testing.assert_array_equal(m.labels, [[1, 1, 2], [3, 1, 2]])
    data = np.arange(12, dtype=np.uint32).reshape(3, 4)
    r = kavu.replace_integer_data(data, np.array([[0, 11]]), np.array([5, 6, 7]))
    assert r.data.shape == (3, 4) and r.data.dtype == np.uint32 and not np.shares_memory(r.data, data)
    assert data[0, 0] == 0 and r.data[0, 0] == 5 and r.data[2, 3] == 6
    i = kavu.create_increasing([1, 3, 2, 3, 5, 4])
    assert i.count == 2
    np.testing.assert_array_equal(i.bad_flags, [0, 0, 1, 0, 0, 1])
    e = error_of(kavu.create_bound_from_label, 5)
    assert e.routine == "KAVU_CREATE_BOUND_FROM_LABEL" and "LABELS" in e.text
    e = error_of(kavu.call, "KAVU_REPLACE_INTEGER_DATA", np.ones(2), np.ones(2), "x")
    assert "ARG3" in e.text


def test_segment_get_nbrinfo(tmp_path):
    name = tmp_path / "nbr"
    r = kavu.segment_get_nbrinfo(np.array([[1, 2], [1, 2]]), name)
    assert r == (str(name), str(name) + ".idx")
    np.testing.assert_array_equal(np.fromfile(r.data_file, "<i4"), [1, 1, 2, 2, 2, 1, 1, 2])
    np.testing.assert_array_equal(np.fromfile(r.index_file, "<i4"), [1, 0, 2, 16])


def test_iterative_schedule_and_its_cut():
    labels = np.array([[5, 5, 9], [7, 7, 9]], np.uint32)
    before = labels.copy()
    r = kavu.iter_lambda_segment(np.arange(6, dtype=np.float32).reshape(2, 3), in_label_img=labels)
    np.testing.assert_array_equal(labels, before)
    assert r.lambdas.dtype == np.float32 and r.lambdas.shape == (2,)
    assert r.label_map.dtype == np.uint32 and set(r.label_map) <= {5, 7, 9}
    c = kavu.call("KAVU_ITER_LAMBDA_SEGMENT", np.ones((1, 1)), lambdas=OUT, label=OUT)
    assert c.value == 0 and c["lambdas"] is None and c["label"] is None
    cut = kavu.iter_lambda_create_label_image(labels, r.label_map[:2])
    assert cut.n_regions == 2 and cut.labels.dtype == np.uint32
    c = kavu.call("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE", labels, r.label_map, OUT)
    assert c.value == 1 and (c[2] == 0).all() and c.args[:2] == (None, None)
    e = error_of(kavu.iter_lambda_segment, np.zeros((3, 4)), in_label_img=np.zeros((4, 3), np.uint32))
    assert e.text == ("KAVU_ITER_LAMBDA_SEGMENT: The first 2 dimensions of IMAGE and IN_LABEL_IMG "
                      "do not match.")


def test_tile_lambda_segment(tmp_path):
    r = kavu.tile_lambda_segment(np.random.default_rng(0).random((3, 4)))
    assert r.last_lbl == 12 and r.labels.dtype == np.uint32 and r.merge_list.size == 0
    np.testing.assert_array_equal(np.sort(r.labels.ravel()), np.arange(1, 13))
    c = kavu.call("KAVU_TILE_LAMBDA_SEGMENT", np.zeros((3, 4)), OUT, out_merge=OUT)
    assert c.value == 11 and c["out_merge"] is None and c[0] is None
    e = error_of(kavu.tile_lambda_segment, np.zeros((3, 4)), share_file_name=tmp_path / "no" / "s")
    assert e.text == f"KAVU_TILE_LAMBDA_SEGMENT: Cannot open file {tmp_path}/no/s.idx for writing."


def test_tile_renumbers_its_input_in_place_only_when_asked(tmp_path):
    labels = np.arange(12, dtype=np.uint32).reshape(3, 4)
    frozen = labels.copy()
    frozen.flags.writeable = False
    for bad in (labels[:, ::2], frozen):
        with pytest.raises(ValueError, match="in_place"):
            kavu.tile_lambda_segment(np.zeros((3, 4)), in_label_img=bad, in_place=True)
    # Two tiles side by side; stripes 10 and 20 cross the border, 30 stays right.
    full = np.array([[10] * 8, [10] * 5 + [30] * 3, [20] * 8, [20] * 8], np.uint32)
    image = np.random.default_rng(3).random((2, 4, 8), dtype=np.float32)
    for in_place in (False, True):
        share = tmp_path / f"share{in_place}"
        for ext in (".idx", ".info"):
            open(str(share) + ext, "w").close()
        left = kavu.tile_lambda_segment(image[:, :, :4], in_label_img=full[:, :4].copy(),
                                        share_file_name=share, start_lbl=1)
        right = full[:, 4:].copy()
        out = kavu.tile_lambda_segment(image[:, :, 4:], in_label_img=right, in_place=in_place,
                                       share_file_name=share, start_lbl=left.last_lbl + 1,
                                       margin_vlbl=np.stack([full[:, 3], left.labels[:, 3]])).labels
        assert not np.shares_memory(out, right)
        if not in_place:
            np.testing.assert_array_equal(right, full[:, 4:])
        else:  # continued stripes take the left tile's output labels; 30 a new one
            assert (right[0] == left.labels[0, 3]).all() and (right[3] == left.labels[3, 3]).all()
            assert (right[1, 1:] == left.last_lbl + 1).all()


def test_tile_threshold_cuts_the_iterative_schedule():
    image = np.random.default_rng(100).random((2, 7, 9), dtype=np.float32)
    r = kavu.iter_lambda_segment(image)
    threshold = float(np.quantile(r.lambdas, 0.6))
    k = int(np.argmax(r.lambdas >= threshold))  # the tile stops at the first cost not below
    cut = kavu.iter_lambda_create_label_image(np.arange(63, dtype=np.uint32).reshape(7, 9),
                                              r.label_map[:2 * k])
    tile = kavu.tile_lambda_segment(image, lambda_threshold=threshold)
    assert same_partition(tile.labels, cut.labels) and tile.last_lbl == cut.n_regions


def test_the_python_merge_cost_is_the_modules_float32_cost():
    rng = np.random.default_rng(3)
    for h, w, nb in rng.integers(2, 9, (20, 3)):     # two regions side by side: one merge
        image = rng.normal(0, 100, (nb // 3 + 1, h, w)).astype(np.float32)
        labels = np.tile(np.uint32(1) + (np.arange(w) >= rng.integers(1, w)), (h, 1))
        area, sums = region_sums(image, labels, 3)
        cost = merge_costs(area, sums / np.maximum(area, 1), *neighbour_pairs(labels))[0]
        first = kavu.iter_lambda_segment(image, in_label_img=labels).lambdas[0]
        np.testing.assert_allclose(first, cost, rtol=1e-5)      # float32 arithmetic
