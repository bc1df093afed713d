// The merge tree's indexed heap against a std::set in the mgtree key order:
// random pushes, removals of given pairs and of the minimum, costs with ties.
#include "lambda/candidate_heap.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

struct before {
  bool operator()(mg_key a, mg_key b) const { return candidate_before(a, b); }
};

TEST(CandidateHeap, MinimumAndRemovalsFollowTheTreeOrder) {
  std::mt19937 rng(7);
  constexpr int32_t n_pairs = 400;
  candidate_heap heap;
  ASSERT_EQ(candidate_heap_init(&heap, n_pairs, n_pairs), 0);
  std::set<mg_key, before> reference;
  for (int step = 0; step < 20000; ++step) {
    const int32_t p = static_cast<int32_t>(rng() % n_pairs);
    const int32_t at = heap.place[p];
    if (at < 0) {
      const mg_key key{static_cast<float>(rng() % 8), p};  // many equal costs
      ASSERT_EQ(candidate_heap_push(&heap, key), 0);
      reference.insert(key);
    } else {
      const int32_t i = rng() % 4 == 0 ? 0 : at;  // the minimum, as a merge takes it, or pair p
      reference.erase(heap.keys[i]);
      candidate_heap_remove_at(&heap, i);
    }
    ASSERT_EQ(heap.size, static_cast<int32_t>(reference.size()));
    if (heap.size > 0) {
      ASSERT_EQ(heap.keys[0].pair_index, reference.begin()->pair_index) << step;
    }
    for (const mg_key &key : reference) {
      ASSERT_EQ(heap.keys[heap.place[key.pair_index]].cost, key.cost);
    }
  }
  candidate_heap_release(&heap);
}

}  // namespace
