// Routine calls on several threads at once: each call gets the results, the
// messages and the clean-up of the same call made alone. Also the host's
// thread test under ThreadSanitizer (`make sanitize`).
#include "host_session.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

namespace {

using kavu_test::read_array;
using kavu_test::Vars;

// What one round of calls gives back: every output, and the text of each abort.
struct Round {
  std::vector<uint32_t> watershed, merge_list, labelling, replaced;
  std::vector<std::string> errors;
  bool operator==(const Round &) const = default;
};

std::string abort_text(const std::string &routine, const std::vector<QEL_VPTR> &args) {
  try {
    qelhost::release(qelhost::call(routine, args));
  } catch (const qelhost::Error &e) {
    return e.name + " " + e.text;
  }
  return "no abort";
}

Round round_of_calls(uint32_t seed) {
  const int64_t nx = 61 + seed % 7, ny = 47;
  std::mt19937 rng(seed);
  std::vector<uint16_t> levels(nx * ny);
  std::vector<float> image(nx * ny);
  std::vector<uint32_t> classes(nx * ny);
  for (int64_t i = 0; i < nx * ny; ++i) {
    levels[i] = static_cast<uint16_t>(rng() % 9);
    image[i] = static_cast<float>(rng() % 100);
    classes[i] = rng() % 3;
  }
  Vars vars;
  Round out;
  QEL_VPTR merges = vars.undefined("merges");
  QEL_VPTR labels = kavu_test::call_ok(
      vars, "KAVU_WATERSHED",
      {vars.array("levels", levels, {nx, ny}), vars.array("image", image, {nx, ny})},
      {{"LONG", vars.lng("long", 1)},
       {"MERGE_BD", vars.lng("merge_bd", 1)},
       {"OUT_MERGE_LIST", merges}});
  out.watershed = read_array<uint32_t>(labels).data;
  if (merges->flags & QEL_V_ARR) out.merge_list = read_array<uint32_t>(merges).data;
  QEL_VPTR regions = vars.undefined("regions");
  kavu_test::call_ok(vars, "KAVU_MULTILEVEL_LABEL_REGION",
                     {vars.array("classes", classes, {nx, ny}), regions});
  out.labelling = read_array<uint32_t>(regions).data;
  QEL_VPTR replaced = kavu_test::call_ok(vars, "KAVU_REPLACE_INTEGER_DATA",
                                         {regions, vars.array<uint32_t>("old", {1, 2, 3}, {3}),
                                          vars.array<uint32_t>("new", {3, 1, 2}, {3})});
  out.replaced = read_array<uint32_t>(replaced).data;
  out.errors = {
      abort_text("KAVU_WATERSHED", {vars.array<uint16_t>("flat", {0, 0, 0, 0}, {2, 2}), labels}),
      abort_text("KAVU_MULTILEVEL_LABEL_REGION",
                 {vars.array<uint32_t>("cube", {1, 2}, {1, 1, 2}), regions})};
  return out;
}

TEST(ConcurrentCalls, EachThreadGetsTheResultsAndMessagesOfItsCallsMadeAlone) {
  kavu_test::ensure_module_loaded();
  constexpr uint32_t kThreads = 4;
  std::vector<Round> alone;
  for (uint32_t t = 0; t < kThreads; ++t) alone.push_back(round_of_calls(t));
  EXPECT_NE(alone[0].errors[0].find("KAVU_WATERSHED: "), std::string::npos) << alone[0].errors[0];

  std::vector<std::thread> threads;
  std::vector<int> mismatches(kThreads, 0);
  for (uint32_t t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 25; ++k) mismatches[t] += !(round_of_calls(t) == alone[t]);
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

}  // namespace
