// The share files through which the tiles of one run hand the statistics of
// their border regions on: the index file (count, then one uint32 label per
// record) and the info file (per record an int32 area and nbands float32 means).
#pragma once

#include "containers/open_hash.h"

#include "containers/status.h"

#include <cstdint>
#include <cstdio>

struct region_rec;

// Byte offset of record r of the info file, and of label r of the index file.
// 64-bit, so an info file of 2 GiB or more stays addressable.
inline int64_t share_info_offset(int32_t r, int32_t nbands) {
  return int64_t(r) * (4 + 4 * int64_t(nbands));
}
inline int64_t share_index_offset(int32_t r) { return 4 + 4 * int64_t(r); }

// Reads the index file and builds the label lookup. `n_shared` stays as the
// caller set it (0) for an empty file; the table and `share_rec_map` are built,
// and `n_positions` set, only for a non-zero count. -4: positioning failed, or
// the file is shorter than its count says (or holds a negative count).
kavu_status tile_read_share_reginfo(FILE *index_file, int32_t *n_shared, open_hash *share_lbl_hash,
                                    int32_t *n_positions, int32_t **share_rec_map);

// Appends the regions that reach the tile's right column or bottom row and are
// not shared yet, then rewrites the count, then refreshes the records of the
// shared regions this tile continued (the labels of `ml_curr_hash`).
kavu_status tile_update_share_reginfo(const uint32_t *in_lbl, const uint32_t *out_lbl,
                                      int32_t ncols, int32_t nrows, int32_t nbands,
                                      open_hash *region_hash, const region_rec *region_set,
                                      const int32_t *owner_of_slot, FILE *index_file,
                                      FILE *info_file, int32_t *n_shared, open_hash *share_lbl_hash,
                                      int32_t share_n_positions, const int32_t *share_rec_map,
                                      open_hash *ml_curr_hash, int32_t ml_n_positions);

// Diagnostic listing of every record: label, area and the means times 1000.
void t_print_share_reginfo(FILE *index_file, FILE *info_file, int32_t nbands, FILE *out);
