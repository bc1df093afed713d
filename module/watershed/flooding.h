// The flooding workers: immersion watershed of a 16-bit level image into basins
// separated by one-pixel lines, writing 32-bit (`_long`) or 16-bit (`_int`)
// labels. Plain buffers only; the queue is their one host call (scratch).
#pragma once

#include "containers/aptree.h"
#include "containers/status.h"

#include <cstdint>

// What a flooding worker reads and the scratch and outputs beside its labels.
// No margin label may narrow to a marker (`is_marker`, labels.h).
struct flooding_request {
  const uint16_t *levels;  // nx * ny levels
  const float *image;      // nb planes of nx * ny, for the boundary pass
  int64_t nx, ny, nb;
  const uint8_t *mask;          // null: every pixel takes part
  uint32_t start_label;         // labels are numbered from start_label + 1
  const uint32_t *top_labels;   // at least nx labels for row 0, or null
  const uint32_t *left_labels;  // at least ny labels for column 0, or null
  int32_t connectivity;         // 4 or 8
  bool merge_boundaries;        // dissolve the lines into the nearest basin
  int64_t *sorted;              // scratch of nx * ny entries
  aptree *pairs;                // gains the pairs of basins that touch at level 0
  uint8_t *wshed_mask;          // nx * ny, all 0 on entry: 255 on line pixels
};

// Fills `labels` (nx * ny) and, on success, *label_count (the start label plus
// the basins created). KAVU_NO_MEMORY when the pair tree refuses an insertion
// or the queue cannot grow; the outputs are then incomplete.
kavu_status kavu_watershed_long(const flooding_request &in, uint32_t *labels,
                                uint32_t *label_count);
kavu_status kavu_watershed_int(const flooding_request &in, uint16_t *labels, uint32_t *label_count);
