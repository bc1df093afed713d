// Casting a vote for a pair, shared by the merge tree's construction and the
// vote repair after a merge: the second vote makes the pair mutually best.
#pragma once

#include "containers/status.h"
#include "lambda/merge_tree.h"

inline int32_t t_cast_vote(int32_t p, float cost, merge_tree *tree, pair_rec *pair_set,
                           int32_t *count) {
  pair_rec &pair = pair_set[p];
  if (pair.b == 0) {
    pair.b = 1;
    return KAVU_OK;
  }
  pair.e = 1;
  if (candidate_heap_push(tree, mg_key{cost, p}) != 0) return KAVU_NO_MEMORY;
  *count += 1;
  return KAVU_OK;
}
