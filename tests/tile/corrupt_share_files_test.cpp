// A continued tile run against share files that were damaged between tiles:
// each damage ends the tile with a catalogue message, never a crash, a read
// past the data or a segmentation built from garbage.
#include "host_session.h"
#include "share_files.h"

#include <filesystem>

namespace {

using tile_test::read_bytes;
using tile_test::write_bytes;
using Bytes = std::vector<uint8_t>;

const std::string kRoutine = "KAVU_TILE_LAMBDA_SEGMENT";
constexpr int64_t kSide = 4;

class CorruptShareFiles : public kavu_test::RoutineTest {
 protected:
  tile_test::TempDir dir;
  std::string base = dir.file("run");
  std::vector<uint32_t> margin;  // the left tile's last column: input labels, then output labels

  // The left tile: four 2 x 2 blocks, no merging, published through the share files.
  void SetUp() override {
    RoutineTest::SetUp();
    write_bytes(base + ".idx", {});
    write_bytes(base + ".info", {});
    const std::vector<uint32_t> labels = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
    QEL_VPTR out = vars.undefined("left");
    ASSERT_TRUE(kavu_test::call_ok(vars, kRoutine, {image(), out},
                                   {{"IN_LABEL_IMG", vars.array("lab", labels, {kSide, kSide})},
                                    {"SHARE_FILE_NAME", vars.str("f", base)},
                                    {"START_LBL", vars.ulng("s", 50)}}));
    const auto left = kavu_test::read_array<uint32_t>(out).data;
    for (int64_t y = 0; y < kSide; ++y) margin.push_back(labels[y * kSide + kSide - 1]);
    for (int64_t y = 0; y < kSide; ++y) margin.push_back(left[y * kSide + kSide - 1]);
  }

  QEL_VPTR image() {
    std::vector<float> v(kSide * kSide);
    for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 5);
    return vars.array("img", v, {kSide, kSide});
  }

  // The right tile continues labels 2 and 4 across the border.
  void expect_refused(const std::string &name, const std::string &text) {
    const std::vector<uint32_t> labels = {2, 2, 5, 5, 2, 2, 5, 5, 4, 4, 6, 6, 4, 4, 6, 6};
    kavu_test::expect_error(kRoutine, {image(), vars.undefined("right")},
                            {{"IN_LABEL_IMG", vars.array("lab", labels, {kSide, kSide})},
                             {"MARGIN_VLBL", vars.array("mv", margin, {kSide, 2})},
                             {"SHARE_FILE_NAME", vars.str("f", base)},
                             {"START_LBL", vars.ulng("s", 100)}},
                            name, kRoutine + ": " + text);
  }
  void expect_file_error() {
    expect_refused("KAVU_MBLK_SEGMENT_FILE_ERR", "Cannot open file " + base + ".idx for writing.");
  }
  void cut(const std::string &file, size_t keep) {
    Bytes b = read_bytes(file);
    ASSERT_GT(b.size(), keep);
    b.resize(keep);
    write_bytes(file, b);
  }
};

TEST_F(CorruptShareFiles, IndexShorterThanItsCount) {
  cut(base + ".idx", read_bytes(base + ".idx").size() - 2);
  expect_file_error();
}

TEST_F(CorruptShareFiles, IndexCountLargerThanItsLabels) {
  Bytes b = read_bytes(base + ".idx");
  b[0] = 200;
  write_bytes(base + ".idx", b);
  expect_file_error();
}

TEST_F(CorruptShareFiles, IndexWithANegativeCountOrATornCount) {
  Bytes b = read_bytes(base + ".idx");
  b[3] = 0x80;
  write_bytes(base + ".idx", b);
  expect_file_error();
  write_bytes(base + ".idx", {1, 0});
  expect_file_error();
}

TEST_F(CorruptShareFiles, InfoFileShorterThanARecordTheTileNeeds) {
  cut(base + ".info", 6);
  expect_file_error();
}

// Records of one band read as records of two bands run past the file's end.
TEST_F(CorruptShareFiles, InfoWrittenWithFewerBandsThanTheTile) {
  const std::vector<uint32_t> labels = {2, 2, 5, 5, 2, 2, 5, 5, 4, 4, 6, 6, 4, 4, 6, 6};
  kavu_test::expect_error(
      kRoutine,
      {vars.array("img", std::vector<float>(2 * kSide * kSide, 1), {kSide, kSide, 2}),
       vars.undefined("right")},
      {{"IN_LABEL_IMG", vars.array("lab", labels, {kSide, kSide})},
       {"MARGIN_VLBL", vars.array("mv", margin, {kSide, 2})},
       {"SHARE_FILE_NAME", vars.str("f", base)},
       {"START_LBL", vars.ulng("s", 100)}},
      "KAVU_MBLK_SEGMENT_FILE_ERR", kRoutine + ": Cannot open file " + base + ".idx for writing.");
}

TEST_F(CorruptShareFiles, ShareFilesThatAreDirectoriesOrInAMissingDirectory) {
  std::filesystem::remove(base + ".info");
  std::filesystem::create_directory(base + ".info");
  expect_file_error();
  base = dir.file("missing/run");
  expect_file_error();
}

TEST_F(CorruptShareFiles, IndexThatLostTheContinuedLabel) {
  // The count says 0: nothing is shared, so the margin's labels are unknown.
  write_bytes(base + ".idx", {0, 0, 0, 0});
  expect_refused("KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND", "Hash key is not found.");
}

}  // namespace
