// Counting passes of at most 12 bits (4096 counters stay in the first-level
// cache), as few as the width needs, moving the words between them and the
// scratch; a pass whose digit is the same in every word is skipped, and a
// result left in the scratch is copied back.
#include "containers/radix_sort.h"

#include "containers/allocation.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int32_t max_digit_bits = 12;
constexpr int64_t digits_per_pass = int64_t{1} << max_digit_bits;

}  // namespace

kavu_status radix_sort_u64(uint64_t *words, int64_t count, int32_t bits) {
  if (count < 2 || bits <= 0) return KAVU_OK;  // nothing to order
  const int32_t passes = (bits + max_digit_bits - 1) / max_digit_bits;
  const int32_t digit_bits = (bits + passes - 1) / passes;
  const uint64_t digit_mask = (uint64_t{1} << digit_bits) - 1;
  // The scratch words, then the counters.
  uint64_t *scratch = kavu_alloc_array<uint64_t>(static_cast<size_t>(count + digits_per_pass));
  if (!scratch) return KAVU_NO_MEMORY;
  auto *starts = reinterpret_cast<int64_t *>(scratch + count);
  uint64_t *from = words, *to = scratch;
  for (int32_t pass = 0; pass < passes; ++pass) {
    const int32_t shift = pass * digit_bits;
    std::fill(starts, starts + digit_mask + 1, 0);
    for (int64_t i = 0; i < count; ++i) starts[(from[i] >> shift) & digit_mask] += 1;
    if (starts[(from[0] >> shift) & digit_mask] == count) continue;  // one digit: order kept
    int64_t start = 0;
    for (int64_t d = 0; d <= static_cast<int64_t>(digit_mask); ++d) {
      const int64_t c = starts[d];
      starts[d] = start;
      start += c;
    }
    for (int64_t i = 0; i < count; ++i) to[starts[(from[i] >> shift) & digit_mask]++] = from[i];
    std::swap(from, to);
  }
  if (from != words) std::memcpy(words, from, static_cast<size_t>(count) * sizeof(uint64_t));
  kavu_free(scratch);
  return KAVU_OK;
}
