// The merge of one pair and its repairs: the survivor takes the merged means
// and the absorbed region's neighbours, costs of the survivor's pairs are
// recomputed, and the votes of everything that touched the pair are redone.
#include "lambda/pair_set.h"
#include "lambda/vote.h"

#include <cstring>
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
  const int32_t best = t_get_best_index_rbtree(&region_set[r], &cost, pair_set);
  region_set[r].bestp = best;
  return best == -1 ? KAVU_OK : t_cast_vote(best, cost, tree, pair_set, count);
}

void remove_nbr(region_rec &r, int32_t nbr) {
  const int32_t i = nbr_find(r.nbrs, r.n_nbrs, nbr);
  if (i < 0) return;
  std::memmove(r.nbrs + i, r.nbrs + i + 1, sizeof(nbr_entry) * static_cast<size_t>(r.n_nbrs - i - 1));
  r.n_nbrs -= 1;
}

// In q's list the absorbed z becomes the survivor a, which q did not touch:
// the entries between the two places shift by one to keep the order.
void repoint_nbr(region_rec &q, int32_t z, int32_t a, int32_t pair) {
  nbr_entry *list = q.nbrs;
  int32_t i = nbr_find(list, q.n_nbrs, z);
  if (i < 0) return;
  if (a < z) {
    for (; i > 0 && list[i - 1].nbr > a; --i) list[i] = list[i - 1];
  } else {
    for (; i + 1 < q.n_nbrs && list[i + 1].nbr < a; ++i) list[i] = list[i + 1];
  }
  list[i] = nbr_entry{a, pair};
}

}  // namespace

void t_traverse_set_nplist_wid(int32_t nbands, int32_t a, int32_t area_a, pair_rec *pair_set,
                               const region_rec *region_set) {
  const region_rec &ra = region_set[a];
  for (int32_t j = 0; j < ra.n_nbrs; ++j)
    t_set_weight_intensity_diff(nbands, a, area_a, ra.nbrs[j].pair, ra.nbrs[j].nbr, pair_set,
                                region_set);
}

int32_t t_region_merge_update(int32_t a, int32_t z, int32_t nbands, pair_rec *pair_set,
                              region_rec *region_set, nbr_store *store) {
  region_rec &ra = region_set[a], &rz = region_set[z];
  const int32_t na = ra.n_nbrs, nz = rz.n_nbrs;
  if (nbr_store_reserve_merged(store, na + nz) != 0) return KAVU_NO_MEMORY;
  const nbr_entry *an = ra.nbrs, *zn = rz.nbrs;
  nbr_entry *out = store->merged;
  int32_t i = 0, j = 0, m = 0;
  // Both lists ascend: one merging walk finds every common neighbour and
  // leaves a's new list in ascending order.
  while (j < nz) {
    const int32_t q = zn[j].nbr, p = zn[j].pair;
    while (i < na && an[i].nbr < q) out[m++] = an[i++];
    if (i < na && an[i].nbr == q) {
      // q touched both: its boundary with z joins its pair with a (whose s was
      // recomputed already and whose t follows), z's pair is spent.
      pair_set[an[i].pair].blen += pair_set[p].blen;
      remove_nbr(region_set[q], z);
      pair_set[p].removed = 1;
      out[m++] = an[i++];
    } else {
      pair_rec &pair = pair_set[p];
      (pair.r0 == z ? pair.r0 : pair.r1) = a;
      if (pair.r0 > pair.r1) std::swap(pair.r0, pair.r1);
      t_set_weight_intensity_diff(nbands, a, ra.area, p, q, pair_set, region_set);
      repoint_nbr(region_set[q], z, a, p);
      out[m++] = nbr_entry{q, p};
    }
    ++j;
  }
  while (i < na) out[m++] = an[i++];

  if (m > (1 << ra.nbr_class) || !ra.nbrs) {
    const int32_t cls = nbr_class_for(m);
    nbr_entry *block = nbr_store_alloc(store, cls);
    if (!block) return KAVU_NO_MEMORY;
    nbr_store_free(store, ra.nbrs, ra.nbr_class);
    ra.nbrs = block;
    ra.nbr_class = cls;
  }
  std::memcpy(ra.nbrs, out, sizeof(nbr_entry) * static_cast<size_t>(m));
  ra.n_nbrs = m;
  nbr_store_free(store, rz.nbrs, rz.nbr_class);
  rz.nbrs = nullptr;
  rz.n_nbrs = 0;
  return KAVU_OK;
}

int32_t t_merge_list_update(int32_t a, int32_t z, merge_tree *tree, pair_rec *pair_set,
                            region_rec *region_set, int32_t *count) {
  const region_rec &ra = region_set[a];
  for (int32_t j = 0; j < ra.n_nbrs; ++j) {
    const int32_t q = ra.nbrs[j].nbr;
    const int32_t p = ra.nbrs[j].pair;
    const int32_t bq = region_set[q].bestp;
    // A region that was never elected (no area of its own) has no vote to move.
    const int32_t o = bq < 0 ? a : other_region(pair_set[bq], q);
    if (o == a || o == z) {
      // q's choice touched the merged regions: its cost or its pair changed.
      if (bq >= 0) pair_set[bq].b = 0;
      if (reelect(q, tree, pair_set, region_set, count) != 0) return KAVU_NO_MEMORY;
    } else if (cheaper(pair_set, p, bq)) {
      pair_rec &old = pair_set[bq];
      if (old.e == 1) {
        // Its other region still elects it, so b stays 1. An entry under
        // another cost would not be the one looked for and stays.
        old.e = 0;
        const int32_t at = tree->place[bq];
        if (at >= 0 && mgtree_compare(tree->keys[at], mg_key{old.t, bq}) == 0) {
          candidate_heap_remove_at(tree, at);
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

void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl) {
  merge_lbl_list_move(&merge_lbl[a], &merge_lbl[z]);
}

int32_t t_merge_pair(int32_t k, int32_t nbands, merge_tree *tree, int32_t *count,
                     pair_rec *pair_set, region_rec *region_set, merge_lbl_list *merge_lbl,
                     nbr_store *store, float *scratch) {
  if (tree->place[k] >= 0) candidate_heap_remove_at(tree, tree->place[k]);
  *count -= 1;

  const int32_t a = pair_set[k].r0, z = pair_set[k].r1;
  region_rec &ra = region_set[a], &rz = region_set[z];
  const int32_t na = ra.area, nz = rz.area, n = na + nz;
  for (int32_t b = 0; b < nbands; ++b)
    scratch[b] = (rz.gval[b] * static_cast<float>(nz) + ra.gval[b] * static_cast<float>(na)) /
                 static_cast<float>(n);
  for (int32_t b = 0; b < nbands; ++b) ra.gval[b] = scratch[b];
  ra.area = n;

  remove_nbr(ra, z);
  remove_nbr(rz, a);
  t_traverse_set_nplist_wid(nbands, a, n, pair_set, region_set);
  if (t_region_merge_update(a, z, nbands, pair_set, region_set, store) != 0) return KAVU_NO_MEMORY;
  for (int32_t j = 0; j < ra.n_nbrs; ++j) {
    pair_rec &pair = pair_set[ra.nbrs[j].pair];
    pair.t = pair.s / static_cast<float>(pair.blen);
  }
  if (t_merge_list_update(a, z, tree, pair_set, region_set, count) != 0) return KAVU_NO_MEMORY;
  t_update_merge_lbl(a, z, merge_lbl);
  return KAVU_OK;
}
