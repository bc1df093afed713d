// The region hash of a label image: every distinct label gets the slot
// position that indexes all per-region arrays of the merging core.
#include "containers/id_arrays.h"
#include "lambda/region_set.h"
#include "containers/status.h"

namespace {

// Appends the label of pixel i when the mask (if any) lets it take part.
template <bool Masked>
kavu_status collect(lbl_ids *list, const uint32_t *in_lbl, const uint8_t *mask, int32_t i) {
  if (Masked && mask[i] == 0) return KAVU_OK;
  return as_status(add_lbl_id(list, in_lbl[i]));
}

// Appends a label where it differs from both its left and its upper neighbour
// (only one of them on the first row and column). The first pixel of each
// label in row order qualifies, so without a mask every distinct label is
// appended; neighbours are compared whatever their own mask byte.
template <bool Masked>
kavu_status collect_labels(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                           const uint8_t *mask, lbl_ids *list) {
  if (ncols <= 0 || nrows <= 0) return KAVU_OK;
  if (collect<Masked>(list, in_lbl, mask, 0) != 0) return KAVU_NO_MEMORY;
  for (int32_t c = 1; c < ncols; ++c)
    if (in_lbl[c] != in_lbl[c - 1] && collect<Masked>(list, in_lbl, mask, c) != 0)
      return KAVU_NO_MEMORY;
  for (int32_t r = 1; r < nrows; ++r) {
    const int32_t row = r * ncols;
    if (in_lbl[row] != in_lbl[row - ncols] && collect<Masked>(list, in_lbl, mask, row) != 0)
      return KAVU_NO_MEMORY;
    for (int32_t i = row + 1; i < row + ncols; ++i) {
      const uint32_t l = in_lbl[i];
      if (l != in_lbl[i - 1] && l != in_lbl[i - ncols] &&
          collect<Masked>(list, in_lbl, mask, i) != 0)
        return KAVU_NO_MEMORY;
    }
  }
  return KAVU_OK;
}

}  // namespace

kavu_status t_init_region_hash(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                               open_hash *region_hash, int32_t *n_positions, int32_t *n_regions,
                               const uint8_t *mask) {
  lbl_ids *list = nullptr;
  kavu_status status = as_status(init_lbl_ids(&list, 100000));
  if (status != 0) {
    free_lbl_ids(list);
    return status;
  }
  status = mask ? collect_labels<true>(in_lbl, ncols, nrows, mask, list)
                : collect_labels<false>(in_lbl, ncols, nrows, mask, list);
  if (status != 0) {
    free_lbl_ids(list);
    return status;
  }

  // Sized from the appended labels, repeats included.
  int32_t size = list->count;
  const int32_t param = compute_hash_param(&size);
  if (open_hash_init(region_hash, size, param, h1_reg, h2_reg, match_reg) != 0) {
    free_lbl_ids(list);
    return KAVU_NO_MEMORY;
  }
  for (int32_t k = 0; k < list->count; ++k) {
    const uint32_t label = list->ids[k];
    // A reserved word is refused like any other failed insertion.
    if (open_hash_reserved(label) || insert_lbl_hash(region_hash, label) != 0) {
      free_lbl_ids(list);
      open_hash_destroy(region_hash);
      return KAVU_HASH_INSERT_FAIL;
    }
  }
  *n_positions = region_hash->n_positions;
  *n_regions = region_hash->n_stored;
  free_lbl_ids(list);
  return KAVU_OK;
}
