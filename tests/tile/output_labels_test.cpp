// Output labels of a tile: numbering by region position, continued regions
// keeping their shared label, the last label handed out, and the pixel pass.
#include "tile_structures.h"

#include "containers/allocation.h"
#include "tile/output_labels.h"

namespace {

using namespace tile_test;

struct Assigned {
  std::vector<uint32_t> new_lbl;
  std::vector<int32_t> owner;
  uint32_t last = 0;
  int32_t status = 0;
};

Assigned assign(Lists &lists, const LabelTable &table, uint32_t start, const LabelTable *continued) {
  Assigned a;
  a.new_lbl.assign(size_t(table.n_positions), 0xFFFFFFFFu);
  a.owner.assign(size_t(table.n_positions), -1);
  auto *hash = const_cast<open_hash *>(&table.h);
  a.status = continued ? tile_reassign_region_label(table.n_positions, lists.lists.data(), hash, a.new_lbl.data(),
                                                    a.owner.data(), start, &a.last,
                                                    const_cast<open_hash *>(&continued->h))
                       : reassign_region_label(table.n_positions, lists.lists.data(), hash, a.new_lbl.data(),
                                               a.owner.data(), start, &a.last);
  return a;
}

TEST(ReassignRegionLabel, SurvivorsNumberedInPositionOrder) {
  LabelTable table({12, 3, 7}, 6);  // 16 positions; each label sits at its own value
  ASSERT_EQ(table.pos(12), 12);
  Lists lists(table);
  const Assigned a = assign(lists, table, 100, nullptr);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.new_lbl[3], 100u);
  EXPECT_EQ(a.new_lbl[7], 101u);
  EXPECT_EQ(a.new_lbl[12], 102u);
  EXPECT_EQ(a.last, 102u);
  EXPECT_EQ(a.owner[12], 12);
}

TEST(ReassignRegionLabel, AbsorbedLabelsFollowTheirSurvivor) {
  LabelTable table({12, 3, 7}, 6);
  Lists lists(table);
  lists.absorb(7, 3);
  lists.absorb(7, 12);
  const Assigned a = assign(lists, table, 5, nullptr);
  ASSERT_EQ(a.status, 0);
  for (int p : {3, 7, 12}) {
    EXPECT_EQ(a.new_lbl[size_t(p)], 5u) << p;
    EXPECT_EQ(a.owner[size_t(p)], 7) << p;
  }
  EXPECT_EQ(a.last, 5u);
}

TEST(ReassignRegionLabel, NoSurvivorGivesStartMinusOneWrappingAtZero) {
  LabelTable table({}, 0);
  Lists lists(table);
  EXPECT_EQ(assign(lists, table, 10, nullptr).last, 9u);
  EXPECT_EQ(assign(lists, table, 0, nullptr).last, 0xFFFFFFFFu);
}

TEST(TileReassignRegionLabel, ContinuedRegionKeepsItsSharedLabel) {
  LabelTable table({5, 6, 57}, 6);
  LabelTable continued({57});
  Lists lists(table);
  const Assigned a = assign(lists, table, 5, &continued);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(57))], 57u);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(5))], 5u);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(6))], 6u);
  EXPECT_EQ(a.last, 6u);
}

TEST(TileReassignRegionLabel, OnlyTheFirstLabelOfAListDecides) {
  LabelTable table({5, 6, 57}, 6);
  LabelTable continued({57});
  Lists lists(table);
  lists.absorb(6, 57);  // a tile region absorbed the continued one: new label, 57 maps to it
  Assigned a = assign(lists, table, 5, &continued);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(57))], 6u);
  EXPECT_EQ(a.owner[size_t(table.pos(57))], table.pos(6));
  EXPECT_EQ(a.last, 6u);

  Lists reverse(table);
  reverse.absorb(57, 6);  // the continued region absorbed a tile region: 6 takes 57
  a = assign(reverse, table, 5, &continued);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(6))], 57u);
  EXPECT_EQ(a.new_lbl[size_t(table.pos(5))], 5u);
  EXPECT_EQ(a.last, 5u);
}

TEST(TileReassignRegionLabel, EveryRegionContinuedLeavesLastAtStart) {
  LabelTable table({57, 58}, 6);
  LabelTable continued({57, 58});
  Lists lists(table);
  EXPECT_EQ(assign(lists, table, 40, &continued).last, 40u);
}

TEST(ReassignRegionLabel, LabelMissingFromTheRegionHashIsKeyNotFound) {
  LabelTable table({3, 7}, 6);
  Lists lists(table);
  ASSERT_EQ(merge_lbl_list_add(&lists.lists[3], 99), 0);
  EXPECT_EQ(assign(lists, table, 0, nullptr).status, -3);
}

struct OutputImage {
  std::vector<uint32_t> out;
  uint32_t last = 0;
  int32_t status = 0;
  std::vector<int32_t> owner;
};

OutputImage create(const std::vector<uint32_t> &in, int32_t ncols, int32_t nrows, LabelTable &table, Lists &lists,
                   const std::vector<uint8_t> &mask, uint32_t start) {
  OutputImage r;
  r.out.assign(in.size(), 0xABCDu);
  int32_t *owner = nullptr;
  r.status = create_output_lbl_image(in.data(), ncols, nrows, table.n_positions, &table.h, lists.lists.data(),
                                     r.out.data(), start, &r.last, &owner, 0, nullptr,
                                     mask.empty() ? nullptr : mask.data());
  if (owner) r.owner.assign(owner, owner + table.n_positions);
  kavu_free(owner);
  return r;
}

TEST(CreateOutputLblImage, WritesEveryPixelItsSurvivorsLabel) {
  const std::vector<uint32_t> in = {8, 8, 2, 2, 8, 5, 5, 2};
  LabelTable table({8, 2, 5});
  Lists lists(table);
  lists.absorb(2, 5);
  const OutputImage r = create(in, 4, 2, table, lists, {}, 10);
  ASSERT_EQ(r.status, 0);
  const uint32_t l2 = table.pos(2) < table.pos(8) ? 10 : 11, l8 = 21 - l2;
  EXPECT_EQ(r.out, (std::vector<uint32_t>{l8, l8, l2, l2, l8, l2, l2, l2}));
  EXPECT_EQ(r.last, 11u);
  EXPECT_EQ(r.owner[size_t(table.pos(5))], table.pos(2));
}

TEST(CreateOutputLblImage, PixelsOutsideTheMaskAreNotWritten) {
  const std::vector<uint32_t> in = {8, 99, 2, 2};  // 99 is no region, but masked out
  LabelTable table({8, 2});
  Lists lists(table);
  const OutputImage r = create(in, 2, 2, table, lists, {1, 0, 1, 1}, 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out[1], 0xABCDu);
  EXPECT_NE(r.out[0], r.out[2]);
}

TEST(CreateOutputLblImage, PixelLabelNotInTheRegionHashIsKeyNotFound) {
  const std::vector<uint32_t> in = {8, 99, 2, 2};
  LabelTable table({8, 2});
  Lists lists(table);
  EXPECT_EQ(create(in, 2, 2, table, lists, {}, 0).status, -3);
}

TEST(CreateOutputLblImage, EachAllocationFailureIsMemory) {
  const std::vector<uint32_t> in = {8, 8, 2, 2};
  LabelTable table({8, 2});
  Lists lists(table);
  for (int64_t fail_at = 1; fail_at <= 2; ++fail_at) {
    kavu_alloc_reset(fail_at);
    const OutputImage r = create(in, 2, 2, table, lists, {}, 0);
    kavu_alloc_reset();
    EXPECT_EQ(r.status, -1) << fail_at;
  }
}

}  // namespace
