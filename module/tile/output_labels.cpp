// Output labels of a tile (see output_labels.h). The two numbering variants
// share one body; the tile variant differs only in letting continued regions
// keep the label an earlier tile gave them.
#include "tile/output_labels.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "tile/tile_lambda_segment.h"

#include <cstring>

namespace {

// `ml_curr_hash` null: the plain variant.
kavu_status assign_output_labels(int32_t n_positions, merge_lbl_list *lists, open_hash *region_hash,
                                 uint32_t *new_lbl_of_slot, int32_t *owner_of_slot,
                                 uint32_t start_lbl, uint32_t *last_lbl, open_hash *ml_curr_hash) {
  uint32_t next = start_lbl;
  *last_lbl = start_lbl;
  for (int32_t i = 0; i < n_positions; ++i) {
    const merge_lbl_node *node = lists[i].head;
    if (!node) continue;  // absorbed, or a position without a label
    uint32_t out = next;
    bool fresh = true;
    int32_t slot;
    // Only the first label decides: a tile region that absorbed a continued
    // region still takes a new label.
    if (ml_curr_hash && open_hash_lookup(ml_curr_hash, node->label, &slot) == 0) {
      out = node->label;
      fresh = false;
    } else if (open_hash_reserved(out)) {
      return TILE_LABELS_EXHAUSTED;  // also before the numbering wraps to 0, "no region"
    }
    for (; node; node = node->next) {
      if (open_hash_lookup(region_hash, node->label, &slot) != 0) return KAVU_KEY_NOT_FOUND;
      new_lbl_of_slot[slot] = out;
      owner_of_slot[slot] = i;
    }
    if (fresh) ++next;
  }
  if (ml_curr_hash)
    *last_lbl = next > start_lbl ? next - 1 : start_lbl;
  else
    *last_lbl = next - 1;  // START_LBL - 1 when no region survives, wrapping at 0
  return KAVU_OK;
}

}  // namespace

kavu_status reassign_region_label(int32_t n_positions, merge_lbl_list *lists,
                                  open_hash *region_hash, uint32_t *new_lbl_of_slot,
                                  int32_t *owner_of_slot, uint32_t start_lbl, uint32_t *last_lbl) {
  return assign_output_labels(n_positions, lists, region_hash, new_lbl_of_slot, owner_of_slot,
                              start_lbl, last_lbl, nullptr);
}

kavu_status tile_reassign_region_label(int32_t n_positions, merge_lbl_list *lists,
                                       open_hash *region_hash, uint32_t *new_lbl_of_slot,
                                       int32_t *owner_of_slot, uint32_t start_lbl,
                                       uint32_t *last_lbl, open_hash *ml_curr_hash) {
  return assign_output_labels(n_positions, lists, region_hash, new_lbl_of_slot, owner_of_slot,
                              start_lbl, last_lbl, ml_curr_hash);
}

kavu_status create_output_lbl_image(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                    int32_t n_positions, open_hash *region_hash,
                                    merge_lbl_list *lists, uint32_t *out_lbl, uint32_t start_lbl,
                                    uint32_t *last_lbl, int32_t **owner_of_slot,
                                    int32_t ml_n_positions, open_hash *ml_curr_hash,
                                    const uint8_t *mask) {
  // Starts as a copy of the slot words, so positions without a label keep the
  // empty marker; they are never read.
  auto *new_lbl_of_slot = kavu_alloc_array<uint32_t>(size_t(n_positions));
  if (!new_lbl_of_slot) return KAVU_NO_MEMORY;
  std::memcpy(new_lbl_of_slot, region_hash->slots, size_t(n_positions) * sizeof(uint32_t));
  *owner_of_slot = kavu_alloc_array<int32_t>(size_t(n_positions));
  if (!*owner_of_slot) {
    kavu_free(new_lbl_of_slot);
    return KAVU_NO_MEMORY;
  }
  kavu_status status =
      ml_n_positions != 0
          ? tile_reassign_region_label(n_positions, lists, region_hash, new_lbl_of_slot,
                                       *owner_of_slot, start_lbl, last_lbl, ml_curr_hash)
          : reassign_region_label(n_positions, lists, region_hash, new_lbl_of_slot, *owner_of_slot,
                                  start_lbl, last_lbl);

  // Runs of one label are common; the last lookup is reused while it lasts.
  const int64_t n_pixels = int64_t(ncols) * nrows;
  uint32_t run_label = 0;
  uint32_t run_value = 0;
  bool run_valid = false;
  for (int64_t i = 0; status == 0 && i < n_pixels; ++i) {
    if (mask && !mask[i]) continue;
    const uint32_t label = in_lbl[i];
    if (!run_valid || label != run_label) {
      int32_t slot;
      if (open_hash_lookup(region_hash, label, &slot) != 0) {
        status = KAVU_KEY_NOT_FOUND;
        break;
      }
      run_label = label;
      run_value = new_lbl_of_slot[slot];
      run_valid = true;
    }
    out_lbl[i] = run_value;
  }
  kavu_free(new_lbl_of_slot);
  return status;
}
