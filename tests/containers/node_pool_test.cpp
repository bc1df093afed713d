// The node pool under the trees: slab growth, reuse of returned nodes, a
// refused slab that leaves pool and tree unchanged, trees sharing one pool,
// and every slab released with the last user.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "containers/allocation.h"
#include "containers/mgtree.h"
#include "containers/node_pool.h"
#include "containers/nptree.h"

namespace {

TEST(NodePool, SlabsDoubleUpToTheCapAndReturnedNodesComeBackFirst) {
  const int64_t live = kavu_alloc_live();
  node_pool *pool = node_pool_create(24);
  ASSERT_NE(pool, nullptr);
  kavu_alloc_reset();
  std::vector<void *> nodes;
  std::set<void *> distinct;
  std::vector<int64_t> slab_after;  // allocation count after each node
  for (int i = 0; i < 3 * node_pool_max_slab_nodes; ++i) {
    nodes.push_back(node_pool_alloc(pool));
    ASSERT_NE(nodes.back(), nullptr);
    distinct.insert(nodes.back());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(nodes.back()) % alignof(void *), 0u);
    slab_after.push_back(kavu_alloc_count());
  }
  EXPECT_EQ(distinct.size(), nodes.size());
  // Slabs of 1, 2, 4, ... nodes: a new one at node 1, 2, 4, 8, ... up to the cap,
  // then every node_pool_max_slab_nodes nodes.
  int64_t expected = 0, start = 0;
  int64_t slab = 1;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (static_cast<int64_t>(i) == start) {
      ++expected;
      start += slab;
      if (slab < node_pool_max_slab_nodes) slab *= 2;
    }
    ASSERT_EQ(slab_after[i], expected) << i;
  }
  // Returned nodes are handed out again, last returned first, with no allocation.
  node_pool_free(pool, nodes[5]);
  node_pool_free(pool, nodes[9]);
  const int64_t before = kavu_alloc_count();
  EXPECT_EQ(node_pool_alloc(pool), nodes[9]);
  EXPECT_EQ(node_pool_alloc(pool), nodes[5]);
  EXPECT_EQ(kavu_alloc_count(), before);
  node_pool_release(pool);
  EXPECT_EQ(kavu_alloc_live(), live);
}

TEST(NodePool, RefusedSlabReturnsNullAndLeavesTheTreeUnchanged) {
  const int64_t live = kavu_alloc_live();
  node_pool *pool = node_pool_create(sizeof(mgtree_node));
  mgtree *t = mgtree_create_in(pool);
  node_pool_release(pool);
  std::vector<mgtree_node *> kept;
  // Fill exactly up to a slab boundary (sentinels take the first 2 + 1 nodes).
  kavu_alloc_reset();
  for (int32_t i = 0; i < 5; ++i) kept.push_back(mgtree_insert(t, mg_key{1.0f * i, i}));
  const int64_t made = kavu_alloc_count();
  kavu_alloc_reset(1);
  EXPECT_EQ(mgtree_insert(t, mg_key{0.5f, 99}), nullptr);
  kavu_alloc_reset();
  EXPECT_EQ(made, 1);  // the slab of 4 after the sentinels' slabs of 1 and 2
  // The tree still holds its five nodes in order, at their addresses.
  mgtree_node *n = mgtree_minimum(t);
  for (int32_t i = 0; i < 5; ++i, n = mgtree_successor(t, n)) EXPECT_EQ(n, kept[size_t(i)]);
  EXPECT_FALSE(mgtree_node_not_null(t, n));
  // With the allocation allowed again the same insert succeeds.
  EXPECT_NE(mgtree_insert(t, mg_key{0.5f, 99}), nullptr);
  mgtree_destroy(t);
  EXPECT_EQ(kavu_alloc_live(), live);
}

// Trees of one family grow, shrink and trade nodes through the shared pool in
// any order; each keeps its own contents, a node deleted from one tree is
// reused by the next insert, and the last destroy frees every slab.
TEST(NodePool, TreesSharingAPoolKeepTheirOwnNodesAndReleaseItLast) {
  const int64_t live = kavu_alloc_live();
  node_pool *pool = node_pool_create(sizeof(nptree_node));
  std::vector<nptree *> trees;
  for (int i = 0; i < 8; ++i) trees.push_back(nptree_create_in(pool));
  node_pool_release(pool);  // the trees hold it now
  std::vector<std::multimap<int32_t, int32_t>> refs(trees.size());
  std::mt19937 rng(3);
  for (int step = 0; step < 4000; ++step) {
    const size_t i = rng() % trees.size();
    const int32_t key = static_cast<int32_t>(rng() % 20);
    if (rng() % 3 == 0 && refs[i].count(key)) {
      nptree_node *gone = nptree_exact_query(trees[i], key);
      const int32_t payload = gone->nbr_pair;
      nptree_delete_node(trees[i], key);
      // Which equal node the query meets is the tree's choice; drop that one.
      auto range = refs[i].equal_range(key);
      for (auto it = range.first; it != range.second; ++it)
        if (it->second == payload) {
          refs[i].erase(it);
          break;
        }
      nptree_node *reused = nptree_insert(trees[(i + 1) % trees.size()], step, key);
      EXPECT_EQ(reused, gone) << "the freed node is handed out next";
      refs[(i + 1) % trees.size()].emplace(key, step);
    } else {
      ASSERT_NE(nptree_insert(trees[i], step, key), nullptr);
      refs[i].emplace(key, step);
    }
  }
  for (size_t i = 0; i < trees.size(); ++i) {
    std::multiset<std::pair<int32_t, int32_t>> got, want(refs[i].begin(), refs[i].end());
    int32_t last = INT32_MIN;
    for (nptree_node *n = nptree_minimum(trees[i]); nptree_node_not_null(trees[i], n);
         n = nptree_successor(trees[i], n)) {
      EXPECT_LE(last, n->lbl_hash);
      last = n->lbl_hash;
      got.emplace(n->lbl_hash, n->nbr_pair);
    }
    EXPECT_EQ(got, want) << "tree " << i;
  }
  for (size_t i = 0; i + 1 < trees.size(); ++i) {
    nptree_destroy(trees[i]);
    EXPECT_GT(kavu_alloc_live(), live) << "the pool outlives all but its last tree";
  }
  nptree_destroy(trees.back());
  EXPECT_EQ(kavu_alloc_live(), live);
}

TEST(NodePool, RefusedSentinelOfASharedTreeKeepsThePoolsReferenceCount) {
  const int64_t live = kavu_alloc_live();
  node_pool *pool = node_pool_create(sizeof(nptree_node));
  for (int64_t fail = 1; fail <= 2; ++fail) {
    kavu_alloc_reset(fail);  // the record, then the first slab
    EXPECT_EQ(nptree_create_in(pool), nullptr);
    kavu_alloc_reset();
  }
  EXPECT_EQ(pool->users, 1);
  node_pool_release(pool);
  EXPECT_EQ(kavu_alloc_live(), live);
}

}  // namespace
