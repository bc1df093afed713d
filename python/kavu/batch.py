"""`kavu batch`: many scenes segmented with the same options, one task per
scene on a Dask cluster (a LocalCluster of worker processes, or a cluster of
the user's own). A scene is never split: its tiles continue each other's
regions, so it runs on one worker exactly as `kavu segment` runs it.

DIR/batch.json records every output a batch finished, with the input and the
options it was made from; a later run with the same input and options skips
it. Outputs appear only complete (the segmentation writes them atomically), so
a run stopped half way leaves finished scenes and nothing else."""

import csv
import json
import os
import shutil
import sys
import time
from typing import NamedTuple, Optional

RECORD = "batch.json"
TABLE = "batch.csv"
OUTPUT_SUFFIX = ".labels.tif"


class SceneResult(NamedTuple):
    """One row of the batch table. status: done, skipped (finished by an
    earlier run), failed (error says why) or interrupted."""

    scene: str
    output: str
    regions: Optional[int]
    seconds: Optional[float]
    mpx_per_s: Optional[float]
    status: str
    error: str = ""


COLUMNS = ("scene", "regions", "seconds", "Mpx/s", "status", "error")


def output_path(scene, out_dir):
    """DIR/<input name without its extension>.labels.tif"""
    stem = os.path.splitext(os.path.basename(scene))[0]
    return os.path.join(out_dir, stem + OUTPUT_SUFFIX)


def batch(paths, out_dir, client=None, *, workers=None, progress=False, bands=None, mask="auto",
          **options):
    """Segments every raster of `paths` into out_dir/<name>.labels.tif with the
    options of `kavu segment` (lambda_threshold=, regions=, min_size=, tile=,
    ...; bands="1,2,3", mask="auto" as in `kavu segment`), one Dask task per
    scene, and returns the table as a list of SceneResult in the order of
    `paths` (also written to out_dir/batch.csv).

    client: a ``distributed.Client`` of your own, a scheduler address
    ("tcp://host:8786"), or None for a LocalCluster of `workers` processes
    (default: one per core) with one thread each, closed at the end. A scene
    that fails is reported in its row and the others go on. On
    KeyboardInterrupt the tasks are cancelled, a LocalCluster's workers stop,
    their unfinished outputs are removed, the table is written with the
    unfinished scenes as interrupted, and the interrupt is raised again.
    Options out of range raise OptionError (a ValueError) before any scene runs."""
    from dataclasses import asdict

    from .driver import SegmentOptions, check_options
    # Every option with its value, defaults too, so that runs compare; an
    # unknown option or one out of range fails here, before any cluster starts.
    segment = SegmentOptions(**options)
    check_options(segment)
    if mask not in ("auto", "none", "nodata"):       # a mask raster, read by the workers
        mask = os.path.abspath(mask)
    options = dict(asdict(segment), bands=bands, mask=mask)
    del options["workers"]          # threads within a scene: the labels do not depend on them
    jobs = _jobs(paths, out_dir)
    os.makedirs(out_dir, exist_ok=True)
    record = _Record(out_dir, options)
    rows = [record.skipped(scene, output) for scene, output in jobs]
    todo = [i for i, row in enumerate(rows) if row is None]
    bar = _bar(len(jobs), len(jobs) - len(todo), progress)
    cluster = None
    try:
        if todo:
            client, cluster, own_client = _connect(client, workers)
            try:
                _run(client, jobs, todo, rows, record, bar)
            finally:
                if own_client:
                    client.close()
                if cluster is not None:
                    cluster.close()
    finally:
        bar.close()
        for i, (scene, output) in enumerate(jobs):
            if rows[i] is None:
                _remove_leftovers(output)
                rows[i] = SceneResult(scene, output, None, None, None, "interrupted")
        write_table(rows, os.path.join(out_dir, TABLE))
    return rows


def _jobs(paths, out_dir):
    """(scene, output) pairs; two inputs of the same name, or an input that is
    an output of this batch, are refused before anything runs."""
    from .exits import EXIT_USAGE, CliError
    jobs, by_output = [], {}
    for scene in paths:
        output = output_path(str(scene), out_dir)
        if output in by_output:
            raise CliError(f"{by_output[output]} and {scene} would both be written to {output}",
                           EXIT_USAGE)
        by_output[output] = scene
        jobs.append((str(scene), output))
    outputs = {os.path.abspath(output) for output in by_output}
    for scene, _ in jobs:
        if os.path.abspath(scene) in outputs:
            raise CliError(f"{scene} is an input and an output of this batch", EXIT_USAGE)
    return jobs


def _connect(client, workers):
    """(client, cluster we started or None, whether we opened the client)."""
    import logging

    from distributed import Client, LocalCluster
    if client is not None and not isinstance(client, str):
        return client, None, False
    if isinstance(client, str):
        return Client(client), None, True
    # Worker processes take no Ctrl-C of their own (a terminal sends it to
    # every process of the group): the batch stops them itself, in order.
    import signal
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        # The scheduler serves HTTP whatever its dashboard; on a free port of
        # the loopback, so that it never meets another cluster's 8787.
        cluster = LocalCluster(n_workers=workers or os.cpu_count(), threads_per_worker=1,
                               processes=True, host="127.0.0.1", dashboard_address="127.0.0.1:0",
                               silence_logs=logging.ERROR)
    finally:
        signal.signal(signal.SIGINT, previous)
    return Client(cluster), cluster, True


def _run(client, jobs, todo, rows, record, bar):
    from distributed import as_completed
    futures = {client.submit(_segment_scene, os.path.abspath(jobs[i][0]),
                             os.path.abspath(jobs[i][1]), record.options, pure=False): i
               for i in todo}
    try:
        for future in as_completed(futures):
            i = futures[future]
            scene, output = jobs[i]
            try:
                done = future.result()
            except Exception as e:        # noqa: BLE001 - the worker died (KilledWorker, ...)
                from .cli import as_one_line, describe
                done = dict(error=(describe(e) or as_one_line(e))[0])
            rows[i] = _row(scene, output, done)
            if rows[i].status == "done":
                record.finished(scene, output, rows[i])
            bar.update()
    except BaseException:
        client.cancel(list(futures))
        raise


def _segment_scene(scene, output, options):
    """The task a worker runs: one `kavu segment`. Returns a dict, never
    raises, so a failing scene costs no retries."""
    from .cli import as_one_line, describe, ignore_layout_hints
    from .driver import SegmentOptions
    from .raster_segment import segment_raster
    ignore_layout_hints()
    options = dict(options)
    bands, mask = options.pop("bands"), options.pop("mask")
    started = time.monotonic()
    try:
        # One scene a process already keeps the cores busy: no threads on top.
        summary = segment_raster(scene, output, SegmentOptions(**options, workers=1), bands, mask)
    except Exception as e:                # noqa: BLE001 - reported in the scene's row
        return dict(error=(describe(e, output) or as_one_line(e))[0],
                    seconds=time.monotonic() - started)
    return dict(regions=summary["regions"], seconds=summary["seconds"], pixels=summary["pixels"])


def _row(scene, output, done):
    if "error" in done:
        return SceneResult(scene, output, None, done.get("seconds"), None, "failed",
                           done["error"])
    return SceneResult(scene, output, done["regions"], done["seconds"],
                       done["pixels"] / done["seconds"] / 1e6, "done")


def _remove_leftovers(output):
    """The work directory of a scene whose worker was stopped mid-way."""
    from .raster_io import AtomicOutput
    for path in AtomicOutput.work_dirs(output):
        shutil.rmtree(path, ignore_errors=True)


class _Record:
    """DIR/batch.json: output name -> the input (path, size, mtime), the
    options and the result of the run that finished it."""

    def __init__(self, out_dir, options):
        self.path = os.path.join(out_dir, RECORD)
        self.options = json.loads(json.dumps(options))   # as it reads back from the file
        try:
            with open(self.path) as f:
                self.entries = json.load(f)
        except FileNotFoundError:
            self.entries = {}
        except ValueError:                                 # unreadable: nothing counts as done
            self.entries = {}

    @staticmethod
    def _input(scene):
        try:
            st = os.stat(scene)
        except OSError:
            return None
        return [os.path.abspath(scene), st.st_size, st.st_mtime_ns]

    def skipped(self, scene, output):
        """The row of a scene finished earlier from the same input and
        options, or None when it has to run."""
        entry = self.entries.get(os.path.basename(output))
        if (entry is None or not os.path.isfile(output) or entry["options"] != self.options
                or entry["input"] != self._input(scene)):
            return None
        return SceneResult(scene, output, entry["regions"], None, None, "skipped")

    def finished(self, scene, output, row):
        self.entries[os.path.basename(output)] = dict(
            input=self._input(scene), options=self.options, regions=row.regions,
            seconds=row.seconds)
        temporary = self.path + ".new"
        with open(temporary, "w") as f:
            json.dump(self.entries, f, indent=1)
        os.replace(temporary, self.path)


def _cells(row):
    def number(value, digits):
        return "" if value is None else f"{value:.{digits}f}"
    return [row.scene, "" if row.regions is None else str(row.regions), number(row.seconds, 2),
            number(row.mpx_per_s, 2), row.status, row.error]


def write_table(rows, path):
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(COLUMNS)
        writer.writerows(_cells(row) for row in rows)


def format_table(rows):
    """The table as aligned text columns (the error column last, unpadded)."""
    lines = [list(COLUMNS)] + [_cells(row) for row in rows]
    widths = [max(len(line[c]) for line in lines) for c in range(len(COLUMNS) - 1)]
    numbers = {1, 2, 3}

    def text(line):
        cells = [cell.rjust(w) if c in numbers else cell.ljust(w)
                 for c, (cell, w) in enumerate(zip(line, widths))]
        return "  ".join(cells + [line[-1]]).rstrip()
    return "\n".join(text(line) for line in lines)


def _bar(total, initial, show):
    if not show:
        from .raster_segment import no_progress
        return no_progress(total, "scenes")
    from tqdm import tqdm
    return tqdm(total=total, initial=initial, desc="scenes", unit="scene", file=sys.stderr)
