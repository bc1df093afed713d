// The named merge steps one at a time (election, recosting, hand-over, vote
// repair, label lists) against the fused merge step, merge by merge to the
// last region, on random images with many equal costs.
#include "lambda_state.h"

#include "lambda/merge_step.h"
#include "tile/margins.h"

#include <random>

using lambda_test::lambda_state;

namespace {

// What a merge can change: every live pair and every region's vote and size.
void expect_same(const lambda_state &fused, const lambda_state &steps, int merge) {
  ASSERT_EQ(fused.run.candidates.size, steps.run.candidates.size) << merge;
  for (int32_t k = 0; k < fused.n_pairs; ++k) {
    const pair_rec &f = fused.pairs[k], &s = steps.pairs[k];
    ASSERT_EQ(f.removed, s.removed) << merge << " pair " << k;
    if (f.removed) continue;
    ASSERT_TRUE(f.t == s.t && f.s == s.s && f.r0 == s.r0 && f.r1 == s.r1 && f.blen == s.blen &&
                f.b == s.b && f.e == s.e)
        << merge << " pair " << k;
  }
  for (int32_t p = 0; p < fused.n_positions; ++p) {
    const region_rec &f = fused.regions[p], &s = steps.regions[p];
    ASSERT_EQ(f.area, s.area) << merge << " region " << p;
    ASSERT_EQ(f.bestp, s.bestp) << merge << " region " << p;
    // Between merges each region has elected its cheapest pair.
    float cost;
    if (s.area != 0 && s.n_nbrs != 0) {
      ASSERT_EQ(s.bestp, t_get_best_index_rbtree(&s, &cost, steps.pairs)) << merge;
    }
  }
}

// The merge of the cheapest candidate as its named steps.
void merge_by_steps(lambda_state &s) {
  merge_run &run = s.run;
  const int32_t k = candidate_heap_minimum(&run.candidates).pair_index;
  candidate_heap_remove_at(&run.candidates, run.candidates.place[k]);
  const int32_t a = s.pairs[k].r0, z = s.pairs[k].r1;
  region_rec &ra = s.regions[a];
  const region_rec &rz = s.regions[z];
  const int32_t n = ra.area + rz.area;
  for (int32_t b = 0; b < s.nbands; ++b)
    ra.gval[b] = (rz.gval[b] * float(rz.area) + ra.gval[b] * float(ra.area)) / float(n);
  ra.area = n;
  t_traverse_set_nplist_wid(&run, a, n);
  ASSERT_EQ(t_region_merge_update(&run, a, z), KAVU_OK);
  ASSERT_EQ(tile_merge_list_update(&run, a, z), KAVU_OK);
  t_update_merge_lbl(a, z, s.lists);
  s.pairs[k].removed = 1;
}

TEST(MergeSteps, OneAtATimeEqualTheFusedStep) {
  std::mt19937 rng(23);
  for (int round = 0; round < 40; ++round) {
    const int32_t ncols = 2 + int32_t(rng() % 12), nrows = 1 + int32_t(rng() % 12);
    const int32_t bands = 1 + int32_t(rng() % 3), n = ncols * nrows;
    std::vector<float> image(size_t(n) * bands);
    for (float &v : image) v = float(rng() % 4);  // few values: many equal costs
    std::vector<uint32_t> labels(n);
    for (uint32_t &l : labels) l = rng() % (round % 2 ? 6 : 40);
    lambda_state fused, steps;
    ASSERT_EQ(fused.build(image, labels, ncols, nrows, bands), KAVU_OK);
    ASSERT_EQ(steps.build(image, labels, ncols, nrows, bands), KAVU_OK);
    // The tile case's merge tree, built afresh, is the same.
    t_free_merge_tree(&steps.run.candidates);
    for (int32_t k = 0; k < steps.n_pairs; ++k) steps.pairs[k].b = steps.pairs[k].e = 0;
    ASSERT_EQ(tile_init_merge_tree(&steps.run), KAVU_OK);
    expect_same(fused, steps, -1);
    for (int merge = 0; merge_run_has_candidate(&fused.run); ++merge) {
      fused.merge_min();
      merge_by_steps(steps);
      expect_same(fused, steps, merge);
      if (HasFatalFailure()) return;
    }
    EXPECT_FALSE(merge_run_has_candidate(&steps.run));
  }
}

}  // namespace
