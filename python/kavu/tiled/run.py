"""The tiled segmentation of an image of any size, whatever it is read from
and written to (kavu.raster.segment: GeoTIFF files; kavu.image: numpy arrays).

Two passes over the image, tile by tile, so that memory follows the tile size:
1. the scale: the largest gradient (the levels' scale, levels.Quantiser) and
   the band statistics (the default lambda, lambdas.py here);
2. per tile, in grid order: its window (the tile and a stability margin
   around it) segmented on its own (window.py), the owned pixels kept with
   labels of the run, and the regions that both windows at a border put
   together joined (stitching.py).
Then specks that a tile border cut are settled over the whole image
(small_regions.py) and the regions numbered from the start label (final_labels),
for the caller's writer."""

import math
import numbers
import warnings
from dataclasses import dataclass
from functools import partial
from typing import NamedTuple, Optional

import numpy as np

from .. import _kavu
from ..binding.host_messages import KavuWarning
from ..errors import Cancelled, OptionError
from .lambdas import (
    BandSpread,
    default_lambda,
    lambda_for_regions,
    sample_windows,
    warn_past_every_merge,
)
from .levels import LEVEL_RULES, Quantiser
from .window import observe_scale, read_scale_block, read_window, segment_window
from .pipeline import bound_workers, ordered_map, window_bytes, workers_named
from .small_regions import settle_specks
from .stitching import Stitcher
from .geometry import SMALLEST_TILE, grid
from .margins import largest_margin, margin_for, probe_windows, typical_area
from .relabel import LabelBook
from .label_stores import LabelTally
from .outcome import window_outcome

LABEL_LIMIT = _kavu.WATERSHED_LABEL_MAX_32  # labels of a run stay below the reserved words
DEFAULT_TILE = 1024
DEFAULT_MIN_SIZE = 10


@dataclass
class SegmentOptions:
    lambda_threshold: Optional[float] = None  # None: from regions, mean_area or the image
    regions: Optional[int] = None  # wanted number of regions
    mean_area: Optional[float] = None  # wanted mean region area in pixels
    min_size: int = DEFAULT_MIN_SIZE  # regions below it join a neighbour
    tile: int = DEFAULT_TILE
    margin: Optional[int] = None  # stability margin; None: from the regions (margins.py)
    connectivity: int = 4
    merge_lines: bool = True
    start_label: int = 1
    levels: str = LEVEL_RULES[0]  # "floored" or "sobel" (no floor): levels.py


def check_options(options):
    """OptionError naming the first option out of range."""
    o = options
    given = [
        name
        for name in ("lambda_threshold", "regions", "mean_area")
        if getattr(o, name) is not None
    ]
    if len(given) > 1:
        raise OptionError(
            given[1],
            getattr(o, given[1]),
            f"give one of lambda_threshold, " f"regions and mean_area, not {' and '.join(given)}",
        )
    checks = [
        (
            "lambda_threshold",
            o.lambda_threshold is None or 0 <= o.lambda_threshold < math.inf,
            "needs to be a finite number, 0 or more",
        ),
        (
            "regions",
            o.regions is None
            or isinstance(o.regions, numbers.Integral)
            and not isinstance(o.regions, bool),
            "needs to be a whole number",
        ),
        ("regions", o.regions is None or o.regions >= 1, "needs to be at least 1"),
        (
            "mean_area",
            o.mean_area is None or 1 <= o.mean_area < math.inf,
            "needs to be at least 1 pixel",
        ),
        ("min_size", o.min_size >= 0, "needs to be 0 or more"),
        (
            "tile",
            o.tile >= SMALLEST_TILE,
            f"needs to be at least {SMALLEST_TILE} pixels: every tile is segmented with its "
            "neighbours' pixels around it, and a smaller tile is mostly that margin, many times "
            "slower for nothing",
        ),
        ("connectivity", o.connectivity in (4, 8), "needs to be 4 or 8"),
        ("levels", o.levels in LEVEL_RULES, f"needs to be one of {', '.join(LEVEL_RULES)}"),
        ("start_label", 1 <= o.start_label <= 0xFFFFFFFF, "needs to be 1 to 4294967295"),
    ]
    for option, fine, reason in checks:
        if not fine:
            raise OptionError(option, getattr(o, option), reason)


def check_workers(workers):
    """OptionError unless workers is None (a core each) or at least 1."""
    if workers is not None and workers < 1:
        raise OptionError("workers", workers, "needs to be at least 1")


class RunResult(NamedTuple):
    table: np.ndarray  # label of the run (in the store) -> final label, 0 for none
    regions: int
    tiles: int
    lambda_threshold: float


def run_segmentation(
    source, store, options, workers=None, progress=None, cluster=None, folder=None
):
    """The tiled segmentation of `source` from its pixels to the final labels:
    the scale, lambda, the windows, keeping their labels in `store`, and the
    final numbering, returned as a table over the store's labels.

    workers: threads reading and segmenting the next windows (None: one a
    core, fewer when memory holds fewer windows); the labels are the same for
    every number. progress(stage, done, total) is called as each pass
    ("scale", "segmenting") starts (done 0) and after each tile; when it
    returns False the run stops with kavu.errors.Cancelled. cluster: a
    cluster.WindowTasks segmenting the windows on a Dask cluster's workers
    instead of threads (the same labels). folder: where the regions' areas
    and band sums are kept in files (None: in memory)."""
    check_options(options)
    check_workers(workers)
    run = TiledSegmentation(source, options, store, workers, cluster, folder)
    with workers_named(run.workers):
        for stage, tiles in (("scale", run.measure_scale), ("segmenting", run.segment)):
            if stage == "segmenting":
                run.choose_lambda()
            _report(progress, stage, 0, len(run.tiles))
            for done, _ in enumerate(tiles(), 1):
                _report(progress, stage, done, len(run.tiles))
    table, regions = run.final_labels()
    return RunResult(table, regions, len(run.tiles), run.lambda_threshold)


def _report(progress, stage, done, total):
    if progress is not None and progress(stage, done, total) is False:
        raise Cancelled(
            f"stopped by the progress callback while {stage} ({done} of {total} " "tiles)"
        )


class TiledSegmentation:
    """State that runs through the tiles of one image (run_segmentation
    drives it: the scale pass, choose_lambda, the segmenting pass, then
    final_labels)."""

    def __init__(self, source, options, store, workers=None, cluster=None, folder=None):
        check_options(options)
        check_workers(workers)
        self.source, self.store = source, store
        self.options = options
        # The margin follows the regions, known once lambda is: until then
        # (the scale pass reads only owned pixels) the largest it can be,
        # which also bounds the workers by the largest window.
        self.tiles = self._grid(
            largest_margin(options.tile) if options.margin is None else options.margin
        )
        self.quantiser = Quantiser(options.levels)
        self.spread = BandSpread()
        self.stitcher = Stitcher(source.width)
        self.book = LabelBook()
        self.tally = LabelTally(source.nbands, folder)
        self.cluster = cluster
        self.next_label = 1
        self.lambda_threshold = options.lambda_threshold
        window = max((t.wy1 - t.wy0) * (t.wx1 - t.wx0) for t in self.tiles)
        self.workers, fewer = bound_workers(workers, window_bytes(window, source.nbands))
        if fewer:
            warnings.warn(fewer, stacklevel=2)

    def _grid(self, margin):
        # Stitching reads the first pixel past each tile border in the window.
        return grid(self.source.height, self.source.width, self.options.tile, max(margin, 1))

    def measure_scale(self):
        """The scale pass; yields each tile once it is taken into account.
        Tiles are measured ahead by the workers and added up in grid order
        (the band sums are floating point: their order is part of the result)."""

        def measure(pixels):
            quantiser, spread = Quantiser(), BandSpread()
            observe_scale(pixels, quantiser, spread)
            return quantiser, spread

        if self.cluster is not None:
            scales = self.cluster.scales(self.tiles, self.source)
        else:
            blocks = (read_scale_block(self.source, tile) for tile in self.tiles)
            scales = (scale for _, scale in ordered_map(measure, blocks, self.workers))
        for tile, (quantiser, spread) in zip(self.tiles, scales):
            self.quantiser.join(quantiser)
            self.spread.join(spread)
            yield tile

    def choose_lambda(self):
        """The threshold of this run: given, or for the wanted regions, or the
        image's default. Needs the scale pass done."""
        o = self.options
        sample = partial(
            sample_windows,
            self.source,
            self.quantiser,
            o.connectivity,
            o.merge_lines,
            workers=self.workers,
        )
        windows = None
        if self.lambda_threshold is None:
            wanted = (
                o.regions
                if o.regions is not None
                else (self.spread.count / o.mean_area if o.mean_area is not None else None)
            )
            if wanted is not None:
                windows = sample(self.spread.count / wanted)
                if self.quantiser.plain_if_out_of_reach(
                    windows, wanted, self.spread.count, o.min_size
                ):
                    windows = sample(self.spread.count / wanted)
                self.lambda_threshold = lambda_for_regions(
                    windows, wanted, self.spread.count, o.min_size
                )
            if self.lambda_threshold is None:
                self.lambda_threshold = default_lambda(self.spread)
        elif self.lambda_threshold >= self.spread.variance():
            # Measured, the largest merge cost is 1.1 (white noise) to 140
            # (photographs) times the summed variance: below that, the
            # sample schedules would find a merge left undone.
            windows = sample()
            warn_past_every_merge(
                self.lambda_threshold, windows, self.source.height * self.source.width
            )
        if o.margin is None and len(self.tiles) > 1:
            if windows is None:
                windows = probe_windows(self.source, self.quantiser, o.connectivity, o.merge_lines)
            area = typical_area(windows, self.lambda_threshold, o.min_size)
            self.tiles = self._grid(margin_for(o.tile, area))
        self.run_options = _WindowOptions(
            self.lambda_threshold, o.min_size, o.connectivity, o.merge_lines
        )
        return self.lambda_threshold

    def segment(self):
        """The segmenting pass; yields each tile once it is kept. The workers
        segment the next windows, each on its own; keeping (numbering,
        stitching, storing) follows grid order as with one worker."""

        connectivity = self.options.connectivity
        if self.cluster is not None:
            outcomes = self.cluster.outcomes(
                self.tiles, self.source, self.quantiser, self.run_options, connectivity
            )
        else:

            def segment(window):
                tile, pixels = window
                local = segment_window(pixels, self.quantiser, self.run_options)
                return window_outcome(tile, local, pixels, connectivity)

            windows = ((tile, read_window(self.source, tile)) for tile in self.tiles)
            outcomes = (outcome for _, outcome in ordered_map(segment, windows, self.workers))
        for tile, outcome in zip(self.tiles, outcomes):
            self.keep(tile, outcome)
            yield tile

    def keep(self, tile, outcome):
        """The owned pixels under labels of the run, their statistics, and the
        joins at the borders, from the window's outcome.WindowOutcome."""
        parts, n = outcome.parts, outcome.count
        if self.next_label + n > LABEL_LIMIT:
            raise ValueError("more regions than 32-bit labels can number; use a larger lambda")
        kept = np.where(parts != 0, parts + np.uint32(self.next_label - 1), np.uint32(0))
        self.tally.append(outcome.area, outcome.sums)
        self.next_label += n
        for pairs in self.stitcher.pairs(tile, outcome.edges, kept):
            self.book.add_pairs(pairs)
        self.stitcher.keep(tile, outcome.edges, kept)
        self.store.write(tile.y0, tile.x0, kept)

    def final_labels(self):
        """(table: run label -> output label, number of regions)."""
        table, n = self.book.final_labels(self.next_label - 1)
        if n == 0:
            warnings.warn(
                KavuWarning(
                    "KAVU_NO_PIXELS",
                    None,
                    "no pixel takes part (every pixel "
                    "is masked, nodata or not finite): the labels are all 0",
                ),
                stacklevel=2,
            )
        if self.options.min_size > 1:
            table = settle_specks(
                table,
                self.tally,
                self.store,
                self.source.height,
                self.source.width,
                self.options.min_size,
            )
            n = int(table.max())
        self.tally.close()
        start = self.options.start_label
        if n and start + n - 1 > 0xFFFFFFFF:
            raise OptionError("start_label", start, f"{n} regions do not fit below 2^32")
        table[table != 0] += np.uint32(start - 1)  # in range: checked above
        return table, n


@dataclass
class _WindowOptions:
    lambda_threshold: float
    min_size: int
    connectivity: int
    merge_lines: bool
