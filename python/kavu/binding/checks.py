"""What the routine functions check before the host sees an argument: the
mistakes that the routines would otherwise answer with a result that looks
right and is not (an image in scikit-image's (H, W, C) layout, NaN pixels, a
negative threshold, a label so large that its tables fill the memory)."""

import warnings

import numpy as np

from .. import _kavu
from .host_messages import KavuWarning

# Every 16-bit basin from this label on gets this label.
LABELS_16BIT_LAST = _kavu.WATERSHED_LABEL_MAX_16
# Label tables up to this many entries are made for any image; beyond it only
# for images with at least a quarter as many pixels.
LABEL_TABLE_FLOOR = 1 << 22
# An image whose last axis has 3 or 4 elements and whose first is at least this
# many times larger reads as (H, W, C) rather than (nbands, nrows, ncols).
CHANNELS_LAST_RATIO = 8


def image_layout(routine, image):
    """Refuses images of 4 dimensions or more and warns about one that looks
    like (H, W, C): the routines read (nbands, nrows, ncols)."""
    if not isinstance(image, np.ndarray):
        return
    if image.ndim > 3:
        raise ValueError(
            f"{routine}: image needs to be (nrows, ncols) or (nbands, nrows, ncols), "
            f"not {image.ndim}-D {image.shape}"
        )
    if (
        image.ndim == 3
        and image.shape[2] in (3, 4)
        and image.shape[0] >= CHANNELS_LAST_RATIO * image.shape[2]
    ):
        h, w, c = image.shape
        warnings.warn(
            KavuWarning(
                "KAVU_IMAGE_CHANNELS_LAST",
                routine,
                f"{routine}: image {image.shape} is read as {h} bands of {w} x {c} pixels; for "
                f"{c} bands of {h} x {w} pass numpy.moveaxis(image, -1, 0)",
            ),
            stacklevel=3,
        )


def _non_finite(values):
    """Boolean array of the NaN and infinite elements, or None when there are none."""
    if not isinstance(values, np.ndarray) or values.dtype.kind not in "fc":
        return None
    bad = ~np.isfinite(values)
    return bad if bad.any() else None


def finite_mask(mask, *images):
    """The mask with the pixels left out where some band of an image is NaN or
    infinite; the mask itself when every value is finite, or when the mask is
    not a uint8 or bool array of the pixels' shape (the routine refuses it)."""
    bad = [
        b if b.ndim == 2 else b.any(axis=0)
        for b in map(_non_finite, images)
        if b is not None and b.ndim in (2, 3)
    ]
    if not bad or any(b.shape != bad[0].shape for b in bad):
        return mask  # (shapes the routine refuses)
    finite = ~np.logical_or.reduce(bad)
    if mask is None:
        return finite.view(np.uint8)
    if not (
        isinstance(mask, np.ndarray)
        and mask.dtype in (np.uint8, np.bool_)
        and mask.shape == finite.shape
    ):
        return mask
    return ((mask != 0) & finite).view(np.uint8)


def refuse_non_finite(routine, name, values):
    """Refuses NaN and infinite values where the routine has no mask to leave them out."""
    bad = _non_finite(values)
    if bad is not None:
        raise ValueError(
            f"{routine}: {name} holds {int(bad.sum())} NaN or infinite values; "
            "replace them, or leave their pixels out with a mask where the routine "
            "takes one (tile_lambda_segment does)"
        )


def threshold(routine, value):
    """lambda_threshold as a float: 0 or more (infinity merges everything)."""
    value = float(value)
    if not value >= 0:
        raise ValueError(f"{routine}: lambda_threshold needs to be 0 or more, not {value}")
    return value


def label_table(routine, labels, max_lbl):
    """Refuses labels whose largest value (with max_lbl 0, where the routine
    finds it) would make per-label tables far longer than the pixels warrant."""
    if (
        max_lbl
        or not isinstance(labels, np.ndarray)
        or labels.size == 0
        or labels.dtype.kind not in "biuf"
    ):  # (other dtypes the host refuses)
        return
    if labels.dtype.kind == "i" and labels.min() < 0:
        raise ValueError(f"{routine}: labels need to be 0 or more, not {labels.min()}")
    top = int(labels.max())
    if top >= max(LABEL_TABLE_FLOOR, 4 * labels.size):
        raise ValueError(
            f"{routine}: label {top} would make tables of {top + 1} entries for "
            f"{labels.size} pixels; number the labels from 0 or 1 "
            "(numpy.unique(labels, return_inverse=True)), or pass max_lbl to ask for such tables"
        )


def labels_16bit(routine, max_region_label, start_lbl):
    """Warns when 16-bit labels ran out: the basins beyond them share one label."""
    if max_region_label > LABELS_16BIT_LAST:
        warnings.warn(
            KavuWarning(
                "KAVU_LABELS_16BIT_RUN_OUT",
                routine,
                f"{routine}: {max_region_label - start_lbl} basins from label {start_lbl + 1} "
                "do not fit in 16-bit labels; every basin from {LABELS_16BIT_LAST} on is labelled "
                f"{LABELS_16BIT_LAST}. Pass long=True",
            ),
            stacklevel=3,
        )


def ignore_layout_hints():
    # The commands make their arrays in the host's layout themselves: a narrow
    # last tile of a many-band image is not an (H, W, C) mistake.
    warnings.filterwarnings("ignore", category=KavuWarning, message=".* is read as .* bands of")
