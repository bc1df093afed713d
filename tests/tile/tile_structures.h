// Hand-built merging structures for unit tests of the tile operations: a label
// table, region records with chosen areas and means, and open share streams.
#pragma once

#include "containers/merge_lbl_list.h"
#include "containers/open_hash.h"
#include "lambda/region_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tile_test {

struct LabelTable {
  open_hash h{};
  int32_t n_positions = 0;
  // Sized for `expected` keys (default: the labels given), as the module sizes its tables.
  explicit LabelTable(const std::vector<uint32_t> &labels, int32_t expected = -1) {
    n_positions = expected >= 0 ? expected : int32_t(labels.size());
    const int32_t param = compute_hash_param(&n_positions);
    EXPECT_EQ(open_hash_init(&h, n_positions, param, h1_reg, h2_reg, match_reg), 0);
    for (uint32_t l : labels) EXPECT_EQ(insert_lbl_hash(&h, l), 0);
  }
  ~LabelTable() { open_hash_destroy(&h); }
  int32_t pos(uint32_t label) const {
    int32_t p;
    EXPECT_EQ(open_hash_lookup(&h, label, &p), 0) << label;
    return p;
  }
};

// Region records by position of `table`, each label given its area and means;
// `owner` maps a label's position to its own position unless redirected.
struct Regions {
  std::vector<std::vector<float>> sums;
  std::vector<region_rec> set;
  std::vector<int32_t> owner;
  Regions(const LabelTable &table, int nbands, const std::map<uint32_t, std::pair<int32_t, std::vector<float>>> &stats)
      : sums(size_t(table.n_positions), std::vector<float>(size_t(nbands), 0.0f)),
        set(size_t(table.n_positions)),
        owner(size_t(table.n_positions)) {
    for (int32_t p = 0; p < table.n_positions; ++p) {
      set[size_t(p)] = region_rec{};
      set[size_t(p)].gval = sums[size_t(p)].data();
      set[size_t(p)].bestp = -1;
      owner[size_t(p)] = p;
    }
    for (const auto &[label, s] : stats) {
      const int32_t p = table.pos(label);
      set[size_t(p)].area = s.first;
      sums[size_t(p)] = s.second;
      set[size_t(p)].gval = sums[size_t(p)].data();
    }
  }
};

// One merge label list per position of `table`, each starting with its label;
// `absorb(a, z)` appends z's list to a's as a merge does.
struct Lists {
  std::vector<merge_lbl_list> lists;
  const LabelTable &table;
  explicit Lists(const LabelTable &t) : lists(size_t(t.n_positions), merge_lbl_list{}), table(t) {
    for (int32_t p = 0; p < t.n_positions; ++p)
      if (open_hash_pos_valid(&t.h, p)) {
        EXPECT_EQ(merge_lbl_list_add(&lists[size_t(p)], t.h.slots[p]), 0);
      }
  }
  void absorb(uint32_t survivor, uint32_t absorbed) {
    merge_lbl_list_move(&lists[size_t(table.pos(survivor))], &lists[size_t(table.pos(absorbed))]);
  }
  ~Lists() {
    for (auto &l : lists) merge_lbl_list_destroy(&l);
  }
};

// Both share files opened for update; closed at scope end.
struct ShareStreams {
  FILE *idx = nullptr;
  FILE *info = nullptr;
  explicit ShareStreams(const std::string &base) {
    idx = std::fopen((base + ".idx").c_str(), "r+b");
    info = std::fopen((base + ".info").c_str(), "r+b");
    EXPECT_TRUE(idx && info) << base;
  }
  void close() {
    if (idx) std::fclose(idx);
    if (info) std::fclose(info);
    idx = info = nullptr;
  }
  ~ShareStreams() { close(); }
};

}  // namespace tile_test
