#include "containers/allocation.h"

#include <atomic>
#include <cstdlib>

// The counters are the module's only state shared between calls, and calls may
// run on several threads at once: atomic, without ordering, as they order nothing.
namespace {
std::atomic<int64_t> allocations{0};
std::atomic<int64_t> fail_at{0};
std::atomic<int64_t> live{0};

// True when this allocation is the one a test asked to refuse.
bool refuse() {
  const int64_t n = allocations.fetch_add(1, std::memory_order_relaxed) + 1;
  return n == fail_at.load(std::memory_order_relaxed);
}

void *counted(void *block) {
  if (block) live.fetch_add(1, std::memory_order_relaxed);
  return block;
}
}  // namespace

void *kavu_malloc(size_t size) {
  return refuse() ? nullptr : counted(std::malloc(size ? size : 1));
}

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
  if (block) live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

void kavu_alloc_reset(int64_t n) {
  allocations.store(0, std::memory_order_relaxed);
  fail_at.store(n, std::memory_order_relaxed);
}

int64_t kavu_alloc_count() { return allocations; }

int64_t kavu_alloc_live() { return live; }
