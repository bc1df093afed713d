"""The share of `kavu segment`'s wall time each stage takes, on one worker
(with more, the stages overlap and their times no longer add up):

    PYTHONPATH=build-release/python python3 bench/stages.py IN.tif OUT.tif [kavu segment options]

Each stage function is wrapped with a timer in this process; the run is the
command line's own."""

import collections
import sys
import time

from kavu.cli import commands as cli
from kavu.raster import segment as raster_segment
from kavu.tiled import run as driver
from kavu.tiled import window as pieces

SPENT = collections.Counter()


def timed(owner, name, stage):
    inner = getattr(owner, name)

    def wrapper(*args, **kwargs):
        started = time.perf_counter()
        try:
            return inner(*args, **kwargs)
        finally:
            SPENT[stage] += time.perf_counter() - started
    setattr(owner, name, wrapper)


STAGES = [(driver, "observe_scale", "scale pass (gradient, band sums)"),
          (driver, "read_scale_block", "reading windows"),
          (driver, "read_window", "reading windows"),
          (pieces, "flood", "level image and watershed"),
          (pieces, "merge", "merging"),
          (pieces, "basin_pairs_as_regions", "level-0 basin pairs"),
          (pieces, "join_pairs", "level-0 basin pairs"),
          (pieces, "absorb_small_regions", "specks in the window"),
          (driver.TiledSegmentation, "keep", "keeping (numbering, stitching, scratch file)"),
          (driver.TiledSegmentation, "final_labels", "final numbering and border specks"),
          (raster_segment, "write_labels", "writing the GeoTIFF")]


def main(argv):
    for owner, name, stage in STAGES:
        timed(owner, name, stage)
    started = time.perf_counter()
    code = cli.main(["segment", *argv, "--workers", "1"])
    total = time.perf_counter() - started
    SPENT["other (options, lambda, opening)"] = total - sum(SPENT.values())
    for stage, seconds in SPENT.most_common():
        print(f"{stage:45s} {seconds:8.2f} s {100 * seconds / total:5.1f} %")
    print(f"{'total':45s} {total:8.2f} s")
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
