"""Where the tiles' kept labels wait for the final numbering: a raw uint32
file beside the output (`LabelScratch`, 4 bytes a pixel on disk, none in
memory) or an array (`LabelArray`, for numpy callers); and the area and band
sums of every label of the run (`LabelTally`), in memory or memory-mapped
from files of the work folder."""

import os

import numpy as np


class LabelScratch:
    def __init__(self, path, height, width):
        self.width = width
        self.fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600)
        os.ftruncate(self.fd, height * width * 4)

    def write(self, y0, x0, labels):
        for i, row in enumerate(labels):
            os.pwrite(self.fd, row.tobytes(), ((y0 + i) * self.width + x0) * 4)

    def read(self, y0, y1, x0, x1):
        labels = np.empty((y1 - y0, x1 - x0), np.uint32)
        for i in range(y1 - y0):
            row = os.pread(self.fd, (x1 - x0) * 4, ((y0 + i) * self.width + x0) * 4)
            labels[i] = np.frombuffer(row, np.uint32)
        return labels

    def close(self):
        os.close(self.fd)


class LabelArray:
    def __init__(self, height, width):
        self.labels = np.zeros((height, width), np.uint32)

    def write(self, y0, x0, labels):
        self.labels[y0 : y0 + labels.shape[0], x0 : x0 + labels.shape[1]] = labels

    def read(self, y0, y1, x0, x1):
        return self.labels[y0:y1, x0:x1]

    def close(self):
        pass


class LabelTally:
    """Pixel count (`area`) and band sums (`sums`, one array a band) of every
    label of the run, float64, index = label. Given a folder, each is a file
    there mapped into memory: the state of tens of millions of regions is then
    pages the kernel can write out, not memory the run holds. Grown by
    doubling, with zeros."""

    def __init__(self, nbands, folder=None):
        self.folder = folder
        self.names = ["area"] + [f"sum{b}" for b in range(nbands)]
        self.arrays = [np.zeros(0) for _ in self.names]
        self._grow(1024)

    @property
    def area(self):
        return self.arrays[0]

    @property
    def sums(self):
        return self.arrays[1:]

    def _grow(self, size):
        if self.folder is None:
            self.arrays = [np.concatenate([a, np.zeros(size - len(a))]) for a in self.arrays]
            return
        for i, name in enumerate(self.names):
            self.arrays[i] = None  # unmapped before the file grows
            path = os.path.join(self.folder, f"tally-{name}.f64")
            with open(path, "ab") as f:
                f.truncate(size * 8)
            self.arrays[i] = np.memmap(path, np.float64, "r+", shape=(size,))

    def add(self, first, area, sums):
        """area (k,) and sums (nbands, k) of the labels first .. first + k - 1."""
        top = first + len(area)
        if top > len(self.area):
            self._grow(max(top, 2 * len(self.area)))
        self.area[first:top] += area
        for total, band in zip(self.sums, sums):
            total[first:top] += band
