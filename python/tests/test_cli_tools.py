"""`kavu schedule`, `cut`, `overlay` and `stats` against `kavu segment` and
numpy, and failures of the command line: one line on stderr with the
documented exit code, leaving nothing behind."""
import csv

import numpy as np
import pytest
import rasterio

from cli_support import assert_consecutive, fields, read_labels, run, segment, write_raster

ONE_PIECE = ("--tile", "100000")
USAGE, INPUT, OUTPUT = 2, 3, 4


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    """70 x 90 pixels, 8 fields."""
    return write_raster(tmp_path_factory.mktemp("scene") / "fields.tif",
                        fields(70, 90, cells=8, seed=21))


def test_schedule_and_cut_follow_segment_masks_nan_and_min_size(tmp_path):
    """Nodata and NaN pixels take no part, specks join a neighbour: cut is
    segment in one piece; where no pixel takes part there is no region."""
    image = fields(70, 90, cells=8, seed=21).astype(np.float32)
    image[:, 20:40, 30:45] = -1
    image[:, 50:53, 60:70] = np.nan
    scene = write_raster(tmp_path / "scene.tif", image, "float32", nodata=-1)
    write_raster(tmp_path / "nan.tif", np.full((9, 9), np.nan), "float32")
    (tmp_path / "cwd").mkdir()
    for name in ("scene", "nan"):        # the default schedule goes beside IN
        assert run("schedule", tmp_path / f"{name}.tif", cwd=tmp_path / "cwd").returncode == 0
    assert not any((tmp_path / "cwd").iterdir())
    assert (tmp_path / "scene.schedule.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    schedule, cut = tmp_path / "scene.schedule.npz", tmp_path / "cut.tif"
    for options in (["--lambda", 0], ["--lambda", 5000], ["--lambda", 5000, "--min-size", 0]):
        assert run("cut", schedule, cut, *options).returncode == 0
        r = run("segment", scene, tmp_path / "one.tif", *ONE_PIECE, *options)
        assert ", 1 tile, " in r.stdout
        np.testing.assert_array_equal(read_labels(cut), read_labels(tmp_path / "one.tif"))
    valid = np.isfinite(image[0]) & (image[0] != -1)
    for min_size, n, most in ((0, 8, 8), (10, 30, 33)):   # specks may join into one more
        assert run("cut", schedule, cut, "--regions", n, "--min-size", min_size).returncode == 0
        areas = np.bincount(read_labels(cut)[valid])[1:]
        assert n <= assert_consecutive(read_labels(cut), valid) <= most
        assert areas.min() >= min_size
    assert run("cut", tmp_path / "nan.schedule.npz", cut, "--lambda", 1).stdout.endswith(
        ": 0 regions\n") and not read_labels(cut).any()


def test_overlay_and_stats(tmp_path, scene):
    import matplotlib.image
    labels_path = tmp_path / "labels.tif"
    labels = segment(scene, labels_path, "--tile", 32, "--lambda", 5000)
    assert run("overlay", scene, labels_path, tmp_path / "o.png").returncode == 0
    rgb = np.round(matplotlib.image.imread(tmp_path / "o.png")[..., :3] * 255).astype(int)
    expected = np.zeros(labels.shape, bool)             # right or lower neighbour differs
    expected[:, :-1] |= labels[:, :-1] != labels[:, 1:]
    expected[:-1] |= labels[:-1] != labels[1:]
    assert ((rgb == (255, 255, 0)).all(axis=-1) >= expected).all() and expected.any()
    with rasterio.open(scene) as src:
        image = src.read().astype(np.float64)
    r = run("stats", scene, labels_path, "--bands", "1,3")
    rows = list(csv.DictReader(r.stdout.splitlines()))
    assert list(rows[0]) == ["label", "area", "mean_b1", "mean_b3"]
    assert [int(row["label"]) for row in rows] == list(range(1, labels.max() + 1))
    for row in rows:
        inside = labels == int(row["label"])
        assert int(row["area"]) == inside.sum()
        assert float(row["mean_b3"]) == pytest.approx(image[2][inside].mean(), rel=1e-5)


def assert_fails(result, code, *words):
    lines = result.stderr.splitlines()
    assert result.returncode == code and len(lines) == 1, result.stderr
    assert lines[0].startswith("kavu") and ": error: " in lines[0] and result.stdout == ""
    for word in words:
        assert word in lines[0]


def test_failures_are_one_line_and_leave_nothing(tmp_path, scene):
    out = tmp_path / "out.tif"
    assert_fails(run("segment", scene, out, "--tile", "0"), USAGE, "--tile 0", "at least 8")
    not_raster = tmp_path / "notes.tif"
    not_raster.write_text("not a raster\n")
    assert_fails(run("segment", not_raster, out), INPUT, "notes.tif")
    assert_fails(run("segment", scene, tmp_path / "no" / "dir" / "out.tif"), OUTPUT, "no")
    assert_fails(run("cut", scene, tmp_path / "c.tif", "--regions", "3"), INPUT, "schedule")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["notes.tif"]
