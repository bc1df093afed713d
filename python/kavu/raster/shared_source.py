"""A raster every worker of a cluster opens for itself (a shared file
system, as `kavu batch` assumes): what to open, small enough to go with every
task, and the pixels a task needs read from it."""

import os

from ..tiled.cluster import cached
from .io import gdal_env, make_mask, open_raster, parse_bands
from .source import RasterSource


class SharedRaster:
    """The path, bands ("1,2,3" or None) and mask (auto, none, nodata or a mask
    raster's path) of `kavu segment`, as the client checked them."""

    def __init__(self, path, bands, mask):
        self.path, self.bands = os.path.abspath(path), bands
        self.mask = mask if mask in ("auto", "none", "nodata") else os.path.abspath(mask)

    def _open(self):
        from ..binding.checks import ignore_layout_hints

        ignore_layout_hints()
        ds = open_raster(self.path)
        chosen = parse_bands(self.bands, ds)
        return RasterSource(ds, chosen, make_mask(self.mask, ds, chosen))

    def read(self, function, tile):
        """function(the raster as a RasterSource, tile), such as
        kavu.tiled.window.read_window, on whichever machine this runs."""
        st = os.stat(self.path)  # a file written anew is opened anew
        key = (self.path, st.st_mtime_ns, st.st_size, self.bands, self.mask)
        with gdal_env():
            return function(cached(key, self._open), tile)
