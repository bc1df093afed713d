// The worker of KAVU_TILE_LAMBDA_SEGMENT: full lambda-schedule merging of one
// image or tile up to a cost threshold, optionally against the shared regions
// of earlier tiles (share files and margins).
#pragma once

#include "containers/aptree.h"
#include "containers/status.h"

#include <cstdint>

// The labels a tile numbers from `start_lbl` (renumbered input labels, output
// labels) would reach the hash tables' reserved words (open_hash_reserved).
inline constexpr kavu_status TILE_LABELS_EXHAUSTED = static_cast<kavu_status>(-5);

// One tile's merging: what it merges, what it runs against and where it writes.
struct tile_request {
  const float *image;           // nbands planes of ncols x nrows
  uint32_t *in_lbl;             // renumbered in place when the share index lists regions
  const uint32_t *margin_vlbl;  // two lines of nrows labels, or null
  const uint32_t *margin_hlbl;  // two lines of ncols labels, or null
  int32_t ncols, nrows, nbands;
  const uint8_t *mask;     // null: every pixel takes part
  uint32_t start_lbl;      // the first label to hand out
  float threshold;         // merges go on while the cheapest cost is below it
  const char *index_name;  // the share files: both or neither
  const char *info_name;
  aptree *merge_pair_tree;  // gains the cross-border pairs
  uint32_t *out_lbl;        // pixels outside `mask` are not written
};

// Statuses: KAVU_OK; KAVU_NO_MEMORY; KAVU_HASH_INSERT_FAIL; KAVU_KEY_NOT_FOUND;
// KAVU_FILE_ERROR for a share file that does not open, position, read or
// write, or whose index lists a reserved word; TILE_LABELS_EXHAUSTED.
// *last_lbl: the last output label handed out.
kavu_status tile_lambda_segment(const tile_request &tile, uint32_t *last_lbl);
