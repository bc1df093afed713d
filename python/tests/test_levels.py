"""The levels' floor: the image's median gradient (at most three tenth
percentiles), read off histograms that tiles add up in any order, and the
levels below it 0, the others as without."""

import pickle

import numpy as np
import pytest

import kavu
from kavu.tiled.levels import MAX_LEVEL, Quantiser

SEEDS = range(6)  # the median below three tenth percentiles or above


def magnitudes(seed):
    rng = np.random.default_rng(seed)
    scale = 10.0 ** rng.uniform(-3, 3)
    return (rng.gamma(rng.uniform(0.5, 6), 3.0, (60, 70)) * scale).astype(np.float32)


@pytest.mark.parametrize("seed", SEEDS)
def test_floor_is_the_median_whatever_the_tiles_and_levels_below_it_are_0(seed):
    m = magnitudes(seed)
    valid = np.random.default_rng(seed).random(m.shape) < 0.8
    whole = Quantiser()
    whole.observe(m, valid)
    parts = []
    for rows in (slice(0, 17), slice(17, 41), slice(41, 60)):  # joined in another order
        q = Quantiser()
        q.observe(m[rows], valid[rows])
        parts.append(q)
    joined = Quantiser()
    for q in parts[::-1]:
        joined.join(q)
    ordered = np.sort(m[valid])
    median, tenth = (ordered[int(np.ceil(share * len(ordered))) - 1] for share in (0.5, 0.1))
    wanted = min(median, 3 * tenth)
    floor = whole.floor()
    assert floor == joined.floor() == pickle.loads(pickle.dumps(joined)).floor()
    assert wanted * (1 - 1 / 64) <= floor <= wanted  # the lower edge of a bin 1/128 wide
    reference = np.minimum(np.rint(m * np.float32(MAX_LEVEL / m[valid].max())), MAX_LEVEL)
    reference[m < floor] = 0
    assert np.array_equal(whole.levels(m.copy()), reference.astype(np.uint16))
    plain = Quantiser("sobel")
    plain.join(whole)
    assert plain.floor() == 0 and (plain.levels(m.copy())[m < floor] > 0).any()


def test_levels_out_of_the_choices_are_refused_by_name():
    with pytest.raises(ValueError, match="levels='canny': needs to be one of floored, sobel"):
        kavu.segment(np.zeros((8, 8)), levels="canny")
