// Random inputs for the label-image utility tests: shapes from one pixel to a
// few hundred per side, 1-D and 2-D, and label images with few or many values.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace labelutil_test {

struct Shape {
  int64_t ncols, nrows;
  bool one_d;  // given to the host as a 1-D array of ncols elements (nrows is 1)
  std::vector<int64_t> dims() const {
    return one_d ? std::vector<int64_t>{ncols} : std::vector<int64_t>{ncols, nrows};
  }
  int64_t pixels() const { return ncols * nrows; }
};

// 1-D, one row, one column, single pixel, and 2-D shapes up to 300 per side.
inline std::vector<Shape> test_shapes(std::mt19937 &rng, int n_random) {
  std::vector<Shape> shapes = {{1, 1, false},  {1, 1, true},   {17, 1, true},
                               {257, 1, true}, {40, 1, false}, {1, 40, false},
                               {2, 2, false},  {3, 7, false},  {300, 200, false}};
  std::uniform_int_distribution<int64_t> side(1, 300);
  for (int i = 0; i < n_random; ++i) shapes.push_back({side(rng), side(rng), false});
  return shapes;
}

// Labels drawn from `n_values` values starting at `base`; with `blocky`, runs of
// equal labels along rows and columns, so that regions span many pixels.
inline std::vector<uint32_t> random_labels(std::mt19937 &rng, const Shape &s, uint32_t n_values,
                                           uint32_t base = 0, bool blocky = false) {
  std::uniform_int_distribution<uint32_t> value(0, n_values - 1);
  std::bernoulli_distribution keep(0.8);
  std::vector<uint32_t> labels(s.pixels());
  for (int64_t r = 0; r < s.nrows; ++r)
    for (int64_t c = 0; c < s.ncols; ++c) {
      const int64_t p = r * s.ncols + c;
      uint32_t v = base + value(rng);
      if (blocky && c > 0 && keep(rng)) v = labels[p - 1];
      if (blocky && r > 0 && keep(rng)) v = labels[p - s.ncols];
      labels[p] = v;
    }
  return labels;
}

}  // namespace labelutil_test
