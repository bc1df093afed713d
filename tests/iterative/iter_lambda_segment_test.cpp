// KAVU_ITER_LAMBDA_SEGMENT through the host: argument checks with their exact
// messages, the literal cases, and the whole schedule against the brute-force
// reference on random images.
#include "host_session.h"
#include "schedule_reference.h"

#include <bit>
#include <numeric>
#include <random>

using kavu_test::read_array;
using kavu_test::RoutineTest;
using qelhost::Keyword;

namespace {

const std::string kRoutine = "KAVU_ITER_LAMBDA_SEGMENT";

struct result {
  std::vector<float> lambdas;
  std::vector<uint32_t> label_map;
};

class IterLambdaSegment : public RoutineTest {
 protected:
  // Runs the routine with both output keywords; an unwritten output stays undefined.
  result run(QEL_VPTR img, QEL_VPTR labels = nullptr) {
    QEL_VPTR lambdas = vars.undefined("lambdas"), label_map = vars.undefined("map");
    std::vector<Keyword> kw = {{"LAMBDAS", lambdas}, {"LABEL_MAP", label_map}};
    if (labels) kw.push_back({"IN_LABEL_IMG", labels});
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {img}, kw);
    EXPECT_EQ(kavu_test::read_scalar<int32_t>(value), 0);
    result out;
    if (lambdas->flags & QEL_V_ARR) out.lambdas = read_array<float>(lambdas).data;
    if (label_map->flags & QEL_V_ARR) out.label_map = read_array<uint32_t>(label_map).data;
    return out;
  }

  void expect_refused(QEL_VPTR img, const std::vector<Keyword> &kw, const std::string &name,
                      const std::string &text) {
    kavu_test::expect_error(kRoutine, {img}, kw, name, text);
  }
};

std::vector<uint32_t> bits(const std::vector<float> &v) {
  std::vector<uint32_t> out;
  for (const float f : v) out.push_back(std::bit_cast<uint32_t>(f));
  return out;
}

TEST_F(IterLambdaSegment, ArgumentChecks) {
  QEL_VPTR img = vars.array("img", std::vector<float>(6, 1), {3, 2});
  expect_refused(vars.lng("img", 1), {}, "QEL_M_NOTARRAY",
                 "Expression must be an array in this context: IMG.");
  expect_refused(img, {{"IN_LABEL_IMG", vars.ulng("l", 0)}}, "QEL_M_NOTARRAY",
                 "Expression must be an array in this context: L.");
  expect_refused(img, {{"IN_LABEL_IMG", vars.array<int32_t>("l", {0, 1, 2, 3, 4, 5}, {3, 2})}},
                 "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                 "The type of IN_LABEL_IMG needs to be type ULONG.");
  expect_refused(img, {{"IN_LABEL_IMG", vars.array<uint32_t>("l", {0, 1, 2, 3, 4, 5}, {3, 2, 1})}},
                 "KAVU_MBLK_SEGMENT_NOT_2D", "IN_LABEL_IMG needs to be 2D.");
  expect_refused(img, {{"IN_LABEL_IMG", vars.array<uint32_t>("l", {0, 1, 2, 3, 4, 5}, {2, 3})}},
                 "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                 "The first 2 dimensions of IMG and IN_LABEL_IMG do not match.");
  img = vars.array("img", std::vector<float>(4, 1), {2, 2});
  for (const uint32_t reserved : {0xFFFFFFFFu, 0xFFFFFFFEu})
    expect_refused(
        img, {{"IN_LABEL_IMG", vars.array<uint32_t>("l", {1, reserved, 1, 1}, {2, 2})}},
        "KAVU_MBLK_SEGMENT_ERROR",
        "Error: IN_LABEL_IMG holds label " + std::to_string(reserved) + ", which is reserved.");
  // Band values are indexed with 32-bit integers: an image that claims too many
  // pixels for its band count (over a borrowed one-value buffer) is refused unread.
  float value = 0;
  img = vars.add(qelhost::make_array("img", QEL_TYP_FLOAT, {65536, 16384, 2}, &value, true));
  expect_refused(img, {}, "KAVU_MBLK_SEGMENT_ERROR",
                 "Error: IMG needs fewer than 1073741824 pixels.");
}

// Random images of 1 to 4 bands and 2 x 2 to 40 x 40 pixels, with the default
// labels or random non-contiguous labels in blobs.
struct random_case {
  int32_t ncols, nrows, nbands;
  std::vector<float> image;
  std::vector<uint32_t> labels;  // empty: every pixel its own region
};

random_case make_case(std::mt19937 &rng, int round) {
  random_case c;
  c.ncols = 2 + rng() % 39;
  c.nrows = 2 + rng() % 39;
  if (round % 4 == 0) c.ncols = c.nrows = 2 + rng() % 4;
  c.nbands = 1 + rng() % 4;
  const int32_t n = c.ncols * c.nrows;
  c.image.resize(static_cast<size_t>(n) * c.nbands);
  // Few distinct values in half the rounds, so that equal costs are common.
  const uint32_t levels = round % 2 ? 4 : 100000;
  for (auto &v : c.image) v = static_cast<float>(rng() % levels) / 16.0f;
  if (round % 3 != 0) {
    c.labels.resize(n);
    std::vector<uint32_t> pool(1 + rng() % 60);
    for (auto &l : pool) l = static_cast<uint32_t>(rng() % 0xFFFFFF00u);
    for (int32_t i = 0; i < n; ++i) {
      c.labels[i] = pool[rng() % pool.size()];
      if (i % c.ncols > 0 && rng() % 3) c.labels[i] = c.labels[i - 1];
      if (i >= c.ncols && rng() % 3 == 0) c.labels[i] = c.labels[i - c.ncols];
    }
  }
  return c;
}

TEST_F(IterLambdaSegment, RandomSchedulesEqualTheBruteForceReference) {
  std::mt19937 rng(20240601);
  for (int round = 0; round < 60; ++round) {
    const random_case c = make_case(rng, round);
    // A one-band image may come in two dimensions.
    QEL_VPTR img = c.nbands == 1 && round % 2
                       ? vars.array<float>("img", c.image, {c.ncols, c.nrows})
                       : vars.array<float>("img", c.image, {c.ncols, c.nrows, c.nbands});
    QEL_VPTR lbl =
        c.labels.empty() ? nullptr : vars.array<uint32_t>("l", c.labels, {c.ncols, c.nrows});
    std::vector<uint32_t> labels(c.ncols * c.nrows);
    std::iota(labels.begin(), labels.end(), 0u);
    if (!c.labels.empty()) labels = c.labels;
    const auto r = run(img, lbl);
    const auto ref =
        iterative_test::reference_schedule(c.image, labels, c.ncols, c.nrows, c.nbands);
    const size_t regions = iterative_test::model_positions(labels, c.ncols, c.nrows).size();
    ASSERT_EQ(ref.lambdas.size(), regions - 1);
    EXPECT_EQ(r.label_map, ref.label_map) << "round " << round;
    EXPECT_EQ(bits(r.lambdas), bits(ref.lambdas)) << "round " << round;
    if (HasFailure()) return;
  }
}

}  // namespace
