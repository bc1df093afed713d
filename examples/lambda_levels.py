"""One photograph segmented at three lambdas, boundaries drawn in yellow:
the README's picture of what lambda does (docs/lambda-levels.png). Tiles of
128 pixels, so that the picture also shows that tile borders leave no trace.

    PYTHONPATH=build/python /usr/bin/python3 examples/lambda_levels.py [OUT.png]
"""

import sys

import matplotlib
import numpy as np
import skimage.data

import kavu

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402 - after the backend is chosen

LAMBDAS = (300, 3000, 30000)
TILE = 128


def with_boundaries(image, labels):
    """The image with every pixel on a region boundary painted yellow."""
    bound = kavu.create_bound_from_label(labels).boundary != 0
    shown = image.copy()
    shown[bound] = (255, 230, 0)
    return shown


def main(out="docs/lambda-levels.png"):
    image = skimage.data.astronaut()
    fig, axes = plt.subplots(1, len(LAMBDAS), figsize=(15, 5.4), dpi=100)
    for ax, lam in zip(axes, LAMBDAS):
        labels = kavu.segment(image, lam, tile=TILE)
        ax.imshow(with_boundaries(image, labels))
        ax.set_title(f"lambda {lam:g}: {labels.max()} regions", fontsize=13)
        ax.axis("off")
    fig.tight_layout()
    fig.savefig(out)
    print(out)


if __name__ == "__main__":
    main(*sys.argv[1:])
