// Sifting of the indexed heap: every move of a key updates its pair's place.
#include "lambda/candidate_heap.h"

#include "containers/allocation.h"
#include "containers/status.h"

namespace {

// Four children per key: half the levels of a binary heap, and the children
// of a key share a cache line or two.
constexpr int32_t arity = 4;
int32_t parent_of(int32_t i) { return (i - 1) / arity; }

void put(candidate_heap *heap, int32_t i, mg_key key) {
  heap->keys[i] = key;
  heap->place[key.pair_index] = i;
}

void sift_up(candidate_heap *heap, int32_t i, mg_key key) {
  while (i > 0) {
    const int32_t parent = parent_of(i);
    if (!candidate_before(key, heap->keys[parent])) break;
    put(heap, i, heap->keys[parent]);
    i = parent;
  }
  put(heap, i, key);
}

void sift_down(candidate_heap *heap, int32_t i, mg_key key) {
  const int32_t n = heap->size;
  for (;;) {
    const int32_t first = arity * i + 1;
    if (first >= n) break;
    int32_t child = first;
    const int32_t last = first + arity < n ? first + arity : n;
    for (int32_t c = first + 1; c < last; ++c)
      if (candidate_before(heap->keys[c], heap->keys[child])) child = c;
    if (!candidate_before(heap->keys[child], key)) break;
    put(heap, i, heap->keys[child]);
    i = child;
  }
  put(heap, i, key);
}

}  // namespace

kavu_status candidate_heap_init(candidate_heap *heap, int32_t n_pairs, int32_t capacity) {
  *heap = candidate_heap{};
  heap->keys = kavu_alloc_array<mg_key>(static_cast<size_t>(capacity));
  heap->place = kavu_alloc_array<int32_t>(static_cast<size_t>(n_pairs));
  if (!heap->keys || !heap->place) {
    candidate_heap_release(heap);
    return KAVU_NO_MEMORY;
  }
  for (int32_t k = 0; k < n_pairs; ++k) heap->place[k] = -1;
  heap->capacity = capacity;
  return KAVU_OK;
}

void candidate_heap_release(candidate_heap *heap) {
  kavu_free(heap->keys);
  kavu_free(heap->place);
  *heap = candidate_heap{};
}

kavu_status candidate_heap_push(candidate_heap *heap, mg_key key) {
  if (heap->size == heap->capacity) return KAVU_NO_MEMORY;
  sift_up(heap, heap->size++, key);
  return KAVU_OK;
}

void candidate_heap_remove_at(candidate_heap *heap, int32_t i) {
  heap->place[heap->keys[i].pair_index] = -1;
  const mg_key last = heap->keys[--heap->size];
  if (i == heap->size) return;
  if (i > 0 && candidate_before(last, heap->keys[parent_of(i)]))
    sift_up(heap, i, last);
  else
    sift_down(heap, i, last);
}
