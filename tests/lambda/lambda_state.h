// Test helper for the merging core: the structures one driver builds, from a
// small image, merged one pair at a time.
#pragma once

#include "lambda/merge_run.h"
#include "lambda/pair_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace lambda_test {

// A merge run, with the names the tests use for its members.
struct lambda_state {
  merge_run run{};
  open_hash &hash = run.region_hash;
  int32_t &n_positions = run.n_positions;
  region_rec *&regions = run.region_set;
  merge_lbl_list *&lists = run.lists;
  pair_rec *&pairs = run.pair_set;
  int32_t &n_pairs = run.n_pairs;
  int32_t &nbands = run.nbands;

  lambda_state() { nbands = 1; }
  lambda_state(const lambda_state &) = delete;
  lambda_state &operator=(const lambda_state &) = delete;
  ~lambda_state() { merge_run_release(&run); }

  // Region hash, region set, pair set, merge tree and band buffer, as both
  // drivers build them; the first non-zero status is returned.
  int32_t build(const std::vector<float> &image, const std::vector<uint32_t> &labels, int32_t ncols,
                int32_t nrows, int32_t bands, const uint8_t *mask = nullptr) {
    const merge_input in{image.data(), labels.data(), ncols,   nrows,  bands,
                         mask,         nullptr,       nullptr, nullptr};
    const int32_t status = merge_run_hash_labels(&run, in);
    return status != 0 ? status : merge_run_build(&run, in);
  }

  int32_t pos(uint32_t label) const {
    int32_t p;
    EXPECT_EQ(open_hash_lookup(&hash, label, &p), 0) << "label " << label;
    return p;
  }

  // Merges the merge tree's minimum as a driver does; returns its pair index.
  int32_t merge_min() {
    const int32_t k = merge_run_minimum(&run).pair_index;
    int32_t a, z;
    EXPECT_EQ(merge_run_merge_minimum(&run, &a, &z), 0);
    return k;
  }
};

}  // namespace lambda_test
