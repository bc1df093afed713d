// Election of each region's cheapest pair and the merge tree of the pairs
// elected by both of their regions.
#include "lambda/merge_step.h"
#include "lambda/vote.h"

int32_t cheapest_pair(const region_rec &region, const pair_rec *pair_set, float *cost) {
  const nbr_entry *nbrs = region.nbrs;
  const int32_t n = region.n_nbrs;
  if (n == 0) return -1;
  running_choice choice{nbrs[0].pair, pair_set[nbrs[0].pair].t};
  constexpr int32_t ahead = 8;  // pair records are scattered: request them early
  for (int32_t j = 1; j < ahead && j < n; ++j) __builtin_prefetch(&pair_set[nbrs[j].pair]);
  for (int32_t j = 1; j < n; ++j) {
    if (j + ahead < n) __builtin_prefetch(&pair_set[nbrs[j + ahead].pair]);
    running_choice_offer(choice, nbrs[j].pair, pair_set[nbrs[j].pair].t);
  }
  *cost = choice.cost;
  return choice.pair;
}

int32_t t_get_best_index_rbtree(const region_rec *region, float *cost, const pair_rec *pair_set) {
  return cheapest_pair(*region, pair_set, cost);
}

kavu_status t_init_merge_tree(merge_run *run) {
  if (candidate_heap_init(&run->candidates, run->n_pairs, run->n_positions / 2 + 1) != 0)
    return KAVU_NO_MEMORY;
  for (int32_t p = 0; p < run->n_positions; ++p) {
    if (run->region_set[p].area != 0 && elect(*run, p) != 0) {
      t_free_merge_tree(&run->candidates);
      return KAVU_NO_MEMORY;
    }
  }
  return KAVU_OK;
}

void t_free_merge_tree(candidate_heap *tree) { candidate_heap_release(tree); }
