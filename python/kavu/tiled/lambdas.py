"""Choosing lambda, the merge cost threshold, when the user does not give it:
from a wanted number of regions (`regions`, `mean_area`), read off the
merge schedules of sample windows of the image, or by default from the
image's own contrast, so that the same scene stored as 8-bit or 16-bit
values gives about the same segmentation. Also the warnings when a wanted
number of regions or a given lambda is out of the image's reach."""

import math
import warnings
from typing import NamedTuple

import numpy as np

from ..binding import routines
from ..binding.host_messages import KavuWarning
from .pipeline import bound_workers, ordered_map, window_bytes
from .window import flood, read_window
from .small_regions import cheapest_hosts, neighbour_pairs, region_sums
from .geometry import Tile
from .relabel import groups

# The default lambda is this share of the summed band variances: merge costs
# grow with the square of the values' scale, and so does the variance. 0.1
# leaves a few thousand regions in a 512 x 512 photograph.
DEFAULT_SHARE_OF_VARIANCE = 0.1
WHOLE_IMAGE_PIXELS = 1024 * 1024  # images up to this size are their own sample
SAMPLE_SIDE = 512  # the smallest sample window
LARGEST_SAMPLE_SIDE = 2048
SIDES_PER_REGION = 3  # a window spans this many mean region widths
SAMPLE_SHARE = 1 / 8  # of a larger image's pixels, in at least 3 x 3 windows
MOST_WINDOWS = 64
LANDING = 0.25  # a count further than this from the wanted one is out of reach


class BandSpread:
    """Count, sums and sums of squares of the valid pixels of every band."""

    def __init__(self):
        self.count, self.sums, self.squares = 0, 0.0, 0.0

    def observe(self, bands, mask=None):
        values = bands.reshape(len(bands), -1).astype(np.float64)
        if mask is not None:
            values = values[:, mask.ravel() != 0]
        self.count += values.shape[1]
        self.sums = self.sums + values.sum(axis=1)
        self.squares = self.squares + (values * values).sum(axis=1)

    def join(self, other):
        """Adds what another spread observed, as if observed here next."""
        self.count += other.count
        self.sums = self.sums + other.sums
        self.squares = self.squares + other.squares

    def variance(self):
        if self.count == 0:
            return 0.0
        mean = self.sums / self.count
        return float(np.maximum(self.squares / self.count - mean * mean, 0).sum())


def default_lambda(spread):
    return DEFAULT_SHARE_OF_VARIANCE * spread.variance()


def window_side(mean_area=None):
    """Sample windows wide enough for a few regions of the wanted mean area
    across: a region cut by a window's edge looks smaller than it is."""
    if mean_area is None:
        return SAMPLE_SIDE
    side = SIDES_PER_REGION * math.sqrt(mean_area)
    return int(min(max(SAMPLE_SIDE, math.ceil(side / 64) * 64), LARGEST_SAMPLE_SIDE))


def sample_tiles(height, width, side=SAMPLE_SIDE):
    """The sample windows, as tiles: the whole image when it is small, else
    windows of `side` evenly spread over it, enough to hold SAMPLE_SHARE of
    its pixels. A tile's owned pixels are its window less an eighth of the
    side where the window ends inside the image: only they are counted, their
    regions seen with the pixels around them."""
    if height * width <= WHOLE_IMAGE_PIXELS:
        return [Tile(0, 0, 0, 0, height, 0, width, 0, height, 0, width)]
    wanted = min(max(9, math.ceil(SAMPLE_SHARE * height * width / side**2)), MOST_WINDOWS)
    along_y = max(1, min(height // side, math.ceil(math.sqrt(wanted * height / width))))
    along_x = max(1, min(width // side, math.ceil(wanted / along_y)))

    def spans(size, n):
        if size <= side:
            return [(0, size)]
        starts = (
            [(size - side) // 2]
            if n == 1
            else [round(i * (size - side) / (n - 1)) for i in range(n)]
        )
        return [(start, start + side) for start in starts]

    margin = side // 8
    return [
        Tile(
            0,
            0,
            0,
            y0 + margin * (y0 > 0),
            y1 - margin * (y1 < height),
            x0 + margin * (x0 > 0),
            x1 - margin * (x1 < width),
            y0,
            y1,
            x0,
            x1,
        )
        for y0, y1 in spans(height, along_y)
        for x0, x1 in spans(width, along_x)
    ]


class SampleWindow(NamedTuple):
    """A sample window's basins as a graph, and its merge schedule: what a
    run makes of the window at any lambda, without its pixels."""

    costs: np.ndarray  # running maximum of the merge costs, float32
    merges: np.ndarray  # (k, 2) basins that each merge joins, in merge order
    level0: np.ndarray  # (m, 2) basins that meet at level 0: a run joins them
    touching: np.ndarray  # (p, 2) neighbouring basins
    boundary: np.ndarray  # (p,) their common boundary length
    area: np.ndarray  # per basin, in pixels (basin 0: pixels that take no part)
    sums: np.ndarray  # (nbands, basins) band sums
    owned: np.ndarray  # per basin, its pixels among the tile's owned pixels

    def regions_at(self, threshold, min_size):
        """The window's share of the regions left when merging stops at the
        threshold, level-0 basins joined and specks absorbed as a run does:
        each region counts its owned pixels over its area."""
        area, owned = self._regions(threshold, min_size)
        return float((owned / area).sum())

    def pixels_and_area(self, threshold, min_size):
        """(owned pixels, the sum over them of the area of the region each
        lies in) when merging stops at the threshold: their ratio is the area
        of a typical pixel's region, which large regions dominate as they do
        the pixels."""
        area, owned = self._regions(threshold, min_size)
        return float(owned.sum()), float((owned * area).sum())

    def _regions(self, threshold, min_size):
        """Area and owned pixels of each region left at the threshold."""
        k = int(np.searchsorted(self.costs, np.float32(threshold), side="left"))
        _, group = groups(len(self.area), np.concatenate([self.merges[:k], self.level0]))
        if min_size > 1:
            group = self._specks_absorbed(group, min_size)
        area = np.bincount(group, self.area)
        owned = np.bincount(group, self.owned)
        area[group[0]] = 0  # no region
        return area[area > 0], owned[area > 0]

    def _specks_absorbed(self, group, min_size):
        """The window's speck rounds (binding.small_regions) on the graph of the regions."""
        while True:
            n = int(group.max()) + 1
            area = np.bincount(group, self.area, minlength=n)
            a, b = group[self.touching[:, 0]].astype(np.int64), group[self.touching[:, 1]]
            # Only the boundaries of specks count (and stay few as lambda grows).
            apart = (
                (a != b)
                & (a != group[0])
                & (b != group[0])
                & ((area[a] < min_size) | (area[b] < min_size))
            )
            keys, where = np.unique(
                np.minimum(a, b)[apart] * n + np.maximum(a, b)[apart], return_inverse=True
            )
            if not len(keys):
                return group
            boundary = np.bincount(where, self.boundary[apart])
            with np.errstate(invalid="ignore", divide="ignore"):
                means = np.stack([np.bincount(group, s, minlength=n) for s in self.sums]) / area
            joins = cheapest_hosts(
                np.stack([keys // n, keys % n], axis=1), boundary, area, means, min_size
            )
            if not len(joins):
                return group
            group = groups(n, joins)[1][group]


def sample_window(source, tile, quantiser, connectivity, merge_lines):
    """The SampleWindow of a tile, or None when none of its pixels take part."""
    return sample_of(read_window(source, tile), tile, quantiser, connectivity, merge_lines)


def sample_of(pixels, tile, quantiser, connectivity, merge_lines):
    """sample_window of the tile's window already read."""
    image, basins, mask, level0 = flood(pixels, quantiser, connectivity, merge_lines)
    if mask is not None:
        if not mask.any():
            return None
        image[:, mask == 0] = 0  # pixels that take no part: a region of their own
        basins[mask == 0] = 0
    schedule = routines.iter_lambda_segment(image, in_label_img=basins)
    n = int(basins.max()) + 1
    area, sums = region_sums(image, basins, n)
    area[0] = 0
    owned = np.bincount(basins[tile.owned].ravel(), minlength=n).astype(np.float64)
    touching, boundary = neighbour_pairs(basins)
    merges = schedule.label_map.reshape(-1, 2).astype(np.int64)
    level0 = level0.reshape(-1, 2).astype(np.int64)
    return SampleWindow(
        np.maximum.accumulate(schedule.lambdas.astype(np.float32)),
        merges * (merges != 0).all(axis=1, keepdims=True),
        level0[(level0 != 0).all(axis=1)],
        touching,
        boundary.astype(np.float64),
        area,
        sums,
        owned,
    )


def sample_windows(source, quantiser, connectivity, merge_lines, mean_area=None, workers=1):
    """The SampleWindows of the image, for regions of about mean_area pixels,
    `workers` of them scheduled at once (read on this thread, in order)."""
    side = window_side(mean_area)
    workers, _ = bound_workers(workers, window_bytes(side * side, source.nbands))
    windows = (
        (tile, read_window(source, tile))
        for tile in sample_tiles(source.height, source.width, side)
    )

    def schedule(window):
        return sample_of(window[1], window[0], quantiser, connectivity, merge_lines)

    found = (w for _, w in ordered_map(schedule, windows, workers))
    return [w for w in found if w is not None]


def lambda_for_regions(windows, n_regions, valid_pixels, min_size):
    """The threshold at which the windows, scaled to the image's valid pixels,
    hold closest to n_regions regions (None without windows); warns
    (KAVU_REGIONS_OUT_OF_REACH) when even that is further than LANDING off."""
    if not windows:
        return None
    owned = sum(float(w.owned.sum()) for w in windows)

    def estimate(t):
        return sum(w.regions_at(t, min_size) for w in windows) * valid_pixels / owned

    # Merging stops at the first cost not below the threshold (in float32):
    # the threshold just above a cost lets that merge happen.
    costs = np.unique(np.concatenate([w.costs for w in windows]))
    candidates = np.concatenate([[np.float32(0)], np.nextafter(costs, np.float32(np.inf))])
    lo, hi = 0, len(candidates) - 1  # estimate falls as the threshold rises
    while lo < hi:
        mid = (lo + hi) // 2
        if estimate(candidates[mid]) > n_regions:
            lo = mid + 1
        else:
            hi = mid
    found = {i: estimate(candidates[i]) for i in {max(lo - 1, 0), lo}}
    best = min(sorted(found), key=lambda i: abs(found[i] - n_regions))
    if abs(found[best] - n_regions) > LANDING * n_regions:
        warnings.warn(
            KavuWarning(
                "KAVU_REGIONS_OUT_OF_REACH",
                None,
                f"about {n_regions:.0f} regions are out of this image's reach: the closest "
                f"lambda, {candidates[best]:.7g}, leaves about {found[best]:.0f}",
            ),
            stacklevel=3,
        )
    return float(candidates[best])


def warn_past_every_merge(threshold, windows, pixels):
    """Warns (KAVU_LAMBDA_PAST_EVERY_MERGE) when the threshold is above every
    merge cost of the sample windows of an image of that many pixels: the
    image merges into one region."""
    largest = max((float(w.costs[-1]) for w in windows if len(w.costs)), default=None)
    if largest is not None and threshold > largest:
        where = (
            "the image"
            if pixels <= WHOLE_IMAGE_PIXELS
            else f"{len(windows)} sample windows of the image"
        )
        warnings.warn(
            KavuWarning(
                "KAVU_LAMBDA_PAST_EVERY_MERGE",
                None,
                f"lambda {threshold:.7g} is above every merge cost of {where} (the largest is "
                f"{largest:.7g}): every region merges into one; a lambda below that leaves more",
            ),
            stacklevel=3,
        )
