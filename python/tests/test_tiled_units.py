"""The tiled segmentation's pieces on literal inputs: stitching, relabelling,
specks' ties and lambda for a number of regions."""

import numpy as np

from kavu.tiled.geometry import grid
from kavu.tiled.lambdas import SampleWindow, lambda_for_regions
from kavu.tiled.relabel import join_pairs, join_table
from kavu.tiled.small_regions import cheapest_hosts
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


def test_a_speck_between_equal_costs_joins_the_smaller_label():
    area, means = np.array([0, 10, 1, 10.0]), np.array([[0, 0, 1, 2.0]])
    for pairs in ([[1, 2], [2, 3]], [[2, 3], [1, 2]]):
        hosts = cheapest_hosts(np.array(pairs), np.ones(2), area, means, 5)
        assert hosts.tolist() == [[2, 1]]


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
