"""Label-image utilities against their peers on 4096 x 4096 arrays, in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/labelutil.py [--size N]

Prints one table: best-of-5 wall time of kavu and of the peer on the same
arrays, their ratio, and kavu's nanoseconds per pixel (per pixel and band for
region statistics). Inputs are made from fixed seeds: an 8-level image of
smooth blobs (quantised Gaussian-filtered noise), an 8-level image of pure
noise (the worst case for labelling: most regions are single pixels), and a
label image of 100,000 labels made from the blobs.
"""
import argparse
import time

import numpy as np
import scipy.ndimage as ndi
from skimage.measure import label
from skimage.segmentation import find_boundaries
from skimage.util import map_array

import kavu


def best_of(f, reps=5):
    best = float("inf")
    for _ in range(reps):
        start = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - start)
    return best


def inputs(n):
    rng = np.random.default_rng(20240611)
    noise8 = rng.integers(0, 8, size=(n, n), dtype=np.uint32)
    field = ndi.gaussian_filter(rng.standard_normal((n, n)).astype(np.float32), 4)
    cuts = np.quantile(field, np.linspace(0, 1, 9)[1:-1])
    blobs8 = np.digitize(field, cuts).astype(np.uint32)
    labels = (label(blobs8 + 1, connectivity=1) % 100000).astype(np.uint32)
    bands3 = rng.random((3, n, n), dtype=np.float32)
    return noise8, blobs8, labels, bands3


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=4096)
    n = parser.parse_args().size
    noise8, blobs8, labels, bands3 = inputs(n)
    pixels = n * n
    # skimage's label treats 0 as background; the shifted copies keep every
    # level a region, as ours does, and are made outside the timing.
    noise8_1, blobs8_1 = noise8 + 1, blobs8 + 1
    old = np.random.default_rng(7).choice(100000, 1000, replace=False).astype(np.uint32)
    new = old + np.uint32(100000)
    nlab = int(labels.max()) + 1

    def bincount(bands):
        flat = labels.ravel()
        np.bincount(flat, minlength=nlab)
        for b in bands:
            np.bincount(flat, weights=b.ravel(), minlength=nlab)

    rows = [
        # name, ours, peer, peer name, pixels x bands for ns figure
        ("multilevel labelling, 8-level blobs",
         lambda: kavu.multilevel_label_region(blobs8),
         lambda: label(blobs8_1, connectivity=1), "skimage.measure.label", pixels),
        ("multilevel labelling, 8-level noise",
         lambda: kavu.multilevel_label_region(noise8),
         lambda: label(noise8_1, connectivity=1), "skimage.measure.label", pixels),
        ("boundary image",
         lambda: kavu.create_bound_from_label(labels),
         lambda: find_boundaries(labels, mode="inner"), "skimage find_boundaries", pixels),
        ("region statistics, 1 band",
         lambda: kavu.compute_reg_info(labels, bands3[:1]),
         lambda: bincount(bands3[:1]), "numpy.bincount x2", pixels),
        ("region statistics, 3 bands",
         lambda: kavu.compute_reg_info(labels, bands3),
         lambda: bincount(bands3), "numpy.bincount x4", 3 * pixels),
        ("replace 1% of 100,000 labels",
         lambda: kavu.replace_integer_data(labels, old, new),
         lambda: map_array(labels, old, new), "skimage map_array", pixels),
    ]
    print(f"{n} x {n}")
    print(f"{'task':38} {'kavu ms':>9} {'peer ms':>9} {'peer/kavu':>9} {'ns/px':>7}  peer")
    for name, ours, peer, peer_name, units in rows:
        t_ours, t_peer = best_of(ours), best_of(peer)
        print(f"{name:38} {t_ours * 1e3:9.1f} {t_peer * 1e3:9.1f} {t_peer / t_ours:9.2f} "
              f"{t_ours * 1e9 / units:7.2f}  {peer_name}")


if __name__ == "__main__":
    main()
