#include "containers/allocation.h"

#include <cstdlib>

namespace {
int64_t allocations = 0;
int64_t fail_at = 0;

// True when this allocation is the one a test asked to refuse.
bool refuse() { return ++allocations == fail_at; }
}  // namespace

void *kavu_malloc(size_t size) { return refuse() ? nullptr : std::malloc(size ? size : 1); }

void *kavu_calloc(size_t count, size_t size) {
  return refuse() ? nullptr : std::calloc(count ? count : 1, size ? size : 1);
}

// A refused growth leaves the old block in place, as realloc does.
void *kavu_realloc(void *block, size_t size) {
  return refuse() ? nullptr : std::realloc(block, size ? size : 1);
}

void kavu_free(void *block) { std::free(block); }

void kavu_alloc_reset(int64_t n) {
  allocations = 0;
  fail_at = n;
}

int64_t kavu_alloc_count() { return allocations; }
