// Neighbour tree of one region: a red-black tree keyed by the neighbour's
// number `lbl_hash` (signed order) carrying the index `nbr_pair` of the pair
// record that joins the two regions. Equal keys are kept, each after the last.
#pragma once

#include <cstdint>
#include <cstdio>

#include "containers/id_arrays.h"
#include "containers/pair_rec.h"

struct nptree_node {
  int32_t lbl_hash;
  int32_t nbr_pair;
  nptree_node *left;
  nptree_node *right;
  nptree_node *parent;
  uint8_t red;
};

// `root` is a sentinel whose left child is the real root; `nil` stands for
// every absent child and for "not found".
struct nptree {
  nptree_node *root;
  nptree_node *nil;
};

nptree *nptree_create();
nptree_node *nptree_insert(nptree *tree, int32_t nbr_pair, int32_t lbl_hash);
nptree_node *nptree_exact_query(const nptree *tree, int32_t lbl_hash);
int32_t nptree_node_not_null(const nptree *tree, const nptree_node *node);
nptree_node *nptree_minimum(const nptree *tree);
nptree_node *nptree_successor(const nptree *tree, const nptree_node *node);
nptree_node *nptree_predecessor(const nptree *tree, const nptree_node *node);
void nptree_delete(nptree *tree, nptree_node *node);
void nptree_delete_node(nptree *tree, int32_t lbl_hash);
int32_t nptree_traverse(const nptree *tree, int32_t *count, nbr_ids **pairs, nbr_ids **labels);
void nptree_inorder_check_min(const nptree *tree, const nptree_node *node, int32_t *best_pair,
                              float *best_cost, const pair_rec *pairs);
void nptree_destroy(nptree *tree);
void nptree_print(const nptree *tree);

// Internal pieces, exposed under their own names.
int32_t nptree_compare(int32_t a, int32_t b);
void nptree_left_rotate(nptree *tree, nptree_node *node);
void nprbtree_right_rotate(nptree *tree, nptree_node *node);
void nptree_tree_insert_help(nptree *tree, nptree_node *node);
void nptree_delete_fixup(nptree *tree, nptree_node *node);
int32_t nptree_inorder_traverse(const nptree *tree, const nptree_node *node, int32_t *count,
                                nbr_ids *pairs, nbr_ids *labels);
void nptree_tree_dest_helper(nptree *tree, nptree_node *node);
void nptree_inorder_tree_print(const nptree *tree, const nptree_node *node, FILE *stream);
void nptree_printkey(const nptree_node *node, FILE *stream);
