"""The pieces of `kavu segment` that make tiles agree: levels that do not
depend on the window, a tile grid that covers every pixel once, and the
resolution of label pairs."""

import numpy as np
import pytest

from kavu.levels import MAX_LEVEL, Quantiser, gradient_magnitude, interior_valid
from kavu.pieces import basin_pairs_as_regions
from kavu.unions import LabelBook
from kavu.tiling import grid


def padded(image, r0, r1, c0, c1):
    """Rows [r0, r1) x cols [c0, c1) of an edge-extended image, as read_bands gives them."""
    h, w = image.shape[1:]
    rows = np.clip(np.arange(r0, r1), 0, h - 1)
    cols = np.clip(np.arange(c0, c1), 0, w - 1)
    return image[:, rows][:, :, cols]


def test_levels_of_a_window_are_those_of_the_whole_image():
    rng = np.random.default_rng(3)
    h, w = 61, 47
    image = rng.uniform(0, 1000, (3, h, w)).astype(np.float32)
    whole = gradient_magnitude(padded(image, -1, h + 1, -1, w + 1))      # pixel (r, c) at [r, c]
    for _ in range(50):
        r0, c0 = rng.integers(-1, h), rng.integers(-1, w)
        r1, c1 = r0 + rng.integers(1, 20), c0 + rng.integers(1, 20)
        part = gradient_magnitude(padded(image, r0 - 1, r1 + 1, c0 - 1, c1 + 1))
        ys, xs = slice(max(r0, 0), min(r1, h)), slice(max(c0, 0), min(c1, w))
        inside = part[ys.start - r0:ys.stop - r0, xs.start - c0:xs.stop - c0]
        np.testing.assert_array_equal(inside, whole[ys, xs])      # bit for bit


def test_gradient_is_the_sobel_magnitude_over_bands():
    image = np.zeros((2, 5, 5), np.float32)
    image[0, :, 3:] = 10                                   # a vertical step in band 0
    image[1, 3:, :] = 20                                   # a horizontal step in band 1
    g = gradient_magnitude(image)                          # inner 3 x 3
    # Band 0 at column 2 (just left of the step): 4 * 10; band 1 at row 2: 4 * 20.
    assert g[0, 1] == pytest.approx(40.0) and g[1, 0] == pytest.approx(80.0)
    assert g[1, 1] == pytest.approx(np.hypot(40.0, 80.0))
    assert g[0, 0] == 0


def test_quantiser_scale_and_saturation():
    q = Quantiser()
    q.observe(np.array([[1.0, 4.0]], np.float32))
    q.observe(np.array([[2.0, 100.0]], np.float32), valid=np.array([[True, False]]))
    levels = q.levels(np.array([0.0, 2.0, 4.0, 9.0], np.float32))
    np.testing.assert_array_equal(levels, [0, 32768, MAX_LEVEL, MAX_LEVEL])
    assert levels.dtype == np.uint16
    flat = Quantiser()
    flat.observe(np.zeros((3, 3), np.float32))
    np.testing.assert_array_equal(flat.levels(np.zeros(2, np.float32)), [0, 0])


def test_interior_valid_needs_the_whole_neighbourhood():
    mask = np.ones((5, 6), np.uint8)
    mask[2, 4] = 0
    valid = interior_valid(mask)
    assert valid.shape == (3, 4)
    np.testing.assert_array_equal(np.argwhere(~valid), [[0, 2], [0, 3], [1, 2], [1, 3], [2, 2],
                                                         [2, 3]])


@pytest.mark.parametrize("height, width, tile, margin",
                         [(65, 65, 32, 16), (1, 1, 8, 3), (37, 70, 23, 64), (7, 9, 8, 1)])
def test_grid_covers_every_pixel_once_in_row_order(height, width, tile, margin):
    tiles = grid(height, width, tile, margin)
    count = np.zeros((height, width), int)
    for t in tiles:
        count[t.y0:t.y1, t.x0:t.x1] += 1
        assert (t.wy0, t.wy1, t.wx0, t.wx1) == (max(t.y0 - margin, 0), min(t.y1 + margin, height),
                                                max(t.x0 - margin, 0), min(t.x1 + margin, width))
        assert (t.row > 0, t.col > 0) == (t.y0 > 0, t.x0 > 0)
    assert (count == 1).all()
    assert [t.index for t in tiles] == list(range(len(tiles)))
    assert [(t.y0, t.x0) for t in tiles] == sorted((t.y0, t.x0) for t in tiles)


def test_watershed_pairs_become_region_pairs():
    ws = np.array([[5, 5, 6], [7, 7, 6]], np.uint32)
    out = np.array([[20, 20, 21], [20, 20, 21]], np.uint32)
    pairs = np.array([6, 5, 7, 5, 9, 6], np.uint32)       # 9 is on no pixel here
    np.testing.assert_array_equal(basin_pairs_as_regions(pairs, ws, out), [[21, 20]])


def test_label_book_numbers_groups_consecutively_by_smallest_label():
    book = LabelBook()
    book.add_pairs(np.array([12, 3, 40, 12], np.uint32))   # 3, 12, 40 are one region
    table, n = book.final_labels(40, start=5)
    assert n == 38
    assert table[0] == 0
    assert table[1] == 5 and table[2] == 6
    assert table[3] == table[12] == table[40] == 7
    assert table[4] == 8 and table[13] == 16


def test_label_book_against_a_brute_force_union():
    rng = np.random.default_rng(8)
    book = LabelBook()
    pairs = rng.integers(1, 300, (60, 2)).astype(np.uint32)
    book.add_pairs(pairs.ravel())
    table, n = book.final_labels(299, start=1)
    group = {int(v): {int(v)} for v in range(300)}
    for a, b in pairs:
        merged = group[int(a)] | group[int(b)]
        for v in merged:
            group[v] = merged
    present = list(range(1, 300))
    for a in present:
        for b in present:
            assert (table[a] == table[b]) == (b in group[a])
    assert sorted(set(table[present])) == list(range(1, n + 1))
