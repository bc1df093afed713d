"""How far one scene scales on a Dask cluster (`kavu segment --scheduler`):

    PYTHONPATH=build/python python3 bench/cluster_scale.py IN.tif [workers ...]

For each number of worker processes (default 1 and 2; one thread each, a
LocalCluster on this machine) the scene is segmented once and the run's wall
time is split into what the client does itself (the scale pass, lambda,
keeping the tiles, the final numbering, writing the GeoTIFF) and what the
workers do (the windows' tasks, from Dask's task stream). The client's time
per Mpx against a window's time per Mpx on one worker is how many workers one
client keeps busy before it becomes the limit. Every run's output is compared
with the in-process run's bytes."""

import os
import sys
import tempfile
import time

import distributed
import rasterio

from kavu.raster import segment as raster_segment
from kavu.tiled import run as driver
from kavu.tiled.run import SegmentOptions
from stages import SPENT, timed

SCALE_PASS = []


timed(driver.TiledSegmentation, "choose_lambda", "lambda")
timed(driver.TiledSegmentation, "keep", "keeping")
timed(driver.TiledSegmentation, "final_labels", "final numbering")
timed(raster_segment, "write_labels", "writing")


def scale_pass_timer(total, stage):
    """A progress bar that notes the scale pass's wall time (its tasks run on
    the workers; the client only joins their results)."""

    class Bar:
        started = time.perf_counter()

        def update(self, n=1):
            pass

        def close(self):
            if stage == "scale":
                SCALE_PASS.append(time.perf_counter() - self.started)

    return Bar()


def run(path, out, client):
    SPENT.clear()
    SCALE_PASS.clear()
    started = time.perf_counter()
    if client is None:
        raster_segment.segment_raster(path, out, SegmentOptions(), workers=1)
        return time.perf_counter() - started, None
    with distributed.get_task_stream(client) as stream:
        raster_segment.segment_raster(
            path, out, SegmentOptions(), client=client, progress=scale_pass_timer
        )
    wall = time.perf_counter() - started
    tasks = sum(
        part["stop"] - part["start"]
        for task in stream.data
        for part in task["startstops"]
        if part["action"] == "compute"
    )
    return wall, tasks


def main():
    path = sys.argv[1]
    counts = [int(n) for n in sys.argv[2:]] or [1, 2]
    with rasterio.open(path) as ds:
        mpx = ds.width * ds.height / 1e6
    work = tempfile.mkdtemp(prefix="cluster_scale.")
    alone = os.path.join(work, "alone.tif")
    wall, _ = run(path, alone, None)
    print(f"in one process, one worker thread: {wall:.1f} s ({mpx / wall:.2f} Mpx/s)")
    for n in counts:
        with distributed.LocalCluster(
            n_workers=n, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster, distributed.Client(cluster) as client:
            out = os.path.join(work, f"{n}.tif")
            wall, tasks = run(path, out, client)
            client_own = sum(SPENT.values())
            same = open(out, "rb").read() == open(alone, "rb").read()
            print(
                f"{n} worker processes: {wall:.1f} s ({mpx / wall:.2f} Mpx/s), same bytes: {same}"
            )
            print(
                "  client's own: "
                + ", ".join(f"{k} {v:.2f} s" for k, v in SPENT.items())
                + f"; {client_own / mpx * 1e3:.1f} ms/Mpx (scale pass on the workers: "
                f"{SCALE_PASS[0]:.1f} s)"
            )
            # While the windows run, the client only keeps tiles; the final
            # numbering and the writing follow the last window, a tail that
            # more workers do not shorten.
            keeping = SPENT.get("keeping", 0.0)
            tail = SPENT.get("final numbering", 0.0) + SPENT.get("writing", 0.0)
            print(
                f"  windows' tasks: {tasks:.1f} s, {tasks / mpx * 1e3:.1f} ms/Mpx on one worker;"
                f" keeping {keeping / mpx * 1e3:.1f} ms/Mpx: one client feeds about"
                f" {tasks / keeping:.0f} workers; then {tail / mpx * 1e3:.1f} ms/Mpx of final"
                " numbering and writing"
            )
    print(f"outputs in {work}")


if __name__ == "__main__":
    main()
