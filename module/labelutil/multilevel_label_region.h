// Connected-component labelling of a multi-valued image: 4-connected pieces of
// equal value get labels 1, 2, ... in the raster order of their first pixel.
#pragma once

#include "containers/open_hash.h"

#include <cstdint>

// The equivalence table holds one entry per pixel plus entry 0, indexed by
// int32: images need fewer than 2^31 - 1 pixels.
inline constexpr int64_t multilevel_max_pixels = INT32_MAX - 1;

// Builds `table` from `count` pixel indices (repeats are harmless) and stores
// its number of positions in `*size`. Returns 0; -1 when the table cannot be
// set up; -2 when an index cannot be inserted (the table is then destroyed).
int32_t multilevel_init_hash(const int32_t *indices, int32_t count, open_hash *table,
                             int32_t *size);

// Labels the ncols x nrows image into `out` (every element written; excluded
// pixels 0) and stores the number of regions in `*n_regions`. Pixels whose index
// is among the `n_excluded` entries of `excluded` (null for none) are left out;
// entries outside 0 .. pixels - 1 exclude nothing. Returns 0; -1 memory
// exhausted; -2 an exclusion index could not be inserted. Unsigned values
// compare equal exactly when their uint32 conversions do, so 8- and 16-bit
// images are labelled as they are, without a converted copy.
int32_t multilevel_label_region(const uint32_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions);
int32_t multilevel_label_region(const uint16_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions);
int32_t multilevel_label_region(const uint8_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions);
