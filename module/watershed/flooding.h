// The flooding workers: immersion watershed of a 16-bit level image into basins
// separated by one-pixel lines, writing 32-bit (`_long`) or 16-bit (`_int`)
// labels. Plain buffers only; the queue is their one host call (scratch).
#pragma once

#include "containers/aptree.h"

#include <cstdint>

// Arguments in the order of the routine's call. `mask`, `top_labels` and
// `left_labels` are read only when their presence flag is 1; no margin label
// may narrow to a marker (`is_marker`, labels.h). `labels`, `sorted` and
// `wshed_mask` hold nx * ny entries; `wshed_mask` must be all 0.
// Returns 0, or -1 when the pair tree refuses an insertion or memory cannot be
// had; the outputs are then incomplete.
int32_t kavu_watershed_long(const uint16_t *levels, const float *image, int64_t nx, int64_t ny,
                            int64_t nb, uint8_t mask_present, const uint8_t *mask,
                            uint32_t start_label, uint8_t top_present, const uint32_t *top_labels,
                            uint8_t left_present, const uint32_t *left_labels,
                            int32_t connectivity, int32_t merge_bd, uint32_t *labels,
                            int64_t *sorted, aptree *pairs, uint32_t *label_count,
                            uint8_t *wshed_mask);

int32_t kavu_watershed_int(const uint16_t *levels, const float *image, int64_t nx, int64_t ny,
                           int64_t nb, uint8_t mask_present, const uint8_t *mask,
                           uint32_t start_label, uint8_t top_present, const uint32_t *top_labels,
                           uint8_t left_present, const uint32_t *left_labels, int32_t connectivity,
                           int32_t merge_bd, uint16_t *labels, int64_t *sorted, aptree *pairs,
                           uint32_t *label_count, uint8_t *wshed_mask);
