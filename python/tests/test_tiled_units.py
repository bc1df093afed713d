"""The tiled segmentation's pieces on literal inputs: stitching, relabelling,
specks' ties, the window's speck rounds, the specks of the whole image read
in chunks, lambda for a number of regions and the margin that follows the
regions."""

import numpy as np
import pytest
from scipy.sparse import coo_matrix
from scipy.sparse.csgraph import connected_components

from kavu.tiled.geometry import grid
from kavu.tiled.lambdas import SampleWindow, lambda_for_regions
from kavu.tiled.array_source import ArraySource
from kavu.tiled.label_stores import LabelArray, LabelTally
from kavu.tiled.relabel import LabelBook, groups, join_pairs, join_table
from kavu.tiled.run import SegmentOptions, TiledSegmentation
from kavu.binding.small_regions import absorb_small_regions
from kavu.tiled.small_regions import (
    cheapest_hosts,
    neighbour_pairs,
    region_means,
    region_sums,
    settle_specks,
)
from kavu.tiled.stitching import Stitcher

U = np.uint32


def test_stitching_joins_what_both_windows_join():
    left, right = grid(4, 8, 4, 1)  # 4 x 4 tiles, windows 4 x 5
    local0 = np.array([[1] * 5, [1] * 5, [2] * 5, [2, 2, 2, 2, 3]], U)
    local1 = np.array([[5, 6, 6, 6, 6], [5] * 5, [7] * 5, [7] * 5], U)
    kept0, kept1 = (np.repeat(U([[a], [a], [b], [c]]), 4, 1) for a, b, c in ((1, 2, 2), (3, 5, 6)))
    s = Stitcher(8)
    assert s.pairs(left, local0, kept0) == []
    s.keep(left, local0, kept0)
    assert np.concatenate(s.pairs(right, local1, kept1)).tolist() == [[1, 3], [2, 5]]


def test_relabelling_from_pairs_numbers_groups_by_their_smallest_label():
    joined = join_pairs(U([[0, 3, 1], [2, 4, 5]]), [[4, 1], [5, 3]])
    assert joined.tolist() == [[0, 3, 1], [2, 1, 3]]
    table, count = join_table(7, [[6, 2], [4, 1]])
    assert table.tolist() == [0, 1, 2, 3, 1, 4, 2] and count == 4
    with pytest.raises(ValueError, match="not in the forest"):
        join_table(7, [[6, 7]])


def components(n, pairs):
    """scipy's graph components: numbered in the order of their smallest label."""
    pairs = np.asarray(pairs).reshape(-1, 2)
    graph = coo_matrix((np.ones(len(pairs)), (pairs[:, 0], pairs[:, 1])), shape=(n, n))
    return connected_components(graph, directed=False)[1]


def test_label_forest_groups_equal_graph_components():
    rng = np.random.default_rng(11)
    for case in range(40):
        n = int(rng.integers(1, 300))
        pairs = rng.integers(0 if case % 2 else 1, n, (int(rng.integers(0, 2 * n)), 2))
        pairs = pairs[(pairs > 0).all(axis=1)] if n > 1 else pairs[:0]
        assert groups(n, pairs)[1].tolist() == components(n, pairs).tolist(), case
        # The run's book, joined tile after tile as its labels grow.
        book = LabelBook()
        for piece in np.array_split(pairs * 9, 5):
            book.add_pairs(piece)
        table, count = book.final_labels(9 * n)
        expected = components(9 * n + 1, pairs * 9)
        assert table.tolist() == expected.tolist() and count == expected.max(), case


def settled_in_one_pass(table, area, sums, labels, min_size):
    """Whole-image speck rounds on whole arrays, joins by graph components."""
    while True:
        n = int(table.max()) + 1
        region_area = np.bincount(table, area, minlength=n)
        region_sums_ = np.stack([np.bincount(table, s, minlength=n) for s in sums])
        pairs, blen = neighbour_pairs(table[labels])
        small = region_area < min_size
        near = small[pairs[:, 0]] | small[pairs[:, 1]]
        with np.errstate(invalid="ignore", divide="ignore"):
            joins = cheapest_hosts(
                pairs[near], blen[near], region_area, region_sums_ / region_area, min_size
            )
        if not len(joins):
            return table
        table = components(n, joins)[table].astype(U)  # region 0 joins nothing: stays 0


def test_specks_of_the_whole_image_read_in_chunks_equal_one_pass(tmp_path):
    rng = np.random.default_rng(3)
    for case in range(12):
        h, w = rng.integers(3, 50, 2)
        labels = rng.integers(0, 200, (h, w)).astype(U)  # run labels, 0 for none
        labels = np.repeat(labels, rng.integers(1, 3), axis=case % 2)[:h, :w]
        n = int(labels.max()) + 1
        table = np.zeros(n, U)  # run label -> region, as stitching leaves it
        table[1:] = np.sort(rng.integers(1, max(2, n // 3), n - 1))
        _, table = np.unique(table, return_inverse=True)
        image = (rng.random((3, h, w)) * 100).astype(np.float32)  # sums where order counts
        area, sums = region_sums(image, labels, n)
        folder = tmp_path / str(case)
        folder.mkdir()
        tally = LabelTally(3, str(folder), chunk=int(rng.integers(1, 40)))
        cuts = np.r_[1, np.sort(rng.integers(1, n, 4)), n]  # as tiles append their labels
        for first, last in zip(cuts[:-1], cuts[1:]):
            tally.append(area[first:last], sums[:, first:last])
        store = LabelArray(h, w)
        store.write(0, 0, labels)
        min_size = int(rng.integers(2, 15))
        expected = settled_in_one_pass(table.astype(U), area, sums, labels, min_size)
        got = settle_specks(table.astype(U), tally, store, h, w, min_size)
        assert got.tolist() == expected.tolist(), case


def test_a_speck_between_equal_costs_joins_the_smaller_label():
    area, means = np.array([0, 10, 1, 10.0]), np.array([[0, 0, 1, 2.0]])
    for pairs in ([[1, 2], [2, 3]], [[2, 3], [1, 2]]):
        hosts = cheapest_hosts(np.array(pairs), np.ones(2), area, means, 5)
        assert hosts.tolist() == [[2, 1]]


def absorbed_by_numpy(image, labels, min_size):
    """The rule, one round after another, with the numpy pieces of the image-wide pass."""
    while True:
        pairs, blen = neighbour_pairs(labels)
        if not len(pairs):
            return labels
        area, means = region_means(image, labels, int(labels.max()) + 1)
        joins = cheapest_hosts(pairs, blen, area, means, min_size)
        if not len(joins):
            return labels
        labels = join_pairs(labels, joins)


def test_window_speck_rounds_equal_the_numpy_rule():
    rng = np.random.default_rng(5)
    for case in range(60):
        h, w = rng.integers(1, 40, 2)
        nbands = (1, 3, 6, 9)[case % 4]
        # Small regions of few distinct values, so that equal costs (ties) are common.
        labels = rng.integers(0, rng.integers(2, 60), (h, w)).astype(U)
        labels = np.repeat(labels, rng.integers(1, 4), axis=case % 2)[:h, :w]
        image = rng.integers(0, 4, (nbands, *labels.shape)).astype(np.float32)
        image[:, labels == 0] = np.nan  # pixels that take no part carry anything
        image *= np.float32(rng.choice([1, 1e-3, 7.3]))
        min_size = int(rng.integers(1, 12))
        expected = absorbed_by_numpy(image, labels, min_size)
        assert np.array_equal(absorb_small_regions(image, labels, min_size), expected), case


def test_lambda_for_regions_on_a_known_schedule():
    none, area = np.zeros((0, 2), int), np.array([0, 10, 10, 10, 10.0])
    w = SampleWindow(
        np.float32([1, 2, 3]),
        np.array([[1, 2], [3, 4], [1, 3]]),
        none,
        none,
        np.zeros(0),
        area,
        np.zeros((1, 5)),
        area,
    )  # four basins, three merges
    above = np.nextafter(np.float32([0, 1, 2, 3]), np.float32(np.inf))
    assert lambda_for_regions([w], 4, 40, 0) == 0
    assert lambda_for_regions([w], 2, 40, 0) == lambda_for_regions([w], 4, 80, 0) == above[2]
    assert lambda_for_regions([w], 1, 40, 0) == above[3]


def chosen_margin(square, **options):
    """The margin a run takes on flat squares of that side (plus noise)."""
    rng = np.random.default_rng(2)
    cells = rng.uniform(0, 100, (3, 800 // square + 1, 800 // square + 1)).astype(np.float32)
    image = np.repeat(np.repeat(cells, square, 1), square, 2)[:, :800, :800]
    image += rng.normal(0, 1, image.shape).astype(np.float32)
    run = TiledSegmentation(
        ArraySource(image), SegmentOptions(tile=256, **options), None, workers=1
    )
    for _ in run.measure_scale():
        pass
    run.choose_lambda()
    tile = run.tiles[5]  # a margin on every side
    return {tile.y0 - tile.wy0, tile.wy1 - tile.y1, tile.x0 - tile.wx0, tile.wx1 - tile.x1}


def test_the_margin_follows_the_regions():
    assert chosen_margin(3) == {32}  # the smallest margin
    assert chosen_margin(3, regions=4) == {128}  # regions far larger: half the tile
    assert chosen_margin(24) == {48}  # twice their width
    assert chosen_margin(3, margin=5) == {5}
