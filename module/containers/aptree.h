// Adjacent-pair tree: a red-black tree with one node per pair of touching
// regions, keyed by (hash1, hash2) in signed order, carrying the boundary
// length `blen`. Nodes live until the tree is destroyed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "containers/id_arrays.h"

// The first three fields are an ap_pair.
struct aptree_node {
  int32_t hash1;
  int32_t hash2;
  int32_t blen;
  aptree_node *left;
  aptree_node *right;
  aptree_node *parent;
  uint8_t red;
};

struct aptree {
  aptree_node *root;
  aptree_node *nil;
};

aptree *aptree_create();
aptree_node *aptree_insert(aptree *tree, ap_pair pair);
aptree_node *aptree_exact_query(const aptree *tree, ap_pair pair);  // blen ignored
int32_t aptree_node_not_null(const aptree *tree, const aptree_node *node);
// Appends every node's ap_pair in key order after what `array` already holds.
int32_t aptree_traverse(const aptree *tree, int32_t *count, ap_ids *array);
void aptree_destroy(aptree *tree);
void aptree_print(const aptree *tree);

int32_t aptree_compare(ap_pair a, ap_pair b);
void aptree_left_rotate(aptree *tree, aptree_node *node);
void aprbtree_right_rotate(aptree *tree, aptree_node *node);
void aptree_tree_insert_help(aptree *tree, aptree_node *node);
int32_t aptree_inorder_traverse(const aptree *tree, const aptree_node *node, int32_t *count,
                                ap_ids *array);
void aptree_tree_dest_helper(aptree *tree, aptree_node *node);
void aptree_inorder_tree_print(const aptree *tree, const aptree_node *node, FILE *stream);
void aptree_printkey(const aptree_node *node, FILE *stream);
