"""A photo mosaic of any size as a float32 GeoTIFF, written strip by strip
(the memory figures of the README's largest scenes):

    /usr/bin/python3 bench/large_scene.py SIDE OUT.tif

The astronaut repeated and mirrored as in the main job's rows, with Gaussian
noise of sigma 2 drawn per strip from a fixed seed: the same file every time,
without ever holding the image (32768² is 12 GiB)."""

import sys

import numpy as np
import rasterio
import skimage.data

from datasets import SEED

STRIP = 512  # the astronaut's height: every strip is one row of copies


def main():
    side, out = int(sys.argv[1]), sys.argv[2]
    picture = np.moveaxis(skimage.data.astronaut(), -1, 0).astype(np.float32)
    copies = -(-side // picture.shape[2])
    row = np.concatenate([picture[:, :, :: 1 - 2 * (c % 2)] for c in range(copies)], axis=2)
    profile = dict(driver="GTiff", width=side, height=side, count=3, dtype="float32",
                   tiled=True, blockxsize=256, blockysize=256, BIGTIFF="YES")
    with rasterio.open(out, "w", **profile) as dst:
        for i, y0 in enumerate(range(0, side, STRIP)):
            h = min(STRIP, side - y0)
            copy = row[:, :, :side] if i % 2 == 0 else row[:, ::-1, :side]
            noise = np.random.default_rng([SEED, 9, i]).normal(0, 2, (3, h, side))
            strip = copy[:, :h] + noise.astype(np.float32)
            dst.write(strip, window=rasterio.windows.Window(0, y0, side, h))


if __name__ == "__main__":
    main()
