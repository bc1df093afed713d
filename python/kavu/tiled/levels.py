"""The level image the watershed floods: the Sobel gradient magnitude over the
chosen bands, quantised to 16 bits on one scale for the whole image. A pixel's
level depends only on its 3 x 3 neighbourhood (edge-replicated at the image
border) and on that scale, so every tile computes the same level for it."""

import numpy as np

MAX_LEVEL = 65535


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
    nodata) saturate."""

    def __init__(self):
        self.largest = np.float32(0)

    def observe(self, magnitude, valid=None):
        values = magnitude if valid is None else magnitude[valid]
        if values.size and not np.isfinite(largest := values.max()):
            values = values[np.isfinite(values)]  # beside NaN or infinite pixels
            largest = values.max(initial=0)
        if values.size:
            self.largest = max(self.largest, largest)

    def join(self, other):
        """Takes in what another quantiser observed (of other pixels)."""
        self.largest = max(self.largest, other.largest)

    def levels(self, magnitude):
        """uint16 levels of a float32 magnitude array (overwritten on the way)."""
        factor = np.float32(MAX_LEVEL / self.largest) if self.largest > 0 else np.float32(0)
        scaled = np.multiply(magnitude, factor, out=magnitude)
        np.rint(scaled, out=scaled)
        np.fmin(scaled, np.float32(MAX_LEVEL), out=scaled)  # NaN (no gradient) too: a ridge
        return scaled.astype(np.uint16)
