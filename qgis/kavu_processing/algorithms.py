"""kavu segment, schedule, polygons and stats as Processing algorithms.

Each one calls the kavu package's own function for its command, so that the
results are the command line's. Progress goes to Processing's feedback; the
Cancel button stops the run at its next step, and the package's outputs, which
only appear under their name once complete, leave nothing behind. The
package's errors become QgsProcessingException with the package's message."""

import os

from qgis.core import (
    QgsProcessing,
    QgsProcessingAlgorithm,
    QgsProcessingException,
    QgsProcessingParameterBand,
    QgsProcessingParameterBoolean,
    QgsProcessingParameterEnum,
    QgsProcessingParameterFileDestination,
    QgsProcessingParameterNumber,
    QgsProcessingParameterRasterDestination,
    QgsProcessingParameterRasterLayer,
    QgsProcessingParameterString,
    QgsProcessingParameterVectorDestination,
)

CONNECTIVITIES = [4, 8]


def _kavu():
    try:
        import kavu  # noqa: F401
    except ImportError as e:
        raise QgsProcessingException(
            f"the kavu Python package cannot be imported ({e}); install it with "
            "`make install` in the kavu_segmentation project"
        ) from None


class _Feedback:
    """The package's progress interfaces on a QgsProcessingFeedback: a
    progress factory (progress(total, desc) -> bar) and a callback
    (stage, done, total) -> False to stop. Cancelling raises
    kavu.errors.Cancelled at the next step."""

    def __init__(self, feedback):
        self.feedback = feedback

    def _check(self):
        if self.feedback.isCanceled():
            from kavu.errors import Cancelled

            raise Cancelled("cancelled")

    def factory(self, total, desc):
        outer = self
        outer.feedback.setProgressText(desc)
        outer.feedback.setProgress(0)

        class Bar:
            done = 0

            def update(self, n=1):
                self.done += n
                outer.feedback.setProgress(100.0 * self.done / max(total, 1))
                outer._check()

            def close(self):
                pass

        self._check()
        return Bar()

    def callback(self, stage, done, total):
        if done == 0:
            self.feedback.setProgressText(stage)
        self.feedback.setProgress(100.0 * done / max(total, 1))
        return not self.feedback.isCanceled()


class _Algorithm(QgsProcessingAlgorithm):
    """What the four share: a name, a group, the error translation."""

    name_ = display = help_ = ""

    def name(self):
        return self.name_

    def displayName(self):  # noqa: N802
        return self.display

    def group(self):
        return "Segmentation"

    def groupId(self):  # noqa: N802
        return "segmentation"

    def shortHelpString(self):  # noqa: N802
        return self.help_

    def createInstance(self):  # noqa: N802
        return type(self)()

    def _bands(self, parameters, context):
        bands = self.parameterAsInts(parameters, "BANDS", context)
        return ",".join(str(b) for b in bands) if bands else None

    def _path(self, parameters, name, context):
        layer = self.parameterAsRasterLayer(parameters, name, context)
        return None if layer is None else layer.source()

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        _kavu()
        from kavu.errors import ArgumentError, Cancelled, FileError

        try:
            return self.run(parameters, context, _Feedback(feedback))
        except Cancelled:
            raise QgsProcessingException("cancelled; nothing was written") from None
        except (ArgumentError, FileError) as e:
            raise QgsProcessingException(str(e)) from None


def _input(algorithm, what="INPUT", description="Input raster"):
    algorithm.addParameter(QgsProcessingParameterRasterLayer(what, description))


def _bands(algorithm, parent="INPUT"):
    algorithm.addParameter(
        QgsProcessingParameterBand(
            "BANDS", "Bands (none chosen: all)", None, parent, optional=True, allowMultiple=True
        )
    )


class SegmentAlgorithm(_Algorithm):
    name_, display = "segment", "Segment raster"
    help_ = (
        "Segments a raster into regions: a watershed of its gradient, then neighbouring "
        "regions merged cheapest first while a merge costs less than lambda. Give the number "
        "of regions wanted, or lambda itself (neither: a tenth of the summed band variances). "
        "Writes a uint32 label raster with the input's georeferencing, 0 where no region."
    )

    def initAlgorithm(self, config=None):  # noqa: N802
        try:
            from kavu.tiled.run import DEFAULT_MIN_SIZE, DEFAULT_TILE
        except ImportError:  # said when the algorithm runs
            DEFAULT_MIN_SIZE, DEFAULT_TILE = 10, 1024

        _input(self)
        _bands(self)
        number = QgsProcessingParameterNumber
        self.addParameter(
            number("REGIONS", "Number of regions (0: use lambda)", number.Integer, 0, True, 0)
        )
        self.addParameter(
            number("LAMBDA", "Lambda (merge cost threshold)", number.Double, None, True, 0)
        )
        self.addParameter(
            number(
                "MIN_SIZE", "Smallest region (pixels)", number.Integer, DEFAULT_MIN_SIZE, False, 0
            )
        )
        self.addParameter(
            number("TILE", "Tile size (pixels)", number.Integer, DEFAULT_TILE, False, 8)
        )
        self.addParameter(
            QgsProcessingParameterEnum(
                "CONNECTIVITY", "Connectivity", [str(c) for c in CONNECTIVITIES], defaultValue=0
            )
        )
        self.addParameter(
            QgsProcessingParameterRasterLayer(
                "MASK", "Mask (non-zero pixels take part; none: the input's nodata)", optional=True
            )
        )
        self.addParameter(
            QgsProcessingParameterBoolean("COG", "Cloud-Optimised GeoTIFF", defaultValue=True)
        )
        self.addParameter(QgsProcessingParameterRasterDestination("OUTPUT", "Labels"))

    def run(self, parameters, context, feedback):
        from kavu.raster.segment import segment_raster
        from kavu.tiled.run import SegmentOptions

        regions = self.parameterAsInt(parameters, "REGIONS", context) or None
        given = parameters.get("LAMBDA")
        lam = None if given is None else self.parameterAsDouble(parameters, "LAMBDA", context)
        if regions is not None and lam is not None:
            raise QgsProcessingException("give the number of regions or lambda, not both")
        out = self.parameterAsOutputLayer(parameters, "OUTPUT", context)
        summary = segment_raster(
            self._path(parameters, "INPUT", context),
            out,
            SegmentOptions(
                lambda_threshold=lam,
                regions=regions,
                min_size=self.parameterAsInt(parameters, "MIN_SIZE", context),
                tile=self.parameterAsInt(parameters, "TILE", context),
                connectivity=CONNECTIVITIES[
                    self.parameterAsEnum(parameters, "CONNECTIVITY", context)
                ],
            ),
            self._bands(parameters, context),
            self._path(parameters, "MASK", context) or "auto",
            feedback.factory,
            cog=self.parameterAsBoolean(parameters, "COG", context),
        )
        feedback.feedback.pushInfo(
            f"{summary['regions']} regions, lambda {summary['lambda_threshold']:.7g}"
        )
        return {"OUTPUT": out}


class ScheduleAlgorithm(_Algorithm):
    name_, display = "schedule", "Merge schedule (choose a level)"
    help_ = (
        "The complete merge schedule of a raster held in memory: every merge and its cost, "
        "and the plot of regions left against lambda, to choose the number of regions or "
        "lambda for Segment raster."
    )

    def initAlgorithm(self, config=None):  # noqa: N802
        _input(self)
        _bands(self)
        self.addParameter(
            QgsProcessingParameterFileDestination(
                "OUTPUT", "Schedule", "Schedule (*.npz)", defaultValue=None
            )
        )
        self.addParameter(
            QgsProcessingParameterFileDestination("PLOT", "Plot", "HTML files (*.html)")
        )

    def run(self, parameters, context, feedback):
        from kavu.raster.schedule import make_schedule, schedule_paths

        npz, png = schedule_paths(
            self._path(parameters, "INPUT", context),
            self.parameterAsFileOutput(parameters, "OUTPUT", context),
        )
        merges = make_schedule(
            self._path(parameters, "INPUT", context),
            npz,
            png,
            bands=self._bands(parameters, context),
            progress=feedback.factory,
        )
        html = self.parameterAsFileOutput(parameters, "PLOT", context)
        with open(html, "w", encoding="utf-8") as f:
            f.write(
                f"<html><body><p>{merges} merges: {npz}</p>"
                f'<img src="file://{png}" alt="regions against lambda"></body></html>\n'
            )
        return {"OUTPUT": npz, "PLOT": html, "PNG": png}


class PolygonsAlgorithm(_Algorithm):
    name_, display = "polygons", "Regions to polygons with attributes"
    help_ = (
        "One multipolygon feature per label of a label raster, in its coordinate reference "
        "system, with the pixels, area, perimeter, compactness (4πA/P²), number of neighbouring "
        "regions and each band's mean, standard deviation, minimum and maximum."
    )

    def initAlgorithm(self, config=None):  # noqa: N802
        _input(self)
        _input(self, "LABELS", "Label raster")
        _bands(self)
        self.addParameter(
            QgsProcessingParameterEnum(
                "CONNECTIVITY",
                "Connectivity of the segmentation",
                [str(c) for c in CONNECTIVITIES],
                defaultValue=0,
            )
        )
        self.addParameter(QgsProcessingParameterString("LAYER", "Layer name", "regions"))
        self.addParameter(
            QgsProcessingParameterVectorDestination(
                "OUTPUT", "Polygons", QgsProcessing.TypeVectorPolygon
            )
        )

    def run(self, parameters, context, feedback):
        from kavu.raster.polygons import write_polygons

        out = self.parameterAsOutputLayer(parameters, "OUTPUT", context)
        if os.path.splitext(out)[1].lower() != ".gpkg":
            raise QgsProcessingException(f"{out}: the polygons are written as a GeoPackage (.gpkg)")
        n = write_polygons(
            self._path(parameters, "INPUT", context),
            self._path(parameters, "LABELS", context),
            out,
            bands=self._bands(parameters, context),
            connectivity=CONNECTIVITIES[self.parameterAsEnum(parameters, "CONNECTIVITY", context)],
            layer=self.parameterAsString(parameters, "LAYER", context),
            progress=feedback.callback,
        )
        feedback.feedback.pushInfo(f"{n} features")
        return {"OUTPUT": out}


class StatsAlgorithm(_Algorithm):
    name_, display = "stats", "Region statistics (CSV)"
    help_ = "Every region's area in pixels and band means, as `kavu stats` writes them."

    def initAlgorithm(self, config=None):  # noqa: N802
        _input(self)
        _input(self, "LABELS", "Label raster")
        _bands(self)
        self.addParameter(
            QgsProcessingParameterFileDestination("OUTPUT", "Statistics", "CSV files (*.csv)")
        )

    def run(self, parameters, context, feedback):
        from kavu.raster.overlay import write_stats

        out = self.parameterAsFileOutput(parameters, "OUTPUT", context)
        write_stats(
            self._path(parameters, "INPUT", context),
            self._path(parameters, "LABELS", context),
            out,
            bands=self._bands(parameters, context),
        )
        return {"OUTPUT": out}
