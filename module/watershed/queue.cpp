// Block management of the flooding queue: the only host call of the workers.
#include "watershed/queue.h"
#include "containers/status.h"

namespace {
constexpr int32_t kFirstBlockSize = 256;  // the first block holds 257 nodes
}

kavu_status queue_init(queue *q) {
  q->free_nodes = nullptr;
  q->blocks = nullptr;
  q->block_size = kFirstBlockSize;
  q->count = 0;
  q->head = q->tail = nullptr;
  queue_node *sentinel = alloc_queue(q);
  if (!sentinel) return KAVU_NO_MEMORY;
  sentinel->next = nullptr;
  q->head = q->tail = sentinel;
  return KAVU_OK;
}

queue_node *alloc_queue(queue *q) {
  if (!q->free_nodes) {
    const QEL_MEMINT nodes = QEL_MEMINT{q->block_size} + 1;
    QEL_VPTR scratch = nullptr;
    auto *block = reinterpret_cast<queue_block *>(QEL_GetScratch(
        &scratch, 1, nodes * QEL_MEMINT{sizeof(queue_node)} + QEL_MEMINT{sizeof(queue_block)}));
    if (!block) return nullptr;
    block->scratch = scratch;
    block->next = q->blocks;
    q->blocks = block;
    // Linked in address order, so the lowest node is handed out first.
    auto *first = reinterpret_cast<queue_node *>(block + 1);
    for (QEL_MEMINT i = 0; i + 1 < nodes; ++i) first[i].next = &first[i + 1];
    first[nodes - 1].next = nullptr;
    q->free_nodes = first;
    q->block_size *= 2;
  }
  queue_node *node = q->free_nodes;
  q->free_nodes = node->next;
  return node;
}

void queue_clean(queue *q) {
  while (q->blocks) {
    queue_block *next = q->blocks->next;
    QEL_Deltmp(q->blocks->scratch);  // frees the block itself: read `next` first
    q->blocks = next;
  }
  q->head = q->tail = q->free_nodes = nullptr;
}
