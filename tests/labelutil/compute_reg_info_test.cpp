// KAVU_COMPUTE_REG_INFO through the embedded host: areas and band sums against
// a per-label sum written here, the argument checks and their messages.
#include "host_session.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using kavu_test::Vars;
using ComputeRegInfo = kavu_test::RoutineTest;

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
      QEL_VPTR area = v.undefined("area"), sum = v.undefined("sum");
      QEL_VPTR maxl = kavu_test::call_ok(
          v, "KAVU_COMPUTE_REG_INFO",
          {v.array("labels", lab, shape), v.array("image", img, {shape[0], shape[1], nb})},
          {{"REGAREA", area}, {"REGSUM", sum}});

      uint32_t expected_max = 0;
      for (uint32_t l : lab) expected_max = std::max(expected_max, l);
      const size_t n = expected_max + 1;
      std::vector<int32_t> want_area(n, 0);
      std::vector<float> want_sum(n * nb, 0.0f);
      for (int64_t b = 0; b < nb; ++b)
        for (int64_t i = 0; i < npix; ++i) want_sum[lab[i] + b * n] += img[b * npix + i];
      for (uint32_t l : lab) want_area[l]++;
      EXPECT_EQ(kavu_test::read_scalar<int32_t>(maxl), static_cast<int32_t>(expected_max));
      EXPECT_EQ(kavu_test::read_array<int32_t>(area).data, want_area);
      EXPECT_EQ(kavu_test::read_array<float>(sum).data, want_sum);
    }
  }
}

TEST_F(ComputeRegInfo, RefusesFaultyArgumentsWithCatalogueMessages) {
  const auto refused = [](std::vector<QEL_VPTR> args, std::vector<qelhost::Keyword> kw,
                          const std::string &name, const std::string &text) {
    kavu_test::expect_error("KAVU_COMPUTE_REG_INFO", args, kw, name, text);
  };
  QEL_VPTR lab1 = vars.array<uint32_t>("line", {0, 1, 7}, {3});
  QEL_VPTR lab3 = vars.array<uint32_t>("cube", std::vector<uint32_t>(8, 0), {2, 2, 2});
  QEL_VPTR img2 = vars.array<float>("img", std::vector<float>(6, 1), {2, 3});
  QEL_VPTR img3 = vars.array<float>("img3", std::vector<float>(3, 1), {3});
  // The second argument is tested for being an array before the first one's shape.
  refused({lab3, vars.lng("s", 1)}, {}, "QEL_M_NOTARRAY",
          "Expression must be an array in this context: S.");
  refused({lab3, img2}, {}, "KAVU_MBLK_SEGMENT_NOT_12D", "CUBE needs to be 1D or 2D.");
  refused({vars.array<uint32_t>("lab", {0, 1, 1, 2, 0, 0}, {3, 2}), img2}, {},
          "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH", "The first 2 dimensions of LAB and IMG do not match.");
  refused({lab1, vars.array<float>("vec", std::vector<float>(4, 1), {4})}, {},
          "KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH", "The first dimension of LINE and VEC do not match.");
  refused({lab1, img3}, {{"MAX_LBL", vars.lng("m", 3)}}, "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
          "MAX_LBL needs to be at least 7.");
  refused({vars.array<uint32_t>("huge", {0, 0x80000000u, 1}, {3}), img3},
          {{"MAX_LBL", vars.lng("m", 4)}}, "KAVU_MBLK_SEGMENT_ERROR",
          "Error: label 2147483648 is larger than any MAX_LBL.");
}

}  // namespace
