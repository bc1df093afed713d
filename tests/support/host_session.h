// Test helpers for routine tests that go through the embedded host: load the
// module once, build array variables from std::vector, read outputs back, and
// check that a call aborts with a given catalogue message.
#pragma once

#include "qelhost.h"
#include "test_controls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace kavu_test {

// Registers the module's routines with the host: the statically linked module
// when the test program links it, else the built module file (KAVU_MODULE_PATH),
// unless its routines are registered already. Works again after qelhost::shutdown().
void ensure_module_loaded();

// Host type code of a C++ element type.
template <typename T>
constexpr int type_code_of() {
  using std::is_same_v;
  constexpr int code = is_same_v<T, uint8_t>    ? QEL_TYP_BYTE
                       : is_same_v<T, int16_t>  ? QEL_TYP_INT
                       : is_same_v<T, int32_t>  ? QEL_TYP_LONG
                       : is_same_v<T, float>    ? QEL_TYP_FLOAT
                       : is_same_v<T, double>   ? QEL_TYP_DOUBLE
                       : is_same_v<T, uint16_t> ? QEL_TYP_UINT
                       : is_same_v<T, uint32_t> ? QEL_TYP_ULONG
                       : is_same_v<T, int64_t>  ? QEL_TYP_LONG64
                       : is_same_v<T, uint64_t> ? QEL_TYP_ULONG64
                                                : -1;
  static_assert(code != -1, "no host type for this element type");
  return code;
}

// Owns caller variables and releases them at scope end.
class Vars {
 public:
  Vars() = default;
  Vars(const Vars &) = delete;
  Vars &operator=(const Vars &) = delete;
  ~Vars();
  QEL_VPTR add(QEL_VPTR v);

  // An owned copy of `data` with dims[0] varying fastest.
  template <typename T>
  QEL_VPTR array(const std::string &name, const std::vector<T> &data,
                 const std::vector<int64_t> &dims) {
    return add(qelhost::make_array(name, type_code_of<T>(), dims, data.data()));
  }
  // An array of zeros.
  template <typename T>
  QEL_VPTR zeros(const std::string &name, const std::vector<int64_t> &dims) {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    return array(name, std::vector<T>(n), dims);
  }
  QEL_VPTR undefined(const std::string &name) { return add(qelhost::make_undefined(name)); }
  QEL_VPTR lng(const std::string &name, int32_t v) { return add(qelhost::make_long(name, v)); }
  QEL_VPTR ulng(const std::string &name, uint32_t v) { return add(qelhost::make_ulong(name, v)); }
  QEL_VPTR dbl(const std::string &name, double v) { return add(qelhost::make_double(name, v)); }
  QEL_VPTR str(const std::string &name, const std::string &v) {
    return add(qelhost::make_string(name, v));
  }

 private:
  std::vector<QEL_VPTR> vars_;
};

template <typename T>
struct ArrayData {
  std::vector<T> data;
  std::vector<int64_t> dims;
};

// The array's elements and dims; a gtest failure (and empty result) when the
// variable is not an array of T's type.
template <typename T>
ArrayData<T> read_array(QEL_VPTR v) {
  ArrayData<T> out;
  if (!v || !(v->flags & QEL_V_ARR)) {
    ADD_FAILURE() << "not an array variable";
    return out;
  }
  if (v->type != type_code_of<T>()) {
    ADD_FAILURE() << "array of type " << qelhost::type_name(v->type) << ", expected "
                  << qelhost::type_name(type_code_of<T>());
    return out;
  }
  const QEL_ARRAY *a = v->value.arr;
  const T *p = reinterpret_cast<const T *>(a->data);
  out.data.assign(p, p + a->n_elts);
  out.dims.assign(a->dims, a->dims + a->n_dim);
  return out;
}

// A scalar's value; a gtest failure (and 0) when the variable is not a scalar of T's type.
template <typename T>
T read_scalar(QEL_VPTR v) {
  if (!v || (v->flags & QEL_V_NOT_SCALAR) || v->type != type_code_of<T>()) {
    ADD_FAILURE() << "not a scalar of type " << qelhost::type_name(type_code_of<T>());
    return T{};
  }
  T value;
  std::memcpy(&value, &v->value, sizeof(T));
  return value;
}

// Calls a routine; a gtest failure naming the message when it aborts (result null).
// The function value is added to `vars`.
QEL_VPTR call_ok(Vars &vars, const std::string &routine, const std::vector<QEL_VPTR> &args,
                 const std::vector<qelhost::Keyword> &keywords = {});

// Expects the call to abort with message `name` and exactly "ROUTINE: `text`", and the host
// to hold no more temporaries afterwards than before.
void expect_error(const std::string &routine, const std::vector<QEL_VPTR> &args,
                  const std::vector<qelhost::Keyword> &keywords, const std::string &name,
                  const std::string &text);

// Fixture for routine tests: loads the module, drops stale warnings, and checks
// at the end that the test's calls left no temporary behind.
class RoutineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Vars vars;
};

}  // namespace kavu_test
