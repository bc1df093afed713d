"""One scene's windows on a Dask cluster of a scheduler and two worker
processes: the same bytes as `kavu segment` alone, also when a worker is
killed mid-run; a lost scheduler ends the run without output or work
folder; `kavu batch` runs a scene again when its worker is lost."""

import os
import signal
import socket
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import distributed
import numpy as np
import pytest

import kavu
from cli_support import fields, run, write_raster
from kavu.raster.segment import segment_raster
from kavu.tiled.cluster import ClusterLost
from kavu.tiled.run import SegmentOptions

SAMPLE = os.environ.get("KAVU_SAMPLE") or os.path.join(os.path.dirname(__file__),
                                                       "../../data/L7_ETMs.tif")


@pytest.fixture
def cluster():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        address = f"tcp://127.0.0.1:{s.getsockname()[1]}"
    cli = [sys.executable, "-m", "distributed.cli."]
    scheduler = subprocess.Popen([cli[0], cli[1], cli[2] + "dask_scheduler", "--host", "127.0.0.1",
                                  "--port", address.rsplit(":", 1)[1], "--dashboard-address", ":0"],
                                 stderr=subprocess.DEVNULL)
    workers = subprocess.Popen([cli[0], cli[1], cli[2] + "dask_worker", address, "--nworkers", "2",
                                "--nthreads", "1", "--no-dashboard"], stderr=subprocess.DEVNULL)
    try:
        for _ in range(12):  # the scheduler may take a while to start on a busy machine
            try:
                client = distributed.Client(address, timeout=5)  # reconnects for 5 s at most
                break
            except OSError:
                pass
        with client:
            client.wait_for_workers(2)
            yield scheduler, client
    finally:
        for process in (workers, scheduler):
            process.kill()
            process.wait()


def kill_a_busy_worker(client):
    """kill -9 the worker running the most tasks (then holding the most results)."""
    pids, running, held = client.run(os.getpid), client.processing(), client.has_what()
    busiest = max(pids, key=lambda w: (len(running.get(w, ())), len(held.get(w, ()))))
    os.kill(pids[busiest], signal.SIGKILL)


def at_tile(n, action):
    """A progress factory calling action() once the n-th window is kept."""
    class Bar:
        def __init__(self, total, stage):
            self.stage, self.done = stage, 0

        def update(self):
            self.done += 1
            if self.stage == "segmenting" and self.done == n:
                action()

        def close(self):
            pass
    return Bar


def test_windows_on_workers_give_the_same_bytes_when_a_worker_is_lost(tmp_path, cluster):
    _, client = cluster
    options = ("--tile", 64, "--regions", 300)
    alone, spread = tmp_path / "alone.tif", tmp_path / "spread.tif"
    for out, more in ((alone, ()), (spread, ("--scheduler", client.scheduler.address))):
        r = run("segment", SAMPLE, out, *options, *more)
        assert r.returncode == 0, r.stderr
    assert spread.read_bytes() == alone.read_bytes()
    lost = tmp_path / "lost.tif"
    segment_raster(SAMPLE, lost, SegmentOptions(tile=64, regions=300),
                   progress=at_tile(5, lambda: kill_a_busy_worker(client)), client=client)
    assert lost.read_bytes() == alone.read_bytes()
    image = np.moveaxis(fields(150, 170, seed=2), 0, -1)
    np.testing.assert_array_equal(kavu.segment(image, tile=32, client=client),
                                  kavu.segment(image, tile=32))

    # kavu batch: the scene of the lost worker runs again, from a clean start.
    scenes = [write_raster(tmp_path / f"s{i}.tif", fields(400, 400, seed=i)) for i in range(2)]
    client.wait_for_workers(2)
    future = ThreadPoolExecutor(1).submit(kavu.batch, scenes, tmp_path / "batch", client, tile=64)
    while not list((tmp_path / "batch").glob(".s*.labels.tif.*")):  # a scene is running
        time.sleep(0.01)
    kill_a_busy_worker(client)
    rows = future.result()
    assert [row.status for row in rows] == ["done", "done"]
    assert sorted(p.name for p in (tmp_path / "batch").iterdir()) == [
        "batch.csv", "batch.json", "s0.labels.tif", "s1.labels.tif"]


def test_a_lost_scheduler_ends_the_run_without_output(tmp_path, cluster):
    scheduler, client = cluster
    out = tmp_path / "out.tif"
    with pytest.raises(ClusterLost, match=r"^lost the Dask scheduler tcp://127\.0\.0\.1:[0-9]+; "
                       "nothing was written$"):
        segment_raster(SAMPLE, out, SegmentOptions(tile=64), client=client,
                       progress=at_tile(3, scheduler.kill))
    assert os.listdir(tmp_path) == []
