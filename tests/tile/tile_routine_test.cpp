// KAVU_TILE_LAMBDA_SEGMENT through the embedded host: defaults, the merge
// list, a continued tile's share records, and every refusal with its text.
#include "host_session.h"
#include "share_files.h"

#include <set>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using qelhost::Keyword;
using tile_test::TempDir;

const char *const kRoutine = "KAVU_TILE_LAMBDA_SEGMENT";
const std::string kPrefix = "KAVU_TILE_LAMBDA_SEGMENT: ";

class TileRoutine : public kavu_test::RoutineTest {
 protected:
  TempDir dir;
  std::string base = dir.file("share");

  QEL_VPTR image(int64_t ncols, int64_t nrows, std::vector<float> values = {}) {
    if (values.empty())
      for (int64_t i = 0; i < ncols * nrows; ++i) values.push_back(float(i % 7) * 1.5f);
    return vars.array("img", values, {ncols, nrows});
  }
  void create_share_files() {
    tile_test::write_bytes(base + ".idx", {});
    tile_test::write_bytes(base + ".info", {});
  }
  void expect_refused(const std::vector<Keyword> &keywords, const std::string &name,
                      const std::string &text, QEL_VPTR img = nullptr) {
    kavu_test::expect_error(kRoutine, {img ? img : image(4, 3), vars.undefined("out")}, keywords,
                            name, kPrefix + text);
  }
};

// Masked pixels are zero and make no adjacency: 1 and 3 (or 7 and 9) meet only
// through the masked pixel and stay apart however high the threshold.
TEST_F(TileRoutine, MaskedOutPixelsAreZeroAndSeparate) {
  for (const std::vector<int64_t> &dims :
       {std::vector<int64_t>{5, 1}, std::vector<int64_t>{1, 5}}) {
    QEL_VPTR out = vars.undefined("out");
    ASSERT_TRUE(
        kavu_test::call_ok(vars, kRoutine, {vars.array<float>("img", {1, 1, 9, 5, 5}, dims), out},
                           {{"IN_LABEL_IMG", vars.array<uint32_t>("lbl", {1, 1, 2, 3, 3}, dims)},
                            {"MASK", vars.array<uint8_t>("m", {1, 1, 0, 1, 1}, dims)},
                            {"LAMBDA_THRESHOLD", vars.dbl("t", 1e30)},
                            {"START_LBL", vars.ulng("s", 1)}}));
    const auto labels = read_array<uint32_t>(out).data;
    EXPECT_EQ(labels[2], 0u);
    EXPECT_EQ(labels[0], labels[1]);
    EXPECT_EQ(labels[3], labels[4]);
    EXPECT_NE(labels[0], labels[3]);
    EXPECT_NE(labels[0], 0u);
  }
}

TEST_F(TileRoutine, InMergeListPairsComeOutLargerFirstInOrderWithDuplicates) {
  QEL_VPTR list = vars.array<uint32_t>("ml", {3, 7, 9, 2, 7, 3, 5}, {7});
  QEL_VPTR out_list = vars.undefined("oml");
  ASSERT_TRUE(kavu_test::call_ok(vars, kRoutine, {image(2, 2), vars.undefined("out")},
                                 {{"IN_MERGE_LIST", list}, {"OUT_MERGE_LIST", out_list}}));
  const auto pairs = read_array<uint32_t>(out_list);
  EXPECT_EQ(pairs.dims, (std::vector<int64_t>{6}));
  EXPECT_EQ(pairs.data, (std::vector<uint32_t>{7, 3, 7, 3, 9, 2}));  // the trailing 5 is ignored
}

// Every refusal with its message, in check order.
TEST_F(TileRoutine, RefusesFaultyArgumentsWithCatalogueMessages) {
  kavu_test::expect_error(kRoutine, {vars.lng("img", 1), vars.undefined("out")}, {},
                          "QEL_M_NOTARRAY",
                          kPrefix + "Expression must be an array in this context: IMG.");
  const char *badtype = "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE";
  expect_refused({{"IN_LABEL_IMG", vars.array<int32_t>("l", std::vector<int32_t>(12), {4, 3})}},
                 badtype, "The type of IN_LABEL_IMG needs to be type ULONG.");
  expect_refused({{"IN_LABEL_IMG", vars.array<uint32_t>("l", std::vector<uint32_t>(12), {12})}},
                 "KAVU_MBLK_SEGMENT_NOT_2D", "IN_LABEL_IMG needs to be 2D.");
  expect_refused({{"IN_LABEL_IMG", vars.array<uint32_t>("l", std::vector<uint32_t>(12), {3, 4})}},
                 "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                 "The first 2 dimensions of IMG and IN_LABEL_IMG do not match.");
  expect_refused({{"IN_LABEL_IMG", vars.lng("l", 0)}}, "QEL_M_NOTARRAY",
                 "Expression must be an array in this context: L.");
  expect_refused({{"MASK", vars.array<uint32_t>("m", std::vector<uint32_t>(12), {4, 3})}}, badtype,
                 "The type of MASK needs to be type BYTE.");
  expect_refused({{"MASK", vars.array<uint8_t>("m", std::vector<uint8_t>(12), {4, 3, 1})}},
                 "KAVU_MBLK_SEGMENT_NOT_2D", "MASK needs to be 2D.");
  expect_refused({{"MASK", vars.array<uint8_t>("m", std::vector<uint8_t>(15), {5, 3})}},
                 "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                 "The first 2 dimensions of IMG and MASK do not match.");
  create_share_files();
  QEL_VPTR name = vars.str("f", base);
  expect_refused({{"MARGIN_HLBL", vars.array<int32_t>("h", std::vector<int32_t>(8), {4, 2})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                 "The type of MARGIN_HLBL needs to be type ULONG.");
  expect_refused({{"MARGIN_HLBL", vars.array<uint32_t>("h", std::vector<uint32_t>(8), {8})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_NOT_2D", "MARGIN_HLBL needs to be 2D.");
  expect_refused({{"MARGIN_HLBL", vars.array<uint32_t>("h", std::vector<uint32_t>(6), {3, 2})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH",
                 "The first dimension of IMG and MARGIN_HLBL do not match.");
  expect_refused({{"MARGIN_HLBL", vars.array<uint32_t>("h", std::vector<uint32_t>(4), {4, 1})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
                 "the second dimension of MARGIN_HLBL needs to be at least 2.");
  expect_refused({{"MARGIN_VLBL", vars.array<uint8_t>("v", std::vector<uint8_t>(6), {3, 2})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                 "The type of MARGIN_VLBL needs to be type ULONG.");
  expect_refused({{"MARGIN_VLBL", vars.array<uint32_t>("v", std::vector<uint32_t>(6), {6})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_NOT_2D", "MARGIN_VLBL needs to be 2D.");
  expect_refused({{"MARGIN_VLBL", vars.array<uint32_t>("v", std::vector<uint32_t>(8), {4, 2})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH",
                 "The 2nd dimensions of IMG and the size of MARGIN_VLBL do not match.");
  expect_refused({{"MARGIN_VLBL", vars.array<uint32_t>("v", std::vector<uint32_t>(3), {3, 1})},
                  {"SHARE_FILE_NAME", name}},
                 "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
                 "the second dimension of MARGIN_VLBL needs to be at least 2.");
  const std::string need_name =
      "The SHARE_FILE_NAME needs to be set when MARGIN_VLBL or MARGIN_HLBL is set.";
  expect_refused({{"MARGIN_HLBL", vars.array<uint32_t>("h", std::vector<uint32_t>(8), {4, 2})}},
                 "KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST", need_name);
  expect_refused({{"MARGIN_VLBL", vars.array<uint32_t>("v", std::vector<uint32_t>(6), {3, 2})}},
                 "KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST", need_name);
  EXPECT_EQ(tile_test::read_bytes(base + ".idx").size(),
            0u);  // refused before any file was touched
  create_share_files();
  expect_refused(
      {{"IN_LABEL_IMG",
        vars.array<uint32_t>("l", {1, 2, 3, 0xFFFFFFFFu, 1, 1, 1, 1, 1, 1, 1, 1}, {4, 3})}},
      "KAVU_MBLK_SEGMENT_ERROR", "Error: IN_LABEL_IMG holds label 4294967295, which is reserved.");
  expect_refused({{"MARGIN_VLBL", vars.array<uint32_t>("v", {1, 1, 1, 7, 0xFFFFFFFEu, 7}, {3, 2})},
                  {"SHARE_FILE_NAME", vars.str("f", base)}},
                 "KAVU_MBLK_SEGMENT_ERROR",
                 "Error: MARGIN_VLBL holds label 4294967294, which is reserved.");
  expect_refused({{"IN_MERGE_LIST", vars.array<int32_t>("ml", {1, 2}, {2})}},
                 "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                 "The type of IN_MERGE_LIST needs to be type ULONG.");
  std::filesystem::remove(base + ".idx");
  std::filesystem::remove(base + ".info");
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", base)}}, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file " + base + ".idx for writing.");
  tile_test::write_bytes(base + ".idx",
                         {});  // the info file alone missing names the index file too
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", base)}}, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file " + base + ".idx for writing.");
  // An empty name gives ".idx" in the working directory.
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", "")}}, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file .idx for writing.");
}

// A left margin continuing two shared regions into a 4 x 3 tile.
struct ContinuedTile {
  std::vector<uint32_t> labels = {1, 1, 2, 2,  //
                                  1, 3, 3, 2,  //
                                  4, 4, 3, 2};
  std::vector<uint32_t> vlbl = {1, 1, 4, /**/ 100, 100, 101};
};

// Share files damaged between tiles end the tile with a message, never a crash.
TEST_F(TileRoutine, TruncatedInfoFileIsAFileError) {
  tile_test::write_share_files(base, {{100, 5, {1.0f}}, {101, 2, {3.0f}}});
  auto info = tile_test::read_bytes(base + ".info");
  info.resize(6);
  tile_test::write_bytes(base + ".info", info);
  ContinuedTile t;
  expect_refused({{"IN_LABEL_IMG", vars.array("l", t.labels, {4, 3})},
                  {"MARGIN_VLBL", vars.array("v", t.vlbl, {3, 2})},
                  {"SHARE_FILE_NAME", vars.str("f", base)}},
                 "KAVU_MBLK_SEGMENT_FILE_ERR", "Cannot open file " + base + ".idx for writing.");
}

TEST_F(TileRoutine, SecondLineLabelNotSharedIsHashKeyNotFound) {
  tile_test::write_share_files(base, {{100, 5, {1.0f}}});
  ContinuedTile t;
  expect_refused({{"IN_LABEL_IMG", vars.array("l", t.labels, {4, 3})},
                  {"MARGIN_VLBL", vars.array("v", t.vlbl, {3, 2})},
                  {"SHARE_FILE_NAME", vars.str("f", base)}},
                 "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND", "Hash key is not found.");
}

TEST_F(TileRoutine, ContinuedTileRenumbersItsInputAndRefreshesTheSharedRecords) {
  tile_test::write_share_files(base, {{100, 5, {1.0f}}, {101, 2, {3.0f}}});
  ContinuedTile t;
  QEL_VPTR in = vars.array("l", t.labels, {4, 3});
  QEL_VPTR out = vars.undefined("out");
  QEL_VPTR value =
      kavu_test::call_ok(vars, kRoutine, {image(4, 3, std::vector<float>(12, 2.0f)), out},
                         {{"IN_LABEL_IMG", in},
                          {"MARGIN_VLBL", vars.array("v", t.vlbl, {3, 2})},
                          {"SHARE_FILE_NAME", vars.str("f", base)},
                          {"START_LBL", vars.ulng("s", 200)}});
  ASSERT_TRUE(value);
  // 1 -> 100 and 4 -> 101 (first-line labels); 2 and 3 renumbered from 200.
  EXPECT_EQ(read_array<uint32_t>(in).data,
            (std::vector<uint32_t>{100, 100, 200, 200, 100, 201, 201, 200, 101, 101, 201, 200}));
  const auto labels = read_array<uint32_t>(out).data;
  EXPECT_EQ(labels[0], 100u);
  EXPECT_EQ(labels[8], 101u);
  EXPECT_EQ(read_scalar<int32_t>(value), 201);
  const auto records = tile_test::parse_share_files(base, 1);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].area, 5 + 3);  // refreshed: stored pixels plus this tile's
  EXPECT_FLOAT_EQ(records[0].means[0], (5 * 1.0f + 3 * 2.0f) / 8);
  EXPECT_EQ(records[1].area, 2 + 2);
  EXPECT_FLOAT_EQ(records[1].means[0], 2.5f);
  EXPECT_EQ(records[2].label, labels[3]);   // right column: 200 first
  EXPECT_EQ(records[3].label, labels[10]);  // then the bottom row: 101 is shared already, 201 new
  EXPECT_EQ(records[3].label, 201u);
}

}  // namespace
