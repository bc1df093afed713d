// Slabs, size classes and free lists of the neighbour lists' blocks.
#include "lambda/nbr_lists.h"

#include "containers/allocation.h"
#include "containers/status.h"

#include <cstring>

namespace {

// Small blocks are carved from slabs of this many entries; a larger block is a
// slab of its own. Each slab starts with the link to the older one.
constexpr size_t slab_entries = size_t{1} << 16;
constexpr size_t slab_header = sizeof(nbr_entry);

char *new_slab(nbr_store *store, size_t entries) {
  char *slab = static_cast<char *>(kavu_malloc(slab_header + entries * sizeof(nbr_entry)));
  if (!slab) return nullptr;
  *reinterpret_cast<void **>(slab) = store->slabs;
  store->slabs = slab;
  return slab + slab_header;
}

}  // namespace

int32_t nbr_class_for(int32_t count) {
  int32_t cls = 1;  // two entries at least: a pixel region has up to four
  while ((int64_t{1} << cls) < count) ++cls;
  return cls;
}

nbr_entry *nbr_store_alloc(nbr_store *store, int32_t cls) {
  if (nbr_entry *block = store->free_blocks[cls]) {
    store->free_blocks[cls] = *reinterpret_cast<nbr_entry **>(block);
    return block;
  }
  const size_t entries = size_t{1} << cls;
  if (entries * 4 > slab_entries) return reinterpret_cast<nbr_entry *>(new_slab(store, entries));
  const size_t bytes = entries * sizeof(nbr_entry);
  if (static_cast<size_t>(store->bump_end - store->bump) < bytes) {
    char *space = new_slab(store, slab_entries);
    if (!space) return nullptr;
    // The rest of the old slab is left unused: at most a quarter of a slab.
    store->bump = space;
    store->bump_end = space + slab_entries * sizeof(nbr_entry);
  }
  auto *block = reinterpret_cast<nbr_entry *>(store->bump);
  store->bump += bytes;
  return block;
}

void nbr_store_free(nbr_store *store, nbr_entry *block, int32_t cls) {
  if (!block) return;
  *reinterpret_cast<nbr_entry **>(block) = store->free_blocks[cls];
  store->free_blocks[cls] = block;
}

kavu_status nbr_store_reserve_merged(nbr_store *store, int32_t count) {
  if (count <= store->merged_capacity) return KAVU_OK;
  int32_t capacity = store->merged_capacity > 0 ? store->merged_capacity : 64;
  while (capacity < count) capacity *= 2;
  auto *grown = static_cast<nbr_entry *>(
      kavu_realloc(store->merged, static_cast<size_t>(capacity) * sizeof(nbr_entry)));
  if (!grown) return KAVU_NO_MEMORY;
  store->merged = grown;
  store->merged_capacity = capacity;
  return KAVU_OK;
}

void nbr_store_release(nbr_store *store) {
  void *slab = store->slabs;
  while (slab) {
    void *older = *static_cast<void **>(slab);
    kavu_free(slab);
    slab = older;
  }
  kavu_free(store->merged);
  std::memset(static_cast<void *>(store), 0, sizeof *store);
}
