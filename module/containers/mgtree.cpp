// mgtree: the merge-tree names over the shared red-black body.
#include "containers/mgtree.h"

#include "containers/rbtree.h"

namespace {
struct mg_traits {
  using node = mgtree_node;
  using tree = mgtree;
  using key = mg_key;
  static key key_of(const node *n) { return {n->cost, n->pair_index}; }
  static int32_t compare(key a, key b) { return mgtree_compare(a, b); }
  static void printkey(const node *n, FILE *stream) { mgtree_printkey(n, stream); }
};
using rb = rbtree<mg_traits>;
}  // namespace

mgtree *mgtree_create() { return rb::create(); }

mgtree_node *mgtree_insert(mgtree *tree, mg_key key) {
  return rb::insert(tree, [&](mgtree_node *n) {
    n->cost = key.cost;
    n->pair_index = key.pair_index;
  });
}

mgtree_node *mgtree_exact_query(const mgtree *tree, mg_key key) {
  return rb::exact_query(tree, key);
}

int32_t mgtree_node_not_null(const mgtree *tree, const mgtree_node *node) {
  return node != tree->nil;
}

mgtree_node *mgtree_minimum(const mgtree *tree) { return rb::minimum(tree); }

mgtree_node *mgtree_successor(const mgtree *tree, const mgtree_node *node) {
  return rb::successor(tree, node);
}

void mgtree_delete(mgtree *tree, mgtree_node *node) { rb::remove(tree, node); }

void mgtree_destroy(mgtree *tree) { rb::destroy(tree); }

void mgtree_print(const mgtree *tree) { rb::inorder_print(tree, tree->root->left, stdout); }

void mgtree_left_rotate(mgtree *tree, mgtree_node *node) { rb::left_rotate(tree, node); }
void mgrbtree_right_rotate(mgtree *tree, mgtree_node *node) { rb::right_rotate(tree, node); }
void mgtree_tree_insert_help(mgtree *tree, mgtree_node *node) { rb::insert_help(tree, node); }
void mgtree_delete_fixup(mgtree *tree, mgtree_node *node) { rb::delete_fixup(tree, node); }
void mgtree_tree_dest_helper(mgtree *tree, mgtree_node *node) { rb::dest_helper(tree, node); }

void mgtree_inorder_tree_print(const mgtree *tree, const mgtree_node *node, FILE *stream) {
  rb::inorder_print(tree, node, stream);
}

void mgtree_printkey(const mgtree_node *node, FILE *stream) {
  std::fprintf(stream, "(cost: %f, pair index: %d)", static_cast<double>(node->cost),
               node->pair_index);
}
