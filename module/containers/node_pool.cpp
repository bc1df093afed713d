// Slab and free-list bookkeeping of node_pool.
#include "containers/node_pool.h"

#include "containers/allocation.h"

namespace {
// Each slab starts with the link to the older slab, padded to a whole node so
// that the nodes behind it keep the node alignment.
size_t slab_header(const node_pool *pool) { return pool->node_size; }
}  // namespace

node_pool *node_pool_create(size_t node_size) {
  node_pool *pool = kavu_alloc_zeroed<node_pool>(1);
  if (!pool) return nullptr;
  pool->node_size = node_size;
  pool->next_slab_nodes = 1;
  pool->users = 1;
  return pool;
}

void *node_pool_alloc(node_pool *pool) {
  if (void *node = pool->free_list) {
    pool->free_list = *static_cast<void **>(node);
    return node;
  }
  if (pool->bump == pool->bump_end) {
    const size_t nodes = static_cast<size_t>(pool->next_slab_nodes);
    char *slab = static_cast<char *>(kavu_malloc(slab_header(pool) + nodes * pool->node_size));
    if (!slab) return nullptr;
    *reinterpret_cast<void **>(slab) = pool->slabs;
    pool->slabs = slab;
    pool->bump = slab + slab_header(pool);
    pool->bump_end = pool->bump + nodes * pool->node_size;
    if (pool->next_slab_nodes < node_pool_max_slab_nodes) pool->next_slab_nodes *= 2;
  }
  void *node = pool->bump;
  pool->bump += pool->node_size;
  return node;
}

void node_pool_free(node_pool *pool, void *node) {
  *static_cast<void **>(node) = pool->free_list;
  pool->free_list = node;
}

void node_pool_retain(node_pool *pool) { pool->users += 1; }

void node_pool_release(node_pool *pool) {
  if (!pool || --pool->users > 0) return;
  void *slab = pool->slabs;
  while (slab) {
    void *older = *static_cast<void **>(slab);
    kavu_free(slab);
    slab = older;
  }
  kavu_free(pool);
}
