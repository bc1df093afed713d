// The merge of one pair and its repairs: the survivor takes the merged means
// and the absorbed region's neighbours, costs of the survivor's pairs are
// recomputed, and the votes of everything that touched the pair are redone.
#include "containers/allocation.h"
#include "lambda/pair_set.h"
#include "lambda/vote.h"

#include <utility>

namespace {

int32_t other_region(const pair_rec &pair, int32_t r) { return pair.r0 == r ? pair.r1 : pair.r0; }

// Ties between equal costs go to the lower pair index, as in the merge tree.
bool cheaper(const pair_rec *pair_set, int32_t p, int32_t q) {
  return pair_set[p].t < pair_set[q].t || (pair_set[p].t == pair_set[q].t && p < q);
}

// Elects region r again and votes for its choice.
int32_t reelect(int32_t r, merge_tree *tree, pair_rec *pair_set, region_rec *region_set,
                int32_t *count) {
  float cost;
  const int32_t best = t_get_best_index_rbtree(region_set[r].nptree, &cost, pair_set);
  region_set[r].bestp = best;
  return best == -1 ? 0 : t_cast_vote(best, cost, tree, pair_set, count);
}

}  // namespace

int32_t t_traverse_set_nplist_wid(const nptree *tree, int32_t nbands, int32_t a, int32_t area_a,
                                  pair_rec *pair_set, const region_rec *region_set, nbr_ids **w1,
                                  nbr_ids **w2) {
  int32_t n;
  const int32_t status = nptree_traverse(tree, &n, w1, w2);
  if (status != 0) return status;
  const uint32_t *pairs = (*w1)->ids, *nbrs = (*w2)->ids;
  for (int32_t j = 0; j < n; ++j)
    t_set_weight_intensity_diff(nbands, a, area_a, static_cast<int32_t>(pairs[j]),
                                static_cast<int32_t>(nbrs[j]), pair_set, region_set);
  return 0;
}

int32_t t_region_merge_update(int32_t a, int32_t z, int32_t nbands, pair_rec *pair_set,
                              region_rec *region_set, nbr_ids **w1, nbr_ids **w2, nbr_ids **w3,
                              nbr_ids **w4) {
  int32_t na, nz;
  if (nptree_traverse(region_set[a].nptree, &na, w1, w2) != 0 ||
      nptree_traverse(region_set[z].nptree, &nz, w3, w4) != 0)
    return -1;
  const uint32_t *a_pairs = (*w1)->ids, *a_nbrs = (*w2)->ids;
  const uint32_t *z_pairs = (*w3)->ids, *z_nbrs = (*w4)->ids;
  // Both neighbour lists ascend, so one forward walk over a's finds every
  // common neighbour; neighbours added to a below are never looked for again.
  int32_t i = 0;
  for (int32_t j = 0; j < nz; ++j) {
    const int32_t p = static_cast<int32_t>(z_pairs[j]);
    const int32_t q = static_cast<int32_t>(z_nbrs[j]);
    while (i < na && static_cast<int32_t>(a_nbrs[i]) < q) ++i;
    if (i < na && static_cast<int32_t>(a_nbrs[i]) == q) {
      // q touched both: its boundary with z joins its pair with a (whose s was
      // recomputed already and whose t follows), z's pair is spent.
      pair_set[a_pairs[i]].blen += pair_set[p].blen;
      nptree_delete_node(region_set[q].nptree, z);
      pair_set[p].removed = 1;
      continue;
    }
    if (!nptree_insert(region_set[a].nptree, p, q)) return -1;
    pair_rec &pair = pair_set[p];
    (pair.r0 == z ? pair.r0 : pair.r1) = a;
    if (pair.r0 > pair.r1) std::swap(pair.r0, pair.r1);
    t_set_weight_intensity_diff(nbands, a, region_set[a].area, p, q, pair_set, region_set);
    nptree *q_tree = region_set[q].nptree;
    nptree_delete_node(q_tree, z);
    if (!nptree_insert(q_tree, p, a)) return -1;
  }
  return 0;
}

namespace {

// The vote repair of t_merge_list_update over a's n neighbours, listed in key
// order in `pairs` and `nbrs` (a's nptree traversed, unchanged since).
int32_t repair_votes(int32_t a, int32_t z, int32_t n, const uint32_t *pairs, const uint32_t *nbrs,
                     merge_tree *tree, pair_rec *pair_set, region_rec *region_set,
                     int32_t *count) {
  for (int32_t j = 0; j < n; ++j) {
    const int32_t q = static_cast<int32_t>(nbrs[j]);
    const int32_t p = static_cast<int32_t>(pairs[j]);
    const int32_t bq = region_set[q].bestp;
    // A region that was never elected (no area of its own) has no vote to move.
    const int32_t o = bq < 0 ? a : other_region(pair_set[bq], q);
    if (o == a || o == z) {
      // q's choice touched the merged regions: its cost or its pair changed.
      if (bq >= 0) pair_set[bq].b = 0;
      if (reelect(q, tree, pair_set, region_set, count) != 0) return -1;
    } else if (cheaper(pair_set, p, bq)) {
      pair_rec &old = pair_set[bq];
      if (old.e == 1) {
        // Its other region still elects it, so b stays 1.
        old.e = 0;
        mgtree_node *entry = mgtree_exact_query(tree, mg_key{old.t, bq});
        if (mgtree_node_not_null(tree, entry)) {
          mgtree_delete(tree, entry);
          *count -= 1;
        }
      } else {
        old.b = 0;
      }
      region_set[q].bestp = p;
      pair_set[p].b = 1;
    }
  }
  return reelect(a, tree, pair_set, region_set, count);
}

}  // namespace

int32_t t_merge_list_update(int32_t a, int32_t z, int32_t /*nbands*/, merge_tree *tree,
                            pair_rec *pair_set, region_rec *region_set, nbr_ids **w1,
                            nbr_ids **w2, int32_t *count) {
  int32_t n;
  if (nptree_traverse(region_set[a].nptree, &n, w1, w2) != 0) return -1;
  return repair_votes(a, z, n, (*w1)->ids, (*w2)->ids, tree, pair_set, region_set, count);
}

void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl) {
  merge_lbl_list_move(&merge_lbl[a], &merge_lbl[z]);
}

int32_t t_init_merge_work(merge_work *work, int32_t nbands) {
  *work = merge_work{};
  if (init_nbr_ids(&work->w1, 100000) != 0 || init_nbr_ids(&work->w2, 100000) != 0 ||
      init_nbr_ids(&work->w3, 100000) != 0 || init_nbr_ids(&work->w4, 100000) != 0 ||
      !(work->scratch = kavu_alloc_array<float>(static_cast<size_t>(nbands)))) {
    t_free_merge_work(work);
    return -1;
  }
  return 0;
}

void t_free_merge_work(merge_work *work) {
  free_nbr_ids(work->w1);
  free_nbr_ids(work->w2);
  free_nbr_ids(work->w3);
  free_nbr_ids(work->w4);
  kavu_free(work->scratch);
  *work = merge_work{};
}

int32_t t_merge_pair(mgtree_node *minimum, int32_t nbands, merge_tree *tree, int32_t *count,
                     pair_rec *pair_set, region_rec *region_set, merge_lbl_list *merge_lbl,
                     merge_work *work) {
  const int32_t k = minimum->pair_index;
  mgtree_delete(tree, minimum);
  *count -= 1;

  const int32_t a = pair_set[k].r0, z = pair_set[k].r1;
  region_rec &ra = region_set[a];
  const region_rec &rz = region_set[z];
  const int32_t na = ra.area, nz = rz.area, n = na + nz;
  for (int32_t b = 0; b < nbands; ++b)
    work->scratch[b] = (rz.gval[b] * static_cast<float>(nz) + ra.gval[b] * static_cast<float>(na)) /
                       static_cast<float>(n);
  for (int32_t b = 0; b < nbands; ++b) ra.gval[b] = work->scratch[b];
  ra.area = n;

  nptree_delete_node(ra.nptree, z);
  nptree_delete_node(rz.nptree, a);
  if (t_traverse_set_nplist_wid(ra.nptree, nbands, a, n, pair_set, region_set, &work->w1,
                                &work->w2) != 0 ||
      t_region_merge_update(a, z, nbands, pair_set, region_set, &work->w1, &work->w2, &work->w3,
                            &work->w4) != 0)
    return -1;

  int32_t n_nbr;
  if (nptree_traverse(ra.nptree, &n_nbr, &work->w1, &work->w2) != 0) return -1;
  for (int32_t j = 0; j < n_nbr; ++j) {
    pair_rec &pair = pair_set[work->w1->ids[j]];
    pair.t = pair.s / static_cast<float>(pair.blen);
  }
  // a's tree is as just traversed: t_merge_list_update's own walk is skipped.
  if (repair_votes(a, z, n_nbr, work->w1->ids, work->w2->ids, tree, pair_set, region_set,
                   count) != 0)
    return -1;
  t_update_merge_lbl(a, z, merge_lbl);
  return 0;
}
