"""A photograph segmented into regions with kavu.segment, the region borders
drawn over it in a PNG.

    usage: python3 photo.py [OUT.png]    (default astronaut-regions.png)
"""

import sys

import numpy as np
import skimage.data
import skimage.io
import skimage.segmentation

import kavu


def main(out_png="astronaut-regions.png"):
    photo = skimage.data.astronaut()                   # (512, 512, 3) uint8, channels last
    # regions= picks lambda for about that many regions; lambda_threshold=
    # sets it directly. min_size= folds smaller regions into a neighbour.
    labels = kavu.segment(photo, regions=300, min_size=20, channel_axis=-1)
    print(f"{labels.max()} regions, labels {labels.dtype} {labels.shape}")
    drawn = skimage.segmentation.mark_boundaries(photo, labels, color=(1, 1, 0))
    skimage.io.imsave(out_png, (drawn * 255).astype(np.uint8), check_contrast=False)
    print(f"borders drawn in {out_png}")


if __name__ == "__main__":
    main(*sys.argv[1:])
