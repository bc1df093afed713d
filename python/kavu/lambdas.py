"""Choosing lambda, the merge cost threshold, when the user does not give it:
from a wanted number of regions (`--regions`, `--mean-area`), read off the
merge schedules of a few sample windows of the image, or by default from the
image's own contrast, so that the same scene stored as 8-bit or 16-bit
values gives about the same segmentation."""

from typing import NamedTuple, Optional

import numpy as np

from . import _routines as routines
from .pieces import flood, read_window
from .tiling import Tile

# The default lambda is this share of the summed band variances: merge costs
# grow with the square of the values' scale, and so does the variance. 0.1
# leaves a few thousand regions in a 512 x 512 photograph.
DEFAULT_SHARE_OF_VARIANCE = 0.1
SAMPLE_SIDE = 512              # sample windows of the merge schedule
SAMPLES_PER_SIDE = 3           # up to 3 x 3 of them, spread evenly over the image


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


def sample_tiles(height, width):
    """The sample windows: along each axis the whole image when it is at
    most 1.5 sample sides, else up to SAMPLES_PER_SIDE windows evenly spaced
    (regions cut by a window's edge count as regions of their own, so a
    sample much smaller than the regions would overestimate their number)."""
    def starts(size):
        if size <= SAMPLE_SIDE * 3 // 2:
            return [(0, size)]
        n = min(SAMPLES_PER_SIDE, size // SAMPLE_SIDE)
        step = (size - SAMPLE_SIDE) / max(n - 1, 1)
        return [(round(i * step), round(i * step) + SAMPLE_SIDE) for i in range(n)]
    return [Tile(0, 0, 0, y0, y1, x0, x1, y0, y1, x0, x1)
            for y0, y1 in starts(height) for x0, x1 in starts(width)]


class Sample(NamedTuple):
    costs: np.ndarray       # running maximum of the merge costs, float32
    label_map: np.ndarray   # absorbed and surviving label of each merge
    basins: np.ndarray      # the labels the schedule starts from
    valid: Optional[np.ndarray]   # pixels that take part (None: all)
    n_valid: int

    def regions_at(self, threshold, min_size):
        """Regions of at least min_size pixels left when merging stops at
        the threshold: the others are specks that join a neighbour."""
        k = int(np.searchsorted(self.costs, np.float32(threshold), side="left"))
        label_map = self.label_map[:2 * k] if k else np.zeros(1, np.uint32)
        labels = routines.iter_lambda_create_label_image(self.basins, label_map).labels
        if self.valid is not None:
            labels = labels[self.valid != 0]
        areas = np.bincount(labels.ravel())
        return int(np.count_nonzero(areas >= max(min_size, 1)))


def sample_schedules(source, quantiser, connectivity, merge_lines):
    """The merge schedule of each sample window."""
    found = []
    for tile in sample_tiles(source.height, source.width):
        pixels = read_window(source, tile)
        basins, mask, _ = flood(pixels, quantiser, connectivity, merge_lines)
        image = np.ascontiguousarray(pixels.block[:, 2:-2, 2:-2])
        valid = basins.size if mask is None else int(np.count_nonzero(mask))
        if valid == 0:
            continue
        if mask is not None:              # pixels that take no part: one region of their own
            image[:, mask == 0] = 0
            basins[mask == 0] = 0
        schedule = routines.iter_lambda_segment(image, in_label_img=basins)
        found.append(Sample(np.maximum.accumulate(schedule.lambdas.astype(np.float32)),
                            schedule.label_map, basins, mask, valid))
    return found


def lambda_for_regions(samples, n_regions, valid_pixels, min_size):
    """The threshold at which the samples, scaled to the image's valid pixels,
    hold closest to n_regions regions; None without samples."""
    if not samples:
        return None
    total = sum(s.n_valid for s in samples)

    def estimate(t):
        return sum(s.regions_at(t, min_size) for s in samples) * valid_pixels / total

    # Merging stops at the first cost not below the threshold (in float32):
    # the threshold just above a cost lets that merge happen.
    costs = np.unique(np.concatenate([s.costs for s in samples]))
    candidates = np.concatenate([[np.float32(0)], np.nextafter(costs, np.float32(np.inf))])
    lo, hi = 0, len(candidates) - 1                  # estimate falls as the threshold rises
    while lo < hi:
        mid = (lo + hi) // 2
        if estimate(candidates[mid]) > n_regions:
            lo = mid + 1
        else:
            hi = mid
    best = min(sorted({max(lo - 1, 0), lo}),
               key=lambda i: abs(estimate(candidates[i]) - n_regions))
    return float(candidates[best])
