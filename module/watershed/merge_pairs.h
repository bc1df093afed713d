// Label pairs of the merge list in the pair tree: the larger label in `hash1`,
// the smaller in `hash2`, `blen` 0. Shared by the flooding workers (pairs of
// basins that touch at level 0) and the routine (the merge list handed in).
#pragma once

#include "containers/aptree.h"
#include "containers/status.h"

#include <cstdint>

// The tree key of a pair given in either order; labels compare unsigned, as
// the label values they are, and are then stored bit for bit.
inline ap_pair merge_pair_key(uint32_t a, uint32_t b) {
  return {static_cast<int32_t>(a > b ? a : b), static_cast<int32_t>(a > b ? b : a), 0};
}

// Adds the pair unless an equal one is there; -1 when the tree refuses.
inline kavu_status merge_pair_add_once(aptree *pairs, uint32_t a, uint32_t b) {
  const ap_pair key = merge_pair_key(a, b);
  if (aptree_node_not_null(pairs, aptree_exact_query(pairs, key))) return KAVU_OK;
  return aptree_insert(pairs, key) ? KAVU_OK : KAVU_NO_MEMORY;
}
