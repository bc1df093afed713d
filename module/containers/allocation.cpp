#include "containers/allocation.h"

#include <cstdlib>

namespace {
int64_t allocations = 0;
int64_t fail_at = 0;
int64_t live = 0;

// True when this allocation is the one a test asked to refuse.
bool refuse() { return ++allocations == fail_at; }

void *counted(void *block) {
  if (block) ++live;
  return block;
}
}  // namespace

void *kavu_malloc(size_t size) { return refuse() ? nullptr : counted(std::malloc(size ? size : 1)); }

void *kavu_calloc(size_t count, size_t size) {
  return refuse() ? nullptr : counted(std::calloc(count ? count : 1, size ? size : 1));
}

// A refused growth leaves the old block in place, as realloc does.
void *kavu_realloc(void *block, size_t size) {
  if (refuse()) return nullptr;
  void *grown = std::realloc(block, size ? size : 1);
  return block ? grown : counted(grown);
}

void kavu_free(void *block) {
  if (block) --live;
  std::free(block);
}

void kavu_alloc_reset(int64_t n) {
  allocations = 0;
  fail_at = n;
}

int64_t kavu_alloc_count() { return allocations; }

int64_t kavu_alloc_live() { return live; }
