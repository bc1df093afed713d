// Election of each region's cheapest pair and the merge tree of the pairs
// elected by both of their regions.
#include "lambda/vote.h"

int32_t t_get_best_index_rbtree(const nptree *tree, float *cost, const pair_rec *pair_set) {
  const nptree_node *root = tree->root->left;
  if (root == tree->nil) return -1;
  int32_t best = root->nbr_pair;
  float best_cost = pair_set[best].t;
  nptree_inorder_check_min(tree, root, &best, &best_cost, pair_set);
  *cost = best_cost;
  return best;
}

int32_t t_init_merge_tree(int32_t n_positions, merge_tree **tree, pair_rec *pair_set,
                          region_rec *region_set, int32_t *count) {
  // Entries come and go with every merge: a pool reuses their nodes.
  merge_tree *mt = mgtree_create_pooled();
  if (!mt) return -1;
  for (int32_t p = 0; p < n_positions; ++p) {
    region_rec &rec = region_set[p];
    if (rec.area == 0) continue;
    float cost;
    rec.bestp = t_get_best_index_rbtree(rec.nptree, &cost, pair_set);
    if (rec.bestp != -1 && t_cast_vote(rec.bestp, cost, mt, pair_set, count) != 0) {
      t_free_merge_tree(mt);
      return -1;
    }
  }
  *tree = mt;
  return 0;
}

void t_free_merge_tree(merge_tree *tree) { mgtree_destroy(tree); }
