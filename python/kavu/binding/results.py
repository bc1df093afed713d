"""The named results of the routine functions: the function value first (where
it tells something), then every output, each a numpy array that owns its
memory (or a Python number). The annotations are the package's type
information (py.typed); there are no separate stubs."""

from typing import NamedTuple, Union

import numpy as np
import numpy.typing as npt

Labels16or32 = npt.NDArray[Union[np.uint16, np.uint32]]


class WatershedResult(NamedTuple):
    labels: Labels16or32  # (nrows, ncols) uint32, or uint16 with long=False
    max_region_label: int  # start_lbl plus the number of labels created
    merge_list: npt.NDArray[np.uint32]  # (2P,) pairs, larger label first
    wshedmask: npt.NDArray[np.uint8]  # (nrows, ncols), 255 on watershed pixels


class TileLambdaResult(NamedTuple):
    last_lbl: int  # last label handed out (start_lbl - 1: none)
    labels: npt.NDArray[np.uint32]  # (nrows, ncols)
    merge_list: npt.NDArray[np.uint32]  # (2P,) pairs, larger label first


class IterLambdaResult(NamedTuple):
    lambdas: npt.NDArray[np.float32]  # (M,) merge costs in merge order
    label_map: npt.NDArray[np.uint32]  # (2M,) absorbed, surviving label per merge


class LabelImageResult(NamedTuple):
    n_regions: int
    labels: npt.NDArray[np.uint32]  # (nrows, ncols) labels 0 .. n_regions - 1


class RegInfoResult(NamedTuple):
    max_lbl: int  # largest label (label slots 0 .. max_lbl)
    regarea: npt.NDArray[np.int32]  # (max_lbl + 1,) pixel count per label
    regsum: npt.NDArray[np.float32]  # (nbands, max_lbl + 1) band sums per label


class NbrInfoResult(NamedTuple):
    data_file: str  # neighbour records
    index_file: str  # data_file + ".idx"


class BoundResult(NamedTuple):
    count: int  # differing adjacent pixel pairs
    boundary: npt.NDArray[np.uint8]  # shape of the labels, 255 on boundaries


class IncreasingResult(NamedTuple):
    count: int  # flagged elements
    bad_flags: npt.NDArray[np.uint8]  # (n,) 1 where the element breaks the order


class MultilevelResult(NamedTuple):
    n_regions: int
    labels: npt.NDArray[np.uint32]  # shape of the image, 0 for excluded pixels


class ReplaceResult(NamedTuple):
    data: npt.NDArray[np.uint32]  # copy of the data with values replaced
