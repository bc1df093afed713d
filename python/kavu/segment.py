"""`kavu segment`: a raster of any size segmented tile by tile.

Three passes over the image, each by windows, so memory follows the tile size:
1. the gradient scale (levels.Quantiser) over the whole image;
2. per tile (tiling.grid order): watershed of the level image with the labels
   of the overlapped row and column as margins, then lambda-schedule merging
   of the owned pixels against the regions of earlier tiles (share files,
   two-line margins); output labels go to a raw scratch file, cross-tile label
   pairs to a list;
3. the pairs are resolved into connected groups and every strip of the
   scratch file is relabelled with consecutive labels into the GeoTIFF.
"""

import os
import time
from dataclasses import dataclass
from typing import NamedTuple, Optional

import numpy as np
from rasterio.errors import RasterioError
from rasterio.windows import Window

from . import _routines as routines
from .exits import EXIT_USAGE, CliError
from .levels import Quantiser, gradient_magnitude, interior_valid
from .raster_io import (OUT_BLOCK, AtomicOutput, gdal_env, georeferencing, label_profile,
                        make_mask, open_label_raster, open_raster, parse_bands, read_bands,
                        write_error)
from .tiling import grid

LABEL_LIMIT = 0xFFFFFFFA    # the largest real label the watershed hands out
OUT_WINDOW = 4 * OUT_BLOCK  # width of the windows relabelled and written at a time


@dataclass
class SegmentOptions:
    lambda_threshold: float = 1000.0
    tile: int = 1024
    bands: Optional[str] = None       # "1,2,3"; None: every band
    connectivity: int = 4
    merge_lines: bool = True
    mask: str = "auto"                # auto | none | nodata | path of a mask raster
    start_label: int = 1


def no_progress(total, desc):
    class Quiet:
        def update(self, n=1):
            pass

        def close(self):
            pass
    return Quiet()


class Borders:
    """Labels that later tiles overlap: the last owned row of the tile row
    above across the image width (index x + 1, with a padding 0 at each end)
    and the last owned column of the tile to the left; for each, the watershed
    label (`ws`) and the output label (`out`) of every pixel."""

    def __init__(self, width):
        self.width = width
        self.above = None                      # (ws, out) or None in the first tile row
        self.below = self._row()
        self.left = None                       # (ws, out) or None in the first tile column

    def _row(self):
        return np.zeros((2, self.width + 2), np.uint32)

    def next_tile_row(self):
        self.above, self.below, self.left = self.below, self._row(), None

    def watershed_margins(self, tile):
        """MARGIN_HLBL / MARGIN_VLBL of the watershed window (None where the
        tile touches the image's top or left border)."""
        hl = vl = None
        if self.above is not None:
            hl = self.above[0, tile.x0:tile.x1 + 2].copy()      # columns x0 - 1 .. x1
        if self.left is not None:
            corner = self.above[0, tile.x0] if self.above is not None else 0
            vl = np.concatenate(([corner], self.left[0], [0])).astype(np.uint32)
        return hl, vl

    def lambda_margins(self, tile):
        """The two-line margins of the merged part (the owned pixels plus the
        overlapped row and column): line 0 the watershed labels that earlier
        tiles gave the overlapped pixels, line 1 their output labels."""
        hl = vl = None
        if self.above is not None:
            hl = np.ascontiguousarray(self.above[:, tile.x0 + 1 - tile.overlap_x:tile.x1 + 1])
        if self.left is not None:
            vl = self.left
            if self.above is not None:
                vl = np.concatenate([self.above[:, tile.x0:tile.x0 + 1], vl], axis=1)
        return _unless_empty(hl), _unless_empty(vl)

    def keep(self, tile, ws, out):
        self.below[0, tile.x0 + 1:tile.x1 + 1] = ws[-1]
        self.below[1, tile.x0 + 1:tile.x1 + 1] = out[-1]
        self.left = np.stack([ws[:, -1], out[:, -1]])


def _with_finite(mask, bands):
    """The mask with pixels that are NaN or infinite in some band left out
    (None when there is no mask and every value is finite)."""
    finite = np.isfinite(bands).all(axis=0)
    if finite.all():
        return mask
    finite = finite.view(np.uint8)
    return finite if mask is None else mask & finite


def _unless_empty(margin):
    # A margin without any output label (all masked) ties nothing.
    return None if margin is None or not margin[1].any() else margin


class LabelScratch:
    """The tiles' output labels, uint32 row-major in a raw file."""

    def __init__(self, path, height, width):
        self.width = width
        self.fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600)
        os.ftruncate(self.fd, height * width * 4)

    def write(self, y0, x0, labels):
        for i, row in enumerate(labels):
            os.pwrite(self.fd, row.tobytes(), ((y0 + i) * self.width + x0) * 4)

    def read(self, y0, y1, x0, x1):
        labels = np.empty((y1 - y0, x1 - x0), np.uint32)
        for i in range(y1 - y0):
            row = os.pread(self.fd, (x1 - x0) * 4, ((y0 + i) * self.width + x0) * 4)
            labels[i] = np.frombuffer(row, np.uint32)
        return labels

    def close(self):
        os.close(self.fd)


class LabelBook:
    """Output labels seen so far and the pairs that must become one region."""

    def __init__(self):
        self.present = np.zeros(1 << 16, bool)
        self.pairs = []

    def see(self, labels):
        top = int(labels.max(initial=0))
        if top >= len(self.present):
            grown = np.zeros(max(top + 1, 2 * len(self.present)), bool)
            grown[:len(self.present)] = self.present
            self.present = grown
        self.present[labels] = True

    def add_pairs(self, pairs):
        pairs = pairs.reshape(-1, 2)
        if len(pairs):
            self.pairs.append(pairs.astype(np.int64))

    def final_labels(self, start):
        """Lookup table output label -> start, start + 1, ...: one value per
        group of labels joined by pairs, in the order of each group's smallest
        label; 0 stays 0. Returns (table, number of regions)."""
        from scipy.sparse import coo_matrix
        from scipy.sparse.csgraph import connected_components
        n = len(self.present)
        if self.pairs:
            pairs = np.concatenate(self.pairs)
            n = max(n, int(pairs.max()) + 1)
            edges = coo_matrix((np.ones(len(pairs), np.int8), (pairs[:, 0], pairs[:, 1])),
                               shape=(n, n))
            n_groups, group = connected_components(edges, directed=False)
        else:
            n_groups, group = n, np.arange(n)
        labels = np.flatnonzero(self.present[1:]) + 1      # every label some pixel carries
        groups = group[labels]
        used, first = np.unique(groups, return_index=True)
        rank = np.zeros(n_groups, np.int64)
        rank[used[np.argsort(first)]] = np.arange(len(used))
        table = np.zeros(n, np.uint32)
        table[labels] = start + rank[groups]
        return table, len(used)


def _merge_pairs_as_output(pairs, ws_labels, out_labels):
    """Watershed label pairs (basins meeting at level 0) as pairs of the
    output labels that the same pixels carry; pairs whose labels no merged
    pixel carries, or that already share an output label, drop out."""
    keys, values = ws_labels.ravel(), out_labels.ravel()
    order = np.argsort(keys, kind="stable")
    keys, values = keys[order], values[order]
    pos = np.minimum(np.searchsorted(keys, pairs), len(keys) - 1)
    mapped = np.where(keys[pos] == pairs, values[pos], 0).reshape(-1, 2)
    keep = (mapped[:, 0] != 0) & (mapped[:, 1] != 0) & (mapped[:, 0] != mapped[:, 1])
    return mapped[keep]


class SpareRegions(NamedTuple):
    """The arrays of one merging call, extended below the tile when margins
    bring in regions of earlier tiles.

    The merging stops once the tile's own regions are down to one, counting
    merges with margin regions too: with k margin regions it would leave up to
    k merges undone, and a tile that is all one region (open water) would not
    join the same region in the tiles around it: a seam. Each of k spare
    pixels, isolated between masked pixels, is a region that can never merge
    and raises the count by one, so every needed merge can happen. The rows
    below the tile are: a masked row, pairs of (spare row, masked row), and a
    copy of the tile's bottom row, so that the bottom row's regions are still
    the ones published for the tile below."""

    image: np.ndarray
    labels: np.ndarray
    mask: Optional[np.ndarray]
    margin_v: Optional[np.ndarray]

    @staticmethod
    def extend(image, labels, mask, margin_h, margin_v, first_spare, keep_bottom):
        lines = [m[1][m[1] != 0] for m in (margin_h, margin_v) if m is not None]
        k = len(np.unique(np.concatenate(lines))) if lines else 0
        if k == 0:
            return SpareRegions(np.ascontiguousarray(image), np.array(labels, order="C"),
                                mask, margin_v)
        rows, width = labels.shape
        per_row = (width + 1) // 2
        spare_rows = -(-k // per_row)
        extra = 1 + 2 * spare_rows + int(keep_bottom)
        ext_labels = np.zeros((rows + extra, width), np.uint32)
        ext_mask = np.zeros((rows + extra, width), np.uint8)
        ext_image = np.zeros((image.shape[0], rows + extra, width), np.float32)
        ext_labels[:rows], ext_image[:, :rows] = labels, image
        ext_mask[:rows] = 1 if mask is None else mask
        spare_at = (rows + 1 + 2 * (np.arange(k) // per_row), 2 * (np.arange(k) % per_row))
        ext_labels[spare_at] = first_spare + np.arange(k, dtype=np.uint32)
        ext_mask[spare_at] = 1
        if keep_bottom:
            ext_labels[-1], ext_image[:, -1], ext_mask[-1] = (labels[-1], image[:, -1],
                                                              ext_mask[rows - 1])
        if margin_v is not None:
            margin_v = np.concatenate([margin_v, np.zeros((2, extra), np.uint32)], axis=1)
        return SpareRegions(ext_image, ext_labels, ext_mask, margin_v)


class TiledSegmentation:
    """State that runs through the tiles of one image."""

    def __init__(self, ds, bands, mask, options, work):
        self.ds, self.bands, self.mask, self.options = ds, bands, mask, options
        self.quantiser = Quantiser()
        self.borders = Borders(ds.width)
        self.book = LabelBook()
        self.scratch = LabelScratch(work.work_file("labels.u32"), ds.height, ds.width)
        self.share = work.work_file("share")
        for suffix in (".idx", ".info"):      # the tiled mode opens both for update
            open(self.share + suffix, "wb").close()
        self.ws_last = 0                      # largest watershed label so far
        self.next_label = 1                   # next free output label
        self.tiles = grid(ds.height, ds.width, options.tile, options.tile)

    def measure_scale(self, tile):
        block = read_bands(self.ds, self.bands, tile.y0 - 1, tile.y1 + 1, tile.x0 - 1, tile.x1 + 1)
        mask = _with_finite(None if self.mask is None else
                            self.mask.read(tile.y0 - 1, tile.y1 + 1, tile.x0 - 1, tile.x1 + 1,
                                           outside="edge"), block)
        self.quantiser.observe(gradient_magnitude(block),
                               None if mask is None else interior_valid(mask))

    def segment(self, tile):
        (wy0, wy1), (wx0, wx1) = tile.window
        block = read_bands(self.ds, self.bands, wy0 - 1, wy1 + 1, wx0 - 1, wx1 + 1)
        levels = self.quantiser.levels(gradient_magnitude(block))
        window_mask = _with_finite(None if self.mask is None else
                                   self.mask.read(wy0, wy1, wx0, wx1), block[:, 1:-1, 1:-1])
        hl, vl = self.borders.watershed_margins(tile)
        ws = routines.watershed(levels, np.ascontiguousarray(block[:, 1:-1, 1:-1]),
                                connectivity=self.options.connectivity, long=True,
                                merge_bd=self.options.merge_lines, start_lbl=self.ws_last,
                                mask=window_mask, margin_hlbl=hl, margin_vlbl=vl)
        self.ws_last = ws.max_region_label

        # The merging covers the owned pixels and the overlapped row and column,
        # whose watershed labels are the margins' (window minus frame and padding).
        dy, dx = tile.overlap_y, tile.overlap_x
        part = (slice(1 - dy, 1 + tile.height), slice(1 - dx, 1 + tile.width))
        ws_part = ws.labels[part]
        part_mask = None if window_mask is None else np.ascontiguousarray(window_mask[part])
        if not self.options.merge_lines:       # watershed lines stay 0 and take no part
            lines_out = (ws_part != 0).view(np.uint8)
            part_mask = lines_out if part_mask is None else part_mask & lines_out
        margin_h, margin_v = self.borders.lambda_margins(tile)
        image_part = block[(slice(None),) + tuple(slice(p.start + 1, p.stop + 1) for p in part)]
        call = SpareRegions.extend(image_part, ws_part, part_mask, margin_h, margin_v,
                                   first_spare=self.ws_last + 1,
                                   keep_bottom=tile.y1 < self.ds.height)
        merged = routines.tile_lambda_segment(
            call.image, in_label_img=call.labels, in_place=True,
            lambda_threshold=self.options.lambda_threshold, share_file_name=self.share,
            start_lbl=self.next_label, mask=call.mask, margin_hlbl=margin_h,
            margin_vlbl=call.margin_v)
        out_part = merged.labels[:ws_part.shape[0]]
        if part_mask is not None:
            out_part[part_mask == 0] = 0       # never written by the merging
        self.next_label = max(self.next_label, merged.last_lbl + 1)
        if self.next_label > LABEL_LIMIT or self.ws_last >= LABEL_LIMIT:
            raise CliError("more regions than 32-bit labels can number; use a larger --lambda")

        ws_own, out = ws_part[dy:, dx:], out_part[dy:, dx:]
        self.book.see(out)
        self.book.add_pairs(merged.merge_list)
        if ws.merge_list.size:
            self.book.add_pairs(_merge_pairs_as_output(ws.merge_list, ws_part, out_part))
        self.scratch.write(tile.y0, tile.x0, out)
        self.borders.keep(tile, ws_own, out)
        if tile.x1 == self.ds.width:
            self.borders.next_tile_row()

    def write_output(self, path, progress):
        """Relabels the scratch labels into the GeoTIFF, one block-aligned
        window at a time (memory follows the window, not the image's width)."""
        table, n_regions = self.book.final_labels(self.options.start_label)
        if n_regions and self.options.start_label + n_regions - 1 > 0xFFFFFFFF:
            raise CliError(f"--start-label {self.options.start_label}: {n_regions} regions do "
                           "not fit below 2^32", EXIT_USAGE)
        seen = np.zeros(len(table), bool)
        profile = label_profile(self.ds.height, self.ds.width, **georeferencing(self.ds))
        height, width = self.ds.height, self.ds.width
        windows = [(y0, x0) for y0 in range(0, height, OUT_BLOCK)
                   for x0 in range(0, width, OUT_WINDOW)]
        bar = progress(len(windows), "writing")
        try:
            with open_label_raster(path, profile) as dst:
                for y0, x0 in windows:
                    y1, x1 = min(y0 + OUT_BLOCK, height), min(x0 + OUT_WINDOW, width)
                    labels = self.scratch.read(y0, y1, x0, x1)
                    seen[labels] = True
                    seen[0] = False
                    old = np.flatnonzero(seen).astype(np.uint32)
                    seen[old] = False
                    final = (routines.replace_integer_data(labels, old, table[old]).data
                             if old.size else labels)
                    dst.write(final, 1, window=Window(x0, y0, x1 - x0, y1 - y0))
                    bar.update()
        except (OSError, RasterioError) as e:
            raise write_error(path, e) from None
        finally:
            bar.close()
        return n_regions

    def close(self):
        self.scratch.close()


def segment_raster(in_path, out_path, options, progress=no_progress):
    """Segments in_path into the label GeoTIFF out_path. Returns a summary dict."""
    started = time.monotonic()
    if options.tile < 1:
        raise CliError(f"--tile {options.tile}: needs to be at least 1", EXIT_USAGE)
    if not options.lambda_threshold >= 0:
        raise CliError(f"--lambda {options.lambda_threshold}: needs to be 0 or more", EXIT_USAGE)
    if options.connectivity not in (4, 8):
        raise CliError(f"--connectivity {options.connectivity}: needs to be 4 or 8", EXIT_USAGE)
    if not 1 <= options.start_label <= 0xFFFFFFFF:
        raise CliError(f"--start-label {options.start_label}: needs to be 1 to 4294967295",
                       EXIT_USAGE)
    with gdal_env():
        ds = open_raster(in_path)
        with ds:
            bands = parse_bands(options.bands, ds)
            mask = make_mask(options.mask, ds, bands)
            with AtomicOutput(out_path) as work:
                run = TiledSegmentation(ds, bands, mask, options, work)
                try:
                    for stage, step in (("scale", run.measure_scale), ("segmenting", run.segment)):
                        bar = progress(len(run.tiles), stage)
                        for tile in run.tiles:
                            step(tile)
                            bar.update()
                        bar.close()
                    n_regions = run.write_output(work.path, progress)
                finally:
                    run.close()
                work.commit()
    seconds = time.monotonic() - started
    return dict(regions=n_regions, tiles=len(run.tiles), pixels=ds.width * ds.height,
                seconds=seconds)
