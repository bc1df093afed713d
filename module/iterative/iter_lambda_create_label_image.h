// The segmentation after the first merges of a schedule: replays label-map
// pairs on the initial label image and numbers the resulting regions from 0.
#pragma once

#include "containers/status.h"

#include <cstdint>

// Applies the first `n_pairs` pairs of `label_map` (element 2k absorbed label,
// 2k + 1 surviving label) and writes the new labels 0 ... n - 1 to `out_lbl`,
// given to surviving regions in ascending region-hash position; n goes to
// *n_regions. Pairs that the schedule could not have produced for this image
// are skipped: a label not in the image, a label already absorbed (its list
// moved away), a survivor already absorbed, or the same label twice.
// 0; -1 memory; -2 a label the region hash refused (also the two reserved slot
// words); -3 a label not found.
kavu_status iter_lambda_create_label_image(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                           const uint32_t *label_map, int32_t n_pairs,
                                           uint32_t *out_lbl, int32_t *n_regions);
