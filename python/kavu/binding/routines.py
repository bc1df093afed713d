"""One function per routine, with the routine's keywords as lower-case keyword
arguments and its defaults. Layout: numpy shapes are the host dims reversed,
so a label image is (nrows, ncols) and a multi-band image (nbands, nrows,
ncols), band-sequential; a 2-D image has one band. Inputs of a supported dtype
are lent to the routine without a copy; results own their memory.

Before the host sees them, the functions refuse what would give a result that
looks right and is not (see kavu._checks): images of 4 dimensions or more,
NaN or infinite values where a routine cannot leave them out, and they warn
(kavu.KavuWarning) about a 3-D image that looks like (H, W, C)."""

import os
from typing import Optional, Union

import numpy as np
import numpy.typing as npt

from . import checks
from .call import OUT, invoke
from .results import (
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

ArrayLike = npt.ArrayLike
PathName = Union[str, os.PathLike]
Mask = Optional[npt.NDArray[Union[np.uint8, np.bool_]]]
Labels32 = Optional[npt.NDArray[np.uint32]]


def _run(routine, args, names, keywords):
    # Warnings point at the caller of the public function: three frames up.
    return invoke(routine, args, names, keywords, stacklevel=3)


def _array(value):
    """Sequences and array-likes become arrays; arrays pass untouched (and
    uncopied), and scalars and strings go to the host as they are (which
    refuses them where it needs an array)."""
    if isinstance(value, (list, tuple)) or (
        not isinstance(value, np.ndarray) and hasattr(value, "__array__")
    ):
        return np.asarray(value)
    return value


def _pairs(merge_list):
    """A merge list the routine left undefined (no pairs) is an empty list."""
    return np.empty(0, np.uint32) if merge_list is None else merge_list


def _nonempty(merge_list):
    merge_list = _array(merge_list)
    return None if merge_list is not None and merge_list.size == 0 else merge_list


def watershed(
    levels: ArrayLike,
    image: ArrayLike,
    *,
    connectivity: int = 4,
    long: bool = True,
    merge_bd: bool = False,
    start_lbl: int = 0,
    mask: Mask = None,
    margin_hlbl: Labels32 = None,
    margin_vlbl: Labels32 = None,
    in_merge_list: Labels32 = None
) -> WatershedResult:
    """Watershed segmentation of quantised levels into labelled basins (KAVU_WATERSHED).

    levels: (nrows, ncols) array of any supported dtype, converted to uint16 by
        the routine; both sizes at least 3. Read only.
    image: (nbands, nrows, ncols) or (nrows, ncols) array of any supported
        dtype, converted to float32; the spectral image used by ``merge_bd``.
        Read only.
    connectivity: 4 or 8 neighbours.
    long: True (default) gives uint32 labels, False uint16 ones: at most 65530
        from start_lbl 0, the basins beyond share label 65530, and a
        kavu.KavuWarning (KAVU_LABELS_16BIT_RUN_OUT) says so.
    merge_bd: True dissolves the watershed lines into the spectrally nearest basin.
    start_lbl: labels are numbered from start_lbl + 1.
    mask: (nrows, ncols) uint8 (or bool); 0 excludes a pixel. Exact dtype, not converted.
        Pixels whose level or some band of image is NaN or infinite are left
        out as if masked (label 0).
    margin_hlbl: (>= ncols,) uint32 labels that the tile above left on row 0 (0: none).
    margin_vlbl: (>= nrows,) uint32 labels that the tile to the left left on column 0.
    in_merge_list: uint32 merge list (pairs of labels, any shape) to carry on.

    Returns WatershedResult(labels, max_region_label, merge_list, wshedmask):
    labels (nrows, ncols) uint16 or uint32, 0 on watershed pixels;
    max_region_label = start_lbl plus the labels created; merge_list a (2P,)
    uint32 array of the pairs of basins touching at level 0 (larger label first,
    ascending), empty when there are none; wshedmask (nrows, ncols) uint8, 255 on
    watershed pixels. Raises kavu.Error on a refused argument and MemoryError
    when the routine cannot make its working structures.
    """
    levels, image = _array(levels), _array(image)
    checks.image_layout("KAVU_WATERSHED", image)
    r = _run(
        "KAVU_WATERSHED",
        (levels, image),
        ("levels", "image"),
        dict(
            connectivity=connectivity,
            long=bool(long),
            merge_bd=bool(merge_bd),
            start_lbl=start_lbl,
            mask=checks.finite_mask(_array(mask), levels, image),
            margin_hlbl=_array(margin_hlbl),
            margin_vlbl=_array(margin_vlbl),
            in_merge_list=_nonempty(in_merge_list),
            max_region_label=OUT,
            out_merge_list=OUT,
            wshedmask=OUT,
        ),
    )
    if not isinstance(r.value, np.ndarray):  # the routine's failure value, LONG -1
        raise MemoryError("KAVU_WATERSHED: the working structures could not be made")
    if not long:
        checks.labels_16bit("KAVU_WATERSHED", r.keywords["max_region_label"], start_lbl)
    return WatershedResult(
        r.value,
        r.keywords["max_region_label"],
        _pairs(r.keywords["out_merge_list"]),
        r.keywords["wshedmask"],
    )


def _label_input(in_label_img, in_place):
    """The label image the tiled mode may renumber: the caller's own array only
    when asked for (in_place=True), else a private copy."""
    if in_label_img is None:
        return None
    if in_place:
        a = in_label_img
        if not (
            isinstance(a, np.ndarray)
            and a.dtype == np.uint32
            and a.dtype.isnative
            and a.flags.c_contiguous
            and a.flags.aligned
            and a.flags.writeable
        ):
            raise ValueError(
                "in_place=True needs in_label_img as a writable C-contiguous " "uint32 array"
            )
        return a
    a = _array(in_label_img)
    # Only a uint32 array would be lent as is; other dtypes are refused by the routine.
    return np.array(a, order="C", copy=True) if a.dtype == np.uint32 else a


def tile_lambda_segment(
    image: ArrayLike,
    *,
    in_label_img: Labels32 = None,
    in_place: bool = False,
    lambda_threshold: float = 0.0,
    share_file_name: Optional[PathName] = None,
    start_lbl: int = 1,
    mask: Mask = None,
    margin_hlbl: Labels32 = None,
    margin_vlbl: Labels32 = None,
    in_merge_list: Labels32 = None
) -> TileLambdaResult:
    """Lambda-schedule merging of one tile (or a whole image) (KAVU_TILE_LAMBDA_SEGMENT).

    image: (nbands, nrows, ncols) or (nrows, ncols), any supported dtype,
        converted to float32. Read only.
    in_label_img: (nrows, ncols) uint32 initial labels (exact dtype); default:
        every pixel its own region. When the tile runs against shared regions of
        earlier tiles the routine renumbers this image; by default it works on a
        copy and your array is left as it was. in_place=True lends your array
        itself, which then holds the renumbered labels afterwards (it must be a
        writable C-contiguous uint32 array).
    lambda_threshold: merging goes on while the cheapest cost is below it (in
        float32); negative or NaN is refused (ValueError).
    share_file_name: base name (str or path) of the share files <name>.idx and
        <name>.info exchanged between the tiles of one image; needed with a margin.
    start_lbl: the first output label handed out (default 1, so that 0 is
        only ever "no region").
    mask: (nrows, ncols) uint8 (or bool); pixels with 0 take no part and are
        labelled 0. Pixels that are NaN or infinite in some band are left out
        the same way, with or without a mask.
    margin_hlbl: (k, ncols) uint32 top-border label lines of the tile above.
    margin_vlbl: (k, nrows) uint32 left-border label lines of the tile to the left.
    in_merge_list: uint32 merge list from earlier tiles.

    Returns TileLambdaResult(last_lbl, labels, merge_list): the last label
    handed out (start_lbl - 1 when none), the (nrows, ncols) uint32
    output labels and the (2P,) uint32 merge list after this tile (empty when none).
    """
    image = _array(image)
    checks.image_layout("KAVU_TILE_LAMBDA_SEGMENT", image)
    r = _run(
        "KAVU_TILE_LAMBDA_SEGMENT",
        (image, OUT),
        ("image", "labels"),
        dict(
            in_label_img=_label_input(in_label_img, in_place),
            lambda_threshold=checks.threshold("KAVU_TILE_LAMBDA_SEGMENT", lambda_threshold),
            share_file_name=None if share_file_name is None else os.fspath(share_file_name),
            start_lbl=start_lbl,
            mask=checks.finite_mask(_array(mask), image),
            margin_hlbl=_array(margin_hlbl),
            margin_vlbl=_array(margin_vlbl),
            in_merge_list=_nonempty(in_merge_list),
            out_merge_list=OUT,
        ),
    )
    return TileLambdaResult(r.value, r.args[1], _pairs(r.keywords["out_merge_list"]))


def iter_lambda_segment(image: ArrayLike, *, in_label_img: Labels32 = None) -> IterLambdaResult:
    """The complete lambda merge schedule of an image (KAVU_ITER_LAMBDA_SEGMENT).

    image: (nbands, nrows, ncols) or (nrows, ncols), any supported dtype,
        converted to float32. Read only. NaN and infinite values are refused
        (ValueError): the schedule has no mask to leave them out, and a merge
        cost they touch would end it early.
    in_label_img: (nrows, ncols) uint32 initial labels (exact dtype), read only;
        default: every pixel its own region (label = pixel index).

    Returns IterLambdaResult(lambdas, label_map): lambdas the (M,) float32
    cost of each merge in merge order; label_map the (2M,) uint32 absorbed and
    surviving label of each merge. Both are empty when there is one region only.
    """
    image = _array(image)
    checks.image_layout("KAVU_ITER_LAMBDA_SEGMENT", image)
    checks.refuse_non_finite("KAVU_ITER_LAMBDA_SEGMENT", "image", image)
    return merge_schedule(image, in_label_img)


def merge_schedule(image: ArrayLike, in_label_img: Labels32 = None) -> IterLambdaResult:
    """iter_lambda_segment without its checks: merges that NaN pixels take
    part in cost NaN, and the schedule may end before one region is left."""
    r = _run(
        "KAVU_ITER_LAMBDA_SEGMENT",
        (_array(image),),
        ("image",),
        dict(in_label_img=_array(in_label_img), lambdas=OUT, label_map=OUT),
    )
    lambdas, label_map = r.keywords["lambdas"], r.keywords["label_map"]
    return IterLambdaResult(
        np.empty(0, np.float32) if lambdas is None else lambdas,
        np.empty(0, np.uint32) if label_map is None else label_map,
    )


def iter_lambda_create_label_image(
    label_image: npt.NDArray[np.uint32], label_map: npt.NDArray[np.uint32]
) -> LabelImageResult:
    """The segmentation after the first merges of a schedule (KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE).

    label_image: (nrows, ncols) uint32 initial labels given to
        iter_lambda_segment (exact dtype), read only.
    label_map: uint32 label map of iter_lambda_segment, read only; its first
        2K elements give the segmentation after K merges.

    Returns LabelImageResult(n_regions, labels): (nrows, ncols) uint32 labels
    0 .. n_regions - 1.
    """
    r = _run(
        "KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE",
        (_array(label_image), _array(label_map), OUT),
        ("label_image", "label_map", "labels"),
        {},
    )
    return LabelImageResult(r.value, r.args[2])


def compute_reg_info(labels: ArrayLike, image: ArrayLike, *, max_lbl: int = 0) -> RegInfoResult:
    """Pixel count and per-band sums of every label (KAVU_COMPUTE_REG_INFO).

    labels: (nrows, ncols) or (npix,) labels of any supported dtype, converted
        to uint32. Read only. With max_lbl 0, a largest label far beyond the
        pixel count (tables of 4 M entries and 4 per pixel are always made) and
        negative labels are refused (ValueError).
    image: any supported dtype, converted to float32, read only; NaN and
        infinite values are refused (ValueError), as the sums would carry them:
        (nbands, nrows, ncols) or (nrows, ncols) with 2-D labels; (npix,) or
        (nbands, 1, npix) with 1-D labels (the band count is always the third
        host dim, so an (k, npix) image is one band whatever k is).
    max_lbl: the largest label; 0 finds it in the data.

    Returns RegInfoResult(max_lbl, regarea, regsum): the largest label,
    regarea (max_lbl + 1,) int32 pixel counts and regsum (nbands, max_lbl + 1)
    float32 sums, accumulated in float32 in pixel order; means are
    regsum / regarea.
    """
    labels, image = _array(labels), _array(image)
    checks.image_layout("KAVU_COMPUTE_REG_INFO", image)
    checks.refuse_non_finite("KAVU_COMPUTE_REG_INFO", "labels", labels)
    checks.refuse_non_finite("KAVU_COMPUTE_REG_INFO", "image", image)
    checks.label_table("KAVU_COMPUTE_REG_INFO", labels, max_lbl)
    r = _run(
        "KAVU_COMPUTE_REG_INFO",
        (labels, image),
        ("labels", "image"),
        dict(max_lbl=max_lbl, regarea=OUT, regsum=OUT),
    )
    return RegInfoResult(r.value, r.keywords["regarea"], r.keywords["regsum"])


def segment_get_nbrinfo(
    labels: ArrayLike, file_name: PathName, *, max_lbl: int = 0
) -> NbrInfoResult:
    """Writes the region adjacency of a label image to two files (KAVU_SEGMENT_GET_NBRINFO).

    labels: (nrows, ncols) or (ncols,) labels of any supported dtype,
        converted to uint32. Read only; NaN or infinite ones are refused (ValueError).
    file_name: str or path of the neighbour data file; the index is file_name + ".idx".
    max_lbl: the largest label; 0 finds it in the data.

    Returns NbrInfoResult(data_file, index_file).
    """
    file_name, labels = os.fspath(file_name), _array(labels)
    checks.refuse_non_finite("KAVU_SEGMENT_GET_NBRINFO", "labels", labels)
    _run(
        "KAVU_SEGMENT_GET_NBRINFO",
        (labels, file_name),
        ("labels", "file_name"),
        dict(max_lbl=max_lbl),
    )
    return NbrInfoResult(file_name, file_name + ".idx")


def create_bound_from_label(labels: ArrayLike) -> BoundResult:
    """The region boundaries of a label image (KAVU_CREATE_BOUND_FROM_LABEL).

    labels: label image of any supported dtype, converted to uint32, read only;
        (nrows, ncols), or (ncols,) as one row. NaN or infinite labels are
        refused (ValueError).

    Returns BoundResult(count, boundary): the number of differing adjacent
    pixel pairs and a uint8 image of the labels' shape, 255 where a pixel
    differs from its right or lower neighbour.
    """
    labels = _array(labels)
    checks.refuse_non_finite("KAVU_CREATE_BOUND_FROM_LABEL", "labels", labels)
    r = _run("KAVU_CREATE_BOUND_FROM_LABEL", (labels, OUT), ("labels", "boundary"), {})
    return BoundResult(r.value, r.args[1])


def create_increasing(values: ArrayLike) -> IncreasingResult:
    """Flags the elements that break a non-decreasing order (KAVU_CREATE_INCREASING).

    values: (n,) vector of any supported dtype, converted to float32. Read only.

    Returns IncreasingResult(count, bad_flags): the number of flagged elements
    and a (n,) uint8 array, 1 where an element is below the running maximum
    (or NaN).
    """
    r = _run("KAVU_CREATE_INCREASING", (_array(values),), ("values",), dict(bad_flags=OUT))
    return IncreasingResult(r.value, r.keywords["bad_flags"])


def multilevel_label_region(
    image: ArrayLike, *, mask_ptr: Optional[npt.NDArray[np.int32]] = None
) -> MultilevelResult:
    """4-connected regions of equal value (KAVU_MULTILEVEL_LABEL_REGION).

    image: (nrows, ncols) or (ncols,) values of any supported dtype, converted
        to uint32 and compared for equality. Read only; NaN or infinite values
        are refused (ValueError).
    mask_ptr: int32 array of row-major pixel indices to leave out (exact dtype);
        indices outside the image exclude nothing.

    Returns MultilevelResult(n_regions, labels): uint32 labels of the image's
    shape, 1 .. n_regions in raster order of each region's first pixel, 0 for
    excluded pixels.
    """
    image = _array(image)
    checks.refuse_non_finite("KAVU_MULTILEVEL_LABEL_REGION", "image", image)
    r = _run(
        "KAVU_MULTILEVEL_LABEL_REGION",
        (image, OUT),
        ("image", "labels"),
        dict(mask_ptr=_array(mask_ptr)),
    )
    return MultilevelResult(r.value, r.args[1])


def replace_integer_data(data: ArrayLike, old: ArrayLike, new: ArrayLike) -> ReplaceResult:
    """Replaces values by a lookup list (KAVU_REPLACE_INTEGER_DATA).

    data: array of any shape and supported dtype, converted to uint32. Read
        only; NaN or infinite values are refused (ValueError).
    old, new: arrays of values (converted to uint32); each element equal to
        old[j] becomes new[j], reading the input values only (1->2, 2->3 never
        turns 1 into 3). new needs at least as many elements as old.

    Returns ReplaceResult(data): a new uint32 array of data's shape.
    """
    data = _array(data)
    checks.refuse_non_finite("KAVU_REPLACE_INTEGER_DATA", "data", data)
    r = _run(
        "KAVU_REPLACE_INTEGER_DATA", (data, _array(old), _array(new)), ("data", "old", "new"), {}
    )
    return ReplaceResult(r.value)
