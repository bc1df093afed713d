# Type stubs of the kavu package.
from os import PathLike
from typing import Any, NamedTuple, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

ArrayLike = npt.ArrayLike
PathName = Union[str, PathLike[str]]

MODULE_PATH: str

class _Out: ...

OUT: _Out

class Error(Exception):
    name: str
    routine: str
    text: str
    def __init__(self, name: str, routine: str, text: str) -> None: ...

class KavuWarning(UserWarning):
    name: str
    routine: str
    text: str
    def __init__(self, name: str, routine: str, text: str) -> None: ...

class CallResult:
    value: Any
    args: tuple[Any, ...]
    keywords: dict[str, Any]
    def __init__(self, value: Any, args: tuple[Any, ...], keywords: dict[str, Any]) -> None: ...
    def __getitem__(self, key: Union[int, str]) -> Any: ...

def call(name: str, *args: Any, **keywords: Any) -> CallResult: ...
def routines() -> list[tuple[str, int, int, int, bool]]: ...

class WatershedResult(NamedTuple):
    labels: npt.NDArray[Union[np.uint16, np.uint32]]
    max_region_label: int
    merge_list: npt.NDArray[np.uint32]
    wshedmask: npt.NDArray[np.uint8]

class TileLambdaResult(NamedTuple):
    last_lbl: int
    labels: npt.NDArray[np.uint32]
    merge_list: npt.NDArray[np.uint32]

class IterLambdaResult(NamedTuple):
    value: int
    lambdas: npt.NDArray[np.float32]
    label_map: npt.NDArray[np.uint32]

class LabelImageResult(NamedTuple):
    n_regions: int
    labels: npt.NDArray[np.uint32]

class RegInfoResult(NamedTuple):
    max_lbl: int
    regarea: npt.NDArray[np.int32]
    regsum: npt.NDArray[np.float32]

class NbrInfoResult(NamedTuple):
    value: int
    data_file: str
    index_file: str

class BoundResult(NamedTuple):
    count: int
    boundary: npt.NDArray[np.uint8]

class IncreasingResult(NamedTuple):
    count: int
    bad_flags: npt.NDArray[np.uint8]

class MultilevelResult(NamedTuple):
    n_regions: int
    labels: npt.NDArray[np.uint32]

class ReplaceResult(NamedTuple):
    data: npt.NDArray[np.uint32]

def segment(image: ArrayLike, lambda_threshold: Optional[float] = None, *,
            channel_axis: Optional[int] = -1, mask: Optional[ArrayLike] = None,
            regions: Optional[int] = None, mean_area: Optional[float] = None,
            min_size: int = 10, tile: int = 1024,
            connectivity: int = 4) -> npt.NDArray[np.uint32]: ...
def watershed(levels: ArrayLike, image: ArrayLike, *, connectivity: int = 4, long: bool = True,
              merge_bd: bool = False, start_lbl: int = 0,
              mask: Optional[npt.NDArray[Union[np.uint8, np.bool_]]] = None,
              margin_hlbl: Optional[npt.NDArray[np.uint32]] = None,
              margin_vlbl: Optional[npt.NDArray[np.uint32]] = None,
              in_merge_list: Optional[npt.NDArray[np.uint32]] = None) -> WatershedResult: ...
def tile_lambda_segment(image: ArrayLike, *, in_label_img: Optional[npt.NDArray[np.uint32]] = None,
                        in_place: bool = False, lambda_threshold: float = 0.0,
                        share_file_name: Optional[PathName] = None, start_lbl: int = 1,
                        mask: Optional[npt.NDArray[Union[np.uint8, np.bool_]]] = None,
                        margin_hlbl: Optional[npt.NDArray[np.uint32]] = None,
                        margin_vlbl: Optional[npt.NDArray[np.uint32]] = None,
                        in_merge_list: Optional[npt.NDArray[np.uint32]] = None) -> TileLambdaResult: ...
def iter_lambda_segment(image: ArrayLike, *,
                        in_label_img: Optional[npt.NDArray[np.uint32]] = None) -> IterLambdaResult: ...
def iter_lambda_create_label_image(label_image: npt.NDArray[np.uint32],
                                   label_map: npt.NDArray[np.uint32]) -> LabelImageResult: ...
def compute_reg_info(labels: ArrayLike, image: ArrayLike, *, max_lbl: int = 0) -> RegInfoResult: ...
def segment_get_nbrinfo(labels: ArrayLike, file_name: PathName, *, max_lbl: int = 0) -> NbrInfoResult: ...
def create_bound_from_label(labels: ArrayLike) -> BoundResult: ...
def create_increasing(values: ArrayLike) -> IncreasingResult: ...
def multilevel_label_region(image: ArrayLike, *,
                            mask_ptr: Optional[npt.NDArray[np.int32]] = None) -> MultilevelResult: ...
def replace_integer_data(data: ArrayLike, old: ArrayLike, new: ArrayLike) -> ReplaceResult: ...
