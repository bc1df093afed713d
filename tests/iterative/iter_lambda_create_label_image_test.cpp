// KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE through the host: label maps the schedule
// would not produce and argument checks (schedule prefixes are replayed against
// the tiled mode in python/tests/test_routines.py).
#include "host_session.h"

using kavu_test::read_array;
using kavu_test::RoutineTest;

namespace {

const std::string kRoutine = "KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE";

class CreateLabelImage : public RoutineTest {
 protected:
  std::vector<uint32_t> run(const std::vector<uint32_t> &labels, const std::vector<int64_t> &dims,
                            const std::vector<uint32_t> &label_map) {
    QEL_VPTR out = vars.undefined("out");
    kavu_test::call_ok(vars, kRoutine,
                       {vars.array("lbl", labels, dims),
                        vars.array("map", label_map, {int64_t(label_map.size())}), out});
    const auto image = read_array<uint32_t>(out);
    EXPECT_EQ(image.dims, dims);
    return image.data;
  }
};

// 3 x 2, labels at positions equal to themselves (8 positions).
const std::vector<uint32_t> kLabels = {0, 0, 1, 2, 3, 3};
const std::vector<int64_t> kDims = {3, 2};

TEST_F(CreateLabelImage, PairsTheScheduleCouldNotMakeAreSkipped) {
  const std::vector<uint32_t> expect = {0, 0, 0, 1, 1, 1};  // {0, 1} and {2, 3}
  // A label not in the image, as absorbed or as survivor.
  EXPECT_EQ(run(kLabels, kDims, {1, 0, 77, 2, 3, 2, 2, 77}), expect);
  // An absorbed label absorbed again, into another region.
  EXPECT_EQ(run(kLabels, kDims, {1, 0, 3, 2, 1, 2}), expect);
  // A survivor that was absorbed already (its list moved away).
  EXPECT_EQ(run(kLabels, kDims, {1, 0, 3, 2, 2, 1}), expect);
}

TEST_F(CreateLabelImage, ArgumentChecks) {
  QEL_VPTR lbl = vars.array<uint32_t>("lbl", kLabels, kDims);
  QEL_VPTR map = vars.array<uint32_t>("map", {1, 0}, {2});
  QEL_VPTR out = vars.undefined("out");
  auto refused = [&](std::vector<QEL_VPTR> args, const std::string &name, const std::string &text) {
    kavu_test::expect_error(kRoutine, args, {}, name, text);
  };
  refused({vars.ulng("s", 1), map, out}, "QEL_M_NOTARRAY",
          "Expression must be an array in this context: S.");
  refused({vars.array<int32_t>("l32", {0, 1}, {1, 2}), map, out},
          "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
          "The type of the 1st argument needs to be type ULONG.");
  refused({vars.array<uint32_t>("l1", {0, 1}, {2}), map, out}, "KAVU_MBLK_SEGMENT_NOT_2D",
          "the 1st argument needs to be 2D.");
  refused({lbl, vars.ulng("s", 1), out}, "QEL_M_NOTARRAY",
          "Expression must be an array in this context: S.");
  refused({lbl, vars.array<int32_t>("m32", {1, 0}, {2}), out}, "KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE",
          "The type of the 2nd argument needs to be type ULONG.");
  refused({vars.array<uint32_t>("r", {0, 0xFFFFFFFEu}, {1, 2}), map, out},
          "KAVU_MBLK_SEGMENT_ERROR",
          "Error: the 1st argument holds label 4294967294, which is reserved.");
  uint32_t label = 0;  // 2^31 pixels over a borrowed one-pixel buffer: refused unread
  refused(
      {vars.add(qelhost::make_array("lab", QEL_TYP_ULONG, {65536, 32768}, &label, true)), map, out},
      "KAVU_MBLK_SEGMENT_ERROR", "Error: the 1st argument needs fewer than 2147483648 pixels.");
}

}  // namespace
