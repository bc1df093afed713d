// KAVU_MULTILEVEL_LABEL_REGION through the embedded host against a breadth-first
// flood fill that numbers regions in the raster order of their first pixel.
#include "host_session.h"
#include "labelutil/multilevel_label_region.h"
#include "random_images.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using labelutil_test::Shape;

const char *const kRoutine = "KAVU_MULTILEVEL_LABEL_REGION";

struct Labelling {
  std::vector<uint32_t> labels;
  int32_t count = -1;
};

// Flood fill from each unlabelled usable pixel in raster order; out-of-range
// exclusion indices are ignored.
Labelling reference_labelling(const std::vector<uint32_t> &v, int64_t ncols, int64_t nrows,
                              const std::vector<int32_t> &excluded) {
  const int64_t n = ncols * nrows;
  std::vector<bool> usable(n, true);
  for (int32_t e : excluded)
    if (e >= 0 && e < n) usable[e] = false;
  Labelling out;
  out.labels.assign(n, 0);
  out.count = 0;
  std::deque<int64_t> queue;
  for (int64_t start = 0; start < n; ++start) {
    if (!usable[start] || out.labels[start] != 0) continue;
    const uint32_t label = static_cast<uint32_t>(++out.count);
    out.labels[start] = label;
    queue.push_back(start);
    while (!queue.empty()) {
      const int64_t p = queue.front();
      queue.pop_front();
      const int64_t r = p / ncols, c = p % ncols;
      const int64_t nbrs[4] = {c > 0 ? p - 1 : -1, c + 1 < ncols ? p + 1 : -1,
                               r > 0 ? p - ncols : -1, r + 1 < nrows ? p + ncols : -1};
      for (int64_t q : nbrs)
        if (q >= 0 && usable[q] && out.labels[q] == 0 && v[q] == v[p]) {
          out.labels[q] = label;
          queue.push_back(q);
        }
    }
  }
  return out;
}

class MultilevelLabelRegion : public kavu_test::RoutineTest {
 protected:
  template <typename T = uint32_t>
  Labelling run(const std::vector<T> &image, const std::vector<int64_t> &dims,
                const std::vector<int32_t> *mask = nullptr,
                std::vector<int64_t> mask_dims = {}) {
    QEL_VPTR in = vars.array("img", image, dims);
    QEL_VPTR out = vars.undefined("labels");
    std::vector<qelhost::Keyword> kw;
    if (mask) {
      if (mask_dims.empty()) mask_dims = {int64_t(mask->size())};
      kw.push_back({"MASK_PTR", vars.array("mask", *mask, mask_dims)});
    }
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {in, out}, kw);
    Labelling l;
    if (!value) return l;
    const auto a = read_array<uint32_t>(out);
    EXPECT_EQ(a.dims, dims);
    l.labels = a.data;
    l.count = read_scalar<int32_t>(value);
    return l;
  }
};

TEST_F(MultilevelLabelRegion, ExamplesOfTheDefinition) {
  Labelling l = run<uint32_t>({1, 1, 2, 2, 1, 2}, {3, 2});
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 1, 2, 3, 1, 2}));
  EXPECT_EQ(l.count, 3);

  // Diagonal contact does not join.
  l = run<uint32_t>({5, 6, 6, 5}, {2, 2});
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(l.count, 4);

  // A 1-D image is one row: only left-right connections.
  l = run<uint32_t>({0, 0, 3, 0}, {4});
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 1, 2, 3}));
  EXPECT_EQ(l.count, 3);
}

// Arms that meet only at the bottom start with two provisional labels; the join
// keeps the smaller one, and the region inside the U comes after the U.
TEST_F(MultilevelLabelRegion, UShapeGetsOneLabel) {
  const Labelling l = run<uint32_t>({7, 0, 7,  //
                                     7, 0, 7,  //
                                     7, 7, 7},
                                    {3, 3});
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 2, 1, 1, 2, 1, 1, 1, 1}));
  EXPECT_EQ(l.count, 2);
}

// A staircase joins many provisional labels late in the scan; every pixel must
// end at the final number of its root, not at an intermediate label.
TEST_F(MultilevelLabelRegion, LateJoinsOfManyProvisionalLabels) {
  const int64_t w = 9, h = 6;
  // A comb: columns of 0 at even columns, joined only by the last row.
  std::vector<uint32_t> img(w * h, 1);
  for (int64_t p = 0; p < w * h; ++p)
    if (p % w % 2 == 0 || p >= (h - 1) * w) img[p] = 0;
  const Labelling l = run(img, {w, h});
  const Labelling ref = reference_labelling(img, w, h, {});
  EXPECT_EQ(l.labels, ref.labels);
  EXPECT_EQ(l.count, ref.count);
}

TEST_F(MultilevelLabelRegion, MaskExcludesListedPixels) {
  std::vector<int32_t> mask = {0};
  Labelling l = run<uint32_t>({7, 7, 7}, {3}, &mask);
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{0, 1, 1}));
  EXPECT_EQ(l.count, 1);

  mask = {3, 2, 1, 0, 2};
  l = run<uint32_t>({1, 2, 3, 4}, {2, 2}, &mask);
  EXPECT_EQ(l.labels, std::vector<uint32_t>(4, 0));
  EXPECT_EQ(l.count, 0);

  // Entries that are not pixel indices exclude nothing.
  mask = {-1, 4, INT_MIN, INT_MAX, -2};
  l = run<uint32_t>({1, 1, 2, 2}, {2, 2}, &mask);
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 1, 2, 2}));
  EXPECT_EQ(l.count, 2);
}

// A masked pixel separates its neighbours: the row splits in two regions.
TEST_F(MultilevelLabelRegion, MaskedPixelCutsARegion) {
  std::vector<int32_t> mask = {2};
  const Labelling l = run<uint32_t>({4, 4, 4, 4, 4}, {5}, &mask);
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 1, 0, 2, 2}));
  EXPECT_EQ(l.count, 2);
}

// Only the first dims[0] entries of MASK_PTR are used.
TEST_F(MultilevelLabelRegion, MaskUsesItsFirstDimensionOnly) {
  std::vector<int32_t> mask = {0, 1, 2, 3};
  const Labelling l = run<uint32_t>({5, 5, 5, 5}, {4}, &mask, {2, 2});
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{0, 0, 1, 1}));
  EXPECT_EQ(l.count, 1);
}

TEST_F(MultilevelLabelRegion, ConvertsOtherTypes) {
  const Labelling l = run<float>({0.5f, 0.25f, 3.0f, 3.0f}, {4});  // 0.5 and 0.25 both become 0
  EXPECT_EQ(l.labels, (std::vector<uint32_t>{1, 1, 2, 2}));
  EXPECT_EQ(l.count, 2);
}

TEST_F(MultilevelLabelRegion, RandomImagesMatchAFloodFill) {
  std::mt19937 rng(9901);
  for (const Shape &s : labelutil_test::test_shapes(rng, 25)) {
    for (uint32_t n_values : {1u, 2u, 8u, 1000u}) {
      for (bool masked : {false, true}) {
        const auto img = labelutil_test::random_labels(rng, s, n_values, 0, n_values > 2);
        std::vector<int32_t> mask;
        if (masked) {
          std::uniform_int_distribution<int32_t> index(-3, int32_t(s.pixels() + 3));
          for (int64_t k = s.pixels() / 5 + 1; k > 0; --k) mask.push_back(index(rng));
        }
        const Labelling got = run(img, s.dims(), masked ? &mask : nullptr);
        const Labelling ref = reference_labelling(img, s.ncols, s.nrows, mask);
        ASSERT_EQ(got.labels, ref.labels) << s.ncols << "x" << s.nrows << " values " << n_values
                                          << (masked ? " masked" : "");
        ASSERT_EQ(got.count, ref.count);
      }
    }
  }
}

TEST_F(MultilevelLabelRegion, RefusesThreeDimensions) {
  QEL_VPTR in = vars.array<uint32_t>("img", std::vector<uint32_t>(8, 1), {2, 2, 2});
  QEL_VPTR out = vars.undefined("labels");
  kavu_test::expect_error(kRoutine, {in, out}, {}, "KAVU_MBLK_SEGMENT_NOT_12D",
                          "KAVU_MULTILEVEL_LABEL_REGION: IMG needs to be 1D or 2D.");
}

TEST_F(MultilevelLabelRegion, RefusesAMaskThatIsNotLong) {
  QEL_VPTR in = vars.array<uint32_t>("img", {1, 2}, {2});
  QEL_VPTR out = vars.undefined("labels");
  QEL_VPTR mask = vars.array<uint32_t>("mask", {0}, {1});
  kavu_test::expect_error(kRoutine, {in, out}, {{"MASK_PTR", mask}},
                          "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                          "KAVU_MULTILEVEL_LABEL_REGION: The type of MASK_PTR needs to be type "
                          "LONG.");
  QEL_VPTR scalar = vars.lng("m", 0);
  kavu_test::expect_error(
      kRoutine, {in, out}, {{"MASK_PTR", scalar}}, "QEL_M_NOTARRAY",
      "KAVU_MULTILEVEL_LABEL_REGION: Expression must be an array in this context: M.");
}

TEST_F(MultilevelLabelRegion, RefusesAScalarImage) {
  QEL_VPTR in = vars.lng("img", 1);
  QEL_VPTR out = vars.undefined("labels");
  kavu_test::expect_error(
      kRoutine, {in, out}, {}, "QEL_M_NOTARRAY",
      "KAVU_MULTILEVEL_LABEL_REGION: Expression must be an array in this context: IMG.");
}

// The equivalence table needs an int32 entry per pixel plus one. The host lets
// an array claim 2^31 pixels over a borrowed one-element buffer, which the
// routine must refuse before reading it.
TEST_F(MultilevelLabelRegion, RefusesTwoToThe31MinusOnePixelsOrMore) {
  uint32_t one_pixel = 0;
  QEL_VPTR out = vars.undefined("labels");
  const std::string text =
      "KAVU_MULTILEVEL_LABEL_REGION: Error: IMG needs fewer than 2147483647 pixels.";
  for (const std::vector<int64_t> &dims :
       {std::vector<int64_t>{2147483647}, {65536, 32768}, {2, 1073741824}}) {
    QEL_VPTR in = vars.add(qelhost::make_array("img", QEL_TYP_ULONG, dims, &one_pixel, true));
    kavu_test::expect_error(kRoutine, {in, out}, {}, "KAVU_MBLK_SEGMENT_ERROR", text);
  }
  static_assert(multilevel_max_pixels == 2147483646);
}

}  // namespace
