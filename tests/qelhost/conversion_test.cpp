// Numeric conversions between every pair of host types, checked against a
// clamping formula evaluated in long double (which holds every value of every
// host type exactly), and the conversions the host refuses.
#include "fake_module.h"
#include "host_session.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

struct TypeInfo {
  int code;
  bool floating;
  long double lo, hi;  // range of an integer type
};

template <typename T>
TypeInfo info_of() {
  return {kavu_test::type_code_of<T>(), std::is_floating_point_v<T>,
          static_cast<long double>(std::numeric_limits<T>::lowest()),
          static_cast<long double>(std::numeric_limits<T>::max())};
}

const std::vector<TypeInfo> &all_types() {
  static const std::vector<TypeInfo> types = {
      info_of<uint8_t>(),  info_of<int16_t>(),  info_of<int32_t>(),
      info_of<float>(),    info_of<double>(),   info_of<uint16_t>(),
      info_of<uint32_t>(), info_of<int64_t>(),  info_of<uint64_t>()};
  return types;
}

template <typename F>
void with_element_type(int code, F f) {
  switch (code) {
    case QEL_TYP_BYTE: return f(uint8_t{});
    case QEL_TYP_INT: return f(int16_t{});
    case QEL_TYP_LONG: return f(int32_t{});
    case QEL_TYP_FLOAT: return f(float{});
    case QEL_TYP_DOUBLE: return f(double{});
    case QEL_TYP_UINT: return f(uint16_t{});
    case QEL_TYP_ULONG: return f(uint32_t{});
    case QEL_TYP_LONG64: return f(int64_t{});
    case QEL_TYP_ULONG64: return f(uint64_t{});
  }
  FAIL() << "type " << code;
}

const long double kInf = std::numeric_limits<long double>::infinity();
const long double kNaN = std::numeric_limits<long double>::quiet_NaN();

// Boundary values of every type, their neighbours, and fractions beside them.
std::vector<long double> candidates() {
  std::vector<long double> v = {kNaN, kInf, -kInf, -0.0L, 0.4L, -0.6L, 1e30L, -1e30L,
                                1e300L, -1e300L, FLT_MAX, -FLT_MAX,
                                static_cast<long double>(FLT_MAX) * (1 + 1e-6L), 1e-40L};
  for (const TypeInfo &t : all_types()) {
    if (t.floating) continue;
    for (long double edge : {t.lo, t.hi})
      for (long double d : {-1.0L, -0.5L, 0.0L, 0.5L, 1.0L, 0.999L}) v.push_back(edge + d);
  }
  return v;
}

// The values of `candidates` that `src` can hold exactly (integers within range;
// every value a floating type holds without overflow).
std::vector<long double> source_values(const TypeInfo &src) {
  std::vector<long double> out;
  for (long double x : candidates()) {
    if (src.floating) {
      const long double top = src.code == QEL_TYP_FLOAT ? FLT_MAX : DBL_MAX;
      if (std::isfinite(x) && std::fabs(x) > top) continue;
      if (src.code == QEL_TYP_FLOAT) x = static_cast<float>(x);
      if (src.code == QEL_TYP_DOUBLE) x = static_cast<double>(x);
      out.push_back(x);
    } else if (std::isfinite(x) && x == std::trunc(x) && x >= src.lo && x <= src.hi) {
      out.push_back(x);
    }
  }
  return out;
}

// C's conversion made safe: truncate toward zero and clamp for integers (NaN 0);
// double to float clamps finite values to the float range; else exact rounding.
long double expected(long double x, const TypeInfo &dst) {
  if (!dst.floating) {
    if (std::isnan(x)) return 0;
    return std::clamp(std::trunc(x), dst.lo, dst.hi);
  }
  if (dst.code == QEL_TYP_FLOAT) {
    if (std::isfinite(x) && std::fabs(x) > FLT_MAX) return std::copysign(FLT_MAX, x);
    return static_cast<float>(x);
  }
  return static_cast<double>(x);
}

QEL_VPTR make_source(const TypeInfo &src, const std::vector<long double> &values) {
  std::vector<unsigned char> bytes;
  with_element_type(src.code, [&](auto t) {
    for (long double x : values) {
      const auto e = static_cast<decltype(t)>(x);
      const auto *p = reinterpret_cast<const unsigned char *>(&e);
      bytes.insert(bytes.end(), p, p + sizeof e);
    }
  });
  return qelhost::make_array("source", src.code, {static_cast<int64_t>(values.size())},
                             bytes.data());
}

long double element(QEL_VPTR v, int64_t i) {
  long double x = 0;
  with_element_type(v->type, [&](auto t) {
    decltype(t) e;
    std::memcpy(&e, v->value.arr->data + i * sizeof e, sizeof e);
    x = e;
  });
  return x;
}

TEST(Conversion, EveryPairSaturatesTruncatesAndZeroesNaN) {
  for (const TypeInfo &src : all_types()) {
    const std::vector<long double> values = source_values(src);
    kavu_test::Vars vars;
    QEL_VPTR source = vars.add(make_source(src, values));
    for (const TypeInfo &dst : all_types()) {
      QEL_VPTR out = QEL_VarTypeConvert(source, dst.code);
      if (dst.code == src.code) {
        EXPECT_EQ(out, source) << "same type must not copy";
        continue;
      }
      ASSERT_NE(out, source);
      EXPECT_TRUE(out->flags & QEL_V_TEMP);
      ASSERT_EQ(out->type, dst.code);
      ASSERT_EQ(out->value.arr->n_elts, static_cast<int64_t>(values.size()));
      for (size_t i = 0; i < values.size(); ++i) {
        const long double want = expected(values[i], dst);
        const long double got = element(out, static_cast<int64_t>(i));
        if (std::isnan(want))
          EXPECT_TRUE(std::isnan(got)) << qelhost::type_name(src.code) << " -> "
                                       << qelhost::type_name(dst.code) << " of NaN";
        else
          EXPECT_EQ(got, want) << qelhost::type_name(src.code) << " " << values[i] << " -> "
                               << qelhost::type_name(dst.code);
      }
      QEL_Deltmp(out);
    }
  }
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

TEST(Conversion, ArrayKeepsItsDimsAndSourceIsUntouched) {
  kavu_test::Vars vars;
  const std::vector<double> data = {-1.5, 2.5, 300.0, 4.0, 5.0, 6.0};
  QEL_VPTR v = vars.array("img", data, {3, 2});
  QEL_VPTR out = QEL_VarTypeConvert(v, QEL_TYP_BYTE);
  const auto got = kavu_test::read_array<uint8_t>(out);
  EXPECT_EQ(got.data, (std::vector<uint8_t>{0, 2, 255, 4, 5, 6}));
  EXPECT_EQ(got.dims, (std::vector<int64_t>{3, 2}));
  EXPECT_EQ(out->value.arr->dims[2], 1);
  EXPECT_EQ(out->value.arr->elt_len, 1);
  EXPECT_EQ(out->value.arr->arr_len, 6);
  EXPECT_EQ(kavu_test::read_array<double>(v).data, data);
  QEL_Deltmp(out);
}

using RefusedConversion = fake::HostTest;

TEST_F(RefusedConversion, StringsDoNotBecomeNumbersNorNumbersStrings) {
  kavu_test::Vars vars;
  QEL_VPTR text = vars.str("label", "12");
  QEL_VPTR number = vars.lng("count", 12);
  fake::body = [](int, QEL_VPTR *argv, QEL_KW_ARGS *) {
    return QEL_VarTypeConvert(argv[0], static_cast<int>(argv[1]->value.l));
  };
  QEL_VPTR to_long = vars.lng("t", QEL_TYP_LONG);
  QEL_VPTR to_string = vars.lng("t", QEL_TYP_STRING);
  auto e = fake::call_error("FAKE_PAIR", {text, to_long});
  EXPECT_EQ(e.name, "QEL_M_TYPECONV");
  EXPECT_EQ(e.text, "FAKE_PAIR: Unable to convert LABEL from STRING to LONG.");
  e = fake::call_error("FAKE_PAIR", {number, to_string});
  EXPECT_EQ(e.text, "FAKE_PAIR: Unable to convert COUNT from LONG to STRING.");
  e = fake::call_error("FAKE_PAIR", {vars.undefined("nothing"), to_long});
  EXPECT_EQ(e.name, "QEL_M_UNDEFVAR");
  EXPECT_EQ(e.text, "FAKE_PAIR: Variable is undefined: NOTHING.");
}

}  // namespace
