// KAVU_WATERSHED through the embedded host against the reference flooding, the
// merge list, and every refusal with its message in check order.
#include "flooding_reference.h"
#include "host_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using kavu_test::Vars;
using watershed_test::FloodInput;
using watershed_test::FloodOutput;

const char *const kRoutine = "KAVU_WATERSHED";

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
    kavu_test::expect_error(kRoutine, args, kw, name, text);
  }
};

// Random calls with every keyword against the reference flooding: both label
// widths, margins longer than the image, masks, the boundary pass, start
// labels near either width's saturation, and the pairs of level-0 contacts.
TEST_F(Watershed, RandomCallsEqualTheReferenceFlooding) {
  std::mt19937 rng(20240611);
  const uint32_t starts[] = {0, 2000, 70000, 0xFFF0, 0xFFFFFFF0};
  for (int trial = 0; trial < 1200; ++trial) {
    FloodInput in;
    in.nx = 3 + rng() % (trial < 1100 ? 22 : 90);
    in.ny = 3 + rng() % (trial < 1100 ? 22 : 90);
    in.nb = rng() % 4;
    in.levels = watershed_test::random_levels(rng, in.nx, in.ny,
                                              static_cast<watershed_test::Field>(rng() % 5));
    for (int64_t i = 0; i < in.nx * in.ny * in.nb; ++i) in.image.push_back(rng() % 7);
    in.connectivity = rng() % 2 ? 8 : 4;
    in.merge_bd = rng() % 2;
    in.start = starts[rng() % 5];
    const bool long_labels = rng() % 2;
    Vars v;
    std::vector<qelhost::Keyword> kw = {{"CONNECTIVITY", v.lng("c", in.connectivity)},
                                        {"MERGE_BD", v.lng("m", in.merge_bd)},
                                        {"START_LBL", v.ulng("s", in.start)},
                                        {"LONG", v.lng("l", long_labels)}};
    if (rng() % 2) {
      for (int64_t i = 0; i < in.nx * in.ny; ++i)
        in.mask.push_back(rng() % 7 ? 1 + rng() % 255 : 0);
      kw.push_back({"MASK", v.array("mask", in.mask, {in.nx, in.ny})});
    }
    if (rng() % 2) {  // 16-bit labels keep the low bits of margin labels
      for (int64_t c = 0; c < in.nx + 2; ++c)
        in.top.push_back(rng() % 5 ? 0x10000 * (rng() % 2) + 1000 + rng() % 5 : 0);
      kw.push_back({"MARGIN_HLBL", v.array("h", in.top, {in.nx + 2})});
    }
    if (rng() % 2) {
      for (int64_t r = 0; r < in.ny; ++r) in.left.push_back(rng() % 5 ? 1000 + rng() % 5 : 0);
      kw.push_back({"MARGIN_VLBL", v.array("vl", in.left, {in.ny})});
    }
    if (rng() % 3 == 0) in.levels.assign(in.levels.size(), 0);  // contacts at level 0 give pairs
    QEL_VPTR maxl = v.undefined("maxl"), out_list = v.undefined("ol"), wm = v.undefined("wm");
    kw.insert(kw.end(),
              {{"MAX_REGION_LABEL", maxl}, {"OUT_MERGE_LIST", out_list}, {"WSHEDMASK", wm}});
    QEL_VPTR result = kavu_test::call_ok(
        v, kRoutine,
        {v.array("levels", in.levels, {in.nx, in.ny}),
         in.nb ? v.array("img", in.image, {in.nx, in.ny, in.nb}) : zero_image(in.nx, in.ny)},
        kw);
    ASSERT_NE(result, nullptr);
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << in.nx << " x " << in.ny);
    const FloodOutput want = watershed_test::Reference(in, !long_labels).run();
    if (long_labels) {
      ASSERT_EQ(read_array<uint32_t>(result).data, want.labels);
    } else {
      const auto got = read_array<uint16_t>(result).data;
      ASSERT_EQ(U32(got.begin(), got.end()), want.labels);
    }
    ASSERT_EQ(read_array<uint8_t>(wm).data, want.wmask);
    ASSERT_EQ(read_scalar<uint32_t>(maxl), want.count);
    // No pair leaves the output undefined.
    ASSERT_EQ(out_list->type == QEL_TYP_UNDEF ? U32{} : read_array<uint32_t>(out_list).data,
              want.pairs);
  }
}

TEST_F(Watershed, MergeListPairsComeOutLargerFirstInAscendingOrder) {
  QEL_VPTR lev = levels(std::vector<uint16_t>(16, 0), 4, 4), img = zero_image(4, 4);
  const auto out_list = [&](const U32 &in, const std::vector<int64_t> &dims) {
    QEL_VPTR out = vars.lng("ol", 99);
    call({lev, img}, {{"IN_MERGE_LIST", vars.array("il", in, dims)}, {"OUT_MERGE_LIST", out}});
    return out->type == QEL_TYP_LONG ? U32{99} : read_array<uint32_t>(out).data;
  };
  // An odd last element is ignored; no pair leaves the output as it was.
  EXPECT_EQ(out_list({7, 3, 2, 9, 5}, {5}), (U32{7, 3, 9, 2}));
  EXPECT_EQ(out_list({8}, {1}), (U32{99}));
  // Any shape; duplicates kept; labels compared as signed values for the order.
  EXPECT_EQ(out_list({3, 7, 0x80000001, 5, 7, 3, 4, 4}, {2, 4}),
            (U32{0x80000001, 5, 4, 4, 7, 3, 7, 3}));
  // A pair the flooding finds again (margins 5 above, 7 left, at level 0) is listed once.
  QEL_VPTR out = vars.undefined("ol");
  call({lev, img}, {{"MARGIN_HLBL", vars.array<uint32_t>("h", {0, 5, 5, 0}, {4})},
                    {"MARGIN_VLBL", vars.array<uint32_t>("vl", {0, 7, 7, 0}, {4})},
                    {"IN_MERGE_LIST", vars.array<uint32_t>("il", {5, 7, 2, 9}, {4})},
                    {"OUT_MERGE_LIST", out}});
  EXPECT_EQ(read_array<uint32_t>(out).data, (U32{7, 5, 9, 2}));
  // Without output keywords the function value is the label image.
  EXPECT_EQ(read_array<uint16_t>(call({lev, img})).dims, (std::vector<int64_t>{4, 4}));
}

// ---- refusals ---------------------------------------------------------------

// A checkerboard of 400 x 400: 79202 single-pixel minima, so 16-bit labels
// stop at 65530 while LONG ones go on; its working arrays are large enough to
// be mapped on pages of their own, where a read before one of them faults.
TEST_F(Watershed, SixteenBitLabelsStopAt65530AndLongLabelsGoOn) {
  const int64_t side = 400;
  std::vector<uint16_t> lv;
  for (int64_t r = 0; r < side; ++r)
    for (int64_t c = 0; c < side; ++c) lv.push_back((r + c) % 2);
  QEL_VPTR lev = levels(lv, side, side), img = zero_image(side, side);
  QEL_VPTR maxl = vars.undefined("maxl");
  const auto narrow = read_array<uint16_t>(call({lev, img}, {{"MAX_REGION_LABEL", maxl}})).data;
  EXPECT_EQ(read_scalar<uint32_t>(maxl), 79202u);
  EXPECT_EQ(*std::max_element(narrow.begin(), narrow.end()), 65530);
  const auto wide = read_array<uint32_t>(call({lev, img}, {{"LONG", vars.lng("l", 1)}})).data;
  EXPECT_EQ(*std::max_element(wide.begin(), wide.end()), 79202u);
}

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
  refused({lev, img}, {{"CONNECTIVITY", vars.lng("c", 6)}, {"MASK", int_mask}},
          "KAVU_MBLK_SEGMENT_KEYWORD_BADVAL",
          "Bad keyword value for CONNECTIVITY. Must be 4 or 8.");
  refused({lev, img}, {{"MASK", scalar}}, na, s_not_array);
  refused({lev, img}, {{"MASK", int_mask}, {"MARGIN_HLBL", short_h}}, badtype,
          "The type of MASK needs to be type BYTE.");
  refused({lev, img}, {{"MASK", vars.array("mask", std::vector<uint8_t>(20, 1), {20})}}, not_2d,
          "MASK needs to be 2D.");
  refused({lev, img}, {{"MASK", vars.array("mask", std::vector<uint8_t>(20, 1), {4, 5})}}, dims,
          "The first 2 dimensions of LEVELS and MASK do not match.");
  refused({lev, img}, {{"MARGIN_HLBL", vars.array<int32_t>("h", {1, 2, 3, 4, 5}, {5})}}, badtype,
          "The type of MARGIN_HLBL needs to be type ULONG.");
  refused({lev, img}, {{"MARGIN_HLBL", vars.array("h", U32(10, 1), {5, 2})}}, vector,
          "MARGIN_HLBL needs to be a vector.");
  refused({lev, img}, {{"MARGIN_HLBL", short_h}, {"MARGIN_VLBL", scalar}}, less,
          "The dimension of MARGIN_HLBL needs to be equal to or larger than the X dimension of "
          "LEVELS.");
  refused({lev, img}, {{"MARGIN_VLBL", vars.array<uint16_t>("vl", {1, 2, 3, 4}, {4})}}, badtype,
          "The type of MARGIN_VLBL needs to be type ULONG.");
  refused({lev, img}, {{"MARGIN_VLBL", vars.array("vl", U32(4, 1), {1, 4})}}, vector,
          "MARGIN_VLBL needs to be a vector.");
  refused(
      {lev, img},
      {{"MARGIN_VLBL", vars.array<uint32_t>("vl", {1, 2, 3}, {3})}, {"IN_MERGE_LIST", long_list}},
      less,
      "The dimension of MARGIN_VLBL needs to be equal to or larger than the Y dimension of "
      "LEVELS.");
  refused({lev, img}, {{"IN_MERGE_LIST", long_list}}, badtype,
          "The type of IN_MERGE_LIST needs to be type ULONG.");
  // Pixel indices travel through the flooding queue as 32-bit values: an image
  // that claims 2^31 pixels (over borrowed one-pixel buffers) is refused unread.
  uint16_t level = 0;
  float value = 0;
  refused({vars.add(qelhost::make_array("lev", QEL_TYP_UINT, {65536, 32768}, &level, true)),
           vars.add(qelhost::make_array("img", QEL_TYP_FLOAT, {65536, 32768}, &value, true))},
          {}, "KAVU_MBLK_SEGMENT_ERROR", "Error: LEV needs fewer than 2147483648 pixels.");
}

}  // namespace
