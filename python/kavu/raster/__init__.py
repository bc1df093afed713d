"""Rasters on disk through rasterio: reading bands and masks, writing label
GeoTIFFs safely, and the raster commands' work (segment, schedule, cut,
overlay, stats) on top of kavu.tiled."""
