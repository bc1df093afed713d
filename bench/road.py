"""The tiled road: `kavu segment` on a synthetic GeoTIFF, tile by tile and in
one piece (one tile as large as the image). Each run is its own process; its
time is wall time and its memory the process's peak resident set (VmHWM, read
by the process itself as it ends), interpreter and libraries included.
(ru_maxrss of a child would not do: exec carries the parent's peak into it.)"""

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


# Runs the command line in this process and reports its peak on the pipe
# whose descriptor is argv[1].
_WRAPPER = """
import os, sys
from kavu.cli.commands import main
if len(sys.argv) > 2:
    code = main(sys.argv[2:])
else:  # the baseline: the libraries a run loads, and nothing done
    import numpy, rasterio, kavu.raster.segment
    code = 0
with open("/proc/self/status") as f:
    hwm = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
os.write(int(sys.argv[1]), str(hwm * 1024).encode())
sys.exit(code)
"""


def _run(args, build=None):
    """(seconds, peak resident bytes) of one `kavu` run in a process of its own,
    with the package of `build` when given."""
    read, write = os.pipe()
    t = time.perf_counter()
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python")) if build else None
    proc = subprocess.Popen([sys.executable, "-c", _WRAPPER, str(write)] + args,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            pass_fds=(write,), env=env)
    os.close(write)
    err = proc.stderr.read()
    proc.wait()
    seconds = time.perf_counter() - t
    with os.fdopen(read) as f:
        peak = f.read()
    if proc.returncode != 0:
        last = err.strip().splitlines()[-1] if err.strip() else ""
        raise RuntimeError(f"exit {proc.returncode}: {last}")
    return seconds, int(peak)


def baseline_rss():
    """Peak resident set of a process that only imports the command line:
    subtracted to give the memory the segmentation itself needs."""
    return _run([])[1]


def segment(raster, out, tile, lambda_threshold, reps=1, build=None):
    """Median seconds and the largest peak of `reps` runs of kavu segment."""
    args = ["segment", raster, out, "--tile", str(tile), "--lambda", repr(lambda_threshold)]
    runs = [_run(args, build) for _ in range(reps)]
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


def border_ratio(labels, tile):
    """How much more often labels change at tile borders than elsewhere: the
    mean change rate of the steps T-1 -> T and T -> T+1 over the tile borders
    T (rows and columns apart, the largest of the four), over the median
    step of the image. About 1 without seams."""
    rows = (labels[1:] != labels[:-1]).mean(axis=1)        # step y -> y + 1
    cols = (labels[:, 1:] != labels[:, :-1]).mean(axis=0)
    median = np.median(np.concatenate([rows, cols]))
    steps = [s[np.arange(tile, len(s), tile) + k].mean() for s in (rows, cols) for k in (-1, 0)
             if len(s) > tile]
    return max(steps) / median if steps and median > 0 else float("nan")


def read_labels(path):
    import rasterio
    with rasterio.open(path) as src:
        return src.read(1)
