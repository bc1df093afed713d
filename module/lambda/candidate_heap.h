// The merge tree's storage: an indexed 4-ary heap of (cost, pair index) keys.
// Its minimum is the key the red-black tree of the same keys would give as its
// minimum, in the tree's order (cost, ties and unordered costs by pair index);
// the index from pair to heap place makes a pair's entry removable at once.
#pragma once

#include "containers/mgtree.h"

#include <cstdint>

struct candidate_heap {
  mg_key *keys;     // heap order: no key is below its parent
  int32_t *place;   // by pair index: where its key is in `keys`, -1 when absent
  int32_t size;
  int32_t capacity;
};

// Room for `capacity` keys of pairs 0 ... n_pairs - 1. 0 or -1.
int32_t candidate_heap_init(candidate_heap *heap, int32_t n_pairs, int32_t capacity);
void candidate_heap_release(candidate_heap *heap);

inline bool candidate_before(mg_key a, mg_key b) { return mgtree_compare(a, b) < 0; }

// Adds the key of a pair that has none in the heap. 0, or -1 when the heap is full.
int32_t candidate_heap_push(candidate_heap *heap, mg_key key);
// Removes the key at heap place i.
void candidate_heap_remove_at(candidate_heap *heap, int32_t i);
