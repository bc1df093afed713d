"""`kavu cut`: the label raster at one level of a schedule of `kavu schedule`,
by region count or by lambda, with specks settled as `kavu segment` settles
them: a region under the minimum size joins its cheapest neighbour."""


import numpy as np
from affine import Affine
from rasterio.crs import CRS
from rasterio.errors import RasterioError

from ..binding import routines
from ..tiled.run import SegmentOptions, check_options
from ..errors import InputError, NotASchedule, OptionError
from ..tiled.label_stores import LabelArray, LabelTally
from .io import AtomicOutput, gdal_env, label_profile, open_label_raster, write_error
from ..tiled.small_regions import settle_specks

KEYS = ("lambdas", "label_map", "labels", "area", "sums", "n_initial", "crs", "transform")


def load_schedule(path):
    try:
        with np.load(path, allow_pickle=False) as f:
            missing = [k for k in KEYS if k not in f]
            if missing and len(missing) < len(KEYS):
                raise NotASchedule(path)
            return {k: f[k] for k in KEYS}
    except NotASchedule:
        raise
    except FileNotFoundError:
        raise InputError(f"cannot read schedule {path}: no such file", path) from None
    except (OSError, ValueError, KeyError) as e:
        raise NotASchedule(path, " ".join(str(e).split())) from None


def regions_left(label_map, area, min_size):
    """Regions of at least min_size pixels (and one) after 0, 1, ... merges."""
    size = max(min_size, 1)
    area = area.tolist()
    n = sum(a >= size for a in area)
    counts = [n]
    for absorbed, survivor in label_map.reshape(-1, 2).tolist():
        before = (area[absorbed] >= size) + (area[survivor] >= size)
        area[survivor] += area[absorbed]
        n += (area[survivor] >= size) - before
        counts.append(n)
    return np.array(counts)


def merges_for(s, regions=None, lambda_threshold=None, min_size=0):
    """How many leading merges of the schedule to apply: for `regions`, the
    first level at which that many regions of at least min_size pixels are
    left (the others are specks that join them)."""
    lambdas = s["lambdas"]
    if regions is None:
        above = np.flatnonzero(lambdas >= np.float32(lambda_threshold))
        return int(above[0]) if len(above) else len(lambdas)
    if min_size > 1:
        counts = regions_left(s["label_map"], s["area"], min_size)
    else:
        counts = int(s["n_initial"]) - np.arange(len(lambdas) + 1)
    if not counts.min() <= regions <= counts[0]:
        of = f" of at least {min_size} pixels" if min_size > 1 else ""
        why = (
            " (pixels that take no part keep the others apart)"
            if int(s["n_initial"]) - len(lambdas) > 1
            else ""
        )
        raise OptionError(
            "regions",
            regions,
            f"cannot be reached: the schedule goes from "
            f"{counts[0]} regions{of} down to {counts.min()}{why}",
            joint=" ",
        )
    return int(np.argmax(counts <= regions))


def region_table(s, k):
    """Starting label -> region 1 .. n after the first k merges; 0 stays 0
    (pixels that take no part). Without such pixels the regions keep the
    routine's numbering, plus one."""
    labels = s["labels"]
    label_map = s["label_map"][: 2 * k] if k else np.zeros(1, np.uint32)  # one element: no pair
    _, cut = routines.iter_lambda_create_label_image(labels, label_map)
    table = np.zeros(len(s["area"]), np.uint32)
    table[labels] = cut + 1
    table[0] = 0
    used = np.unique(table[table != 0])
    rank = np.zeros(int(table.max()) + 1, np.uint32)
    rank[used] = np.arange(1, len(used) + 1, dtype=np.uint32)
    return rank[table]


def cut_schedule(schedule_path, out_path, regions=None, lambda_threshold=None, min_size=0):
    """Writes the label GeoTIFF after the chosen merges, with regions under
    min_size pixels joined to a neighbour; returns its region count."""
    check_options(SegmentOptions(min_size=min_size))  # segment's rule and words
    s = load_schedule(schedule_path)
    table = region_table(s, merges_for(s, regions, lambda_threshold, min_size))
    labels = s["labels"]
    height, width = labels.shape
    if min_size > 1:
        store = LabelArray(height, width)
        store.write(0, 0, labels)
        table = settle_specks(
            table, LabelTally.of(s["area"], s["sums"]), store, height, width, min_size
        )
    crs = CRS.from_wkt(str(s["crs"])) if str(s["crs"]) else None
    profile = label_profile(height, width, crs=crs, transform=Affine(*s["transform"]))
    with gdal_env(), AtomicOutput(out_path) as work:
        try:
            with open_label_raster(work.path, profile) as dst:
                dst.write(table[labels], 1)
        except (OSError, RasterioError) as e:
            raise write_error(out_path, e) from None
        work.commit()
    return int(table.max())
