// Every routine on representative inputs, with each of its module allocations
// refused in turn and then each host temporary or scratch block refused in
// turn: every run must end with the routine's documented failure answer, leave
// no temporary or module block behind and leave its output variables as they were.
#include "../tile/share_files.h"
#include "host_session.h"

#include "containers/allocation.h"

#include <functional>
#include <random>

namespace {

using kavu_test::Vars;
using tile_test::read_bytes;
using tile_test::write_bytes;

struct Call {
  std::string routine;
  std::vector<QEL_VPTR> args;
  std::vector<qelhost::Keyword> keywords;
  std::vector<QEL_VPTR> outputs;  // variables the routine must not half-write on failure
};

struct Outcome {
  bool failed = false;
  std::string message;  // message name, or "LONG -1"
  bool outputs_untouched = true;
  int64_t allocations = 0;  // module allocations the call asked for
};

using MakeCall = std::function<Call(Vars &)>;

Outcome run(const MakeCall &make, const std::function<void()> &arm) {
  Vars v;
  Call c = make(v);
  Outcome o;
  const int64_t live_before = kavu_alloc_live();
  arm();
  try {
    QEL_VPTR r = qelhost::call(c.routine, c.args, c.keywords);
    // KAVU_WATERSHED answers resource failures with a LONG -1 instead of its image.
    o.failed = !(r->flags & QEL_V_ARR) && r->type == QEL_TYP_LONG && r->value.l == -1 &&
               c.routine == "KAVU_WATERSHED";
    if (o.failed) o.message = "LONG -1";
    qelhost::release(r);
    o.allocations = kavu_alloc_count();
  } catch (const qelhost::Error &e) {
    o.failed = true;
    o.message = e.name;
  }
  kavu_alloc_reset();
  qelhost::set_refusals({});
  if (o.failed)
    for (QEL_VPTR out : c.outputs) o.outputs_untouched &= out->type == QEL_TYP_UNDEF;
  EXPECT_EQ(qelhost::live_temporaries(), 0) << c.routine;
  EXPECT_EQ(kavu_alloc_live(), live_before) << c.routine << " leaked module blocks";
  return o;
}

void expect_failure_answer(const Outcome &o, const std::string &what, int64_t n) {
  EXPECT_TRUE(o.failed) << what << ": refusal " << n << " went unnoticed";
  EXPECT_TRUE(o.message == "KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL" || o.message == "LONG -1")
      << what << ": refusal " << n << " gave " << o.message;
  EXPECT_TRUE(o.outputs_untouched) << what << ": refusal " << n << " half-wrote an output";
}

// Refuses module allocation 1 ... K, K counted on a clean run; then host
// temporaries 1, 2, ... until the call no longer needs the refused one.
void sweep(const std::string &what, const MakeCall &make) {
  kavu_test::ensure_module_loaded();
  const Outcome clean = run(make, [] { kavu_alloc_reset(); });
  ASSERT_FALSE(clean.failed) << what << " fails without refusals";
  for (int64_t n = 1; n <= clean.allocations; ++n)
    expect_failure_answer(run(make, [n] { kavu_alloc_reset(n); }), what, n);

  for (int64_t n = 1; n < 10000; ++n) {
    qelhost::Refusals r;
    r.fail_temp_at = n;
    const Outcome o = run(make, [r] { qelhost::set_refusals(r); });
    if (!o.failed) break;
    expect_failure_answer(o, what, n);
  }
}

std::vector<float> random_image(int64_t n, int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(0, 100);
  std::vector<float> v(n);
  for (auto &x : v) x = d(rng);
  return v;
}

// Labels of 3 x 3 blocks on a ncols x nrows grid, numbered from `first`.
std::vector<uint32_t> block_labels(int64_t ncols, int64_t nrows, uint32_t first) {
  std::vector<uint32_t> l(ncols * nrows);
  const int64_t bx = (ncols + 2) / 3;
  for (int64_t y = 0; y < nrows; ++y)
    for (int64_t x = 0; x < ncols; ++x) l[y * ncols + x] = first + (y / 3) * bx + x / 3;
  return l;
}

TEST(FailureInjection, Watershed) {
  sweep("KAVU_WATERSHED, every keyword", [](Vars &v) {
    std::mt19937 rng(3);
    std::vector<uint16_t> levels(12 * 10);
    for (auto &l : levels) l = rng() % 6;
    std::vector<uint8_t> mask(12 * 10, 1);
    mask[37] = 0;
    return Call{
        "KAVU_WATERSHED",
        {v.array("levels", levels, {12, 10}), v.array("img", random_image(240, 1), {12, 10, 2})},
        {{"LONG", v.lng("l", 1)},
         {"MERGE_BD", v.lng("m", 1)},
         {"MASK", v.array("mask", mask, {12, 10})},
         {"MARGIN_HLBL", v.array<uint32_t>("h", std::vector<uint32_t>(12, 0), {12})},
         {"MARGIN_VLBL", v.array<uint32_t>("v", {0, 3, 3, 0, 0, 4, 4, 0, 0, 0}, {10})},
         {"IN_MERGE_LIST", v.array<uint32_t>("in", {1, 2, 8, 5}, {4})},
         {"OUT_MERGE_LIST", v.undefined("out")},
         {"WSHEDMASK", v.undefined("wm")}},
        {}};
  });
}

TEST(FailureInjection, LabelUtilities) {
  tile_test::TempDir dir;
  const auto labels = block_labels(8, 7, 1);
  sweep("KAVU_COMPUTE_REG_INFO", [&](Vars &v) {
    QEL_VPTR area = v.undefined("area"), sum = v.undefined("sum");
    return Call{"KAVU_COMPUTE_REG_INFO",
                {v.array("lab", labels, {8, 7}), v.array("img", random_image(112, 2), {8, 7, 2})},
                {{"REGAREA", area}, {"REGSUM", sum}},
                {area, sum}};
  });
  const std::string nbr = dir.file("nbr");
  sweep("KAVU_SEGMENT_GET_NBRINFO", [&](Vars &v) {
    return Call{
        "KAVU_SEGMENT_GET_NBRINFO", {v.array("lab", labels, {8, 7}), v.str("f", nbr)}, {}, {}};
  });
  sweep("KAVU_CREATE_BOUND_FROM_LABEL", [&](Vars &v) {
    QEL_VPTR out = v.undefined("bound");
    return Call{"KAVU_CREATE_BOUND_FROM_LABEL", {v.array("lab", labels, {8, 7}), out}, {}, {out}};
  });
  sweep("KAVU_MULTILEVEL_LABEL_REGION", [&](Vars &v) {
    QEL_VPTR out = v.undefined("regions");
    std::vector<uint32_t> levels(labels);
    for (auto &l : levels) l %= 3;
    return Call{"KAVU_MULTILEVEL_LABEL_REGION",
                {v.array("img", levels, {8, 7}), out},
                {{"MASK_PTR", v.array<int32_t>("m", {0, 5, 9}, {3})}},
                {out}};
  });
  sweep("KAVU_REPLACE_INTEGER_DATA", [&](Vars &v) {
    return Call{"KAVU_REPLACE_INTEGER_DATA",
                {v.array("lab", labels, {8, 7}), v.array<uint32_t>("old", {1, 2, 5}, {3}),
                 v.array<uint32_t>("new", {7, 7, 9}, {3})},
                {},
                {}};
  });
  sweep("KAVU_CREATE_INCREASING", [&](Vars &v) {
    QEL_VPTR flags = v.undefined("flags");
    return Call{"KAVU_CREATE_INCREASING",
                {v.array<float>("x", {1, 3, 2, 5, 4, 4, 6}, {7})},
                {{"BAD_FLAGS", flags}},
                {flags}};
  });
}

TEST(FailureInjection, IterativeMode) {
  const auto labels = block_labels(9, 9, 0);
  sweep("KAVU_ITER_LAMBDA_SEGMENT", [&](Vars &v) {
    QEL_VPTR map = v.undefined("map"), lambdas = v.undefined("lambdas");
    return Call{"KAVU_ITER_LAMBDA_SEGMENT",
                {v.array("img", random_image(162, 4), {9, 9, 2})},
                {{"IN_LABEL_IMG", v.array("lab", labels, {9, 9})},
                 {"LABEL_MAP", map},
                 {"LAMBDAS", lambdas}},
                // LAMBDAS is handed over whole before the LABEL_MAP vector is made,
                // so only LABEL_MAP must stay as it was on every failure.
                {map}};
  });
  Vars v;
  QEL_VPTR map = v.undefined("map");
  kavu_test::ensure_module_loaded();
  kavu_test::call_ok(v, "KAVU_ITER_LAMBDA_SEGMENT",
                     {v.array("img", random_image(162, 4), {9, 9, 2})},
                     {{"IN_LABEL_IMG", v.array("lab", labels, {9, 9})}, {"LABEL_MAP", map}});
  const auto schedule = kavu_test::read_array<uint32_t>(map).data;
  sweep("KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE", [&](Vars &w) {
    QEL_VPTR out = w.undefined("out");
    const std::vector<uint32_t> prefix(schedule.begin(), schedule.begin() + 8);
    return Call{"KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE",
                {w.array("lab", labels, {9, 9}), w.array("map", prefix, {2, 4}), out},
                {},
                {out}};
  });
}

TEST(FailureInjection, TiledMode) {
  kavu_test::ensure_module_loaded();
  tile_test::TempDir dir;
  const int64_t ncols = 6, nrows = 6;
  const auto left_labels = block_labels(ncols, nrows, 1);
  const auto left_image = random_image(ncols * nrows * 2, 5);
  // The first tile of a run starts from empty share files.
  const std::string base = dir.file("share");
  const auto first_tile = [&](Vars &v, QEL_VPTR out) {
    write_bytes(base + ".idx", {});
    write_bytes(base + ".info", {});
    return Call{"KAVU_TILE_LAMBDA_SEGMENT",
                {v.array("img", left_image, {ncols, nrows, 2}), out},
                {{"IN_LABEL_IMG", v.array("lab", left_labels, {ncols, nrows})},
                 {"LAMBDA_THRESHOLD", v.dbl("t", 20)},
                 {"SHARE_FILE_NAME", v.str("f", base)},
                 {"START_LBL", v.ulng("s", 1)}},
                {out}};
  };
  // The tile to its right continues the left tile's last column through the margins.
  Vars v;
  QEL_VPTR left_out = v.undefined("left");
  const Call c = first_tile(v, left_out);
  const int32_t last =
      kavu_test::read_scalar<int32_t>(kavu_test::call_ok(v, c.routine, c.args, c.keywords));
  const auto left_output = kavu_test::read_array<uint32_t>(left_out).data;
  const auto idx = read_bytes(base + ".idx"), info = read_bytes(base + ".info");
  std::vector<uint32_t> margin(2 * nrows);
  auto right_labels = block_labels(ncols, nrows, 100);
  for (int64_t y = 0; y < nrows; ++y) {
    margin[y] = left_labels[y * ncols + ncols - 1];
    margin[nrows + y] = left_output[y * ncols + ncols - 1];
    if (y < 4) right_labels[y * ncols] = margin[y];  // watershed regions that cross the border
  }
  sweep("KAVU_TILE_LAMBDA_SEGMENT, second tile, margins", [&](Vars &w) {
    write_bytes(base + ".idx", idx);
    write_bytes(base + ".info", info);
    QEL_VPTR out = w.undefined("out"), pairs = w.undefined("pairs");
    return Call{"KAVU_TILE_LAMBDA_SEGMENT",
                {w.array("img", random_image(ncols * nrows * 2, 6), {ncols, nrows, 2}), out},
                {{"IN_LABEL_IMG", w.array("lab", right_labels, {ncols, nrows})},
                 {"LAMBDA_THRESHOLD", w.dbl("t", 20)},
                 {"MARGIN_VLBL", w.array("mv", margin, {nrows, 2})},
                 {"IN_MERGE_LIST", w.array<uint32_t>("in", {3, 9}, {2})},
                 {"SHARE_FILE_NAME", w.str("f", base)},
                 {"START_LBL", w.ulng("s", static_cast<uint32_t>(last + 1))},
                 {"OUT_MERGE_LIST", pairs}},
                {out, pairs}};
  });
}

}  // namespace
