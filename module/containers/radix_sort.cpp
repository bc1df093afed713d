// Counting passes of at most 12 bits (4096 counters stay in the first-level
// cache), as few as the width needs, alternating between the words and the
// scratch; an odd number of passes ends with a copy back.
#include "containers/radix_sort.h"

#include "containers/allocation.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t max_digit_bits = 12;
// Below this, the scratch and the counters cost more than comparing.
constexpr int64_t shortest_counted = 512;

void counting_pass(const uint64_t *from, uint64_t *to, int64_t count, int32_t shift,
                   int32_t digit_bits, int64_t *counters) {
  const uint64_t digit_mask = (uint64_t{1} << digit_bits) - 1;
  const int64_t n_digits = int64_t{1} << digit_bits;
  std::fill(counters, counters + n_digits, 0);
  for (int64_t i = 0; i < count; ++i) counters[(from[i] >> shift) & digit_mask] += 1;
  int64_t start = 0;
  for (int64_t d = 0; d < n_digits; ++d) {
    const int64_t n = counters[d];
    counters[d] = start;
    start += n;
  }
  for (int64_t i = 0; i < count; ++i) to[counters[(from[i] >> shift) & digit_mask]++] = from[i];
}

}  // namespace

kavu_status radix_sort_u64(uint64_t *words, int64_t count, int32_t bits) {
  if (count < shortest_counted || bits <= 0) {
    std::sort(words, words + count);
    return KAVU_OK;
  }
  uint64_t *scratch = kavu_alloc_array<uint64_t>(static_cast<size_t>(count));
  if (!scratch) return KAVU_NO_MEMORY;
  const int32_t passes = (bits + max_digit_bits - 1) / max_digit_bits;
  const int32_t digit_bits = (bits + passes - 1) / passes;
  int64_t counters[int64_t{1} << max_digit_bits];
  uint64_t *from = words, *to = scratch;
  for (int32_t pass = 0, shift = 0; pass < passes; ++pass, shift += digit_bits) {
    counting_pass(from, to, count, shift, std::min(digit_bits, bits - shift), counters);
    std::swap(from, to);
  }
  if (from != words) std::memcpy(words, from, static_cast<size_t>(count) * sizeof(uint64_t));
  kavu_free(scratch);
  return KAVU_OK;
}
