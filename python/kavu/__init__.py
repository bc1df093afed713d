"""kavu: region segmentation of raster images from numpy.

``kavu.segment(image)`` segments an image the way the ``kavu segment``
command does (levels, watershed, merging, specks, tile by tile), in
scikit-image's conventions. The kavu_segmentation module runs inside an
embedded host, loaded once at import. Every routine has a function here (``kavu.watershed``,
``kavu.compute_reg_info``, ...) and ``kavu.call`` reaches any routine with the
host's own calling convention. Arrays cross in both directions without
copies: numpy shapes are the host dims reversed, a multi-band image is
(nbands, nrows, ncols) and a label image (nrows, ncols).
"""

import os as _os
import warnings as _warnings

from . import _kavu
from .binding.call import OUT, CallResult, call, routines
from .binding.host_messages import Error, KavuWarning
from .binding.results import (
    BoundResult,
    IncreasingResult,
    IterLambdaResult,
    LabelImageResult,
    MultilevelResult,
    NbrInfoResult,
    RegInfoResult,
    ReplaceResult,
    TileLambdaResult,
    WatershedResult,
)
from .binding.routines import (
    compute_reg_info,
    create_bound_from_label,
    create_increasing,
    iter_lambda_create_label_image,
    iter_lambda_segment,
    multilevel_label_region,
    replace_integer_data,
    segment_get_nbrinfo,
    tile_lambda_segment,
    watershed,
)
from .batch import SceneResult, batch
from .image import segment

__all__ = [
    "OUT",
    "CallResult",
    "Error",
    "KavuWarning",
    "call",
    "routines",
    "segment",
    "batch",
    "SceneResult",
    "watershed",
    "tile_lambda_segment",
    "iter_lambda_segment",
    "iter_lambda_create_label_image",
    "compute_reg_info",
    "segment_get_nbrinfo",
    "create_bound_from_label",
    "create_increasing",
    "multilevel_label_region",
    "replace_integer_data",
    "WatershedResult",
    "TileLambdaResult",
    "IterLambdaResult",
    "LabelImageResult",
    "RegInfoResult",
    "NbrInfoResult",
    "BoundResult",
    "IncreasingResult",
    "MultilevelResult",
    "ReplaceResult",
]

MODULE_PATH = _os.path.join(_os.path.dirname(__file__), "kavu_segmentation.so")


def _load(path):
    """Loads a module into the host; what it prints and goes on from is warned."""
    status = _kavu.load_module(path)
    for message in _kavu.take_warnings():
        _warnings.warn(KavuWarning(*message), stacklevel=2)
    return status


# The host is one per process: a second import (importlib.reload) finds the
# routines registered already and does not load the module twice.
if not _kavu.routines() and _load(MODULE_PATH) != 1:
    raise ImportError(f"kavu: the host refused to load {MODULE_PATH}")
