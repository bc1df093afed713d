"""Where the tiled segmentation reads its pixels: a source. A numpy array is
one (`ArraySource`, here), a raster on disk another (kavu.raster.source).
Both give float32 bands (nbands, rows, cols) that repeat the
nearest edge pixel outside the image, so that a filter sees the same values
whichever window covers a pixel, and a uint8 mask (1: takes part), or None
when every pixel does."""

import numpy as np


def _padded(array, y0, y1, x0, x1, height, width):
    rows = np.clip(np.arange(y0, y1), 0, height - 1)
    cols = np.clip(np.arange(x0, x1), 0, width - 1)
    return array[..., rows[:, None], cols]


class ArraySource:
    """image: float32 (nbands, h, w); mask: uint8 (h, w) or None."""

    def __init__(self, image, mask=None):
        self.image, self.valid = image, mask
        self.nbands, self.height, self.width = image.shape

    def bands(self, y0, y1, x0, x1):
        return np.ascontiguousarray(_padded(self.image, y0, y1, x0, x1, self.height, self.width))

    def mask(self, y0, y1, x0, x1, outside="constant"):
        if self.valid is None:
            return None
        block = _padded(self.valid, y0, y1, x0, x1, self.height, self.width)
        if outside == "constant":
            rows, cols = np.arange(y0, y1), np.arange(x0, x1)
            inside = ((rows >= 0) & (rows < self.height))[:, None] & (
                (cols >= 0) & (cols < self.width)
            )
            block = block & inside.view(np.uint8)
        return np.ascontiguousarray(block)
