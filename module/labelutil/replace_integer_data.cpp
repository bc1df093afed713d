// Label replacement worker: the pairs go into a small open-addressing table
// keyed by old value, then one pass over the data looks each run of equal
// values up once and writes every element of the result.
#include "labelutil/replace_integer_data.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "containers/open_hash.h"

namespace {

// Old value -> new value, the last pair of a repeated old value winning.
// Linear probing over a power-of-two table at most half full; OPEN_HASH_EMPTY
// marks a free slot, which no value that passes open_hash_reserved can be.
struct pair_table {
  struct slot {
    uint32_t old_value, new_value;
  };
  slot *slots = nullptr;
  uint32_t mask = 0;
  int shift = 0;

  uint32_t home(uint32_t v) const {
    return static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> shift);
  }

  // The new value of `v`, or `v` itself when no pair names it.
  uint32_t replacement(uint32_t v) const {
    for (uint32_t i = home(v);; i = (i + 1) & mask) {
      if (slots[i].old_value == v) return slots[i].new_value;
      if (slots[i].old_value == OPEN_HASH_EMPTY) return v;
    }
  }
};

int32_t build_pair_table(const uint32_t *old_values, const uint32_t *new_values, int32_t n_pairs,
                         pair_table &t) {
  int bits = 4;
  while ((int64_t{1} << bits) < 2 * int64_t{n_pairs}) ++bits;
  t.mask = static_cast<uint32_t>((uint64_t{1} << bits) - 1);
  t.shift = 64 - bits;
  t.slots = kavu_alloc_array<pair_table::slot>(size_t{t.mask} + 1);
  if (!t.slots) return KAVU_NO_MEMORY;
  for (uint32_t i = 0; i <= t.mask; ++i) t.slots[i] = {OPEN_HASH_EMPTY, 0};
  for (int32_t j = 0; j < n_pairs; ++j) {
    const uint32_t v = old_values[j];
    if (open_hash_reserved(v)) continue;  // no data element can hold it
    uint32_t i = t.home(v);
    while (t.slots[i].old_value != OPEN_HASH_EMPTY && t.slots[i].old_value != v)
      i = (i + 1) & t.mask;
    t.slots[i] = {v, new_values[j]};
  }
  return 0;
}

}  // namespace

int32_t replace_integer_data(const uint32_t *data, int32_t n, const uint32_t *old_values,
                             const uint32_t *new_values, int32_t n_pairs, uint32_t *out) {
  pair_table t;
  if (build_pair_table(old_values, new_values, n_pairs < 0 ? 0 : n_pairs, t) != 0)
    return KAVU_NO_MEMORY;
  // Label images hold runs of equal values: a run is looked up once.
  int32_t status = 0;
  uint32_t previous = 0, replaced = 0;
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t v = data[i];
    if (i == 0 || v != previous) {
      // The label tables' reserved words are refused as data, whatever the
      // pairs, as at every other door: never a wrong array.
      if (open_hash_reserved(v)) {
        status = KAVU_KEY_NOT_FOUND;
        break;
      }
      previous = v;
      replaced = t.replacement(v);
    }
    out[i] = replaced;
  }
  kavu_free(t.slots);
  return status;
}
