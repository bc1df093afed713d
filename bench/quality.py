"""Quality rows: segmentations scored against a ground truth at the true
region count, for kavu and its peers on the same images.

Scores: the adjusted Rand index (ARI) of the labels against the truth;
boundary F, the harmonic mean of boundary precision (predicted boundary
pixels within TOLERANCE px of a true one) and recall (the other way round);
the recall of true regions under SMALL px (a true region is recalled when a
predicted region overlaps it with intersection over union at least 0.5);
and throughput in Mpixel/s of the run at the chosen setting (tuning runs
are not counted).

Peers are tuned to the true count: felzenszwalb's scale and Orfeo ToolBox
mean shift's range radius by bisection, slic asked for the count. A peer
that is not installed is left out with a note; GRASS i.segment and OTB
come from Debian packages (otb-bin, grass-core) when installed."""

import argparse
import json
import os
import shutil
import subprocess
import tempfile
import time

import numpy as np
import scipy.ndimage as ndi

import truth_images

TOLERANCE = 2
SMALL = 200
BISECTIONS = 9
OTB_SPATIAL = 5
OTB_MIN_SIZE = 40


def adjusted_rand_index(truth, labels):
    t = np.unique(truth.ravel(), return_inverse=True)[1].astype(np.int64)
    p = np.unique(labels.ravel(), return_inverse=True)[1].astype(np.int64)
    table = np.bincount(t * (p.max() + 1) + p).astype(np.float64)

    def pairs(x):
        return (x * (x - 1) / 2).sum()

    index = pairs(table)
    rows, cols = pairs(np.bincount(t).astype(np.float64)), pairs(np.bincount(p).astype(np.float64))
    expected = rows * cols / pairs(np.float64(t.size))
    return float((index - expected) / ((rows + cols) / 2 - expected))


def boundaries(labels):
    """Pixels with a different right or lower neighbour."""
    edge = np.zeros(labels.shape, bool)
    edge[:, :-1] |= labels[:, :-1] != labels[:, 1:]
    edge[:-1] |= labels[:-1] != labels[1:]
    return edge


def boundary_scores(truth, labels):
    """(F, precision, recall) of the boundaries within TOLERANCE px."""
    bt, bp = boundaries(truth), boundaries(labels)
    near_t = ndi.distance_transform_edt(~bt) <= TOLERANCE
    near_p = ndi.distance_transform_edt(~bp) <= TOLERANCE
    precision = float(near_t[bp].mean()) if bp.any() else 1.0
    recall = float(near_p[bt].mean()) if bt.any() else 1.0
    f = 2 * precision * recall / max(precision + recall, 1e-12)
    return f, precision, recall


def small_recall(truth, labels):
    """Share of true regions under SMALL px that a predicted region matches
    with intersection over union >= 0.5."""
    t = truth.ravel().astype(np.int64)
    p = np.unique(labels.ravel(), return_inverse=True)[1].astype(np.int64)
    keys, both = np.unique(t * (p.max() + 1) + p, return_counts=True)
    kt, kp = keys // (p.max() + 1), keys % (p.max() + 1)
    at, ap = np.bincount(t), np.bincount(p)
    iou = both / (at[kt] + ap[kp] - both)
    small = np.flatnonzero((at < SMALL) & (at > 0))
    matched = np.zeros(len(at), bool)
    matched[kt[iou >= 0.5]] = True
    return float(matched[small].mean()) if len(small) else float("nan")


def score(name, truth, labels, seconds, setting=""):
    f, precision, recall = boundary_scores(truth, labels)
    return {
        "tool": name,
        "setting": setting,
        "regions": int(len(np.unique(labels))),
        "ari": adjusted_rand_index(truth, labels),
        "bf": f,
        "bp": precision,
        "br": recall,
        "small": small_recall(truth, labels),
        "mpx_s": truth.size / seconds / 1e6,
    }


def _timed(fn):
    start = time.perf_counter()
    out = fn()
    return out, time.perf_counter() - start


def _bisect(run, wanted, lo, hi, more_when_larger=False):
    """The setting between lo and hi (geometric bisection) whose count is
    nearest `wanted`: (labels, seconds, setting)."""
    best = None
    for _ in range(BISECTIONS):
        mid = float(np.sqrt(lo * hi))
        labels, seconds = _timed(lambda: run(mid))
        n = len(np.unique(labels))
        if best is None or abs(n - wanted) < abs(best[3] - wanted):
            best = (labels, seconds, mid, n)
        if (n > wanted) != more_when_larger:
            lo = mid
        else:
            hi = mid
        if n == wanted:
            break
    return best[:3]


def kavu_run(image, wanted, **options):
    import kavu

    labels, seconds = _timed(
        lambda: kavu.segment(image, regions=wanted, channel_axis=0, **options)
    )
    return labels, seconds


def felzenszwalb_run(image, wanted):
    from skimage.segmentation import felzenszwalb

    unit = _unit(image)
    return _bisect(
        lambda s: felzenszwalb(unit, scale=s, sigma=0.8, min_size=20, channel_axis=0),
        wanted,
        1.0,
        5000.0,
    )


def slic_run(image, wanted):
    """slic leaves fewer segments than asked where its grid cells fall in one
    region: n_segments is bisected to the count too."""
    from skimage.segmentation import slic

    unit = _unit(image)
    labels, seconds, asked = _bisect(
        lambda k: slic(unit, n_segments=int(k), compactness=0.1, channel_axis=0, start_label=1),
        wanted, wanted / 2, wanted * 8, more_when_larger=True,
    )
    return labels, seconds, f"n_segments {int(asked)}"


def _unit(image):
    lo = image.min(axis=(1, 2), keepdims=True)
    return (image - lo) / np.maximum(np.ptp(image, axis=(1, 2), keepdims=True), 1e-12)


def otb_available():
    return shutil.which("otbcli_Segmentation") is not None


def otb_run(image, wanted):
    """Orfeo ToolBox mean shift (otbcli_Segmentation, raster mode) with its
    range radius bisected to the count; the time of the chosen run includes
    writing and reading its GeoTIFFs."""
    import rasterio

    with tempfile.TemporaryDirectory() as work:
        src = os.path.join(work, "in.tif")
        out = os.path.join(work, "out.tif")
        with rasterio.open(
            src, "w", driver="GTiff", width=image.shape[2], height=image.shape[1],
            count=image.shape[0], dtype="float32",
        ) as dst:
            dst.write(image)

        def run(ranger):
            subprocess.run(
                ["otbcli_Segmentation", "-in", src, "-filter", "meanshift",
                 "-filter.meanshift.spatialr", str(OTB_SPATIAL),
                 "-filter.meanshift.ranger", f"{ranger:.4f}",
                 "-filter.meanshift.minsize", str(OTB_MIN_SIZE),
                 "-mode", "raster", "-mode.raster.out", out, "uint32"],
                check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                env=dict(os.environ, OTB_MAX_RAM_HINT="512"),
            )
            with rasterio.open(out) as r:
                return r.read(1)

        spread = float(np.sqrt((image.reshape(len(image), -1).var(axis=1)).sum()))
        labels, seconds, ranger = _bisect(run, wanted, 0.05 * spread, 5 * spread)
        return labels, seconds, f"range {ranger:.0f}, min size {OTB_MIN_SIZE}"


def tools():
    """(name, run) of every tool, None as run when it is not installed."""
    return [
        ("kavu segment --regions N", lambda im, n: kavu_run(im, n) + ("defaults",)),
        ("kavu segment --regions N --levels sobel",
         lambda im, n: kavu_run(im, n, levels="sobel") + ("the levels before",)),
        ("Orfeo ToolBox mean shift", otb_run if otb_available() else None),
        ("scikit-image felzenszwalb", felzenszwalb_run),
        ("scikit-image slic", slic_run),
    ]


def images(n, seeds):
    """(row name, seed, image, truth): the piecewise-smooth truth at every
    seed, and the flat Voronoi field (its cells about as many) at the first."""
    for seed in seeds:
        yield "piecewise-smooth", seed, *truth_images.truth_image(n, seed)
    cells = 400 * n * n // (1024 * 1024)
    yield "flat Voronoi + noise", seeds[0], *truth_images.flat_voronoi(n, cells, seeds[0])


def measure(n, seeds, log=print):
    rows = []
    for kind, seed, image, truth in images(n, seeds):
        wanted = int(truth.max())
        for name, run in tools():
            if run is None:
                continue
            labels, seconds, setting = run(image, wanted)
            row = score(name, truth, labels, seconds, setting)
            row.update(image=kind, seed=seed, side=n, truth=wanted)
            rows.append(row)
            log(f"  {kind} seed {seed}: {name} ARI {row['ari']:.3f} "
                f"BF {row['bf']:.3f} {row['mpx_s']:.2f} Mpx/s\n")
    return rows


def table(rows):
    """Markdown: per image kind and tool, the scores averaged over seeds."""
    lines = ["| image | tool | regions / true | ARI | boundary F (P / R) "
             "| recall of true regions < 200 px | Mpx/s |", "|---|---|---|---|---|---|---|"]
    groups = {}
    for r in rows:
        groups.setdefault((r["image"], r["tool"]), []).append(r)
    for (kind, tool), rs in groups.items():
        def mean(key):
            return float(np.mean([r[key] for r in rs]))

        small = "–" if np.isnan(mean("small")) else f"{mean('small'):.2f}"
        lines.append(
            f"| {kind} {rs[0]['side']}², {len(rs)} seed{'s' * (len(rs) > 1)} | {tool} "
            f"| {sum(r['regions'] for r in rs)} / {sum(r['truth'] for r in rs)} "
            f"| {mean('ari'):.3f} | {mean('bf'):.3f} ({mean('bp'):.3f} / {mean('br'):.3f}) "
            f"| {small} | {mean('mpx_s'):.2f} |")
    missing = [name for name, run in tools() if run is None]
    if missing:
        lines.append("")
        lines.append("Not installed here, left out: " + ", ".join(missing) + ".")
    return "\n".join(lines)


def report(out, n, seeds, log=print):
    """Measures, prints the table and writes quality.md and quality.json to out."""
    rows = measure(n, seeds, log)
    text = table(rows)
    print("\nquality at the true region count:\n" + text)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "quality.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(out, "quality.json"), "w") as f:
        json.dump(rows, f, indent=1)
    return rows


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--side", type=int, default=1024)
    p.add_argument("--seeds", type=int, nargs="+", default=[1, 2, 3])
    p.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "results"))
    a = p.parse_args()
    report(a.out, a.side, a.seeds, log=lambda text: print(text, end="", flush=True))
