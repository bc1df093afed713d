"""The QGIS Processing algorithms run headless, as `make test` runs them:
each one through `qgis_process run` on a scene, its outputs checked; then
segment and polygons cancelled at their first step, which must raise and
leave no output. The plugin is installed into a QGIS profile of its own
under WORK, so that the user's profile is left alone.

    usage: python3 qgis/check_algorithms.py SCENE WORK
"""

import csv
import os
import shutil
import subprocess
import sys

import numpy as np
import rasterio
from osgeo import ogr

HERE = os.path.dirname(os.path.abspath(__file__))
# Debian's qgis_process wrapper passes --noversioncheck, which 3.22's
# executable refuses; the executable itself takes the same arguments.
QGIS_PROCESS = shutil.which("qgis_process.bin") or "qgis_process"


def environment(work):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QGIS_CUSTOM_CONFIG_PATH=work)
    env.setdefault("XDG_RUNTIME_DIR", os.path.join(work, "runtime"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    plugins = os.path.join(work, "profiles", "default", "python", "plugins")
    shutil.rmtree(plugins, ignore_errors=True)
    shutil.copytree(os.path.join(HERE, "kavu_processing"), os.path.join(plugins, "kavu_processing"))
    qgis_process(env, "plugins", "enable", "kavu_processing")
    return env


def qgis_process(env, *args, fails=False):
    r = subprocess.run([QGIS_PROCESS, *args], env=env, capture_output=True, text=True, timeout=900)
    if (r.returncode != 0) != fails:
        sys.exit(f"qgis_process {' '.join(args)}: exit {r.returncode}\n{r.stdout}\n{r.stderr}")
    return r.stdout + r.stderr


def run(env, algorithm, **parameters):
    args = [f"{k}={v}" for k, values in parameters.items() for v in np.atleast_1d(values)]
    return qgis_process(env, "run", f"kavu:{algorithm}", "--", *args)


def check(condition, what):
    if not condition:
        sys.exit(f"check_algorithms: {what}")


def headless(scene, out, env):
    labels, objects, stats = (os.path.join(out, n) for n in ("labels.tif", "o.gpkg", "s.csv"))
    run(env, "segment", INPUT=scene, REGIONS=300, OUTPUT=labels)
    with rasterio.open(labels) as ds, rasterio.open(scene) as src:
        values = ds.read(1)
        check(ds.dtypes[0] == "uint32" and ds.crs == src.crs, "segment: labels of the scene")
        check(ds.tags(ns="IMAGE_STRUCTURE").get("LAYOUT") == "COG", "segment: not a COG")
    present = np.unique(values[values != 0])
    check(250 <= len(present) <= 350, f"segment: {len(present)} regions for 300")

    run(env, "polygons", INPUT=scene, LABELS=labels, OUTPUT=objects, CONNECTIVITY=0)
    ds = ogr.Open(objects)
    layer = ds.GetLayer(0)
    found = sorted(f["label"] for f in layer)
    check(found == present.tolist(), "polygons: not one feature per label")
    check(sum(f["pixels"] for f in layer) == np.count_nonzero(values), "polygons: pixels")

    run(env, "stats", INPUT=scene, LABELS=labels, BANDS=[1, 3], OUTPUT=stats)
    with open(stats) as f:
        rows = list(csv.DictReader(f))
    check([int(r["label"]) for r in rows] == present.tolist(), "stats: not a row per label")
    check(set(rows[0]) == {"label", "area", "mean_b1", "mean_b3"}, "stats: columns")

    npz, html = os.path.join(out, "s.npz"), os.path.join(out, "s.html")
    run(env, "schedule", INPUT=scene, OUTPUT=npz, PLOT=html)
    check(os.path.getsize(npz) > 0 and os.path.getsize(npz[:-4] + ".png") > 0, "schedule")
    check("s.png" in open(html).read(), "schedule: the page shows no plot")

    refused = qgis_process(
        env,
        "run",
        "kavu:polygons",
        "--",
        f"INPUT={scene}",
        f"LABELS={scene}",
        f"OUTPUT={os.path.join(out, 'bad.gpkg')}",
        fails=True,
    )
    check("must be an integer label raster" in refused, "polygons: a scene taken as labels")
    check(not os.path.exists(os.path.join(out, "bad.gpkg")), "polygons: output after a refusal")
    return labels


def cancelled(scene, labels, out):
    """Cancel at the first progress step: an exception, and nothing written."""
    sys.path.insert(0, HERE)
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    from qgis.core import (
        QgsApplication,
        QgsProcessingContext,
        QgsProcessingException,
        QgsProcessingFeedback,
    )

    app = QgsApplication([], False)
    app.initQgis()
    from kavu_processing.algorithms import PolygonsAlgorithm, SegmentAlgorithm

    cases = [
        (SegmentAlgorithm, dict(INPUT=scene, REGIONS=300, TILE=128), "c.tif"),
        (PolygonsAlgorithm, dict(INPUT=scene, LABELS=labels), "c.gpkg"),
    ]
    for algorithm, parameters, name in cases:
        alg = algorithm()
        alg.initAlgorithm()
        feedback = QgsProcessingFeedback()
        feedback.progressChanged.connect(lambda _: feedback.cancel())
        target = os.path.join(out, name)
        try:
            alg.processAlgorithm(dict(parameters, OUTPUT=target), QgsProcessingContext(), feedback)
            check(False, f"{alg.name()}: ran on after Cancel")
        except QgsProcessingException as e:
            check("cancelled" in str(e), f"{alg.name()}: {e}")
        left = [n for n in os.listdir(out) if n.startswith(name) or n.startswith("." + name)]
        check(not left, f"{alg.name()}: cancelled, left {left}")
    app.exitQgis()


def main(scene, work):
    shutil.rmtree(work, ignore_errors=True)
    out = os.path.join(work, "out")
    os.makedirs(out)
    labels = headless(scene, out, environment(work))
    cancelled(scene, labels, out)
    print(
        f"QGIS: segment, polygons, stats and schedule ran headless; Cancel leaves nothing ({out})"
    )


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
