// The merge tree of mutually best pairs and the merge of one pair. Each region
// elects its cheapest pair (t, then pair index); a pair elected by both of its
// regions is in the merge tree, whose minimum is therefore the cheapest live pair.
#pragma once

#include "containers/id_arrays.h"
#include "containers/merge_lbl_list.h"
#include "containers/mgtree.h"
#include "containers/nptree.h"
#include "containers/pair_rec.h"
#include "lambda/region_set.h"

#include <cstdint>
#include <cstdio>

// Entries (cost = the pair's t, pair index). The owner keeps the entry count
// beside it; the operations below add to and subtract from that count.
using merge_tree = mgtree;

// Invariant between merges: every live region's bestp is its cheapest live
// pair, and a pair is in the merge tree (e = 1) exactly when both of its
// regions elected it (b = 1 when at least one did).

// The cheapest pair of a neighbour tree and its t in *cost; -1 for an empty
// tree (cost not written).
int32_t t_get_best_index_rbtree(const nptree *tree, float *cost, const pair_rec *pair_set);

// Elects every region with a non-zero area and enters the pairs elected twice.
// The caller sets *count to 0 first. 0 or -1 (the tree has been destroyed).
int32_t t_init_merge_tree(int32_t n_positions, merge_tree **tree, pair_rec *pair_set,
                          region_rec *region_set, int32_t *count);

// Recomputes s of every pair in a's neighbour tree with a's area `area_a`.
int32_t t_traverse_set_nplist_wid(const nptree *tree, int32_t nbands, int32_t a, int32_t area_a,
                                  pair_rec *pair_set, const region_rec *region_set, nbr_ids **w1,
                                  nbr_ids **w2);

// Hands the neighbours of the absorbed region z over to the survivor a: a
// common neighbour's two pairs fold into a's, the others are re-pointed to a.
int32_t t_region_merge_update(int32_t a, int32_t z, int32_t nbands, pair_rec *pair_set,
                              region_rec *region_set, nbr_ids **w1, nbr_ids **w2, nbr_ids **w3,
                              nbr_ids **w4);

// Repairs the votes of a's neighbours and of a after a merge. `nbands` is unused.
int32_t t_merge_list_update(int32_t a, int32_t z, int32_t nbands, merge_tree *tree,
                            pair_rec *pair_set, region_rec *region_set, nbr_ids **w1,
                            nbr_ids **w2, int32_t *count);

// a's merge label list gains z's labels; z's list is left empty.
void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl);

void t_free_merge_tree(merge_tree *tree);

// Diagnostic; no routine calls it.
void t_print_merge_tree(const merge_tree *tree, int32_t count, FILE *stream);

// Working arrays of the merge step, created once per driver call: W1 ... W4
// (nbr_ids, capacity 100000) and a scratch array of nbands floats.
struct merge_work {
  nbr_ids *w1;
  nbr_ids *w2;
  nbr_ids *w3;
  nbr_ids *w4;
  float *scratch;
};

// 0 or -1; on failure what was made has been released.
int32_t t_init_merge_work(merge_work *work, int32_t nbands);
// Releases whatever exists; a zeroed record is accepted.
void t_free_merge_work(merge_work *work);

// The merge of one pair, the step both drivers run: `minimum` is the merge
// tree's minimum entry (pair k); its r0 survives and absorbs r1. Leaves to the
// driver what it records, `removed` of pair k and its region count. 0 or -1;
// after -1 the structures are partly updated and the driver releases them.
int32_t t_merge_pair(mgtree_node *minimum, int32_t nbands, merge_tree *tree, int32_t *count,
                     pair_rec *pair_set, region_rec *region_set, merge_lbl_list *merge_lbl,
                     merge_work *work);
