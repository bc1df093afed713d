// The flooding workers called directly: small images worked out by hand, the
// choices the definition leaves open, label saturation, and failure paths.
#include "flooding_support.h"

#include "containers/allocation.h"
#include "qelhost.h"

#include <gtest/gtest.h>

namespace {

using watershed_test::FloodInput;
using watershed_test::FloodOutput;
using watershed_test::Pair;
using watershed_test::run_worker;

using U8 = std::vector<uint8_t>;
using U32 = std::vector<uint32_t>;

// Runs both workers; their results must be the same (all labels here are small).
FloodOutput run_both(const FloodInput &in) {
  FloodOutput wide = run_worker<uint32_t>(in);
  FloodOutput narrow = run_worker<uint16_t>(in);
  EXPECT_EQ(wide.status, 0);
  EXPECT_EQ(narrow.status, 0);
  EXPECT_EQ(wide.labels, narrow.labels);
  EXPECT_EQ(wide.wmask, narrow.wmask);
  EXPECT_EQ(wide.count, narrow.count);
  EXPECT_EQ(wide.pairs, narrow.pairs);
  return wide;
}

TEST(Flooding, ThreeByThreeImageHasOneBasinInItsCentre) {
  FloodInput in;
  in.levels = {5, 5, 5, 5, 9, 5, 5, 5, 5};
  in.start = 41;
  for (int conn : {4, 8}) {
    in.connectivity = conn;
    FloodOutput out = run_both(in);
    EXPECT_EQ(out.labels, (U32{0, 0, 0, 0, 42, 0, 0, 0, 0}));
    EXPECT_EQ(out.wmask, (U8{255, 255, 255, 255, 0, 255, 255, 255, 255}));
    EXPECT_EQ(out.count, 42u);
    EXPECT_TRUE(out.pairs.empty());
  }
}

// Two minima (levels 1 and 3) with a ridge of level 5 between them.
FloodInput two_minima() {
  FloodInput in;
  in.nx = 7;
  in.ny = 5;
  const std::vector<uint16_t> row = {9, 1, 1, 5, 3, 3, 9};
  for (int r = 0; r < 5; ++r) in.levels.insert(in.levels.end(), row.begin(), row.end());
  return in;
}

TEST(Flooding, TwoMinimaAndARidgeGiveTwoBasinsAndALine) {
  FloodInput in = two_minima();
  in.start = 10;
  FloodOutput out = run_both(in);
  const U32 frame(7, 0), inner = {0, 11, 11, 0, 12, 12, 0};
  U32 want = frame;
  for (int r = 0; r < 3; ++r) want.insert(want.end(), inner.begin(), inner.end());
  want.insert(want.end(), frame.begin(), frame.end());
  EXPECT_EQ(out.labels, want);
  for (size_t p = 0; p < want.size(); ++p) EXPECT_EQ(out.wmask[p], want[p] == 0 ? 255 : 0) << p;
  EXPECT_EQ(out.count, 12u);
  EXPECT_TRUE(out.pairs.empty());  // the contact is at level 5, not 0
}

// A flat level-0 image flooded from a top margin (5) and a left margin (7).
// Worked through by hand: (1,1) takes 5 from above, then meets 7 on its left
// and becomes a line; (1,2) becomes a line by touching it, and takes 7 from
// its left because a line made that way yields to the next basin it touches.
TEST(Flooding, LevelZeroContactsAreListedOnceWhateverTheirNumber) {
  FloodInput in;
  in.nx = in.ny = 4;
  in.levels.assign(16, 0);
  in.top = {0, 5, 5, 0};
  in.left = {0, 7, 7, 0};
  FloodOutput out = run_both(in);
  EXPECT_EQ(out.labels, (U32{0, 5, 5, 0,  //
                             7, 0, 5, 0,  //
                             7, 7, 0, 0,  //
                             0, 0, 0, 0}));
  EXPECT_EQ(out.wmask, (U8{255, 0, 0, 255,    //
                           0, 255, 0, 255,    //
                           0, 0, 255, 255,    //
                           255, 255, 255, 255}));
  EXPECT_EQ(out.count, 0u);
  EXPECT_EQ(out.pairs, (std::vector<Pair>{{7, 5}}));  // two contacts, one pair
}

TEST(Flooding, MarginLabelsShowInRowAndColumnZeroAndFloodTheInterior) {
  FloodInput in;
  in.nx = 5;
  in.ny = 4;
  in.levels.assign(20, 1);
  in.top = {11, 12, 13, 14, 15, 99};  // longer than nx: the rest is never read
  in.left = {21, 22, 23, 24};
  FloodOutput out = run_both(in);
  // The top-right corner is frame; the top-left corner shows the left margin.
  EXPECT_EQ(out.labels, (U32{21, 12, 13, 14, 0,  //
                             22, 0, 13, 0, 0,    //
                             23, 23, 0, 0, 0,    //
                             24, 0, 0, 0, 0}));
  EXPECT_EQ(out.wmask, (U8{0, 0, 0, 0, 255,        //
                           0, 255, 0, 255, 255,    //
                           0, 0, 255, 255, 255,    //
                           0, 255, 255, 255, 255}));
  EXPECT_EQ(out.count, 0u);  // no basin of its own
}

TEST(Flooding, SixteenBitWorkerKeepsTheLowBitsOfMarginLabels) {
  FloodInput in;
  in.nx = 4;
  in.ny = 3;
  in.levels.assign(12, 3);
  in.top = {0, 0x10005, 0x20000, 0};
  FloodOutput narrow = run_worker<uint16_t>(in);
  FloodOutput wide = run_worker<uint32_t>(in);
  EXPECT_EQ(narrow.labels[1], 5u);
  EXPECT_EQ(narrow.labels[2], 0u);  // low bits 0: written as 0, not a line
  EXPECT_EQ(narrow.wmask[2], 0);
  EXPECT_EQ(wide.labels[1], 0x10005u);
  EXPECT_EQ(wide.labels[2], 0x20000u);
}

TEST(Flooding, MaskedPixelsAreLinesOnTheFrameOverMarginsAndInside) {
  FloodInput in;
  in.nx = 5;
  in.ny = 4;
  in.levels.assign(20, 1);
  in.top = {0, 12, 13, 14, 0};
  in.mask.assign(20, 1);
  in.mask[2] = 0;   // over a top margin label
  in.mask[5] = 0;   // plain frame
  in.mask[12] = 0;  // interior
  FloodOutput out = run_both(in);
  for (int p : {2, 5, 12}) {
    EXPECT_EQ(out.labels[p], 0u) << p;
    EXPECT_EQ(out.wmask[p], 255) << p;
  }
  EXPECT_EQ(out.labels[1], 12u);
  EXPECT_EQ(out.labels[3], 14u);
}

// The ridge of two_minima() with image values: column 3 is nearer to column 2
// (label 11) in band 0, but band 1 makes column 4 (label 12) the nearer one.
TEST(Flooding, BoundaryPassGivesALinePixelItsNearestNeighboursLabel) {
  FloodInput in = two_minima();
  in.start = 10;
  in.merge_bd = true;
  const std::vector<float> band0 = {0, 9, 9, 10, 12, 12, 0};
  for (int r = 0; r < 5; ++r) in.image.insert(in.image.end(), band0.begin(), band0.end());
  FloodOutput out = run_both(in);
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(out.labels[r * 7 + 3], 11u) << r;
    EXPECT_EQ(out.wmask[r * 7 + 3], 255) << r;  // between two basins: stays marked
  }
  EXPECT_EQ(out.labels[1], 11u);  // touches one basin only: mask cleared
  EXPECT_EQ(out.wmask[1], 0);
  for (uint32_t l : out.labels) EXPECT_NE(l, 0u);
  EXPECT_EQ(out.count, 12u);

  in.nb = 2;
  const std::vector<float> band1 = {0, 13, 13, 10, 10, 10, 0};
  for (int r = 0; r < 5; ++r) in.image.insert(in.image.end(), band1.begin(), band1.end());
  out = run_both(in);
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(out.labels[r * 7 + 3], 12u) << r;  // 1+9 > 4+0

  // Equal distances: the earlier neighbour in the order up, right, down, left.
  in.nb = 0;
  out = run_both(in);
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(out.labels[r * 7 + 3], 12u) << r;
}

// Left open by the definition: a pixel the boundary pass queues but cannot
// label stays a watershed pixel (label 0, mask 255), never a reserved value.
TEST(Flooding, BoundaryPassLeavesUnlabellablePixelsAsLines) {
  FloodInput in;
  in.levels = {5, 5, 5, 5, 1, 5, 5, 5, 5};
  in.merge_bd = true;
  // With 8 neighbours every frame pixel is queued for the centre. The first,
  // pixel 0, sees it only diagonally and looks at its four direct neighbours,
  // which are still queued; the later corners find labelled edge pixels.
  in.connectivity = 8;
  FloodOutput out = run_both(in);
  EXPECT_EQ(out.labels, (U32{0, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(out.wmask, (U8{255, 0, 0, 0, 0, 0, 0, 0, 0}));
  // With 4 the corners are reached later through the labelled edge pixels.
  in.connectivity = 4;
  out = run_both(in);
  EXPECT_EQ(out.labels, U32(9, 1));
  EXPECT_EQ(out.wmask, U8(9, 0));
  // NaN image values: no distance is below the largest finite one.
  in.image.assign(9, std::nanf(""));
  out = run_both(in);
  EXPECT_EQ(out.labels, (U32{0, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(out.wmask, (U8{255, 255, 255, 255, 0, 255, 255, 255, 255}));
}

TEST(Flooding, BoundaryPassWithAMaskCompletesTheFrame) {
  FloodInput in;
  in.nx = 5;
  in.ny = 4;
  in.levels.assign(20, 2);
  in.levels[6] = 1;
  in.merge_bd = true;
  in.mask.assign(20, 1);
  // Masked pixels wall off the top-right corner and the bottom row from the basin.
  for (int p : {2, 8, 9, 10, 11, 12, 13, 14}) in.mask[p] = 0;
  in.start = 100;
  FloodOutput out = run_both(in);
  // Basin 101 spreads over (0..1, 0..1). The rest is walled off: (3,0) takes a
  // new label that (4,0) copies; column 0 and then the last column come before
  // the bottom row, so (0,3) and (4,3) take one each and the row copies (0,3).
  EXPECT_EQ(out.labels, (U32{101, 101, 0, 102, 102,  //
                             101, 101, 101, 0, 0,    //
                             0, 0, 0, 0, 0,          //
                             103, 103, 103, 103, 104}));
  EXPECT_EQ(out.count, 104u);
}

// Checkerboard of level 0 and 1 with 4 neighbours: every interior 0 is a
// regional minimum of its own, in row-major order.
FloodInput checkerboard(int64_t side) {
  FloodInput in;
  in.nx = in.ny = side;
  for (int64_t r = 0; r < side; ++r)
    for (int64_t c = 0; c < side; ++c) in.levels.push_back((r + c) % 2 ? 1 : 0);
  return in;
}

TEST(Flooding, SixteenBitLabelsSaturateAndTheCountGoesOn) {
  FloodInput in = checkerboard(400);  // 398 * 398 / 2 = 79202 minima
  FloodOutput narrow = run_worker<uint16_t>(in);
  FloodOutput wide = run_worker<uint32_t>(in);
  ASSERT_EQ(narrow.status, 0);
  EXPECT_EQ(narrow.count, 79202u);
  EXPECT_EQ(wide.count, 79202u);
  uint32_t saturated = 0;
  size_t first_saturated = 0;
  for (size_t p = 0; p < wide.labels.size(); ++p) {
    if (in.levels[p] != 0) continue;
    const uint32_t w = wide.labels[p];
    EXPECT_EQ(narrow.labels[p], w < 0xFFFA ? w : 0xFFFA) << p;
    if (narrow.labels[p] == 0xFFFA && saturated++ == 0) first_saturated = p;
  }
  EXPECT_EQ(saturated, 79202u - 0xFFFA + 1);  // the 65530th basin and every later one
  // Above the row where numbering saturates the two widths agree on every pixel;
  // below it, level-1 pixels between basins that share 0xFFFA join them.
  for (size_t p = 0; p + 400 < first_saturated; ++p)
    ASSERT_EQ(narrow.labels[p], wide.labels[p]) << p;
  EXPECT_EQ(narrow.labels[first_saturated + 400], 0xFFFAu);  // level 1, amid such basins
  EXPECT_EQ(wide.labels[first_saturated + 400], 0u);
}

TEST(Flooding, ThirtyTwoBitLabelsSaturateAndTheCountGoesOn) {
  FloodInput in = checkerboard(7);  // 13 minima
  in.start = 0xFFFFFFF2;
  FloodOutput out = run_worker<uint32_t>(in);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.count, 0xFFFFFFFFu);
  U32 basins;
  for (size_t p = 0; p < out.labels.size(); ++p)
    if (in.levels[p] == 0 && out.labels[p] != 0) basins.push_back(out.labels[p]);
  EXPECT_EQ(basins, (U32{0xFFFFFFF3, 0xFFFFFFF4, 0xFFFFFFF5, 0xFFFFFFF6, 0xFFFFFFF7, 0xFFFFFFF8,
                         0xFFFFFFF9, 0xFFFFFFFA, 0xFFFFFFFA, 0xFFFFFFFA, 0xFFFFFFFA, 0xFFFFFFFA,
                         0xFFFFFFFA}));
}

// Left open by the definition: a start label beyond the largest real label
// numbers every basin with the largest real label instead of a reserved value.
TEST(Flooding, StartLabelBeyondTheLargestRealLabelSaturatesAtOnce) {
  FloodInput in = checkerboard(5);
  in.start = 0xFFFD;
  FloodOutput narrow = run_worker<uint16_t>(in);
  in.start = 0xFFFFFFFE;
  FloodOutput wide = run_worker<uint32_t>(in);
  for (size_t p = 0; p < in.levels.size(); ++p) {
    EXPECT_TRUE(narrow.labels[p] == 0 || narrow.labels[p] == 0xFFFA) << p;
    EXPECT_TRUE(wide.labels[p] == 0 || wide.labels[p] == 0xFFFFFFFA) << p;
  }
  EXPECT_EQ(narrow.count, 0xFFFDu + 5);
}

// ---- failure paths ------------------------------------------------------

// A level-0 image flooded from four margin labels: several pairs to insert.
FloodInput many_pairs() {
  FloodInput in;
  in.nx = in.ny = 12;
  in.levels.assign(144, 0);
  for (int64_t c = 0; c < 12; ++c) in.top.push_back(c < 6 ? 1 : 2);
  for (int64_t r = 0; r < 12; ++r) in.left.push_back(r < 6 ? 3 : 4);
  in.merge_bd = true;
  in.mask.assign(144, 1);
  return in;
}

TEST(FloodingFailure, RefusedPairInsertionOrTablesReturnMinusOneAndReleaseTheQueue) {
  const FloodInput in = many_pairs();
  const FloodOutput ok = run_worker<uint32_t>(in);
  ASSERT_EQ(ok.status, 0);
  ASSERT_GE(ok.pairs.size(), 2u);
  int failures = 0;
  for (int64_t n = 1;; ++n) {
    aptree *tree = aptree_create();
    kavu_alloc_reset(n);
    const FloodOutput out = run_worker<uint32_t>(in, tree);
    kavu_alloc_reset();
    EXPECT_EQ(qelhost::live_temporaries(), 0) << "allocation " << n;
    if (out.status == 0) {
      EXPECT_EQ(out.labels, ok.labels);
      EXPECT_EQ(watershed_test::tree_pairs(tree), ok.pairs);
      aptree_destroy(tree);
      break;
    }
    aptree_destroy(tree);
    EXPECT_EQ(out.status, -1);
    ++failures;
  }
  EXPECT_EQ(failures, static_cast<int>(ok.pairs.size()) + 1);  // the tables, then each pair
}

TEST(FloodingFailure, RefusedScratchBlockReturnsMinusOneAndReleasesTheOthers) {
  // Every level-1 pixel waits at once: about 7000 queued, five blocks.
  const FloodInput in = checkerboard(120);
  for (int64_t block = 1; block <= 5; ++block) {
    qelhost::Refusals refusals;
    refusals.fail_temp_at = block;
    qelhost::set_refusals(refusals);
    const FloodOutput out = run_worker<uint16_t>(in);
    qelhost::set_refusals({});
    EXPECT_EQ(out.status, -1) << block;
    EXPECT_EQ(qelhost::live_temporaries(), 0) << block;
  }
}

}  // namespace
