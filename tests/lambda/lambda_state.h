// Test helpers for the merging core: the full set of structures one driver
// builds, built step by step from small images, merged one pair at a time, and
// checked against the invariants that hold between merges.
#pragma once

#include "lambda/merge_tree.h"
#include "lambda/pair_set.h"
#include "lambda/region_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace lambda_test {

struct lambda_state {
  open_hash hash{};
  int32_t n_positions = 0, n_regions = 0;
  region_rec *regions = nullptr;
  merge_lbl_list *lists = nullptr;
  pair_rec *pairs = nullptr;
  int32_t n_pairs = 0;
  merge_tree *tree = nullptr;
  int32_t count = 0;
  merge_work work{};
  int32_t nbands = 1;

  lambda_state() = default;
  lambda_state(const lambda_state &) = delete;
  lambda_state &operator=(const lambda_state &) = delete;
  ~lambda_state() { release(); }

  void release() {
    t_free_merge_work(&work);
    t_free_merge_tree(tree);
    tree = nullptr;
    t_free_pair_set(pairs);
    pairs = nullptr;
    t_free_merge_lbl_list(n_positions, lists);
    lists = nullptr;
    if (regions) t_free_region_set(n_positions, regions);
    regions = nullptr;
    open_hash_destroy(&hash);
  }

  // Region hash, region set, pair set, merge tree and working arrays, as both
  // drivers build them; the first non-zero status is returned.
  int32_t build(const std::vector<float> &image, const std::vector<uint32_t> &labels, int32_t ncols,
                int32_t nrows, int32_t bands, const uint8_t *mask = nullptr) {
    nbands = bands;
    int32_t status =
        t_init_region_hash(labels.data(), ncols, nrows, &hash, &n_positions, &n_regions, mask);
    if (status != 0) return status;
    status = t_init_region_set(image.data(), labels.data(), &hash, n_positions, ncols, nrows,
                               nbands, &regions, &lists, nullptr, 0, nullptr, 0, nullptr, nullptr,
                               mask);
    if (status != 0) return status;
    status = t_init_pair_set(labels.data(), &hash, n_positions, ncols, nrows, nbands, &pairs,
                             regions, &n_pairs, nullptr, nullptr, mask);
    if (status != 0) return status;
    count = 0;
    status = t_init_merge_tree(n_positions, &tree, pairs, regions, &count);
    if (status != 0) return status;
    return t_init_merge_work(&work, nbands);
  }

  int32_t pos(uint32_t label) const {
    int32_t p;
    EXPECT_EQ(open_hash_lookup(&hash, label, &p), 0) << "label " << label;
    return p;
  }

  // Merges the merge tree's minimum as a driver does; returns its pair index.
  int32_t merge_min() {
    mgtree_node *minimum = mgtree_minimum(tree);
    const int32_t k = minimum->pair_index;
    EXPECT_EQ(t_merge_pair(minimum, nbands, tree, &count, pairs, regions, lists, &work), 0);
    pairs[k].removed = 1;
    return k;
  }

  bool live(int32_t p) const { return lists[p].head != nullptr; }

  // Neighbour position -> pair index of region p.
  std::map<int32_t, int32_t> neighbours(int32_t p) const {
    std::map<int32_t, int32_t> out;
    const nptree *t = regions[p].nptree;
    for (nptree_node *n = nptree_minimum(t); n != t->nil && n != t->root;
         n = nptree_successor(t, n))
      out[n->lbl_hash] = n->nbr_pair;
    return out;
  }

  // Entries of the merge tree as (pair index -> cost).
  std::map<int32_t, float> entries() const {
    std::map<int32_t, float> out;
    if (count == 0) return out;
    for (mgtree_node *n = mgtree_minimum(tree); n != tree->nil; n = mgtree_successor(tree, n))
      out[n->pair_index] = n->cost;
    return out;
  }
};

inline bool cheaper(const pair_rec *pairs, int32_t p, int32_t q) {
  return pairs[p].t < pairs[q].t || (pairs[p].t == pairs[q].t && p < q);
}

// The invariants between merges: links are symmetric and live, every live
// region's bestp is its cheapest pair, b and e are the votes, and the merge
// tree holds exactly the mutually best pairs under their current cost.
inline void expect_invariants(const lambda_state &s) {
  std::set<int32_t> mutual;
  for (int32_t p = 0; p < s.n_positions; ++p) {
    if (!s.live(p)) continue;
    const auto nbrs = s.neighbours(p);
    int32_t best = -1;
    for (const auto &[q, k] : nbrs) {
      const pair_rec &pair = s.pairs[k];
      EXPECT_TRUE(s.live(q)) << "region " << p << " points at absorbed " << q;
      EXPECT_EQ(pair.removed, 0) << "pair " << k;
      EXPECT_TRUE((pair.r0 == p && pair.r1 == q) || (pair.r0 == q && pair.r1 == p)) << "pair " << k;
      EXPECT_EQ(s.neighbours(q).count(p), 1u) << "link " << p << "-" << q << " is one-sided";
      EXPECT_EQ(pair.t, pair.s / static_cast<float>(pair.blen)) << "pair " << k;
      const bool elected = s.regions[pair.r0].bestp == k || s.regions[pair.r1].bestp == k;
      const bool both = s.regions[pair.r0].bestp == k && s.regions[pair.r1].bestp == k;
      EXPECT_EQ(pair.b, elected ? 1 : 0) << "vote flag b of pair " << k;
      EXPECT_EQ(pair.e, both ? 1 : 0) << "vote flag e of pair " << k;
      if (best == -1 || cheaper(s.pairs, k, best)) best = k;
    }
    EXPECT_EQ(s.regions[p].bestp, best) << "region " << p;
    if (best < 0) continue;
    const pair_rec &pair = s.pairs[best];
    const int32_t other = pair.r0 == p ? pair.r1 : pair.r0;
    EXPECT_EQ(pair.b, 1) << "pair " << best;
    if (s.regions[other].bestp == best) mutual.insert(best);
  }
  const auto entries = s.entries();
  EXPECT_EQ(static_cast<int32_t>(entries.size()), s.count);
  std::set<int32_t> in_tree;
  for (const auto &[k, cost] : entries) {
    in_tree.insert(k);
    EXPECT_EQ(cost, s.pairs[k].t) << "stale cost of pair " << k;
    EXPECT_EQ(s.pairs[k].e, 1) << "pair " << k;
  }
  EXPECT_EQ(in_tree, mutual);
}

}  // namespace lambda_test
