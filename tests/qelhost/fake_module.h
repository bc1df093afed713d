// A tiny module that the host tests register directly: one message block and a
// few routines whose bodies each test supplies, so that every host path
// (aborts, keywords, results, leaks) can be driven from a test.
#pragma once

#include "qelhost.h"

#include <gtest/gtest.h>

#include <functional>

namespace fake {

enum Message { kError = 0, kNot2d = -1, kCount = -2 };

inline const QEL_MSG_DEF kMessages[] = {
    {"FAKE_M_ERROR", "%N Error: %s."},
    {"FAKE_M_NOT_2D", "%N %s needs to be 2D."},
    {"FAKE_M_COUNT", "%N Counted %d of %s (100%%)."},
};

inline QEL_MSG_BLOCK block = nullptr;

// The body that FAKE_RUN and FAKE_PAIR execute; set by each test.
using Body = std::function<QEL_VPTR(int, QEL_VPTR *, QEL_KW_ARGS *)>;
inline Body body;

inline QEL_VPTR run(int argc, QEL_VPTR *argv, QEL_KW_ARGS *argk) { return body(argc, argv, argk); }

inline const QEL_SYSFUN_DEF kRoutines[] = {
    {run, "FAKE_RUN", 0, 3, QEL_SYSFUN_DEF_F_KEYWORDS},
    {run, "FAKE_PAIR", 2, 2, QEL_SYSFUN_DEF_F_KEYWORDS},
    {run, "FAKE_PLAIN", 1, 1, 0},
};

// Registers the fake module; checks that the previous test left no temporaries.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qelhost::set_refusals({});
    block = QEL_MessageDefineBlock("FAKE_MSG", 3, kMessages);
    ASSERT_NE(block, nullptr);
    ASSERT_NE(QEL_SysRtnAdd(kRoutines, 1, 3), 0);
    qelhost::take_warnings();
    body = [](int, QEL_VPTR *, QEL_KW_ARGS *) { return QEL_GettmpLong(0); };
  }
  void TearDown() override {
    qelhost::set_refusals({});
    EXPECT_EQ(qelhost::live_temporaries(), 0);
  }
};

// The caught error of a call that must abort (empty fields when it returns).
inline qelhost::Error call_error(const std::string &routine, const std::vector<QEL_VPTR> &args,
                                 const std::vector<qelhost::Keyword> &keywords = {}) {
  try {
    qelhost::release(qelhost::call(routine, args, keywords));
  } catch (const qelhost::Error &e) {
    return e;
  }
  ADD_FAILURE() << routine << " returned instead of aborting";
  return qelhost::Error("", "", "");
}

}  // namespace fake
