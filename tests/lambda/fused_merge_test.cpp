// The fused merge step against the named steps (whose vote repair always
// re-elects) where the step test does not go: a background bordering many
// small regions, whose votes for it are kept without an election when their
// pair gets no dearer, and values with NaN, infinities and huge numbers, where
// that shortcut must be off (a NaN first in a list wins a scan). The windows
// also take the pair keys' sort through two counting passes.
#include "lambda_state.h"

#include "lambda/merge_step.h"

#include <cmath>
#include <random>

namespace {

void merge_by_steps(lambda_test::lambda_state &s) {
  const int32_t k = candidate_heap_minimum(&s.run.candidates).pair_index;
  candidate_heap_remove_at(&s.run.candidates, s.run.candidates.place[k]);
  const int32_t a = s.pairs[k].r0, z = s.pairs[k].r1;
  region_rec &ra = s.regions[a], &rz = s.regions[z];
  const int32_t n = ra.area + rz.area;
  for (int32_t b = 0; b < s.nbands; ++b)
    ra.gval[b] = (rz.gval[b] * float(rz.area) + ra.gval[b] * float(ra.area)) / float(n);
  ra.area = n;
  t_traverse_set_nplist_wid(&s.run, a, n);
  ASSERT_EQ(t_region_merge_update(&s.run, a, z), KAVU_OK);
  ASSERT_EQ(t_merge_list_update(&s.run, a, z), KAVU_OK);
  s.pairs[k].removed = 1;
}

TEST(FusedMerge, EqualsTheStepsWithABackgroundAndWithValuesThatAreNotNumbers) {
  const float odd_values[] = {NAN, INFINITY, -INFINITY, 3e38f, -3e38f, 1e29f};
  std::mt19937 rng(5);
  for (int round = 0; round < 24; ++round) {
    const bool odd = round % 3 == 2;
    const int32_t ncols = 20 + int32_t(rng() % 30), nrows = 20 + int32_t(rng() % 30);
    const int32_t bands = 1 + round % 4, n = ncols * nrows;
    // Level 0 is one background region; the others' 2 x 2 blocks are regions.
    std::vector<uint32_t> labels(static_cast<size_t>(n));
    std::vector<float> image(static_cast<size_t>(n) * bands);
    for (int32_t i = 0; i < n; ++i) {
      const uint32_t level = rng() % 5 < 3 ? 0 : 1 + rng() % 6;
      labels[i] = level == 0 ? 1u : 2u + uint32_t(i / ncols / 2 * ncols + i % ncols / 2);
      for (int32_t b = 0; b < bands; ++b)
        image[size_t(b) * n + i] =
            odd && level != 0 && rng() % 8 == 0 ? odd_values[rng() % 6] : float(level + rng() % 3);
    }
    lambda_test::lambda_state fused, steps;
    ASSERT_EQ(fused.build(image, labels, ncols, nrows, bands), KAVU_OK);
    ASSERT_EQ(steps.build(image, labels, ncols, nrows, bands), KAVU_OK);
    ASSERT_EQ(fused.run.costs_are_numbers, !odd) << round;
    for (int merge = 0; merge_run_has_candidate(&fused.run); ++merge) {
      ASSERT_EQ(fused.merge_min(), candidate_heap_minimum(&steps.run.candidates).pair_index);
      merge_by_steps(steps);
      for (int32_t k = 0; k < fused.n_pairs && !HasFatalFailure(); ++k) {
        const pair_rec &f = fused.pairs[k], &s = steps.pairs[k];
        const bool same_t = f.t == s.t || (std::isnan(f.t) && std::isnan(s.t));
        ASSERT_TRUE(f.removed == s.removed &&
                    (f.removed || (same_t && f.blen == s.blen && f.b == s.b && f.e == s.e)))
            << round << " merge " << merge << " pair " << k;
      }
      for (int32_t p = 0; p < fused.n_positions; ++p)
        ASSERT_EQ(fused.regions[p].bestp, steps.regions[p].bestp) << merge << " region " << p;
    }
  }
}

}  // namespace
