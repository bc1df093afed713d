"""The provider that holds the kavu algorithms in the Processing toolbox."""

from qgis.core import QgsProcessingProvider

from .algorithms import PolygonsAlgorithm, ScheduleAlgorithm, SegmentAlgorithm, StatsAlgorithm


class KavuProvider(QgsProcessingProvider):
    def id(self):
        return "kavu"

    def name(self):
        return "kavu segmentation"

    def longName(self):  # noqa: N802
        return "kavu segmentation: watershed and lambda-schedule merging"

    def defaultVectorFileExtension(self, has_geometry=True):  # noqa: N802
        return "gpkg"

    def defaultRasterFileFormat(self):  # noqa: N802
        return "GTiff"

    def loadAlgorithms(self):  # noqa: N802
        for algorithm in (SegmentAlgorithm, ScheduleAlgorithm, PolygonsAlgorithm, StatsAlgorithm):
            self.addAlgorithm(algorithm())
