"""`make bench`: every routine family against its peers, one table.

Each job runs in a fresh Python process (its peak memory is its own), times
our routine and then each peer on the same arrays, and hands back rows. The
table is printed and written to bench/results/bench.md and bench.json.
Run with PYTHONPATH pointing at the built package (<build>/python)."""

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import report  # noqa: E402


def plan(args):
    """(job, data set, arguments) in the order they run."""
    jobs = []
    for n in args.sizes:
        ds = f"synth-{n}"
        jobs += [("watershed", ds, {}), ("threads", ds, {}), ("labelling", ds, {}),
                 ("reg_info", ds, {"bands": 1}),
                 ("reg_info", ds, {"bands": 3}), ("utilities", ds, {})]
    if args.landsat:
        jobs += [("watershed", "landsat", {}), ("labelling", "landsat", {}),
                 ("reg_info", "landsat", {"bands": 6}), ("utilities", "landsat", {}),
                 ("merging_regions", "landsat", {})]
    m = args.merge_size
    jobs += [("merging_peer", f"field1-{m}", {"side": args.peer_side, "bands": 1}),
             ("merging_peer", f"synth-{m}", {"side": args.peer_side, "bands": 3}),
             ("merging", f"synth-{m}", {"bands": 3})]
    jobs += main_job_plan(args)
    jobs.append(("create_label_image", f"field1-{m}", {}))
    # The one-band schedule at four sizes is also the scaling run of merging.
    for n in args.merge_scaling:
        jobs.append(("merging", f"field1-{n}", {"bands": 1}))
    return jobs


def main_job_plan(args):
    """Merging as kavu segment runs it, beside the full schedule: a window of
    each photograph and field at its default lambda and at one region per
    1000 pixels, and windows of growing side (growth points only)."""
    n, side, growth = args.main_mosaic, args.main_side, args.main_growth
    sides = sorted(set(growth) | {side})
    # Merging the Hubble field grows faster than its basins: its larger windows
    # would take minutes a call.
    hubble = [s for s in growth if s <= args.main_hubble_max] or growth[:1]
    jobs = [("main_merging", f"astronaut-{n}", {"sides": sides, "shown": side,
                                                "name": f"astronaut mosaic {n}²"}),
            ("main_merging", f"synth-{n}", {"sides": sides, "shown": side,
                                            "name": f"synthetic field {n}²"}),
            # Whole, as one window of the default tile; a trial takes a window of it.
            ("main_merging", "hubble", {"sides": [side if args.quick else 0],
                                        "shown": side if args.quick else 0,
                                        "name": "Hubble deep field"}),
            ("main_merging", f"hubble-{max(hubble)}",
             {"sides": hubble, "shown": None, "name": f"Hubble deep field mosaic {max(hubble)}²"})]
    if args.landsat:
        jobs.append(("main_merging", "landsat", {"sides": [0], "shown": 0,
                                                 "name": "Landsat scene"}))
    return jobs


def main_job_growth(rows):
    """Time and memory of the main job's merging against the window's basins,
    image by image and threshold by threshold, and of its building alone."""
    groups = {}
    for r in rows:
        if r["job"] != "main_merging":
            continue
        point = (r["count"], r["ours_s"], r["mem_bytes"])
        groups.setdefault(f"{r['image']}, λ {r['lambda_kind']}", []).append(point)
        building = groups.setdefault(f"{r['image']}, building (λ 0)", [])
        if (r["count"], r["build_s"], None) not in building:
            building.append((r["count"], r["build_s"], None))
    out = [report.scaling_summary(f"main-job merging, {name}", points, "basins")
           for name, points in groups.items()]
    return [s for s in out if len(s["points"]) >= 2]


def run_job(job, ds_dir, kwargs, before=None):
    """The job's rows, from a process of its own. There glibc maps every block
    of 64 KiB or more on its own and unmaps it when freed, so that the peak
    resident set of a call counts what the call touched, not memory that
    earlier frees left in the heap (peers run under the same setting).
    With `before` (a build directory) our routines come from that build and
    the peers are left out."""
    request = json.dumps({"job": job, "ds": ds_dir, "args": kwargs})
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="65536", MALLOC_TRIM_THRESHOLD_="131072")
    if before:
        env.update(PYTHONPATH=os.path.join(before, "python"), KAVU_BENCH_OURS_ONLY="1")
    proc = subprocess.run([sys.executable, os.path.abspath(__file__), "--job", request],
                          stdout=subprocess.PIPE, text=True, env=env)
    if proc.returncode != 0:
        raise SystemExit(f"bench: job {job} on {ds_dir} failed (exit {proc.returncode})")
    for line in proc.stdout.splitlines():
        if line.startswith("ROWS "):
            return json.loads(line[5:])
    raise SystemExit(f"bench: job {job} on {ds_dir} printed no rows")


def job_main(request):
    import warnings
    import jobs
    warnings.simplefilter("ignore")
    request = json.loads(request)
    rows = jobs.JOBS[request["job"]](request["ds"], **request["args"])
    print("ROWS " + json.dumps(rows), flush=True)


def growth_with_size(rows):
    """Our time and memory at the synthetic sizes, routine by routine (and the
    baseline build's, where it ran)."""
    groups = {}
    for r in rows:
        if r["dataset"].startswith("synth-") and r["unit"] == "px" and r.get("ours_s"):
            what = r["data"].split(",", 1)[1].strip() if "," in r["data"] else ""
            if r["routine"] == "create_increasing":
                what = "random walk"
            points = groups.setdefault((r["routine"], what), ([], []))
            for kept, point in zip(points, [(r["count"], r["ours_s"], r.get("mem_bytes")),
                                            (r["count"], r.get("before_s"),
                                             r.get("before_mem_bytes"))]):
                if point[1] and point not in kept:
                    kept.append(point)
    out = [report.scaling_summary(f"{routine}, {what}", points, "px", before)
           for (routine, what), (points, before) in groups.items()]
    return [s for s in out if len(s["points"]) >= 2]


def add_before(rows, before_rows):
    """The baseline build's time and memory into the rows of the same work."""
    kept = {(r["routine"], r["data"]): r for r in before_rows}
    for r in rows:
        b = kept.get((r["routine"], r["data"]))
        if b and b.get("ours_s"):
            r.update(before_s=b["ours_s"], before_mem_bytes=b.get("mem_bytes"))


def compare_per_region(rows):
    """Schedules too large for the merging peer are set against its time per
    region on the small image of pixel regions with as many bands."""
    small = [r for r in rows if r["family"] == "merging" and "pixel regions" in r["data"]
             and r.get("peer_s")]
    for r in rows:
        if r["routine"] != "iter_lambda_segment" or "peer" in r or "pixel regions" not in r["data"]:
            continue
        ref = next((p for p in small if p["bands"] == r["bands"]), None)
        if ref and ref["count"] < r["count"]:
            side = ref["data"].split(",")[0]
            r.update(peer=f"{ref['peer']} on {side}, per region", peer_s=ref["peer_s"],
                     peer_count=ref["count"], peer_reps=ref["peer_reps"])
            report.complete(r)


def road_rows(args, log):
    """kavu segment tile by tile against one piece, at each size; the tiled
    runs with TILE-sized tiles and the one-piece runs are also its scaling run."""
    import road
    rows, tiled, whole = [], [], []
    try:
        baseline = road.baseline_rss()
    except RuntimeError as e:
        note = str(e).strip().splitlines()[-1]
        return [dict(family="tiled road", routine="kavu segment", data="—", unit="px",
                     count=1, bands=0, ours_s=None, note=f"not run: {note}")], [], None
    def synthetic(n, tile, one_piece):
        return (n, f"synth-{n}", os.path.join(args.work, f"road-{n}.tif"), args.road_lambda,
                tile, one_piece)

    cases = [synthetic(n, args.tile, n <= args.one_piece_max) for n in args.road_sizes]
    cases += [synthetic(n, tile, True) for n, tile in args.compare]
    if args.landsat:
        cases.append((None, "landsat", args.landsat, args.landsat_lambda, args.tile, True))
    for n, name, raster, lam, tile, one_piece in cases:
        t = time.time()
        log(f"road {name}")
        if n:
            road.write_raster(raster, n)
        import rasterio
        with rasterio.open(raster) as src:
            height, width, bands = src.height, src.width, src.count
        side = max(height, width)
        tile = tile if side > tile else max(64, side // 4)
        out_t, out_w = os.path.join(args.work, "tiled.tif"), os.path.join(args.work, "whole.tif")
        reps = 3 if height * width < 2**22 else 1
        try:
            sec_t, peak_t = road.segment(raster, out_t, tile, lam, reps)
            if args.before:
                before = road.segment(raster, out_t, tile, lam, 1, args.before)
        except RuntimeError as e:
            note = str(e)[:100]
            rows.append(dict(family="tiled road", routine=f"kavu segment --tile {tile}",
                             data=f"{width}×{height}", unit="px", count=height * width,
                             bands=bands, ours_s=None, note=f"failed: {note}", dataset=name))
            log(" failed\n")
            continue
        row = dict(family="tiled road", routine=f"kavu segment --tile {tile}",
                   data=f"{width}×{height}, {bands} bands, λ {lam:g}", unit="px",
                   count=height * width, bands=bands, ours_s=sec_t, ours_reps=reps,
                   mem_bytes=peak_t - baseline, rss_bytes=peak_t, dataset=name)
        if args.before:
            row.update(before_s=before[0], before_mem_bytes=before[1] - baseline)
        if tile == args.tile and n in args.road_sizes:
            tiled.append((height * width, sec_t, peak_t - baseline))
        if one_piece:
            sec_w, peak_w = road.segment(raster, out_w, side, lam, reps)
            labels_t, labels_w = road.read_labels(out_t), road.read_labels(out_w)
            ari = road.adjusted_rand_index(labels_t, labels_w)
            seams = (road.border_ratio(labels_t, tile), road.border_ratio(labels_w, tile))
            row.update(peer=f"one piece (--tile {side}), peak {peak_w / 2**20:.0f} MiB",
                       peer_s=sec_w, peer_reps=reps, peer_rss_bytes=peak_w,
                       check=f"ARI {ari:.3f}; border steps {seams[0]:.2f}× the median "
                       f"(one piece {seams[1]:.2f}×); regions {labels_t.max()} vs "
                       f"{labels_w.max()}")
            del labels_t, labels_w
            if n and (height * width, sec_w, peak_w - baseline) not in whole:
                whole.append((height * width, sec_w, peak_w - baseline))
        rows.append(report.complete(row))
        log(f" {time.time() - t:.0f} s\n")
    scaling = [report.scaling_summary(f"kavu segment, {args.tile}-pixel tiles", tiled, "px"),
               report.scaling_summary("kavu segment, one piece", whole, "px")]
    return rows, [s for s in scaling if len(s["points"]) >= 2], baseline


def micro_benchmarks(build, log):
    """The C++ micro-benchmarks (bench/*_bench.cpp, Google Benchmark) built
    beside the package: their own figures, one line per case."""
    import glob
    lines = []
    for exe in sorted(glob.glob(os.path.join(build, "*_bench"))):
        log(f"micro {os.path.basename(exe)}")
        t = time.time()
        proc = subprocess.run([exe, "--benchmark_format=json", "--benchmark_min_time=0.2"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        log(f" {time.time() - t:.0f} s\n")
        if proc.returncode != 0:
            lines.append(f"{os.path.basename(exe)}: failed (exit {proc.returncode})")
            continue
        for b in json.loads(proc.stdout)["benchmarks"]:
            skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads",
                    "iterations", "real_time", "cpu_time", "time_unit", "family_index",
                    "per_family_instance_index", "aggregate_name", "error_occurred"}
            counters = ", ".join(f"{k} {v:.4g}" for k, v in b.items()
                                 if k not in skip and isinstance(v, (int, float)))
            text = b.get("error_message") or f"{b['real_time']:.3g} {b['time_unit']}"
            lines.append(f"{b['name']}: {text}{', ' + counters if counters else ''}")
    return lines


def machine():
    cpu = platform.processor()
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    import cv2
    import numpy
    import scipy
    import skimage
    return {"cpu": cpu, "cores": os.cpu_count(), "python": platform.python_version(),
            "numpy": numpy.__version__, "scipy": scipy.__version__,
            "skimage": skimage.__version__, "opencv": cv2.__version__}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--job", help=argparse.SUPPRESS)
    p.add_argument("--work", default=os.path.join(HERE, "..", "build-release", "bench-work"),
                   help="where the generated data sets are kept between runs")
    p.add_argument("--out", help="where bench.md and bench.json go (default bench/results, "
                   "and the work directory for --quick, so a trial leaves the kept results alone)")
    p.add_argument("--build", default=os.path.join(HERE, "..", "build-release"),
                   help="build directory whose C++ micro-benchmarks (*_bench) are run too")
    p.add_argument("--sizes", type=int, nargs="+", default=[1024, 4096])
    p.add_argument("--merge-size", type=int, default=1024)
    p.add_argument("--merge-scaling", type=int, nargs="+", default=[256, 512, 1024, 2048])
    p.add_argument("--peer-side", type=int, default=96)
    p.add_argument("--main-mosaic", type=int, default=4096,
                   help="side of the photo mosaic and synthetic field of the main job's rows")
    p.add_argument("--main-side", type=int, default=1280,
                   help="window side of the main job's rows (a 1024-pixel tile and its margins)")
    p.add_argument("--main-growth", type=int, nargs="+", default=[512, 1024, 2048])
    p.add_argument("--main-hubble-max", type=int, default=1024,
                   help="largest window of the Hubble field's growth")
    p.add_argument("--road-sizes", type=int, nargs="*", default=[1024, 2048, 4096])
    p.add_argument("--tile", type=int, default=512)
    p.add_argument("--one-piece-max", type=int, default=2048,
                   help="largest image also segmented in one piece")
    p.add_argument("--compare", type=lambda t: tuple(int(v) for v in t.split(":")), nargs="*",
                   default=[(4096, 1024)], metavar="SIZE:TILE",
                   help="further tiled runs set against one piece")
    p.add_argument("--road-lambda", type=float, default=1e8)
    p.add_argument("--landsat-lambda", type=float, default=1000.0)
    p.add_argument("--landsat", default=os.path.join(HERE, "..", "data", "L7_ETMs.tif"))
    p.add_argument("--before", metavar="BUILD",
                   help="a build of an earlier commit: each row shows its time and memory "
                   "before -> after ours, against the same peers")
    p.add_argument("--quality-side", type=int, default=1024,
                   help="side of the ground-truth images of the quality rows")
    p.add_argument("--quality-seeds", type=int, nargs="+", default=[1, 2, 3],
                   help="seeds of the ground-truth images of the quality rows")
    p.add_argument("--quick", action="store_true",
                   help="small sizes only, for trying the benchmark out")
    p.add_argument("--full", action="store_true",
                   help="also the large runs (about an hour here): the tiled road with "
                   "1024-pixel tiles up to 16384², one piece up to 4096², and the C++ "
                   "micro-benchmarks")
    p.add_argument("--only", nargs="+", help="run only these jobs")
    p.add_argument("--render", metavar="JSON",
                   help="only print and write again the results kept in a bench.json")
    args = p.parse_args()
    if args.job:
        return job_main(args.job)
    if args.out is None:
        args.out = os.path.join(args.work, "results-quick") if args.quick else \
            os.path.join(HERE, "results")
    if args.render:
        with open(args.render) as f:
            kept = json.load(f)
        return finish(args, kept["rows"], kept["scaling"], kept.get("micro", []), time.time(),
                      kept["date"], kept["machine"])
    if args.quick:
        args.sizes, args.merge_size, args.merge_scaling, args.peer_side = [256, 512], 256, [64, 128, 256], 48
        args.main_mosaic, args.main_side, args.main_growth = 1024, 384, [256, 512]
        args.road_sizes, args.tile, args.one_piece_max = [256, 512, 1024], 256, 1024
        args.compare = []
        args.quality_side, args.quality_seeds = 512, [1]
    if args.full:
        args.compare = []
        args.road_sizes, args.tile, args.one_piece_max = [2048, 4096, 8192, 16384], 1024, 4096
    if not os.path.exists(args.landsat):
        print(f"bench: {args.landsat} missing (scripts/fetch-sample.sh fetches it); "
              "the Landsat rows are left out", file=sys.stderr)
        args.landsat = None

    import datasets
    started = time.time()
    todo = [j for j in plan(args) if not args.only or j[0] in args.only]
    rows = []
    for k, (job, ds, kwargs) in enumerate(todo, 1):
        t = time.time()
        ds_dir = datasets.make(args.work, ds, args.landsat)
        print(f"[{k}/{len(todo)}] {job} {ds} {kwargs or ''}", end=" ", file=sys.stderr, flush=True)
        new = [report.complete(r) for r in run_job(job, ds_dir, kwargs)]
        if args.before and job != "main_merging":  # its basins come from this build's stages
            add_before(new, run_job(job, ds_dir, kwargs, before=args.before))
        for r in new:
            r["dataset"], r["job"] = ds, job
        rows += new
        print(f"{time.time() - t:.0f} s", file=sys.stderr, flush=True)

    compare_per_region(rows)
    scaling = []
    merge_points = [(r["count"], r.get("ours_s"), r.get("mem_bytes")) for r in rows
                    if r["job"] == "merging" and r["routine"] == "iter_lambda_segment"
                    and r["bands"] == 1]
    scaling += growth_with_size(rows) + main_job_growth(rows)
    rows = [r for r in rows if not r.get("growth_only")]
    merge_scaling = report.scaling_summary("iter_lambda_segment, one band, pixel regions",
                                           merge_points, "regions")
    if len(merge_scaling["points"]) >= 2:
        scaling.append(merge_scaling)
    def log(text):
        print(text, end="", file=sys.stderr, flush=True)

    if not args.only or "road" in args.only:
        more, road_scaling, _ = road_rows(args, log)
        rows += more
        scaling += road_scaling
    if not args.only or "whole_runs" in args.only:
        import whole_runs
        rows += [report.complete(r) for r in whole_runs.rows(args, log)]
    if not args.only or "quality" in args.only:
        import quality
        log("quality rows: kavu and its peers against a ground truth\n")
        quality.report(args.out, args.quality_side, args.quality_seeds, log)
    micro = []
    if args.full or (args.only and "micro" in args.only):
        micro = micro_benchmarks(args.build, log)
    finish(args, rows, scaling, micro, started)


def finish(args, rows, scaling, micro, started, date=None, info=None):
    date = date or datetime.date.today().isoformat()
    info = info or machine()
    aims = report.aims(rows, scaling)
    head = (f"kavu bench, {date}: {info['cpu']}, {info['cores']} cores; numpy {info['numpy']}, "
            f"scipy {info['scipy']}, scikit-image {info['skimage']}, OpenCV {info['opencv']}")
    scale_lines = [line for s in scaling for line in report.scaling_lines(s)]
    print("\n" + head + "\n")
    print(report.text_table(rows))
    print("\nscaling:\n" + "\n".join(scale_lines))
    if micro:
        print("\nC++ micro-benchmarks:\n" + "\n".join("  " + m for m in micro))
    print("\naims:\n" + "\n".join("  " + a for a in aims))
    print(f"\n({time.time() - started:.0f} s)")
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "bench.json"), "w") as f:
        json.dump({"date": date, "machine": info, "rows": rows, "scaling": scaling,
                   "micro": micro, "aims": aims}, f, indent=1, ensure_ascii=False)
    with open(os.path.join(args.out, "bench.md"), "w") as f:
        f.write(f"{head}\n\n{report.markdown_table(rows)}\n\n"
                "Scaling:\n\n```\n" + "\n".join(scale_lines) + "\n```\n\n"
                + ("C++ micro-benchmarks:\n\n```\n" + "\n".join(micro) + "\n```\n\n"
                   if micro else "") + "Aims:\n\n"
                + "\n".join(f"- {a}" for a in aims) + "\n")


if __name__ == "__main__":
    main()
