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

class ReplaceIntegerData : public kavu_test::RoutineTest {
 protected:
  template <typename T = uint32_t>
  kavu_test::ArrayData<uint32_t> run(const std::vector<T> &data, const std::vector<int64_t> &dims,
                                     const std::vector<uint32_t> &old_values,
                                     const std::vector<uint32_t> &new_values,
                                     const std::vector<int64_t> &pair_dims = {}) {
    QEL_VPTR d = vars.array("data", data, dims);
    const auto od =
        pair_dims.empty() ? std::vector<int64_t>{int64_t(old_values.size())} : pair_dims;
    QEL_VPTR o = vars.array("old", old_values, od);
    QEL_VPTR n = vars.array("new", new_values, {int64_t(new_values.size())});
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {d, o, n});
    if (!value) return {};
    return read_array<uint32_t>(value);
  }
};

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
      const auto got = run(data, s.dims(), old_values, new_values);
      ASSERT_EQ(got.data, reference_replace(data, old_values, new_values))
          << s.ncols << "x" << s.nrows << " values " << n_values;
    }
  }
}

// Reserved values cannot be stored in the value table: refused, never misreplaced.
TEST_F(ReplaceIntegerData, RefusesFaultyArgumentsWithCatalogueMessages) {
  uint32_t one = 0;
  QEL_VPTR three = vars.array<uint32_t>("old", {1, 2, 3}, {3}),
           one_value = vars.array<uint32_t>("old", {1}, {1});
  QEL_VPTR s = vars.lng("scalar", 1);
  const std::string not_array = "Expression must be an array in this context: SCALAR.";
  const struct {
    std::vector<QEL_VPTR> args;
    std::string name, text;
  } cases[] = {
      {{three, three, vars.array<uint32_t>("new", {4, 5}, {2})},
       "KAVU_MBLK_SEGMENT_NOT_MEET_MINV",
       "The number of elements of NEW needs to be at least 3."},
      {{vars.add(qelhost::make_array("data", QEL_TYP_ULONG, {715827883}, &one, true)), one_value,
        one_value},
       "KAVU_MBLK_SEGMENT_ERROR",
       "Error: DATA needs fewer than 715827883 pixels."},
      {{vars.array<uint32_t>("data", {0xFFFFFFFFu, 1, 2}, {3}), one_value, one_value},
       "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND",
       "Hash key is not found."},
      {{vars.array<uint32_t>("data", {1, 2, 0xFFFFFFFEu}, {3}), one_value, one_value},
       "KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND",
       "Hash key is not found."},
      {{s, one_value, one_value}, "QEL_M_NOTARRAY", not_array},
      {{one_value, s, one_value}, "QEL_M_NOTARRAY", not_array},
      {{one_value, one_value, s}, "QEL_M_NOTARRAY", not_array},
  };
  for (const auto &c : cases)
    kavu_test::expect_error(kRoutine, c.args, {}, c.name, std::string(kRoutine) + ": " + c.text);
}

}  // namespace
