"""Levels that do not depend on the window they are computed in, so that
tiles agree along their borders."""

import numpy as np

from kavu.levels import gradient_magnitude


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
