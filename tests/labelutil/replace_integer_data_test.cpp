// KAVU_REPLACE_INTEGER_DATA through the embedded host against a std::unordered_map
// lookup, and its worker's failure paths.
#include "host_session.h"
#include "random_images.h"

#include <gtest/gtest.h>

#include <unordered_map>

namespace {

using kavu_test::read_array;
using labelutil_test::Shape;

const char *const kRoutine = "KAVU_REPLACE_INTEGER_DATA";

// Pairs applied to the input values only; a later pair of the same old value wins.
std::vector<uint32_t> reference_replace(const std::vector<uint32_t> &data,
                                        const std::vector<uint32_t> &old_values,
                                        const std::vector<uint32_t> &new_values) {
  std::unordered_map<uint32_t, uint32_t> map;
  for (size_t j = 0; j < old_values.size(); ++j) map[old_values[j]] = new_values[j];
  std::vector<uint32_t> out = data;
  for (uint32_t &v : out)
    if (auto it = map.find(v); it != map.end()) v = it->second;
  return out;
}

using ReplaceIntegerData = kavu_test::RoutineTest;

TEST_F(ReplaceIntegerData, RandomPairsMatchAMapLookup) {
  std::mt19937 rng(1207);
  for (const Shape &s : labelutil_test::test_shapes(rng, 15)) {
    for (uint32_t n_values : {1u, 3u, 50u, 100000u}) {
      const auto data = labelutil_test::random_labels(rng, s, n_values, n_values == 3 ? 0 : 1000);
      std::uniform_int_distribution<int> n_pairs_dist(1, 60);
      std::uniform_int_distribution<uint32_t> from_data(0, uint32_t(data.size() - 1));
      std::uniform_int_distribution<uint32_t> any(0, 4294967293u);
      std::vector<uint32_t> old_values, new_values;
      for (int j = n_pairs_dist(rng); j > 0; --j) {
        // Mostly values that occur (often repeated, often chained), some absent.
        old_values.push_back(j % 5 == 0 ? any(rng) : data[from_data(rng)]);
        new_values.push_back(j % 3 == 0 ? data[from_data(rng)] : any(rng));
      }
      QEL_VPTR got =
          kavu_test::call_ok(vars, kRoutine,
                             {vars.array("data", data, s.dims()),
                              vars.array("old", old_values, {int64_t(old_values.size())}),
                              vars.array("new", new_values, {int64_t(new_values.size())})});
      ASSERT_EQ(read_array<uint32_t>(got).data, reference_replace(data, old_values, new_values))
          << s.ncols << "x" << s.nrows << " values " << n_values;
    }
  }
}

// Reserved values cannot be stored in the value table: refused, never misreplaced.
TEST_F(ReplaceIntegerData, RefusesFaultyArgumentsWithCatalogueMessages) {
  const auto refused = [](std::vector<QEL_VPTR> args, const std::string &name,
                          const std::string &text) {
    kavu_test::expect_error(kRoutine, args, {}, name, text);
  };
  uint32_t one = 0;
  QEL_VPTR three = vars.array<uint32_t>("old", {1, 2, 3}, {3}),
           one_value = vars.array<uint32_t>("old", {1}, {1}), s = vars.lng("scalar", 1);
  refused({three, three, vars.array<uint32_t>("new", {4, 5}, {2})},
          "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
          "The number of elements of NEW needs to be at least 3.");
  refused({vars.add(qelhost::make_array("data", QEL_TYP_ULONG, {715827883}, &one, true)), one_value,
           one_value},
          "KAVU_MBLK_SEGMENT_ERROR", "Error: DATA needs fewer than 715827883 pixels.");
  // Reserved values first and last.
  for (const auto &data :
       {std::vector<uint32_t>{0xFFFFFFFFu, 1, 2}, std::vector<uint32_t>{1, 2, 0xFFFFFFFEu}})
    refused({vars.array("data", data, {3}), one_value, one_value},
            "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND", "Hash key is not found.");
  for (const auto &args : std::vector<std::vector<QEL_VPTR>>{
           {s, one_value, one_value}, {one_value, s, one_value}, {one_value, one_value, s}})
    refused(args, "QEL_M_NOTARRAY", "Expression must be an array in this context: SCALAR.");
}

}  // namespace
