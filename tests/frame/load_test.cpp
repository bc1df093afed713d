// Loading the module into the embedded host, with the host refusing each step.
#include "frame/keywords.h"
#include "frame/messages.h"
#include "frame/routines.h"
#include "qelhost.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
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

TEST(Load, RefusedRoutineTableIsReportedOnceAndStillLoads) {
  qelhost::Refusals r;
  r.routine_table = true;
  EXPECT_EQ(load_with(r), 1);
  EXPECT_TRUE(qelhost::routines().empty());
  const auto warnings = qelhost::take_warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].name, "KAVU_MBLK_SEGMENT_ERROR");
  EXPECT_NE(warnings[0].text.find("Error: Unable to initialize kavu_segmentation."), std::string::npos)
      << warnings[0].text;
}

TEST(Load, RegistersTenFunctionsInTableOrder) {
  ASSERT_EQ(load_with({}), 1);
  const auto routines = qelhost::routines();
  ASSERT_EQ(routines.size(), 10u);
  const char *without_keywords[] = {"KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE",
                                    "KAVU_CREATE_BOUND_FROM_LABEL", "KAVU_REPLACE_INTEGER_DATA"};
  for (size_t i = 0; i < routines.size(); ++i) {
    const auto &r = routines[i];
    EXPECT_EQ(r.name, segmentation_functions[i].name);
    EXPECT_EQ(r.name.rfind("KAVU_", 0), 0u);
    for (char c : r.name) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << r.name;
    EXPECT_TRUE(r.is_function);
    EXPECT_EQ(r.arg_min, r.arg_max);
    bool keywordless = false;
    for (const char *name : without_keywords) keywordless |= r.name == name;
    EXPECT_EQ(r.flags, keywordless ? 0 : QEL_SYSFUN_DEF_F_KEYWORDS) << r.name;
  }
}

// The host looks keywords up by name; a table out of order or without its end
// entry would make it miss keywords or read past the table.
TEST(KeywordTables, SortedAndTerminated) {
  const QEL_KW_PAR *tables[] = {watershed_kw_pars,         segment_get_nbrinfo_kw_pars,
                                tile_lambda_segment_kw_pars, iter_lambda_segment_kw_pars,
                                compute_reg_info_kw_pars,  create_increasing_kw_pars,
                                multilevel_label_region_kw_pars};
  for (const QEL_KW_PAR *t : tables) {
    int n = 0;
    for (; t[n].keyword; ++n) {
      EXPECT_EQ(t[n].mask, 1);
      EXPECT_GT(t[n].value, 0) << t[n].keyword;
      if (n > 0) {
        EXPECT_LT(std::strcmp(t[n - 1].keyword, t[n].keyword), 0) << t[n].keyword;
      }
    }
    EXPECT_GT(n, 0);
    EXPECT_EQ(t[n].value, 0);
  }
}

TEST(MessageCatalogue, EveryTextStartsWithTheRoutineDirective) {
  for (const QEL_MSG_DEF &m : msg_arr) {
    EXPECT_EQ(std::string(m.format).rfind("%N ", 0), 0u) << m.name;
    EXPECT_EQ(std::string(m.name).rfind("KAVU_MBLK_SEGMENT_", 0), 0u);
  }
  EXPECT_STREQ(msg_arr[0].name, "KAVU_MBLK_SEGMENT_ERROR");
  EXPECT_STREQ(msg_arr[17].name, "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND");
}

}  // namespace
