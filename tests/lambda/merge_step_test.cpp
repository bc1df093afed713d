// Merge tree and the merge of one pair: election and tie rules, the hand-over
// of neighbours, vote repair, and the invariants after every merge of random
// images down to one region.
#include "lambda_state.h"

#include "containers/allocation.h"
#include "heap_probe.h"

#include <cmath>
#include <random>

using lambda_test::expect_invariants;
using lambda_test::lambda_state;

namespace {

std::vector<uint32_t> list_labels(const merge_lbl_list &list) {
  std::vector<uint32_t> out;
  for (const merge_lbl_node *n = list.head; n; n = n->next) out.push_back(n->label);
  return out;
}

TEST(MergeStep, TwoRegionsMergeIntoOneWithoutPairs) {
  lambda_state s;
  ASSERT_EQ(s.build({0, 1, 0, 1}, {1, 2, 1, 2}, 2, 2, 1), 0);
  const int32_t a = s.pos(1), z = s.pos(2);
  EXPECT_EQ(s.count, 1);
  EXPECT_EQ(s.regions[a].bestp, 0);
  EXPECT_EQ(s.regions[z].bestp, 0);
  EXPECT_EQ(s.pairs[0].e, 1);
  expect_invariants(s);
  EXPECT_EQ(s.merge_min(), 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.regions[a].area, 4);
  EXPECT_EQ(s.regions[a].gval[0], 0.5f);
  EXPECT_EQ(s.regions[a].bestp, -1);
  EXPECT_EQ(list_labels(s.lists[a]), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(s.lists[z].head, nullptr);
  expect_invariants(s);
}

TEST(MergeStep, ARegionElectsTheLowerIndexAmongEqualCosts) {
  // Row 0 1 2 with values 0 1 2: both pairs cost 0.5; the middle region elects pair 0.
  lambda_state s;
  ASSERT_EQ(s.build({0, 1, 2}, {0, 1, 2}, 3, 1, 1), 0);
  EXPECT_EQ(s.pairs[0].t, s.pairs[1].t);
  EXPECT_EQ(s.regions[1].bestp, 0);
  EXPECT_EQ(s.entries(), (std::map<int32_t, float>{{0, 0.5f}}));
  expect_invariants(s);
  EXPECT_EQ(s.merge_min(), 0);
  // The right pair now joins the merged region (area 2, mean 0.5) and region 2.
  EXPECT_EQ(s.pairs[1].r0, 0);
  EXPECT_EQ(s.pairs[1].r1, 2);
  EXPECT_EQ(s.pairs[1].s, 1.0f * (2.0f * 2.25f) / 3.0f);
  expect_invariants(s);
}

TEST(MergeStep, EqualCostsInTheMergeTreeGoByPairIndex) {
  // Pairs 0 and 2 are both mutually best at cost 0.5.
  lambda_state s;
  ASSERT_EQ(s.build({0, 1, 10, 11}, {0, 1, 2, 3}, 4, 1, 1), 0);
  EXPECT_EQ(s.entries(), (std::map<int32_t, float>{{0, 0.5f}, {2, 0.5f}}));
  EXPECT_EQ(s.merge_min(), 0);
  EXPECT_EQ(s.merge_min(), 2);
}

TEST(MergeStep, ANeighbourOfBothKeepsOnePairWithTheSummedBoundary) {
  // 0 1      region 2 touches 0 and 1; 0 and 1 merge first.
  // 2 2
  lambda_state s;
  ASSERT_EQ(s.build({0, 0.1f, 5, 5}, {0, 1, 2, 2}, 2, 2, 1), 0);
  ASSERT_EQ(s.n_pairs, 3);  // (0,1) (0,2) (1,2)
  EXPECT_EQ(s.merge_min(), 0);
  EXPECT_EQ(s.neighbours(0), (std::map<int32_t, int32_t>{{2, 1}}));
  EXPECT_EQ(s.neighbours(2), (std::map<int32_t, int32_t>{{0, 1}}));
  EXPECT_EQ(s.pairs[1].blen, 2);
  EXPECT_EQ(s.pairs[2].removed, 1);
  EXPECT_EQ(s.regions[0].bestp, 1);
  EXPECT_EQ(s.regions[2].bestp, 1);
  expect_invariants(s);
}

TEST(MergeStep, ANeighbourSwitchesToTheCheaperSurvivorAndItsOldEntryLeaves) {
  // Row x q a z = 0 1 2.1 1.5: (x,q) and (a,z) are mutually best. Merging a and
  // z gives (q, a+z) a cost below (x,q), so q switches; (x,q) leaves the merge
  // tree but keeps b = 1, as x still elects it.
  lambda_state s;
  ASSERT_EQ(s.build({0, 1, 2.1f, 1.5f}, {0, 1, 2, 3}, 4, 1, 1), 0);
  EXPECT_EQ(s.entries().size(), 2u);
  EXPECT_EQ(s.merge_min(), 2);
  EXPECT_LT(s.pairs[1].t, s.pairs[0].t);
  EXPECT_EQ(s.regions[1].bestp, 1);
  EXPECT_EQ(s.pairs[0].e, 0);
  EXPECT_EQ(s.pairs[0].b, 1);
  EXPECT_EQ(s.entries(), (std::map<int32_t, float>{{1, s.pairs[1].t}}));
  expect_invariants(s);
}

TEST(MergeStep, ThreeInARowMergeCheapestFirstAndRecostFromMergedMeans) {
  const float v0 = 0.0f, v1 = std::sqrt(2.0f), v2 = v1 + 2.0f;  // costs ~1 and ~2
  lambda_state s;
  ASSERT_EQ(s.build({v0, v1, v2}, {0, 1, 2}, 3, 1, 1), 0);
  EXPECT_LT(s.pairs[0].t, s.pairs[1].t);
  EXPECT_EQ(s.merge_min(), 0);
  const float mean = (v1 * 1.0f + v0 * 1.0f) / 2.0f;
  EXPECT_EQ(s.regions[0].gval[0], mean);
  const float d = (mean - v2) * (mean - v2);
  EXPECT_EQ(s.pairs[1].s, 1.0f * (2.0f * d) / 3.0f);
  EXPECT_EQ(s.pairs[1].t, s.pairs[1].s / 1.0f);
  EXPECT_EQ(s.entries(), (std::map<int32_t, float>{{1, s.pairs[1].t}}));
  EXPECT_EQ(s.merge_min(), 1);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(list_labels(s.lists[0]), (std::vector<uint32_t>{0, 1, 2}));
}

TEST(MergeStep, ASingleRegionHasAnEmptyMergeTree) {
  lambda_state s;
  ASSERT_EQ(s.build({1, 2}, {6, 6}, 2, 1, 1), 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.regions[s.pos(6)].bestp, -1);
}

// Random label images: few values in blobs, or every pixel its own label.
struct random_case {
  int32_t ncols, nrows, nbands;
  std::vector<uint32_t> labels;
  std::vector<float> image;
};

random_case make_case(std::mt19937 &rng) {
  random_case c;
  c.ncols = 1 + rng() % 9;
  c.nrows = 1 + rng() % 9;
  c.nbands = 1 + rng() % 3;
  const int32_t n = c.ncols * c.nrows;
  c.labels.resize(n);
  const bool own = rng() % 2;
  for (int32_t i = 0; i < n; ++i) {
    c.labels[i] = own ? static_cast<uint32_t>(i) * 3 + 1 : rng() % 5 * 1000;
    if (!own && i % c.ncols > 0 && rng() % 2) c.labels[i] = c.labels[i - 1];
  }
  c.image.resize(static_cast<size_t>(n) * c.nbands);
  // Coarse values make equal costs frequent, so the tie rules are exercised.
  for (auto &v : c.image) v = static_cast<float>(rng() % 4);
  return c;
}

TEST(MergeStep, InvariantsHoldAfterEveryMergeDownToOneRegion) {
  std::mt19937 rng(3);
  for (int round = 0; round < 300; ++round) {
    const random_case c = make_case(rng);
    lambda_state s;
    ASSERT_EQ(s.build(c.image, c.labels, c.ncols, c.nrows, c.nbands), 0);
    expect_invariants(s);
    int32_t regions = s.n_regions;
    while (s.count > 0) {
      const int32_t k = s.merge_min();
      --regions;
      EXPECT_EQ(s.pairs[k].removed, 1);
      expect_invariants(s);
      if (::testing::Test::HasFailure()) FAIL() << "round " << round << " after pair " << k;
    }
    // The grid is connected: one region is left, holding every pixel and label.
    EXPECT_EQ(regions, 1) << "round " << round;
    int32_t live = 0, area = 0;
    size_t labels = 0;
    for (int32_t p = 0; p < s.n_positions; ++p) {
      if (!s.live(p)) continue;
      ++live;
      area += s.regions[p].area;
      labels += list_labels(s.lists[p]).size();
    }
    EXPECT_EQ(live, 1);
    EXPECT_EQ(area, c.ncols * c.nrows);
    EXPECT_EQ(labels, static_cast<size_t>(s.n_regions));
  }
}

TEST(MergeStep, EveryAllocationFailureReleasesEverything) {
  std::mt19937 rng(9);
  random_case c = make_case(rng);
  c.ncols = 5;
  c.nrows = 4;
  c.nbands = 2;
  c.labels.resize(20);
  c.image.resize(40);
  for (int32_t i = 0; i < 20; ++i) c.labels[i] = static_cast<uint32_t>(i);
  for (int64_t fail_at = 1; fail_at < 100000; ++fail_at) {
    int32_t status = 0;
    bool done = false;
    const bool leaked = heap_probe::leaks([&] {
      lambda_state s;
      kavu_alloc_reset(fail_at);
      status = s.build(c.image, c.labels, c.ncols, c.nrows, c.nbands);
      int32_t a, z;
      while (status == 0 && s.count > 0) status = merge_run_merge_minimum(&s.run, &a, &z);
      done = kavu_alloc_count() < fail_at;
      kavu_alloc_reset();
    });
    EXPECT_EQ(status, done ? 0 : -1) << "allocation " << fail_at;
    EXPECT_FALSE(leaked) << "leak at allocation " << fail_at;
    if (done) break;
  }
}

}  // namespace
