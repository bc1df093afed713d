"""The GeoPackage layer's name: checked before any work, and light to import,
since the command line's parser names the default in its help."""

import re

from ..errors import OptionError

# A table name SQL takes as it is, as QGIS and ogr2ogr show it.
LAYER_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]{0,62}")
DEFAULT_LAYER = "regions"


def check_layer_name(layer):
    if not LAYER_NAME.fullmatch(layer):
        raise OptionError(
            "layer",
            layer,
            "a layer name is letters, digits and underscores (at most 63), not starting "
            "with a digit",
            repr(layer),
        )
