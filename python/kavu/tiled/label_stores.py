"""Where the tiles' kept labels wait for the final numbering: a raw uint32
file beside the output (`LabelScratch`, 4 bytes a pixel on disk, none in
memory) or an array (`LabelArray`, for numpy callers)."""

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
