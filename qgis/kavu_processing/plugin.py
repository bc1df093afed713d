"""The plugin's life: the provider is added to Processing's registry on
start and removed on unload."""

from qgis.core import QgsApplication


class KavuPlugin:
    def __init__(self, iface):
        self.iface = iface
        self.provider = None

    def initProcessing(self):  # noqa: N802 - called by QGIS
        from .provider import KavuProvider

        if self.provider is not None:  # the desktop calls both this and initGui
            return
        self.provider = KavuProvider()
        QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):  # noqa: N802
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
