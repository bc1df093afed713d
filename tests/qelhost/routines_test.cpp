// Routine registration and the call boundary: lookup, argument counts, refused
// tables, module loading errors and exit handlers.
#include "fake_module.h"
#include "host_session.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using Routines = fake::HostTest;

TEST_F(Routines, RegisteredInOrderWithTheirLimits) {
  const auto all = qelhost::routines();
  std::vector<qelhost::RoutineInfo> fakes;
  for (const auto &r : all)
    if (r.name.rfind("FAKE_", 0) == 0) fakes.push_back(r);
  ASSERT_EQ(fakes.size(), 3u);
  EXPECT_EQ(fakes[1].name, "FAKE_PAIR");
  EXPECT_EQ(fakes[1].arg_min, 2);
  EXPECT_EQ(fakes[1].arg_max, 2);
  EXPECT_EQ(fakes[2].flags, 0);
  EXPECT_TRUE(fakes[2].is_function);
}

TEST_F(Routines, ArgumentCountOutsideTheLimitsIsRefused) {
  kavu_test::Vars vars;
  bool ran = false;
  fake::body = [&ran](int, QEL_VPTR *, QEL_KW_ARGS *) {
    ran = true;
    return QEL_GettmpLong(0);
  };
  const auto e = fake::call_error("FAKE_PAIR", {vars.lng("a", 1)});
  EXPECT_EQ(e.name, "QEL_M_NARGS");
  EXPECT_EQ(e.text, "FAKE_PAIR: Incorrect number of arguments.");
  EXPECT_FALSE(ran);
}

TEST_F(Routines, UnknownRoutineAndNestedCall) {
  auto e = fake::call_error("NO_SUCH", {});
  EXPECT_EQ(e.name, "QEL_M_UNKNOWNROUTINE");
  EXPECT_EQ(e.text, "Function not found: NO_SUCH.");
  fake::body = [](int, QEL_VPTR *, QEL_KW_ARGS *) { return qelhost::call("FAKE_RUN", {}); };
  e = fake::call_error("FAKE_RUN", {});
  EXPECT_EQ(e.name, "QEL_M_NESTEDCALL");
}

TEST_F(Routines, RefusedTableRegistersNothing) {
  static const QEL_SYSFUN_DEF extra[] = {{fake::run, "FAKE_EXTRA", 0, 0, 0}};
  qelhost::Refusals r;
  r.routine_table = true;
  qelhost::set_refusals(r);
  EXPECT_EQ(QEL_SysRtnAdd(extra, 1, 1), 0);
  for (const auto &name : qelhost::routine_names()) EXPECT_NE(name, "FAKE_EXTRA");
}

TEST_F(Routines, MissingModuleFileIsAnError) {
  try {
    qelhost::load_module("/nonexistent/module.so");
    ADD_FAILURE() << "loaded a missing file";
  } catch (const qelhost::Error &e) {
    EXPECT_EQ(e.name, "QEL_M_LOADMODULE");
    EXPECT_NE(e.text.find("/nonexistent/module.so"), std::string::npos);
  }
}

TEST_F(Routines, CallsFromSeveralThreadsRunOneAtATime) {
  fake::body = [](int, QEL_VPTR *argv, QEL_KW_ARGS *) -> QEL_VPTR {
    QEL_VPTR copy = QEL_VarTypeConvert(argv[0], QEL_TYP_DOUBLE);
    if (argv[0]->value.arr->data[0] % 2)
      QEL_MessageFromBlock(fake::block, fake::kNot2d, QEL_MSG_ABORT, "odd");
    QEL_Deltmp(copy);
    return QEL_GettmpLong(1);
  };
  std::vector<std::thread> threads;
  std::atomic<int> aborted{0}, returned{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        QEL_VPTR arg = qelhost::make_array("a", QEL_TYP_BYTE, {64}, nullptr);
        arg->value.arr->data[0] = static_cast<UCHAR>(i + t);
        try {
          qelhost::release(qelhost::call("FAKE_RUN", {arg}));
          ++returned;
        } catch (const qelhost::Error &) {
          ++aborted;
        }
        qelhost::release(arg);
      }
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(returned, 400);
  EXPECT_EQ(aborted, 400);
}

int exits = 0;
void count_exit() { ++exits; }

TEST_F(Routines, ShutdownRunsExitHandlersOnceAndForgetsRoutines) {
  exits = 0;
  QEL_ExitRegister(count_exit);
  QEL_ExitRegister(count_exit);  // a module loaded twice registers twice
  qelhost::shutdown();
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(qelhost::routine_names().empty());
  qelhost::shutdown();
  EXPECT_EQ(exits, 1);
}

void say_goodbye() { std::fputs("exit handler ran\n", stderr); }

TEST(RoutinesDeathTest, ExitHandlersRunAtProcessExitWithoutShutdown) {
  EXPECT_EXIT(
      {
        QEL_ExitRegister(say_goodbye);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "exit handler ran");
}

}  // namespace
