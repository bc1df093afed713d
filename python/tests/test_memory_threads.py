"""Threads give the results of sequential calls; the workers of a tiled run
are bounded by the cores and the memory left, and named when memory runs out."""

import subprocess
import sys
import threading
import time
import warnings

import numpy as np
import pytest

import host_controls
import kavu
from cli_support import fields, write_raster
from kavu.cli import commands as cli
from kavu.tiled import pipeline
from kavu.tiled import run as driver
from kavu.tiled.window import segment_window


def region_statistics(seed):
    rng = np.random.default_rng(seed)
    labels = rng.integers(0, 1000, size=(300, 400)).astype(np.uint32)
    image = rng.random((4, 300, 400), dtype=np.float32)
    return labels, image


def work_of(seed):
    """A thread's calls on arrays of its own; returns their results."""
    labels, image = region_statistics(seed)
    levels = (image[0] * 500).astype(np.uint16)

    def run():
        out = [kavu.compute_reg_info(labels, image)]
        with pytest.raises(kavu.Error):
            kavu.compute_reg_info(labels, image[:, :1])
        out.append(kavu.watershed(levels, image, long=True, merge_bd=True))
        out.append(kavu.iter_lambda_segment(image[:, :12, :15]))
        return out
    return run


def assert_same_results(a, b):
    assert len(a) == len(b)
    for x, y in zip(a, b):
        assert type(x) is type(y)
        for u, v in zip(x, y):
            np.testing.assert_array_equal(u, v)


def test_two_threads_give_the_results_of_sequential_calls():
    works = [work_of(seed) for seed in (1, 2)]
    expected = [work() for work in works]
    results = [[], []]
    errors = []

    def thread(k):
        try:
            for _ in range(10):
                results[k].append(works[k]())
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=thread, args=(k,)) for k in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for k in (0, 1):
        assert len(results[k]) == 10
        for r in results[k]:
            assert_same_results(r, expected[k])
    assert host_controls.live_temporaries() == 0



MiB = 1 << 20


@pytest.mark.parametrize("seed", range(4))
def test_workers_are_bounded_by_the_cores_and_the_windows_memory_holds(monkeypatch, seed):
    """Against the rule written out: the most workers, at most those asked and one
    a core, whose windows fit in the room; at least one."""
    rng = np.random.default_rng(seed)
    cores = int(rng.integers(1, 9))
    monkeypatch.setattr(pipeline, "default_workers", lambda: cores)
    for asked, window, room in zip(rng.integers(0, 2000, 99), rng.integers(1, 400, 99),
                                   rng.integers(-100, 3000, 99)):
        asked = int(asked) or None
        fits = [n for n in range(1, min(asked or cores, cores) + 1) if n * window <= room]
        n, fewer = pipeline.bound_workers(asked, window * MiB, pipeline.Room(room * MiB, "L"))
        assert n == max(fits, default=1)
        assert str(fewer) == ("None" if n == (asked or n) else
                              f"workers={asked}: {n} run, one a core; more would only hold "
                              "windows in memory" if n == min(asked, cores) else
                              f"workers={asked}: {n} run: a window takes about {window} MiB "
                              f"and {max(room, 0)} MiB are left under L")


def test_the_room_left_under_ulimit_v_is_measured():
    code = ("import resource, kavu.tiled.pipeline as p; size = p._status_bytes(open('/proc/self/"
            "status').read(), 'VmSize'); resource.setrlimit(resource.RLIMIT_AS, (size + 300 * "
            "p.MiB, -1)); room = p.available_memory(); print(room.limit, room.bytes // p.MiB)")
    limit, mib = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                check=True).stdout.rsplit(" ", 1)
    assert limit == "the address-space limit (ulimit -v)" and 280 <= int(mib) <= 300


@pytest.mark.parametrize("workers, failure, line", [
    ("1000", None, "warning: --workers 1000: 2 run, one a core; more would only hold windows "
     "in memory"),
    ("1", MemoryError("no room"), "error: out of memory: no room; try a smaller --tile"),
    ("2", MemoryError("no room"), "error: out of memory: no room, with 2 workers holding a "
     "window each; try fewer --workers or a smaller --tile"),
])
def test_windows_in_flight_and_out_of_memory_name_the_workers(tmp_path, monkeypatch, capsys,
                                                               workers, failure, line):
    monkeypatch.setattr(pipeline, "default_workers", lambda: 2)
    monkeypatch.setattr(warnings, "showwarning", warnings.showwarning)
    running, most = [], []

    def window(*args):
        running.append(1)
        most.append(len(running))
        time.sleep(0.02)                    # time for windows queued behind it to start
        running.pop()
        if failure:
            raise failure
        return segment_window(*args)
    monkeypatch.setattr(driver, "segment_window", window)
    src = write_raster(tmp_path / "in.tif", fields(160, 200, seed=3))
    code = cli.main(["segment", str(src), str(tmp_path / "out.tif"), "--tile", "32",
                     "--workers", workers])
    assert (code, capsys.readouterr().err) == (1 if failure else 0, f"kavu segment: {line}\n")
    assert max(most) <= 2
