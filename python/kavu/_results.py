"""The named results of the routine functions: the function value first, then
every output, each a numpy array that owns its memory (or a Python number)."""

from typing import NamedTuple

import numpy as np


class WatershedResult(NamedTuple):
    labels: np.ndarray            # (nrows, ncols) uint32, or uint16 with long=False
    max_region_label: int         # start_lbl plus the number of labels created
    merge_list: np.ndarray        # (2P,) uint32 pairs, larger label first
    wshedmask: np.ndarray         # (nrows, ncols) uint8, 255 on watershed pixels


class TileLambdaResult(NamedTuple):
    last_lbl: int                 # last label handed out (start_lbl - 1: none)
    labels: np.ndarray            # (nrows, ncols) uint32
    merge_list: np.ndarray        # (2P,) uint32 pairs, larger label first


class IterLambdaResult(NamedTuple):
    value: int                    # always 0
    lambdas: np.ndarray           # (M,) float32 merge costs in merge order
    label_map: np.ndarray         # (2M,) uint32: absorbed, surviving label per merge


class LabelImageResult(NamedTuple):
    n_regions: int
    labels: np.ndarray            # (nrows, ncols) uint32 labels 0 .. n_regions - 1


class RegInfoResult(NamedTuple):
    max_lbl: int                  # largest label (label slots 0 .. max_lbl)
    regarea: np.ndarray           # (max_lbl + 1,) int32 pixel count per label
    regsum: np.ndarray            # (nbands, max_lbl + 1) float32 band sums per label


class NbrInfoResult(NamedTuple):
    value: int                    # always 0
    data_file: str                # neighbour records
    index_file: str               # data_file + ".idx"


class BoundResult(NamedTuple):
    count: int                    # differing adjacent pixel pairs
    boundary: np.ndarray          # uint8, shape of the labels, 255 on boundaries


class IncreasingResult(NamedTuple):
    count: int                    # flagged elements
    bad_flags: np.ndarray         # (n,) uint8, 1 where the element breaks the order


class MultilevelResult(NamedTuple):
    n_regions: int
    labels: np.ndarray            # uint32, shape of the image, 0 for excluded pixels


class ReplaceResult(NamedTuple):
    data: np.ndarray              # uint32 copy of the data with values replaced
