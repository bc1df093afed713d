// Label replacement worker: a counting sort of the element indices by value
// (positions of an open_hash of the values), then one write per pair over the
// group of its old value.
#include "labelutil/replace_integer_data.h"

#include "containers/allocation.h"
#include "containers/open_hash.h"
#include "containers/status.h"

namespace {

struct value_groups {
  open_hash value_hash{};
  int32_t *slot_count = nullptr;  // elements per hash position
  int32_t *slot_end = nullptr;    // size + 1 entries: group starts, then group ends
  int32_t *pixel_order = nullptr; // element indices grouped by position
};

void release(value_groups &g) {
  open_hash_destroy(&g.value_hash);
  kavu_free(g.slot_count);
  kavu_free(g.slot_end);
  kavu_free(g.pixel_order);
}

int32_t build_groups(const uint32_t *data, int32_t n, value_groups &g) {
  int32_t size = n;
  const int32_t param = compute_hash_param(&size);
  if (open_hash_init(&g.value_hash, size, param, h1_reg, h2_reg, match_reg) != 0) return KAVU_NO_MEMORY;
  g.slot_count = kavu_alloc_zeroed<int32_t>(size);
  g.slot_end = kavu_alloc_zeroed<int32_t>(size + 1);
  g.pixel_order = kavu_alloc_array<int32_t>(n);
  if (!g.slot_count || !g.slot_end || !g.pixel_order) return KAVU_NO_MEMORY;

  // Label images hold runs of equal values: an element equal to the one before
  // it reuses that element's position instead of probing the table again.
  int32_t pos = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (i == 0 || data[i] != data[i - 1]) {
      // A stored deleted word would read as a free slot that a later value
      // overwrites, merging two groups: refused, never a wrong array.
      if (open_hash_reserved(data[i])) return KAVU_KEY_NOT_FOUND;
      // -2 means "already present" and still gives the value's position.
      if (open_hash_insert(&g.value_hash, data[i], &pos) == -1) return KAVU_NO_MEMORY;
    }
    ++g.slot_count[pos];
  }
  for (int32_t k = 0; k < size; ++k) g.slot_end[k + 1] = g.slot_end[k] + g.slot_count[k];
  // slot_end[k] is now the start of group k; filling moves it to the group's
  // end, and since elements are visited in order each group stays ascending.
  for (int32_t i = 0; i < n; ++i) {
    if ((i == 0 || data[i] != data[i - 1]) && open_hash_lookup(&g.value_hash, data[i], &pos) != 0)
      return KAVU_KEY_NOT_FOUND;
    g.pixel_order[g.slot_end[pos]++] = i;
  }
  return 0;
}

}  // namespace

int32_t replace_integer_data(const uint32_t *data, int32_t n, const uint32_t *old_values,
                             const uint32_t *new_values, int32_t n_pairs, uint32_t *out) {
  value_groups g;
  int32_t status = build_groups(data, n, g);
  if (status == 0) {
    for (int32_t j = 0; j < n_pairs; ++j) {
      int32_t pos;
      if (open_hash_lookup(&g.value_hash, old_values[j], &pos) != 0) continue;  // absent: no-op
      const int32_t begin = pos == 0 ? 0 : g.slot_end[pos - 1];
      const uint32_t value = new_values[j];
      for (int32_t k = begin; k < g.slot_end[pos]; ++k) out[g.pixel_order[k]] = value;
    }
  }
  release(g);
  return status;
}
