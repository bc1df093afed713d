"""Timing and peak-memory measurement of one callable.

Peak memory is the growth of the process's peak resident set (VmHWM) over its
resident set just before the call: writing "5" to /proc/self/clear_refs resets
the peak to the current resident size. It counts every page the call touches,
whoever allocates it (the module, the host, numpy, the peer library), and not
memory reserved but never touched."""

import gc
import statistics
import time


def _status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} missing from /proc/self/status")


def peak_bytes(fn):
    """Runs fn once; returns (result, bytes of resident memory the call added at its peak)."""
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = _status_kib("VmRSS")
    result = fn()
    return result, (_status_kib("VmHWM") - before) * 1024


def median_time(fn, budget=1.0, min_reps=3, max_reps=15, first=None):
    """Median wall time of fn in seconds. `first` is the time of a call already
    made (the memory run); it only counts as a sample when a call is so slow
    (over 2 s) that warming up is not worth another call."""
    samples = [first] if first is not None and first > 2.0 else []
    spent = sum(samples)
    while len(samples) < max_reps and (len(samples) < min_reps or spent < budget):
        t = time.perf_counter()
        fn()
        dt = time.perf_counter() - t
        samples.append(dt)
        spent += dt
    return statistics.median(samples), len(samples)


def timed(fn):
    t = time.perf_counter()
    result = fn()
    return result, time.perf_counter() - t


def fit_exponent(sizes, values):
    """Least-squares slope of log(value) against log(size)."""
    import numpy as np
    x, y = np.log(np.asarray(sizes, float)), np.log(np.asarray(values, float))
    return float(np.polyfit(x, y, 1)[0])
