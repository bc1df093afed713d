"""Object-based classification of the Landsat scene: segment it, write the
regions as polygons with their attributes (a GeoPackage that QGIS opens),
classify the objects by those attributes with a few lines of numpy, and draw
the classes. The class goes back into the GeoPackage as a field.

    usage: python3 classify_objects.py SCENE OUT_DIR
    sample: scripts/fetch-sample.sh data/L7_ETMs.tif
"""

import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import rasterio  # noqa: E402
from matplotlib.colors import ListedColormap  # noqa: E402
from osgeo import ogr  # noqa: E402

import kavu  # noqa: E402
from kavu.raster.polygons import write_polygons  # noqa: E402

CLASSES = ["water", "vegetation", "built-up or bare"]
COLOURS = ["#2b6cb0", "#38a169", "#d69e2e"]


def main(scene, out):
    os.makedirs(out, exist_ok=True)
    with rasterio.open(scene) as src:
        image = src.read()  # (6, rows, cols): Landsat 7 bands 1-5 and 7
        profile = src.profile
    labels = kavu.segment(image, regions=400, channel_axis=0)
    labels_path = os.path.join(out, "labels.tif")
    profile.update(count=1, dtype="uint32", nodata=0)
    with rasterio.open(labels_path, "w", **profile) as dst:
        dst.write(labels, 1)

    gpkg = os.path.join(out, "objects.gpkg")
    write_polygons(scene, labels_path, gpkg)  # same as: kavu polygons SCENE LABELS OUT.gpkg

    # The attributes as numpy columns, one row a region.
    ds = ogr.Open(gpkg, update=1)
    layer = ds.GetLayer(0)
    names = ["label", "mean_b3", "mean_b4", "area", "compactness"]
    table = np.array([[f[n] for n in names] for f in layer])
    label, red, nir, area, compactness = table.T

    # Rules on the objects' means (digital numbers of Landsat 7): water
    # reflects almost no near infrared, vegetation much more near infrared
    # than red; the rest, brighter in the short-wave infrared, is built up or bare.
    ndvi = (nir - red) / (nir + red)
    kind = np.full(len(label), 2)
    kind[ndvi > 0.2] = 1
    kind[(nir < 30) & (nir < red)] = 0

    layer.CreateField(ogr.FieldDefn("class", ogr.OFTString))
    by_label = dict(zip(label.astype(int), kind))
    layer.ResetReading()
    layer.StartTransaction()
    for f in layer:
        f["class"] = CLASSES[by_label[f["label"]]]
        layer.SetFeature(f)
    layer.CommitTransaction()
    ds = None

    # Each pixel coloured by its region's class.
    lookup = np.zeros(labels.max() + 1, int)
    lookup[label.astype(int)] = kind
    fig, (left, right) = plt.subplots(1, 2, figsize=(10, 5))
    rgb = np.stack([image[2], image[1], image[0]], axis=-1).astype(float)
    low, high = np.percentile(rgb, [2, 98])
    left.imshow(np.clip((rgb - low) / (high - low), 0, 1))
    left.set_title("Landsat 7, bands 3-2-1")
    right.imshow(lookup[labels], cmap=ListedColormap(COLOURS), vmin=0, vmax=2)
    right.set_title(f"{len(label)} objects by class")
    for i, (name, colour) in enumerate(zip(CLASSES, COLOURS)):
        right.plot([], [], "s", color=colour, label=f"{name} ({np.sum(kind == i)})")
    right.legend(loc="lower right", fontsize=8)
    for ax in (left, right):
        ax.set_axis_off()
    picture = os.path.join(out, "classes.png")
    fig.savefig(picture, dpi=80, bbox_inches="tight")
    counts = ", ".join(f"{np.sum(kind == i)} {name}" for i, name in enumerate(CLASSES))
    print(f"{len(label)} objects ({counts}): {gpkg}, {picture}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-2].strip())
    main(*sys.argv[1:])
