// The output label image of a tile: every surviving region gets its output
// label, and every label of the region hash learns which label and which
// surviving region now hold it (`new_lbl_of_slot`, `owner_of_slot`).
#pragma once

#include "containers/merge_lbl_list.h"
#include "containers/open_hash.h"

#include "containers/status.h"

#include <cstdint>

// Writes the output label of every pixel (with a MASK only the pixels whose
// byte is non-zero; the others are left as they are). `owner_of_slot` is handed
// out as soon as it exists, also on failure; the caller frees it.
kavu_status create_output_lbl_image(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                    int32_t n_positions, open_hash *region_hash,
                                    merge_lbl_list *lists, uint32_t *out_lbl, uint32_t start_lbl,
                                    uint32_t *last_lbl, int32_t **owner_of_slot,
                                    int32_t ml_n_positions, open_hash *ml_curr_hash,
                                    const uint8_t *mask);

// Surviving regions numbered START_LBL, START_LBL + 1, ... in position order;
// `last_lbl` is the last one (START_LBL - 1 when none survives).
kavu_status reassign_region_label(int32_t n_positions, merge_lbl_list *lists,
                                  open_hash *region_hash, uint32_t *new_lbl_of_slot,
                                  int32_t *owner_of_slot, uint32_t start_lbl, uint32_t *last_lbl);

// As above, except that a region whose list starts with a label of
// `ml_curr_hash` keeps that label and uses no new one.
kavu_status tile_reassign_region_label(int32_t n_positions, merge_lbl_list *lists,
                                       open_hash *region_hash, uint32_t *new_lbl_of_slot,
                                       int32_t *owner_of_slot, uint32_t start_lbl,
                                       uint32_t *last_lbl, open_hash *ml_curr_hash);
