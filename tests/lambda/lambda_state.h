// Test helpers for the merging core: the full set of structures one driver
// builds, built step by step from small images, merged one pair at a time, and
// checked against the invariants that hold between merges.
#pragma once

#include "lambda/merge_run.h"
#include "lambda/pair_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace lambda_test {

// A merge run, with the names the tests use for its members.
struct lambda_state {
  merge_run run{};
  open_hash &hash = run.region_hash;
  int32_t &n_positions = run.n_positions, &n_regions = run.n_regions;
  region_rec *&regions = run.region_set;
  merge_lbl_list *&lists = run.lists;
  pair_rec *&pairs = run.pair_set;
  int32_t &n_pairs = run.n_pairs;
  merge_tree *tree = &run.tree;
  int32_t &count = run.n_entries;
  int32_t &nbands = run.nbands;

  lambda_state() { nbands = 1; }
  lambda_state(const lambda_state &) = delete;
  lambda_state &operator=(const lambda_state &) = delete;
  ~lambda_state() { release(); }

  void release() { merge_run_release(&run); }

  // Region hash, region set, pair set, merge tree and band buffer, as both
  // drivers build them; the first non-zero status is returned.
  int32_t build(const std::vector<float> &image, const std::vector<uint32_t> &labels, int32_t ncols,
                int32_t nrows, int32_t bands, const uint8_t *mask = nullptr) {
    const merge_input in{image.data(), labels.data(), ncols, nrows, bands, mask, nullptr, nullptr, nullptr};
    const int32_t status = merge_run_hash_labels(&run, in);
    return status != 0 ? status : merge_run_build(&run, in);
  }

  int32_t pos(uint32_t label) const {
    int32_t p;
    EXPECT_EQ(open_hash_lookup(&hash, label, &p), 0) << "label " << label;
    return p;
  }

  // Merges the merge tree's minimum as a driver does; returns its pair index.
  int32_t merge_min() {
    const int32_t k = merge_run_minimum(&run).pair_index;
    int32_t a, z;
    EXPECT_EQ(merge_run_merge_minimum(&run, &a, &z), 0);
    return k;
  }

  bool live(int32_t p) const { return lists[p].head != nullptr; }

  // Neighbour position -> pair index of region p.
  std::map<int32_t, int32_t> neighbours(int32_t p) const {
    std::map<int32_t, int32_t> out;
    for (int32_t j = 0; j < regions[p].n_nbrs; ++j) out[regions[p].nbrs[j].nbr] = regions[p].nbrs[j].pair;
    return out;
  }

  // Entries of the merge tree as (pair index -> cost).
  std::map<int32_t, float> entries() const {
    std::map<int32_t, float> out;
    for (int32_t i = 0; i < tree->size; ++i) out[tree->keys[i].pair_index] = tree->keys[i].cost;
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
