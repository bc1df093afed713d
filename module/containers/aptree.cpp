// aptree: the adjacent-pair-tree names over the shared red-black body.
#include "containers/aptree.h"

#include "containers/rbtree.h"

namespace {
struct ap_traits {
  using node = aptree_node;
  using tree = aptree;
  using key = ap_pair;
  static key key_of(const node *n) { return {n->hash1, n->hash2, n->blen}; }
  static int32_t compare(key a, key b) { return aptree_compare(a, b); }
  static void printkey(const node *n, FILE *stream) { aptree_printkey(n, stream); }
};
using rb = rbtree<ap_traits>;
}  // namespace

int32_t aptree_compare(ap_pair a, ap_pair b) {
  if (a.hash1 != b.hash1) return a.hash1 > b.hash1 ? 1 : -1;
  return a.hash2 > b.hash2 ? 1 : (a.hash2 < b.hash2 ? -1 : 0);
}

aptree *aptree_create() { return rb::create(); }

aptree_node *aptree_insert(aptree *tree, ap_pair pair) {
  return rb::insert(tree, [&](aptree_node *n) {
    n->hash1 = pair.hash1;
    n->hash2 = pair.hash2;
    n->blen = pair.blen;
  });
}

aptree_node *aptree_exact_query(const aptree *tree, ap_pair pair) {
  return rb::exact_query(tree, pair);
}

int32_t aptree_node_not_null(const aptree *tree, const aptree_node *node) {
  return node != tree->nil;
}

int32_t aptree_inorder_traverse(const aptree *tree, const aptree_node *node, int32_t *count,
                                ap_ids *array) {
  return rb::inorder(tree, node, [&](const aptree_node *n) {
    if (int32_t status = add_ap_id(array, ap_traits::key_of(n))) return status;
    ++*count;
    return 0;
  });
}

int32_t aptree_traverse(const aptree *tree, int32_t *count, ap_ids *array) {
  *count = 0;
  return aptree_inorder_traverse(tree, tree->root->left, count, array);
}

void aptree_destroy(aptree *tree) { rb::destroy(tree); }

void aptree_print(const aptree *tree) { rb::inorder_print(tree, tree->root->left, stdout); }

void aptree_left_rotate(aptree *tree, aptree_node *node) { rb::left_rotate(tree, node); }
void aprbtree_right_rotate(aptree *tree, aptree_node *node) { rb::right_rotate(tree, node); }
void aptree_tree_insert_help(aptree *tree, aptree_node *node) { rb::insert_help(tree, node); }
void aptree_tree_dest_helper(aptree *tree, aptree_node *node) { rb::dest_helper(tree, node); }

void aptree_inorder_tree_print(const aptree *tree, const aptree_node *node, FILE *stream) {
  rb::inorder_print(tree, node, stream);
}

void aptree_printkey(const aptree_node *node, FILE *stream) {
  std::fprintf(stream, "(hash1: %d, hash 2: %d, blen: %d)", node->hash1, node->hash2, node->blen);
}
