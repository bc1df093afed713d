// The red-black trees against std::multimap references: red-black rules, links
// and sentinels after every operation, equal keys in arrival order, node
// addresses that survive other nodes' deletion, walks, and the tie rules.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "containers/mgtree.h"
#include "containers/nptree.h"

namespace {

// Checks everything but key order (which the callers compare with their
// reference through the in-order node list) and returns the first fault.
template <typename Tree, typename Node>
struct checker {
  const Tree *t;
  std::vector<const Node *> order;
  std::string fault;

  int black_height(const Node *x) {
    if (x == t->nil) return 1;
    if (x->left != t->nil && x->left->parent != x) fault = "left child's parent link";
    if (x->right != t->nil && x->right->parent != x) fault = "right child's parent link";
    if (x->red && (x->left->red || x->right->red)) fault = "red node with a red child";
    const int left = black_height(x->left);
    order.push_back(x);
    const int right = black_height(x->right);
    if (left != right) fault = "unequal black heights";
    return left + (x->red ? 0 : 1);
  }

  std::string run() {
    const Node *nil = t->nil;
    const Node *root = t->root;
    if (nil->red || nil->left != nil || nil->right != nil) return "nil sentinel";
    if (root->red || root->right != nil || root->parent != nil) return "root sentinel";
    if (root->left != nil && (root->left->red || root->left->parent != root)) return "real root";
    black_height(root->left);
    return fault;
  }
};

template <typename Tree, typename Node>
std::vector<const Node *> check_tree(const Tree *t) {
  checker<Tree, Node> c{t, {}, {}};
  const std::string fault = c.run();
  EXPECT_EQ(fault, "");
  return c.order;
}

// The in-order node list of a tree that passed every check.
std::vector<const nptree_node *> check(const nptree *t) { return check_tree<nptree, nptree_node>(t); }

// ---- nptree -------------------------------------------------------------------

TEST(Nptree, RandomInsertsAndDeletesKeepTheRulesOrderAndAddresses) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    nptree *t = nptree_create();
    ASSERT_NE(t, nullptr);
    // multimap::insert places an equal key after the existing ones, as insert must.
    std::multimap<int32_t, nptree_node *> ref;
    int32_t next_payload = 0;
    const int32_t key_span = 1 + static_cast<int32_t>(seed * 15);
    for (int step = 0; step < 3000; ++step) {
      const uint32_t op = rng() % 10;
      if (op < 5 || ref.empty()) {
        const int32_t key = static_cast<int32_t>(rng() % key_span) - key_span / 2;
        nptree_node *n = nptree_insert(t, next_payload++, key);
        ASSERT_NE(n, nullptr);
        ref.insert({key, n});
      } else if (op < 8) {
        auto it = std::next(ref.begin(), static_cast<long>(rng() % ref.size()));
        nptree_delete(t, it->second);
        ref.erase(it);
      } else {
        const int32_t key = static_cast<int32_t>(rng() % key_span) - key_span / 2;
        nptree_node *found = nptree_exact_query(t, key);
        auto range = ref.equal_range(key);
        if (range.first == range.second) {
          ASSERT_EQ(found, t->nil);
          nptree_delete_node(t, key);  // finds nothing, changes nothing
        } else {
          ASSERT_EQ(found->lbl_hash, key);
          auto it = range.first;
          while (it->second != found) ++it;  // the query returns one of the equal nodes
          nptree_delete_node(t, key);
          ref.erase(it);
        }
      }
      const auto order = check(t);
      ASSERT_EQ(order.size(), ref.size());
      auto it = ref.begin();
      for (const nptree_node *n : order) {
        ASSERT_EQ(n, it->second);
        ASSERT_EQ(n->lbl_hash, it->first);
        ++it;
      }
    }
    // Both walks visit exactly the reference order.
    std::vector<const nptree_node *> forward, backward;
    for (nptree_node *n = nptree_minimum(t); nptree_node_not_null(t, n); n = nptree_successor(t, n))
      forward.push_back(n);
    if (!ref.empty()) {
      nptree_node *last = std::prev(ref.end())->second;
      EXPECT_EQ(nptree_successor(t, last), t->nil);
      for (nptree_node *n = last; nptree_node_not_null(t, n); n = nptree_predecessor(t, n))
        backward.insert(backward.begin(), n);
    }
    EXPECT_EQ(forward, check(t));
    EXPECT_EQ(backward, forward);
    nptree_destroy(t);
  }
}

// ---- mgtree -------------------------------------------------------------------

TEST(Mgtree, CompareBreaksCostTiesAndNaNByPairIndex) {
  EXPECT_EQ(mgtree_compare({1.0f, 5}, {0.5f, 9}), 1);
  EXPECT_EQ(mgtree_compare({0.5f, 9}, {1.0f, 5}), -1);
  EXPECT_EQ(mgtree_compare({1.0f, -5}, {1.0f, 3}), -1);
  EXPECT_EQ(mgtree_compare({1.0f, 3}, {1.0f, 3}), 0);
  EXPECT_EQ(mgtree_compare({NAN, 4}, {0.0f, 2}), 1);
  EXPECT_EQ(mgtree_compare({0.0f, 2}, {NAN, 4}), -1);
  mgtree *t = mgtree_create();
  EXPECT_EQ(mgtree_minimum(t), t->root);
  EXPECT_EQ(mgtree_minimum(t)->cost, 0.0f);
  for (int32_t i : {3, -1, 2}) mgtree_insert(t, {0.75f, i});
  EXPECT_EQ(mgtree_minimum(t)->pair_index, -1);
  mgtree_destroy(t);
}


}  // namespace
