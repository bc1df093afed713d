"""`kavu batch` on a LocalCluster of two worker processes: every output as
`kavu segment` writes it, a broken scene reported while the others go on, and
a second run from the command line that skips the finished scenes."""

import distributed
import numpy as np

import kavu
from cli_support import fields, read_labels, run, segment, write_raster

OPTIONS = ("--tile", "48", "--lambda", "500")


def test_batch_equals_segment_reports_the_broken_scene_and_resumes(tmp_path):
    paths = [write_raster(tmp_path / f"scene{i}.tif", fields(90, 110, seed=i)) for i in range(3)]
    broken = tmp_path / "broken.tif"
    broken.write_text("not a raster")
    paths.insert(2, broken)
    out = tmp_path / "out"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        rows = kavu.batch(paths, out, client, tile=48, lambda_threshold=500)
    assert [row.status for row in rows] == ["done", "done", "failed", "done"]
    assert rows[2].error.startswith(f"cannot read input {broken}")
    for scene, row in zip(paths, rows):
        if row.status == "done":
            alone = segment(scene, tmp_path / "alone.tif", *OPTIONS)
            np.testing.assert_array_equal(read_labels(row.output), alone)
            assert row.regions == alone.max()

    again = run("batch", *paths, "--out-dir", out, "--workers", 2, *OPTIONS)
    assert again.returncode == 1, again.stderr
    assert again.stderr.startswith("kavu batch: error: 1 of 4 scenes failed")
    table = [line.split(",") for line in (out / "batch.csv").read_text().splitlines()]
    assert [line[4] for line in table] == ["status", "skipped", "skipped", "failed", "skipped"]
    assert [line[1] for line in table[1:]] == [str(row.regions or "") for row in rows]
    words = [word for line in table for cell in line for word in cell.split()]
    assert again.stdout.split() == words
    assert sorted(p.name for p in out.iterdir()) == [
        "batch.csv", "batch.json", "scene0.labels.tif", "scene1.labels.tif", "scene2.labels.tif"]
