"""The benchmark's data sets, made once into a work directory and loaded by
every measuring process: synthetic fields of fixed seeds and the Landsat
sample scene, with the level images, class images and label images derived
from them."""

import json
import os

import numpy as np

import synth

SEED = 20240607
CELLS = 100_000  # labels of the utilities' label image (as many as a segmented scene has)


def _landsat_image(path):
    import rasterio
    with rasterio.open(path) as src:
        return src.read().astype(np.float32)


def _markers(levels):
    """The level-0 plateaus, 4-connected, numbered from 1: the markers that
    marker-based peers flood from (0 is "unknown" to OpenCV)."""
    import cv2
    _, markers = cv2.connectedComponents((levels == 0).astype(np.uint8), connectivity=4,
                                         ltype=cv2.CV_32S)
    return markers


def _watershed_regions(levels):
    """Basins of the level image without watershed lines (every pixel in a
    region): the initial regions of merging on real data."""
    from skimage.segmentation import watershed
    return watershed(levels, connectivity=1).astype(np.uint32)


def _derive(image, name, cells):
    levels = synth.quantise(synth.gradient_magnitude(image))
    classes = synth.level_classes(image[0])
    arrays = {
        "image": image,
        "levels": levels,
        # The 8-bit version of the same levels, as three channels for OpenCV.
        "levels8": (levels >> 8).astype(np.uint8),
        "markers": _markers(levels),
        "classes": classes,
        "binary": (classes > 4).astype(np.uint8),
        # Labelling's worst case: 8 values of white noise, most regions a pixel or two.
        "noise8": np.random.default_rng([SEED, 8]).integers(1, 9, levels.shape, dtype=np.uint32),
    }
    arrays["labels"] = cells() if cells else _watershed_regions(levels)
    return arrays


def make(work, name, landsat=None):
    """Makes data set `name` ("synth-<n>", "field1-<n>" for a one-band field,
    or "landsat") under work/ unless it is there; returns its directory."""
    d = os.path.join(work, name)
    if os.path.exists(os.path.join(d, "meta.json")):
        return d
    os.makedirs(d, exist_ok=True)
    if name == "landsat":
        arrays = _derive(_landsat_image(landsat), name, None)
        meta = {"source": os.path.basename(landsat)}
    else:
        kind, n = name.split("-")
        n = int(n)
        bands = 3 if kind == "synth" else 1
        image = synth.Field(n, bands, SEED + n).image()
        if kind == "field1":
            arrays, meta = {"image": image}, {}
        else:
            arrays = _derive(image, name, lambda: synth.cell_labels(n, CELLS, SEED + 1))
            meta = {}
    for key, value in arrays.items():
        np.save(os.path.join(d, key + ".npy"), value)
    meta.update({k: [list(v.shape), str(v.dtype)] for k, v in arrays.items()})
    with open(os.path.join(d, "meta.json"), "w") as f:
        json.dump(meta, f)
    return d


def load(directory, key):
    return np.load(os.path.join(directory, key + ".npy"))
