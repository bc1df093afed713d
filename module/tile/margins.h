// How a tile is tied to the tiles merged before it: its labels renumbered with
// the border labels of earlier tiles carried in, the continued regions' stored
// statistics preset, and the cross-border pairs that still need merging.
//
// A margin is two lines of n labels (element (i, j) at i + n * j): line 0 holds
// input labels along the tile's border, line 1 the output labels an earlier
// tile gave those border positions. Label 0 means "none" in both lines.
#pragma once

#include "containers/aptree.h"
#include "containers/open_hash.h"
#include "lambda/merge_step.h"

#include "containers/status.h"

#include <cstdint>
#include <cstdio>

// First-line labels of both margins (vertical first; the first position met
// wins), each with the second-line label of that position in `margin_lbl_map`.
kavu_status build_margin_lbl_hash(const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                                  int32_t ncols, int32_t nrows, int32_t *n_positions,
                                  open_hash *margin_lbl_hash, uint32_t **margin_lbl_map);

// The non-zero second-line labels of both margins: the shared regions this tile continues.
kavu_status tile_init_ml_curr_hash(int32_t ncols, int32_t nrows, const uint32_t *margin_vlbl,
                                   const uint32_t *margin_hlbl, int32_t *n_positions,
                                   open_hash *ml_curr_hash);

// Renumbers the input labels in place (first-line labels become their
// second-line labels, the others START_LBL, START_LBL + 1, ... in raster order)
// and builds the region hash of the renumbered labels plus every second-line
// label. `n_regions` counts the renumbered labels only.
kavu_status tile_init_region_hash(uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                  const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                                  uint32_t start_lbl, open_hash *region_hash, int32_t *n_positions,
                                  int32_t *n_regions, int32_t *ml_n_positions,
                                  open_hash *ml_curr_hash, const uint8_t *mask);

// Presets area and band sums of every continued region from its share record.
// -4 when the info file cannot be positioned or is shorter than the record.
kavu_status tile_init_margin_region_set(open_hash *share_lbl_hash, int32_t share_n_positions,
                                        const int32_t *share_rec_map, int32_t nbands,
                                        int32_t ml_n_positions, open_hash *ml_curr_hash,
                                        region_rec *region_set, open_hash *region_hash,
                                        int32_t n_positions, FILE *info_file);

// The merge tree and the vote repair of the tile case: the continued regions
// play no part in either, so they are the shared operations, which the merge
// run calls itself.
inline kavu_status tile_init_merge_tree(merge_run *run) { return t_init_merge_tree(run); }
inline kavu_status tile_merge_list_update(merge_run *run, int32_t a, int32_t z) {
  return t_merge_list_update(run, a, z);
}

// Records every border position where an earlier tile's output label and this
// tile's output label denote one region but differ, larger label first.
kavu_status tile_update_merge(const uint32_t *out_lbl, int32_t ncols, int32_t nrows,
                              const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                              const uint32_t *first_col_lbl, const uint32_t *first_row_lbl,
                              aptree *merge_pair_tree);
