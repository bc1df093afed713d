"""Lambda-schedule merging: KAVU_ITER_LAMBDA_SEGMENT, KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE
and KAVU_TILE_LAMBDA_SEGMENT through kavu.call and their functions, against a
brute-force greedy merge written here and against each other."""

import numpy as np
import pytest

import kavu
from conftest import needs, same_partition

OUT = kavu.OUT
ITER = needs("KAVU_ITER_LAMBDA_SEGMENT")
CUT = needs("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE")
TILE = needs("KAVU_TILE_LAMBDA_SEGMENT")


def error_of(fn, *args, **kw):
    with pytest.raises(kavu.Error) as e:
        fn(*args, **kw)
    return e.value


def greedy_schedule(image, labels):
    """Brute-force full lambda schedule in float64: merge the cheapest pair of
    4-neighbouring regions until one is left. Returns, per merge, the cost, the
    partition afterwards, and whether the runner-up cost was too close to tell."""
    image = image.reshape(-1, *labels.shape).astype(np.float64)
    region = {int(l): {"n": 0, "sum": np.zeros(image.shape[0])} for l in np.unique(labels)}
    for l, px in zip(labels.ravel(), image.reshape(image.shape[0], -1).T):
        region[int(l)]["n"] += 1
        region[int(l)]["sum"] += px
    blen = {}
    for a, b in [(labels[:, :-1], labels[:, 1:]), (labels[:-1, :], labels[1:, :])]:
        for p, q in zip(a.ravel(), b.ravel()):
            if p != q:
                key = (min(p, q), max(p, q))
                blen[key] = blen.get(key, 0) + 1
    owner = {l: l for l in region}
    steps = []

    def cost(p, q):
        ra, rb = region[p], region[q]
        d = ra["sum"] / ra["n"] - rb["sum"] / rb["n"]
        return ra["n"] * rb["n"] / (ra["n"] + rb["n"]) * (d @ d) / blen[(p, q)]

    while blen:
        costs = sorted((cost(p, q), (p, q)) for p, q in blen)
        t, (a, z) = costs[0]
        close = len(costs) > 1 and costs[1][0] - t <= 1e-4 * max(t, 1e-12)
        region[a]["n"] += region[z]["n"]
        region[a]["sum"] += region[z]["sum"]
        del region[z]
        merged = {}
        for (p, q), n in blen.items():
            p, q = (a if p == z else p), (a if q == z else q)
            if p != q:
                key = (min(p, q), max(p, q))
                merged[key] = merged.get(key, 0) + n
        blen = merged
        owner = {l: (a if o == z else o) for l, o in owner.items()}
        steps.append((t, np.vectorize(owner.get)(labels), close))
    return steps


@ITER
class TestIterLambdaSegment:
    def test_two_by_two_gives_three_merges_of_pixel_labels(self):
        r = kavu.iter_lambda_segment(np.array([[1, 2], [4, 8]], np.float32))
        assert r.value == 0
        assert r.lambdas.dtype == np.float32 and r.lambdas.shape == (3,)
        assert r.label_map.dtype == np.uint32 and r.label_map.shape == (6,)
        assert set(r.label_map) <= {0, 1, 2, 3}
        c = kavu.call("KAVU_ITER_LAMBDA_SEGMENT", np.array([[1, 2], [4, 8]]), lambdas=OUT,
                      label=OUT)
        np.testing.assert_array_equal(c["lambdas"], r.lambdas)
        np.testing.assert_array_equal(c["label"], r.label_map)

    def test_one_region_writes_no_output(self):
        r = kavu.iter_lambda_segment(np.ones((3, 3)), in_label_img=np.zeros((3, 3), np.uint32))
        assert r.lambdas.size == 0 and r.label_map.size == 0
        c = kavu.call("KAVU_ITER_LAMBDA_SEGMENT", np.ones((1, 1)), lambdas=OUT, label_map=OUT)
        assert c.value == 0 and c["lambdas"] is None and c["label_map"] is None

    def test_refusals(self):
        image = np.zeros((3, 4), np.float32)
        e = error_of(kavu.iter_lambda_segment, image, in_label_img=np.zeros((3, 4), np.int32))
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
            "KAVU_ITER_LAMBDA_SEGMENT: The type of IN_LABEL_IMG needs to be type ULONG.")
        e = error_of(kavu.iter_lambda_segment, image, in_label_img=np.zeros((4, 3), np.uint32))
        assert (e.name, e.text) == (
            "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
            "KAVU_ITER_LAMBDA_SEGMENT: The first 2 dimensions of IMAGE and IN_LABEL_IMG do not "
            "match.")
        e = error_of(kavu.iter_lambda_segment, image, in_label_img=np.zeros(12, np.uint32))
        assert e.text == "KAVU_ITER_LAMBDA_SEGMENT: IN_LABEL_IMG needs to be 2D."

    def test_input_label_image_is_read_in_place_and_left_unchanged(self):
        labels = np.array([[5, 5, 9], [7, 7, 9]], np.uint32)
        before = labels.copy()
        r = kavu.iter_lambda_segment(np.arange(6, dtype=np.float32).reshape(2, 3),
                                     in_label_img=labels)
        np.testing.assert_array_equal(labels, before)
        assert set(r.label_map) <= {5, 7, 9} and r.lambdas.size == 2


@ITER
@CUT
@pytest.mark.parametrize("seed", range(12))
def test_schedule_equals_brute_force_greedy_merging(seed):
    rng = np.random.default_rng(seed)
    shape = tuple(rng.integers(2, 6, size=2))
    nbands = int(rng.integers(1, 4))
    image = rng.random((nbands,) + shape, dtype=np.float32)
    labels = rng.integers(0, 6, size=shape).astype(np.uint32) if seed % 2 else None
    r = kavu.iter_lambda_segment(image, in_label_img=labels)
    initial = labels if labels is not None else np.arange(np.prod(shape), dtype=np.uint32
                                                          ).reshape(shape)
    # Equal labels that do not touch are one region: the reference works on labels too.
    steps = greedy_schedule(image, initial)
    assert r.lambdas.size == len(steps)
    for k, (t, partition, close) in enumerate(steps):
        assert r.lambdas[k] == pytest.approx(t, rel=1e-4, abs=1e-6)
        cut = kavu.iter_lambda_create_label_image(initial, r.label_map[:2 * (k + 1)])
        assert cut.n_regions == len(np.unique(partition))
        assert same_partition(cut.labels, partition)
        if close:
            break  # beyond a near tie float32 and float64 may take different pairs


@CUT
class TestIterLambdaCreateLabelImage:
    def test_examples_through_both_entries(self):
        labels = np.array([[3, 3, 8], [1, 8, 8]], np.uint32)
        one = kavu.iter_lambda_create_label_image(labels, np.array([3], np.uint32))
        assert one.n_regions == 3 and same_partition(one.labels, labels)
        assert set(np.unique(one.labels)) == {0, 1, 2}
        c = kavu.call("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE", labels,
                      np.array([8, 3, 1, 3, 99, 1], np.uint32), OUT)
        assert c.value == 1 and (c[2] == 0).all() and c.args[:2] == (None, None)
        skipped = kavu.iter_lambda_create_label_image(labels, np.array([99, 1, 8, 3], np.uint32))
        assert skipped.n_regions == 2
        # Only the first dimension of the label map is read: a (M, 2) array applies one pair.
        two_rows = kavu.iter_lambda_create_label_image(labels, np.array([[8, 3], [1, 3]], np.uint32))
        assert two_rows.n_regions == 2

    def test_refusals_use_the_literal_argument_names(self):
        e = error_of(kavu.iter_lambda_create_label_image, np.zeros((2, 2), np.int32),
                     np.zeros(2, np.uint32))
        assert e.text == ("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE: The type of the 1st argument "
                          "needs to be type ULONG.")
        e = error_of(kavu.iter_lambda_create_label_image, np.zeros(4, np.uint32),
                     np.zeros(2, np.uint32))
        assert e.text == "KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE: the 1st argument needs to be 2D."
        e = error_of(kavu.iter_lambda_create_label_image, np.zeros((2, 2), np.uint32),
                     np.zeros(2, np.float32))
        assert e.text == ("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE: The type of the 2nd argument "
                          "needs to be type ULONG.")


@TILE
class TestTileLambdaSegment:
    def test_no_keywords_keeps_every_pixel_its_own_region(self):
        r = kavu.tile_lambda_segment(np.random.default_rng(0).random((3, 4)))
        assert r.last_lbl == 12 and r.labels.dtype == np.uint32
        np.testing.assert_array_equal(np.sort(r.labels.ravel()), np.arange(1, 13))
        assert r.merge_list.size == 0
        c = kavu.call("KAVU_TILE_LAMBDA_SEGMENT", np.zeros((3, 4)), OUT, out_merge=OUT)
        assert c.value == 11 and c["out_merge"] is None and c[0] is None

    def test_merge_list_pairs_are_written_larger_first_duplicates_kept(self):
        r = kavu.tile_lambda_segment(np.zeros((2, 2)),
                                     in_merge_list=np.array([3, 7, 7, 3, 1], np.uint32))
        np.testing.assert_array_equal(r.merge_list, [7, 3, 7, 3])

    def test_refusals(self, tmp_path):
        image = np.zeros((3, 4), np.float32)
        cases = [
            ({"in_label_img": np.zeros((3, 4), np.int32)}, "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
             "KAVU_TILE_LAMBDA_SEGMENT: The type of IN_LABEL_IMG needs to be type ULONG."),
            ({"in_label_img": np.zeros((4, 3), np.uint32)}, "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
             "KAVU_TILE_LAMBDA_SEGMENT: The first 2 dimensions of IMAGE and IN_LABEL_IMG do not "
             "match."),
            ({"mask": np.ones((3, 4), np.int16)}, "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
             "KAVU_TILE_LAMBDA_SEGMENT: The type of MASK needs to be type BYTE."),
            ({"margin_hlbl": np.zeros((2, 3), np.uint32)}, "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH",
             "KAVU_TILE_LAMBDA_SEGMENT: The first dimension of IMAGE and MARGIN_HLBL do not "
             "match."),
            ({"margin_vlbl": np.zeros((2, 4), np.uint32)}, "KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH",
             "KAVU_TILE_LAMBDA_SEGMENT: The 2nd dimensions of IMAGE and the size of MARGIN_VLBL "
             "do not match."),
            ({"margin_hlbl": np.zeros((2, 4), np.uint32)},
             "KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST",
             "KAVU_TILE_LAMBDA_SEGMENT: The SHARE_FILE_NAME needs to be set when MARGIN_VLBL or "
             "MARGIN_HLBL is set."),
            ({"share_file_name": tmp_path / "none" / "share"}, "KAVU_MBLK_SEGMENT_FILE_ERR",
             f"KAVU_TILE_LAMBDA_SEGMENT: Cannot open file {tmp_path}/none/share.idx for writing."),
        ]
        for kw, name, text in cases:
            e = error_of(kavu.tile_lambda_segment, image, **kw)
            assert (e.name, e.routine, e.text) == (name, "KAVU_TILE_LAMBDA_SEGMENT", text)

    def test_in_label_img_is_copied_unless_in_place_is_asked(self):
        labels = np.arange(12, dtype=np.uint32).reshape(3, 4)
        with pytest.raises(ValueError, match="in_place"):
            kavu.tile_lambda_segment(np.zeros((3, 4)), in_label_img=labels[:, ::2], in_place=True)
        frozen = labels.copy()
        frozen.flags.writeable = False
        with pytest.raises(ValueError, match="in_place"):
            kavu.tile_lambda_segment(np.zeros((3, 4)), in_label_img=frozen, in_place=True)
        r = kavu.tile_lambda_segment(np.zeros((3, 4)), in_label_img=frozen,
                                     lambda_threshold=1.0)
        assert r.last_lbl == 1 and (r.labels == 1).all()

    def test_in_place_renumbering_shows_only_when_asked(self, tmp_path):
        # Two tiles side by side; stripes 10 and 20 cross the border, 30 stays right.
        full = np.array([[10] * 8, [10] * 5 + [30] * 3, [20] * 8, [20] * 8], np.uint32)
        image = np.random.default_rng(3).random((2, 4, 8), dtype=np.float32)

        def right_tile(name, run):
            share = tmp_path / name
            for ext in (".idx", ".info"):
                (tmp_path / (name + ext)).touch()
            left = kavu.tile_lambda_segment(image[:, :, :4], in_label_img=full[:, :4].copy(),
                                            share_file_name=share, start_lbl=1)
            right = full[:, 4:].copy()
            margin = np.stack([full[:, 3], left.labels[:, 3]])  # input line, output line
            labels = run(right, share, left.last_lbl + 1, margin)
            assert not np.shares_memory(labels, right)
            return left, right

        def by_function(in_place):
            return lambda right, share, start, margin: kavu.tile_lambda_segment(
                image[:, :, 4:], in_label_img=right, in_place=in_place, share_file_name=share,
                start_lbl=start, margin_vlbl=margin).labels

        def by_call(read_only):
            def run(right, share, start, margin):
                right.flags.writeable = not read_only
                return kavu.call("KAVU_TILE_LAMBDA_SEGMENT", image[:, :, 4:], OUT, in_label=right,
                                 share=str(share), start=start, margin_v=margin)[1]
            return run

        for name, run in [("copy", by_function(False)), ("read_only", by_call(True))]:
            _, right = right_tile(name, run)
            np.testing.assert_array_equal(right, full[:, 4:])
        for name, run in [("in_place", by_function(True)), ("call", by_call(False))]:
            left, right = right_tile(name, run)
            # Continued stripes take the left tile's output labels; 30 gets a new one.
            assert (right[0] == left.labels[0, 3]).all() and (right[3] == left.labels[3, 3]).all()
            assert (right[1, 1:] == left.last_lbl + 1).all()

@ITER
@CUT
@TILE
@pytest.mark.parametrize("seed", range(8))
def test_tile_threshold_cuts_the_iterative_schedule(seed):
    rng = np.random.default_rng(100 + seed)
    image = rng.random((2, 7, 9), dtype=np.float32)
    r = kavu.iter_lambda_segment(image)
    threshold = float(np.quantile(r.lambdas, 0.6))
    k = int(np.argmax(r.lambdas >= threshold))  # the tile stops at the first cost not below
    cut = kavu.iter_lambda_create_label_image(np.arange(63, dtype=np.uint32).reshape(7, 9),
                                              r.label_map[:2 * k])
    tile = kavu.tile_lambda_segment(image, lambda_threshold=threshold)
    assert same_partition(tile.labels, cut.labels)
    assert tile.last_lbl == cut.n_regions
