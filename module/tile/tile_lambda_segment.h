// The worker of KAVU_TILE_LAMBDA_SEGMENT: full lambda-schedule merging of one
// image or tile up to a cost threshold, optionally against the shared regions
// of earlier tiles (share files and margins).
#pragma once

#include "containers/aptree.h"

#include <cstdint>

// The labels a tile numbers from `start_lbl` (renumbered input labels, output
// labels) would reach the hash tables' reserved words (open_hash_reserved).
inline constexpr int32_t TILE_LABELS_EXHAUSTED = -5;

// Statuses: 0; -1 memory; -2 a hash insertion failed; -3 a label missing from a
// table; -4 a share file that does not open, position, read or write, or whose
// index lists a reserved word; TILE_LABELS_EXHAUSTED.
// `in_lbl` is renumbered in place when the share index lists regions. Output
// pixels outside `mask` are not written. File names: both or neither.
int32_t tile_lambda_segment(const float *image, uint32_t *in_lbl, const uint32_t *margin_vlbl,
                            const uint32_t *margin_hlbl, int32_t ncols, int32_t nrows, int32_t nbands,
                            uint32_t start_lbl, uint32_t *last_lbl, uint32_t *out_lbl, const char *index_name,
                            const char *info_name, aptree *merge_pair_tree, const uint8_t *mask,
                            float threshold);
