"""KAVU_WATERSHED through kavu.call and kavu.watershed: the routine's examples,
its refusals, and basins against scikit-image's regional minima."""

import numpy as np
import pytest

import kavu
from conftest import needs, same_partition

OUT = kavu.OUT
pytestmark = needs("KAVU_WATERSHED")


def error_of(fn, *args, **kw):
    with pytest.raises(kavu.Error) as e:
        fn(*args, **kw)
    return e.value


def cones(rng, shape, n):
    """Levels rising with the distance to the nearest of n random seeds."""
    rows, cols = np.indices(shape)
    seeds = rng.integers(2, np.array(shape) - 2, size=(n, 2))
    dist = np.min([np.hypot(rows - r, cols - c) for r, c in seeds], axis=0)
    return (dist * 10).astype(np.uint16)


def test_three_by_three_gives_one_label_in_the_centre():
    r = kavu.watershed(np.zeros((3, 3), np.uint16), np.zeros((3, 3)), start_lbl=41, long=False)
    assert r.labels.dtype == np.uint16 and r.max_region_label == 42
    expected = np.zeros((3, 3)); expected[1, 1] = 42
    np.testing.assert_array_equal(r.labels, expected)
    np.testing.assert_array_equal(r.wshedmask, np.where(expected == 0, 255, 0))
    assert r.merge_list.dtype == np.uint32 and r.merge_list.size == 0


def test_call_with_abbreviated_keywords_and_outputs_left_out():
    levels = np.zeros((3, 3), np.uint16)
    c = kavu.call("KAVU_WATERSHED", levels, levels, lo=1, start=9, max_reg=OUT)
    assert c.value.dtype == np.uint32 and c.value[1, 1] == 10
    assert c["max_reg"] == 10 and c.args == (None, None)
    assert kavu.call("KAVU_WATERSHED", levels, levels).value.dtype == np.uint16


def test_in_merge_list_pairs_are_ordered_and_an_odd_element_ignored():
    r = kavu.watershed(np.ones((3, 3)), np.zeros((3, 3)),
                       in_merge_list=np.array([7, 3, 2, 9, 5], np.uint32))
    np.testing.assert_array_equal(r.merge_list, [7, 3, 9, 2])
    c = kavu.call("KAVU_WATERSHED", np.ones((3, 3)), np.zeros((3, 3)), out_merge_list=OUT)
    assert c["out_merge_list"] is None  # no pairs: the output keyword stays undefined


def test_refusals_name_the_python_arguments():
    levels, image = np.zeros((5, 5), np.uint16), np.zeros((5, 5), np.float32)
    cases = [
        ((np.zeros((2, 5)), np.zeros((2, 5))), {}, "KAVU_MBLK_SEGMENT_SM_DIM",
         "KAVU_WATERSHED: The size of both dimensions of LEVELS needs to be at least 3."),
        ((np.zeros(5), np.zeros(5)), {}, "KAVU_MBLK_SEGMENT_NOT_2D",
         "KAVU_WATERSHED: LEVELS needs to be 2D."),
        ((levels, np.zeros((5, 4))), {}, "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
         "KAVU_WATERSHED: The first 2 dimensions of LEVELS and IMAGE do not match."),
        ((levels, image), {"connectivity": 6}, "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL",
         "KAVU_WATERSHED: Bad keyword value for CONNECTIVITY. Must be 4 or 8."),
        ((levels, image), {"mask": np.ones((5, 5), np.int16)}, "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
         "KAVU_WATERSHED: The type of MASK needs to be type BYTE."),
        ((levels, image), {"mask": np.ones((5, 4), np.uint8)}, "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
         "KAVU_WATERSHED: The first 2 dimensions of LEVELS and MASK do not match."),
        ((levels, image), {"margin_hlbl": np.ones(4, np.uint32)}, "KAVU_MBLK_SEGMENT_DIM_LESS",
         "KAVU_WATERSHED: The dimension of MARGIN_HLBL needs to be equal to or larger than the X "
         "dimension of LEVELS."),
        ((levels, image), {"margin_vlbl": np.ones((5, 1), np.uint32)},
         "KAVU_MBLK_SEGMENT_NOT_VECTOR", "KAVU_WATERSHED: MARGIN_VLBL needs to be a vector."),
        ((levels, image), {"in_merge_list": np.ones(4, np.int32)},
         "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
         "KAVU_WATERSHED: The type of IN_MERGE_LIST needs to be type ULONG."),
    ]
    for args, kw, name, text in cases:
        e = error_of(kavu.watershed, *args, **kw)
        assert (e.name, e.routine, e.text) == (name, "KAVU_WATERSHED", text)
    e = error_of(kavu.call, "KAVU_WATERSHED", np.zeros((2, 2)), 3)  # arrays first, then dims
    assert e.name != "KAVU_MBLK_SEGMENT_SM_DIM" and "ARG2" in e.text


def test_a_bool_mask_is_a_byte_mask():
    levels = cones(np.random.default_rng(1), (12, 14), 3)
    mask = np.ones(levels.shape, bool)
    mask[4:6, 4:6] = False
    r = kavu.watershed(levels, levels, mask=mask)
    assert (r.labels[~mask] == 0).all() and (r.wshedmask[~mask] == 255).all()
    np.testing.assert_array_equal(r.labels, kavu.watershed(levels, levels,
                                                           mask=mask.view(np.uint8)).labels)


def test_margin_labels_show_in_the_first_row_and_column():
    levels = np.full((6, 7), 5, np.uint16)
    top = np.arange(101, 108, dtype=np.uint32)
    left = np.arange(201, 207, dtype=np.uint32)
    r = kavu.watershed(levels, levels, long=True, margin_hlbl=top, margin_vlbl=left, start_lbl=300)
    np.testing.assert_array_equal(r.labels[0, 1:-1], top[1:-1])
    np.testing.assert_array_equal(r.labels[:, 0], left)


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("seed", range(6))
def test_one_basin_per_regional_minimum_of_the_interior(connectivity, seed):
    from scipy import ndimage
    from skimage.measure import label
    from skimage.morphology import local_minima
    rng = np.random.default_rng(seed)
    levels = cones(rng, (30, 40), 6) + rng.integers(0, 3, size=(30, 40)).astype(np.uint16)
    r = kavu.watershed(levels, np.zeros(levels.shape, np.float32), connectivity=connectivity,
                       long=True, start_lbl=1000)
    lab = r.labels
    assert ((lab == 0) == (r.wshedmask == 255)).all()
    assert (lab[0] == 0).all() and (lab[-1] == 0).all() and (lab[:, 0] == 0).all()
    real = np.unique(lab[lab != 0])
    assert real.min() == 1001 and real.max() == r.max_region_label

    sk_conn = 1 if connectivity == 4 else 2
    inner = levels[1:-1, 1:-1]
    minima = label(local_minima(inner, connectivity=sk_conn, allow_borders=True),
                   connectivity=sk_conn)
    assert len(real) == minima.max()
    # Each minimum lies inside one basin of its own.
    assert same_partition(lab[1:-1, 1:-1][minima > 0], minima[minima > 0])
    # Every basin is connected under the connectivity it was flooded with.
    structure = ndimage.generate_binary_structure(2, sk_conn)
    for value in real:
        assert ndimage.label(lab == value, structure)[1] == 1

    # 16-bit labels give the same partition.
    small = kavu.watershed(levels, levels, connectivity=connectivity, start_lbl=1000, long=False)
    assert small.labels.dtype == np.uint16
    np.testing.assert_array_equal(small.labels.astype(np.uint32), lab)


def test_merge_bd_dissolves_every_line_with_connectivity_4():
    rng = np.random.default_rng(5)
    levels = cones(rng, (25, 30), 5)
    image = rng.random((2, 25, 30), dtype=np.float32)
    plain = kavu.watershed(levels, image)
    merged = kavu.watershed(levels, image, merge_bd=True)
    assert (merged.labels != 0).all()
    inside = plain.labels != 0
    np.testing.assert_array_equal(merged.labels[inside], plain.labels[inside])
