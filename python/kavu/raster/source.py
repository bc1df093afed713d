"""A raster on disk as a source of the tiled segmentation (see
kavu.tiled.array_source for what a source gives), read through rasterio one
window at a time."""

from .io import band_offsets, read_bands


class RasterSource:
    """The raster's values less each band's offset (kavu.raster.io.band_offsets),
    the same for every window."""

    def __init__(self, ds, bands, mask):
        self.ds, self.band_list, self.valid = ds, bands, mask
        self.height, self.width, self.nbands = ds.height, ds.width, len(bands)
        self.offsets = band_offsets(ds, bands)

    def bands(self, y0, y1, x0, x1):
        return read_bands(self.ds, self.band_list, y0, y1, x0, x1, self.offsets)

    def mask(self, y0, y1, x0, x1, outside="constant"):
        return None if self.valid is None else self.valid.read(y0, y1, x0, x1, outside=outside)
