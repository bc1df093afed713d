"""The statistics of every region of a label raster into a CSV, with numpy
and the csv module: pixel count, area and centroid in the raster's map units,
and the mean and standard deviation of every band.

    usage: python3 region_stats.py IMAGE LABELS OUT.csv
"""

import csv
import sys

import numpy as np
import rasterio

import kavu


def main(image_path, labels_path, csv_path):
    with rasterio.open(image_path) as src:
        image = src.read(out_dtype=np.float32)        # (bands, rows, cols), kavu's layout
        transform = src.transform
    with rasterio.open(labels_path) as src:
        labels = src.read(1)

    # Pixel count and band sums of every label value 0 .. max; 0 is "no region".
    stats = kavu.compute_reg_info(labels, image)
    size = len(stats.regarea)
    present = np.flatnonzero(stats.regarea[1:]) + 1
    n = stats.regarea.astype(np.float64)
    with np.errstate(invalid="ignore"):                # 0 / 0 for absent values
        mean = stats.regsum / n
    flat = labels.ravel()
    spread = np.array([np.bincount(flat, (band.ravel() - mean[b, flat]) ** 2, size)
                       for b, band in enumerate(image)])
    std = np.sqrt(spread[:, present] / n[present])
    mean, n = mean[:, present], n[present]

    rows, cols = np.indices(labels.shape)
    centre_row = np.bincount(flat, rows.ravel(), size)[present] / n + 0.5
    centre_col = np.bincount(flat, cols.ravel(), size)[present] / n + 0.5
    x, y = transform * (centre_col, centre_row)
    pixel_area = abs(transform.determinant)

    bands = range(1, image.shape[0] + 1)
    with open(csv_path, "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["label", "pixels", "area", "x", "y"] + [f"mean{b}" for b in bands]
                     + [f"std{b}" for b in bands])
        for i, label in enumerate(present):
            place = [f"{n[i] * pixel_area:.2f}", f"{x[i]:.2f}", f"{y[i]:.2f}"]
            out.writerow([label, int(n[i])] + place + [f"{v:.3f}" for v in mean[:, i]]
                         + [f"{v:.3f}" for v in std[:, i]])
    print(f"{len(present)} regions in {csv_path}")


if __name__ == "__main__":
    main(*sys.argv[1:])
