// Margins: renumbering of a tile's labels against the border labels of earlier
// tiles, the continued regions' preset statistics, and cross-border pairs.
#include "share_files.h"
#include "tile_structures.h"

#include "containers/allocation.h"
#include "tile/margins.h"
#include "tile/share_reginfo.h"


#include <set>

namespace {

using namespace tile_test;

struct Renumbered {
  std::vector<uint32_t> labels;
  std::set<uint32_t> regions;  // keys of the region hash
  std::set<uint32_t> continued;  // keys of ml_curr_hash
  int32_t n_regions = 0;
  int32_t status = 0;
};

std::set<uint32_t> keys_of(const open_hash &h) {
  std::set<uint32_t> keys;
  for (int32_t p = 0; p < h.n_positions; ++p)
    if (open_hash_pos_valid(&h, p)) keys.insert(h.slots[p]);
  return keys;
}

Renumbered renumber(std::vector<uint32_t> labels, int32_t ncols, int32_t nrows, const std::vector<uint32_t> &vlbl,
                    const std::vector<uint32_t> &hlbl, uint32_t start, const std::vector<uint8_t> &mask = {}) {
  Renumbered r;
  open_hash region_hash{}, ml_curr{};
  int32_t n_positions = 0, ml_positions = 0;
  r.status = tile_init_region_hash(labels.data(), ncols, nrows, vlbl.empty() ? nullptr : vlbl.data(),
                                   hlbl.empty() ? nullptr : hlbl.data(), start, &region_hash, &n_positions,
                                   &r.n_regions, &ml_positions, &ml_curr, mask.empty() ? nullptr : mask.data());
  r.labels = labels;
  if (r.status == 0) {
    r.regions = keys_of(region_hash);
    r.continued = keys_of(ml_curr);
    EXPECT_EQ(n_positions, region_hash.n_positions);
    EXPECT_EQ(ml_positions, ml_curr.n_positions);
  }
  open_hash_destroy(&region_hash);
  open_hash_destroy(&ml_curr);
  return r;
}

TEST(TileInitRegionHash, RenumbersInOrderOfFirstAppearance) {
  const Renumbered r = renumber({9, 4, 9, 7}, 2, 2, {}, {}, 5);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.labels, (std::vector<uint32_t>{5, 6, 5, 7}));
  EXPECT_EQ(r.n_regions, 3);
  EXPECT_EQ(r.regions, (std::set<uint32_t>{5, 6, 7}));
  EXPECT_TRUE(r.continued.empty());
}

TEST(TileInitRegionHash, LabelZeroInsideTheTileIsRenumberedLikeAnyOther) {
  const Renumbered r = renumber({0, 3, 0, 3}, 2, 2, {}, {}, 20);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.labels, (std::vector<uint32_t>{20, 21, 20, 21}));
}

TEST(TileInitRegionHash, FirstLineLabelsTakeTheirSecondLineLabels) {
  // 3 x 3 tile. Label 8 is on both first lines: the vertical margin's partner
  // (100) wins. Label 4 is on the vertical first line at rows 1 and 2 with
  // partners 101 and 102: the first row's wins.
  const std::vector<uint32_t> tile = {8, 8, 6,  //
                                      4, 6, 6,  //
                                      4, 4, 6};
  const std::vector<uint32_t> vlbl = {8, 4, 4, /**/ 100, 101, 102};
  const std::vector<uint32_t> hlbl = {8, 0, 3, /**/ 200, 0, 203};
  const Renumbered r = renumber(tile, 3, 3, vlbl, hlbl, 50);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.labels, (std::vector<uint32_t>{100, 100, 50, 101, 50, 50, 101, 101, 50}));
  EXPECT_EQ(r.n_regions, 1);  // only the tile's own label 6 is counted
  // Every non-zero second-line label is a region, carried by a pixel or not.
  EXPECT_EQ(r.continued, (std::set<uint32_t>{100, 101, 102, 200, 203}));
  EXPECT_EQ(r.regions, (std::set<uint32_t>{50, 100, 101, 102, 200, 203}));
}

TEST(TileInitRegionHash, MaskedPixelsKeepTheirLabels) {
  const Renumbered r = renumber({9, 4, 9, 7}, 2, 2, {}, {}, 5, {1, 0, 1, 1});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.labels, (std::vector<uint32_t>{5, 4, 5, 6}));
  EXPECT_EQ(r.n_regions, 2);
}

// The tables' slot markers as labels would seem stored while their slot reads
// empty, renumbering every pixel afresh.
TEST(TileInitRegionHash, SlotMarkerLabelsAreRefusedAsInsertionFailures) {
  EXPECT_EQ(renumber({9, 0xFFFFFFFFu, 9, 0xFFFFFFFFu}, 2, 2, {}, {}, 5).status, -2);
  EXPECT_EQ(renumber({9, 4, 9, 4}, 2, 2, {0xFFFFFFFEu, 4, 100, 101}, {}, 5).status, -2);
  EXPECT_EQ(renumber({9, 4, 9, 4}, 2, 2, {}, {9, 4, 100, 0xFFFFFFFFu}, 5).status, -2);
}

TEST(TileInitRegionHash, WithoutMarginsTheContinuedTableIsEmptyButExists) {
  open_hash region_hash{}, ml_curr{};
  int32_t n_positions = 0, n_regions = 0, ml_positions = 0;
  std::vector<uint32_t> labels = {1, 2};
  ASSERT_EQ(tile_init_region_hash(labels.data(), 2, 1, nullptr, nullptr, 0, &region_hash, &n_positions,
                                  &n_regions, &ml_positions, &ml_curr, nullptr),
            0);
  EXPECT_EQ(ml_positions, 2);
  EXPECT_EQ(ml_curr.n_stored, 0);
  open_hash_destroy(&region_hash);
  open_hash_destroy(&ml_curr);
}

TEST(TileInitRegionHash, EveryAllocationFailureIsMemoryAndLeavesNothingBehind) {
  const std::vector<uint32_t> vlbl = {8, 4, 4, 100, 101, 102};
  for (int64_t fail_at = 1;; ++fail_at) {
    const int64_t before = kavu_alloc_live();
    kavu_alloc_reset(fail_at);
    const Renumbered r = renumber({8, 8, 6, 4, 6, 6, 4, 4, 6}, 3, 3, vlbl, {}, 50);
    const int64_t made = kavu_alloc_count();
    kavu_alloc_reset();
    if (made < fail_at) {
      EXPECT_EQ(r.status, 0);
      break;
    }
    EXPECT_EQ(r.status, -1) << fail_at;
    EXPECT_EQ(kavu_alloc_live(), before) << fail_at;
  }
}

// tile_update_merge over a 3 x 3 output image.
std::vector<std::pair<int32_t, int32_t>> pairs_of(aptree *tree) {
  ap_ids *ids = nullptr;
  EXPECT_EQ(init_ap_ids(&ids, 100000), 0);
  int32_t count = 0;
  EXPECT_EQ(aptree_traverse(tree, &count, ids), 0);
  std::vector<std::pair<int32_t, int32_t>> out;
  for (int32_t i = 0; i < count; ++i) out.emplace_back(ids->ids[i].hash1, ids->ids[i].hash2);
  free_ap_ids(ids);
  return out;
}

TEST(TileUpdateMerge, RecordsPairsOnlyWhereTheBorderPixelCarriedTheFirstLineLabel) {
  const std::vector<uint32_t> out = {60, 61, 61,  //
                                     60, 62, 62,  //
                                     0, 62, 62};
  // Rows: 0 continues 4 -> 100 (pair 100/60); 1 carried another label (no
  // pair); 2 has output 0 (no pair). Columns: 0 continues into 60, partner 60
  // (equal, no pair); 1 continues 5 -> 7 (pair 61/7); 2 partner 0 (no pair).
  const std::vector<uint32_t> vlbl = {4, 4, 4, /**/ 100, 101, 102};
  const std::vector<uint32_t> first_col = {4, 9, 4};
  const std::vector<uint32_t> hlbl = {4, 5, 6, /**/ 60, 7, 0};
  const std::vector<uint32_t> first_row = {4, 5, 6};
  aptree *tree = aptree_create();
  ASSERT_TRUE(tree);
  ASSERT_TRUE(aptree_insert(tree, ap_pair{100, 60, 0}));  // from IN_MERGE_LIST: not added again
  ASSERT_EQ(tile_update_merge(out.data(), 3, 3, vlbl.data(), hlbl.data(), first_col.data(), first_row.data(), tree),
            0);
  EXPECT_EQ(pairs_of(tree), (std::vector<std::pair<int32_t, int32_t>>{{61, 7}, {100, 60}}));
  aptree_destroy(tree);
}

TEST(TileUpdateMerge, FirstLineLabelZeroIsNoRegion) {
  const std::vector<uint32_t> out = {60, 60, 60, 60};
  const std::vector<uint32_t> vlbl = {0, 0, /**/ 100, 101};
  const std::vector<uint32_t> first_col = {0, 0};
  aptree *tree = aptree_create();
  ASSERT_EQ(tile_update_merge(out.data(), 2, 2, vlbl.data(), nullptr, first_col.data(), nullptr, tree), 0);
  EXPECT_TRUE(pairs_of(tree).empty());
  aptree_destroy(tree);
}

TEST(TileUpdateMerge, SameFirstLineLabelAtTwoRows) {
  // After renumbering both rows carry 101 (the first row's partner); the second
  // row's partner 102 is recorded against the output there.
  const std::vector<uint32_t> out = {101, 101, 101, 101};
  const std::vector<uint32_t> vlbl = {4, 4, /**/ 101, 102};
  const std::vector<uint32_t> first_col = {4, 4};
  aptree *tree = aptree_create();
  ASSERT_EQ(tile_update_merge(out.data(), 2, 2, vlbl.data(), nullptr, first_col.data(), nullptr, tree), 0);
  EXPECT_EQ(pairs_of(tree), (std::vector<std::pair<int32_t, int32_t>>{{102, 101}}));
  aptree_destroy(tree);
}

TEST(TileUpdateMerge, RefusedInsertionIsMemory) {
  const std::vector<uint32_t> out = {60, 60, 60, 60};
  const std::vector<uint32_t> vlbl = {4, 4, /**/ 100, 101};
  const std::vector<uint32_t> first_col = {4, 4};
  aptree *tree = aptree_create();
  kavu_alloc_reset(1);
  EXPECT_EQ(tile_update_merge(out.data(), 2, 2, vlbl.data(), nullptr, first_col.data(), nullptr, tree), -1);
  kavu_alloc_reset();
  aptree_destroy(tree);
}

// tile_init_margin_region_set: presets from the share info file.
struct MarginRegionSet : ::testing::Test {
  TempDir dir;
  std::string base = dir.file("share");
  LabelTable table{{50, 100, 101}};
  Regions regions{table, 2, {}};
  LabelTable continued{{100, 101}};

  int32_t preset() {
    ShareStreams s(base);
    open_hash share{};
    int32_t n_shared = 0, share_positions = 0;
    int32_t *rec_map = nullptr;
    int32_t status = tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map);
    if (status == 0)
      status = tile_init_margin_region_set(&share, share_positions, rec_map, 2, continued.n_positions,
                                           &continued.h, regions.set.data(), &table.h, table.n_positions,
                                           s.info);
    if (share_positions) open_hash_destroy(&share);
    kavu_free(rec_map);
    return status;
  }
};

TEST_F(MarginRegionSet, PresetsAreaAndBandSums) {
  write_share_files(base, {{7, 1, {0, 0}}, {101, 3, {0.5f, 2.0f}}, {100, 4, {1.25f, -1.0f}}});
  ASSERT_EQ(preset(), 0);
  const region_rec &r100 = regions.set[size_t(table.pos(100))];
  const region_rec &r101 = regions.set[size_t(table.pos(101))];
  EXPECT_EQ(r100.area, 4);
  EXPECT_EQ(r100.gval[0], 5.0f);
  EXPECT_EQ(r100.gval[1], -4.0f);
  EXPECT_EQ(r101.area, 3);
  EXPECT_EQ(r101.gval[0], 1.5f);
  EXPECT_EQ(r101.gval[1], 6.0f);
  EXPECT_EQ(regions.set[size_t(table.pos(50))].area, 0);
}

TEST_F(MarginRegionSet, SecondLineLabelNotInTheIndexIsKeyNotFound) {
  write_share_files(base, {{100, 4, {1.25f, -1.0f}}});
  EXPECT_EQ(preset(), -3);
}

TEST_F(MarginRegionSet, TruncatedInfoFileIsAFileError) {
  write_share_files(base, {{101, 3, {0.5f, 2.0f}}, {100, 4, {1.25f, -1.0f}}});
  auto info = read_bytes(base + ".info");
  info.resize(info.size() - 2);
  write_bytes(base + ".info", info);
  EXPECT_EQ(preset(), -4);
}

TEST_F(MarginRegionSet, RefusedBufferIsMemory) {
  write_share_files(base, {{101, 3, {0.5f, 2.0f}}, {100, 4, {1.25f, -1.0f}}});
  ShareStreams s(base);
  open_hash share{};
  int32_t n_shared = 0, share_positions = 0;
  int32_t *rec_map = nullptr;
  ASSERT_EQ(tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map), 0);
  kavu_alloc_reset(1);
  EXPECT_EQ(tile_init_margin_region_set(&share, share_positions, rec_map, 2, continued.n_positions, &continued.h,
                                        regions.set.data(), &table.h, table.n_positions, s.info),
            -1);
  kavu_alloc_reset();
  open_hash_destroy(&share);
  kavu_free(rec_map);
}

}  // namespace
