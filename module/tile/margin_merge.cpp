// Cross-border merge pairs: after the output labels exist, every border
// position where an earlier tile's label and this tile's label should denote
// one region but differ becomes a pair for the caller's final relabelling.
#include "tile/margins.h"
#include "containers/status.h"

#include <algorithm>

namespace {

// One margin of n positions; `pixel_of(i)` is the tile pixel beside position i.
template <typename PixelOf>
kavu_status record_pairs(const uint32_t *margin, int32_t n, const uint32_t *first_lbl,
                         const uint32_t *out_lbl, PixelOf pixel_of, aptree *merge_pair_tree) {
  if (!margin) return KAVU_OK;
  for (int32_t i = 0; i < n; ++i) {
    // Only where the border pixel carried the first-line label itself does the
    // earlier tile's region continue into it; label 0 is no region.
    if (margin[i] == 0 || margin[i] != first_lbl[i]) continue;
    const uint32_t m = margin[n + i];
    const uint32_t o = out_lbl[pixel_of(i)];
    if (m == o || m == 0 || o == 0) continue;
    const ap_pair key{int32_t(std::max(m, o)), int32_t(std::min(m, o)), 0};
    if (aptree_node_not_null(merge_pair_tree, aptree_exact_query(merge_pair_tree, key))) continue;
    if (!aptree_insert(merge_pair_tree, key)) return KAVU_NO_MEMORY;
  }
  return KAVU_OK;
}

}  // namespace

kavu_status tile_update_merge(const uint32_t *out_lbl, int32_t ncols, int32_t nrows,
                              const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                              const uint32_t *first_col_lbl, const uint32_t *first_row_lbl,
                              aptree *merge_pair_tree) {
  const kavu_status status = record_pairs(
      margin_vlbl, nrows, first_col_lbl, out_lbl, [ncols](int32_t y) { return int64_t(y) * ncols; },
      merge_pair_tree);
  if (status != 0) return status;
  return record_pairs(
      margin_hlbl, ncols, first_row_lbl, out_lbl, [](int32_t x) { return int64_t(x); },
      merge_pair_tree);
}
