"""The tiled segmentation, numpy in and numpy out: tiles and their windows,
levels, flooding and merging a window, stitching, specks, the choice of
lambda and the run that ties them (kavu.tiled.run). No file formats here: a
source gives float32 bands and a mask, a label store keeps the labels."""
