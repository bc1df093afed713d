// Labels joined into groups, as a forest over the label numbers (parent[k]
// is k for a root). A join hangs the larger root under the smaller one, so
// every label's parent is never above it and each group's root is its
// smallest label: numbering the groups in the order of their smallest label
// is then one pass upwards, in place, and needs 4 bytes a label in all.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kavu_py {

inline uint32_t forest_root(uint32_t *parent, uint32_t k) {
  while (parent[k] != k) k = parent[k] = parent[parent[k]];
  return k;
}

inline void forest_join(uint32_t *parent, uint32_t a, uint32_t b) {
  a = forest_root(parent, a);
  b = forest_root(parent, b);
  if (a != b) parent[std::max(a, b)] = std::min(a, b);
}

// parent[0 .. n) becomes each label's group 0, 1, ... in the order of the
// group's smallest label (label 0's group is 0); returns the number of groups.
inline size_t number_groups(uint32_t *parent, size_t n) {
  uint32_t next = 0;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t p = parent[k];  // below k unless a root: numbered already
    parent[k] = p == k ? next++ : parent[p];
  }
  return next;
}

}  // namespace kavu_py
