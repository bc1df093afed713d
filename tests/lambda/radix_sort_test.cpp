// The pair keys' counting sort against std::sort: widths of one to six passes
// (the last narrower), many repeats, digits that never change, short runs; a
// refused scratch leaves the words.
#include "containers/allocation.h"
#include "containers/radix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

TEST(RadixSort, GivesTheOrderOfStdSort) {
  const int64_t counts[] = {0, 1, 511, 512, 3000, 3000, 5000, 4096, 20000, 7001};
  const int32_t bits[] = {8, 8, 20, 1, 12, 13, 25, 36, 62, 64};
  std::mt19937_64 rng(11);
  for (int t = 0; t < 10; ++t) {
    const uint64_t mask = bits[t] == 64 ? ~uint64_t{0} : (uint64_t{1} << bits[t]) - 1;
    const uint64_t repeat = rng() & mask;
    std::vector<uint64_t> words(static_cast<size_t>(counts[t]));
    // Every third width holds only its lower half: digits the same in every word.
    const int32_t narrow = t % 3 == 0 ? bits[t] / 2 : 0;
    for (uint64_t &w : words) w = (rng() % 4 == 0 ? repeat : rng() & mask) >> narrow;
    std::vector<uint64_t> expected = words;
    std::sort(expected.begin(), expected.end());
    const std::vector<uint64_t> original = words;
    const bool counted = counts[t] >= 512;  // shorter runs need no scratch
    kavu_alloc_reset(1);
    EXPECT_EQ(radix_sort_u64(words.data(), counts[t], bits[t]), counted ? -1 : 0);
    kavu_alloc_reset();
    if (counted) EXPECT_EQ(words, original) << "a refused sort leaves the words";
    ASSERT_EQ(radix_sort_u64(words.data(), counts[t], bits[t]), 0);
    EXPECT_EQ(words, expected) << counts[t] << " words of " << bits[t] << " bits";
  }
}
