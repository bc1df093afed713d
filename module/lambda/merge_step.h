// The merge tree of mutually best pairs and the merge of one pair. Each region
// elects its cheapest pair (t, then pair index); a pair elected by both of its
// regions is a merge candidate, and the cheapest candidate is the cheapest
// live pair. The run's candidate heap holds the candidates (its size is their
// count) under the cost each had when it entered.
#pragma once

#include "containers/merge_lbl_list.h"
#include "containers/status.h"
#include "lambda/merge_run.h"

#include <cstdint>
#include <cstdio>

// Invariant between merges: every live region's bestp is its cheapest live
// pair, and a pair is a candidate (e = 1) exactly when both of its regions
// elected it (b = 1 when at least one did). A region elects one pair, so
// there are never more candidates than half the positions.

// Elects every region with a non-zero area and makes the pairs elected twice
// candidates. On failure the heap has been released.
kavu_status t_init_merge_tree(merge_run *run);

// The merge of one pair, the step both drivers run: pair k, the cheapest
// candidate, leaves the heap; its r0 survives and absorbs r1. One walk over
// the two neighbour lists hands the absorbed region's neighbours over, costs
// every pair of the survivor and repairs each neighbour's vote. Leaves to the
// driver what it records, `removed` of pair k and its region count. After
// KAVU_NO_MEMORY the structures are partly updated and the driver releases them.
kavu_status t_merge_pair(merge_run *run, int32_t k);

// a's merge label list gains z's labels; z's list is left empty.
void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl);

void t_free_merge_tree(candidate_heap *tree);

// Diagnostic; no routine calls it.
void t_print_merge_tree(const candidate_heap *tree, FILE *stream);

// The steps of the merge one at a time, as named operations. t_merge_pair
// makes them in one walk; each of these makes its own part alone.

// The cheapest pair of a region's neighbour list and its t in *cost; -1 for a
// region without neighbours (cost not written).
int32_t t_get_best_index_rbtree(const region_rec *region, float *cost, const pair_rec *pair_set);
// Recomputes s of every pair of region a with a's area `area_a`.
void t_traverse_set_nplist_wid(merge_run *run, int32_t a, int32_t area_a);
// Hands the neighbours of the absorbed z over to the survivor a (whose means
// and area are already the merged ones): a common neighbour's two pairs fold
// into a's, the others are re-pointed to a; then every pair of a has its final
// s and t. a's list becomes the merge of both; z's is given back to the store.
kavu_status t_region_merge_update(merge_run *run, int32_t a, int32_t z);
// Repairs the votes of a's neighbours and of a after a merge.
kavu_status t_merge_list_update(merge_run *run, int32_t a, int32_t z);
