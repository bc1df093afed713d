// Singly linked list of input labels with a tail pointer. The merging code
// keeps one per region; merging two regions concatenates their lists in
// constant time.
#pragma once

#include <cstdint>
#include <cstdio>

struct merge_lbl_node {
  merge_lbl_node *next;
  uint32_t label;
};

// Empty when head is null (owners allocate arrays of lists zeroed).
struct merge_lbl_list {
  merge_lbl_node *head;
  merge_lbl_node *tail;
};

int32_t merge_lbl_list_add(merge_lbl_list *list, uint32_t label);
// Appends all of `source` to `destination` and leaves `source` empty.
void merge_lbl_list_move(merge_lbl_list *destination, merge_lbl_list *source);
void merge_lbl_list_destroy(merge_lbl_list *list);
void t_print_merge_lbl_list(int32_t n_lists, const merge_lbl_list *lists, FILE *stream);
