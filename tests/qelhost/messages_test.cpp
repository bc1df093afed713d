// Messages: "%N" expansion, printf arguments, abort versus print-and-return,
// the host's own variable errors, and message blocks.
#include "fake_module.h"
#include "host_session.h"

namespace {

using Messages = fake::HostTest;

TEST_F(Messages, RoutinePrefixReplacesDirectiveAndItsSpace) {
  kavu_test::Vars vars;
  fake::body = [](int, QEL_VPTR *, QEL_KW_ARGS *) -> QEL_VPTR {
    QEL_MessageFromBlock(fake::block, fake::kCount, QEL_MSG_ABORT, 12, "levels");
    return nullptr;
  };
  const auto e = fake::call_error("fake_run", {});
  EXPECT_EQ(e.name, "FAKE_M_COUNT");
  EXPECT_EQ(e.routine, "FAKE_RUN");
  EXPECT_EQ(e.text, "FAKE_RUN: Counted 12 of levels (100%).");
}

TEST_F(Messages, PrintAndReturnIsAWarningAndTheCallGoesOn) {
  fake::body = [](int, QEL_VPTR *, QEL_KW_ARGS *) {
    QEL_MessageFromBlock(fake::block, fake::kError, QEL_MSG_RET, "first");
    QEL_MessageFromBlock(fake::block, fake::kNot2d, QEL_MSG_RET, "mask");
    return QEL_GettmpLong(3);
  };
  QEL_VPTR result = qelhost::call("FAKE_RUN", {});
  EXPECT_EQ(kavu_test::read_scalar<int32_t>(result), 3);
  qelhost::release(result);
  const auto warnings = qelhost::take_warnings();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].name, "FAKE_M_ERROR");
  EXPECT_EQ(warnings[0].routine, "FAKE_RUN");
  EXPECT_EQ(warnings[0].text, "FAKE_RUN: Error: first.");
  EXPECT_EQ(warnings[1].text, "FAKE_RUN: mask needs to be 2D.");
  EXPECT_TRUE(qelhost::take_warnings().empty());
}

TEST_F(Messages, OutsideACallTheDirectiveIsEmpty) {
  QEL_MessageFromBlock(fake::block, fake::kError, QEL_MSG_RET, "Unable to initialize");
  const auto warnings = qelhost::take_warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].text, "Error: Unable to initialize.");
  EXPECT_EQ(warnings[0].routine, "");
}

TEST_F(Messages, HostErrorsNameTheVariable) {
  kavu_test::Vars vars;
  QEL_VPTR levels = vars.lng("levels", 1);
  const struct {
    void (*issue)(QEL_VPTR, int);
    const char *name, *text;
  } cases[] = {
      {QEL_MessageVE_NOTARRAY, "QEL_M_NOTARRAY",
       "FAKE_PLAIN: Expression must be an array in this context: LEVELS."},
      {QEL_MessageVE_NOTSCALAR, "QEL_M_NOTSCALAR",
       "FAKE_PLAIN: Expression must be a scalar in this context: LEVELS."},
      {QEL_MessageVE_REQSTR, "QEL_M_REQSTR",
       "FAKE_PLAIN: String expression required in this context: LEVELS."},
  };
  for (const auto &c : cases) {
    fake::body = [&c](int, QEL_VPTR *argv, QEL_KW_ARGS *) -> QEL_VPTR {
      c.issue(argv[0], QEL_MSG_ABORT);
      return nullptr;
    };
    const auto e = fake::call_error("FAKE_PLAIN", {levels});
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.text, c.text);
  }
  fake::body = [](int, QEL_VPTR *, QEL_KW_ARGS *) -> QEL_VPTR {
    QEL_VPTR tmp = QEL_GettmpLong(0);
    QEL_MessageVE_NOTARRAY(tmp, QEL_MSG_ABORT);
    return nullptr;
  };
  EXPECT_EQ(fake::call_error("FAKE_PLAIN", {levels}).text,
            "FAKE_PLAIN: Expression must be an array in this context: <Expression>.");
}

TEST_F(Messages, CodeOutsideTheBlockIsAHostError) {
  fake::body = [](int, QEL_VPTR *, QEL_KW_ARGS *) -> QEL_VPTR {
    QEL_MessageFromBlock(fake::block, -3, QEL_MSG_RET);
    return nullptr;
  };
  const auto e = fake::call_error("FAKE_RUN", {});
  EXPECT_EQ(e.name, "QEL_M_BADMSGCODE");
  EXPECT_EQ(e.text, "FAKE_RUN: No message -3 in this message block.");
}

TEST_F(Messages, BlockIsCopiedAndRedefiningKeepsTheHandle) {
  std::string name = "COPY_MSG", format = "%N Gone %s.";
  QEL_MSG_DEF defs[] = {{"COPY_M_GONE", format.c_str()}};
  QEL_MSG_BLOCK first = QEL_MessageDefineBlock(name.c_str(), 1, defs);
  format = "overwritten";
  QEL_MessageFromBlock(first, 0, QEL_MSG_RET, "x");
  EXPECT_EQ(qelhost::take_warnings().at(0).text, "Gone x.");
  format = "%N Back %s.";
  defs[0].format = format.c_str();
  EXPECT_EQ(QEL_MessageDefineBlock("COPY_MSG", 1, defs), first);
  QEL_MessageFromBlock(first, 0, QEL_MSG_RET, "y");
  EXPECT_EQ(qelhost::take_warnings().at(0).text, "Back y.");
}

TEST_F(Messages, RefusedBlockIsNull) {
  qelhost::Refusals r;
  r.message_block = true;
  qelhost::set_refusals(r);
  EXPECT_EQ(QEL_MessageDefineBlock("FAKE_MSG", 3, fake::kMessages), nullptr);
}

}  // namespace
