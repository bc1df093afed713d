// nptree: the neighbour-tree names over the shared red-black body.
#include "containers/nptree.h"

#include "containers/rbtree.h"

namespace {
struct np_traits {
  using node = nptree_node;
  using tree = nptree;
  using key = int32_t;
  static key key_of(const node *n) { return n->lbl_hash; }
  static int32_t compare(key a, key b) { return nptree_compare(a, b); }
  static void printkey(const node *n, FILE *stream) { nptree_printkey(n, stream); }
};
using rb = rbtree<np_traits>;
}  // namespace

int32_t nptree_compare(int32_t a, int32_t b) { return a > b ? 1 : (a < b ? -1 : 0); }

nptree *nptree_create() { return rb::create(); }

nptree_node *nptree_insert(nptree *tree, int32_t nbr_pair, int32_t lbl_hash) {
  return rb::insert(tree, [&](nptree_node *n) {
    n->lbl_hash = lbl_hash;
    n->nbr_pair = nbr_pair;
  });
}

nptree_node *nptree_exact_query(const nptree *tree, int32_t lbl_hash) {
  return rb::exact_query(tree, lbl_hash);
}

int32_t nptree_node_not_null(const nptree *tree, const nptree_node *node) {
  return node != tree->nil;
}

nptree_node *nptree_minimum(const nptree *tree) { return rb::minimum(tree); }

nptree_node *nptree_successor(const nptree *tree, const nptree_node *node) {
  return rb::successor(tree, node);
}

nptree_node *nptree_predecessor(const nptree *tree, const nptree_node *node) {
  return rb::predecessor(tree, node);
}

void nptree_delete(nptree *tree, nptree_node *node) { rb::remove(tree, node); }

void nptree_delete_node(nptree *tree, int32_t lbl_hash) {
  nptree_node *node = rb::exact_query(tree, lbl_hash);
  if (node != tree->nil) rb::remove(tree, node);
}

int32_t nptree_inorder_traverse(const nptree *tree, const nptree_node *node, int32_t *count,
                                nbr_ids *pairs, nbr_ids *labels) {
  return rb::inorder(tree, node, [&](const nptree_node *n) {
    if (int32_t status = add_nbr_id(pairs, static_cast<uint32_t>(n->nbr_pair))) return status;
    if (int32_t status = add_nbr_id(labels, static_cast<uint32_t>(n->lbl_hash))) return status;
    ++*count;
    return 0;
  });
}

int32_t nptree_traverse(const nptree *tree, int32_t *count, nbr_ids **pairs, nbr_ids **labels) {
  reinit_nbr_ids(pairs);
  reinit_nbr_ids(labels);
  *count = 0;
  return nptree_inorder_traverse(tree, tree->root->left, count, *pairs, *labels);
}

// Lowest cost wins, then the lowest pair index; a NaN cost fails both tests
// and so never replaces the best.
void nptree_inorder_check_min(const nptree *tree, const nptree_node *node, int32_t *best_pair,
                              float *best_cost, const pair_rec *pairs) {
  rb::inorder(tree, node, [&](const nptree_node *n) {
    const int32_t p = n->nbr_pair;
    const float c = pairs[p].t;
    if (*best_cost > c || (c == *best_cost && *best_pair > p)) {
      *best_pair = p;
      *best_cost = c;
    }
    return 0;
  });
}

void nptree_destroy(nptree *tree) { rb::destroy(tree); }

void nptree_print(const nptree *tree) { rb::inorder_print(tree, tree->root->left, stdout); }

void nptree_left_rotate(nptree *tree, nptree_node *node) { rb::left_rotate(tree, node); }
void nprbtree_right_rotate(nptree *tree, nptree_node *node) { rb::right_rotate(tree, node); }
void nptree_tree_insert_help(nptree *tree, nptree_node *node) { rb::insert_help(tree, node); }
void nptree_delete_fixup(nptree *tree, nptree_node *node) { rb::delete_fixup(tree, node); }
void nptree_tree_dest_helper(nptree *tree, nptree_node *node) { rb::dest_helper(tree, node); }

void nptree_inorder_tree_print(const nptree *tree, const nptree_node *node, FILE *stream) {
  rb::inorder_print(tree, node, stream);
}

void nptree_printkey(const nptree_node *node, FILE *stream) {
  std::fprintf(stream, "(lbl_hash: %d, nbr_pair: %d)", node->lbl_hash, node->nbr_pair);
}
