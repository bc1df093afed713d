// Elections and votes, shared by the merge tree's construction and the vote
// repair after a merge: a region elects its cheapest pair, and the second vote
// for a pair makes it mutually best, a merge candidate.
#pragma once

#include "containers/status.h"
#include "lambda/merge_run.h"

// The cheapest pair of `region` (lowest t, then lowest pair index) and its t
// in *cost; -1 for a region without neighbours (cost not written).
int32_t cheapest_pair(const region_rec &region, const pair_rec *pair_set, float *cost);

inline kavu_status cast_vote(merge_run &run, int32_t p, float cost) {
  pair_rec &pair = run.pair_set[p];
  if (pair.b == 0) {
    pair.b = 1;
    return KAVU_OK;
  }
  pair.e = 1;
  return candidate_heap_push(&run.candidates, mg_key{cost, p});
}

// Elects region r (again) and votes for its choice.
inline kavu_status elect(merge_run &run, int32_t r) {
  float cost;
  const int32_t best = cheapest_pair(run.region_set[r], run.pair_set, &cost);
  run.region_set[r].bestp = best;
  return best == -1 ? KAVU_OK : cast_vote(run, best, cost);
}
