"""The label utilities through kavu.call and their functions, against numpy,
scipy and scikit-image references."""

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import kavu
from conftest import needs, same_partition

OUT = kavu.OUT

small_images = hnp.arrays(np.uint32, hnp.array_shapes(min_dims=1, max_dims=2, max_side=10),
                          elements=st.integers(0, 3))


def error_of(fn, *args, **kw):
    with pytest.raises(kavu.Error) as e:
        fn(*args, **kw)
    return e.value


# ---- KAVU_CREATE_BOUND_FROM_LABEL ------------------------------------------

def bound_reference(labels):
    a = np.atleast_2d(labels)
    right = a[:, :-1] != a[:, 1:]
    down = a[:-1, :] != a[1:, :]
    out = np.zeros(a.shape, np.uint8)
    out[:, :-1][right] = 255
    out[:-1, :][down] = 255
    return int(right.sum() + down.sum()), out.reshape(np.shape(labels))


@needs("KAVU_CREATE_BOUND_FROM_LABEL")
class TestCreateBoundFromLabel:
    def test_examples_through_both_entries(self):
        r = kavu.create_bound_from_label(np.array([[1, 2], [1, 2]], np.uint32))
        assert r.count == 2
        np.testing.assert_array_equal(r.boundary, [[255, 0], [255, 0]])
        c = kavu.call("KAVU_CREATE_BOUND_FROM_LABEL", np.array([[1, 2], [3, 4]]), OUT)
        assert c.value == 4 and c.args[0] is None
        assert c[1].dtype == np.uint8
        np.testing.assert_array_equal(c[1], [[255, 255], [255, 0]])
        assert kavu.create_bound_from_label(np.full((4, 5), 7)).count == 0

    def test_three_dimensional_labels_are_one_row_of_the_first_dim(self):
        labels = np.arange(2 * 3 * 4).reshape(2, 3, 4) % 2
        r = kavu.create_bound_from_label(labels)
        assert r.boundary.shape == labels.shape
        expected = np.zeros(labels.size, np.uint8)
        expected[:3] = 255
        np.testing.assert_array_equal(r.boundary.ravel(), expected)
        assert r.count == 3

    def test_not_an_array_is_a_host_error_naming_the_argument(self):
        e = error_of(kavu.create_bound_from_label, 5)
        assert e.routine == "KAVU_CREATE_BOUND_FROM_LABEL" and "LABELS" in e.text

    @settings(max_examples=80, deadline=None)
    @given(labels=small_images)
    def test_equals_the_numpy_formula(self, labels):
        r = kavu.create_bound_from_label(labels)
        count, boundary = bound_reference(labels)
        assert r.count == count
        np.testing.assert_array_equal(r.boundary, boundary)


# ---- KAVU_MULTILEVEL_LABEL_REGION ------------------------------------------

def raster_numbered(labels):
    """Nonzero labels are 1..N in the order of their first pixel."""
    flat = labels.ravel()
    flat = flat[flat != 0]
    _, first = np.unique(flat, return_index=True)
    return list(flat[np.sort(first)]) == list(range(1, len(first) + 1))


@needs("KAVU_MULTILEVEL_LABEL_REGION")
class TestMultilevelLabelRegion:
    def test_examples_through_both_entries(self):
        r = kavu.multilevel_label_region(np.array([[1, 1, 2], [2, 1, 2]]))
        assert r.n_regions == 3
        np.testing.assert_array_equal(r.labels, [[1, 1, 2], [3, 1, 2]])
        c = kavu.call("KAVU_MULTILEVEL_LABEL_REGION", np.array([[5, 6], [6, 5]], np.uint8), OUT)
        assert c.value == 4
        np.testing.assert_array_equal(c[1], [[1, 2], [3, 4]])
        c = kavu.call("KAVU_MULTILEVEL_LABEL_REGION", np.array([7, 7, 7]), OUT,
                      mask=np.array([0], np.int32))
        assert c.value == 1
        np.testing.assert_array_equal(c[1], [0, 1, 1])

    def test_mask_ptr_outside_the_image_excludes_nothing_and_all_excludes_all(self):
        image = np.zeros((3, 4), np.uint32)
        r = kavu.multilevel_label_region(image, mask_ptr=np.array([-1, 12, 99], np.int32))
        assert r.n_regions == 1 and (r.labels == 1).all()
        r = kavu.multilevel_label_region(image, mask_ptr=np.arange(12, dtype=np.int32))
        assert r.n_regions == 0 and (r.labels == 0).all()

    def test_u_shape_arms_joined_at_the_bottom_get_one_label(self):
        u = np.array([[1, 0, 1], [1, 0, 1], [1, 1, 1]], np.uint32)
        r = kavu.multilevel_label_region(u)
        np.testing.assert_array_equal(r.labels, [[1, 2, 1], [1, 2, 1], [1, 1, 1]])

    def test_refusals(self):
        e = error_of(kavu.multilevel_label_region, np.zeros((2, 2, 2)))
        assert (e.name, e.text) == ("KAVU_MBLK_SEGMENT_NOT_12D",
                                    "KAVU_MULTILEVEL_LABEL_REGION: IMAGE needs to be 1D or 2D.")
        e = error_of(kavu.multilevel_label_region, np.zeros((2, 2)),
                     mask_ptr=np.array([0], np.int64))
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
            "KAVU_MULTILEVEL_LABEL_REGION: The type of MASK_PTR needs to be type LONG.")

    @settings(max_examples=80, deadline=None)
    @given(image=small_images, data=st.data())
    def test_partition_equals_skimage_connectivity_1(self, image, data):
        from skimage.measure import label
        masked = data.draw(st.lists(st.integers(-2, image.size + 2), max_size=6))
        r = kavu.multilevel_label_region(image, mask_ptr=np.array(masked, np.int32)
                                         if masked else None)
        values = image.astype(np.int64).ravel()
        inside = [i for i in masked if 0 <= i < image.size]
        values[inside] = -1
        ref = label(values.reshape(image.shape), background=-1, connectivity=1)
        assert same_partition(r.labels, ref)
        assert (r.labels.ravel()[inside] == 0).all()
        assert r.n_regions == ref.max()
        assert raster_numbered(r.labels)


# ---- KAVU_REPLACE_INTEGER_DATA ---------------------------------------------

def replace_reference(data, old, new):
    out = data.astype(np.uint32).copy()
    for o, n in zip(old, new):
        out[data == o] = n
    return out


@needs("KAVU_REPLACE_INTEGER_DATA")
class TestReplaceIntegerData:
    def test_examples_through_both_entries(self):
        r = kavu.replace_integer_data(np.array([5, 7, 5, 9]), [5, 9], [1, 2])
        assert r.data.dtype == np.uint32
        np.testing.assert_array_equal(r.data, [1, 7, 1, 2])
        c = kavu.call("KAVU_REPLACE_INTEGER_DATA", np.array([1, 2], np.uint32),
                      np.array([1, 2]), np.array([2, 3]))
        np.testing.assert_array_equal(c.value, [2, 3])
        np.testing.assert_array_equal(kavu.replace_integer_data([4], [4, 4], [1, 2]).data, [2])

    def test_shape_of_the_data_is_kept_and_the_input_untouched(self):
        data = np.arange(12, dtype=np.uint32).reshape(3, 4)
        r = kavu.replace_integer_data(data, np.array([[0, 11]]), np.array([5, 6, 7]))
        assert r.data.shape == (3, 4) and not np.shares_memory(r.data, data)
        assert data[0, 0] == 0 and r.data[0, 0] == 5 and r.data[2, 3] == 6

    def test_refusals(self):
        for marker in (0xFFFFFFFF, 0xFFFFFFFE):  # the hash table's empty and deleted words
            e = error_of(kavu.replace_integer_data, np.array([1, marker], np.uint32), [1], [2])
            assert (e.name, e.text) == ("KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND",
                                        "KAVU_REPLACE_INTEGER_DATA: Hash key is not found.")
        e = error_of(kavu.replace_integer_data, [1, 2], [1, 2, 3], [4, 5])
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
            "KAVU_REPLACE_INTEGER_DATA: The number of elements of NEW needs to be at least 3.")
        e = error_of(kavu.call, "KAVU_REPLACE_INTEGER_DATA", np.ones(2), np.ones(2), "x")
        assert e.routine == "KAVU_REPLACE_INTEGER_DATA" and "ARG3" in e.text

    @settings(max_examples=80, deadline=None)
    @given(data=hnp.arrays(np.uint32, hnp.array_shapes(max_dims=3, max_side=8),
                           elements=st.integers(0, 20)),
           pairs=st.lists(st.tuples(st.integers(0, 25), st.integers(0, 2**32 - 2)), min_size=1,
                          max_size=8))
    def test_equals_numpy_masked_assignment(self, data, pairs):
        old, new = np.array(pairs, np.uint32).T
        r = kavu.replace_integer_data(data, old, new)
        np.testing.assert_array_equal(r.data, replace_reference(data, old, new))


# ---- KAVU_CREATE_INCREASING ------------------------------------------------

def increasing_reference(values):
    values = np.asarray(values, np.float32)
    flags = np.zeros(values.size, np.uint8)
    m = values[0]
    for i in range(1, values.size):
        if values[i] >= m:
            m = values[i]
        else:
            flags[i] = 1
    return int(flags.sum()), flags


@needs("KAVU_CREATE_INCREASING")
class TestCreateIncreasing:
    def test_examples_through_both_entries(self):
        r = kavu.create_increasing([1, 3, 2, 3, 5, 4])
        assert r.count == 2
        np.testing.assert_array_equal(r.bad_flags, [0, 0, 1, 0, 0, 1])
        c = kavu.call("KAVU_CREATE_INCREASING", np.array([7.0]), bad=OUT)
        assert c.value == 0
        np.testing.assert_array_equal(c["bad"], [0])
        assert kavu.call("KAVU_CREATE_INCREASING", np.array([3, 1, 2])).value == 2

    def test_nan_is_flagged_and_a_leading_nan_flags_everything(self):
        np.testing.assert_array_equal(kavu.create_increasing([1, np.nan, 2]).bad_flags, [0, 1, 0])
        assert kavu.create_increasing([np.nan, 1, 2, 3]).count == 3

    def test_a_matrix_is_refused_with_the_literal_argument_name(self):
        e = error_of(kavu.create_increasing, np.zeros((2, 2)))
        assert (e.name, e.text) == ("KAVU_MBLK_SEGMENT_NOT_VECTOR",
                                    "KAVU_CREATE_INCREASING: argv[0] needs to be a vector.")

    @settings(max_examples=80, deadline=None)
    @given(values=hnp.arrays(np.float32, st.integers(1, 40),
                             elements=st.one_of(st.floats(-5, 5, width=32), st.just(np.nan))))
    def test_equals_a_running_maximum(self, values):
        r = kavu.create_increasing(values)
        count, flags = increasing_reference(values)
        assert r.count == count
        np.testing.assert_array_equal(r.bad_flags, flags)
        kept = values[r.bad_flags == 0]
        assert (np.diff(kept) >= 0).all()


# ---- KAVU_SEGMENT_GET_NBRINFO ----------------------------------------------

def nbrinfo_reference(labels):
    a = np.atleast_2d(labels).astype(np.int64)
    pairs = {}
    for x, y in [(a[:, :-1], a[:, 1:]), (a[:-1, :], a[1:, :])]:
        for p, q in zip(x.ravel(), y.ravel()):
            if p != q:
                key = (min(p, q), max(p, q))
                pairs[key] = pairs.get(key, 0) + 1
    data, index = [], []
    for lbl in sorted({l for k in pairs for l in k}):
        nbrs = sorted((q if p == lbl else p, n) for (p, q), n in pairs.items() if lbl in (p, q))
        index += [lbl, 4 * len(data)]
        data += [lbl, len(nbrs)] + [q for q, _ in nbrs] + [n for _, n in nbrs]
    return np.array(data, np.int32), np.array(index, np.int32)


@needs("KAVU_SEGMENT_GET_NBRINFO")
class TestSegmentGetNbrinfo:
    def test_example_files(self, tmp_path):
        name = tmp_path / "nbr"
        r = kavu.segment_get_nbrinfo(np.array([[1, 2], [1, 2]]), name)
        assert r == (0, str(name), str(name) + ".idx")
        np.testing.assert_array_equal(np.fromfile(r.data_file, "<i4"),
                                      [1, 1, 2, 2, 2, 1, 1, 2])
        np.testing.assert_array_equal(np.fromfile(r.index_file, "<i4"), [1, 0, 2, 16])

    def test_one_label_gives_empty_files_and_max_lbl_changes_nothing(self, tmp_path):
        name = str(tmp_path / "one")
        assert kavu.call("KAVU_SEGMENT_GET_NBRINFO", np.zeros((3, 3)), name).value == 0
        assert (tmp_path / "one").stat().st_size == 0 and (tmp_path / "one.idx").stat().st_size == 0
        labels = np.array([[0, 1], [2, 3]])
        kavu.segment_get_nbrinfo(labels, tmp_path / "a")
        kavu.call("KAVU_SEGMENT_GET_NBRINFO", labels, str(tmp_path / "b"), max=40)
        assert (tmp_path / "a").read_bytes() == (tmp_path / "b").read_bytes()

    def test_refusals(self, tmp_path):
        e = error_of(kavu.segment_get_nbrinfo, np.array([[0, 5]]), tmp_path / "n", max_lbl=3)
        assert (e.name, e.text) == ("KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
                                    "KAVU_SEGMENT_GET_NBRINFO: MAX_LBL needs to be at least 5.")
        e = error_of(kavu.segment_get_nbrinfo, np.array([[0, 2**32 - 1]], np.uint32),
                     tmp_path / "n")
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_ERROR",
            "KAVU_SEGMENT_GET_NBRINFO: Error: labels of LABELS need to be below 2147483648, "
            "found 4294967295.")
        assert not (tmp_path / "n").exists()
        e = error_of(kavu.segment_get_nbrinfo, np.zeros((2, 2)), tmp_path / "no" / "such")
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_FILE_ERR",
            f"KAVU_SEGMENT_GET_NBRINFO: Cannot open file {tmp_path}/no/such for writing.")
        e = error_of(kavu.call, "KAVU_SEGMENT_GET_NBRINFO", np.zeros((2, 2)), 5)
        assert e.routine == "KAVU_SEGMENT_GET_NBRINFO" and not e.name.startswith("KAVU_MBLK")

    @settings(max_examples=50, deadline=None)
    @given(labels=small_images)
    def test_files_equal_a_dictionary_reference(self, labels, tmp_path_factory):
        name = tmp_path_factory.mktemp("nbr") / "n"
        kavu.segment_get_nbrinfo(labels, name)
        data, index = nbrinfo_reference(labels)
        np.testing.assert_array_equal(np.fromfile(name, "<i4"), data)
        np.testing.assert_array_equal(np.fromfile(str(name) + ".idx", "<i4"), index)
