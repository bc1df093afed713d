// The module's one allocation layer. Every heap block the module owns comes
// from here, so that tests can make the n-th allocation fail and walk every
// failure path. Counting costs an increment or two; no other bookkeeping is kept.
#pragma once

#include <cstddef>
#include <cstdint>

void *kavu_malloc(size_t size);
void *kavu_calloc(size_t count, size_t size);
void *kavu_realloc(void *block, size_t size);
void kavu_free(void *block);

// Test controls. Allocations are counted from the last reset; with a non-zero
// `fail_at`, the allocation of that number (1-based) returns null, once.
void kavu_alloc_reset(int64_t fail_at = 0);
int64_t kavu_alloc_count();
// Blocks handed out and not yet freed: a leak check that does not depend on
// how the C library caches freed memory.
int64_t kavu_alloc_live();

// Typed convenience for the common "n records of T" case.
template <typename T>
T *kavu_alloc_array(size_t count) {
  return static_cast<T *>(kavu_malloc(count * sizeof(T)));
}
template <typename T>
T *kavu_alloc_zeroed(size_t count) {
  return static_cast<T *>(kavu_calloc(count, sizeof(T)));
}
