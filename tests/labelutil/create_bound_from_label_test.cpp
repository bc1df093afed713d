// KAVU_CREATE_BOUND_FROM_LABEL through the embedded host, against the direct
// definition: a pixel is 255 when it differs from its right or lower neighbour.
#include "host_session.h"
#include "random_images.h"

#include <gtest/gtest.h>

namespace {

using kavu_test::ArrayData;
using kavu_test::read_array;
using kavu_test::read_scalar;
using labelutil_test::Shape;

const char *const kRoutine = "KAVU_CREATE_BOUND_FROM_LABEL";

struct Bound {
  std::vector<uint8_t> image;
  int32_t count = 0;
};

// The direct definition, one pixel at a time.
Bound reference_bound(const std::vector<uint32_t> &l, int64_t ncols, int64_t nrows) {
  Bound b;
  b.image.assign(l.size(), 0);
  for (int64_t r = 0; r < nrows; ++r)
    for (int64_t c = 0; c < ncols; ++c) {
      const int64_t p = r * ncols + c;
      const bool right = c + 1 < ncols && l[p] != l[p + 1];
      const bool below = r + 1 < nrows && l[p] != l[p + ncols];
      b.count += right + below;
      if (right || below) b.image[p] = 255;
    }
  return b;
}

class CreateBoundFromLabel : public kavu_test::RoutineTest {
 protected:
  // The boundary image, whose shape must be the input's, and the count.
  Bound run(const std::vector<uint32_t> &labels, const std::vector<int64_t> &dims) {
    QEL_VPTR out = vars.undefined("bound");
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {vars.array("lbl", labels, dims), out});
    if (!value) return {};
    ArrayData<uint8_t> a = read_array<uint8_t>(out);
    EXPECT_EQ(a.dims, dims);
    return {a.data, read_scalar<int32_t>(value)};
  }
};

// Three or more dimensions: only the first dims[0] labels are read, as one row;
// the output keeps the input's shape and the rest stays 0.
TEST_F(CreateBoundFromLabel, ThreeDimensionsAreReadAsTheFirstRow) {
  std::vector<uint32_t> l(24);
  for (size_t i = 0; i < l.size(); ++i) l[i] = static_cast<uint32_t>(i);  // all distinct
  const Bound b = run(l, {4, 3, 2});
  std::vector<uint8_t> expected(24, 0);
  expected[0] = expected[1] = expected[2] = 255;
  EXPECT_EQ(b.image, expected);
  EXPECT_EQ(b.count, 3);
}

TEST_F(CreateBoundFromLabel, RandomImagesMatchTheDefinition) {
  std::mt19937 rng(7031);
  for (const Shape &s : labelutil_test::test_shapes(rng, 25)) {
    for (uint32_t n_values : {1u, 2u, 5u, 1000u}) {
      const auto labels =
          labelutil_test::random_labels(rng, s, n_values, 4000000000u, n_values > 2);
      const Bound expected = reference_bound(labels, s.ncols, s.nrows);
      const Bound got = run(labels, s.dims());
      ASSERT_EQ(got.image, expected.image) << s.ncols << "x" << s.nrows << " values " << n_values;
      ASSERT_EQ(got.count, expected.count);
    }
  }
}

TEST_F(CreateBoundFromLabel, RefusesAScalar) {
  kavu_test::expect_error(kRoutine, {vars.lng("lbl", 3), vars.undefined("bound")}, {},
                          "QEL_M_NOTARRAY", "Expression must be an array in this context: LBL.");
}

}  // namespace
