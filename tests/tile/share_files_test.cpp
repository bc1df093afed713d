// The share files byte for byte: what a tile reads, appends and refreshes, in
// which order, and how damaged files are refused.
#include "share_files.h"
#include "tile_structures.h"

#include "containers/allocation.h"
#include "tile/share_reginfo.h"


namespace {

using namespace tile_test;

// Labels of a 4 x 3 tile, used as both input and output labels. Right column
// top to bottom: 2, 4, 4; bottom row left to right: 5, 5, 6, 4 (the corner 4
// again). Region 1 and 3 touch neither.
const std::vector<uint32_t> kTile = {1, 1, 2, 2,  //
                                     1, 3, 3, 4,  //
                                     5, 5, 6, 4};
const std::map<uint32_t, std::pair<int32_t, std::vector<float>>> kStats = {
    {1, {3, {1.0f, 2.0f, 3.0f}}},      {2, {2, {0.5f, -1.0f, 7.25f}}}, {3, {2, {9.0f, 9.0f, 9.0f}}},
    {4, {2, {4.0f, 0.125f, 1e6f}}},    {5, {2, {-3.5f, 0.0f, 2.0f}}}, {6, {1, {100.0f, 200.0f, 300.0f}}}};

struct ShareFixture : ::testing::Test {
  TempDir dir;
  std::string base = dir.file("share");
  LabelTable table{{1, 2, 3, 4, 5, 6}};
  Regions regions{table, 3, kStats};

  void SetUp() override { write_bytes(base + ".info", {}); }

  // One tile end with no shared regions continued.
  int32_t publish(const std::vector<uint32_t> &out, int32_t *n_shared, const std::vector<uint32_t> &in = kTile) {
    ShareStreams s(base);
    open_hash share{};
    int32_t share_positions = 0;
    int32_t *rec_map = nullptr;
    int32_t status = tile_read_share_reginfo(s.idx, n_shared, &share, &share_positions, &rec_map);
    if (status == 0)
      status = tile_update_share_reginfo(in.data(), out.data(), 4, 3, 3, &table.h, regions.set.data(),
                                         regions.owner.data(), s.idx, s.info, n_shared, &share,
                                         share_positions, rec_map, nullptr, 0);
    if (share_positions) open_hash_destroy(&share);
    kavu_free(rec_map);
    return status;
  }

  void expect_record(const ShareRecord &r, uint32_t label) {
    EXPECT_EQ(r.label, label);
    const auto &[area, means] = kStats.at(label);
    EXPECT_EQ(r.area, area) << label;
    EXPECT_EQ(r.means, means) << label;
  }
};

TEST_F(ShareFixture, FirstTileOnEmptyIndexAppendsRightColumnThenBottomRowOnce) {
  write_bytes(base + ".idx", {});
  int32_t n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  EXPECT_EQ(n_shared, 4);
  const auto records = parse_share_files(base, 3);
  ASSERT_EQ(records.size(), 4u);
  expect_record(records[0], 2);
  expect_record(records[1], 4);  // met first on the right column, not again at the corner
  expect_record(records[2], 5);
  expect_record(records[3], 6);
}

TEST_F(ShareFixture, ZeroCountIndexGivesTheSameBytesAsAnEmptyOne) {
  write_bytes(base + ".idx", {});
  int32_t n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  const auto from_empty_idx = read_bytes(base + ".idx");
  const auto from_empty_info = read_bytes(base + ".info");

  write_bytes(base + ".idx", {0, 0, 0, 0});
  write_bytes(base + ".info", {});
  n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  EXPECT_EQ(read_bytes(base + ".idx"), from_empty_idx);
  EXPECT_EQ(read_bytes(base + ".info"), from_empty_info);
}

TEST_F(ShareFixture, RecordOffsetsWithThreeBands) {
  write_bytes(base + ".idx", {});
  int32_t n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  const auto idx = read_bytes(base + ".idx");
  const auto info = read_bytes(base + ".info");
  ASSERT_EQ(idx.size(), 20u);
  ASSERT_EQ(info.size(), 64u);
  EXPECT_EQ(get_u32(idx, 0), 4u);
  EXPECT_EQ(get_u32(idx, 12), 5u);                 // label of record 2
  EXPECT_EQ(get_u32(info, 32), 2u);                 // record 2 (label 5) starts at byte 32 ...
  EXPECT_EQ(get_f32(info, 36), -3.5f);              // ... and its means at byte 36
  EXPECT_EQ(get_f32(info, 44), 2.0f);
  EXPECT_EQ(get_u32(info, 48), 1u);                 // record 3 follows at 48
  // Little-endian whatever the machine: the count's low byte comes first.
  EXPECT_EQ(std::vector<uint8_t>(idx.begin(), idx.begin() + 4), (std::vector<uint8_t>{4, 0, 0, 0}));
}

TEST_F(ShareFixture, BorderLabelZeroIsNeverPublished) {
  write_bytes(base + ".idx", {});
  std::vector<uint32_t> out = kTile;
  out[3] = 0;   // right column, row 0
  out[8] = 0;   // bottom row, column 0
  out[9] = 0;
  int32_t n_shared = 0;
  ASSERT_EQ(publish(out, &n_shared), 0);
  const auto records = parse_share_files(base, 3);
  ASSERT_EQ(records.size(), 2u);
  expect_record(records[0], 4);
  expect_record(records[1], 6);
}

TEST_F(ShareFixture, OutputLabelOfTheSurvivorWithTheSurvivorsStatistics) {
  // Label 6 was absorbed into region 3 and the output image says so: record
  // for output label 3, statistics of the surviving record.
  write_bytes(base + ".idx", {});
  regions.owner[size_t(table.pos(6))] = table.pos(3);
  std::vector<uint32_t> out = kTile;
  out[10] = 3;
  int32_t n_shared = 0;
  ASSERT_EQ(publish(out, &n_shared), 0);
  const auto records = parse_share_files(base, 3);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].label, 3u);
  EXPECT_EQ(records[3].area, 2);
  EXPECT_EQ(records[3].means, (std::vector<float>{9.0f, 9.0f, 9.0f}));
}

TEST_F(ShareFixture, TileWithNothingNewRewritesTheCountAndAppendsNothing) {
  write_share_files(base, {{9, 1, {1, 1, 1}}, {2, 1, {1, 1, 1}}, {4, 1, {1, 1, 1}},
                           {5, 1, {1, 1, 1}}, {6, 1, {1, 1, 1}}});
  const auto idx_before = read_bytes(base + ".idx");
  const auto info_before = read_bytes(base + ".info");
  int32_t n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  EXPECT_EQ(n_shared, 5);
  EXPECT_EQ(read_bytes(base + ".idx"), idx_before);
  EXPECT_EQ(read_bytes(base + ".info"), info_before);
}

TEST_F(ShareFixture, SecondTileAppendsAfterExistingRecords) {
  write_share_files(base, {{2, 7, {1, 2, 3}}});
  int32_t n_shared = 0;
  ASSERT_EQ(publish(kTile, &n_shared), 0);
  const auto records = parse_share_files(base, 3);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].area, 7);  // already shared: kept, not refreshed (not continued)
  expect_record(records[1], 4);
  expect_record(records[2], 5);
  expect_record(records[3], 6);
}

TEST_F(ShareFixture, LabelListedTwiceUsesAndRefreshesOnlyItsFirstRecord) {
  write_share_files(base, {{7, 10, {1, 1, 1}}, {3, 20, {2, 2, 2}}, {7, 30, {3, 3, 3}}});
  LabelTable tile_table{{7, 12}};
  Regions tile_regions{tile_table, 3, {{7, {40, {5, 6, 7}}}, {12, {41, {8, 9, 10}}}}};
  tile_regions.owner[size_t(tile_table.pos(7))] = tile_table.pos(12);  // 7 absorbed by 12
  LabelTable continued{{7}};
  const std::vector<uint32_t> labels(12, 0);  // no region on the border
  {
    ShareStreams s(base);
    open_hash share{};
    int32_t n_shared = 0, share_positions = 0;
    int32_t *rec_map = nullptr;
    ASSERT_EQ(tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map), 0);
    EXPECT_EQ(n_shared, 3);
    int32_t slot;
    ASSERT_EQ(open_hash_lookup(&share, 7, &slot), 0);
    EXPECT_EQ(rec_map[slot], 0);
    EXPECT_EQ(tile_update_share_reginfo(labels.data(), labels.data(), 4, 3, 3, &tile_table.h,
                                        tile_regions.set.data(), tile_regions.owner.data(), s.idx, s.info,
                                        &n_shared, &share, share_positions, rec_map, &continued.h,
                                        continued.n_positions),
              0);
    open_hash_destroy(&share);
    kavu_free(rec_map);
  }
  const auto records = parse_share_files(base, 3);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].label, 7u);
  EXPECT_EQ(records[0].area, 41);  // the survivor's statistics under the continued label
  EXPECT_EQ(records[0].means, (std::vector<float>{8, 9, 10}));
  EXPECT_EQ(records[1].area, 20);
  EXPECT_EQ(records[2].area, 30);  // the second record of 7 is never touched
}

TEST_F(ShareFixture, ContinuedLabelMissingFromTheIndexIsKeyNotFound) {
  write_share_files(base, {{3, 20, {2, 2, 2}}});
  LabelTable continued{{7}};
  LabelTable tile_table{{7}};
  Regions tile_regions{tile_table, 3, {}};
  const std::vector<uint32_t> labels(12, 0);
  ShareStreams s(base);
  open_hash share{};
  int32_t n_shared = 0, share_positions = 0;
  int32_t *rec_map = nullptr;
  ASSERT_EQ(tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map), 0);
  EXPECT_EQ(tile_update_share_reginfo(labels.data(), labels.data(), 4, 3, 3, &tile_table.h,
                                      tile_regions.set.data(), tile_regions.owner.data(), s.idx, s.info,
                                      &n_shared, &share, share_positions, rec_map, &continued.h,
                                      continued.n_positions),
            -3);
  open_hash_destroy(&share);
  kavu_free(rec_map);
}

TEST_F(ShareFixture, BorderPixelWhoseInputLabelIsNotARegionIsKeyNotFound) {
  write_bytes(base + ".idx", {});
  std::vector<uint32_t> in = kTile;
  in[3] = 77;
  int32_t n_shared = 0;
  EXPECT_EQ(publish(kTile, &n_shared, in), -3);
}

// Reading damaged index files: never a silent wrong result.
struct DamagedIndex : ShareFixture, ::testing::WithParamInterface<std::vector<uint8_t>> {};

TEST_P(DamagedIndex, IsAFileError) {
  write_bytes(base + ".idx", GetParam());
  ShareStreams s(base);
  open_hash share{};
  int32_t n_shared = 0, share_positions = 0;
  int32_t *rec_map = nullptr;
  EXPECT_EQ(tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map), -4);
  EXPECT_EQ(share_positions, 0);
  EXPECT_EQ(rec_map, nullptr);
}

std::vector<uint8_t> count_then_labels(uint32_t count, std::vector<uint32_t> labels) {
  std::vector<uint8_t> b;
  put_u32(b, count);
  for (uint32_t l : labels) put_u32(b, l);
  return b;
}

INSTANTIATE_TEST_SUITE_P(ShareRead, DamagedIndex,
                         ::testing::Values(std::vector<uint8_t>{3, 0},                      // short count
                                           count_then_labels(3, {5, 6}),                    // short labels
                                           count_then_labels(0xFFFFFFFFu, {5})));           // negative count

TEST_F(ShareFixture, ReadBuildsTheLookupByRecordNumber) {
  write_share_files(base, {{40, 1, {}}, {0, 1, {}}, {1000000, 1, {}}});
  ShareStreams s(base);
  open_hash share{};
  int32_t n_shared = 0, share_positions = 0;
  int32_t *rec_map = nullptr;
  ASSERT_EQ(tile_read_share_reginfo(s.idx, &n_shared, &share, &share_positions, &rec_map), 0);
  EXPECT_EQ(n_shared, 3);
  EXPECT_EQ(share_positions, 8);
  const uint32_t labels[] = {40, 0, 1000000};
  for (int32_t r = 0; r < 3; ++r) {
    int32_t slot;
    ASSERT_EQ(open_hash_lookup(&share, labels[r], &slot), 0);
    EXPECT_EQ(rec_map[slot], r);
  }
  open_hash_destroy(&share);
  kavu_free(rec_map);
}

TEST_F(ShareFixture, PrintListsEveryRecord) {
  write_share_files(base, {{2, 5, {1.5f, 0.25f}}, {0x80000001u, 7, {-2.0f, 1e-3f}}});
  ShareStreams s(base);
  FILE *out = std::tmpfile();
  ASSERT_TRUE(out);
  t_print_share_reginfo(s.idx, s.info, 2, out);
  std::rewind(out);
  char text[512] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(text, n),
            "id: 2, area: 5, gval*1000: 1500.0000008.3 250.0000008.3 \n"
            "id: -2147483647, area: 7, gval*1000: -2000.0000008.3 1.0000008.3 \n");
}

// Module blocks alive; allocation failures must leave the count where it was.
int64_t heap_in_use() { return kavu_alloc_live(); }

TEST_F(ShareFixture, EveryAllocationFailureIsMemoryAndLeavesNothingBehind) {
  for (bool continuing : {false, true}) {
    for (int64_t fail_at = 1;; ++fail_at) {
      if (continuing)
        write_share_files(base, {{2, 7, {1, 2, 3}}, {9, 8, {4, 5, 6}}});
      else
        write_bytes(base + ".idx", {});
      int32_t n_shared = 0;
      const int64_t before = heap_in_use();
      kavu_alloc_reset(fail_at);
      const int32_t status = publish(kTile, &n_shared);
      const int64_t made = kavu_alloc_count();
      kavu_alloc_reset();
      EXPECT_EQ(heap_in_use(), before) << "fail_at " << fail_at;
      if (made < fail_at) {
        EXPECT_EQ(status, 0);
        EXPECT_GT(fail_at, 2) << "the path allocates at least the two border lists";
        break;
      }
      EXPECT_EQ(status, -1) << "fail_at " << fail_at;
    }
  }
}

}  // namespace
