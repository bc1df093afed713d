// KAVU_MULTILEVEL_LABEL_REGION through the embedded host against a breadth-first
// flood fill that numbers regions in the raster order of their first pixel.
#include "host_session.h"
#include "random_images.h"

#include <gtest/gtest.h>

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
  Labelling run(const std::vector<uint32_t> &image, const std::vector<int64_t> &dims,
                const std::vector<int32_t> *mask) {
    QEL_VPTR in = vars.array("img", image, dims);
    QEL_VPTR out = vars.undefined("labels");
    std::vector<qelhost::Keyword> kw;
    if (mask) kw.push_back({"MASK_PTR", vars.array("mask", *mask, {int64_t(mask->size())})});
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
        ASSERT_EQ(got.labels, ref.labels)
            << s.ncols << "x" << s.nrows << " values " << n_values << (masked ? " masked" : "");
        ASSERT_EQ(got.count, ref.count);
      }
    }
  }
}

TEST_F(MultilevelLabelRegion, RefusesFaultyArgumentsWithCatalogueMessages) {
  const auto refused = [&](QEL_VPTR img, std::vector<qelhost::Keyword> kw, const std::string &name,
                           const std::string &text) {
    kavu_test::expect_error(kRoutine, {img, vars.undefined("labels")}, kw, name, text);
  };
  QEL_VPTR line = vars.array<uint32_t>("img", {1, 2}, {2});
  refused(vars.array<uint32_t>("img", std::vector<uint32_t>(8, 1), {2, 2, 2}), {},
          "KAVU_MBLK_SEGMENT_NOT_12D", "IMG needs to be 1D or 2D.");
  refused(line, {{"MASK_PTR", vars.array<uint32_t>("mask", {0}, {1})}},
          "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE", "The type of MASK_PTR needs to be type LONG.");
  refused(line, {{"MASK_PTR", vars.lng("m", 0)}}, "QEL_M_NOTARRAY",
          "Expression must be an array in this context: M.");
  refused(vars.lng("img", 1), {}, "QEL_M_NOTARRAY",
          "Expression must be an array in this context: IMG.");
  uint32_t one_pixel = 0;
  for (const std::vector<int64_t> &dims :
       {std::vector<int64_t>{2147483647}, {65536, 32768}, {2, 1073741824}})
    refused(vars.add(qelhost::make_array("img", QEL_TYP_ULONG, dims, &one_pixel, true)), {},
            "KAVU_MBLK_SEGMENT_ERROR", "Error: IMG needs fewer than 2147483647 pixels.");
}

}  // namespace
