// The tile case's merge tree and vote repair: the continued regions they are
// handed take no part, so both are the shared operations.
#include "lambda/merge_tree.h"
#include "tile/margins.h"

int32_t tile_init_merge_tree(int32_t n_positions, int32_t n_pairs, merge_tree *tree, pair_rec *pair_set,
                             region_rec *region_set, int32_t *count, open_hash * /*region_hash*/,
                             open_hash * /*ml_curr_hash*/, int32_t /*ml_n_positions*/) {
  return t_init_merge_tree(n_positions, n_pairs, tree, pair_set, region_set, count);
}

int32_t tile_merge_list_update(int32_t a, int32_t z, merge_tree *tree, pair_rec *pair_set, region_rec *region_set,
                               int32_t *count, open_hash * /*ml_curr_hash*/, int32_t /*ml_n_positions*/,
                               open_hash * /*region_hash*/) {
  return t_merge_list_update(a, z, tree, pair_set, region_set, count);
}
