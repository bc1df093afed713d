"""`kavu polygons`: the regions of a label raster as a GeoPackage layer, one
multipolygon feature per label in the raster's coordinate reference system,
with the region's shape and band statistics as attributes.

GDAL's polygonisation traces the borders: it reads the labels row by row, so
its memory follows the width. It gives one polygon per connected part (under
the segmentation's connectivity), with holes as interior rings; the parts go
into a scratch GeoPackage first, and are read back ordered by label, so that a
label of several parts (specks, parts that meet only at a corner under
4-connectivity) is one feature. The attributes are computed from the rasters
strip by strip (kavu.raster.overlay.region_stats, the same numbers as `kavu
stats`, and the neighbour pairs as one sorted array) for REGIONS_PER_PASS
labels at a time, the rasters read again for each further part; what is held
for every region is the list of labels alone (4 or 8 bytes a region)."""

import math
import os

import numpy as np
from rasterio.errors import RasterioError, RasterioIOError
from rasterio.windows import Window

from ..errors import ArgumentError, Cancelled, InputError, NotLabels, OptionError
from .io import OUT_BLOCK, AtomicOutput, parse_bands, write_error
from .layer_name import DEFAULT_LAYER, check_layer_name
from .overlay import _same_grid, image_and_labels, region_stats

# GDAL's polygonisation reads labels as 32-bit signed integers.
LARGEST_LABEL = 2**31 - 1
# Features written between two commits of the output's transaction.
FEATURES_PER_COMMIT = 20000
# Regions whose attributes are held at a time: the rasters are read once for
# each such part of the labels. About 200 bytes a region with one band.
REGIONS_PER_PASS = 1 << 21
# Rows of attributes turned into Python numbers at a time while writing.
ROWS_AT_A_TIME = 4096
# Pending neighbour pairs gathered before they are folded into the sorted set.
PAIRS_PER_FOLD = 1 << 22


def _check_georeferencing(ds, labels_ds):
    """The labels must lie on the image's pixels: the same size (_same_grid),
    coordinate reference system and transform."""
    _same_grid(ds, labels_ds)
    if labels_ds.crs != ds.crs or not labels_ds.transform.almost_equals(ds.transform):
        raise ArgumentError(
            f"{labels_ds.name}: labels georeferenced otherwise than the image {ds.name} "
            "(coordinate reference system or pixel grid)"
        )


def _strips(labels_ds, overlap=0):
    """(y0, labels) of the strips of the label raster, each with `overlap`
    rows of the one above."""
    height, width = labels_ds.height, labels_ds.width
    for y0 in range(0, height, OUT_BLOCK):
        top = max(y0 - overlap, 0)
        window = Window(0, top, width, min(y0 + OUT_BLOCK, height) - top)
        try:
            yield y0, labels_ds.read(1, window=window)
        except (RasterioError, RasterioIOError) as e:
            raise InputError(f"cannot read {labels_ds.name}: {e}", labels_ds.name) from None


def _folded(known, pending):
    return np.union1d(known, np.concatenate(pending)) if pending else known


def distinct_labels(labels_ds):
    """The non-zero labels present, ascending; refuses negative labels and
    labels GDAL cannot polygonise."""
    known, pending, size = np.empty(0, labels_ds.dtypes[0]), [], 0
    for _, rows in _strips(labels_ds):
        low, high = rows.min(), rows.max()
        if low < 0 or high > LARGEST_LABEL:
            bad = low if low < 0 else high
            above = f", above {LARGEST_LABEL}, the largest GDAL polygonises" if bad > 0 else ""
            raise NotLabels("labels_path", labels_ds.name, f"holds label {bad}{above}")
        pending.append(np.unique(rows))
        size += pending[-1].size
        if size > max(PAIRS_PER_FOLD, known.size):
            known, pending, size = _folded(known, pending), [], 0
    known = _folded(known, pending)
    return known[known != 0]


def _pairs(rows, connectivity, lo, hi):
    """The label pairs (low, high), packed into uint64, of the neighbouring
    pixels of a block of rows whose labels differ, neither of them 0, one of
    them from lo to hi."""
    steps = [(rows[:, :-1], rows[:, 1:]), (rows[:-1], rows[1:])]
    if connectivity == 8:
        steps += [(rows[:-1, :-1], rows[1:, 1:]), (rows[:-1, 1:], rows[1:, :-1])]
    found = []
    for a, b in steps:
        a, b = a.ravel(), b.ravel()
        keep = (a != b) & (a != 0) & (b != 0)
        keep &= ((a >= lo) & (a <= hi)) | ((b >= lo) & (b <= hi))
        a, b = a[keep].astype(np.uint64), b[keep].astype(np.uint64)
        found.append(np.unique((np.minimum(a, b) << np.uint64(32)) | np.maximum(a, b)))
    return np.unique(np.concatenate(found))


def neighbour_counts(labels_ds, labels, connectivity):
    """How many other regions touch each of `labels` (ascending, labels of
    the raster), under the connectivity; strips overlap by one row so that
    pairs across a strip border count."""
    lo, hi = labels[0], labels[-1]
    known, pending, size = np.empty(0, np.uint64), [], 0
    for _, rows in _strips(labels_ds, overlap=1):
        pending.append(_pairs(rows, connectivity, lo, hi))
        size += pending[-1].size
        if size > max(PAIRS_PER_FOLD, known.size):
            known, pending, size = _folded(known, pending), [], 0
    known = _folded(known, pending)
    ends = np.concatenate([known >> np.uint64(32), known & np.uint64(0xFFFFFFFF)])
    ends = ends[(ends >= lo) & (ends <= hi)].astype(labels.dtype)
    return np.bincount(np.searchsorted(labels, ends), minlength=len(labels))


def _fields(bands):
    from osgeo import ogr

    fields = [
        ("label", ogr.OFTInteger64),
        ("pixels", ogr.OFTInteger64),
        ("area", ogr.OFTReal),
        ("perimeter", ogr.OFTReal),
        ("compactness", ogr.OFTReal),
        ("neighbours", ogr.OFTInteger),
    ]
    for b in bands:
        fields += [(f"{what}_b{b}", ogr.OFTReal) for what in ("mean", "std", "min", "max")]
    return fields


def _perimeter(multi):
    """Length of every ring, holes included."""
    total = 0.0
    for i in range(multi.GetGeometryCount()):
        part = multi.GetGeometryRef(i)
        for j in range(part.GetGeometryCount()):
            total += part.GetGeometryRef(j).Length()
    return total


def _gdal_progress(progress, stage):
    if progress is None:
        return None

    def report(complete, message, data):
        return 0 if progress(stage, int(complete * 100), 100) is False else 1

    return report


def _cancel_check(progress, stage, done, total):
    if progress is not None and progress(stage, done, total) is False:
        raise Cancelled(f"stopped by the progress callback while {stage}")


def write_polygons(
    in_path,
    labels_path,
    out_path,
    bands=None,
    connectivity=4,
    layer=DEFAULT_LAYER,
    progress=None,
):
    """Writes the regions of labels_path (0: no region) as layer `layer` of
    the GeoPackage out_path (replaced once complete), with the attributes of
    in_path's bands ("1,2,3"; None: all). connectivity: 4 or 8, that of the
    segmentation, which decides whether pixels meeting at a corner are one
    part. progress(stage, done, total), if given, is called as the work goes
    on; returning False stops it (kavu.errors.Cancelled) and leaves no output.
    Returns the number of features."""
    from osgeo import gdal, ogr

    if connectivity not in (4, 8):
        raise OptionError("connectivity", connectivity, "is 4 or 8")
    check_layer_name(layer)
    gdal.UseExceptions()
    ogr.UseExceptions()
    with image_and_labels(in_path, labels_path, _check_georeferencing) as (ds, labels_ds):
        chosen = parse_bands(bands, ds)
        present = distinct_labels(labels_ds)
        passes = range(0, len(present), REGIONS_PER_PASS)
        with AtomicOutput(out_path) as work:
            # GDAL's datasources are closed before the work folder goes.
            parts = out = None
            try:
                parts = _polygonize(
                    labels_path, work.work_file("parts.gpkg"), connectivity, progress
                )
                out = _Layer(work.path, layer, parts, chosen, abs(ds.transform.determinant))
                out.progress, out.total = progress, len(present)
                for done, first in enumerate(passes):
                    _cancel_check(progress, "attributes", done, len(passes))
                    labels = present[first : first + REGIONS_PER_PASS]
                    within = (labels[0], labels[-1])
                    stats = region_stats(ds, labels_ds, chosen, spread=True, within=within)
                    neighbours = neighbour_counts(labels_ds, labels, connectivity)
                    out.write(within, stats, labels, neighbours)
                _cancel_check(progress, "attributes", len(passes), len(passes))
                out.finish()
                out.close()
            except RuntimeError as e:  # GDAL's own failures
                raise write_error(out_path, e) from None
            finally:
                if out is not None:
                    out.close()
                parts = out = None
            work.commit()
    return len(present)


def _polygonize(labels_path, parts_path, connectivity, progress):
    """Every connected part of every label as a polygon of the scratch
    GeoPackage's layer `parts`, indexed by label."""
    from osgeo import gdal, ogr

    src = gdal.Open(os.fspath(labels_path))
    band = src.GetRasterBand(1)
    parts = ogr.GetDriverByName("GPKG").CreateDataSource(parts_path)
    layer = parts.CreateLayer(
        "parts", srs=src.GetSpatialRef(), geom_type=ogr.wkbPolygon, options=["SPATIAL_INDEX=NO"]
    )
    layer.CreateField(ogr.FieldDefn("label", ogr.OFTInteger64))
    options = ["8CONNECTED=8"] if connectivity == 8 else []
    layer.StartTransaction()
    try:
        gdal.Polygonize(
            band, None, layer, 0, options, callback=_gdal_progress(progress, "polygonising")
        )
    except RuntimeError:
        layer = parts = None
        _cancel_check(progress, "polygonising", 0, 100)
        raise
    layer.CommitTransaction()
    parts.ExecuteSQL("CREATE INDEX parts_label ON parts(label)")
    return parts


class _Layer:
    """The output layer, written one range of labels at a time from the
    parts of those labels, ordered by label."""

    def __init__(self, path, name, parts, bands, pixel_area):
        from osgeo import ogr

        self.parts, self.pixel_area = parts, pixel_area
        self.out = ogr.GetDriverByName("GPKG").CreateDataSource(path)
        srs = parts.GetLayerByName("parts").GetSpatialRef()
        # The spatial index is built once at the end (finish), not a feature at a time.
        self.name = name
        self.layer = self.out.CreateLayer(
            name, srs=srs, geom_type=ogr.wkbMultiPolygon, options=["SPATIAL_INDEX=NO"]
        )
        for field, kind in _fields(bands):
            self.layer.CreateField(ogr.FieldDefn(field, kind))
        self.definition = self.layer.GetLayerDefn()
        self.written, self.progress, self.total = 0, None, 0

    def write(self, within, stats, labels, neighbours):
        """The features of `labels` (the labels present from within[0] to
        within[1], ascending): the query meets them in that order, so the
        i-th label grouped is labels[i]."""
        ordered = self.parts.ExecuteSQL(
            f"SELECT label, geom FROM parts WHERE label BETWEEN {int(within[0])} AND "
            f"{int(within[1])} ORDER BY label"
        )
        values = np.stack([stats.means, stats.stds, stats.mins, stats.maxs], axis=2)
        values = values.reshape(len(stats.labels), -1)
        at = np.minimum(np.searchsorted(stats.labels, labels), max(len(stats.labels) - 1, 0))
        has_stats = stats.labels[at] == labels if len(stats.labels) else np.zeros(len(labels), bool)
        rows = []

        def attributes(i):  # Python numbers, made for ROWS_AT_A_TIME rows at a time
            if i % ROWS_AT_A_TIME == 0:
                part = slice(i, i + ROWS_AT_A_TIME)
                rows[:] = zip(
                    neighbours[part].tolist(),
                    values[at[part]].tolist(),
                    has_stats[part].tolist(),
                )
            n, row, ok = rows[i % ROWS_AT_A_TIME]
            return n, row if ok else None

        self.layer.StartTransaction()
        try:
            current, polygons, done = None, [], 0
            for feature in ordered:
                label = feature.GetFieldAsInteger64(0)
                if label != current and polygons:
                    self._feature(current, polygons, *attributes(done))
                    done, polygons = done + 1, []
                current = label
                polygons.append(feature.GetGeometryRef().Clone())
            if polygons:
                self._feature(current, polygons, *attributes(done))
            self.layer.CommitTransaction()
        finally:
            self.parts.ReleaseResultSet(ordered)

    def _feature(self, label, polygons, neighbours, values):
        from osgeo import ogr

        multi = ogr.Geometry(ogr.wkbMultiPolygon)
        for polygon in polygons:
            multi.AddGeometry(polygon)
        area = multi.GetArea()
        perimeter = _perimeter(multi)
        feature = ogr.Feature(self.definition)
        feature.SetGeometryDirectly(multi)
        feature.SetFieldInteger64(0, label)
        feature.SetFieldInteger64(1, round(area / self.pixel_area) if self.pixel_area else 0)
        feature.SetField(2, area)
        feature.SetField(3, perimeter)
        feature.SetField(4, 4 * math.pi * area / (perimeter * perimeter))
        feature.SetFieldInteger64(5, neighbours)
        if values is not None:  # else every pixel of the region is NaN
            for i, value in enumerate(values, 6):
                feature.SetField(i, value)
        self.layer.CreateFeature(feature)
        self.written += 1
        if self.written % FEATURES_PER_COMMIT == 0:
            self.layer.CommitTransaction()
            _cancel_check(self.progress, "writing", self.written, self.total)
            self.layer.StartTransaction()

    def finish(self):
        self.out.ExecuteSQL(f"SELECT CreateSpatialIndex('{self.name}', 'geom')")

    def close(self):
        self.layer = self.definition = self.parts = None
        self.out = None
