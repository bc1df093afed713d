// Reserved words at every door. Watershed margins that the flooding worker would
// store as one of its markers (the frame pixel was flooded and the flood read
// before the label array); the hash tables' slot words in merge lists, in a
// share index file and among the labels a tile numbers from START_LBL.
#include "../tile/share_files.h"
#include "host_session.h"

namespace {

using kavu_test::read_array;
using qelhost::Keyword;

class ReservedWords : public kavu_test::RoutineTest {};

// What the frame pixel under the margin holds: the label as the worker stores it, or a refusal.
TEST_F(ReservedWords, WatershedMarginOnAFloodingMarkerIsRefusedAnyOtherStaysOnTheFrame) {
  const std::string low16 = "Without LONG the low 16 bits of labels must be below 65531, found ";
  const std::string all32 = "Labels must be below 4294967291, found ";
  const struct {
    bool long_labels;
    uint32_t label;
    std::string refusal; /* empty: accepted */
  } cases[] = {{false, 65530, ""},          {false, 131066, ""},        {false, 65531, low16},
               {false, 65533, low16},       {false, 65534, low16},      {false, 131070, low16},
               {false, 4294967295u, low16}, {true, 65534, ""},          {true, 4294967290u, ""},
               {true, 4294967291u, all32},  {true, 4294967292u, all32}, {true, 4294967294u, all32},
               {true, 4294967295u, all32}};
  const std::vector<uint16_t> levels = {5, 5, 5, 5, 5, 1, 2, 5, 5, 3, 1, 5, 5, 5, 5, 5};
  for (const auto &c : cases)
    for (const char *kw : {"MARGIN_HLBL", "MARGIN_VLBL"}) {
      SCOPED_TRACE(std::string(kw) + " " + std::to_string(c.label) +
                   (c.long_labels ? " LONG" : ""));
      const std::vector<QEL_VPTR> args = {vars.array("lev", levels, {4, 4}),
                                          vars.array("img", std::vector<float>(16), {4, 4})};
      const std::vector<Keyword> kws = {
          {kw, vars.array<uint32_t>("m", {0, c.label, c.label, 0}, {4})},
          {"LONG", vars.lng("l", c.long_labels)}};
      if (!c.refusal.empty()) {
        kavu_test::expect_error("KAVU_WATERSHED", args, kws, "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL",
                                "Bad keyword value for " + std::string(kw) + ". " + c.refusal +
                                    std::to_string(c.label) + ".");
        continue;
      }
      QEL_VPTR labels = kavu_test::call_ok(vars, "KAVU_WATERSHED", args, kws);
      const int64_t frame_pixel = std::string(kw) == "MARGIN_HLBL" ? 1 : 4;  // (1, 0) or (0, 1)
      if (c.long_labels)
        EXPECT_EQ(read_array<uint32_t>(labels).data.at(frame_pixel), c.label);
      else
        EXPECT_EQ(read_array<uint16_t>(labels).data.at(frame_pixel), c.label & 0xFFFF);
    }
}

// Share files of one record (one band) whose index lists `label`.
std::string share_files_listing(const tile_test::TempDir &dir, const std::string &name,
                                uint32_t label) {
  tile_test::write_share_files(dir.file(name), {{label, 1, {0.0f}}});
  return dir.file(name);
}

TEST_F(ReservedWords, SlotWordsAreRefusedAtEveryDoorAndTheLastLabelsBelowThemPass) {
  tile_test::TempDir dir;
  const std::string shared = share_files_listing(dir, "ok", 7);
  const std::string exhausted = "Bad keyword value for START_LBL. The tile's labels numbered from ";
  const struct {
    std::string routine;
    std::vector<Keyword> keywords;
    std::string name, text;
  } cases[] = {
      {"KAVU_WATERSHED",
       {{"IN_MERGE_LIST", vars.array<uint32_t>("ml", {3, 4294967295u}, {2})}},
       "KAVU_MBLK_SEGMENT_ERROR",
       "Error: IN_MERGE_LIST holds label 4294967295, which is reserved."},
      {"KAVU_TILE_LAMBDA_SEGMENT",
       {{"IN_MERGE_LIST", vars.array<uint32_t>("ml", {4294967294u, 3}, {2})}},
       "KAVU_MBLK_SEGMENT_ERROR",
       "Error: IN_MERGE_LIST holds label 4294967294, which is reserved."},
      {"KAVU_TILE_LAMBDA_SEGMENT",
       {{"SHARE_FILE_NAME", vars.str("f", share_files_listing(dir, "bad", 4294967294u))}},
       "KAVU_MBLK_SEGMENT_FILE_ERR",
       "Cannot open file " + dir.file("bad.idx") + " for writing."},
      // Output labels of three regions (the first accepted), then the renumbered labels of a
      // tile that shares regions.
      {"KAVU_TILE_LAMBDA_SEGMENT", {{"START_LBL", vars.ulng("s", 4294967291u)}}, "", ""},
      {"KAVU_TILE_LAMBDA_SEGMENT",
       {{"START_LBL", vars.ulng("s", 4294967292u)}},
       "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL",
       exhausted + "4294967292 reach 4294967294, which is reserved."},
      {"KAVU_TILE_LAMBDA_SEGMENT",
       {{"START_LBL", vars.ulng("s", 4294967292u)}, {"SHARE_FILE_NAME", vars.str("f", shared)}},
       "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL",
       exhausted + "4294967292 reach 4294967294, which is reserved."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.routine + " " + c.text);
    std::vector<QEL_VPTR> args = {
        vars.array<uint16_t>("lev", {1, 1, 1, 2, 2, 2, 3, 3, 3}, {3, 3}),
        vars.array("img", std::vector<float>{0, 0, 0, 1, 1, 1, 2, 2, 2}, {3, 3})};
    std::vector<Keyword> keywords = c.keywords;
    if (c.routine != "KAVU_WATERSHED") {
      args = {args[1], vars.undefined("out")};
      keywords.push_back(
          {"IN_LABEL_IMG", vars.array<uint32_t>("in", {1, 1, 1, 2, 2, 2, 3, 3, 3}, {3, 3})});
    }
    if (c.name.empty())
      EXPECT_EQ(
          kavu_test::read_scalar<int32_t>(kavu_test::call_ok(vars, c.routine, args, keywords)), -3);
    else
      kavu_test::expect_error(c.routine, args, keywords, c.name, c.text);
  }
}

}  // namespace
