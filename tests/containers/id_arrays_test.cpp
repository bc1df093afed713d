// Id arrays: the growth rule, element layouts, reuse and allocation failures;
// merge label lists: tails after add and move, and the dump format.
#include "containers/id_arrays.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "containers/allocation.h"
#include "containers/merge_lbl_list.h"

namespace {

TEST(IdArrays, CapacityDoublesTheMomentTheBufferBecomesFull) {
  lbl_ids *a = nullptr;
  ASSERT_EQ(init_lbl_ids(&a, 100000), 0);
  for (uint32_t i = 0; i < 100000; ++i) {
    ASSERT_EQ(add_lbl_id(a, i * 3), 0);
    ASSERT_LT(a->count, a->capacity);
  }
  EXPECT_EQ(a->count, 100000);
  EXPECT_EQ(a->capacity, 200000);
  for (uint32_t i = 0; i < 100000; ++i) ASSERT_EQ(a->ids[i], i * 3);
  free_lbl_ids(a);

  lambda_ids *l = nullptr;
  ASSERT_EQ(init_lambda_ids(&l, 2), 0);
  ASSERT_EQ(add_lambda_id(l, 0.5f), 0);
  EXPECT_EQ(l->capacity, 2);
  ASSERT_EQ(add_lambda_id(l, 1.5f), 0);
  EXPECT_EQ(l->capacity, 4);
  ASSERT_EQ(add_lambda_id(l, 2.5f), 0);
  ASSERT_EQ(add_lambda_id(l, 3.5f), 0);
  EXPECT_EQ(l->capacity, 8);
  EXPECT_EQ(l->ids[3], 3.5f);
  free_lambda_ids(l);
}

TEST(IdArrays, ElementsKeepTheirWordOrder) {
  lblmap_ids *m = nullptr;
  ASSERT_EQ(init_lblmap_ids(&m, 1), 0);
  for (uint32_t i = 0; i < 5; ++i) ASSERT_EQ(add_lblmap_id(m, 10 + i, 20 + i), 0);
  EXPECT_EQ(m->count, 5);
  EXPECT_EQ(m->capacity, 8);
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(m->ids[2 * i], 10 + i);
    EXPECT_EQ(m->ids[2 * i + 1], 20 + i);
  }
  free_lblmap_ids(m);

  ap_ids *p = nullptr;
  ASSERT_EQ(init_ap_ids(&p, 100000), 0);
  ASSERT_EQ(add_ap_id(p, {-1, 2, 3}), 0);
  EXPECT_EQ(p->ids[0].hash1, -1);
  EXPECT_EQ(p->ids[0].hash2, 2);
  EXPECT_EQ(p->ids[0].blen, 3);
  static_assert(sizeof(ap_pair) == 12);
  free_ap_ids(p);
}

TEST(IdArrays, ReinitEmptiesButKeepsTheGrownBuffer) {
  nbr_ids *n = nullptr;
  ASSERT_EQ(init_nbr_ids(&n, 2), 0);
  for (uint32_t i = 0; i < 9; ++i) ASSERT_EQ(add_nbr_id(n, i), 0);
  const uint32_t *buffer = n->ids;
  reinit_nbr_ids(&n);
  EXPECT_EQ(n->count, 0);
  EXPECT_EQ(n->capacity, 16);
  EXPECT_EQ(n->ids, buffer);
  free_nbr_ids(n);
}

TEST(IdArrays, FreeAcceptsNullAndCapacityBelowOneStillTakesAnElement) {
  free_lambda_ids(nullptr);
  free_lblmap_ids(nullptr);
  free_ap_ids(nullptr);
  free_nbr_ids(nullptr);
  free_lbl_ids(nullptr);
  nbr_ids *n = nullptr;
  ASSERT_EQ(init_nbr_ids(&n, 0), 0);
  ASSERT_EQ(add_nbr_id(n, 42), 0);
  EXPECT_EQ(n->ids[0], 42u);
  EXPECT_LT(n->count, n->capacity);
  free_nbr_ids(n);
}

TEST(IdArrays, AllocationFailuresReportMinusOneAndLeaveNothingBehind) {
  for (int64_t fail = 1; fail <= 2; ++fail) {
    ap_ids *p = reinterpret_cast<ap_ids *>(0x1);
    kavu_alloc_reset(fail);
    EXPECT_EQ(init_ap_ids(&p, 100), -1);
    kavu_alloc_reset();
    EXPECT_EQ(p, nullptr);
    free_ap_ids(p);
  }
  // Growth failure: the element is stored, the buffer released, free is safe.
  lbl_ids *a = nullptr;
  ASSERT_EQ(init_lbl_ids(&a, 2), 0);
  ASSERT_EQ(add_lbl_id(a, 1), 0);
  kavu_alloc_reset(1);
  EXPECT_EQ(add_lbl_id(a, 2), -1);
  kavu_alloc_reset();
  EXPECT_EQ(a->ids, nullptr);
  EXPECT_EQ(a->count, 2);
  free_lbl_ids(a);
}

std::string dump(int32_t n, const merge_lbl_list *lists) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&buffer, &size);
  t_print_merge_lbl_list(n, lists, stream);
  std::fclose(stream);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(MergeLblList, MoveConcatenatesInOrderAndEmptiesTheSource) {
  merge_lbl_list lists[3] = {};
  ASSERT_EQ(merge_lbl_list_add(&lists[0], 7), 0);
  EXPECT_EQ(lists[0].head, lists[0].tail);
  ASSERT_EQ(merge_lbl_list_add(&lists[0], 8), 0);
  ASSERT_EQ(merge_lbl_list_add(&lists[2], 9), 0);
  merge_lbl_node *single = lists[2].head;
  merge_lbl_list_move(&lists[0], &lists[2]);
  EXPECT_EQ(lists[0].tail, single);
  EXPECT_EQ(lists[2].head, nullptr);
  EXPECT_EQ(lists[2].tail, nullptr);
  ASSERT_EQ(merge_lbl_list_add(&lists[0], 0xFFFFFFFFu), 0);  // appends after the moved tail
  EXPECT_EQ(single->next, lists[0].tail);
  ASSERT_EQ(merge_lbl_list_add(&lists[1], 3), 0);
  EXPECT_EQ(dump(3, lists),
            "\nRegion merge label list (number = 3): \n"
            "Slot[000]: \n\t7  8  9  -1  \n"
            "Slot[001]: \n\t3  \n"
            "Number of valid slots: 2\nNumber of regions: 5\n");
  for (merge_lbl_list &list : lists) merge_lbl_list_destroy(&list);
  EXPECT_EQ(dump(0, nullptr),
            "\nRegion merge label list (number = 0): \nNumber of valid slots: 0\nNumber of regions: 0\n");
}

TEST(MergeLblList, FailedAddKeepsEarlierNodes) {
  merge_lbl_list list{};
  ASSERT_EQ(merge_lbl_list_add(&list, 1), 0);
  kavu_alloc_reset(1);
  EXPECT_EQ(merge_lbl_list_add(&list, 2), -1);
  kavu_alloc_reset();
  EXPECT_EQ(list.head, list.tail);
  EXPECT_EQ(list.tail->label, 1u);
  EXPECT_EQ(list.tail->next, nullptr);
  merge_lbl_list_destroy(&list);
}

}  // namespace
