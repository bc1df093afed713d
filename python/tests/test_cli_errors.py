"""Failures of the command line: one line on stderr naming the command, the
documented exit code, no traceback, and no output, partial or otherwise; an
output that existed before a failed run is left as it was."""

import numpy as np
import pytest

from cli_support import fields, run, write_raster

USAGE, INPUT, OUTPUT = 2, 3, 4


@pytest.fixture(scope="module")
def image(tmp_path_factory):
    return write_raster(tmp_path_factory.mktemp("in") / "in.tif", fields(40, 50, seed=1))


def assert_fails(result, code, *words):
    assert result.returncode == code, result.stderr
    lines = result.stderr.splitlines()
    assert len(lines) == 1, result.stderr
    assert lines[0].startswith("kavu") and ": error: " in lines[0]
    assert "Traceback" not in result.stderr and result.stdout == ""
    for word in words:
        assert word in lines[0]


def assert_left_clean(directory, *expected):
    """Only the files that were there before: no output, no work directory."""
    assert sorted(p.name for p in directory.iterdir()) == sorted(expected)


@pytest.mark.parametrize("options, words", [
    (["--tile", "0"], ["--tile", "at least 1"]),
    (["--tile", "abc"], ["--tile"]),
    (["--lambda", "-1"], ["--lambda"]),
    (["--lambda", "nan"], ["--lambda"]),
    (["--lambda", "inf"], ["--lambda"]),
    (["--connectivity", "6"], ["--connectivity"]),
    (["--bands", "4"], ["--bands", "1 to 3"]),
    (["--bands", "2-x"], ["--bands"]),
    (["--bands", "3-1"], ["--bands"]),
    (["--start-label", "0"], ["--start-label"]),
    (["--mask", "nodata"], ["nodata"]),
    (["--frobnicate"], ["--frobnicate"]),
])
def test_bad_options(tmp_path, image, options, words):
    r = run("segment", image, tmp_path / "out.tif", *options)
    assert_fails(r, USAGE, "kavu segment", *words)
    assert_left_clean(tmp_path)


def test_missing_arguments_and_unknown_command(tmp_path):
    assert_fails(run("segment", tmp_path / "x.tif"), USAGE, "OUT")
    assert_fails(run("carve"), USAGE, "carve")


def test_mask_of_another_size(tmp_path, image):
    mask = write_raster(tmp_path / "mask.tif", np.ones((10, 10)))
    r = run("segment", image, tmp_path / "out.tif", "--mask", mask)
    assert_fails(r, USAGE, "50 x 40", "10 x 10")
    assert_left_clean(tmp_path, "mask.tif")


def test_unreadable_inputs(tmp_path):
    not_raster = tmp_path / "notes.tif"
    not_raster.write_text("not a raster\n")
    assert_fails(run("segment", tmp_path / "absent.tif", tmp_path / "out.tif"), INPUT,
                 "absent.tif")
    assert_fails(run("segment", not_raster, tmp_path / "out.tif"), INPUT, "notes.tif")
    assert_left_clean(tmp_path, "notes.tif")


def test_input_that_breaks_off_while_being_read(tmp_path):
    # The header is intact, so the run starts; the pixel blocks past the cut
    # fail to read half-way through.
    src = write_raster(tmp_path / "in.tif", fields(512, 512, seed=2), tiled=True,
                       blockxsize=64, blockysize=64)
    data = src.read_bytes()
    src.write_bytes(data[:len(data) // 2])
    out = tmp_path / "out.tif"
    out.write_bytes(b"an earlier result")
    r = run("segment", src, out, "--tile", 128)
    assert_fails(r, INPUT, "in.tif")
    assert out.read_bytes() == b"an earlier result"
    assert_left_clean(tmp_path, "in.tif", "out.tif")


def test_unwritable_outputs(tmp_path, image):
    a_file = tmp_path / "file"
    a_file.write_text("")
    for out in (tmp_path / "no" / "such" / "dir" / "out.tif", a_file / "out.tif", tmp_path):
        assert_fails(run("segment", image, out), OUTPUT, str(out))
    assert_left_clean(tmp_path, "file")


def test_other_commands_refuse_bad_input_in_one_line(tmp_path, image):
    other = write_raster(tmp_path / "small.tif", np.ones((5, 5)), dtype="uint32")
    assert_fails(run("overlay", image, other, tmp_path / "o.png"), USAGE, "5 x 5")
    assert_fails(run("stats", image, tmp_path / "absent.tif"), INPUT, "absent.tif")
    assert_fails(run("overlay", image, image, tmp_path / "o.png", "--bands", "1,2"), USAGE)
    assert_fails(run("overlay", image, image, tmp_path / "o.png", "--stretch", "60"), USAGE)
    assert_fails(run("cut", tmp_path / "absent.npz", tmp_path / "c.tif", "--regions", "3"), INPUT)
    assert_fails(run("cut", image, tmp_path / "c.tif", "--regions", "3"), INPUT, "schedule")
    assert_fails(run("cut", image, tmp_path / "c.tif"), USAGE, "--regions")
    assert_fails(run("cut", image, tmp_path / "c.tif", "--regions", "3", "--lambda", "2"), USAGE)
    assert_fails(run("schedule", image, tmp_path / "s.txt"), USAGE, ".npz")
    assert_left_clean(tmp_path, "small.tif")
