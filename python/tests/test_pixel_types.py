"""Every pixel type GDAL writes is segmented and summed as its values: one
image moved into each type's range, against the image as float64."""
import csv
import math

import numpy as np
import pytest

from cli_support import fields, read_labels, run, write_raster
from kavu.raster.overlay import _strip_sums


def segment_and_stats(path):
    labels = path.with_suffix(".labels.tif")
    r = run("segment", path, labels, "--tile", 16, "--lambda", 300)
    assert r.returncode == 0 and r.stderr == "", r.stderr
    r = run("stats", path, labels)
    assert r.returncode == 0, r.stderr
    return read_labels(labels), np.array(list(csv.reader(r.stdout.splitlines()))[1:], float)


@pytest.fixture(scope="module")
def base(tmp_path_factory):
    """(directory, two bands of integers 0 .. 127, their labels and stats rows)."""
    d = tmp_path_factory.mktemp("types")
    image = np.clip(np.round(fields(48, 64, bands=2, cells=6, noise=3, seed=8) / 2), 0, 127)
    return (d, image) + segment_and_stats(write_raster(d / "base.tif", image, "float64"))


# (type of the values, type written, creation options, offset): int8 crosses
# 0 (read as unsigned it wraps), the wide types lie beyond float32's 24 bits.
CASES = [("uint8", "uint8", {}, 100), ("int8", "int8", {}, -64),
         ("int8", "uint8", {"PIXELTYPE": "SIGNEDBYTE"}, -64),    # GDAL 3.6's int8
         ("uint16", "uint16", {}, 60000), ("int16", "int16", {}, -30000),
         ("uint32", "uint32", {}, 4_000_000_000), ("int32", "int32", {}, -2_000_000_000),
         ("uint64", "uint64", {}, 2**63 + 2**40), ("int64", "int64", {}, -2**62),
         ("float32", "float32", {}, -1_000_000), ("float64", "float64", {}, 1.5e9)]


@pytest.mark.parametrize("values, written, options, offset", CASES)
def test_every_type_segments_as_its_values(base, values, written, options, offset):
    d, image, labels, rows = base
    data = image.astype(values) + np.dtype(values).type(offset)
    path = write_raster(d / f"{values}-{written}.tif", data.view(written), written, **options)
    got_labels, got_rows = segment_and_stats(path)
    np.testing.assert_array_equal(got_labels, labels)
    np.testing.assert_array_equal(got_rows[:, :2], rows[:, :2])
    np.testing.assert_allclose(got_rows[:, 2:], rows[:, 2:] + float(offset), rtol=1e-5, atol=1e-3)


def test_complex_bands_are_refused(base, tmp_path):
    src = write_raster(tmp_path / "c.tif", base[1] * (1 + 1j), "complex64")
    labels = base[0] / "base.labels.tif"
    for command, second in (("segment", tmp_path / "o.tif"), ("stats", labels)):
        r = run(command, src, second)
        assert (r.returncode, r.stderr) == (3, f"kavu {command}: error: {src}: band 1 is "
                                            "complex64: complex bands cannot be segmented; take "
                                            "the modulus or a part first\n")


def test_large_region_sums_to_float64_precision():
    band = np.random.default_rng(3).normal(10000, 50, (256, 12000)).astype(np.float32)  # 3 Mpx
    labels = np.ones(band.shape, np.uint32)
    labels[0, 0] = 7
    present, area, sums = _strip_sums(labels, [band])
    assert present.tolist() == [1, 7] and area.tolist() == [band.size - 1, 1]
    assert sums[0, 0] == pytest.approx(math.fsum(band.ravel()[1:].tolist()), rel=1e-10)
