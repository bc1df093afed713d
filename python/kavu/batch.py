"""`kavu batch`: many scenes segmented with the same options, one task per
scene on a Dask cluster (a LocalCluster of worker processes, or a cluster of
the user's own). A scene is never split: its tiles continue each other's
regions, so it runs on one worker exactly as `kavu segment` runs it.

DIR/batch.json records every output a batch finished, with the input and the
options it was made from; a later run with the same input and options skips
it. Outputs appear only complete (the segmentation writes them atomically), so
a run stopped half way leaves finished scenes and nothing else. The worker that
finishes a scene leaves a note beside its output, which the batch moves into
the record: a scene that ends while the batch is being stopped, or after it
left a cluster of the user's own, still counts as done. A scene whose worker
is lost runs again on another (Dask's allowed failures), from a clean start:
the work directory the lost run left beside its output is removed first; one
that loses a worker each time is reported as failed."""

import csv
import glob
import json
import os
import shutil
import sys
import time
import warnings
from typing import NamedTuple, Optional

from .binding.host_messages import KavuWarning

RECORD = "batch.json"
TABLE = "batch.csv"
OUTPUT_SUFFIX = ".labels.tif"
NOTE_SUFFIX = ".finished"


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


def batch(
    paths,
    out_dir,
    client=None,
    *,
    workers=None,
    progress=False,
    report=None,
    bands=None,
    mask="auto",
    **options,
):
    """Segments every raster of `paths` into out_dir/<name>.labels.tif with the
    options of `kavu segment` (lambda_threshold=, regions=, min_size=, tile=,
    ...; bands="1,2,3", mask="auto" as in `kavu segment`), one Dask task per
    scene, and returns the table as a list of SceneResult in the order of
    `paths` (also written to out_dir/batch.csv, and handed to `report` when
    given, also when interrupted).

    client: a ``distributed.Client`` of your own, a scheduler address
    ("tcp://host:8786"), or None for a LocalCluster of `workers` processes
    (default: one per core) with one thread each, closed at the end; its
    processes import the main script again, so a script calls this under
    ``if __name__ == "__main__":`` (RuntimeError otherwise). A scene that
    fails is reported in its row and the others go on; one that cannot be
    opened fails before any cluster starts. Outputs an earlier run made into
    out_dir that are among `paths` are left out with a warning. On
    KeyboardInterrupt the tasks are cancelled, a LocalCluster's workers stop,
    their unfinished outputs are removed, the table is written with the
    unfinished scenes as interrupted, and the interrupt is raised again.
    Options out of range raise kavu.errors.OptionError (a ValueError) before
    any scene runs; inputs that would overwrite each other's outputs,
    kavu.errors.ArgumentError."""
    from dataclasses import asdict

    from .tiled.run import SegmentOptions, check_options

    # Every option with its value, defaults too, so that runs compare; an
    # unknown option or one out of range fails here, before any cluster starts.
    segment = SegmentOptions(**options)
    check_options(segment)
    if client is None:
        _refuse_unguarded_main()
    if mask not in ("auto", "none", "nodata"):  # a mask raster, read by the workers
        mask = os.path.abspath(mask)
    common = dict(asdict(segment), mask=mask)
    os.makedirs(out_dir, exist_ok=True)
    record = _Record(out_dir)
    jobs = _jobs(paths, out_dir, record)
    rows, todo = [], {}
    for i, (scene, output) in enumerate(jobs):
        row, scene_options = _first_look(scene, output, common, bands, record)
        rows.append(row)
        if row is None:
            todo[i] = scene_options
    bar = _bar(len(jobs), len(jobs) - len(todo), progress)
    stopped = None
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
    except KeyboardInterrupt as e:
        stopped = e
    finally:
        bar.close()
        for i, (scene, output) in enumerate(jobs):
            if rows[i] is None:
                entry = record.take_note(output)  # finished while the workers stopped
                if entry is None:
                    _remove_leftovers(output)
                rows[i] = (
                    _row(scene, output, entry)
                    if entry
                    else SceneResult(scene, output, None, None, None, "interrupted")
                )
        write_table(rows, os.path.join(out_dir, TABLE))
    if report is not None:
        report(rows)
    if stopped is not None:
        raise stopped
    return rows


def _jobs(paths, out_dir, record):
    """(scene, output) pairs; two inputs of the same name, or an input that is
    an output of this batch, are refused before anything runs, but for outputs
    the record lists (DIR is the folder of the inputs): those are left out."""
    from .errors import ArgumentError

    jobs, by_output = [], {}
    for scene in paths:
        output = output_path(str(scene), out_dir)
        if output in by_output:
            raise ArgumentError(
                f"{by_output[output]} and {scene} would both be written to " f"{output}"
            )
        by_output[output] = scene
        jobs.append((str(scene), output))
    outputs = {os.path.abspath(output) for output in by_output}
    ours = [scene for scene, _ in jobs if os.path.abspath(scene) in outputs]
    unknown = [scene for scene in ours if os.path.basename(scene) not in record.entries]
    if unknown:
        raise ArgumentError(f"{unknown[0]} is an input and an output of this batch")
    if ours:
        warnings.warn(
            KavuWarning(
                "KAVU_BATCH_OWN_OUTPUTS",
                None,
                f"{len(ours)} of the inputs are outputs of this batch and "
                f"are left out: {', '.join(ours[:2])}"
                f"{', ...' if len(ours) > 2 else ''}",
            ),
            stacklevel=3,
        )
    return [(scene, output) for scene, output in jobs if scene not in ours]


def _first_look(scene, output, common, bands, record):
    """(its row when it needs no worker: skipped, or failed as it cannot be
    opened; the options it runs with). Its bands are named as the list they
    are, so that '1-3', '1,2,3' and the default of a three-band scene are the
    same option."""
    from .errors import ArgumentError, InputError
    from .raster.io import gdal_env, open_raster, parse_bands

    try:
        with gdal_env(), open_raster(scene) as ds:
            chosen = ",".join(map(str, parse_bands(bands, ds)))
    except (ArgumentError, InputError) as e:
        return SceneResult(scene, output, None, None, None, "failed", _error_line(e, scene)), None
    options = dict(common, bands=chosen)
    return record.skipped(scene, output, options), options


def _refuse_unguarded_main():
    """Worker processes start by importing the main script again: a batch it
    starts at import would start one in every worker, and Dask restarts
    workers that fail, for ever."""
    import ast

    import dask

    frame = _main_script_frame()
    forked = dask.config.get("distributed.worker.multiprocessing-method", "spawn") == "fork"
    if frame is None or forked:  # a forked worker does not run the script again
        return
    try:
        with open(frame.f_code.co_filename) as f:
            tree = ast.parse(f.read())
    except (OSError, SyntaxError, ValueError):
        return
    line = frame.f_lineno
    # Any `if` that tests __name__ around the running line counts as the guard.
    for node in ast.walk(tree):
        if (
            isinstance(node, ast.If)
            and node.lineno <= line <= node.end_lineno
            and any(isinstance(n, ast.Name) and n.id == "__name__" for n in ast.walk(node.test))
        ):
            return
    raise RuntimeError(
        f"{frame.f_code.co_filename}, line {line}: kavu.batch runs when the "
        "script is imported, and its worker processes import it again; call it "
        'under `if __name__ == "__main__":`'
    )


def _main_script_frame():
    """The frame of the main script's top level when it is running and a new
    process would run it again (as multiprocessing's spawn does: not a
    package's __main__, not an interactive session)."""
    main = sys.modules.get("__main__")
    name = getattr(getattr(main, "__spec__", None), "name", None)
    if name is not None and name.endswith("__main__") or not hasattr(main, "__file__"):
        return None
    frame = sys._getframe()
    while frame is not None and not (
        frame.f_globals is vars(main) and frame.f_code.co_name == "<module>"
    ):
        frame = frame.f_back
    return frame


def _connect(client, workers):
    """(client, cluster we started or None, whether we opened the client)."""
    from distributed import Client

    if client is not None and not isinstance(client, str):
        return client, None, False
    if isinstance(client, str):
        return Client(client), None, True
    cluster = _local_cluster(workers)
    return Client(cluster), cluster, True


def _local_cluster(workers):
    import logging
    import signal

    import dask
    from distributed import LocalCluster

    # Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_ set, and glibc
    # then stops raising its mmap threshold: every large array of a tile is
    # mapped and unmapped afresh (twice the page faults), and a scene took 10 %
    # longer than alone. The workers get this process's environment instead,
    # as `kavu segment` runs.
    environ = {
        name: value
        for name, value in dask.config.get("distributed.nanny.pre-spawn-environ").items()
        if name != "MALLOC_TRIM_THRESHOLD_"
    }
    # Worker processes take no Ctrl-C of their own (a terminal sends it to
    # every process of the group): the batch stops them itself, in order.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        # The scheduler serves HTTP whatever its dashboard; on a free port of
        # the loopback, so that it never meets another cluster's 8787.
        with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
            return LocalCluster(
                n_workers=workers or os.cpu_count(),
                threads_per_worker=1,
                processes=True,
                host="127.0.0.1",
                dashboard_address="127.0.0.1:0",
                silence_logs=logging.ERROR,
            )
    finally:
        signal.signal(signal.SIGINT, previous)


def _run(client, jobs, todo, rows, record, bar):
    from distributed import as_completed

    futures = {
        client.submit(
            _segment_scene,
            os.path.abspath(jobs[i][0]),
            os.path.abspath(jobs[i][1]),
            options,
            pure=False,
        ): i
        for i, options in todo.items()
    }
    try:
        for future in as_completed(futures):
            i = futures[future]
            scene, output = jobs[i]
            try:
                done = future.result()
            except Exception as e:  # noqa: BLE001 - the worker died (KilledWorker, ...)
                done = dict(error=_lost_line(e) or _error_line(e, scene))
            if "error" not in done:
                record.take_note(output)
            rows[i] = _row(scene, output, done)
            bar.update()
    except BaseException:
        client.cancel(list(futures))
        raise


def _segment_scene(scene, output, options):
    """The task a worker runs: one `kavu segment`, and the note of the record
    entry it makes. Returns that entry or a dict of the error, never raises,
    so a failing scene costs no retries."""
    from .tiled.run import SegmentOptions
    from .binding.checks import ignore_layout_hints
    from .raster.segment import segment_raster

    ignore_layout_hints()
    _remove_leftovers(output)  # of a run on a worker that was lost
    recorded, options = options, dict(options)
    bands, mask = options.pop("bands"), options.pop("mask")
    started = time.monotonic()
    source = _Record.input(scene)  # as it was read: a change meanwhile is a change
    try:
        # One scene a process already keeps the cores busy: no threads on top.
        summary = segment_raster(scene, output, SegmentOptions(**options), bands, mask, workers=1)
        entry = dict(
            input=source,
            options=recorded,
            regions=summary["regions"],
            seconds=summary["seconds"],
            pixels=summary["pixels"],
        )
        _write_json(_note_path(output), entry)
    except Exception as e:  # noqa: BLE001 - reported in the scene's row
        return dict(error=_error_line(e, scene, output), seconds=time.monotonic() - started)
    return entry


def _lost_line(error):
    from distributed import KilledWorker

    if isinstance(error, KilledWorker):
        return (
            "lost its worker each time it ran (the scheduler's allowed failures); "
            "see the workers' logs (out of memory?)"
        )
    return None


def _error_line(error, scene, output=None):
    """The failure as the table's error cell, without the scene's path: its
    row names the scene already."""
    from .cli.error_lines import as_one_line, describe

    text = (describe(error, output) or as_one_line(error))[0]
    for path in (os.path.abspath(scene), scene):
        text = text.replace(f"'{path}' ", "").replace(f" {path}", "")
    return text


def _row(scene, output, done):
    if "error" in done:
        return SceneResult(scene, output, None, done.get("seconds"), None, "failed", done["error"])
    return SceneResult(
        scene,
        output,
        done["regions"],
        done["seconds"],
        done["pixels"] / done["seconds"] / 1e6,
        "done",
    )


def _remove_leftovers(output):
    """The work directory of a scene whose worker was stopped mid-way."""
    from .raster.io import AtomicOutput

    for path in AtomicOutput.work_dirs(output):
        shutil.rmtree(path, ignore_errors=True)


def _note_path(output):
    return os.path.join(os.path.dirname(output), f".{os.path.basename(output)}{NOTE_SUFFIX}")


def _write_json(path, value):
    temporary = path + ".new"
    with open(temporary, "w") as f:
        json.dump(value, f, indent=1)
    os.replace(temporary, path)


class _Record:
    """DIR/batch.json: output name -> the input (path, size, mtime), the
    options and the result of the run that finished it."""

    def __init__(self, out_dir):
        self.path = os.path.join(out_dir, RECORD)
        try:
            with open(self.path) as f:
                self.entries = json.load(f)
        except FileNotFoundError:
            self.entries = {}
        except ValueError:  # unreadable: nothing counts as done
            self.entries = {}
        # Notes of scenes that finished after their batch had stopped.
        pattern = os.path.join(glob.escape(out_dir), f".*{OUTPUT_SUFFIX}{NOTE_SUFFIX}")
        for note in glob.glob(pattern):
            name = os.path.basename(note)[1 : -len(NOTE_SUFFIX)]
            self.take_note(os.path.join(out_dir, name))

    @staticmethod
    def input(scene):
        try:
            st = os.stat(scene)
        except OSError:
            return None
        return [os.path.abspath(scene), st.st_size, st.st_mtime_ns]

    def skipped(self, scene, output, options):
        """The row of a scene finished earlier from the same input and
        options, or None when it has to run."""
        entry = self.entries.get(os.path.basename(output))
        if (
            entry is None
            or not os.path.isfile(output)
            or entry["options"] != json.loads(json.dumps(options))
            or entry["input"] != self.input(scene)
        ):
            return None
        return SceneResult(scene, output, entry["regions"], None, None, "skipped")

    def take_note(self, output):
        """Moves the note a worker left beside `output` into the record, and
        returns its entry (None when there is none)."""
        note = _note_path(output)
        try:
            with open(note) as f:
                entry = json.load(f)
        except (OSError, ValueError):
            return None
        if os.path.isfile(output):
            self.entries[os.path.basename(output)] = entry
            _write_json(self.path, self.entries)
        os.remove(note)
        return entry if os.path.isfile(output) else None


def _cells(row):
    def number(value, digits):
        return "" if value is None else f"{value:.{digits}f}"

    return [
        row.scene,
        "" if row.regions is None else str(row.regions),
        number(row.seconds, 2),
        number(row.mpx_per_s, 2),
        row.status,
        row.error,
    ]


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
        cells = [
            cell.rjust(w) if c in numbers else cell.ljust(w)
            for c, (cell, w) in enumerate(zip(line, widths))
        ]
        return "  ".join(cells + [line[-1]]).rstrip()

    return "\n".join(text(line) for line in lines)


def _bar(total, initial, show):
    if not show:
        from .raster.segment import no_progress

        return no_progress(total, "scenes")
    from tqdm import tqdm

    return tqdm(total=total, initial=initial, desc="scenes", unit="scene", file=sys.stderr)
