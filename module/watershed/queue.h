// The flooding workers' FIFO of pixel indices: nodes linked one after another,
// handed out from blocks of host scratch memory that double in size, and
// recycled through a free list, so memory follows the longest queue seen.
#pragma once

#include "host/qel.h"
#include "containers/status.h"

#include <cstdint>

struct queue_node {
  uint32_t value;
  queue_node *next;
};

// Header of a scratch block; the block's nodes follow it directly.
struct queue_block {
  queue_block *next;
  QEL_VPTR scratch;  // the host variable that owns the block
};

// `head` is a sentinel: the first queued value sits in the node after it.
struct queue {
  queue_node *head;
  queue_node *tail;
  queue_node *free_nodes;
  queue_block *blocks;  // newest first
  int32_t block_size;   // nodes of the next block, minus 1
  int32_t count;
};

static_assert(sizeof(queue_node) == 16 && sizeof(queue_block) == 16,
              "scratch blocks are sized as block_size * 16 + 32 bytes");

// Makes an empty queue; -1 when the host refuses the first block.
kavu_status queue_init(queue *q);
// A node from the free list, taking a new block when the list is empty; null
// when the host refuses the block.
queue_node *alloc_queue(queue *q);
// Releases every block to the host, newest first.
void queue_clean(queue *q);

inline bool queue_empty(const queue *q) { return q->head == q->tail; }

// Appends a value; -1 when no node can be had.
inline kavu_status queue_add(queue *q, const uint32_t *value) {
  queue_node *node = q->free_nodes;
  if (node)
    q->free_nodes = node->next;
  else if (!(node = alloc_queue(q)))
    return KAVU_NO_MEMORY;
  node->value = *value;
  node->next = nullptr;
  q->tail->next = node;
  q->tail = node;
  ++q->count;
  return KAVU_OK;
}

// Takes the first value; on an empty queue `out` is left alone. The node that
// held the value becomes the new sentinel and the old sentinel is recycled.
inline void queue_first(queue *q, int32_t *out) {
  if (q->head == q->tail) return;
  queue_node *old = q->head;
  q->head = old->next;
  *out = static_cast<int32_t>(q->head->value);
  old->next = q->free_nodes;
  q->free_nodes = old;
  --q->count;
}
