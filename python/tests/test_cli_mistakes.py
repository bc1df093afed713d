"""Everyday mistakes on the command line end in one clear line and the
documented exit code, and awkward inputs give what a user would want."""

import glob
import hashlib
import os
import resource
import signal
import stat
import subprocess
import time

import numpy as np
import pytest
import rasterio

from cli_support import fields, kavu_command, read_labels, run, write_raster


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    d = tmp_path_factory.mktemp("mistakes")
    image = fields(40, 50)
    nan_image = image.astype(np.float32)
    nan_image[:, 5:9, 5:9] = np.nan
    labels = np.repeat(np.arange(1, 6), 400).reshape(40, 50)
    paths = dict(
        image=write_raster(d / "image.tif", image),
        nan=write_raster(d / "nan.tif", nan_image, "float32"),
        flat=write_raster(d / "flat.tif", np.zeros((40, 50))),
        labels=write_raster(d / "labels.tif", labels, "uint32"),
        float_labels=write_raster(d / "float_labels.tif", labels, "float32"),
        negative=write_raster(d / "negative.tif", -labels, "int16"),
        sparse=write_raster(d / "sparse.tif", np.full((40, 50), 3_000_000_000), "uint32"),
        huge=d / "huge.tif",
        fifo=d / "fifo.tif", device=d / "full", dir=d)
    os.mkfifo(paths["fifo"])
    with rasterio.open(paths["huge"], "w", driver="GTiff", width=200_000, height=200_000,
                       count=1, dtype="uint8", tiled=True, sparse_ok=True):
        pass                            # blocks never written: a few bytes on disk
    try:
        os.mknod(paths["device"], stat.S_IFCHR | 0o666, os.makedev(1, 7))    # /dev/full
    except PermissionError:           # only root makes devices, and only root could replace one
        paths["device"] = "/dev/null"
    return paths


REFUSALS = [  # arguments, exit code, what the error line says
    (["segment", "{image}", "{device}"], 4, ": it is not a regular file"),
    (["segment", "{image}", "{fifo}"], 4, "fifo.tif: it is not a regular file"),
    (["segment", "{image}", "{dir}/out.png"], 2, "OUT out.png: kavu writes a GeoTIFF"),
    (["overlay", "{image}", "{labels}", "{dir}/o.jpg"], 2, "o.jpg: kavu writes a PNG"),
    (["segment", "{image}", "{dir}/o.tif", "--bands", "1,1"], 2, "band 1 is named twice"),
    (["stats", "{image}", "{float_labels}"], 2, "LABELS must be an integer label raster"),
    (["stats", "{labels}", "{image}"], 2, "LABELS must be an integer label raster"),
    (["stats", "{image}", "{negative}"], 2, "LABELS must be an integer label raster"),
    (["overlay", "{image}", "{float_labels}", "{dir}/o.png"], 2, "LABELS must be an integer"),
    (["schedule", "{huge}", "{dir}/h.npz"], 2, "GiB free here; kavu segment --regions N"),
]


@pytest.mark.parametrize("args, code, message", REFUSALS)
def test_refusals(data, args, code, message):
    r = run(*[a.format(**data) for a in args])
    assert (r.returncode, r.stderr.count("\n")) == (code, 1), r.stderr
    assert message in r.stderr and "error:" in r.stderr
    assert stat.S_ISCHR(os.stat(data["device"]).st_mode) and stat.S_ISFIFO(os.stat(data["fifo"]).st_mode)


# Every command that writes, with OUT the file of one of its inputs: by its
# own name, a hard link or a symbolic link (for schedule, the plot beside it).
WRITERS = [  # arguments, the input OUT is, OUT's extension
    (["segment", "{image}", "{OUT}"], "image", ".tif"),
    (["segment", "{image}", "{OUT}", "--mask", "{labels}"], "labels", ".tif"),
    (["cut", "{npz}", "{OUT}", "--lambda", "1"], "npz", ".tif"),
    (["overlay", "{image}", "{labels}", "{OUT}"], "image", ".png"),
    (["stats", "{image}", "{labels}", "-o", "{OUT}"], "labels", ".csv"),
    (["schedule", "{png}", "{STEM}.npz"], "png", ".png"),
]


@pytest.mark.parametrize("link", ["same name", "hard link", "symbolic link"])
@pytest.mark.parametrize("args, victim, ext", WRITERS)
def test_outputs_that_are_inputs_are_refused(data, tmp_path, link, args, victim, ext):
    files = {k: tmp_path / f"in-{k}.{suffix}" for k, suffix in
             (("image", "tif"), ("labels", "tif"), ("npz", "npz"), ("png", "png"))}
    for k, path in files.items():       # the schedule and picture are never read
        path.write_bytes(open(data[k], "rb").read() if k in data else b"bytes")
    out = files[victim] if link == "same name" else tmp_path / f"out{ext}"
    if link != "same name":
        (os.link if link == "hard link" else os.symlink)(files[victim], out)
    before = {p.name: hashlib.sha256(p.read_bytes()).digest() for p in tmp_path.iterdir()}
    r = run(*[a.format(OUT=out, STEM=os.path.splitext(out)[0], **files) for a in args])
    assert (r.returncode, r.stderr.count("\n")) == (2, 1), r.stderr
    assert f"{out} is an input and an output of this command" in r.stderr
    assert before == {p.name: hashlib.sha256(p.read_bytes()).digest() for p in tmp_path.iterdir()}
    assert os.path.islink(out) == (link == "symbolic link")


def test_bare_kavu_lists_commands():
    r = run()
    assert r.returncode == 2
    assert all(c in r.stderr for c in ("segment", "schedule", "cut", "overlay", "stats"))


def test_outputs_that_work_differently(data, tmp_path):
    target = tmp_path / "target.tif"
    os.symlink(target, tmp_path / "link.tif")
    r = run("segment", data["image"], tmp_path / "link.tif")
    assert r.returncode == 0 and os.path.islink(tmp_path / "link.tif") and target.is_file()
    assert run("schedule", data["flat"], tmp_path / "flat.npz").returncode == 0
    assert (tmp_path / "flat.npz").is_file() and (tmp_path / "flat.png").is_file()
    r = run("overlay", data["nan"], data["labels"], tmp_path / "nan.png")
    assert r.returncode == 0 and "Warning" not in r.stderr, r.stderr
    assert plt_image(tmp_path / "nan.png")[10:30, 10:30].max() > 0
    r = run("stats", data["nan"], data["sparse"])
    assert r.returncode == 0 and r.stdout.splitlines()[1].startswith("3000000000,1984,"), r.stdout


def plt_image(path):
    import matplotlib.pyplot as plt
    return plt.imread(path)


@pytest.mark.filterwarnings("ignore::rasterio.errors.NotGeoreferencedWarning")
def test_rgba_alpha_is_the_mask(tmp_path):
    rgba = np.concatenate([fields(30, 30), np.full((1, 30, 30), 255)])
    rgba[3, :, :10] = 0
    with rasterio.open(tmp_path / "in.png", "w", driver="PNG", width=30, height=30, count=4,
                       dtype="uint8") as dst:
        dst.write(rgba.astype(np.uint8))
    assert run("segment", tmp_path / "in.png", tmp_path / "out.tif").returncode == 0
    labels = read_labels(tmp_path / "out.tif")
    assert (labels[:, :10] == 0).all() and (labels[:, 10:] != 0).all()


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP])
def test_signals_leave_no_work_directory(tmp_path, signum):
    write_raster(tmp_path / "in.tif", np.random.default_rng(0).integers(0, 255, (1, 1200, 1200)))
    p = subprocess.Popen(kavu_command() + ["segment", str(tmp_path / "in.tif"),
                                           str(tmp_path / "out.tif"), "--tile", "64"],
                         stderr=subprocess.PIPE, text=True)
    while not glob.glob(str(tmp_path / ".out.tif.*")) and p.poll() is None:
        time.sleep(0.01)
    p.send_signal(signum)
    err = p.stderr.read()
    assert p.wait(60) == 128 + signum and "interrupted" in err, err
    assert os.listdir(tmp_path) == ["in.tif"]


def test_a_full_disk_is_an_output_that_cannot_be_written(data, tmp_path):
    def small_files():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
    r = subprocess.run(kavu_command() + ["segment", str(data["image"]), str(tmp_path / "o.tif")],
                       capture_output=True, text=True, preexec_fn=small_files)
    assert r.returncode == 4 and r.stderr.count("\n") == 1, r.stderr
    assert "cannot write" in r.stderr and "File too large" in r.stderr
    assert os.listdir(tmp_path) == []
