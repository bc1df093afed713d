// open_hash against an std::unordered_map reference, the sizing table, the
// probe sequence, and the byte layout of print_table.
#include "containers/open_hash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "containers/allocation.h"

namespace {

open_hash make_table(int32_t expected) {
  open_hash t{};
  int32_t n = expected;
  const int32_t param = compute_hash_param(&n);
  EXPECT_EQ(open_hash_init(&t, n, param, h1_reg, h2_reg, match_reg), 0);
  return t;
}

std::string printed(const open_hash &t) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&buffer, &size);
  print_table(&t, stream);
  std::fclose(stream);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(OpenHashSizing, SampleCountsGiveTheSmallestPowerOfTwoAboveOneAndAHalfTimes) {
  struct Row { int32_t n, positions, param; };
  const Row rows[] = {{0, 2, 0},    {1, 2, 1},    {2, 4, 2},     {3, 8, 3},       {4, 8, 3},
                      {5, 8, 3},    {6, 16, 4},   {10, 16, 4},   {11, 32, 5},     {21, 32, 5},
                      {22, 64, 6},  {100, 256, 8}, {1000, 2048, 11}, {100000, 262144, 18}};
  for (const Row &row : rows) {
    int32_t n = row.n;
    EXPECT_EQ(compute_hash_param(&n), row.param) << row.n;
    EXPECT_EQ(n, row.positions) << row.n;
  }
  for (int32_t count = 1; count < 5000; ++count) {
    int32_t n = count;
    const int32_t param = compute_hash_param(&n);
    EXPECT_EQ(n, 1 << param);
    EXPECT_GT(n, 1.5 * count);
    EXPECT_LE(n / 2, 1.5 * count);
  }
}

TEST(OpenHashFunctions, PrimeTableAndHashes) {
  int32_t k = 0;
  for (int32_t v = 3; v <= 1621; v += 2) {
    bool prime = true;
    for (int32_t d = 3; d * d <= v; d += 2) prime = prime && v % d != 0;
    if (prime) {
      ASSERT_EQ(primetbl[k++], v);
    }
  }
  EXPECT_EQ(k, 256);
  EXPECT_EQ(h1_reg(0xABCDu, 8), 0xCD);
  EXPECT_EQ(h1_reg(0xABCDu, 0), 0);
  EXPECT_EQ(h2_reg(0xABCDu, 8), primetbl[0xAB]);
  EXPECT_EQ(h2_reg(0xFFFFFFFFu, 24), 1621);
  EXPECT_EQ(h3_reg(0xFFFFFFFFu, 7), static_cast<int32_t>(0xFFFFFFFFu % 7u));
  EXPECT_EQ(h4_reg(20u, 7), 1);
  EXPECT_EQ(match_reg(5, 5), 1);
  EXPECT_EQ(match_reg(OPEN_HASH_DELETED, 5), 0);
}

TEST(OpenHash, SmallKeysSitAtTheirOwnValueAndStepByThree) {
  open_hash t = make_table(5);  // 8 positions
  int32_t pos = -7;
  for (uint32_t key = 0; key < 8; key += 2) {
    ASSERT_EQ(open_hash_insert(&t, key, &pos), 0);
    EXPECT_EQ(pos, static_cast<int32_t>(key));
  }
  // 8 has home 0 (taken) and step primetbl[(8 >> 3) & 0xFF] = 5: 0 -> 5.
  ASSERT_EQ(open_hash_insert(&t, 8, &pos), 0);
  EXPECT_EQ(pos, 5);
  // 1's home is free; 16 has home 0 and step primetbl[2] = 7: 0 -> 7.
  ASSERT_EQ(open_hash_insert(&t, 16, &pos), 0);
  EXPECT_EQ(pos, 7);
  for (uint32_t key = 0; key < 8; ++key) EXPECT_EQ(h2_reg(key, t.hash_param), 3);
  open_hash_destroy(&t);
}

TEST(OpenHash, ProbeSequencesFillEveryPosition) {
  std::mt19937 rng(7);
  for (int32_t expected = 0; expected < 400; expected += 13) {
    open_hash t = make_table(expected);
    std::unordered_set<int32_t> positions;
    for (int32_t i = 0; i < t.n_positions; ++i) {
      // Keys that share their home position force long probe walks.
      const uint32_t key = (rng() << t.hash_param) & 0xFFFFFF00u;
      int32_t pos;
      const int32_t status = open_hash_insert(&t, key, &pos);
      if (status == -2) continue;
      ASSERT_EQ(status, 0);
      ASSERT_TRUE(pos >= 0 && pos < t.n_positions);
      ASSERT_TRUE(positions.insert(pos).second);
    }
    while (t.n_stored < t.n_positions) {
      int32_t pos;
      const int32_t status = open_hash_insert(&t, rng() % 0xFFFFFFF0u, &pos);
      if (status == 0) {
        ASSERT_TRUE(positions.insert(pos).second);
      }
    }
    // Full: even a present key is refused without touching the position.
    int32_t pos = 12345;
    EXPECT_EQ(open_hash_insert(&t, t.slots[0], &pos), -1);
    EXPECT_EQ(pos, 12345);
    EXPECT_EQ(open_hash_insert(&t, 0xFFFFFFF0u, &pos), -1);
    int32_t found;
    EXPECT_EQ(open_hash_lookup(&t, t.slots[t.n_positions - 1], &found), 0);
    EXPECT_EQ(found, t.n_positions - 1);
    open_hash_destroy(&t);
  }
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

TEST(OpenHash, RemovedSlotIsPassedOverByLookupAndReusedByInsert) {
  open_hash t = make_table(5);  // 8 positions; 0, 8 and 16 all start at 0
  int32_t p0, p8, p16, pos;
  ASSERT_EQ(open_hash_insert(&t, 0, &p0), 0);
  ASSERT_EQ(open_hash_insert(&t, 8, &p8), 0);
  ASSERT_EQ(open_hash_insert(&t, 16, &p16), 0);
  ASSERT_EQ(open_hash_remove(&t, 0), 0);
  EXPECT_EQ(t.slots[p0], OPEN_HASH_DELETED);
  EXPECT_EQ(open_hash_remove(&t, 0), -1);
  EXPECT_EQ(open_hash_lookup(&t, 8, &pos), 0);
  EXPECT_EQ(pos, p8);
  // A present key behind the deleted slot is still found, not inserted twice.
  EXPECT_EQ(open_hash_insert(&t, 16, &pos), -2);
  EXPECT_EQ(pos, p16);
  EXPECT_EQ(t.n_stored, 2);
  ASSERT_EQ(open_hash_insert(&t, 24, &pos), 0);
  EXPECT_EQ(pos, p0);
  EXPECT_EQ(t.n_stored, 3);
  open_hash_destroy(&t);
}

TEST(OpenHash, ZeroCountTableHasTwoPositionsAndTakesTwoKeys) {
  open_hash t = make_table(0);
  EXPECT_EQ(t.n_positions, 2);
  EXPECT_EQ(t.hash_param, 0);
  int32_t a, b, pos;
  ASSERT_EQ(open_hash_insert(&t, 77, &a), 0);
  EXPECT_EQ(a, 0);
  ASSERT_EQ(open_hash_insert(&t, 78, &b), 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(open_hash_insert(&t, 79, &pos), -1);
  EXPECT_EQ(open_hash_lookup(&t, 79, &pos), -1);
  EXPECT_EQ(pos, -1);
  open_hash_destroy(&t);
}

TEST(OpenHash, InsertLblHashAcceptsRepeatsAndDestroysTheTableWhenFull) {
  open_hash t = make_table(0);
  EXPECT_EQ(insert_lbl_hash(&t, 4), 0);
  EXPECT_EQ(insert_lbl_hash(&t, 4), 0);
  EXPECT_EQ(insert_lbl_hash(&t, 5), 0);
  EXPECT_EQ(t.n_stored, 2);
  EXPECT_EQ(insert_lbl_hash(&t, 6), -2);
  EXPECT_EQ(t.slots, nullptr);
  EXPECT_EQ(t.n_positions, 0);
  open_hash_destroy(&t);  // a second destroy is harmless
  EXPECT_EQ(t.hash_fn, nullptr);
  EXPECT_EQ(t.n_stored, 0);
}

TEST(OpenHash, InitReportsAllocationFailure) {
  open_hash t{};
  kavu_alloc_reset(1);
  EXPECT_EQ(open_hash_init(&t, 16, 4, h1_reg, h2_reg, match_reg), -1);
  kavu_alloc_reset();
  EXPECT_EQ(t.slots, nullptr);
}

TEST(OpenHash, PrintTableShowsSignedKeysAndBlankSlots) {
  open_hash t = make_table(1);  // 2 positions
  int32_t pos;
  ASSERT_EQ(open_hash_insert(&t, 0x80000001u, &pos), 0);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(printed(t),
            "Table size is 1\nNumber of table positions is 2\nSlot[000]= \nSlot[001]=-2147483647\n");
  ASSERT_EQ(open_hash_insert(&t, 0x80000000u, &pos), 0);
  ASSERT_EQ(open_hash_remove(&t, 0x80000001u), 0);
  EXPECT_EQ(printed(t),
            "Table size is 1\nNumber of table positions is 2\nSlot[000]=-2147483648\nSlot[001]= \n");
  open_hash_destroy(&t);
}

}  // namespace
