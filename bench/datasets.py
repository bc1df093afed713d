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


def mirrored_mosaic(picture, n):
    """(bands, n, n) float32: the (rows, cols, bands) picture repeated over an
    n x n grid, every other copy flipped, so that copies meet edge to edge."""
    tile = np.moveaxis(picture, -1, 0).astype(np.float32)
    h, w = tile.shape[1:]
    rows = [np.concatenate([tile[:, ::1 - 2 * (r % 2), ::1 - 2 * (c % 2)]
                            for c in range(-(-n // w))], axis=2) for r in range(-(-n // h))]
    return np.ascontiguousarray(np.concatenate(rows, axis=1)[:, :n, :n])


def _picture(kind, n):
    """The photographs of the main job's rows: the astronaut as a mosaic with
    Gaussian noise of sigma 2 (its flat areas would otherwise flood into few
    basins), the Hubble deep field whole (n 0) or as a mosaic."""
    import skimage.data
    if kind == "astronaut":
        noise = np.random.default_rng([SEED, 9]).normal(0, 2, (3, n, n)).astype(np.float32)
        return mirrored_mosaic(skimage.data.astronaut(), n) + noise
    hubble = skimage.data.hubble_deep_field()
    return mirrored_mosaic(hubble, n) if n else np.moveaxis(hubble, -1, 0).astype(np.float32)


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
    "astronaut-<n>" and "hubble-<n>" for mosaics of the photographs, "hubble"
    for the photograph itself, or "landsat") under work/ unless it is there;
    returns its directory."""
    d = os.path.join(work, name)
    if os.path.exists(os.path.join(d, "meta.json")):
        return d
    os.makedirs(d, exist_ok=True)
    if name == "landsat":
        arrays = _derive(_landsat_image(landsat), name, None)
        meta = {"source": os.path.basename(landsat)}
    elif name.split("-")[0] in ("astronaut", "hubble"):
        kind, n = (name.split("-") + ["0"])[:2]
        arrays, meta = {"image": _picture(kind, int(n))}, {}
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
