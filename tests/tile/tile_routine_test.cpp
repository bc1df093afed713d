// KAVU_TILE_LAMBDA_SEGMENT through the embedded host: defaults, the merge
// list, a continued tile's share records, and every refusal with its text.
#include "host_session.h"
#include "share_files.h"

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using qelhost::Keyword;
using tile_test::TempDir;

const char *const kRoutine = "KAVU_TILE_LAMBDA_SEGMENT";

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
                            name, text);
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

// Every refusal with its message, in check order.
TEST_F(TileRoutine, RefusesFaultyArgumentsWithCatalogueMessages) {
  kavu_test::expect_error(kRoutine, {vars.lng("img", 1), vars.undefined("out")}, {},
                          "QEL_M_NOTARRAY", "Expression must be an array in this context: IMG.");
  const std::string badtype = "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                    not_2d = "KAVU_MBLK_SEGMENT_NOT_2D", minv = "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
                    dims = "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH";
  expect_refused({{"IN_LABEL_IMG", vars.zeros<int32_t>("l", {4, 3})}}, badtype,
                 "The type of IN_LABEL_IMG needs to be type ULONG.");
  expect_refused({{"IN_LABEL_IMG", vars.zeros<uint32_t>("l", {12})}}, not_2d,
                 "IN_LABEL_IMG needs to be 2D.");
  expect_refused({{"IN_LABEL_IMG", vars.zeros<uint32_t>("l", {3, 4})}}, dims,
                 "The first 2 dimensions of IMG and IN_LABEL_IMG do not match.");
  expect_refused({{"IN_LABEL_IMG", vars.lng("l", 0)}}, "QEL_M_NOTARRAY",
                 "Expression must be an array in this context: L.");
  expect_refused({{"MASK", vars.zeros<uint32_t>("m", {4, 3})}}, badtype,
                 "The type of MASK needs to be type BYTE.");
  expect_refused({{"MASK", vars.zeros<uint8_t>("m", {4, 3, 1})}}, not_2d, "MASK needs to be 2D.");
  expect_refused({{"MASK", vars.zeros<uint8_t>("m", {5, 3})}}, dims,
                 "The first 2 dimensions of IMG and MASK do not match.");
  create_share_files();
  const auto margin = [&](const char *keyword, QEL_VPTR value) {
    return std::vector<Keyword>{{keyword, value}, {"SHARE_FILE_NAME", vars.str("f", base)}};
  };
  expect_refused(margin("MARGIN_HLBL", vars.zeros<int32_t>("h", {4, 2})), badtype,
                 "The type of MARGIN_HLBL needs to be type ULONG.");
  expect_refused(margin("MARGIN_HLBL", vars.zeros<uint32_t>("h", {8})), not_2d,
                 "MARGIN_HLBL needs to be 2D.");
  expect_refused(margin("MARGIN_HLBL", vars.zeros<uint32_t>("h", {3, 2})),
                 "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH",
                 "The first dimension of IMG and MARGIN_HLBL do not match.");
  expect_refused(margin("MARGIN_HLBL", vars.zeros<uint32_t>("h", {4, 1})), minv,
                 "the second dimension of MARGIN_HLBL needs to be at least 2.");
  expect_refused(margin("MARGIN_VLBL", vars.zeros<uint8_t>("v", {3, 2})), badtype,
                 "The type of MARGIN_VLBL needs to be type ULONG.");
  expect_refused(margin("MARGIN_VLBL", vars.zeros<uint32_t>("v", {6})), not_2d,
                 "MARGIN_VLBL needs to be 2D.");
  expect_refused(margin("MARGIN_VLBL", vars.zeros<uint32_t>("v", {4, 2})),
                 "KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH",
                 "The 2nd dimensions of IMG and the size of MARGIN_VLBL do not match.");
  expect_refused(margin("MARGIN_VLBL", vars.zeros<uint32_t>("v", {3, 1})), minv,
                 "the second dimension of MARGIN_VLBL needs to be at least 2.");
  const std::string need_name =
      "The SHARE_FILE_NAME needs to be set when MARGIN_VLBL or MARGIN_HLBL is set.";
  expect_refused({{"MARGIN_HLBL", vars.zeros<uint32_t>("h", {4, 2})}},
                 "KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST", need_name);
  expect_refused({{"MARGIN_VLBL", vars.zeros<uint32_t>("v", {3, 2})}},
                 "KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST", need_name);
  EXPECT_TRUE(tile_test::read_bytes(base + ".idx").empty());  // refused before any file was touched
  create_share_files();
  expect_refused(
      {{"IN_LABEL_IMG",
        vars.array<uint32_t>("l", {1, 2, 3, 0xFFFFFFFFu, 1, 1, 1, 1, 1, 1, 1, 1}, {4, 3})}},
      "KAVU_MBLK_SEGMENT_ERROR", "Error: IN_LABEL_IMG holds label 4294967295, which is reserved.");
  expect_refused(
      margin("MARGIN_VLBL", vars.array<uint32_t>("v", {1, 1, 1, 7, 0xFFFFFFFEu, 7}, {3, 2})),
      "KAVU_MBLK_SEGMENT_ERROR", "Error: MARGIN_VLBL holds label 4294967294, which is reserved.");
  expect_refused({{"IN_MERGE_LIST", vars.array<int32_t>("ml", {1, 2}, {2})}}, badtype,
                 "The type of IN_MERGE_LIST needs to be type ULONG.");
  std::filesystem::remove(base + ".idx");
  std::filesystem::remove(base + ".info");
  const std::string file_err = "KAVU_MBLK_SEGMENT_FILE_ERR",
                    cannot = "Cannot open file " + base + ".idx for writing.";
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", base)}}, file_err, cannot);
  tile_test::write_bytes(base + ".idx",
                         {});  // the info file alone missing names the index file too
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", base)}}, file_err, cannot);
  // An empty name gives ".idx" in the working directory.
  expect_refused({{"SHARE_FILE_NAME", vars.str("f", "")}}, file_err,
                 "Cannot open file .idx for writing.");
}

// A left margin continuing two shared regions into a 4 x 3 tile.
struct ContinuedTile {
  std::vector<uint32_t> labels = {1, 1, 2, 2,  //
                                  1, 3, 3, 2,  //
                                  4, 4, 3, 2};
  std::vector<uint32_t> vlbl = {1, 1, 4, /**/ 100, 100, 101};
};

// Share files damaged between tiles end the tile with a message, never a crash:
// a truncated info file, and a second-line label the files do not share.
TEST_F(TileRoutine, DamagedShareFilesAreRefused) {
  ContinuedTile t;
  const std::vector<Keyword> keywords = {{"IN_LABEL_IMG", vars.array("l", t.labels, {4, 3})},
                                         {"MARGIN_VLBL", vars.array("v", t.vlbl, {3, 2})},
                                         {"SHARE_FILE_NAME", vars.str("f", base)}};
  tile_test::write_share_files(base, {{100, 5, {1.0f}}, {101, 2, {3.0f}}});
  auto info = tile_test::read_bytes(base + ".info");
  info.resize(6);
  tile_test::write_bytes(base + ".info", info);
  expect_refused(keywords, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file " + base + ".idx for writing.");
  tile_test::write_share_files(base, {{100, 5, {1.0f}}});
  expect_refused(keywords, "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND", "Hash key is not found.");
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
