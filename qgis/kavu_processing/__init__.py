"""The kavu segmentation as a QGIS Processing provider: the plugin adds the
provider when QGIS (or qgis_process) starts Processing."""


def classFactory(iface):  # noqa: N802 - the name QGIS calls
    from .plugin import KavuPlugin

    return KavuPlugin(iface)
