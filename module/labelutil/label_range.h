// The largest value of a label image, for routines whose tables are indexed
// by label.
#pragma once

#include <cstdint>

// Compared as unsigned; 0 for an image without elements.
uint32_t largest_label(const uint32_t *labels, int64_t n);
