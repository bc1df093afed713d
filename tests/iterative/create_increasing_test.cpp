// KAVU_CREATE_INCREASING through the embedded host against a running maximum.
#include "host_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;

const char *const kRoutine = "KAVU_CREATE_INCREASING";
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Flags {
  std::vector<uint8_t> flags;
  int32_t count = -1;
};

// Flags every element below the largest kept value before it; comparisons with
// NaN are false, so a NaN is flagged and a NaN maximum flags the rest.
Flags reference_flags(const std::vector<float> &v) {
  Flags f;
  f.flags.assign(v.size(), 0);
  f.count = 0;
  float m = v[0];
  for (size_t i = 1; i < v.size(); ++i) {
    if (!(v[i] >= m)) {
      f.flags[i] = 1;
      ++f.count;
    } else {
      m = v[i];
    }
  }
  return f;
}

class CreateIncreasing : public kavu_test::RoutineTest {
 protected:
  template <typename T = float>
  Flags run(const std::vector<T> &v) {
    QEL_VPTR in = vars.array("v", v, {int64_t(v.size())});
    QEL_VPTR flags = vars.undefined("flags");
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {in}, {{"BAD_FLAGS", flags}});
    Flags f;
    if (!value) return f;
    const auto a = read_array<uint8_t>(flags);
    EXPECT_EQ(a.dims, (std::vector<int64_t>{int64_t(v.size())}));
    f.flags = a.data;
    f.count = read_scalar<int32_t>(value);
    return f;
  }
};

TEST_F(CreateIncreasing, RandomSequencesMatchARunningMaximum) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int> length(1, 2000);
  std::normal_distribution<float> step(0.5f, 2.0f);
  std::bernoulli_distribution nan(0.01);
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<float> v(length(rng));
    float x = 0;
    for (float &e : v) {
      x += step(rng);
      e = trial % 3 == 0 && nan(rng) ? kNaN : x;
    }
    const Flags expected = reference_flags(v);
    const Flags got = run(v);
    ASSERT_EQ(got.flags, expected.flags) << "trial " << trial;
    ASSERT_EQ(got.count, expected.count);
  }
}

TEST_F(CreateIncreasing, RefusesAnythingButAVector) {
  QEL_VPTR m = vars.array<float>("m", {1, 2, 3, 4}, {2, 2});
  kavu_test::expect_error(kRoutine, {m}, {}, "KAVU_MBLK_SEGMENT_NOT_VECTOR",
                          "KAVU_CREATE_INCREASING: argv[0] needs to be a vector.");
  QEL_VPTR s = vars.dbl("s", 1.0);
  kavu_test::expect_error(kRoutine, {s}, {}, "QEL_M_NOTARRAY",
                          "KAVU_CREATE_INCREASING: Expression must be an array in this context: S.");
}

}  // namespace
