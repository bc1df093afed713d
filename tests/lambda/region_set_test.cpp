// Region hash and region set: positions, areas and means of small literal
// label images, masks, the reserved labels, and the release paths.
#include "lambda_state.h"

#include "containers/allocation.h"
#include "heap_probe.h"

#include <random>

using lambda_test::lambda_state;

namespace {

struct built_regions {
  open_hash hash{};
  int32_t n_positions = 0, n_regions = 0;
  region_rec *regions = nullptr;
  merge_lbl_list *lists = nullptr;
  ~built_regions() {
    t_free_merge_lbl_list(n_positions, lists);
    if (regions) t_free_region_set(n_positions, regions);
    open_hash_destroy(&hash);
  }
  int32_t build(const std::vector<float> &image, const std::vector<uint32_t> &labels,
                int32_t ncols, int32_t nrows, int32_t nbands, const uint8_t *mask = nullptr) {
    int32_t status =
        t_init_region_hash(labels.data(), ncols, nrows, &hash, &n_positions, &n_regions, mask);
    if (status != 0) return status;
    return t_init_region_set(image.data(), labels.data(), &hash, n_positions, ncols, nrows, nbands,
                             &regions, &lists, nullptr, 0, nullptr, 0, nullptr, nullptr, mask);
  }
};

TEST(RegionSet, LabelsBelowTheTableSizeSitAtTheirOwnPosition) {
  // 3 x 2, labels 0 ... 5 each once, two bands.
  const std::vector<uint32_t> labels = {3, 0, 5, 1, 4, 2};
  const std::vector<float> image = {1, 2, 3, 4, 5, 6, 10, 20, 30, 40, 50, 60};
  built_regions b;
  ASSERT_EQ(b.build(image, labels, 3, 2, 2), 0);
  EXPECT_EQ(b.n_regions, 6);
  EXPECT_EQ(b.n_positions, 16);
  for (int32_t i = 0; i < 6; ++i) {
    const uint32_t l = labels[i];
    EXPECT_EQ(b.hash.slots[l], l);
    EXPECT_EQ(b.regions[l].area, 1);
    EXPECT_EQ(b.regions[l].gval[0], image[i]);
    EXPECT_EQ(b.regions[l].gval[1], image[6 + i]);
    EXPECT_EQ(b.regions[l].bestp, -1);
    EXPECT_EQ(b.regions[l].n_nbrs, 0);
    ASSERT_NE(b.lists[l].head, nullptr);
    EXPECT_EQ(b.lists[l].head->label, l);
    EXPECT_EQ(b.lists[l].head->next, nullptr);
  }
  for (int32_t p = 6; p < 16; ++p) {
    EXPECT_EQ(b.regions[p].area, 0);
    EXPECT_EQ(b.regions[p].gval[0], 0.0f);
    EXPECT_EQ(b.lists[p].head, nullptr);
    EXPECT_EQ(b.regions[p].nbrs, nullptr);
  }
}

TEST(RegionSet, OneLabelIsOneRegionWithTheBandMeans) {
  const std::vector<uint32_t> labels(12, 77);
  std::vector<float> image(24);
  for (int i = 0; i < 24; ++i) image[i] = static_cast<float>(i) * 0.1f;
  built_regions b;
  ASSERT_EQ(b.build(image, labels, 4, 3, 2), 0);
  EXPECT_EQ(b.n_positions, 2);
  EXPECT_EQ(b.n_regions, 1);
  const int32_t p = 77 & 1;
  EXPECT_EQ(b.regions[p].area, 12);
  for (int band = 0; band < 2; ++band) {
    float sum = 0.0f;  // row order, single precision
    for (int i = 0; i < 12; ++i) sum += image[band * 12 + i];
    EXPECT_EQ(b.regions[p].gval[band], sum / 12.0f);
  }
}

TEST(RegionSet, SumsFollowRowOrderInSinglePrecision) {
  // Values whose float sum depends on the order of addition.
  const std::vector<uint32_t> labels = {1, 1, 1, 1};
  const std::vector<float> image = {1e8f, 1.0f, -1e8f, 1.0f};
  built_regions b;
  ASSERT_EQ(b.build(image, labels, 2, 2, 1), 0);
  int32_t p;
  ASSERT_EQ(open_hash_lookup(&b.hash, 1, &p), 0);
  EXPECT_EQ(b.regions[p].gval[0], (((1e8f + 1.0f) + -1e8f) + 1.0f) / 4.0f);
}

TEST(RegionSet, AMaskWithoutPixelsGivesNoRegion) {
  const std::vector<uint32_t> labels = {1, 2, 3, 4};
  const std::vector<uint8_t> mask(4, 0);
  built_regions b;
  ASSERT_EQ(b.build({1, 2, 3, 4}, labels, 2, 2, 1, mask.data()), 0);
  EXPECT_EQ(b.n_positions, 2);
  EXPECT_EQ(b.n_regions, 0);
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(b.regions[p].area, 0);
    EXPECT_EQ(b.lists[p].head, nullptr);
  }
}

TEST(RegionSet, MaskedPixelsTakeNoPart) {
  const std::vector<uint32_t> labels = {1, 1, 2, 2};
  const std::vector<uint8_t> mask = {1, 0, 1, 1};
  built_regions b;
  ASSERT_EQ(b.build({4, 100, 2, 6}, labels, 2, 2, 1, mask.data()), 0);
  int32_t p1, p2;
  ASSERT_EQ(open_hash_lookup(&b.hash, 1, &p1), 0);
  ASSERT_EQ(open_hash_lookup(&b.hash, 2, &p2), 0);
  EXPECT_EQ(b.regions[p1].area, 1);
  EXPECT_EQ(b.regions[p1].gval[0], 4.0f);
  EXPECT_EQ(b.regions[p2].area, 2);
  EXPECT_EQ(b.regions[p2].gval[0], 4.0f);
}

TEST(RegionSet, AMaskThatHidesEveryCollectedPixelOfALabelFailsTheBuild) {
  // Label 2 is collected only where it differs from both neighbours: at (0, 1),
  // which the mask drops; its unmasked pixel (1, 1) has label 2 to its left.
  const std::vector<uint32_t> labels = {1, 1, 2, 2};
  const std::vector<uint8_t> mask = {1, 1, 0, 1};
  built_regions b;
  EXPECT_EQ(b.build({1, 2, 3, 4}, labels, 2, 2, 1, mask.data()), -3);
  EXPECT_EQ(b.regions, nullptr);
  EXPECT_EQ(b.lists, nullptr);
}

TEST(RegionSet, ReservedLabelsAreRefusedNotStored) {
  for (const uint32_t reserved : {OPEN_HASH_EMPTY, OPEN_HASH_DELETED}) {
    const std::vector<uint32_t> labels = {5, reserved, 5, 6};
    built_regions b;
    EXPECT_EQ(b.build({1, 2, 3, 4}, labels, 2, 2, 1), -2) << reserved;
    EXPECT_EQ(b.hash.slots, nullptr);
  }
}

TEST(RegionSet, FreeingNothingIsHarmless) {
  t_free_region_set(0, kavu_alloc_zeroed<region_rec>(3));
  t_free_merge_lbl_list(5, nullptr);
}

TEST(RegionSet, EveryAllocationFailureReleasesEverything) {
  std::mt19937 rng(7);
  std::vector<uint32_t> labels(6 * 5);
  for (auto &l : labels) l = rng() % 9 * 1000;
  std::vector<float> image(2 * labels.size(), 1.5f);
  for (int64_t fail_at = 1; fail_at < 100000; ++fail_at) {
    int32_t status = 0;
    const bool leaked = heap_probe::leaks([&] {
      kavu_alloc_reset(fail_at);
      built_regions b;
      status = b.build(image, labels, 6, 5, 2);
      kavu_alloc_reset();
    });
    EXPECT_FALSE(leaked) << "leak at allocation " << fail_at;
    if (status == 0) break;
    EXPECT_EQ(status, -1) << fail_at;
  }
}

}  // namespace
