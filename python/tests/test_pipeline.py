"""The tiles read and segmented ahead by several workers give the file that
one worker gives, byte for byte: a NaN hole, a nodata mask, regions at every
lambda and ragged edge tiles, with the default options and with
--no-merge-lines and 8-connectivity."""

import numpy as np
import pytest

from cli_support import fields, run, write_raster


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
