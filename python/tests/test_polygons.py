"""kavu polygons: one feature per label whose pixels are exactly the label's,
holes as holes, corners after the connectivity, attributes against numpy and
`kavu stats`; refusals in one line with nothing written."""

import csv

import numpy as np
import pytest
import rasterio
from cli_support import TRANSFORM, run, write_raster
from osgeo import ogr

from kavu.raster.overlay import write_stats
from kavu.raster import polygons
from kavu.raster.polygons import write_polygons

PIXEL = abs(TRANSFORM.determinant)


def features(path):
    ds = ogr.Open(str(path))
    out = {}
    for f in ds.GetLayer(0):
        out[f["label"]] = (f.items(), f.GetGeometryRef().Clone())
    return out


def reference_neighbours(labels, connectivity):
    steps = [(0, 1), (1, 0)] + ([(1, 1), (1, -1)] if connectivity == 8 else [])
    pairs = set()
    h, w = labels.shape
    for dy, dx in steps:
        for y in range(h - dy):
            for x in range(max(0, -dx), min(w, w - dx)):
                a, b = labels[y, x], labels[y + dy, x + dx]
                if a != b and a and b:
                    pairs |= {(a, b), (b, a)}
    return pairs


@pytest.mark.parametrize("connectivity, per_pass", [(4, 1 << 21), (8, 7)])
def test_random_labels_across_strips(tmp_path, monkeypatch, connectivity, per_pass):
    monkeypatch.setattr(polygons, "REGIONS_PER_PASS", per_pass)
    rng = np.random.default_rng(connectivity)
    # Blocks of random labels from a small set: most labels in several parts,
    # zeros between them, rows across the strips of 256 the code reads.
    labels = np.kron(rng.integers(0, 40, (75, 9)), np.ones((4, 5), np.int64))[:299, :43]
    labels[rng.random(labels.shape) < 0.03] = 0
    image = rng.normal(1e4, 3.0, (2,) + labels.shape)  # large against its spread
    write_raster(tmp_path / "l.tif", labels, "uint32")
    write_raster(tmp_path / "i.tif", image, "float64")
    n = write_polygons(tmp_path / "i.tif", tmp_path / "l.tif", tmp_path / "o.gpkg",
                       connectivity=connectivity)
    got = features(tmp_path / "o.gpkg")
    present = np.unique(labels[labels != 0])
    assert n == len(got) and sorted(got) == present.tolist()
    assert sum(items["pixels"] for items, _ in got.values()) == np.count_nonzero(labels)
    pairs = reference_neighbours(labels, connectivity)
    for label, (items, geometry) in got.items():
        where = labels == label
        assert items["pixels"] == where.sum()
        assert items["area"] == pytest.approx(where.sum() * PIXEL, rel=1e-12)
        assert geometry.GetGeometryName() == "MULTIPOLYGON"
        assert items["neighbours"] == sum(a == label for a, _ in pairs)
        for b in (1, 2):
            values = image[b - 1][where]
            assert items[f"mean_b{b}"] == pytest.approx(values.mean(), rel=1e-14)
            assert items[f"std_b{b}"] == pytest.approx(values.std(), rel=1e-7)
            assert (items[f"min_b{b}"], items[f"max_b{b}"]) == (values.min(), values.max())
    write_stats(tmp_path / "i.tif", tmp_path / "l.tif", tmp_path / "s.csv")
    with open(tmp_path / "s.csv") as f:
        for row in csv.DictReader(f):
            items = got[int(row["label"])][0]
            assert int(row["area"]) == items["pixels"]
            assert row["mean_b1"] == f"{items['mean_b1']:.6g}"


def test_hole_and_corners(tmp_path):
    # 1 rings 2; 3 and 4 meet 1 only at corners of the outside; 5 touches
    # itself at a corner.
    labels = np.array([[3, 0, 0, 0, 0, 5, 0],
                       [0, 1, 1, 1, 0, 0, 5],
                       [0, 1, 2, 1, 0, 0, 0],
                       [0, 1, 1, 1, 0, 0, 0],
                       [0, 0, 0, 0, 4, 0, 0]])
    write_raster(tmp_path / "l.tif", labels, "uint16")
    for connectivity, parts_of_5, neighbours_of_1 in ((4, 2, 1), (8, 1, 3)):
        out = tmp_path / f"o{connectivity}.gpkg"
        write_polygons(tmp_path / "l.tif", tmp_path / "l.tif", out, connectivity=connectivity)
        got = features(out)
        ring = got[1][1]
        assert ring.GetGeometryCount() == 1 and ring.GetGeometryRef(0).GetGeometryCount() == 2
        assert got[1][0]["pixels"] == 8 and ring.GetArea() == pytest.approx(8 * PIXEL)
        assert got[1][0]["perimeter"] == pytest.approx(16 * 28.5)
        assert got[5][1].GetGeometryCount() == parts_of_5
        assert got[1][0]["neighbours"] == neighbours_of_1


def test_refusals_leave_nothing(tmp_path):
    image = write_raster(tmp_path / "i.tif", np.ones((3, 8, 8)))
    labels = write_raster(tmp_path / "l.tif", np.arange(64).reshape(8, 8), "int32")
    floats = write_raster(tmp_path / "f.tif", np.ones((8, 8)), "float32")
    small = write_raster(tmp_path / "s.tif", np.ones((8, 7)), "uint8")
    moved = tmp_path / "m.tif"
    write_raster(moved, np.ones((8, 8)), "uint8")
    with rasterio.open(moved, "r+") as ds:
        ds.transform = TRANSFORM * TRANSFORM.translation(1, 0)
    old = tmp_path / "old.gpkg"
    old.write_text("the previous output\n")
    cases = [
        ((floats, old), 2, "LABELS must be an integer label raster", "float32"),
        ((small, old), 2, "s.tif", "8 x 8"),
        ((moved, old), 2, "georeferenced otherwise", "m.tif"),
        ((labels, old, "--layer", "my objects;"), 2, "--layer", "letters, digits"),
        ((labels, tmp_path / "o.shp"), 2, "GeoPackage", "o.shp"),
        ((labels, tmp_path / "no" / "o.gpkg"), 4, "cannot write", "no"),
    ]
    for args, code, *words in cases:
        r = run("polygons", image, *args)
        lines = r.stderr.splitlines()
        assert r.returncode == code and len(lines) == 1 and r.stdout == "", (args, r.stderr)
        assert lines[0].startswith("kavu polygons: error: ")
        assert all(w in lines[0] for w in words), lines[0]
        assert old.read_text() == "the previous output\n"
    r = run("segment", image, tmp_path / "o.tif", "--vector", tmp_path / "no" / "o.gpkg")
    assert r.returncode == 4 and "cannot write" in r.stderr  # before OUT is segmented
    r = run("polygons", image, labels, old)
    assert r.returncode == 0, r.stderr
    assert len(features(old)) == 63  # replaced; label 0 is no region
    names = sorted(p.name for p in tmp_path.iterdir())
    assert names == ["f.tif", "i.tif", "l.tif", "m.tif", "old.gpkg", "s.tif"]


def test_cog_labels_and_overviews(tmp_path):
    image = write_raster(tmp_path / "i.tif", np.kron(np.arange(36).reshape(6, 6), np.ones((99, 99))))
    for name, extra in (("plain.tif", ()), ("cog.tif", ("--cog",))):
        r = run("segment", image, tmp_path / name, "--tile", "256", *extra)
        assert r.returncode == 0, r.stderr
    with rasterio.open(tmp_path / "plain.tif") as plain, rasterio.open(tmp_path / "cog.tif") as cog:
        assert cog.tags(ns="IMAGE_STRUCTURE")["LAYOUT"] == "COG" and cog.overviews(1)
        labels = cog.read(1)
        assert np.array_equal(labels, plain.read(1)) and cog.profile["crs"] == plain.profile["crs"]
        half = cog.read(1, out_shape=(297, 297))  # the first overview, as it is
        assert cog.overviews(1)[0] == 2
        # Each overview pixel is one of the labels it covers, never a blend.
        covered = labels.reshape(297, 2, 297, 2) == half[:, None, :, None]
        assert covered.any(axis=(1, 3)).all()
