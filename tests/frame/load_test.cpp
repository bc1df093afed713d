// Loading the module into the embedded host, with the host refusing each step.
#include "qelhost.h"
#include "test_controls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Starts from a host without routines, whatever earlier tests registered.
int load_with(const qelhost::Refusals &r) {
  qelhost::shutdown();
  qelhost::take_warnings();
  qelhost::set_refusals(r);
  const int result = qelhost::load_module(KAVU_MODULE_PATH);
  qelhost::set_refusals({});
  return result;
}

TEST(Load, RefusedMessageBlockRegistersNothing) {
  qelhost::Refusals r;
  r.message_block = true;
  EXPECT_EQ(load_with(r), 0);
  EXPECT_TRUE(qelhost::routines().empty());
  EXPECT_TRUE(qelhost::take_warnings().empty());
}

TEST(Load, RegistersTenFunctionsWithTheirArgumentCounts) {
  ASSERT_EQ(load_with({}), 1);
  std::string names;
  for (const auto &r : qelhost::routines())
    names += r.name + " " + std::to_string(r.arg_min) + std::to_string(r.arg_max) +
             (r.flags ? "k " : " ");
  EXPECT_EQ(names,
            "KAVU_WATERSHED 22k KAVU_SEGMENT_GET_NBRINFO 22k KAVU_TILE_LAMBDA_SEGMENT 22k "
            "KAVU_ITER_LAMBDA_SEGMENT 11k KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE 33 "
            "KAVU_COMPUTE_REG_INFO 22k KAVU_CREATE_BOUND_FROM_LABEL 22 KAVU_CREATE_INCREASING 11k "
            "KAVU_MULTILEVEL_LABEL_REGION 22k KAVU_REPLACE_INTEGER_DATA 33 ");
}

}  // namespace
