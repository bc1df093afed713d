"""Raster input and output: windowed reads of the chosen
bands as float32 values (edge-replicated outside the image) and of a validity
mask (edge-replicated or zero-filled), the label GeoTIFF's profile, and an
output that only appears under its name once it is complete."""

import atexit
import glob
import os
import shutil
import signal
import tempfile
import warnings

import numpy as np
import rasterio
from rasterio.enums import ColorInterp, MaskFlags, Resampling
from rasterio.errors import NotGeoreferencedWarning, RasterioError, RasterioIOError
from rasterio.windows import Window

from ..binding.host_messages import KavuWarning
from ..errors import InputError, OptionError, OutputError

# GDAL's block cache otherwise grows to 5 % of the machine's memory while the
# output is written; the label raster is written once, block by block, and
# the windows overlap only by their margins. Measured (4096² three-band
# input, 16 windows): 64 MiB cost 61 MiB of peak memory over 8 MiB, and no time.
GDAL_CACHE_BYTES = 16 << 20
# Block size of the label GeoTIFF and the height of the strips written at a time.
OUT_BLOCK = 256
# Signals that stop a run; a work directory is made and recorded with them held.
HELD_SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
# Band types whose every value float32 holds exactly; the others are shifted
# by a value of the band before the conversion (see band_offsets).
EXACT_IN_FLOAT32 = {"uint8", "int8", "uint16", "int16", "float32"}
# Side of the grid of pixels band_offsets samples.
OFFSET_SAMPLE = 16
# Work directories not yet removed: what a signal between making one and
# entering its `with` block leaves is removed at exit.
_work_dirs = set()


@atexit.register
def _remove_work_dirs():
    for path in _work_dirs:
        shutil.rmtree(path, ignore_errors=True)


def gdal_env():
    return rasterio.Env(GDAL_CACHEMAX=GDAL_CACHE_BYTES)


def open_raster(path, what="input"):
    """Opens a raster for reading; an unreadable one is a one-line error."""
    if not os.path.exists(path):
        raise InputError(f"cannot read {what} {path}: no such file", path)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", NotGeoreferencedWarning)
            return rasterio.open(path)
    except (RasterioError, RasterioIOError) as e:
        raise InputError(f"cannot read {what} {path}: {_one_line(e)}", path) from None


def _one_line(error):
    return " ".join(str(error).split()) or type(error).__name__


def parse_bands(spec, ds):
    """'1,3-5' -> [1, 3, 4, 5] (1-based band numbers) of dataset ds; None ->
    every band but an alpha band (which is the mask: see make_mask)."""
    count = ds.count
    if spec is None:
        bands = [b for b, c in enumerate(ds.colorinterp, 1) if c != ColorInterp.alpha]
        return _real(ds, bands or list(range(1, count + 1)))
    bands = []
    try:
        for part in spec.split(","):
            lo, _, hi = part.strip().partition("-")
            lo = int(lo)
            hi = int(hi) if hi else lo
            if hi < lo:
                raise ValueError
            bands.extend(range(lo, hi + 1))
    except ValueError:
        raise OptionError(
            "bands", spec, "expected band numbers such as 1,2,3 or 1-3", repr(spec)
        ) from None
    bad = [b for b in bands if not 1 <= b <= count]
    if bad:
        raise OptionError(
            "bands", spec, f"the input has bands 1 to {count}, not {bad[0]}", repr(spec)
        )
    twice = [b for i, b in enumerate(bands) if b in bands[:i]]
    if twice:
        raise OptionError("bands", spec, f"band {twice[0]} is named twice", repr(spec))
    return _real(ds, bands)


def _real(ds, bands):
    """bands, refused when one is complex: read as a real type, it would
    silently keep its real part only."""
    for b in bands:
        if ds.dtypes[b - 1].startswith("complex"):
            raise InputError(
                f"{ds.name}: band {b} is {ds.dtypes[b - 1]}: complex bands cannot "
                "be segmented; take the modulus or a part first",
                ds.name,
            )
    return bands


def _clip(row0, row1, col0, col1, height, width):
    """The part of rows [row0, row1) x cols [col0, col1) inside the image, and
    the padding (before, after) on each axis that restores the full extent."""
    r0, r1 = max(row0, 0), min(row1, height)
    c0, c1 = max(col0, 0), min(col1, width)
    return Window(c0, r0, c1 - c0, r1 - r0), ((r0 - row0, row1 - r1), (c0 - col0, col1 - c1))


def _read(ds, fn, row0, row1, col0, col1, mode, **kw):
    try:
        window, pad = _clip(row0, row1, col0, col1, ds.height, ds.width)
        data = fn(window=window, **kw)
    except (RasterioError, RasterioIOError) as e:
        raise InputError(f"cannot read {ds.name}: {_one_line(e)}", ds.name) from None
    if any(p for axis in pad for p in axis):
        data = np.pad(data, ((0, 0),) * (data.ndim - 2) + pad, mode=mode)
    return data


def band_offsets(ds, bands):
    """The value read_bands subtracts from each band: 0 when float32 holds the
    band's values, else the median of a grid of its valid pixels. Segmenting
    sees only differences of values, and float32 then keeps 24 bits of the
    band's spread rather than of its magnitude (timestamps, coordinates).
    Computed once per raster, so that every window is shifted alike."""
    offsets = []
    for b in bands:
        offset = 0
        if ds.dtypes[b - 1] not in EXACT_IN_FLOAT32:
            shape = (min(OFFSET_SAMPLE, ds.height), min(OFFSET_SAMPLE, ds.width))
            sample = _read(
                ds,
                ds.read,
                0,
                ds.height,
                0,
                ds.width,
                "edge",
                indexes=b,
                out_shape=shape,
                resampling=Resampling.nearest,
            )
            valid = (
                _read(
                    ds, ds.read_masks, 0, ds.height, 0, ds.width, "edge", indexes=b, out_shape=shape
                )
                != 0
            )
            values = np.sort(sample[valid & np.isfinite(sample)])
            if not _float32_exact(values):
                offset = values[values.size // 2].item()
        offsets.append(offset)
    return offsets


def _float32_exact(values):
    with np.errstate(invalid="ignore", over="ignore"):
        return np.array_equal(values.astype(np.float32).astype(values.dtype), values)


def read_bands(ds, bands, row0, row1, col0, col1, offsets=None):
    """float32 (nbands, rows, cols) of the window, each band's values less
    its offset (band_offsets, computed here unless given); outside the image
    each pixel repeats the nearest edge pixel, so that a filter sees the same
    values whichever window covers a pixel. Warns (KAVU_VALUES_ROUNDED) when
    float32 cannot hold a band's values even so."""
    if len({ds.dtypes[b - 1] for b in bands}) == 1:
        data = _read(ds, ds.read, row0, row1, col0, col1, "edge", indexes=bands)
    else:  # read as one type, an int8 band would be converted as 0..255
        data = [_read(ds, ds.read, row0, row1, col0, col1, "edge", indexes=b) for b in bands]
    if all(ds.dtypes[b - 1] in EXACT_IN_FLOAT32 for b in bands):
        return np.array(data, np.float32)
    offsets = band_offsets(ds, bands) if offsets is None else offsets
    out = np.empty((len(bands),) + data[0].shape, np.float32)
    for i, (b, offset) in enumerate(zip(bands, offsets)):
        out[i], lost = _shifted(data[i], offset)
        if lost:
            less = f" less {offset}" if offset else ""
            warnings.warn(
                KavuWarning(
                    "KAVU_VALUES_ROUNDED",
                    None,
                    f"{ds.name}: band {b} ({ds.dtypes[b - 1]}): its values{less} need more than "
                    "float32's 24 significant bits; they are segmented rounded to them (beyond "
                    "±3.4e38: left out)",
                ),
                stacklevel=2,
            )
    return out


def _shifted(band, offset):
    """(float32 of band - offset, whether any value is not exactly that)."""
    if band.dtype.name in EXACT_IN_FLOAT32:
        return band, False
    with np.errstate(over="ignore", invalid="ignore"):  # what is lost is told, not warned
        if band.dtype.kind == "f":
            out = (band - offset).astype(np.float32)
            return out, bool((np.isinf(out) & np.isfinite(band)).any())
        wide = band.astype(np.int64) if band.dtype.itemsize < 8 else band
        diff = (wide - wide.dtype.type(offset)).view(np.int64)  # modulo 2^64
        out = diff.astype(np.float32)
        wrapped = (band > band.dtype.type(offset)) != (diff > 0)  # a spread of 2^63 or more
        out[wrapped] = diff[wrapped] - np.sign(diff[wrapped]) * 2.0**64
        return out, bool(wrapped.any() or (out.astype(np.int64) != diff).any())


class Mask:
    """The pixels that take part: the input's own nodata (or mask band), where
    as in GDAL's dataset mask a pixel is nodata when all chosen bands are, or a
    separate raster whose non-zero pixels count.
    `read` gives uint8 1 (valid) / 0 over a window."""

    def __init__(self, ds, bands, kind):
        self.ds, self.bands, self.kind = ds, bands, kind

    def read(self, row0, row1, col0, col1, outside="constant"):
        """outside: "constant" makes pixels outside the image invalid, "edge"
        repeats the nearest edge pixel (as read_bands does with values)."""
        if self.kind == "nodata":
            m = _read(
                self.ds, self.ds.read_masks, row0, row1, col0, col1, outside, indexes=self.bands
            )
            return np.logical_or.reduce(m != 0, axis=0).view(np.uint8)
        values = _read(self.ds, self.ds.read, row0, row1, col0, col1, outside, indexes=1)
        valid = _read(self.ds, self.ds.read_masks, row0, row1, col0, col1, outside, indexes=1)
        return ((values != 0) & (valid != 0)).view(np.uint8)


def size_text(ds):
    return f"{ds.width} x {ds.height} pixels"


def has_nodata(ds, bands):
    return any(MaskFlags.all_valid not in ds.mask_flag_enums[b - 1] for b in bands)


def make_mask(spec, ds, bands):
    """mask: 'auto' (the input's nodata when it declares one), 'none',
    'nodata', or the path of a mask raster of the input's size."""
    if spec == "none" or (spec == "auto" and not has_nodata(ds, bands)):
        return None
    if spec in ("auto", "nodata"):
        if not has_nodata(ds, bands):
            raise OptionError("mask", spec, f"{ds.name} declares no nodata value or mask")
        return Mask(ds, bands, "nodata")
    mask_ds = open_raster(spec, "mask")
    if (mask_ds.height, mask_ds.width) != (ds.height, ds.width):
        raise OptionError("mask", spec, f"{size_text(mask_ds)}, the input has {size_text(ds)}")
    return Mask(mask_ds, [1], "raster")


def label_profile(height, width, crs=None, transform=None, gcps=None):
    """A uint32 tiled, compressed GeoTIFF with the given georeferencing and
    nodata 0 (0 is "no region"). Its blocks are compressed on every core:
    the file is the same, byte for byte, and compressing is most of writing."""
    profile = dict(
        driver="GTiff",
        dtype="uint32",
        count=1,
        nodata=0,
        height=height,
        width=width,
        tiled=True,
        blockxsize=OUT_BLOCK,
        blockysize=OUT_BLOCK,
        compress="deflate",
        predictor=2,
        num_threads="ALL_CPUS",
        bigtiff="if_safer",
    )
    if crs is not None:
        profile["crs"] = crs
    if transform is not None and not transform.is_identity:
        profile["transform"] = transform
    elif gcps:
        profile["gcps"] = gcps
    return profile


def open_label_raster(path, profile):
    """The label GeoTIFF opened for writing; a raster without georeferencing
    is written as it is, without a warning."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", NotGeoreferencedWarning)
        return rasterio.open(path, "w", **profile)


def georeferencing(ds):
    """The georeferencing of ds as label_profile's keywords."""
    crs = ds.crs
    gcps, gcp_crs = ds.gcps
    return dict(crs=crs if crs is not None else gcp_crs, transform=ds.transform, gcps=gcps)


class AtomicOutput:
    """A work directory beside OUT holding everything a run writes; on success
    the finished file replaces OUT, on any failure the directory goes and OUT is
    left as it was. Checks up front that OUT can be written: it is a regular
    file or absent (a symbolic link counts as the file it leads to, which is
    replaced while the link stays); a device, FIFO or directory is refused
    rather than replaced by a file."""

    def __init__(self, out_path):
        self.out_path = os.path.realpath(out_path)
        if os.path.isdir(self.out_path):
            raise OutputError(f"cannot write {out_path}: it is a directory", out_path)
        if os.path.exists(self.out_path) and not os.path.isfile(self.out_path):
            raise OutputError(f"cannot write {out_path}: it is not a regular file", out_path)
        parent = os.path.dirname(self.out_path)
        held = signal.pthread_sigmask(signal.SIG_BLOCK, HELD_SIGNALS)
        try:
            self.dir = tempfile.mkdtemp(prefix=self._prefix(out_path), dir=parent)
            _work_dirs.add(self.dir)
        except OSError as e:
            raise OutputError(f"cannot write {out_path}: {e.strerror}", out_path) from None
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, held)
        self.path = os.path.join(self.dir, "out" + os.path.splitext(out_path)[1])

    @staticmethod
    def _prefix(out_path):
        return f".{os.path.basename(out_path)}."

    @classmethod
    def work_dirs(cls, out_path):
        """Work directories of runs on OUT that were killed before they could
        remove their own."""
        parent = os.path.dirname(os.path.realpath(out_path))
        return [
            p
            for p in glob.glob(
                os.path.join(glob.escape(parent), glob.escape(cls._prefix(out_path)) + "*")
            )
            if os.path.isdir(p)
        ]

    def work_file(self, name):
        return os.path.join(self.dir, name)

    def commit(self):
        try:
            os.replace(self.path, self.out_path)
        except OSError as e:
            raise OutputError(
                f"cannot write {self.out_path}: {e.strerror}", self.out_path
            ) from None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.dir, ignore_errors=True)
        _work_dirs.discard(self.dir)
        return False


def write_error(path, error):
    """An OSError or GDAL error while writing `path`, as an OutputError."""
    reason = error.strerror if isinstance(error, OSError) and error.strerror else _one_line(error)
    return OutputError(f"cannot write {path}: {reason}", path)
