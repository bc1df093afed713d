// Type conversion of variables: C's conversions made safe. Out-of-range values
// saturate, NaN becomes 0 in integer types, floats truncate toward zero; strings
// never convert to numbers.
#include "host.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace qelhost::detail {
namespace {

template <typename To, typename From>
To convert_value(From x) {
  if constexpr (std::is_integral_v<To> && std::is_integral_v<From>) {
    if (std::cmp_less(x, std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
    if (std::cmp_greater(x, std::numeric_limits<To>::max())) return std::numeric_limits<To>::max();
    return static_cast<To>(x);
  } else if constexpr (std::is_integral_v<To>) {
    if (std::isnan(x)) return 0;
    // The bounds are powers of two (or 0), exact in every floating type; values
    // between `lowest` and the next integer above it truncate to `lowest` anyway.
    constexpr From lowest = static_cast<From>(std::numeric_limits<To>::min());
    constexpr From beyond = static_cast<From>(std::numeric_limits<To>::max() / 2 + 1) * From(2);
    if (x <= lowest) return std::numeric_limits<To>::min();
    if (x >= beyond) return std::numeric_limits<To>::max();
    return static_cast<To>(x);
  } else if constexpr (sizeof(To) < sizeof(From) && std::is_floating_point_v<From>) {
    // double to float: finite values beyond float's range saturate; inf and NaN carry over.
    constexpr From top = std::numeric_limits<To>::max();
    if (std::isfinite(x) && x > top) return std::numeric_limits<To>::max();
    if (std::isfinite(x) && x < -top) return -std::numeric_limits<To>::max();
    return static_cast<To>(x);
  } else {
    return static_cast<To>(x);  // exact or rounded, never out of range
  }
}

}  // namespace

void convert_elements(void *dst, int dst_type, const void *src, int src_type, int64_t n) {
  with_type(dst_type, [&](auto to) {
    with_type(src_type, [&](auto from) {
      using To = decltype(to);
      using From = decltype(from);
      To *d = static_cast<To *>(dst);
      const From *s = static_cast<const From *>(src);
      for (int64_t i = 0; i < n; ++i) d[i] = convert_value<To>(s[i]);
    });
  });
}

std::string number_text(const Var *v) {
  char buf[64];
  const auto end = with_type(v->pub.type, [&](auto t) {
    decltype(t) x;
    std::memcpy(&x, &v->pub.value, sizeof x);
    return std::to_chars(buf, buf + sizeof buf, x).ptr;  // shortest text that reads back
  });
  return std::string(buf, end);
}

void fill_index(void *data, int type, int64_t n) {
  with_type(type, [&](auto t) {
    auto *d = static_cast<decltype(t) *>(data);
    for (int64_t i = 0; i < n; ++i) d[i] = convert_value<decltype(t)>(i);
  });
}

}  // namespace qelhost::detail

using namespace qelhost::detail;

extern "C" QEL_VPTR QEL_VarTypeConvert(QEL_VPTR v, int type) {
  Var *src = var_of(v);
  if (src->pub.type == type) return v;
  if (src->pub.type == QEL_TYP_UNDEF)
    host_error("QEL_M_UNDEFVAR", "Variable is undefined: %s.", QEL_VarName(v));
  if (!is_numeric(type) || !is_numeric(src->pub.type) || (src->pub.flags & ~(QEL_V_ARR | QEL_V_TEMP)))
    host_error("QEL_M_TYPECONV", "Unable to convert %s from %s to %s.", QEL_VarName(v),
               qelhost::type_name(src->pub.type), qelhost::type_name(type));
  Var *out = new_temp();
  if (is_array(src)) {
    QEL_ARRAY desc;
    void *data = nullptr;
    if (shape_array(type, src->desc.n_dim, src->desc.dims, &desc))
      data = std::malloc(static_cast<size_t>(desc.arr_len));
    if (!data) {
      destroy(out);
      host_error("QEL_M_NOMEM", "Unable to allocate memory to convert %s to %s.", QEL_VarName(v),
                 qelhost::type_name(type));
    }
    convert_elements(data, type, src->desc.data, src->pub.type, desc.n_elts);
    attach_array(out, type, desc, data, false);
  } else {
    out->pub.type = static_cast<UCHAR>(type);
    convert_elements(&out->pub.value, type, &src->pub.value, src->pub.type, 1);
  }
  return &out->pub;
}
