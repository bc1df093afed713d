"""`kavu segment` end to end on synthetic rasters written with rasterio: every
pixel labelled, consecutive labels, georeferencing kept, and the tiled result
against the one-piece result (one tile as large as the image)."""

import numpy as np
import pytest
import rasterio

from cli_support import (CRS, TRANSFORM, adjusted_rand_index, assert_consecutive, fields,
                         read_labels, run, segment, write_raster)

ONE_PIECE = ("--tile", "100000")


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    """150 x 170 pixels, 12 fields of about 2000 pixels each."""
    path = tmp_path_factory.mktemp("scene") / "fields.tif"
    return write_raster(path, fields(150, 170, seed=3))


@pytest.mark.parametrize("height, width, tile", [
    (37, 70, 23),     # no side a multiple of the tile size
    (65, 65, 32),     # a one-pixel-wide last column and last row of tiles
    (33, 97, 32),     # one-pixel-wide last column only
    (30, 30, 100),    # one tile larger than the image
    (1, 40, 8),       # a single row
    (40, 1, 8),       # a single column
    (1, 1, 8),
    (9, 9, 8),        # a one-pixel-wide last column and row of tiles
    (300, 1100, 512), # written in several windows of 256 x 1024
])
@pytest.mark.parametrize("lam", [0, 2000, 1e12])
def test_odd_sizes_give_every_pixel_a_consecutive_label(tmp_path, height, width, tile, lam):
    cells = max(4, height * width // 2000)                  # fields of about 2000 pixels
    image = fields(height, width, cells=cells, seed=height * width)
    src = write_raster(tmp_path / "in.tif", image)
    labels = segment(src, tmp_path / "out.tif", "--tile", tile, "--lambda", lam)
    assert labels.shape == (height, width)
    n = assert_consecutive(labels)
    if lam == 1e12:                    # nothing stops the merging: one region, as in one piece
        assert n == 1


def test_output_is_a_tiled_compressed_uint32_geotiff_with_the_input_georeferencing(tmp_path, scene):
    out = tmp_path / "labels.tif"
    segment(scene, out, "--tile", 64)
    with rasterio.open(out) as dst:
        assert dst.dtypes == ("uint32",)
        assert dst.count == 1 and dst.nodata == 0
        assert dst.crs == rasterio.crs.CRS.from_string(CRS)
        assert dst.transform == TRANSFORM
        assert dst.profile["tiled"] and dst.compression is not None
        assert (dst.height, dst.width) == (150, 170)


def test_nothing_but_the_output_is_left_in_its_directory(tmp_path, scene):
    segment(scene, tmp_path / "labels.tif", "--tile", 40)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["labels.tif"]


def test_one_summary_line_and_no_bar_when_not_on_a_terminal(tmp_path, scene):
    r = run("segment", scene, tmp_path / "labels.tif", "--tile", 40)
    assert r.returncode == 0 and r.stderr == ""
    assert r.stdout.count("\n") == 1 and " regions, 20 tiles, " in r.stdout


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("tile", [23, 40, 64])
def test_tiled_agrees_with_one_piece(tmp_path, seed, tile):
    # At lambda 1e4 both find the 12 fields (noise 4 DN, field means 30..220).
    # Measured over seeds 0..7: ARI 0.973 at the worst with 23-pixel tiles, 0.99
    # and more with 40 and 64; differences are region borders moved near tile
    # borders, where the watershed of a tile cannot see the next tile's minima.
    src = write_raster(tmp_path / "in.tif", fields(150, 170, seed=seed))
    one = segment(src, tmp_path / "one.tif", "--lambda", 1e4, *ONE_PIECE)
    tiled = segment(src, tmp_path / "tiled.tif", "--lambda", 1e4, "--tile", tile)
    assert adjusted_rand_index(tiled, one) >= 0.95


def test_tiled_finds_the_fields_as_one_piece_does(tmp_path, scene):
    truth = fields(150, 170, seed=3, noise=0.0).sum(axis=0)   # one value per field
    tiled = segment(scene, tmp_path / "tiled.tif", "--lambda", 1e4, "--tile", 40)
    one = segment(scene, tmp_path / "one.tif", "--lambda", 1e4, *ONE_PIECE)
    assert adjusted_rand_index(one, truth) >= 0.95
    assert adjusted_rand_index(tiled, truth) >= 0.95


def seam_changes(labels, step, offset=0):
    """Label changes across the lines x = k*step + offset and y = k*step + offset."""
    xs = np.arange(step + offset, labels.shape[1], step)
    ys = np.arange(step + offset, labels.shape[0], step)
    return int((labels[:, xs] != labels[:, xs - 1]).sum() + (labels[ys] != labels[ys - 1]).sum())


def test_uniform_image_has_no_seam_at_tile_borders(tmp_path):
    # A tile that is all one region must still join that region in the tiles
    # before it: the merging of a tile stops when its own regions are down to
    # one, which without spare regions left every tile a region of its own.
    rng = np.random.default_rng(7)
    src = write_raster(tmp_path / "flat.tif", 100 + rng.normal(0, 3, (2, 100, 100)),
                       dtype="float32")
    labels = segment(src, tmp_path / "out.tif", "--tile", 32, "--lambda", 1e9)
    assert (labels == 1).all()


def test_tile_borders_carry_no_more_label_changes_than_in_one_piece(tmp_path, scene):
    one = segment(scene, tmp_path / "one.tif", "--lambda", 3000, *ONE_PIECE)
    tiled = segment(scene, tmp_path / "tiled.tif", "--lambda", 3000, "--tile", 32)
    assert seam_changes(tiled, 32) <= 1.2 * seam_changes(one, 32) + 10


def test_tiled_runs_are_reproducible(tmp_path, scene):
    a = segment(scene, tmp_path / "a.tif", "--tile", 40, "--lambda", 3000)
    b = segment(scene, tmp_path / "b.tif", "--tile", 40, "--lambda", 3000)
    np.testing.assert_array_equal(a, b)


def test_lambda_zero_keeps_the_watershed_basins_and_more_lambda_fewer_regions(tmp_path, scene):
    counts = [segment(scene, tmp_path / f"{lam}.tif", "--tile", 64, "--lambda", lam).max()
              for lam in (0, 300, 3000, 30000)]
    assert counts == sorted(counts, reverse=True) and counts[0] > 10 * counts[-1]


def test_nodata_pixels_stay_zero_and_the_others_are_labelled(tmp_path):
    image = fields(90, 110, seed=11).astype(np.uint8)
    image[:, 30:60, 40:80] = 0                          # a hole of nodata in every band
    image[0, 5, 5] = 0                                  # nodata in one band only: still valid
    src = write_raster(tmp_path / "in.tif", image, nodata=0)
    valid = (image != 0).any(axis=0)
    for tile in (25, 1000):
        labels = segment(src, tmp_path / f"out{tile}.tif", "--tile", tile, "--lambda", 2000)
        assert_consecutive(labels, valid)
    unmasked = segment(src, tmp_path / "all.tif", "--tile", 25, "--mask", "none")
    assert_consecutive(unmasked)


def test_nan_and_infinite_pixels_are_left_out_silently(tmp_path):
    image = fields(60, 70, seed=2).astype(np.float32)
    image[:, 10:20, 10:30] = np.nan
    image[1, 40, 40] = np.inf
    src = write_raster(tmp_path / "in.tif", image, dtype="float32")
    r = run("segment", src, tmp_path / "out.tif", "--tile", 25, "--lambda", 2000)
    assert r.returncode == 0 and r.stderr == ""
    assert_consecutive(read_labels(tmp_path / "out.tif"), np.isfinite(image).all(axis=0))


def test_mask_raster_selects_the_pixels(tmp_path, scene):
    mask = np.ones((150, 170), np.uint8)
    mask[::7] = 0                                       # rows cut out, regions split by them
    mask_path = write_raster(tmp_path / "mask.tif", mask)
    labels = segment(scene, tmp_path / "out.tif", "--tile", 40, "--mask", mask_path)
    assert_consecutive(labels, mask != 0)


def test_start_label_shifts_the_numbering(tmp_path, scene):
    base = segment(scene, tmp_path / "a.tif", "--tile", 40)
    shifted = segment(scene, tmp_path / "b.tif", "--tile", 40, "--start-label", 1000)
    np.testing.assert_array_equal(shifted, base + 999)


def test_bands_option_uses_only_those_bands(tmp_path):
    image = fields(60, 80, bands=2, seed=5)
    noise = np.random.default_rng(1).uniform(0, 255, (1, 60, 80))
    two = write_raster(tmp_path / "two.tif", image)
    three = write_raster(tmp_path / "three.tif", np.concatenate([image, noise]))
    a = segment(two, tmp_path / "a.tif", "--tile", 25, "--lambda", 2000)
    b = segment(three, tmp_path / "b.tif", "--tile", 25, "--lambda", 2000, "--bands", "1-2")
    np.testing.assert_array_equal(a, b)


def test_eight_connectivity_and_kept_watershed_lines(tmp_path, scene):
    eight = segment(scene, tmp_path / "eight.tif", "--tile", 40, "--connectivity", 8)
    assert_consecutive(eight)
    lines = segment(scene, tmp_path / "lines.tif", "--tile", 40, "--no-merge-lines")
    on_lines = lines == 0
    assert 0 < on_lines.mean() < 0.5                    # one-pixel lines between basins
    assert_consecutive(lines, ~on_lines)


def test_the_launcher_and_python_m_kavu_agree(tmp_path, scene):
    import os
    import subprocess
    import sys
    a = segment(scene, tmp_path / "a.tif", "--tile", 40)
    env = dict(os.environ)
    env.pop("KAVU_CLI", None)
    r = subprocess.run([sys.executable, "-m", "kavu", "segment", str(scene),
                        str(tmp_path / "b.tif"), "--tile", "40"], capture_output=True, env=env)
    assert r.returncode == 0, r.stderr
    np.testing.assert_array_equal(a, read_labels(tmp_path / "b.tif"))
