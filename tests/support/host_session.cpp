// Module loading and call helpers for tests that go through the embedded host.
#include "host_session.h"

#include <algorithm>

// Test programs that link the module statically have its QEL_Load; the others
// load the built module file.
extern "C" int QEL_Load() __attribute__((weak));

namespace kavu_test {

void ensure_module_loaded() {
  if (QEL_Load) {
    // Registered again every time: a test may have loaded the module file since,
    // and routine tests must reach the linked copy (its allocation layer).
    ASSERT_EQ(qelhost::load_linked_module(QEL_Load), 1) << "QEL_Load of the linked module";
    return;
  }
  const auto names = qelhost::routine_names();
  if (std::find(names.begin(), names.end(), "KAVU_WATERSHED") != names.end()) return;
  ASSERT_EQ(qelhost::load_module(KAVU_MODULE_PATH), 1) << "QEL_Load of " << KAVU_MODULE_PATH;
}

Vars::~Vars() {
  for (QEL_VPTR v : vars_) qelhost::release(v);
}

QEL_VPTR Vars::add(QEL_VPTR v) {
  vars_.push_back(v);
  return v;
}

QEL_VPTR call_ok(Vars &vars, const std::string &routine, const std::vector<QEL_VPTR> &args,
                 const std::vector<qelhost::Keyword> &keywords) {
  try {
    return vars.add(qelhost::call(routine, args, keywords));
  } catch (const qelhost::Error &e) {
    ADD_FAILURE() << routine << " aborted with " << e.name << ": " << e.text;
    return nullptr;
  }
}

void expect_error(const std::string &routine, const std::vector<QEL_VPTR> &args,
                  const std::vector<qelhost::Keyword> &keywords, const std::string &name,
                  const std::string &text) {
  const int64_t temporaries_before = qelhost::live_temporaries();
  try {
    QEL_VPTR result = qelhost::call(routine, args, keywords);
    qelhost::release(result);
    ADD_FAILURE() << routine << " returned instead of aborting with " << name;
  } catch (const qelhost::Error &e) {
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(e.text, routine + ": " + text);
    EXPECT_EQ(e.routine, routine);
  }
  EXPECT_EQ(qelhost::live_temporaries(), temporaries_before) << "temporaries left by the abort";
}

void RoutineTest::SetUp() {
  ensure_module_loaded();
  qelhost::take_warnings();
}

void RoutineTest::TearDown() {
  EXPECT_EQ(qelhost::live_temporaries(), 0) << "temporaries left behind by the test's calls";
}

}  // namespace kavu_test
