"""The tiles read and segmented ahead by several workers give the file that
one worker gives, byte for byte: a NaN hole, a nodata mask, regions at every
lambda and ragged edge tiles, with the default options and with
--no-merge-lines and 8-connectivity; and the sample windows that choose
lambda for a number of regions, scheduled on several workers, choose it as
one worker does."""

import numpy as np
import pytest

from cli_support import fields, run, write_raster
from kavu.tiled.array_source import ArraySource
from kavu.tiled.run import SegmentOptions, TiledSegmentation


@pytest.mark.parametrize("options", [("--regions", "40"),
                                     ("--lambda", "50", "--no-merge-lines", "--connectivity", "8")])
def test_workers_give_the_same_bytes(tmp_path, options):
    image = fields(300, 277, cells=30, seed=5).astype(np.float32)
    image[:, 100:120, 40:90] = np.nan
    image[:, :9, :] = -1
    src = write_raster(tmp_path / "in.tif", image, "float32", nodata=-1)
    outputs = []
    for workers in ("1", "3"):
        out = tmp_path / f"out{workers}.tif"
        r = run("segment", src, out, "--tile", "64", "--workers", workers, *options)
        assert r.returncode == 0, r.stderr
        outputs.append(out.read_bytes())
    assert outputs[0] == outputs[1]


def test_sample_windows_on_several_workers_choose_the_same_lambda():
    image = fields(1100, 1000, cells=200, seed=7).astype(np.float32)  # nine sample windows
    chosen = set()
    for workers in (1, 2):
        run = TiledSegmentation(ArraySource(image), SegmentOptions(regions=300), None, workers)
        for _ in run.measure_scale():
            pass
        chosen.add(run.choose_lambda())
    assert len(chosen) == 1
