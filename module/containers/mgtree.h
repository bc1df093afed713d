// Merge tree: a red-black tree of candidate merges keyed by merge cost, then
// pair index (signed); its minimum is the next merge to perform.
#pragma once

#include <cstdint>
#include <cstdio>

struct mg_key {
  float cost;
  int32_t pair_index;
};

// The first two fields are an mg_key.
struct mgtree_node {
  float cost;
  int32_t pair_index;
  mgtree_node *left;
  mgtree_node *right;
  mgtree_node *parent;
  uint8_t red;
};

struct mgtree {
  mgtree_node *root;
  mgtree_node *nil;
};

mgtree *mgtree_create();
mgtree_node *mgtree_insert(mgtree *tree, mg_key key);
mgtree_node *mgtree_exact_query(const mgtree *tree, mg_key key);
int32_t mgtree_node_not_null(const mgtree *tree, const mgtree_node *node);
mgtree_node *mgtree_minimum(const mgtree *tree);
mgtree_node *mgtree_successor(const mgtree *tree, const mgtree_node *node);
void mgtree_delete(mgtree *tree, mgtree_node *node);
void mgtree_destroy(mgtree *tree);
void mgtree_print(const mgtree *tree);

// Costs that do not compare (equal, or NaN) fall back to the pair index.
// Inline: the merge tree's heap orders its keys with it too.
inline int32_t mgtree_compare(mg_key a, mg_key b) {
  if (a.cost > b.cost) return 1;
  if (b.cost > a.cost) return -1;
  return a.pair_index > b.pair_index ? 1 : (a.pair_index < b.pair_index ? -1 : 0);
}
void mgtree_left_rotate(mgtree *tree, mgtree_node *node);
void mgrbtree_right_rotate(mgtree *tree, mgtree_node *node);
void mgtree_tree_insert_help(mgtree *tree, mgtree_node *node);
void mgtree_delete_fixup(mgtree *tree, mgtree_node *node);
void mgtree_tree_dest_helper(mgtree *tree, mgtree_node *node);
void mgtree_inorder_tree_print(const mgtree *tree, const mgtree_node *node, FILE *stream);
void mgtree_printkey(const mgtree_node *node, FILE *stream);
