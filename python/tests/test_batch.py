"""`kavu batch` on a LocalCluster of two worker processes: every output as
`kavu segment` writes it, a broken scene reported while the others go on, and
a second run from the command line that skips the finished scenes; an
interrupted batch and a script that would start a batch in every worker."""

import os
import subprocess
import sys

import distributed
import numpy as np
import pytest

import kavu
from cli_support import fields, read_labels, run, segment, write_raster
from kavu.batch import _local_cluster

OPTIONS = ("--tile", "48", "--lambda", "500")


def test_batch_equals_segment_reports_the_broken_scene_and_resumes(tmp_path):
    paths = [write_raster(tmp_path / f"scene{i}.tif", fields(90, 110, seed=i)) for i in range(3)]
    broken = tmp_path / "broken.tif"
    broken.write_text("not a raster")
    paths.insert(2, broken)
    ours = os.getenv("MALLOC_TRIM_THRESHOLD_")     # Dask's nanny sets its own here too
    with _local_cluster(2) as cluster, distributed.Client(cluster) as client:
        # Dask's malloc settings made every scene slower than alone.
        assert set(client.run(os.getenv, "MALLOC_TRIM_THRESHOLD_").values()) == {ours}
        rows = kavu.batch(paths, tmp_path, client, tile=48, lambda_threshold=500)
    assert [row.status for row in rows] == ["done", "done", "failed", "done"]
    assert rows[2].error == "cannot read input: not recognized as a supported file format."
    (tmp_path / "alone").mkdir()
    for scene, row in zip(paths, rows):
        if row.status == "done":
            alone = segment(scene, tmp_path / "alone" / "labels.tif", *OPTIONS)
            np.testing.assert_array_equal(read_labels(row.output), alone)
            assert row.regions == alone.max()

    # Into the inputs' folder again, its outputs named as inputs, as a glob would.
    outputs = [row.output for row in rows if row.output != rows[2].output]
    again = run("batch", *paths, *outputs, "--out-dir", tmp_path, "--workers", 2, *OPTIONS)
    assert again.returncode == 1, again.stderr
    assert again.stderr.splitlines() == [
        "kavu batch: warning: 3 of the inputs are outputs of this batch and are left out: "
        f"{outputs[0]}, {outputs[1]}, ...",
        f"kavu batch: error: 1 of 4 scenes failed; the table is in {tmp_path}/batch.csv"]
    table = [line.split(",") for line in (tmp_path / "batch.csv").read_text().splitlines()]
    assert [line[4] for line in table] == ["status", "skipped", "skipped", "failed", "skipped"]
    assert [line[1] for line in table[1:]] == [str(row.regions or "") for row in rows]
    words = [word for line in table for cell in line for word in cell.split()]
    assert again.stdout.split() == words
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        ["alone", "batch.csv", "batch.json", "broken.tif"] + [f"scene{i}{end}" for i in range(3)
                                                             for end in (".tif", ".labels.tif")])


class InterruptedAfterOne(list):
    """A cluster that runs the first scene it is given to the end, and is
    interrupted before the result comes back."""

    def submit(self, task, scene, *args, pure):
        self.append(scene)
        if len(self) > 1:
            raise KeyboardInterrupt
        task(scene, *args)


def test_interrupted_batch_keeps_what_finished_and_starts_nothing_it_cannot_open(tmp_path):
    scenes = [str(write_raster(tmp_path / f"s{i}.tif", fields(60, 70, seed=i))) for i in range(2)]
    (tmp_path / "folder.tif").mkdir()
    paths = [str(tmp_path / "missing.tif"), str(tmp_path / "folder.tif")] + scenes
    out, cluster, tables = tmp_path / "out", InterruptedAfterOne(), []
    with pytest.raises(KeyboardInterrupt):
        kavu.batch(paths, out, cluster, report=tables.append, tile=48)
    assert cluster == scenes
    assert [row.status for row in tables[0]] == ["failed", "failed", "done", "interrupted"]
    assert tables[0][0].error == "cannot read input: no such file"
    assert tables[0][1].error.startswith("cannot read input: ")
    assert tables[0][2].regions == read_labels(out / "s0.labels.tif").max()
    assert sorted(os.listdir(out)) == ["batch.csv", "batch.json", "s0.labels.tif"]
    # The same bands named otherwise, and no cluster to run anything on.
    again = kavu.batch(scenes[:1], out, object(), bands="1-3", tile=48)
    assert [row.status for row in again] == ["skipped"]


def test_a_script_without_the_main_guard_is_refused_before_any_worker_starts(tmp_path):
    script = tmp_path / "unguarded.py"
    script.write_text("import kavu\n\nkavu.batch(['scene.tif'], 'out')\n")
    r = subprocess.run([sys.executable, script], capture_output=True, text=True, timeout=300)
    assert r.returncode == 1 and r.stderr.count("Traceback") == 1, r.stderr
    assert r.stderr.splitlines()[-1] == (
        f"RuntimeError: {script}, line 3: kavu.batch runs when the script is imported, and its "
        "worker processes import it again; call it under `if __name__ == \"__main__\":`")
