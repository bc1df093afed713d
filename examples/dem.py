"""An elevation model segmented into terrain units: pixels without elevation
(nodata) stay out as a mask and keep label 0, and the labels are written as a
GeoTIFF with the elevation model's georeferencing, with the mean height of
every unit printed.

    usage: python3 dem.py DEM.tif OUT.tif
    sample: scripts/fetch-sample.sh data/elev.tif (Luxembourg, 95 x 90 pixels)
"""

import sys

import numpy as np
import rasterio

import kavu


def main(dem_path, out_path):
    with rasterio.open(dem_path) as src:
        height = src.read(1, masked=True)              # nodata pixels masked
        profile = src.profile
    valid = ~np.ma.getmaskarray(height)
    labels = kavu.segment(height.filled(0).astype(np.float32), regions=25, mask=valid)

    profile.update(dtype="uint32", count=1, nodata=0)
    with rasterio.open(out_path, "w", **profile) as dst:
        dst.write(labels, 1)

    n = int(labels.max())
    area = np.bincount(labels[valid], minlength=n + 1)[1:]
    mean = np.bincount(labels[valid], height.data[valid], minlength=n + 1)[1:] / area
    print(f"{n} terrain units in {out_path}")
    for label in np.argsort(mean)[::-1][:5] + 1:
        print(f"  unit {label}: {area[label - 1]} pixels, mean height {mean[label - 1]:.0f}")


if __name__ == "__main__":
    main(*sys.argv[1:])
