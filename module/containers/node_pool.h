// Fixed-size node storage for the red-black trees: slabs from the allocation
// layer, handed out by a pointer bump, with a free list of returned nodes. A
// node keeps its address until it is returned; slabs are freed only with the pool.
#pragma once

#include <cstddef>
#include <cstdint>

// Slabs hold 1, 2, 4, ... nodes up to `max_slab_nodes`, so a tree of a few
// nodes costs no more than before while a large one needs few allocations.
// Several trees may draw from one pool (a family, such as every neighbour tree
// of one region set); `users` counts the references and the last release frees
// every slab.
struct node_pool {
  size_t node_size;       // at least a pointer, a multiple of its alignment
  void *free_list;        // returned nodes, linked through their first word
  char *bump;             // next unused node of the newest slab
  char *bump_end;         // end of the newest slab
  void *slabs;            // newest slab; each slab's first word links the older one
  int32_t next_slab_nodes;
  int32_t users;
};

constexpr int32_t node_pool_max_slab_nodes = 1 << 14;

// A pool with one user (the caller), or null when its record cannot be allocated.
node_pool *node_pool_create(size_t node_size);
// A node of the pool's size, or null when a new slab is needed and refused
// (the pool is then unchanged).
void *node_pool_alloc(node_pool *pool);
// Returns a node for reuse; its contents are overwritten.
void node_pool_free(node_pool *pool, void *node);
void node_pool_retain(node_pool *pool);
// Drops one reference; the last one frees every slab and the record. Null is ignored.
void node_pool_release(node_pool *pool);
