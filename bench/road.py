"""The tiled road: `kavu segment` on a synthetic GeoTIFF, tile by tile and in
one piece (one tile as large as the image). Each run is its own process; its
time is wall time and its memory the process's peak resident set (ru_maxrss
from wait4), interpreter and libraries included."""

import os
import subprocess
import sys
import time

import numpy as np

import synth

SEED = 424242
# uint16 like most satellite products: the field's values (about -6 .. 6) scaled.
SCALE, OFFSET = 4000.0, 32768.0


def write_raster(path, n, bands=3):
    """An n x n synthetic GeoTIFF, written block row by block row (memory
    bounded whatever n), kept between runs."""
    if os.path.exists(path):
        return path
    import rasterio
    from rasterio.transform import from_origin
    field = synth.Field(n, bands, SEED + n)
    tmp = path + ".part"
    profile = dict(driver="GTiff", width=n, height=n, count=bands, dtype="uint16", tiled=True,
                   blockxsize=256, blockysize=256, crs="EPSG:32725",
                   transform=from_origin(300000, 9100000, 30, 30))
    with rasterio.open(tmp, "w", **profile) as dst:
        for r in range(0, n, synth.BLOCK):
            rows = field.window(r, min(r + synth.BLOCK, n), 0, n)
            data = np.clip(rows * SCALE + OFFSET, 0, 65535).round().astype(np.uint16)
            dst.write(data, window=rasterio.windows.Window(0, r, n, data.shape[1]))
    os.replace(tmp, path)
    return path


def _run(cmd):
    """(seconds, peak resident bytes) of one child process; exits on failure."""
    t = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - t
    err = proc.stderr.read()
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({proc.returncode}): {err.strip()}")
    return seconds, usage.ru_maxrss * 1024


def baseline_rss():
    """Peak resident set of a process that only imports what the command line
    imports: subtracted to give the memory the segmentation itself needs."""
    return _run([sys.executable, "-c", "import numpy, rasterio, kavu, kavu.cli"])[1]


def segment(raster, out, tile, lambda_threshold, reps=1):
    """Median seconds and the largest peak of `reps` runs of kavu segment."""
    cmd = [sys.executable, "-m", "kavu", "segment", raster, out, "--tile", str(tile),
           "--lambda", repr(lambda_threshold)]
    runs = [_run(cmd) for _ in range(reps)]
    return float(np.median([r[0] for r in runs])), max(r[1] for r in runs)


def adjusted_rand_index(a, b):
    """Adjusted Rand index of two label images (1: the same partition)."""
    a = np.unique(a.ravel(), return_inverse=True)[1].astype(np.int64)
    b = np.unique(b.ravel(), return_inverse=True)[1].astype(np.int64)
    pairs = np.unique(a * (int(b.max()) + 1) + b, return_counts=True)[1].astype(np.float64)

    def comb2(counts):
        return float(np.sum(counts * (counts - 1) / 2))

    n = a.size
    index = comb2(pairs)
    sa, sb = comb2(np.bincount(a).astype(np.float64)), comb2(np.bincount(b).astype(np.float64))
    expected = sa * sb / (n * (n - 1) / 2)
    top = (sa + sb) / 2
    return 1.0 if top == expected else (index - expected) / (top - expected)


def read_labels(path):
    import rasterio
    with rasterio.open(path) as src:
        return src.read(1)
