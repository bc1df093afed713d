// KAVU_COMPUTE_REG_INFO through the embedded host: areas and band sums against
// a per-label sum written here, the argument checks and their messages.
#include "host_session.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using kavu_test::Vars;
using ComputeRegInfo = kavu_test::RoutineTest;

struct RegInfo {
  int32_t maxl;
  std::vector<int32_t> area;
  std::vector<float> sum;
  std::vector<int64_t> sum_dims;
};

RegInfo reg_info(QEL_VPTR labels, QEL_VPTR image, std::vector<qelhost::Keyword> extra = {}) {
  Vars v;
  QEL_VPTR area = v.undefined("area");
  QEL_VPTR sum = v.undefined("sum");
  extra.push_back({"REGAREA", area});
  extra.push_back({"REGSUM", sum});
  QEL_VPTR result = kavu_test::call_ok(v, "KAVU_COMPUTE_REG_INFO", {labels, image}, extra);
  RegInfo r;
  r.maxl = kavu_test::read_scalar<int32_t>(result);
  r.area = kavu_test::read_array<int32_t>(area).data;
  const auto sum_array = kavu_test::read_array<float>(sum);
  r.sum = sum_array.data;
  r.sum_dims = sum_array.dims;
  return r;
}

// Reference: one map per band, summed in pixel order in single precision.
TEST_F(ComputeRegInfo, MatchesPerLabelSumsOnRandomImages) {
  std::mt19937 rng(7);
  const std::vector<std::vector<int64_t>> shapes = {{1, 1}, {5, 3}, {17, 1}, {1, 23}, {64, 48}};
  for (const auto &shape : shapes) {
    for (int64_t nb : {1, 3}) {
      const int64_t npix = shape[0] * shape[1];
      const uint32_t maxlabel = 1 + rng() % 40;
      std::vector<uint32_t> lab(npix);
      for (auto &l : lab) l = rng() % (maxlabel + 1);
      std::vector<float> img(npix * nb);
      std::uniform_real_distribution<float> val(-100, 100);
      for (auto &x : img) x = val(rng);

      Vars v;
      QEL_VPTR labels = v.array<uint32_t>("labels", lab, shape);
      QEL_VPTR image = v.array<float>("image", img, {shape[0], shape[1], nb});
      const RegInfo r = reg_info(labels, image);

      uint32_t expected_max = 0;
      for (uint32_t l : lab) expected_max = std::max(expected_max, l);
      const size_t n = expected_max + 1;
      std::vector<int32_t> area(n, 0);
      std::vector<float> sum(n * nb, 0.0f);
      for (int64_t b = 0; b < nb; ++b)
        for (int64_t i = 0; i < npix; ++i) sum[lab[i] + b * n] += img[b * npix + i];
      for (uint32_t l : lab) area[l]++;
      EXPECT_EQ(r.maxl, static_cast<int32_t>(expected_max));
      EXPECT_EQ(r.area, area);
      EXPECT_EQ(r.sum, sum);
    }
  }
}

TEST_F(ComputeRegInfo, RefusesFaultyArgumentsWithCatalogueMessages) {
  Vars v;
  QEL_VPTR lab2 = v.array<uint32_t>("lab", {0, 1, 1, 2, 0, 0}, {3, 2});
  QEL_VPTR lab3 = v.array<uint32_t>("cube", std::vector<uint32_t>(8, 0), {2, 2, 2});
  QEL_VPTR lab1 = v.array<uint32_t>("line", {0, 1, 7}, {3});
  QEL_VPTR img2 = v.array<float>("img", std::vector<float>(6, 1), {2, 3});
  QEL_VPTR img1 = v.array<float>("vec", std::vector<float>(4, 1), {4});
  QEL_VPTR img3 = v.array<float>("img3", std::vector<float>(3, 1), {3});
  QEL_VPTR scalar = v.lng("s", 1);
  const std::string r = "KAVU_COMPUTE_REG_INFO: ";

  // The second argument is tested for being an array before the first one's shape.
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {lab3, scalar}, {}, "QEL_M_NOTARRAY",
                          r + "Expression must be an array in this context: S.");
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {lab3, img2}, {}, "KAVU_MBLK_SEGMENT_NOT_12D",
                          r + "CUBE needs to be 1D or 2D.");
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {lab2, img2}, {},
                          "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                          r + "The first 2 dimensions of LAB and IMG do not match.");
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {lab1, img1}, {},
                          "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH",
                          r + "The first dimension of LINE and VEC do not match.");
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {lab1, img3}, {{"MAX_LBL", v.lng("m", 3)}},
                          "KAVU_MBLK_SEGMENT_NOT_MEET_MINV", r + "MAX_LBL needs to be at least 7.");
  QEL_VPTR huge = v.array<uint32_t>("huge", {0, 0x80000000u, 1}, {3});
  kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", {huge, img3}, {{"MAX_LBL", v.lng("m", 4)}},
                          "KAVU_MBLK_SEGMENT_ERROR",
                          r + "Error: label 2147483648 is larger than any MAX_LBL.");
}

}  // namespace
