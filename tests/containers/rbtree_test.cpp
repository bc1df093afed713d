// The red-black tree family against std::multimap references: red-black rules,
// links and sentinels after every operation, equal keys in arrival order, node
// addresses that survive other nodes' deletion, walks, traversals, printers.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "containers/aptree.h"
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
std::vector<const mgtree_node *> check(const mgtree *t) { return check_tree<mgtree, mgtree_node>(t); }
std::vector<const aptree_node *> check(const aptree *t) { return check_tree<aptree, aptree_node>(t); }

std::string captured(void (*print)(const void *), const void *tree) {
  testing::internal::CaptureStdout();
  print(tree);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

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

struct mg_less {
  bool operator()(mg_key a, mg_key b) const { return mgtree_compare(a, b) == -1; }
};

TEST(Mgtree, MinimumDeleteAndRandomDeletesFollowCostThenIndex) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    mgtree *t = mgtree_create();
    std::multimap<mg_key, mgtree_node *, mg_less> ref;
    for (int step = 0; step < 4000; ++step) {
      const uint32_t op = rng() % 8;
      if (op < 4 || ref.empty()) {
        // Few distinct costs and signed indices make ties on both fields.
        const mg_key key{static_cast<float>(rng() % 6) * 0.25f,
                         static_cast<int32_t>(rng() % 40) - 20};
        mgtree_node *n = mgtree_insert(t, key);
        ASSERT_NE(n, nullptr);
        ref.insert({key, n});
      } else if (op < 6) {
        mgtree_node *min = mgtree_minimum(t);
        ASSERT_EQ(min, ref.begin()->second);
        mgtree_delete(t, min);
        ref.erase(ref.begin());
      } else {
        auto it = std::next(ref.begin(), static_cast<long>(rng() % ref.size()));
        mgtree_node *found = mgtree_exact_query(t, it->first);
        ASSERT_TRUE(mgtree_node_not_null(t, found));
        ASSERT_EQ(mgtree_compare({found->cost, found->pair_index}, it->first), 0);
        mgtree_delete(t, it->second);
        ref.erase(it);
      }
      const auto order = check(t);
      ASSERT_EQ(order.size(), ref.size());
      auto it = ref.begin();
      for (const mgtree_node *n : order) ASSERT_EQ(n, (it++)->second);
    }
    std::vector<const mgtree_node *> walk;
    for (mgtree_node *n = mgtree_minimum(t); mgtree_node_not_null(t, n); n = mgtree_successor(t, n))
      walk.push_back(n);
    EXPECT_EQ(walk, check(t));
    mgtree_destroy(t);
  }
}

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
  EXPECT_EQ(captured([](const void *p) { mgtree_print(static_cast<const mgtree *>(p)); }, t),
            "  key=(cost: 0.750000, pair index: -1)  l->key=NULL  r->key=NULL"
            "  p->key=(cost: 0.750000, pair index: 2)  red=1\n"
            "  key=(cost: 0.750000, pair index: 2)  l->key=(cost: 0.750000, pair index: -1)"
            "  r->key=(cost: 0.750000, pair index: 3)  p->key=NULL  red=0\n"
            "  key=(cost: 0.750000, pair index: 3)  l->key=NULL  r->key=NULL"
            "  p->key=(cost: 0.750000, pair index: 2)  red=1\n");
  mgtree_destroy(t);
}

// ---- aptree -------------------------------------------------------------------

TEST(Aptree, QueryFirstCountingMatchesAReferenceMapAndTraverseAppends) {
  std::mt19937 rng(11);
  aptree *t = aptree_create();
  std::map<std::pair<int32_t, int32_t>, int32_t> ref;
  for (int step = 0; step < 5000; ++step) {
    const ap_pair key{static_cast<int32_t>(rng() % 30) - 10, static_cast<int32_t>(rng() % 30), 1};
    aptree_node *n = aptree_exact_query(t, {key.hash1, key.hash2, 12345});  // blen ignored
    if (aptree_node_not_null(t, n)) {
      ++n->blen;
    } else {
      ASSERT_NE(aptree_insert(t, key), nullptr);
    }
    ++ref[{key.hash1, key.hash2}];
    if (step % 97 == 0) check(t);
  }
  EXPECT_EQ(check(t).size(), ref.size());
  ap_ids *a = nullptr;
  ASSERT_EQ(init_ap_ids(&a, 100000), 0);
  add_ap_id(a, {7, 7, 7});
  int32_t count = -1;
  ASSERT_EQ(aptree_traverse(t, &count, a), 0);
  EXPECT_EQ(count, static_cast<int32_t>(ref.size()));
  ASSERT_EQ(a->count, count + 1);
  EXPECT_EQ(a->ids[0].blen, 7);
  int i = 1;
  for (const auto &[k, blen] : ref) {
    EXPECT_EQ(a->ids[i].hash1, k.first);
    EXPECT_EQ(a->ids[i].hash2, k.second);
    EXPECT_EQ(a->ids[i].blen, blen);
    ++i;
  }
  free_ap_ids(a);
  aptree_destroy(t);
}

}  // namespace
