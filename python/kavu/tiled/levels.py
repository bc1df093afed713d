"""The level image the watershed floods: the Sobel gradient magnitude over the
chosen bands, quantised to 16 bits on one scale for the whole image, with
the gradients below a floor (by default the image's median gradient, or three
tenth percentiles if less) set to level 0. A pixel's level depends only on
its 3 x 3 neighbourhood (edge-replicated at the image border) and on the
scale and the floor, both measured over the whole image, so every tile
computes the same level for it.

Why the floor: basins that meet at level 0 are joined whatever their merge
cost, and a stretch of pixels that all sit below the floor is one level-0
plateau, one basin. Inside a smooth region (a sky, a ramp of shading, a
field) the gradient is mostly noise and stays under the median, so the
region starts as one piece: merging alone would cut it into bands, since
halves of a ramp differ in mean and the cost grows with their areas. Edges
of regions, even faint ones, rise above the floor along their length and
keep the plateaus on either side apart. On a piecewise-smooth ground truth
at the true region count this raised the adjusted Rand index from 0.85 to
0.93 (docs/quality.md); a floor of 1.2 medians let plateaus leak through
faint edges of a flat noisy field, 0.6 changed nothing."""

import numpy as np

MAX_LEVEL = 65535
LEVEL_RULES = ("floored", "sobel")  # the default first; "sobel": no floor
FLOOR_SHARE = 1.0  # the floor, in medians of the image's gradient
# ... but at most this many tenth percentiles: where edges cover most pixels
# (regions a few pixels wide, a town in a satellite scene) the median is an
# edge's gradient, not the noise's, and plateaus under it would join regions
# that differ clearly. In noise, and on the piecewise-smooth truth, the median
# is 1.6 to 2.1 tenth percentiles: the floor stays the median there.
NOISE_SHARE = 3.0
# The median is read off a histogram of the magnitudes' float32 bit patterns
# cut to their top 16 bits (sign, exponent and 7 bits of mantissa): bins 1/128
# of a value wide, counted exactly and in any order, so that the tiles' counts
# add up to the same floor whatever their number or order.
_HISTOGRAM_SHIFT = 16
_HISTOGRAM_BINS = 1 << 15  # non-negative floats only


def gradient_magnitude(block):
    """Sobel magnitude over bands of a float32 (nbands, h, w) block, for its
    inner (h - 2, w - 2) pixels. The operations and their order are the same
    for every block: float32 results are then bit-identical across tiles."""
    with np.errstate(invalid="ignore", over="ignore"):  # NaN and inf pixels: masked later
        return _sobel_magnitude(block)


def _sobel_magnitude(block):
    total = None
    for band in block:
        rows = band[:-2] + band[1:-1] * np.float32(2) + band[2:]  # vertical smoothing
        gx = rows[:, 2:] - rows[:, :-2]
        cols = band[:, :-2] + band[:, 1:-1] * np.float32(2) + band[:, 2:]
        gy = cols[2:] - cols[:-2]
        sq = gx * gx + gy * gy
        total = sq if total is None else np.add(total, sq, out=total)
    return np.sqrt(total, out=total)


def interior_valid(mask_block):
    """Pixels whose whole 3 x 3 neighbourhood is valid, for the inner part of
    a uint8 (h, w) mask block: only their gradients measure the image and not
    a jump to nodata."""
    m = mask_block != 0
    return (
        m[:-2, :-2]
        & m[:-2, 1:-1]
        & m[:-2, 2:]
        & m[1:-1, :-2]
        & m[1:-1, 1:-1]
        & m[1:-1, 2:]
        & m[2:, :-2]
        & m[2:, 1:-1]
        & m[2:, 2:]
    )


class Quantiser:
    """Maps gradient magnitudes onto 0 .. 65535 with the largest magnitude met
    among valid pixels of the whole image at the top; larger ones (next to
    nodata) saturate. With rule "floored", magnitudes below FLOOR_SHARE times
    the median of those pixels are level 0; with "sobel" only those that
    round to 0 are."""

    def __init__(self, rule=LEVEL_RULES[0]):
        self.rule = rule
        self.largest = np.float32(0)
        self.histogram = np.zeros(_HISTOGRAM_BINS, np.int64)

    def observe(self, magnitude, valid=None):
        values = magnitude if valid is None else magnitude[valid]
        if values.size and not np.isfinite(largest := values.max()):
            values = values[np.isfinite(values)]  # beside NaN or infinite pixels
            largest = values.max(initial=0)
        if values.size:
            self.largest = max(self.largest, largest)
            bins = np.ascontiguousarray(values, np.float32).view(np.uint32) >> _HISTOGRAM_SHIFT
            bins &= _HISTOGRAM_BINS - 1  # -0.0 is 0.0
            self.histogram += np.bincount(bins.ravel(), minlength=_HISTOGRAM_BINS)

    def join(self, other):
        """Takes in what another quantiser observed (of other pixels)."""
        self.largest = max(self.largest, other.largest)
        self.histogram += other.histogram

    def __getstate__(self):
        # Sent to every task of a cluster run: the few bins in use, not all.
        used = np.flatnonzero(self.histogram)
        return self.rule, self.largest, used, self.histogram[used]

    def __setstate__(self, state):
        self.rule, self.largest, used, counts = state
        self.histogram = np.zeros(_HISTOGRAM_BINS, np.int64)
        self.histogram[used] = counts

    def floor(self):
        """The magnitude below which levels are 0 (0.0: none forced):
        FLOOR_SHARE times the median, or NOISE_SHARE times the tenth
        percentile if that is less (each the lower edge of its bin)."""
        if self.rule == "sobel" or not self.histogram.any():
            return np.float32(0)
        median, tenth = self._percentile(0.5), self._percentile(0.1)
        return min(median * np.float32(FLOOR_SHARE), tenth * np.float32(NOISE_SHARE))

    def _percentile(self, share):
        counts = np.cumsum(self.histogram)
        at = int(np.searchsorted(counts, max(1, int(np.ceil(share * counts[-1])))))
        return np.array([at << _HISTOGRAM_SHIFT], np.uint32).view(np.float32)[0]

    def plain_if_out_of_reach(self, windows, wanted, valid_pixels, min_size):
        """For a wanted number of regions that the floored levels' basins do not
        reach at lambda 0 (sample windows, lambdas.py): the plain rule instead,
        whose basins are more. True when it switched (the windows are then
        out of date). Plateaus are joined whatever lambda, so a fine
        segmentation (the Landsat scene in 5000 regions of 25 px) needs them
        smaller than the floor makes them; coarser ones keep the floor."""
        if self.floor() == 0 or not windows:
            return False
        owned = sum(float(w.owned.sum()) for w in windows)
        finest = sum(w.regions_at(np.float32(0), min_size) for w in windows) * valid_pixels / owned
        if finest >= wanted:
            return False
        self.rule = "sobel"
        return True

    def levels(self, magnitude):
        """uint16 levels of a float32 magnitude array (overwritten on the way)."""
        floor = self.floor()
        flat = magnitude < floor if floor > 0 else None  # NaN stays a ridge
        factor = np.float32(MAX_LEVEL / self.largest) if self.largest > 0 else np.float32(0)
        scaled = np.multiply(magnitude, factor, out=magnitude)
        if flat is not None:
            scaled[flat] = 0
        np.rint(scaled, out=scaled)
        np.fmin(scaled, np.float32(MAX_LEVEL), out=scaled)  # NaN (no gradient) too: a ridge
        return scaled.astype(np.uint16)
