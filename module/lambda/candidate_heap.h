// The merge tree's storage: an indexed 4-ary heap of (cost, pair index) keys,
// the mutually best pairs that are candidates for the next merge. Its minimum
// is the cheapest candidate (ties and unordered costs by pair index); the index
// from pair to heap place makes a pair's entry removable at once.
#pragma once

#include "containers/status.h"

#include <cstdint>

struct mg_key {
  float cost;
  int32_t pair_index;
};

// Costs that do not compare (equal, or NaN) fall back to the pair index, so
// the order is total and a NaN cost never hides a pair.
inline int32_t candidate_compare(mg_key a, mg_key b) {
  if (a.cost > b.cost) return 1;
  if (b.cost > a.cost) return -1;
  return a.pair_index > b.pair_index ? 1 : (a.pair_index < b.pair_index ? -1 : 0);
}
inline bool candidate_before(mg_key a, mg_key b) { return candidate_compare(a, b) < 0; }

struct candidate_heap {
  mg_key *keys;    // heap order: no key is below its parent
  int32_t *place;  // by pair index: where its key is in `keys`, -1 when absent
  int32_t size;    // the number of candidates
  int32_t capacity;
};

// Room for `capacity` keys of pairs 0 ... n_pairs - 1.
kavu_status candidate_heap_init(candidate_heap *heap, int32_t n_pairs, int32_t capacity);
void candidate_heap_release(candidate_heap *heap);

// The cheapest candidate; the heap must not be empty.
inline mg_key candidate_heap_minimum(const candidate_heap *heap) { return heap->keys[0]; }
// Adds the key of a pair that has none in the heap; KAVU_NO_MEMORY when full.
kavu_status candidate_heap_push(candidate_heap *heap, mg_key key);
// Removes the key at heap place i.
void candidate_heap_remove_at(candidate_heap *heap, int32_t i);
