"""What is measured: one job per routine and data set, each run in a fresh
process (so that its peak memory is its own), timing our routine and then
every peer on the same arrays in that process."""

import os
import tempfile

import numpy as np

import datasets
from main_job import main_merging
from measure import median_time, peak_bytes, timed

def _describe(shape, extra=""):
    size = "×".join(str(s) for s in shape[-2:][::-1])
    return f"{size}{', ' + extra if extra else ''}"


def _time_peer(fn):
    result, first = timed(fn)
    seconds, reps = median_time(fn, first=first, min_reps=2 if first > 10 else 3)
    return result, seconds, reps


def measure(family, routine, data, unit, count, ours, peers=(), bands=1, check=None):
    """Rows of the table for our `ours` against each (name, callable) peer.
    `count` is the number of pixels (unit "px") or initial regions (unit
    "region"); `check(ours_result, peer_result)` says whether they agree.
    Our first call is the one whose peak memory is taken."""
    if os.environ.get("KAVU_BENCH_OURS_ONLY"):  # the baseline build's run: peers are timed once
        peers = ()
    base = dict(family=family, routine=routine, data=data, unit=unit, count=count, bands=bands)
    (result, first), base["mem_bytes"] = peak_bytes(lambda: timed(ours))
    base["ours_s"], base["ours_reps"] = median_time(ours, first=first,
                                                    min_reps=2 if first > 5 else 3)
    rows = []
    for name, fn in peers:
        peer_result, peer_s, peer_reps = _time_peer(fn)
        row = dict(base, peer=name, peer_s=peer_s, peer_reps=peer_reps)
        if check is not None and result is not None:
            row["check"] = check(result, peer_result)
        del peer_result
        rows.append(row)
    return rows or [base]


# ---- watershed -----------------------------------------------------------

def watershed(ds):
    import cv2
    import kavu
    from skimage.segmentation import watershed as sk_watershed
    image, levels = datasets.load(ds, "image"), datasets.load(ds, "levels")
    markers = datasets.load(ds, "markers")
    levels8 = cv2.merge([datasets.load(ds, "levels8")] * 3)

    def check(ours, sk):
        return f"basins {int(ours.max_region_label)} vs {int(sk.max())}"

    n_levels = int(levels.max()) + 1
    return measure(
        "watershed", "watershed", _describe(levels.shape, f"{n_levels} levels, 4-conn"), "px",
        levels.size,
        lambda: kavu.watershed(levels, image, connectivity=4, long=True),
        [("skimage.segmentation.watershed",
          lambda: sk_watershed(levels, connectivity=1, watershed_line=True)),
         (f"cv2.watershed (8-bit, {int(markers.max())} level-0 markers)",
          lambda: cv2.watershed(levels8, markers.copy()))],
        check=check)


def threads(ds):
    """Two independent watershed calls on two images, on two Python threads at
    once against one after the other (the peer here is our own sequential run)."""
    import threading
    import kavu
    image, levels = datasets.load(ds, "image"), datasets.load(ds, "levels")
    pairs = [(levels, image), (np.ascontiguousarray(levels[::-1]),
                               np.ascontiguousarray(image[:, ::-1]))]
    results = [None, None]

    def call(k):
        results[k] = kavu.watershed(*pairs[k], connectivity=4, long=True)

    def on_two_threads():
        workers = [threading.Thread(target=call, args=(k,)) for k in (0, 1)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        return list(results)

    def one_after_the_other():
        for k in (0, 1):
            call(k)
        return list(results)

    def check(ours, peer):
        same = all(np.array_equal(o.labels, p.labels) for o, p in zip(ours, peer))
        return "same" if same else "DIFFERS"

    rows = measure("threads", "watershed ×2 on two threads",
                   _describe(levels.shape, "two images, 4-conn"), "px", 2 * levels.size,
                   on_two_threads, [("the same two calls one after the other", one_after_the_other)],
                   check=check)
    # What two threads gain on this machine at this moment, whatever the host
    # does: hashlib lets go of the GIL while it hashes a large buffer.
    import hashlib
    data = image.tobytes()

    def hashes(threads):
        def run():
            workers = [threading.Thread(target=hashlib.sha256, args=(data,)) for _ in range(2)]
            for w in workers:
                w.start()
            for w in workers:
                w.join()
        return run if threads else (lambda: [hashlib.sha256(data) for _ in range(2)])

    rows += measure("threads", "control: hashlib.sha256 ×2 on two threads",
                    f"{len(data) >> 20} MiB twice", "px", 2 * levels.size, hashes(True),
                    [("the same two hashes one after the other", hashes(False))])
    return rows


# ---- labelling -----------------------------------------------------------

def labelling(ds):
    import cv2
    import kavu
    from skimage.measure import label

    def check(ours, peer):
        n = peer[0] - 1 if isinstance(peer, tuple) else int(peer.max())
        return f"regions {int(ours.n_regions)} vs {n}"

    classes, binary = datasets.load(ds, "classes"), datasets.load(ds, "binary")
    rows = measure("labelling", "multilevel_label_region",
                   _describe(classes.shape, "8 values"), "px", classes.size,
                   lambda: kavu.multilevel_label_region(classes),
                   [("skimage.measure.label", lambda: label(classes, connectivity=1))],
                   check=check)
    noise8 = datasets.load(ds, "noise8")
    rows += measure("labelling", "multilevel_label_region",
                    _describe(noise8.shape, "8 values of white noise"), "px", noise8.size,
                    lambda: kavu.multilevel_label_region(noise8),
                    [("skimage.measure.label", lambda: label(noise8, connectivity=1))],
                    check=check)
    rows += measure("labelling", "multilevel_label_region",
                    _describe(binary.shape, "binary uint8; peers: foreground only"), "px",
                    binary.size, lambda: kavu.multilevel_label_region(binary),
                    [("skimage.measure.label", lambda: label(binary, connectivity=1)),
                     ("cv2.connectedComponents",
                      lambda: cv2.connectedComponents(binary, connectivity=4, ltype=cv2.CV_32S))],
                    check=check)
    return rows


# ---- merging -------------------------------------------------------------

def _pixel_labels(shape):
    return np.arange(shape[0] * shape[1], dtype=np.uint32).reshape(shape)


def merging_peer(ds, side, bands):
    """Our iterative schedule and merge_hierarchical on the same small image of
    pixel regions (the peer is too slow for more)."""
    import kavu
    import lambda_peer
    image = np.ascontiguousarray(datasets.load(ds, "image")[:bands, :side, :side])
    labels = _pixel_labels(image.shape[1:])
    return measure("merging", "iter_lambda_segment",
                   _describe(image.shape, f"{bands} band{'s' * (bands > 1)}, pixel regions"),
                   "region", labels.size,
                   lambda: kavu.iter_lambda_segment(image),
                   [("skimage merge_hierarchical (λ cost)",
                     lambda: lambda_peer.merge_all(labels, image))],
                   bands=bands)


def merging(ds, bands, peer_ds=None, peer_side=96):
    """The full schedule of a whole image of pixel regions; its building part
    alone is the tiled mode with threshold 0 (it builds the same region, pair
    and merge structures, then merges nothing)."""
    import kavu
    image = np.ascontiguousarray(datasets.load(ds, "image")[:bands])
    n = image.shape[1] * image.shape[2]
    extra = f"{bands} band{'s' * (bands > 1)}, pixel regions"
    rows = measure("merging", "iter_lambda_segment", _describe(image.shape, extra), "region", n,
                   lambda: kavu.iter_lambda_segment(image), bands=bands)
    rows += measure("merging", "tile_lambda_segment λ=0 (building only)",
                    _describe(image.shape, extra), "region", n,
                    lambda: kavu.tile_lambda_segment(image, lambda_threshold=0.0), bands=bands)
    return rows


def merging_regions(ds):
    """Merging of watershed regions of a real scene, ours and the peer."""
    import kavu
    import lambda_peer
    image, labels = datasets.load(ds, "image"), datasets.load(ds, "labels")
    n = len(np.unique(labels))
    return measure("merging", "iter_lambda_segment",
                   _describe(image.shape, f"{image.shape[0]} bands, {n} watershed regions"),
                   "region", n, lambda: kavu.iter_lambda_segment(image, in_label_img=labels),
                   [("skimage merge_hierarchical (λ cost)",
                     lambda: lambda_peer.merge_all(labels, image))],
                   bands=image.shape[0])


def create_label_image(ds):
    """The label image halfway down a schedule of pixel regions (the schedule
    is made once and kept with the data set)."""
    import kavu
    labels = _pixel_labels(datasets.load(ds, "image").shape[1:])
    path = os.path.join(ds, "label_map.npy")
    try:
        if not os.path.exists(path):
            np.save(path, kavu.iter_lambda_segment(datasets.load(ds, "image")[:1]).label_map)
        label_map = np.load(path)
    except kavu.Error:  # no schedule in this build: the routine alone is timed
        label_map = np.zeros(2, np.uint32)
    half = np.ascontiguousarray(label_map[:2 * (label_map.size // 4)])
    return measure("merging", "iter_lambda_create_label_image",
                   _describe(labels.shape, f"{half.size // 2} of {label_map.size // 2} merges"),
                   "px", labels.size, lambda: kavu.iter_lambda_create_label_image(labels, half))


# ---- utilities -----------------------------------------------------------

def _same(a, b):
    return "same" if np.array_equal(a, b) else "DIFFERS"


def reg_info(ds, bands):
    import kavu
    import scipy.ndimage as ndi
    labels = datasets.load(ds, "labels")
    image = np.ascontiguousarray(datasets.load(ds, "image")[:bands])
    flat = labels.ravel()
    index = np.arange(int(labels.max()) + 1)

    def with_bincount():
        return (np.bincount(flat, minlength=index.size),
                [np.bincount(flat, weights=b.ravel(), minlength=index.size) for b in image])

    def with_ndimage():
        return (ndi.sum_labels(np.ones_like(labels, np.int32), labels, index),
                [ndi.sum_labels(b, labels, index) for b in image])

    def check(ours, peer):
        area, sums = peer
        ok = np.array_equal(ours.regarea, area) and all(
            np.allclose(o, s, rtol=1e-4, atol=1e-2) for o, s in zip(ours.regsum, sums))
        return "same" if ok else "DIFFERS"

    return measure("utilities", "compute_reg_info",
                   _describe(labels.shape, f"{bands} band{'s' * (bands > 1)}, {index.size} labels"),
                   "px", labels.size, lambda: kavu.compute_reg_info(labels, image),
                   [(f"numpy.bincount ×{bands + 1}", with_bincount),
                    (f"scipy.ndimage.sum_labels ×{bands + 1}", with_ndimage)],
                   bands=bands, check=check)


def utilities(ds):
    import kavu
    from skimage.segmentation import find_boundaries
    from skimage.util import map_array
    labels = datasets.load(ds, "labels")
    values = np.unique(labels)
    rng = np.random.default_rng(7)
    # Replacement of 1 % of the labels; the peer maps every value (map_array
    # sends values it is not given to 0), identity except for that 1 %.
    old = rng.choice(values, max(1, values.size // 100), replace=False).astype(np.uint32)
    new = (old + np.uint32(10_000_000)).astype(np.uint32)
    table = values.copy()
    table[np.searchsorted(values, old)] = new
    rows = measure("utilities", "replace_integer_data",
                   _describe(labels.shape, f"{old.size} of {values.size} labels"), "px",
                   labels.size, lambda: kavu.replace_integer_data(labels, old, new),
                   [("skimage.util.map_array", lambda: map_array(labels, values, table))],
                   check=lambda ours, peer: _same(ours.data, peer))
    rows += measure("utilities", "create_bound_from_label",
                    _describe(labels.shape, f"{values.size} labels"), "px", labels.size,
                    lambda: kavu.create_bound_from_label(labels),
                    [("skimage.segmentation.find_boundaries (inner)",
                      lambda: find_boundaries(labels, mode="inner"))])
    walk = np.cumsum(rng.standard_normal(labels.size, dtype=np.float32))

    def increasing_peer():
        bad = walk < np.maximum.accumulate(walk)
        return bad, int(bad.sum())

    rows += measure("utilities", "create_increasing", f"{walk.size} values, random walk", "px",
                    walk.size, lambda: kavu.create_increasing(walk),
                    [("numpy.maximum.accumulate", increasing_peer)],
                    check=lambda ours, peer: _same(ours.bad_flags.view(bool), peer[0]))
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "nbr")

        def adjacency_peer():
            a = np.concatenate([labels[:, :-1].ravel(), labels[:-1, :].ravel()]).astype(np.uint64)
            b = np.concatenate([labels[:, 1:].ravel(), labels[1:, :].ravel()]).astype(np.uint64)
            keep = a != b
            keys = np.minimum(a[keep], b[keep]) << np.uint64(32) | np.maximum(a[keep], b[keep])
            return np.unique(keys, return_counts=True)

        rows += measure("utilities", "segment_get_nbrinfo",
                        _describe(labels.shape, f"{values.size} labels"), "px", labels.size,
                        lambda: kavu.segment_get_nbrinfo(labels, path),
                        [("numpy.unique of adjacent pairs", adjacency_peer)])
    return rows


JOBS = {
    "watershed": watershed,
    "threads": threads,
    "labelling": labelling,
    "merging_peer": merging_peer,
    "merging": merging,
    "merging_regions": merging_regions,
    "main_merging": main_merging,
    "create_label_image": create_label_image,
    "reg_info": reg_info,
    "utilities": utilities,
}
