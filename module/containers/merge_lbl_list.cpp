// merge_lbl_list: append, constant-time concatenation, release and dump.
#include "containers/merge_lbl_list.h"

#include "containers/allocation.h"
#include "containers/status.h"

int32_t merge_lbl_list_add(merge_lbl_list *list, uint32_t label) {
  merge_lbl_node *node = kavu_alloc_array<merge_lbl_node>(1);
  if (!node) return KAVU_NO_MEMORY;
  node->next = nullptr;
  node->label = label;
  if (!list->head)
    list->head = node;
  else
    list->tail->next = node;
  list->tail = node;
  return 0;
}

// Callers move only non-empty lists; the empty cases are handled anyway so
// that a stray call cannot lose nodes or dereference a null tail.
void merge_lbl_list_move(merge_lbl_list *destination, merge_lbl_list *source) {
  if (!source->head) return;
  if (!destination->head)
    destination->head = source->head;
  else
    destination->tail->next = source->head;
  destination->tail = source->tail;
  source->head = nullptr;
  source->tail = nullptr;
}

// The pointers are cleared too, so a second destroy frees nothing twice.
void merge_lbl_list_destroy(merge_lbl_list *list) {
  merge_lbl_node *node = list->head;
  while (node) {
    merge_lbl_node *next = node->next;
    kavu_free(node);
    node = next;
  }
  list->head = nullptr;
  list->tail = nullptr;
}

void t_print_merge_lbl_list(int32_t n_lists, const merge_lbl_list *lists, FILE *stream) {
  std::fprintf(stream, "\nRegion merge label list (number = %d): \n", n_lists);
  int32_t n_valid = 0;
  int32_t n_labels = 0;
  for (int32_t i = 0; i < n_lists; ++i) {
    if (!lists[i].head) continue;
    ++n_valid;
    std::fprintf(stream, "Slot[%03d]: \n\t", i);
    for (const merge_lbl_node *node = lists[i].head; node; node = node->next) {
      std::fprintf(stream, "%d  ", static_cast<int32_t>(node->label));
      ++n_labels;
    }
    std::fputc('\n', stream);
  }
  std::fprintf(stream, "Number of valid slots: %d\n", n_valid);
  std::fprintf(stream, "Number of regions: %d\n", n_labels);
  std::fflush(stream);
}
