// KAVU_CREATE_INCREASING through the embedded host: flags and count on cases
// worked out by hand (NaN compares false, integers compare as converted
// floats), and the refusals.
#include "host_session.h"

#include <algorithm>
#include <limits>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using CreateIncreasing = kavu_test::RoutineTest;

const char *const kRoutine = "KAVU_CREATE_INCREASING";
const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST_F(CreateIncreasing, FlagsEveryElementBelowTheLargestKeptOneBeforeIt) {
  const struct {
    std::vector<float> values;
    std::vector<uint8_t> flags;
  } cases[] = {
      {{1, 3, 2, 3, 5, 4}, {0, 0, 1, 0, 0, 1}},
      {{42}, {0}},
      {{2, 2, 2}, {0, 0, 0}},
      {{5, 1, 2, 3, 5}, {0, 1, 1, 1, 0}},  // a flagged element never becomes the maximum
      {{1, kNaN, 0.5f, 2}, {0, 1, 1, 0}},
      {{kNaN, -1, 0, 1e30f}, {0, 1, 1, 1}},
  };
  for (const auto &c : cases) {
    QEL_VPTR flags = vars.undefined("flags");
    QEL_VPTR value =
        kavu_test::call_ok(vars, kRoutine, {vars.array("v", c.values, {int64_t(c.values.size())})},
                           {{"BAD_FLAGS", flags}});
    EXPECT_EQ(read_array<uint8_t>(flags).data, c.flags);
    EXPECT_EQ(read_scalar<int32_t>(value), std::count(c.flags.begin(), c.flags.end(), 1));
  }
  // Integers are converted to FLOAT first: 16777217 rounds to 16777216.
  QEL_VPTR flags = vars.undefined("flags");
  kavu_test::call_ok(vars, kRoutine, {vars.array<int32_t>("v", {16777216, 16777217, 3}, {3})},
                     {{"BAD_FLAGS", flags}});
  EXPECT_EQ(read_array<uint8_t>(flags).data, (std::vector<uint8_t>{0, 0, 1}));
}

TEST_F(CreateIncreasing, RefusesAnythingButAVector) {
  kavu_test::expect_error(kRoutine, {vars.array<float>("m", {1, 2, 3, 4}, {2, 2})}, {},
                          "KAVU_MBLK_SEGMENT_NOT_VECTOR", "argv[0] needs to be a vector.");
  kavu_test::expect_error(kRoutine, {vars.dbl("s", 1.0)}, {}, "QEL_M_NOTARRAY",
                          "Expression must be an array in this context: S.");
}

}  // namespace
