// Regions under a minimum size joined to the neighbour cheapest to merge
// with, at the end of a window's merging. The rule is the package's own
// (kavu/tiled/small_regions.py, which settles the specks of the whole image
// with it): the cost of the lambda schedule in float64,
//   (|A| |B| / (|A| + |B|)) * |mean A - mean B|^2 / (common boundary length),
// with sums taken pixel by pixel in raster order, the cheapest host first and
// ties to the smaller label, a NaN cost last; in each round every such region
// picks its host at once and the joined groups are renumbered 1, 2, ... in the
// order of their smallest label. Rounds go on until nothing joins.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavu_py {

struct SmallRegionsRequest {
  const float *bands;  // nbands planes of height * width, row by row
  size_t nbands;
  size_t height;
  size_t width;
  uint32_t *labels;  // height * width, 0 takes no part; rewritten in place
  double min_size;
};

void absorb_small_regions(const SmallRegionsRequest &request);

}  // namespace kavu_py
