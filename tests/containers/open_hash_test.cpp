// open_hash against an std::unordered_map reference, and the layout of
// print_table.
#include "containers/open_hash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>


namespace {

open_hash make_table(int32_t expected) {
  open_hash t{};
  int32_t n = expected;
  const int32_t param = compute_hash_param(&n);
  EXPECT_EQ(open_hash_init(&t, n, param, h1_reg, h2_reg, match_reg), 0);
  return t;
}

TEST(OpenHash, RandomOperationsMatchAReferenceMap) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    const int32_t expected = static_cast<int32_t>(rng() % 300);
    open_hash t = make_table(expected);
    std::unordered_map<uint32_t, int32_t> ref;  // key -> position
    const uint32_t key_range = static_cast<uint32_t>(expected) * 2 + 3;
    for (int step = 0; step < 20000; ++step) {
      // High bits spread keys over all steps; the low range makes repeats.
      const uint32_t key = (rng() % key_range) * 0x01000193u;
      int32_t pos = -9;
      switch (rng() % 3) {
        case 0: {
          const int32_t status = open_hash_insert(&t, key, &pos);
          auto it = ref.find(key);
          if (it != ref.end() && static_cast<int32_t>(ref.size()) < t.n_positions) {
            ASSERT_EQ(status, -2);
            ASSERT_EQ(pos, it->second);
          } else if (static_cast<int32_t>(ref.size()) == t.n_positions) {
            ASSERT_EQ(status, -1);
          } else {
            ASSERT_EQ(status, 0);
            ASSERT_EQ(t.slots[pos], key);
            ref[key] = pos;
          }
          break;
        }
        case 1: {
          const int32_t status = open_hash_lookup(&t, key, &pos);
          auto it = ref.find(key);
          ASSERT_EQ(status, it == ref.end() ? -1 : 0);
          ASSERT_EQ(pos, it == ref.end() ? -1 : it->second);
          break;
        }
        default: {
          auto it = ref.find(key);
          ASSERT_EQ(open_hash_remove(&t, key), it == ref.end() ? -1 : 0);
          if (it != ref.end()) {
            ASSERT_EQ(open_hash_pos_valid(&t, it->second), 0);
            ref.erase(it);
          }
        }
      }
      ASSERT_EQ(t.n_stored, static_cast<int32_t>(ref.size()));
    }
    open_hash_destroy(&t);
  }
}

}  // namespace
