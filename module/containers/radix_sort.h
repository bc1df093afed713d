// Sorting of unsigned 64-bit words whose set bits lie below a known width, by
// least-significant-digit counting passes: the order is the words' numeric
// order, the one std::sort gives, at a cost linear in the count.
#pragma once

#include "containers/status.h"

#include <cstdint>

// Sorts `count` words ascending; every word must be below 2^`bits` (bits <= 64).
// From two words on, a scratch of `count` words and the counters come from the
// allocation layer. 0 or KAVU_NO_MEMORY, and then the words are left as they were.
kavu_status radix_sort_u64(uint64_t *words, int64_t count, int32_t bits);
