// The flooding queue: first in first out, nodes recycled, host scratch blocks
// of 257, 513, 1025, ... nodes, all released by queue_clean.
#include "watershed/queue.h"

#include "qelhost.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace {

int64_t blocks_of(const queue &q) {
  int64_t n = 0;
  for (const queue_block *b = q.blocks; b; b = b->next) ++n;
  return n;
}

void add(queue &q, uint32_t v) { ASSERT_EQ(queue_add(&q, &v), 0); }

TEST(Queue, KeepsArrivalOrderAgainstADeque) {
  queue q;
  ASSERT_EQ(queue_init(&q), 0);
  std::mt19937 rng(7);
  std::deque<int32_t> model;
  for (int i = 0; i < 20000; ++i) {
    if (rng() % 3 != 0) {
      const uint32_t v = rng() & 0x7FFFFFFF;
      add(q, v);
      model.push_back(static_cast<int32_t>(v));
    } else {
      int32_t out = -7;
      queue_first(&q, &out);
      EXPECT_EQ(out, model.empty() ? -7 : model.front());  // empty: out untouched
      if (!model.empty()) model.pop_front();
    }
    ASSERT_EQ(q.count, static_cast<int32_t>(model.size()));
    ASSERT_EQ(queue_empty(&q), model.empty());
  }
  queue_clean(&q);
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

TEST(Queue, BlocksDoubleAndNodesAreRecycled) {
  queue q;
  ASSERT_EQ(queue_init(&q), 0);
  ASSERT_EQ(blocks_of(q), 1);
  EXPECT_EQ(q.blocks->scratch->value.arr->n_elts, 256 * 16 + 32);  // 257 nodes and the header
  EXPECT_EQ(q.block_size, 512);
  // The sentinel holds one of the 257 nodes.
  for (uint32_t i = 0; i < 256; ++i) add(q, i);
  EXPECT_EQ(blocks_of(q), 1);
  add(q, 256);
  EXPECT_EQ(blocks_of(q), 2);
  EXPECT_EQ(q.blocks->scratch->value.arr->n_elts, 512 * 16 + 32);
  for (uint32_t i = 257; i < 256 + 513; ++i) add(q, i);
  EXPECT_EQ(blocks_of(q), 2);
  add(q, 0);
  EXPECT_EQ(blocks_of(q), 3);
  EXPECT_EQ(qelhost::live_temporaries(), 3);
  // Emptied and refilled to the same length: no new block.
  int32_t out;
  while (!queue_empty(&q)) queue_first(&q, &out);
  for (uint32_t i = 0; i < 770; ++i) add(q, i);
  EXPECT_EQ(blocks_of(q), 3);
  queue_clean(&q);
  EXPECT_EQ(q.blocks, nullptr);
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

TEST(Queue, ValuesReadBackAsSigned) {
  queue q;
  ASSERT_EQ(queue_init(&q), 0);
  add(q, 0xFFFFFFFF);
  int32_t out = 0;
  queue_first(&q, &out);
  EXPECT_EQ(out, -1);
  queue_clean(&q);
}

TEST(Queue, RefusedBlockFailsTheAdd) {
  qelhost::Refusals r;
  r.fail_temp_at = 1;
  qelhost::set_refusals(r);
  queue q;
  EXPECT_EQ(queue_init(&q), -1);
  queue_clean(&q);
  r.fail_temp_at = 2;
  qelhost::set_refusals(r);
  ASSERT_EQ(queue_init(&q), 0);
  for (uint32_t i = 0; i < 256; ++i) add(q, i);
  const uint32_t v = 1;
  EXPECT_EQ(queue_add(&q, &v), -1);
  EXPECT_EQ(q.count, 256);
  qelhost::set_refusals({});
  queue_clean(&q);
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

}  // namespace
