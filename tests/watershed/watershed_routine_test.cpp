// KAVU_WATERSHED through the embedded host: keywords in and out, the merge
// list, every refusal with its message in check order, and the failure result.
#include "flooding_support.h"
#include "host_session.h"

#include "containers/allocation.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using kavu_test::Vars;
using watershed_test::FloodInput;
using watershed_test::FloodOutput;

const char *const kRoutine = "KAVU_WATERSHED";
const std::string kPrefix = "KAVU_WATERSHED: ";

using U32 = std::vector<uint32_t>;

class Watershed : public kavu_test::RoutineTest {
 protected:
  QEL_VPTR levels(const std::vector<uint16_t> &lv, int64_t nx, int64_t ny) {
    return vars.array("levels", lv, {nx, ny});
  }
  QEL_VPTR zero_image(int64_t nx, int64_t ny) {
    return vars.array("img", std::vector<float>(nx * ny, 0.0f), {nx, ny});
  }
  QEL_VPTR call(const std::vector<QEL_VPTR> &args, const std::vector<qelhost::Keyword> &kw = {}) {
    return kavu_test::call_ok(vars, kRoutine, args, kw);
  }
  void refused(const std::vector<QEL_VPTR> &args, const std::vector<qelhost::Keyword> &kw,
               const std::string &name, const std::string &text) {
    kavu_test::expect_error(kRoutine, args, kw, name, kPrefix + text);
  }
};

TEST_F(Watershed, ThreeByThreeImageGivesOneLabelAfterTheStartLabel) {
  const std::vector<int32_t> lv = {5, 5, 5, 5, 1, 5, 5, 5, 5};  // LONG: converted to UINT
  QEL_VPTR lev = vars.array("levels", lv, {3, 3});
  QEL_VPTR img = vars.array("img", std::vector<double>(9, 0.0), {3, 3});
  QEL_VPTR max_label = vars.undefined("maxl");
  QEL_VPTR wmask = vars.undefined("wm");
  QEL_VPTR result = call({lev, img}, {{"START_LBL", vars.ulng("s", 41)},
                                     {"MAX_REGION_LABEL", max_label},
                                     {"WSHEDMASK", wmask}});
  const auto labels = read_array<uint16_t>(result);
  EXPECT_EQ(labels.data, (std::vector<uint16_t>{0, 0, 0, 0, 42, 0, 0, 0, 0}));
  EXPECT_EQ(labels.dims, (std::vector<int64_t>{3, 3}));
  EXPECT_EQ(read_scalar<uint32_t>(max_label), 42u);
  const auto wm = read_array<uint8_t>(wmask);
  EXPECT_EQ(wm.data, (std::vector<uint8_t>{255, 255, 255, 255, 0, 255, 255, 255, 255}));
  EXPECT_EQ(wm.dims, (std::vector<int64_t>{3, 3}));
  EXPECT_EQ(read_array<int32_t>(lev).data, lv);  // the argument is left as it was

  result = call({lev, img}, {{"LONG", vars.lng("l", 1)}});
  EXPECT_EQ(read_array<uint32_t>(result).data, (U32{0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

// Every keyword reaches the worker: the routine equals a direct worker call.
TEST_F(Watershed, RoutineEqualsTheWorkerOnRandomCalls) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int64_t> side(3, 30);
  for (int trial = 0; trial < 60; ++trial) {
    FloodInput in;
    in.nx = side(rng);
    in.ny = side(rng);
    in.nb = 1 + trial % 3;
    in.levels = watershed_test::random_levels(rng, in.nx, in.ny,
                                              static_cast<watershed_test::Field>(trial % 5));
    for (int64_t i = 0; i < in.nx * in.ny * in.nb; ++i) in.image.push_back(rng() % 5);
    in.connectivity = trial % 2 ? 8 : 4;
    in.merge_bd = trial % 4 >= 2;
    in.start = trial % 3 ? 0 : 70000 + trial;  // the 16-bit worker keeps the low 16 bits
    const bool long_labels = trial % 5 < 2;
    Vars v;
    std::vector<qelhost::Keyword> kw = {
        {"CONNECTIVITY", v.lng("c", in.connectivity)}, {"MERGE_BD", v.lng("m", in.merge_bd)},
        {"START_LBL", v.ulng("s", in.start)},          {"LONG", v.lng("l", long_labels)}};
    if (trial % 3 == 1) {
      for (int64_t i = 0; i < in.nx * in.ny; ++i) in.mask.push_back(rng() % 8 != 0);
      kw.push_back({"MASK", v.array("mask", in.mask, {in.nx, in.ny})});
    }
    if (trial % 4 == 1) {
      for (int64_t c = 0; c < in.nx; ++c) in.top.push_back(rng() % 3 ? 0 : 500 + rng() % 3);
      kw.push_back({"MARGIN_HLBL", v.array("h", in.top, {in.nx})});
      for (int64_t r = 0; r < in.ny; ++r) in.left.push_back(rng() % 3 ? 0 : 500 + rng() % 3);
      kw.push_back({"MARGIN_VLBL", v.array("vl", in.left, {in.ny})});
      in.levels.assign(in.levels.size(), 0);  // contacts at level 0 give pairs
    }
    QEL_VPTR maxl = v.undefined("maxl"), out_list = v.undefined("ol"), wm = v.undefined("wm");
    kw.push_back({"MAX_REGION_LABEL", maxl});
    kw.push_back({"OUT_MERGE_LIST", out_list});
    kw.push_back({"WSHEDMASK", wm});
    QEL_VPTR lev = v.array("levels", in.levels, {in.nx, in.ny});
    QEL_VPTR img = v.array("img", in.image, {in.nx, in.ny, in.nb});
    QEL_VPTR result = kavu_test::call_ok(v, kRoutine, {lev, img}, kw);
    ASSERT_NE(result, nullptr);

    const FloodOutput want = long_labels ? watershed_test::run_worker<uint32_t>(in)
                                         : watershed_test::run_worker<uint16_t>(in);
    if (long_labels) {
      EXPECT_EQ(read_array<uint32_t>(result).data, want.labels) << trial;
    } else {
      const auto got = read_array<uint16_t>(result).data;
      EXPECT_EQ(U32(got.begin(), got.end()), want.labels) << trial;
    }
    EXPECT_EQ(read_array<uint8_t>(wm).data, want.wmask) << trial;
    EXPECT_EQ(read_scalar<uint32_t>(maxl), want.count) << trial;
    U32 list;
    for (const auto &[a, b] : want.pairs) {
      list.push_back(static_cast<uint32_t>(a));
      list.push_back(static_cast<uint32_t>(b));
    }
    if (list.empty()) {
      EXPECT_EQ(out_list->type, QEL_TYP_UNDEF) << trial;
    } else {
      const auto got = read_array<uint32_t>(out_list);
      EXPECT_EQ(got.data, list) << trial;
      EXPECT_EQ(got.dims, (std::vector<int64_t>{static_cast<int64_t>(list.size())}));
    }
  }
}

TEST_F(Watershed, FunctionValueIsTheLabelImageWithoutOutputKeywords) {
  QEL_VPTR result = call({levels(std::vector<uint16_t>(20, 3), 5, 4), zero_image(5, 4)},
                         {{"LONG", vars.lng("l", 1)}});
  const auto labels = read_array<uint32_t>(result);
  EXPECT_EQ(labels.dims, (std::vector<int64_t>{5, 4}));
  EXPECT_EQ(labels.data[6], 1u);
}

// ---- merge list -----------------------------------------------------------

class MergeList : public Watershed {
 protected:
  // Flat level-3 image: the flooding finds no pair of its own.
  QEL_VPTR run(const std::vector<qelhost::Keyword> &kw) {
    return call({levels(std::vector<uint16_t>(16, 3), 4, 4), zero_image(4, 4)}, kw);
  }
  U32 out_list(QEL_VPTR in_list) {
    QEL_VPTR out = vars.undefined("ol");
    run({{"IN_MERGE_LIST", in_list}, {"OUT_MERGE_LIST", out}});
    return read_array<uint32_t>(out).data;
  }
};

TEST_F(MergeList, PairsComeOutLargerFirstInAscendingOrderAndAnOddElementIsIgnored) {
  EXPECT_EQ(out_list(vars.array<uint32_t>("il", {7, 3, 2, 9, 5}, {5})), (U32{7, 3, 9, 2}));
  // Any shape; duplicates kept; labels compared as signed values for the order.
  EXPECT_EQ(out_list(vars.array<uint32_t>("il", {3, 7, 0x80000001, 5, 7, 3, 4, 4}, {2, 4})),
            (U32{0x80000001, 5, 4, 4, 7, 3, 7, 3}));
}

TEST_F(MergeList, NoPairLeavesTheOutputVariableUntouched) {
  QEL_VPTR out = vars.lng("ol", 99);
  run({{"OUT_MERGE_LIST", out}});
  EXPECT_EQ(read_scalar<int32_t>(out), 99);
  run({{"IN_MERGE_LIST", vars.array<uint32_t>("il", {8}, {1})}, {"OUT_MERGE_LIST", out}});
  EXPECT_EQ(read_scalar<int32_t>(out), 99);
}

TEST_F(MergeList, APairTheFloodingFindsAgainIsListedOnce) {
  // Level 0 everywhere, flooded from a top (5) and a left (7) margin label.
  QEL_VPTR out = vars.undefined("ol");
  call({levels(std::vector<uint16_t>(16, 0), 4, 4), zero_image(4, 4)},
       {{"MARGIN_HLBL", vars.array<uint32_t>("h", {0, 5, 5, 0}, {4})},
        {"MARGIN_VLBL", vars.array<uint32_t>("vl", {0, 7, 7, 0}, {4})},
        {"IN_MERGE_LIST", vars.array<uint32_t>("il", {5, 7, 2, 9}, {4})},
        {"OUT_MERGE_LIST", out}});
  EXPECT_EQ(read_array<uint32_t>(out).data, (U32{7, 5, 9, 2}));
}

// ---- label width and margins ------------------------------------------------

TEST_F(Watershed, SixteenBitLabelsStopAt65530AndLongLabelsGoOn) {
  const int64_t side = 400;  // checkerboard: 79202 single-pixel minima
  std::vector<uint16_t> lv;
  for (int64_t r = 0; r < side; ++r)
    for (int64_t c = 0; c < side; ++c) lv.push_back((r + c) % 2);
  QEL_VPTR lev = levels(lv, side, side), img = zero_image(side, side);
  QEL_VPTR maxl = vars.undefined("maxl");
  QEL_VPTR narrow = call({lev, img}, {{"MAX_REGION_LABEL", maxl}});
  EXPECT_EQ(read_scalar<uint32_t>(maxl), 79202u);
  uint16_t top = 0;
  for (uint16_t l : read_array<uint16_t>(narrow).data) top = std::max(top, l);
  EXPECT_EQ(top, 65530);
  QEL_VPTR wide = call({lev, img}, {{"LONG", vars.lng("l", 1)}});
  uint32_t wide_top = 0;
  for (uint32_t l : read_array<uint32_t>(wide).data) wide_top = std::max(wide_top, l);
  EXPECT_EQ(wide_top, 79202u);
}

TEST_F(Watershed, MarginsLongerThanTheImageAreAcceptedAndCutToSize) {
  QEL_VPTR result =
      call({levels(std::vector<uint16_t>(20, 1), 5, 4), zero_image(5, 4)},
           {{"MARGIN_HLBL", vars.array<uint32_t>("h", {11, 12, 13, 14, 15, 16, 17}, {7})},
            {"MARGIN_VLBL", vars.array<uint32_t>("vl", {21, 22, 23, 24, 25}, {5})},
            {"LONG", vars.lng("l", 1)}});
  EXPECT_EQ(read_array<uint32_t>(result).data, (U32{21, 12, 13, 14, 0,  //
                                                    22, 0, 13, 0, 0,    //
                                                    23, 23, 0, 0, 0,    //
                                                    24, 0, 0, 0, 0}));
}

// ---- refusals ---------------------------------------------------------------

TEST_F(Watershed, RefusesFaultyArgumentsInCheckOrder) {
  QEL_VPTR lev = levels(std::vector<uint16_t>(20, 1), 5, 4), img = zero_image(5, 4);
  QEL_VPTR scalar = vars.lng("s", 1);
  QEL_VPTR line = vars.array<uint16_t>("line", std::vector<uint16_t>(5, 1), {5});
  const std::string na = "QEL_M_NOTARRAY", not_2d = "KAVU_MBLK_SEGMENT_NOT_2D",
                    badtype = "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
                    dims = "KAVU_MBLK_SEGMENT_DIM_NOT_MATCH",
                    vector = "KAVU_MBLK_SEGMENT_NOT_VECTOR", less = "KAVU_MBLK_SEGMENT_DIM_LESS";
  const std::string s_not_array = "Expression must be an array in this context: S.";

  // Both arguments are tested for being arrays before any shape.
  refused({scalar, img}, {}, na, s_not_array);
  refused({line, scalar}, {}, na, s_not_array);
  refused({line, img}, {}, not_2d, "LINE needs to be 2D.");
  refused({levels(std::vector<uint16_t>(10, 1), 2, 5), zero_image(2, 5)}, {},
          "KAVU_MBLK_SEGMENT_SM_DIM",
          "The size of both dimensions of LEVELS needs to be at least 3.");
  refused({lev, zero_image(5, 5)}, {}, dims,
          "The first 2 dimensions of LEVELS and IMG do not match.");

  // Keywords, each after the positional checks and in keyword order.
  QEL_VPTR int_mask = vars.array("mask", std::vector<int16_t>(20, 1), {5, 4});
  QEL_VPTR short_h = vars.array<uint32_t>("h", {1, 2, 3, 4}, {4});
  QEL_VPTR long_list = vars.array<int32_t>("il", {1, 2}, {2});
  refused({lev, zero_image(5, 5)}, {{"CONNECTIVITY", vars.lng("c", 6)}}, dims,
          "The first 2 dimensions of LEVELS and IMG do not match.");
  refused({lev, img}, {{"CONNECTIVITY", vars.lng("c", 6)}, {"MASK", int_mask}},
          "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL", "Bad keyword value for CONNECTIVITY. Must be 4 or 8.");
  refused({lev, img}, {{"MASK", scalar}}, na, s_not_array);
  refused({lev, img}, {{"MASK", int_mask}, {"MARGIN_HLBL", short_h}}, badtype,
          "The type of MASK needs to be type BYTE.");
  refused({lev, img}, {{"MASK", vars.array("mask", std::vector<uint8_t>(20, 1), {20})}}, not_2d,
          "MASK needs to be 2D.");
  refused({lev, img}, {{"MASK", vars.array("mask", std::vector<uint8_t>(20, 1), {4, 5})}}, dims,
          "The first 2 dimensions of LEVELS and MASK do not match.");
  refused({lev, img}, {{"MARGIN_HLBL", scalar}}, na, s_not_array);
  refused({lev, img}, {{"MARGIN_HLBL", vars.array<int32_t>("h", {1, 2, 3, 4, 5}, {5})}}, badtype,
          "The type of MARGIN_HLBL needs to be type ULONG.");
  refused({lev, img}, {{"MARGIN_HLBL", vars.array("h", U32(10, 1), {5, 2})}}, vector,
          "MARGIN_HLBL needs to be a vector.");
  refused({lev, img}, {{"MARGIN_HLBL", short_h}, {"MARGIN_VLBL", scalar}}, less,
          "The dimension of MARGIN_HLBL needs to be equal to or larger than the X dimension of "
          "LEVELS.");
  refused({lev, img}, {{"MARGIN_VLBL", scalar}}, na, s_not_array);
  refused({lev, img}, {{"MARGIN_VLBL", vars.array<uint16_t>("vl", {1, 2, 3, 4}, {4})}}, badtype,
          "The type of MARGIN_VLBL needs to be type ULONG.");
  refused({lev, img}, {{"MARGIN_VLBL", vars.array("vl", U32(4, 1), {1, 4})}}, vector,
          "MARGIN_VLBL needs to be a vector.");
  refused({lev, img}, {{"MARGIN_VLBL", vars.array<uint32_t>("vl", {1, 2, 3}, {3})},
                       {"IN_MERGE_LIST", long_list}},
          less,
          "The dimension of MARGIN_VLBL needs to be equal to or larger than the Y dimension of "
          "LEVELS.");
  refused({lev, img}, {{"IN_MERGE_LIST", scalar}}, na, s_not_array);
  refused({lev, img}, {{"IN_MERGE_LIST", long_list}}, badtype,
          "The type of IN_MERGE_LIST needs to be type ULONG.");
}

// ---- failure result ---------------------------------------------------------

// A call whose flooding records pairs and whose queue takes several blocks.
class WatershedFailure : public Watershed {
 protected:
  void SetUp() override {
    Watershed::SetUp();
    const int64_t side = 60;
    std::vector<uint16_t> lv;
    for (int64_t r = 0; r < side; ++r)
      for (int64_t c = 0; c < side; ++c) lv.push_back(r < 30 ? 0 : (r + c) % 2);
    lev = levels(lv, side, side);
    img = zero_image(side, side);
    U32 h(side, 0), vl(side, 0);
    for (int64_t i = 1; i < side - 1; ++i) h[i] = vl[i] = 1000 + i % 7;
    kw = {{"MARGIN_HLBL", vars.array("h", h, {side})},
          {"MARGIN_VLBL", vars.array("vl", vl, {side})},
          {"IN_MERGE_LIST", vars.array<uint32_t>("il", {1, 2, 3, 4}, {4})},
          {"MAX_REGION_LABEL", maxl},
          {"OUT_MERGE_LIST", out_list},
          {"WSHEDMASK", wmask}};
  }

  // The call returns; true when it gave LONG -1. Nothing is left behind and no
  // message is issued either way.
  bool failed() {
    const int64_t before = qelhost::live_temporaries();
    QEL_VPTR result = nullptr;
    try {
      result = qelhost::call(kRoutine, {lev, img}, kw);
    } catch (const qelhost::Error &e) {
      ADD_FAILURE() << "aborted with " << e.name;
      return false;
    }
    EXPECT_TRUE(qelhost::take_warnings().empty());
    const bool minus_one =
        result->type == QEL_TYP_LONG && !(result->flags & QEL_V_ARR) && result->value.l == -1;
    EXPECT_TRUE(minus_one || (result->flags & QEL_V_ARR)) << "neither -1 nor a label image";
    qelhost::release(result);
    EXPECT_EQ(qelhost::live_temporaries(), before);
    return minus_one;
  }

  QEL_VPTR lev = nullptr, img = nullptr;
  QEL_VPTR maxl = vars.undefined("maxl"), out_list = vars.undefined("ol"),
           wmask = vars.undefined("wm");
  std::vector<qelhost::Keyword> kw;
};

TEST_F(WatershedFailure, EveryRefusedModuleAllocationReturnsMinusOne) {
  int failures = 0;
  for (int64_t n = 1; n < 1000; ++n) {
    kavu_alloc_reset(n);
    const bool minus_one = failed();
    const int64_t made = kavu_alloc_count();
    kavu_alloc_reset();
    if (!minus_one) {
      EXPECT_LT(made, n) << "allocation " << n << " was refused but the call succeeded";
      break;
    }
    ++failures;
    EXPECT_EQ(out_list->type, QEL_TYP_UNDEF) << "allocation " << n;
    EXPECT_EQ(wmask->type, QEL_TYP_UNDEF) << "allocation " << n;
  }
  // Tree (3), input pairs (2), level tables, flooded pairs, id array (2): many paths.
  EXPECT_GT(failures, 10);
  // A failure after the label count is stored keeps it: the id array is made last.
  kavu_alloc_reset();
  ASSERT_FALSE(failed());
  const uint32_t count = read_scalar<uint32_t>(maxl);
  const int64_t total = kavu_alloc_count();
  vars.add(maxl = qelhost::make_undefined("maxl"));
  kw[3].var = maxl;
  kavu_alloc_reset(total);  // the last one: the id array's buffer
  EXPECT_TRUE(failed());
  kavu_alloc_reset();
  EXPECT_EQ(read_scalar<uint32_t>(maxl), count);
}

TEST_F(WatershedFailure, EveryRefusedHostTemporaryReturnsMinusOne) {
  int failures = 0;
  for (int64_t n = 1; n < 100; ++n) {
    qelhost::Refusals r;
    r.fail_temp_at = n;
    qelhost::set_refusals(r);
    const bool minus_one = failed();
    qelhost::set_refusals({});
    if (!minus_one) break;
    ++failures;
  }
  // Label image, sorted scratch, watershed mask, queue blocks, merge-list array.
  EXPECT_GE(failures, 6);
}

}  // namespace

namespace {

// Pixel indices travel through the flooding queue as 32-bit values; an image
// that claims 2^31 pixels (over borrowed one-pixel buffers) is refused before
// any of them is read.
TEST_F(Watershed, RefusesImagesOfTwoToThe31PixelsOrMore) {
  uint16_t level = 0;
  float value = 0;
  const std::vector<int64_t> dims = {65536, 32768};
  QEL_VPTR lev = vars.add(qelhost::make_array("lev", QEL_TYP_UINT, dims, &level, true));
  QEL_VPTR img = vars.add(qelhost::make_array("img", QEL_TYP_FLOAT, dims, &value, true));
  kavu_test::expect_error(kRoutine, {lev, img}, {}, "KAVU_MBLK_SEGMENT_ERROR",
                          "KAVU_WATERSHED: Error: LEV needs fewer than 2147483648 pixels.");
}

}  // namespace
