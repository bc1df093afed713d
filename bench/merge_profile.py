"""Instructions of the main job's merging call, stage by stage, counted by
callgrind: the same window basins as `make bench`'s main-job rows (main_job.py),
one tile_lambda_segment call, and per basin the instructions of hashing the
labels, the region records, the pairs, the election and heap, the merges, the
output labels and the release. Counts do not move with the machine's load as
times do.

    PYTHONPATH=<build>/python python3 bench/merge_profile.py DATA_SET SIDE [--lambda default|zero|...]

DATA_SET is a data set of bench/datasets.py ("hubble-1024", "astronaut-1024",
"synth-1024", "hubble", "landsat"); SIDE the window side (0: the whole image).
A build with -g (CMAKE_CXX_FLAGS=-g, release otherwise) names the inlined
functions too; --keep leaves the callgrind file for callgrind_annotate."""

import argparse
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import datasets  # noqa: E402
import main_job  # noqa: E402

# (file, function) whose inclusive count is a stage of the call.
STAGES = (("hashing the labels", "merge_run.cpp", "merge_run_hash_labels"),
          ("region records (areas, means)", "region_set.cpp", "t_init_region_set"),
          ("pairs (keys, sort, costs, lists)", "pair_set.cpp", "t_init_pair_set"),
          ("election and heap", "election.cpp", "t_init_merge_tree"),
          ("merging", "merge_run.cpp", "merge_run_merge_minimum"),
          ("output labels", "output_labels.cpp", "create_output_lbl_image"),
          ("release", "merge_run.cpp", "merge_run_release"))

CHILD = """
import sys, numpy as np
from kavu.tiled import window as pieces
z = np.load(sys.argv[1])
mask = z["mask"] if z["mask"].size else None
pieces.merge(z["bands"], z["basins"], mask, float(z["threshold"]))
"""

LINE = re.compile(r"^\s*([\d,]+) \([^)]*\)\s+(?:\S*/)?([\w.]+):(?:\(anonymous namespace\)::)?(\w+)\(")


def counts(annotate_output):
    """{(file, function): instructions} of callgrind_annotate's lines."""
    found = {}
    for line in annotate_output.splitlines():
        m = LINE.match(line)
        if m:
            found.setdefault((m.group(2), m.group(3)), int(m.group(1).replace(",", "")))
    return found


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("data_set")
    p.add_argument("side", type=int)
    p.add_argument("--lambda", dest="which", default="default",
                   help="default, '1 per 1000 px', zero, or a number")
    p.add_argument("--work", default=os.path.join(HERE, "..", "build-release", "bench-work"))
    p.add_argument("--keep", metavar="FILE", help="keep the callgrind output here")
    args = p.parse_args()

    ds = datasets.make(args.work, args.data_set)
    image = datasets.load(ds, "image")
    quantiser, lambdas = main_job.thresholds(ds, image)
    threshold = (0.0 if args.which == "zero" else
                 lambdas[args.which] if args.which in lambdas else float(args.which))
    bands, basins, mask = main_job.window_basins(image, quantiser, args.side or max(image.shape[1:]))
    n = np.unique(basins if mask is None else basins[mask != 0]).size
    with tempfile.TemporaryDirectory() as tmp:
        inputs = os.path.join(tmp, "inputs.npz")
        np.savez(inputs, bands=bands, basins=basins, threshold=threshold,
                 mask=np.zeros(0, np.uint8) if mask is None else mask)
        out = args.keep or os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                        "--toggle-collect=tile_lambda_segment*", f"--callgrind-out-file={out}",
                        sys.executable, "-c", CHILD, inputs],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        inclusive = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=no", "--inclusive=yes", out],
                                   check=True, capture_output=True, text=True).stdout
        exclusive = subprocess.run(["callgrind_annotate", "--threshold=100", "--auto=no", out], check=True,
                                   capture_output=True, text=True).stdout
    total = int(re.search(r"([\d,]+) \([^)]*\)\s+PROGRAM TOTALS", inclusive).group(1)
                .replace(",", ""))
    stages = counts(inclusive)
    h, w = basins.shape
    print(f"{args.data_set}, {w}×{h} window, {n:,} basins, λ {threshold:.4g}: "
          f"{total:,} instructions, {total / n:,.0f} a basin")
    rest = total
    for name, file, function in STAGES:
        ir = stages.get((file, function), 0)
        rest -= ir
        print(f"  {name:36s} {ir / n:10,.0f} a basin  {100 * ir / total:5.1f} %")
    print(f"  {'other':36s} {rest / n:10,.0f} a basin  {100 * rest / total:5.1f} %")
    print("largest by own instructions (inlined code under the function it is in):")
    for (file, function), ir in sorted(counts(exclusive).items(), key=lambda kv: -kv[1])[:10]:
        print(f"  {100 * ir / total:5.1f} %  {file}:{function}")


if __name__ == "__main__":
    main()
