"""The `kavu` command line: segment, batch, schedule, cut, overlay, stats, polygons.

Every failure a user can cause ends with one line on stderr,
`kavu <command>: error: <what>`, and an exit code from kavu.exits; no
traceback. Progress bars appear only when stderr is a terminal; a command's
summary is one line on stdout."""

import argparse
import logging
import os
import signal
import sys
import warnings

from ..binding.host_messages import KavuWarning
from .exits import EXIT_INTERRUPTED, EXIT_OK, EXIT_OUTPUT, EXIT_USAGE, CliError
from .error_lines import as_one_line, describe
from .same_file import refuse_inputs_as_outputs
from ..binding.checks import ignore_layout_hints

GEOTIFF = (".tif", ".tiff")
GEOPACKAGE = (".gpkg",)


class Interrupted(KeyboardInterrupt):
    """SIGTERM or SIGHUP, unwound like Ctrl-C so that every work directory goes."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


STOP_SIGNALS = (signal.SIGTERM, signal.SIGHUP)


def _interrupt(signum, frame):
    for s in STOP_SIGNALS:  # a second signal must not cut the clean-up short
        signal.signal(s, signal.SIG_IGN)
    raise Interrupted(signum)


class UsageError(CliError):
    def __init__(self, prog, message):
        super().__init__(message, EXIT_USAGE)
        self.prog = prog


class OneLineParser(argparse.ArgumentParser):
    """argparse that reports a bad option in one line (no usage block)."""

    def error(self, message):
        raise UsageError(self.prog, message)


def _whole_number(text):
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None


def _positive_int(text):
    value = _whole_number(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"{value} needs to be at least 1")
    return value


def _threshold(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if not value >= 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"{text} needs to be a finite number, 0 or more")
    return value


def _progress_factory():
    if not sys.stderr.isatty():
        from ..tiled.progress import no_progress

        return no_progress
    from tqdm import tqdm

    def progress(total, desc):
        return tqdm(
            total=total,
            desc=desc,
            unit={"writing": "strip", "basins": "step", "merging": "step"}.get(desc, "tile"),
            leave=False,
            file=sys.stderr,
        )

    return progress


def _say(text):
    """A command's summary: one line on stdout, for a terminal and a log alike."""
    print(text, flush=True)


def _count(n, noun):
    return f"{n} {noun}{'' if n == 1 else 's'}"


def _mask_path(args):
    """--mask RASTER: an input too."""
    return None if args.mask in ("auto", "none", "nodata") else args.mask


def segment_options(args):
    """The options `kavu segment` and `kavu batch` share, as SegmentOptions' keywords."""
    return dict(
        lambda_threshold=args.lambda_threshold,
        regions=args.regions,
        mean_area=args.mean_area,
        min_size=args.min_size,
        tile=args.tile,
        connectivity=args.connectivity,
        merge_lines=args.merge_lines,
        start_label=args.start_label,
        levels=args.levels,
    )


def check_extension(path, what, kind, extensions):
    """Refuses an output name whose extension promises another format than
    the one written (a name without extension is taken as it is)."""
    name = os.path.basename(path)
    ext = os.path.splitext(name)[1].lower()
    if ext and ext not in extensions:
        raise CliError(
            f"{what} {name}: kavu writes a {kind}; name it {' or '.join(extensions)}", EXIT_USAGE
        )


def cmd_segment(args):
    outputs = [args.output] + ([args.vector] if args.vector else [])
    refuse_inputs_as_outputs(outputs, [args.input, _mask_path(args)])
    check_extension(args.output, "OUT", "GeoTIFF", GEOTIFF)
    if args.vector:
        from ..raster.layer_name import check_layer_name

        check_extension(args.vector, "--vector", "GeoPackage", GEOPACKAGE)
        check_layer_name(args.layer)
    from ..tiled.run import SegmentOptions
    from ..raster.io import AtomicOutput
    from ..raster.segment import segment_raster

    if args.vector:  # a GeoPackage that cannot be written fails now, not after the run
        with AtomicOutput(args.vector):
            pass
    summary = segment_raster(
        args.input,
        args.output,
        SegmentOptions(**segment_options(args)),
        args.bands,
        args.mask,
        _progress_factory(),
        workers=args.workers,
        cog=args.cog,
        client=args.scheduler,
    )
    if args.vector:
        from ..raster.polygons import write_polygons

        write_polygons(
            args.input,
            args.output,
            args.vector,
            bands=args.bands,
            connectivity=args.connectivity,
            layer=args.layer,
        )
    _say(
        f"{args.output}: {_count(summary['regions'], 'region')}, "
        f"{_count(summary['tiles'], 'tile')}, "
        f"lambda {summary['lambda_threshold']:.7g}, "
        f"{summary['pixels'] / summary['seconds'] / 1e6:.2f} Mpixel/s"
    )


def cmd_batch(args):
    from ..batch import TABLE, batch, format_table

    # The table also when interrupted: it says which scenes are done.
    rows = batch(
        args.inputs,
        args.out_dir,
        client=args.scheduler,
        workers=args.workers,
        progress=sys.stderr.isatty(),
        report=lambda rows: print(format_table(rows)),
        bands=args.bands,
        mask=args.mask,
        **segment_options(args),
    )
    failed = sum(row.status == "failed" for row in rows)
    if failed:
        raise CliError(
            f"{failed} of {len(rows)} scenes failed; the table is in "
            f"{os.path.join(args.out_dir, TABLE)}"
        )


def cmd_schedule(args):
    from ..raster.schedule import make_schedule, schedule_paths

    npz, png = schedule_paths(args.input, args.output)
    refuse_inputs_as_outputs([npz, png], [args.input, _mask_path(args)])
    n = make_schedule(
        args.input,
        npz,
        png,
        bands=args.bands,
        mask=args.mask,
        from_pixels=args.from_pixels,
        connectivity=args.connectivity,
        progress=_progress_factory(),
    )
    _say(f"{npz}: {_count(n, 'merge')}; plot {png}")


def cmd_cut(args):
    from ..raster.cut import cut_schedule

    refuse_inputs_as_outputs([args.output], [args.schedule])
    check_extension(args.output, "OUT", "GeoTIFF", GEOTIFF)
    n = cut_schedule(
        args.schedule,
        args.output,
        regions=args.regions,
        lambda_threshold=args.lambda_threshold,
        min_size=args.min_size,
    )
    _say(f"{args.output}: {_count(n, 'region')}")


def cmd_overlay(args):
    from ..raster.overlay import write_overlay

    refuse_inputs_as_outputs([args.output], [args.input, args.labels])
    check_extension(args.output, "OUT.png", "PNG", (".png",))
    write_overlay(
        args.input,
        args.labels,
        args.output,
        bands=args.bands,
        percent=args.stretch,
        max_size=args.max_size,
    )


def cmd_stats(args):
    from ..raster.overlay import write_stats

    refuse_inputs_as_outputs([args.output], [args.input, args.labels])
    write_stats(args.input, args.labels, args.output, bands=args.bands)


def cmd_polygons(args):
    from ..raster.polygons import write_polygons

    refuse_inputs_as_outputs([args.output], [args.input, args.labels])
    check_extension(args.output, "OUT", "GeoPackage", GEOPACKAGE)
    n = write_polygons(
        args.input,
        args.labels,
        args.output,
        bands=args.bands,
        connectivity=args.connectivity,
        layer=args.layer,
    )
    _say(f"{args.output}: {_count(n, 'feature')} in layer {args.layer}")


def add_layer_option(p):
    from ..raster.layer_name import DEFAULT_LAYER

    p.add_argument(
        "--layer",
        default=DEFAULT_LAYER,
        metavar="NAME",
        help=f"name of the GeoPackage layer (default {DEFAULT_LAYER})",
    )


def add_min_size_option(p):
    from ..tiled.run import DEFAULT_MIN_SIZE

    p.add_argument(
        "--min-size",
        type=int,
        default=DEFAULT_MIN_SIZE,
        metavar="PIXELS",
        help=f"regions under PIXELS pixels join their cheapest neighbour "
        f"(default {DEFAULT_MIN_SIZE}; 0 keeps them)",
    )


def add_bands_option(p):
    p.add_argument("--bands", metavar="LIST", help="bands to use, e.g. 1,2,3 or 1-4 (default all)")


def add_mask_option(p):
    p.add_argument(
        "--mask",
        default="auto",
        metavar="M",
        help="pixels to segment: 'auto' (default: the input's nodata or alpha band, "
        "if any), 'nodata', 'none', or a raster of the input's size whose non-zero "
        "pixels count; NaN pixels are always left out",
    )


def add_segment_options(p):
    """The options of `kavu segment`, which `kavu batch` takes too."""
    from ..tiled.run import DEFAULT_TILE
    from ..tiled.geometry import SMALLEST_TILE

    choice = p.add_mutually_exclusive_group()
    choice.add_argument(
        "--lambda",
        dest="lambda_threshold",
        type=_threshold,
        metavar="T",
        help="merge regions while the cheapest merge costs less than T "
        "(default: a tenth of the summed band variances)",
    )
    choice.add_argument(
        "--regions",
        type=_positive_int,
        metavar="N",
        help="choose lambda for about N regions (printed, to repeat with --lambda)",
    )
    choice.add_argument(
        "--mean-area",
        type=_threshold,
        metavar="PIXELS",
        help="choose lambda for regions of about PIXELS pixels on average",
    )
    add_min_size_option(p)
    p.add_argument(
        "--tile",
        type=_whole_number,
        default=DEFAULT_TILE,
        metavar="N",
        help=f"tile size in pixels (default {DEFAULT_TILE}, at least "
        f"{SMALLEST_TILE}); memory follows N*N, not the image",
    )
    add_bands_option(p)
    p.add_argument(
        "--connectivity",
        type=int,
        choices=(4, 8),
        default=4,
        help="watershed neighbourhood (default 4)",
    )
    p.add_argument(
        "--merge-lines",
        action=argparse.BooleanOptionalAction,
        default=True,
        help="dissolve watershed lines into the nearest basin (default); with "
        "--no-merge-lines they stay 0 and keep the basins on both sides apart",
    )
    add_mask_option(p)
    p.add_argument(
        "--start-label",
        type=_positive_int,
        default=1,
        metavar="L",
        help="first label of the output (default 1; 0 is no region)",
    )
    p.add_argument(
        "--levels",
        choices=("floored", "sobel"),
        default="floored",
        help="the gradient the watershed floods: 'floored' (default) counts gradients "
        "below the image's median as flat, so smooth areas start as one piece; 'sobel' "
        "is the plain gradient of earlier versions (smooth areas in more, smaller pieces)",
    )


def build_parser():
    from ..tiled.pipeline import default_workers

    parser = OneLineParser(
        prog="kavu",
        description="Segment rasters into regions: watershed "
        "and lambda-schedule merging, tile by tile for images of any size.",
    )
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=OneLineParser)

    p = sub.add_parser("segment", help="segment a raster into a uint32 label GeoTIFF")
    p.add_argument("input", metavar="IN", help="raster GDAL reads (GeoTIFF, ...)")
    p.add_argument("output", metavar="OUT", help="label GeoTIFF to write (replaced at the end)")
    add_segment_options(p)
    p.add_argument(
        "--workers",
        type=_positive_int,
        metavar="N",
        help="threads segmenting the next tiles while the current one is joined "
        f"and stored (default and most: one a core, here {default_workers()}; fewer "
        "when memory holds fewer windows); the labels are the same for every N",
    )
    p.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="segment the tiles' windows on the workers of this Dask scheduler "
        "(tcp://host:8786); every worker reads IN itself, at the same path; "
        "the labels are the same as without",
    )
    p.add_argument(
        "--cog",
        action="store_true",
        help="write OUT as a Cloud-Optimised GeoTIFF (tiles, overviews by nearest "
        "neighbour) that QGIS and web maps open at once at any zoom",
    )
    p.add_argument(
        "--vector",
        metavar="OUT.gpkg",
        help="also write the regions as polygons with attributes (as kavu polygons)",
    )
    add_layer_option(p)
    p.set_defaults(run=cmd_segment)

    p = sub.add_parser(
        "batch",
        help="segment many rasters with the same options on a Dask "
        "cluster (local worker processes by default)",
    )
    p.add_argument("inputs", metavar="IN", nargs="+", help="rasters to segment")
    p.add_argument(
        "--out-dir",
        required=True,
        metavar="DIR",
        help="where IN's labels go, as DIR/<IN's name>.labels.tif, with the table "
        "DIR/batch.csv; scenes finished there with the same options are skipped",
    )
    where = p.add_mutually_exclusive_group()
    where.add_argument(
        "--workers",
        type=_positive_int,
        metavar="N",
        help="worker processes on this machine (default: one per core)",
    )
    where.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run on the Dask cluster of this scheduler (tcp://host:8786)",
    )
    add_segment_options(p)
    p.set_defaults(run=cmd_batch)

    p = sub.add_parser("schedule", help="full merge schedule of an image, to choose a level")
    p.add_argument("input", metavar="IN", help="raster GDAL reads, held in memory whole")
    p.add_argument(
        "output",
        metavar="SCHEDULE",
        nargs="?",
        help="schedule file (.npz; default beside IN, IN's name + .schedule.npz); "
        "the plot is written beside it as .png",
    )
    add_bands_option(p)
    add_mask_option(p)
    p.add_argument(
        "--from-pixels",
        action="store_true",
        help="start from single pixels instead of watershed basins (small images)",
    )
    p.add_argument(
        "--connectivity",
        type=int,
        choices=(4, 8),
        default=4,
        help="watershed neighbourhood (default 4)",
    )
    p.set_defaults(run=cmd_schedule)

    p = sub.add_parser("cut", help="label raster at one level of a schedule")
    p.add_argument("schedule", metavar="SCHEDULE", help="schedule file of `kavu schedule`")
    p.add_argument("output", metavar="OUT", help="label GeoTIFF to write")
    level = p.add_mutually_exclusive_group(required=True)
    level.add_argument(
        "--regions",
        type=_positive_int,
        metavar="N",
        help="stop merging where N regions of at least --min-size pixels "
        "are left (the smaller ones join them)",
    )
    level.add_argument(
        "--lambda",
        dest="lambda_threshold",
        type=_threshold,
        metavar="T",
        help="stop at the first merge that costs T or more",
    )
    add_min_size_option(p)
    p.set_defaults(run=cmd_cut)

    p = sub.add_parser("overlay", help="region boundaries over an RGB composite (PNG)")
    p.add_argument("input", metavar="IN", help="raster GDAL reads")
    p.add_argument("labels", metavar="LABELS", help="label raster of IN's size (0: no region)")
    p.add_argument("output", metavar="OUT.png", help="picture to write")
    p.add_argument(
        "--bands",
        metavar="R,G,B",
        help="bands shown as red, green, blue (default 1,2,3, or 1 as grey)",
    )
    p.add_argument(
        "--stretch",
        type=float,
        default=2.0,
        metavar="P",
        help="clip P percent at each end of every band (default 2)",
    )
    p.add_argument(
        "--max-size",
        type=_positive_int,
        default=4096,
        metavar="N",
        help="longest side of the picture (default 4096); larger rasters are " "decimated",
    )
    p.set_defaults(run=cmd_overlay)

    p = sub.add_parser("stats", help="per-region area and band means (CSV)")
    p.add_argument("input", metavar="IN", help="raster GDAL reads")
    p.add_argument(
        "labels", metavar="LABELS", help="one-band integer label raster of IN's size (0: no region)"
    )
    p.add_argument("-o", "--output", metavar="CSV", help="file to write (default stdout)")
    p.add_argument("--bands", metavar="LIST", help="bands to average (default all)")
    p.set_defaults(run=cmd_stats)

    p = sub.add_parser(
        "polygons",
        help="regions as polygons with area, shape and band statistics (GeoPackage)",
    )
    p.add_argument("input", metavar="IN", help="raster GDAL reads")
    p.add_argument(
        "labels", metavar="LABELS", help="one-band integer label raster of IN's grid (0: no region)"
    )
    p.add_argument("output", metavar="OUT", help="GeoPackage to write (replaced at the end)")
    p.add_argument("--bands", metavar="LIST", help="bands to describe (default all)")
    p.add_argument(
        "--connectivity",
        type=int,
        choices=(4, 8),
        default=4,
        help="the segmentation's: whether pixels meeting at a corner touch (default 4)",
    )
    add_layer_option(p)
    p.set_defaults(run=cmd_polygons)
    return parser


def main(argv=None):
    # GDAL's messages reach Python's logging through rasterio; failures also
    # raise, and the error line says what went wrong, so they are not echoed.
    logging.getLogger("rasterio").addHandler(logging.NullHandler())
    logging.getLogger("rasterio").propagate = False
    for signum in STOP_SIGNALS:
        signal.signal(signum, _interrupt)
    ignore_layout_hints()
    parser = build_parser()
    command, args = "kavu", None
    try:
        args, extra = parser.parse_known_args(argv)
        if args.command is None:
            parser.print_help(sys.stderr)
            return EXIT_USAGE
        command = f"kavu {args.command}"
        warnings.showwarning = _warning_line(command)
        if extra:  # named after the command, not the top parser
            raise UsageError(command, f"unrecognized arguments: {' '.join(extra)}")
        args.run(args)
        return EXIT_OK
    except KeyboardInterrupt as e:
        _fail(command, "interrupted")
        return 128 + e.signum if isinstance(e, Interrupted) else EXIT_INTERRUPTED
    except BrokenPipeError:
        return EXIT_OUTPUT
    except Exception as e:  # noqa: BLE001 - the promise is one line, never a traceback
        known = describe(e, getattr(args, "output", None))
        if known is None and os.environ.get("KAVU_TRACEBACK"):
            raise
        message, code = known or as_one_line(e)
        _fail(getattr(e, "prog", command), message)
        return code


def _warning_line(command):
    """Warnings as one line each, like the error line: `kavu <command>: warning: <what>`."""

    def show(message, category, filename, lineno, file=None, line=None):
        from ..tiled.pipeline import FewerWorkers

        text = (
            message.text
            if isinstance(message, KavuWarning)
            else f"--workers {message.asked}: {message.reason}"
            if isinstance(message, FewerWorkers)
            else str(message)
        )
        print(f"{command}: warning: {text}", file=sys.stderr, flush=True)

    return show


def _fail(command, message):
    print(f"{command}: error: {message}", file=sys.stderr)
