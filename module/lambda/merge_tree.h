// The merge tree of mutually best pairs and the merge of one pair. Each region
// elects its cheapest pair (t, then pair index); a pair elected by both of its
// regions is in the merge tree, whose minimum is therefore the cheapest live pair.
#pragma once

#include "containers/merge_lbl_list.h"
#include "containers/pair_rec.h"
#include "lambda/candidate_heap.h"
#include "lambda/nbr_lists.h"
#include "lambda/region_set.h"

#include <cstdint>
#include <cstdio>

// Entries (cost = the pair's t when it entered, pair index), kept in an indexed
// heap: its minimum and the removal of a given pair's entry are all the merging
// asks of it. The owner keeps the entry count beside it; the operations below
// add to and subtract from that count.
using merge_tree = candidate_heap;

// Invariant between merges: every live region's bestp is its cheapest live
// pair, and a pair is in the merge tree (e = 1) exactly when both of its
// regions elected it (b = 1 when at least one did). A region elects one pair,
// so the tree never holds more entries than half the positions.

// The cheapest pair of a region's neighbour list and its t in *cost; -1 for a
// region without neighbours (cost not written).
int32_t t_get_best_index_rbtree(const region_rec *region, float *cost, const pair_rec *pair_set);

// Elects every region with a non-zero area and enters the pairs elected twice.
// The caller sets *count to 0 first. 0 or -1 (the tree has been released).
int32_t t_init_merge_tree(int32_t n_positions, int32_t n_pairs, merge_tree *tree,
                          pair_rec *pair_set, region_rec *region_set, int32_t *count);

// Recomputes s of every pair of region a with a's area `area_a`. (The merge
// step does this inside its walk over the merged neighbours.)
void t_traverse_set_nplist_wid(int32_t nbands, int32_t a, int32_t area_a, pair_rec *pair_set,
                               const region_rec *region_set);

// Hands the neighbours of the absorbed region z over to the survivor a (whose
// means and area are already the merged ones): a common neighbour's two pairs
// fold into a's, the others are re-pointed to a; then every pair of a has its
// final s and t. a's list becomes the merge of both; z's is given back to the
// store. 0 or -1.
int32_t t_region_merge_update(int32_t a, int32_t z, int32_t nbands, pair_rec *pair_set,
                              region_rec *region_set, nbr_store *store);

// Repairs the votes of a's neighbours and of a after a merge. 0 or -1.
int32_t t_merge_list_update(int32_t a, int32_t z, merge_tree *tree, pair_rec *pair_set,
                            region_rec *region_set, int32_t *count);

// a's merge label list gains z's labels; z's list is left empty.
void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl);

// The tree's minimum entry; the tree must not be empty.
inline mg_key t_merge_tree_minimum(const merge_tree *tree) { return tree->keys[0]; }

void t_free_merge_tree(merge_tree *tree);

// Diagnostic; no routine calls it.
void t_print_merge_tree(const merge_tree *tree, int32_t count, FILE *stream);

// The merge of one pair, the step both drivers run: pair k, the merge tree's
// minimum, leaves the tree; its r0 survives and absorbs r1. `scratch` holds
// nbands floats. Leaves to the driver what it records, `removed` of pair k and
// its region count. 0 or -1; after -1 the structures are partly updated and the
// driver releases them.
int32_t t_merge_pair(int32_t k, int32_t nbands, merge_tree *tree, int32_t *count,
                     pair_rec *pair_set, region_rec *region_set, merge_lbl_list *merge_lbl,
                     nbr_store *store, float *scratch);
