"""The pieces of `kavu segment` that make tiles agree: levels that do not
depend on the window, a tile grid that covers every pixel once, the spare
regions of a merging call, and the resolution of label pairs."""

import numpy as np
import pytest

from kavu.levels import gradient_magnitude
from kavu.segment import LabelBook, SpareRegions
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


@pytest.mark.parametrize("height, width, tile", [(65, 65, 32), (1, 1, 5), (37, 70, 23), (7, 9, 1)])
def test_grid_covers_every_pixel_once_in_row_order(height, width, tile):
    tiles = grid(height, width, tile, tile)
    count = np.zeros((height, width), int)
    for t in tiles:
        count[t.y0:t.y1, t.x0:t.x1] += 1
        (wy0, wy1), (wx0, wx1) = t.window
        assert (wy0, wy1, wx0, wx1) == (t.y0 - 1, t.y1 + 1, t.x0 - 1, t.x1 + 1)
        assert (t.overlap_y, t.overlap_x) == (int(t.y0 > 0), int(t.x0 > 0))
    assert (count == 1).all()
    assert [t.index for t in tiles] == list(range(len(tiles)))
    assert [(t.y0, t.x0) for t in tiles] == sorted((t.y0, t.x0) for t in tiles)


def four_neighbours(mask):
    up = np.zeros_like(mask)
    up[1:] |= mask[:-1]
    up[:-1] |= mask[1:]
    up[:, 1:] |= mask[:, :-1]
    up[:, :-1] |= mask[:, 1:]
    return up


@pytest.mark.parametrize("width, k, keep_bottom", [(1, 3, True), (2, 1, False), (7, 9, True),
                                                   (8, 4, True)])
def test_spare_regions_are_isolated_and_keep_the_bottom_row(width, k, keep_bottom):
    rng = np.random.default_rng(width)
    rows = 10
    image = rng.uniform(0, 9, (2, rows, width)).astype(np.float32)
    labels = rng.integers(1, 5, (rows, width)).astype(np.uint32)
    margin_v = np.stack([np.arange(1, rows + 1), 100 + np.arange(rows) % k]).astype(np.uint32)
    call = SpareRegions.extend(image, labels, None, None, margin_v, first_spare=50,
                               keep_bottom=keep_bottom)
    np.testing.assert_array_equal(call.labels[:rows], labels)
    np.testing.assert_array_equal(call.image[:, :rows], image)
    assert (call.mask[:rows] == 1).all()
    below = call.mask[rows:].astype(bool)
    if keep_bottom:
        np.testing.assert_array_equal(call.labels[-1], labels[-1])
        np.testing.assert_array_equal(call.image[:, -1], image[:, -1])
        below = below[:-1]
    spare = call.labels[rows:rows + len(below)][below]
    np.testing.assert_array_equal(np.sort(spare), 50 + np.arange(k))
    assert not (four_neighbours(below) & below).any()      # no spare touches another
    assert not below[0].any()                              # nor the tile
    if keep_bottom:
        assert not below[-1].any()                         # nor the copied row
    assert call.margin_v.shape == (2, call.labels.shape[0])
    assert (call.margin_v[:, rows:] == 0).all()


def test_label_book_against_a_brute_force_union():
    rng = np.random.default_rng(8)
    book = LabelBook()
    seen = rng.integers(1, 300, 200).astype(np.uint32)
    book.see(seen)
    pairs = rng.integers(1, 300, (60, 2)).astype(np.uint32)
    book.add_pairs(pairs.ravel())
    table, n = book.final_labels(start=1)
    group = {int(v): {int(v)} for v in range(300)}
    for a, b in pairs:
        merged = group[int(a)] | group[int(b)]
        for v in merged:
            group[v] = merged
    present = sorted(set(int(v) for v in seen))
    for a in present:
        for b in present:
            assert (table[a] == table[b]) == (b in group[a])
    assert sorted(set(table[present])) == list(range(1, n + 1))
