"""Where the tiles' kept labels wait for the final numbering: a raw uint32
file beside the output (`LabelScratch`, 4 bytes a pixel on disk, none in
memory) or an array (`LabelArray`, for numpy callers); and the area and band
sums of every label of the run (`LabelTally`), in memory or in files of the
work folder."""

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
    """Pixel count and band sums (float64) of every label of the run, label
    0 (none) first, appended in label order as the tiles are kept and read
    back in chunks of labels (`chunks`). Given a folder, they wait in files
    there (one a column): a run's memory then holds none of them, whatever
    the number of regions."""

    def __init__(self, nbands, folder=None, chunk=1 << 20):
        self.columns = 1 + nbands
        self.count, self.chunk = 0, chunk
        if folder is None:
            self.files, self.arrays = None, np.zeros((self.columns, 1024))
        else:
            names = ["area"] + [f"sum{b}" for b in range(nbands)]
            self.files = [open(os.path.join(folder, f"tally-{name}.f64"), "w+b") for name in names]
        self.append(np.zeros(1), np.zeros((nbands, 1)))

    @classmethod
    def of(cls, area, sums):
        """A tally in memory of the labels 0 .. len(area) - 1 from their
        areas and (nbands, n) band sums."""
        tally = cls(len(sums))
        tally.arrays = np.vstack([np.asarray(area, np.float64)[None], sums]).astype(np.float64)
        tally.count = len(area)
        return tally

    def append(self, area, sums):
        """area (k,) and sums (nbands, k) of the next k labels."""
        top = self.count + len(area)
        if self.files is not None:
            for f, column in zip(self.files, (area, *sums)):
                f.write(np.ascontiguousarray(column, np.float64).tobytes())
        else:
            if top > self.arrays.shape[1]:
                grown = np.zeros((self.columns, max(top, 2 * self.arrays.shape[1])))
                grown[:, : self.count] = self.arrays[:, : self.count]
                self.arrays = grown
            self.arrays[0, self.count : top] = area
            self.arrays[1:, self.count : top] = sums
        self.count = top

    def chunks(self):
        """(first label, area (k,), sums (nbands, k)) of the labels in order,
        at most `chunk` at a time."""
        for f in self.files or ():
            f.flush()
        for first in range(0, self.count, self.chunk):
            k = min(self.chunk, self.count - first)
            if self.files is None:
                block = self.arrays[:, first : first + k]
            else:
                block = np.empty((self.columns, k))
                for f, row in zip(self.files, block):
                    row[:] = np.fromfile(f.name, np.float64, k, offset=first * 8)
            yield first, block[0], block[1:]

    def close(self):
        for f in self.files or ():
            f.close()
