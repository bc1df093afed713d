// Boundary image of a label image: a pixel is marked when its label differs
// from its right or its lower neighbour.
#pragma once

#include <cstdint>

// Marks 255 in `out` (which must be zeroed, ncols * nrows bytes) at the left
// pixel of every differing horizontal pair and the upper pixel of every
// differing vertical pair, and adds the number of differing pairs to `*count`.
// Returns 0.
int32_t create_bound_from_label(const uint32_t *labels, int32_t ncols, int32_t nrows, uint8_t *out,
                                int32_t *count);
