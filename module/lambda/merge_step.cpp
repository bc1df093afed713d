// The merge of one pair and its repairs: the survivor takes the merged means
// and the absorbed region's neighbours, costs of the survivor's pairs are
// recomputed, and the votes of everything that touched the pair are redone.
#include "lambda/merge_step.h"

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

void remove_nbr(region_rec &r, int32_t nbr) {
  const int32_t i = nbr_find(r.nbrs, r.n_nbrs, nbr);
  if (i < 0) return;
  std::memmove(r.nbrs + i, r.nbrs + i + 1,
               sizeof(nbr_entry) * static_cast<size_t>(r.n_nbrs - i - 1));
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

// The vote repair of neighbour q of the merged region a (absorbed z), whose
// pair with a is p and already has its final cost; `before` is p's cost before
// this merge, when `Known`.
template <bool Known>
[[gnu::always_inline]] inline kavu_status repair_vote(merge_run &run, int32_t q, int32_t p,
                                                      int32_t a, int32_t z, float before) {
  pair_rec *pair_set = run.pair_set;
  const int32_t bq = run.region_set[q].bestp;
  // A region that was never elected (no area of its own) has no vote to move.
  const int32_t o = bq < 0 ? a : other_region(pair_set[bq], q);
  if (o == a || o == z) {
    // q had elected p itself, and p got no dearer: q's other pairs kept their
    // costs or went with z, so p is still the least of them and the election
    // would give p again, with the same flags. Only costs that are all numbers
    // order this way (a NaN first in q's list would win a scan).
    if (Known && bq == p && run.costs_are_numbers && pair_set[p].t <= before) return KAVU_OK;
    // q's choice touched the merged regions: its cost or its pair changed.
    if (bq >= 0) pair_set[bq].b = 0;
    return elect(run, q);
  }
  if (cheaper(pair_set, p, bq)) {
    pair_rec &old = pair_set[bq];
    if (old.e == 1) {
      // Its other region still elects it, so b stays 1. An entry under
      // another cost would not be the one looked for and stays.
      old.e = 0;
      candidate_heap &heap = run.candidates;
      const int32_t at = heap.place[bq];
      if (at >= 0 && candidate_compare(heap.keys[at], mg_key{old.t, bq}) == 0)
        candidate_heap_remove_at(&heap, at);
    } else {
      old.b = 0;
    }
    run.region_set[q].bestp = p;
    pair_set[p].b = 1;
  }
  return KAVU_OK;
}

// The survivor's new pair with q: s from the merged means and area, t from s
// and the (possibly joined) boundary length. The band vectors are read from
// their block by position; `Bands` as in squared_band_distance.
template <int32_t Bands>
void recost(merge_run &run, int32_t a, int32_t p, int32_t q) {
  const int32_t nbands = Bands > 0 ? Bands : run.nbands;
  const float *gvals = run.region_set[0].gval;  // one block, nbands per position
  const float d = squared_band_distance<Bands>(gvals + static_cast<size_t>(a) * nbands,
                                               gvals + static_cast<size_t>(q) * nbands, nbands);
  pair_rec &pair = run.pair_set[p];
  pair.s = weighted_difference(d, run.region_set[a].area, run.region_set[q].area);
  pair.t = pair.s / static_cast<float>(pair.blen);
}

// Hands q, a neighbour of the absorbed z through pair p, to the survivor a:
// when q also touches a (through pair `common`, else -1) the two boundaries
// join in a's pair and p is spent; otherwise p is re-pointed to a. Returns the
// pair that now joins a and q.
int32_t hand_over(int32_t q, int32_t p, int32_t common, int32_t a, int32_t z, pair_rec *pair_set,
                  region_rec *region_set) {
  if (common >= 0) {
    pair_set[common].blen += pair_set[p].blen;
    remove_nbr(region_set[q], z);
    pair_set[p].removed = 1;
    return common;
  }
  pair_rec &pair = pair_set[p];
  (pair.r0 == z ? pair.r0 : pair.r1) = a;
  if (pair.r0 > pair.r1) std::swap(pair.r0, pair.r1);
  repoint_nbr(region_set[q], z, a, p);
  return p;
}

// One ascending walk over the neighbour lists of a and z (each without the
// other) that hands z's neighbours over, costs every pair of the merged
// region and repairs each neighbour's vote as soon as its pair is final. Each
// neighbour's repair reads only its own pairs, of which only the one with a
// changes here, so doing them in the walk is doing them after it.
// `pair_final(q, p, before)` is called for each neighbour q once its pair p
// with a is final, `before` being p's cost before the merge. a's new list is
// left in the store's scratch; the count of its entries in *merged. The walk
// meets a's final pairs in the order of that list, the order an election
// scans, so a's election is made on the way: in *choice (pair -1 when a is
// left without neighbours).
template <int32_t Bands, typename PairFinal>
kavu_status merge_walk(merge_run &run, int32_t a, int32_t z, PairFinal pair_final, int32_t *merged,
                       running_choice *choice) {
  pair_rec *pair_set = run.pair_set;
  region_rec *region_set = run.region_set;
  nbr_store *store = &run.nbrs;
  const int32_t nbands = run.nbands;
  const region_rec &ra = region_set[a], &rz = region_set[z];
  const int32_t na = ra.n_nbrs, nz = rz.n_nbrs;
  if (nbr_store_reserve_merged(store, na + nz) != 0) return KAVU_NO_MEMORY;
  const nbr_entry *an = ra.nbrs, *zn = rz.nbrs;
  nbr_entry *out = store->merged;
  int32_t i = 0, j = 0, m = 0;
  *choice = running_choice{-1, 0.0f};
  // The records a neighbour needs are scattered over the region and pair
  // sets: they are requested a few neighbours ahead of their use.
  constexpr int32_t ahead = 4;
  const float *gvals = region_set[0].gval;  // one block, nbands per position
  const auto request = [&](const nbr_entry &e) {
    __builtin_prefetch(&region_set[e.nbr]);
    __builtin_prefetch(&pair_set[e.pair]);
    __builtin_prefetch(gvals + static_cast<size_t>(e.nbr) * nbands);
  };
  for (int32_t d = 0; d < ahead; ++d) {
    if (d < na) request(an[d]);
    if (d < nz) request(zn[d]);
  }
  // Two neighbours ahead, the records requested above have mostly arrived:
  // what they point to (the elected pair, the neighbour's own list) follows.
  constexpr int32_t near = 2;
  const auto follow = [&](const nbr_entry &e) {
    const region_rec &r = region_set[e.nbr];
    if (r.bestp >= 0) __builtin_prefetch(&pair_set[r.bestp]);
    __builtin_prefetch(r.nbrs);
  };
  for (;;) {
    if (i + ahead < na) request(an[i + ahead]);
    if (j + ahead < nz) request(zn[j + ahead]);
    if (i + near < na) follow(an[i + near]);
    if (j + near < nz) follow(zn[j + near]);
    while (i < na && an[i].nbr == z) ++i;
    while (j < nz && zn[j].nbr == a) ++j;
    if (i == na && j == nz) break;
    int32_t q, p;
    if (j == nz || (i < na && an[i].nbr < zn[j].nbr)) {
      q = an[i].nbr;
      p = an[i++].pair;
    } else {
      const bool both = i < na && an[i].nbr == zn[j].nbr;
      q = zn[j].nbr;
      p = hand_over(q, zn[j++].pair, both ? an[i].pair : -1, a, z, pair_set, region_set);
      i += both;
    }
    const float before = pair_set[p].t;
    recost<Bands>(run, a, p, q);
    if (m == 0)
      *choice = running_choice{p, pair_set[p].t};
    else
      running_choice_offer(*choice, p, pair_set[p].t);
    if (pair_final(q, p, before) != 0) return KAVU_NO_MEMORY;
    out[m++] = nbr_entry{q, p};
  }
  *merged = m;
  return KAVU_OK;
}

// a's list becomes the m entries of the scratch; z's block goes back to the store.
kavu_status adopt_merged(merge_run &run, int32_t a, int32_t z, int32_t m) {
  nbr_store *store = &run.nbrs;
  region_rec &ra = run.region_set[a], &rz = run.region_set[z];
  if (!ra.nbrs || m > (1 << ra.nbr_class)) {
    const int32_t cls = nbr_class_for(m);
    nbr_entry *block = nbr_store_alloc(store, cls);
    if (!block) return KAVU_NO_MEMORY;
    nbr_store_free(store, ra.nbrs, ra.nbr_class);
    ra.nbrs = block;
    ra.nbr_class = cls;
  }
  std::memcpy(ra.nbrs, store->merged, sizeof(nbr_entry) * static_cast<size_t>(m));
  ra.n_nbrs = m;
  nbr_store_free(store, rz.nbrs, rz.nbr_class);
  rz.nbrs = nullptr;
  rz.n_nbrs = 0;
  return KAVU_OK;
}

// merge_walk compiled for the usual band counts (a panchromatic band, RGB, RGB
// with near infrared, Landsat's six reflective bands), else for any.
template <typename PairFinal>
kavu_status walk_for_bands(merge_run &run, int32_t a, int32_t z, PairFinal pair_final,
                           int32_t *merged, running_choice *choice) {
  switch (run.nbands) {
    case 1: return merge_walk<1>(run, a, z, pair_final, merged, choice);
    case 3: return merge_walk<3>(run, a, z, pair_final, merged, choice);
    case 4: return merge_walk<4>(run, a, z, pair_final, merged, choice);
    case 6: return merge_walk<6>(run, a, z, pair_final, merged, choice);
    default: return merge_walk<0>(run, a, z, pair_final, merged, choice);
  }
}

}  // namespace

void t_traverse_set_nplist_wid(merge_run *run, int32_t a, int32_t area_a) {
  const region_rec &ra = run->region_set[a];
  for (int32_t j = 0; j < ra.n_nbrs; ++j)
    t_set_weight_intensity_diff(run->nbands, a, area_a, ra.nbrs[j].pair, ra.nbrs[j].nbr,
                                run->pair_set, run->region_set);
}

kavu_status t_region_merge_update(merge_run *run, int32_t a, int32_t z) {
  int32_t m;
  running_choice unused;
  const auto votes_left = [](int32_t, int32_t, float) { return KAVU_OK; };
  if (merge_walk<0>(*run, a, z, votes_left, &m, &unused) != 0) return KAVU_NO_MEMORY;
  return adopt_merged(*run, a, z, m);
}

kavu_status t_merge_list_update(merge_run *run, int32_t a, int32_t z) {
  const region_rec &ra = run->region_set[a];
  for (int32_t j = 0; j < ra.n_nbrs; ++j)
    if (repair_vote<false>(*run, ra.nbrs[j].nbr, ra.nbrs[j].pair, a, z, 0.0f) != 0)
      return KAVU_NO_MEMORY;
  return elect(*run, a);
}

void t_update_merge_lbl(int32_t a, int32_t z, merge_lbl_list *merge_lbl) {
  merge_lbl_list_move(&merge_lbl[a], &merge_lbl[z]);
}

kavu_status t_merge_pair(merge_run *run, int32_t k) {
  candidate_heap &heap = run->candidates;
  if (heap.place[k] >= 0) candidate_heap_remove_at(&heap, heap.place[k]);

  pair_rec *pair_set = run->pair_set;
  merge_lbl_list *merge_lbl = run->lists;
  float *scratch = run->band_buffer;
  const int32_t nbands = run->nbands;
  const int32_t a = pair_set[k].r0, z = pair_set[k].r1;
  // The two label lists are joined last; their records are requested now.
  __builtin_prefetch(&merge_lbl[a]);
  __builtin_prefetch(&merge_lbl[z]);
  region_rec &ra = run->region_set[a];
  const region_rec &rz = run->region_set[z];
  const int32_t na = ra.area, nz = rz.area, n = na + nz;
  for (int32_t b = 0; b < nbands; ++b)
    scratch[b] = (rz.gval[b] * static_cast<float>(nz) + ra.gval[b] * static_cast<float>(na)) /
                 static_cast<float>(n);
  for (int32_t b = 0; b < nbands; ++b) ra.gval[b] = scratch[b];
  ra.area = n;

  // Hand-over, costs, the neighbours' vote repairs and a's own election in
  // one walk (the separate steps above, fused); a votes once the walk is done.
  int32_t m;
  running_choice choice;
  const auto repair = [&](int32_t q, int32_t p, float before) __attribute__((always_inline)) {
    return repair_vote<true>(*run, q, p, a, z, before);
  };
  if (walk_for_bands(*run, a, z, repair, &m, &choice) != 0) return KAVU_NO_MEMORY;
  __builtin_prefetch(merge_lbl[a].tail);
  if (adopt_merged(*run, a, z, m) != 0 || take_choice(*run, a, choice.pair, choice.cost) != 0)
    return KAVU_NO_MEMORY;
  t_update_merge_lbl(a, z, merge_lbl);
  return KAVU_OK;
}
