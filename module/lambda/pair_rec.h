// The pair record of the lambda-merging pair set: two neighbouring regions,
// their common boundary, merge cost and votes.
#pragma once

#include <cstdint>

struct pair_rec {
  float t;          // merge cost s / blen
  float s;          // area-weighted squared spectral difference
  int32_t r0;       // position of the surviving region
  int32_t r1;       // position of the absorbed region
  int32_t blen;     // common boundary length
  uint8_t b;        // 1 when at least one region has this pair as its best pair
  uint8_t e;        // 1 when both do; the pair is then a merge candidate
  uint8_t removed;  // 1 once merged or folded into another pair
};
