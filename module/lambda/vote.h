// Elections and votes, shared by the merge tree's construction and the vote
// repair after a merge: a region elects its cheapest pair, and the second vote
// for a pair makes it mutually best, a merge candidate.
#pragma once

#include "containers/status.h"
#include "lambda/merge_run.h"

// The cheapest pair of `region` (lowest t, then lowest pair index) and its t
// in *cost; -1 for a region without neighbours (cost not written).
int32_t cheapest_pair(const region_rec &region, const pair_rec *pair_set, float *cost);

// An election made one pair at a time, in the order of the region's list: the
// first pair is taken as it is (`pair` -1 before it); a later one replaces it
// when cheaper, or as cheap with a lower index. A cost that is not a number
// never replaces the choice.
struct running_choice {
  int32_t pair;
  float cost;
};

inline void running_choice_offer(running_choice &choice, int32_t p, float c) {
  if (choice.cost > c || (c == choice.cost && choice.pair > p)) {
    choice.pair = p;
    choice.cost = c;
  }
}

inline kavu_status cast_vote(merge_run &run, int32_t p, float cost) {
  pair_rec &pair = run.pair_set[p];
  if (pair.b == 0) {
    pair.b = 1;
    return KAVU_OK;
  }
  pair.e = 1;
  return candidate_heap_push(&run.candidates, mg_key{cost, p});
}

// Region r's choice becomes its bestp, and it votes for it.
inline kavu_status take_choice(merge_run &run, int32_t r, int32_t best, float cost) {
  run.region_set[r].bestp = best;
  return best == -1 ? KAVU_OK : cast_vote(run, best, cost);
}

// Elects region r (again) and votes for its choice.
inline kavu_status elect(merge_run &run, int32_t r) {
  float cost;
  const int32_t best = cheapest_pair(run.region_set[r], run.pair_set, &cost);
  return take_choice(run, r, best, cost);
}
