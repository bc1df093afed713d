// The red-black tree algorithm behind aptree, over a traits type that supplies
// the node and tree records, the key read from a node, the key comparison
// (fixed, no indirection) and the key printer. Nodes are only ever inserted:
// they live, at their address, until the tree is destroyed.
//
// Shape: `root` is a sentinel whose left child is the real root; `nil` stands
// for every absent child. Both are black nodes with zero keys.
//
// Every node is a block of its own from the allocation layer (the watershed
// counts on one allocation per insert); the tree record is a separate block.
#pragma once

#include <cstdint>
#include <cstdio>

#include "containers/allocation.h"

// Traits requirements:
//   using node = ...; using tree = ...; using key = ...;
//   static key key_of(const node *);
//   static int32_t compare(key a, key b);          // 1, 0 or -1
//   static void printkey(const node *, FILE *);
template <typename Traits>
struct rbtree {
  using node = typename Traits::node;
  using tree = typename Traits::tree;
  using key = typename Traits::key;

  static tree *create() {
    tree *t = kavu_alloc_zeroed<tree>(1);
    return t ? add_sentinels(t) : nullptr;
  }

  // Black sentinels with zero keys; on failure the record is released.
  static tree *add_sentinels(tree *t) {
    node *nil = new_node(t);
    node *root = nil ? new_node(t) : nullptr;
    if (!root) {
      if (nil) free_node(t, nil);
      kavu_free(t);
      return nullptr;
    }
    *nil = node{};
    *root = node{};
    nil->left = nil->right = nil->parent = nil;
    root->left = root->right = root->parent = nil;
    t->nil = nil;
    t->root = root;
    return t;
  }

  static node *new_node(tree *) { return kavu_alloc_array<node>(1); }

  static void free_node(tree *, node *x) { kavu_free(x); }

  // Allocates a node, lets `fill` write its key and payload, links it in.
  template <typename Fill>
  static node *insert(tree *t, Fill &&fill) {
    node *x = new_node(t);
    if (!x) return nullptr;
    fill(x);
    insert_help(t, x);
    node *const inserted = x;
    x->red = 1;
    while (x->parent->red) {  // the root sentinel is black, so this stops there
      node *p = x->parent;    // red, hence not the real root: its parent is a real node
      x = p == p->parent->left ? insert_step<true>(t, x) : insert_step<false>(t, x);
    }
    t->root->left->red = 0;
    return inserted;
  }

  // Plain search-tree placement: equal keys go right, after existing ones.
  static void insert_help(tree *t, node *z) {
    node *nil = t->nil;
    z->left = z->right = nil;
    node *y = t->root;
    node *x = t->root->left;
    const key k = Traits::key_of(z);
    while (x != nil) {
      y = x;
      x = Traits::compare(Traits::key_of(x), k) == 1 ? x->left : x->right;
    }
    z->parent = y;
    if (y == t->root || Traits::compare(Traits::key_of(y), k) == 1)
      y->left = z;
    else
      y->right = z;
  }

  // The fix-up is mirror-symmetric: each step is written once for the side L
  // its node hangs on, near<L> being that side's child and far<L> the other.
  template <bool L>
  static node *&near(node *x) {
    if constexpr (L)
      return x->left;
    else
      return x->right;
  }
  template <bool L>
  static node *&far(node *x) {
    return near<!L>(x);
  }

  // Rotation towards side L (L true: left rotation). The real root is the root
  // sentinel's left child, so "x is its parent's left child" needs no root
  // special case. Children that are nil keep their parent link untouched.
  template <bool L>
  static void rotate(tree *t, node *x) {
    node *y = far<L>(x);
    far<L>(x) = near<L>(y);
    if (near<L>(y) != t->nil) near<L>(y)->parent = x;
    y->parent = x->parent;
    if (x == x->parent->left)
      x->parent->left = y;
    else
      x->parent->right = y;
    near<L>(y) = x;
    x->parent = y;
  }
  static void left_rotate(tree *t, node *x) { rotate<true>(t, x); }
  static void right_rotate(tree *t, node *y) { rotate<false>(t, y); }

  // One step of the insertion fix-up for a red x whose red parent is on side L
  // of the grandparent; returns the node to go on from.
  template <bool L>
  static node *insert_step(tree *t, node *x) {
    node *p = x->parent;
    node *g = p->parent;
    node *uncle = far<L>(g);
    if (uncle->red) {
      p->red = 0;
      uncle->red = 0;
      g->red = 1;
      return g;
    }
    if (x == far<L>(p)) {
      x = p;
      rotate<L>(t, x);
    }
    x->parent->red = 0;
    x->parent->parent->red = 1;
    rotate<!L>(t, x->parent->parent);
    return x;
  }

  static node *exact_query(const tree *t, key k) {
    node *nil = t->nil;
    node *x = t->root->left;
    while (x != nil) {
      const int32_t c = Traits::compare(Traits::key_of(x), k);
      if (c == 0) return x;
      x = c == 1 ? x->left : x->right;
    }
    return nil;
  }

  // In-order walk calling `visit(node)`; a non-zero result stops the walk and
  // is returned. Depth is bounded by twice the black height.
  template <typename Visit>
  static int32_t inorder(const tree *t, const node *x, Visit &&visit) {
    while (x != t->nil) {
      if (int32_t status = inorder(t, x->left, visit)) return status;
      if (int32_t status = visit(x)) return status;
      x = x->right;
    }
    return 0;
  }

  static void dest_helper(tree *t, node *x) {
    if (x == t->nil) return;
    dest_helper(t, x->left);
    dest_helper(t, x->right);
    free_node(t, x);
  }

  static void destroy(tree *t) {
    if (!t) return;
    dest_helper(t, t->root->left);
    free_node(t, t->root);
    free_node(t, t->nil);
    kavu_free(t);
  }

  static void print_linked(const node *x, const node *absent, FILE *stream) {
    if (x == absent)
      std::fputs("NULL", stream);
    else
      Traits::printkey(x, stream);
  }

  static void inorder_print(const tree *t, const node *x, FILE *stream) {
    inorder(t, x, [&](const node *n) {
      std::fputs("  key=", stream);
      Traits::printkey(n, stream);
      std::fputs("  l->key=", stream);
      print_linked(n->left, t->nil, stream);
      std::fputs("  r->key=", stream);
      print_linked(n->right, t->nil, stream);
      std::fputs("  p->key=", stream);
      print_linked(n->parent, t->root, stream);
      std::fprintf(stream, "  red=%i\n", n->red);
      return 0;
    });
  }
};
