"""`kavu schedule`, `kavu cut`, `kavu overlay` and `kavu stats` on synthetic
rasters, against what `kavu segment` and numpy give for the same data."""

import csv

import numpy as np
import pytest
import rasterio

from cli_support import (CRS, TRANSFORM, adjusted_rand_index, assert_consecutive, fields,
                         read_labels, run, segment, write_raster)


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    return write_raster(tmp_path_factory.mktemp("scene") / "fields.tif",
                        fields(70, 90, cells=8, seed=21))


@pytest.fixture(scope="module")
def schedule(tmp_path_factory, scene):
    path = tmp_path_factory.mktemp("schedule") / "s.npz"
    r = run("schedule", scene, path)
    assert r.returncode == 0, r.stderr
    return path


def test_schedule_writes_the_merges_and_a_plot(schedule):
    with np.load(schedule) as s:
        lambdas, label_map, labels = s["lambdas"], s["label_map"], s["labels"]
        assert len(label_map) == 2 * len(lambdas) == 2 * (int(s["n_initial"]) - 1)
        assert labels.shape == (70, 90) and labels.dtype == np.uint32
        assert len(np.unique(labels)) == int(s["n_initial"])
    png = schedule.with_suffix(".png")
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("n", [1, 8, 50])
def test_cut_by_region_count(tmp_path, schedule, n):
    out = tmp_path / "cut.tif"
    r = run("cut", schedule, out, "--regions", n)
    assert r.returncode == 0, r.stderr
    labels = read_labels(out)
    assert assert_consecutive(labels) == n
    with rasterio.open(out) as dst:
        assert dst.crs == rasterio.crs.CRS.from_string(CRS) and dst.transform == TRANSFORM


@pytest.mark.parametrize("lam", [0, 500, 5000, 50000])
def test_cut_by_lambda_equals_segment_in_one_piece(tmp_path, scene, schedule, lam):
    # The one-piece tiled mode stops at the first merge costing lambda or more,
    # and the schedule is that same merge sequence carried to the end.
    r = run("cut", schedule, tmp_path / "cut.tif", "--lambda", lam)
    assert r.returncode == 0, r.stderr
    one = segment(scene, tmp_path / "one.tif", "--tile", 1000, "--lambda", lam, "--min-size", 0)
    assert adjusted_rand_index(read_labels(tmp_path / "cut.tif"), one) == 1.0


def test_schedule_from_pixels(tmp_path):
    src = write_raster(tmp_path / "small.tif", fields(12, 15, cells=3, seed=2))
    r = run("schedule", src, tmp_path / "px.npz", "--from-pixels")
    assert r.returncode == 0, r.stderr
    with np.load(tmp_path / "px.npz") as s:
        assert int(s["n_initial"]) == 12 * 15
    r = run("cut", tmp_path / "px.npz", tmp_path / "three.tif", "--regions", 3)
    assert r.returncode == 0, r.stderr
    assert read_labels(tmp_path / "three.tif").max() == 3


def test_overlay_draws_the_boundaries_over_the_composite(tmp_path, scene):
    import matplotlib.image
    labels = tmp_path / "labels.tif"
    segment(scene, labels, "--tile", 32, "--lambda", 5000)
    r = run("overlay", scene, labels, tmp_path / "o.png")
    assert r.returncode == 0, r.stderr
    picture = matplotlib.image.imread(tmp_path / "o.png")
    assert picture.shape[:2] == (70, 90)
    rgb = np.round(picture[..., :3] * 255).astype(int)
    boundary = (rgb == (255, 255, 0)).all(axis=-1)
    lab = read_labels(labels)
    expected = np.zeros(lab.shape, bool)                 # right or lower neighbour differs
    expected[:, :-1] |= lab[:, :-1] != lab[:, 1:]
    expected[:-1] |= lab[:-1] != lab[1:]
    assert (boundary >= expected).all()                  # yellow may also come from the image
    assert expected.any()


def test_overlay_of_a_large_raster_is_decimated(tmp_path):
    src = write_raster(tmp_path / "wide.tif", fields(40, 300, seed=4))
    labels = tmp_path / "labels.tif"
    segment(src, labels, "--tile", 64)
    r = run("overlay", src, labels, tmp_path / "o.png", "--max-size", 100, "--bands", "2")
    assert r.returncode == 0, r.stderr
    import matplotlib.image
    assert matplotlib.image.imread(tmp_path / "o.png").shape[:2] == (14, 100)


def test_stats_match_numpy(tmp_path, scene):
    labels_path = tmp_path / "labels.tif"
    labels = segment(scene, labels_path, "--tile", 32, "--lambda", 5000)
    with rasterio.open(scene) as src:
        image = src.read().astype(np.float64)
    out = tmp_path / "stats.csv"
    r = run("stats", scene, labels_path, "-o", out, "--bands", "1,3")
    assert r.returncode == 0, r.stderr
    with open(out) as f:
        rows = list(csv.DictReader(f))
    assert list(rows[0]) == ["label", "area", "mean_b1", "mean_b3"]
    assert [int(row["label"]) for row in rows] == list(range(1, labels.max() + 1))
    assert sum(int(row["area"]) for row in rows) == labels.size
    for row in rows:
        inside = labels == int(row["label"])
        assert int(row["area"]) == inside.sum()
        assert float(row["mean_b1"]) == pytest.approx(image[0][inside].mean(), rel=1e-5)
        assert float(row["mean_b3"]) == pytest.approx(image[2][inside].mean(), rel=1e-5)
    r = run("stats", scene, labels_path, "--bands", "1,3")   # to stdout
    assert r.returncode == 0 and r.stdout == out.read_text()


def test_stats_leave_out_label_zero(tmp_path, scene):
    labels = np.zeros((70, 90), np.uint32)
    labels[10:20, 10:30] = 7
    path = write_raster(tmp_path / "labels.tif", labels, dtype="uint32", nodata=0)
    r = run("stats", scene, path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines()[1].startswith("7,200,")
    assert len(r.stdout.splitlines()) == 2
