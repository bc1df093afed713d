// The label tables built from the margins: first-line labels with the
// second-line label they stand for, and the set of second-line labels.
#include "containers/allocation.h"
#include "tile/margins.h"
#include "containers/status.h"

namespace {

// Expected key count of a margin table: one per border position given.
int32_t margin_count_hint(const uint32_t *margin_vlbl, const uint32_t *margin_hlbl, int32_t ncols,
                          int32_t nrows) {
  return (margin_vlbl ? nrows : 0) + (margin_hlbl ? ncols : 0);
}

kavu_status init_table(open_hash *table, int32_t *n_positions) {
  const int32_t param = compute_hash_param(n_positions);
  return open_hash_init(table, *n_positions, param, h1_reg, h2_reg, match_reg) == 0
             ? KAVU_OK
             : KAVU_NO_MEMORY;
}

// Adds the first line of one margin of n positions; a label already present
// keeps the second-line label of its first position.
kavu_status add_first_line(const uint32_t *margin, int32_t n, open_hash *table, uint32_t *map) {
  if (!margin) return KAVU_OK;
  for (int32_t i = 0; i < n; ++i) {
    if (margin[i] == 0) continue;
    if (open_hash_reserved(margin[i])) return KAVU_HASH_INSERT_FAIL;
    int32_t pos;
    const int32_t res = open_hash_insert(table, margin[i], &pos);
    if (res == 0) map[pos] = margin[n + i];
    if (res == -1) return KAVU_HASH_INSERT_FAIL;
  }
  return KAVU_OK;
}

kavu_status add_second_line(const uint32_t *margin, int32_t n, open_hash *table) {
  if (!margin) return KAVU_OK;
  for (int32_t i = 0; i < n; ++i)
    if (margin[n + i] != 0 &&
        (open_hash_reserved(margin[n + i]) || insert_lbl_hash(table, margin[n + i]) != 0)) {
      open_hash_destroy(table);
      return KAVU_HASH_INSERT_FAIL;
    }
  return KAVU_OK;
}

}  // namespace

kavu_status build_margin_lbl_hash(const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                                  int32_t ncols, int32_t nrows, int32_t *n_positions,
                                  open_hash *margin_lbl_hash, uint32_t **margin_lbl_map) {
  *n_positions = margin_count_hint(margin_vlbl, margin_hlbl, ncols, nrows);
  if (init_table(margin_lbl_hash, n_positions) != 0) return KAVU_NO_MEMORY;
  uint32_t *map = kavu_alloc_array<uint32_t>(size_t(*n_positions));
  if (!map) {
    open_hash_destroy(margin_lbl_hash);
    return KAVU_NO_MEMORY;
  }
  for (int32_t i = 0; i < *n_positions; ++i) map[i] = 0xFFFFFFFFu;
  if (add_first_line(margin_vlbl, nrows, margin_lbl_hash, map) != 0 ||
      add_first_line(margin_hlbl, ncols, margin_lbl_hash, map) != 0) {
    kavu_free(map);
    open_hash_destroy(margin_lbl_hash);
    return KAVU_HASH_INSERT_FAIL;
  }
  *margin_lbl_map = map;
  return KAVU_OK;
}

kavu_status tile_init_ml_curr_hash(int32_t ncols, int32_t nrows, const uint32_t *margin_vlbl,
                                   const uint32_t *margin_hlbl, int32_t *n_positions,
                                   open_hash *ml_curr_hash) {
  int32_t positions = margin_count_hint(margin_vlbl, margin_hlbl, ncols, nrows);
  if (init_table(ml_curr_hash, &positions) != 0) return KAVU_NO_MEMORY;
  if (add_second_line(margin_vlbl, nrows, ml_curr_hash) != 0 ||
      add_second_line(margin_hlbl, ncols, ml_curr_hash) != 0)
    return KAVU_HASH_INSERT_FAIL;
  *n_positions = positions;
  return KAVU_OK;
}
