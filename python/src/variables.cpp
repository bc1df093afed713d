// Python values to host variables and back. Arrays cross without copies in
// both directions: inputs are lent (borrowed data), results keep their host
// variable alive through a capsule that is their numpy base.
#include "variables.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace kavu_py {

namespace {

std::string text_of(const py::handle &h) { return py::str(h).cast<std::string>(); }

constexpr int npy_aligned = 0x0100;  // NPY_ARRAY_ALIGNED
constexpr char foreign_byte_order = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? '>' : '<';

const char *numpy_name_of(int type) {
  switch (type) {
    case QEL_TYP_BYTE: return "uint8";
    case QEL_TYP_INT: return "int16";
    case QEL_TYP_LONG: return "int32";
    case QEL_TYP_FLOAT: return "float32";
    case QEL_TYP_DOUBLE: return "float64";
    case QEL_TYP_UINT: return "uint16";
    case QEL_TYP_ULONG: return "uint32";
    case QEL_TYP_LONG64: return "int64";
    case QEL_TYP_ULONG64: return "uint64";
    default: return nullptr;
  }
}

// Python ints take the narrowest of LONG, LONG64 and ULONG64 that holds them,
// so that a keyword such as START_LBL=3_000_000_000 reaches the host intact.
QEL_VPTR make_int_variable(const std::string &name, const py::int_ &value) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow == 0) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
      return qelhost::make_long(name, static_cast<int32_t>(v));
    const int64_t v64 = v;
    return qelhost::make_scalar(name, QEL_TYP_LONG64, &v64);
  }
  if (overflow > 0) {
    const unsigned long long u = PyLong_AsUnsignedLongLong(value.ptr());
    if (!PyErr_Occurred()) {
      const uint64_t u64 = u;
      return qelhost::make_scalar(name, QEL_TYP_ULONG64, &u64);
    }
    PyErr_Clear();
  }
  throw py::value_error("kavu: " + name + " = " + text_of(value) +
                        " does not fit a 64-bit host integer");
}

QEL_VPTR make_array_variable(const std::string &name, const py::array &arr, py::object &keep_alive) {
  const int type = host_type_of(arr.dtype(), name);
  if (arr.ndim() > QEL_MAX_ARRAY_DIM)
    throw py::value_error("kavu: " + name + " has " + std::to_string(arr.ndim()) +
                          " dimensions; host arrays have at most 8");
  if (arr.ndim() == 0) return qelhost::make_scalar(name, type, lendable_array(arr, name).data());
  if (arr.size() == 0)
    throw py::value_error("kavu: " + name + " is empty; host arrays hold at least one element");
  py::array lent = lendable_array(arr, name);
  // Host dims run fastest first: the numpy shape reversed.
  std::vector<int64_t> dims(lent.shape(), lent.shape() + lent.ndim());
  std::reverse(dims.begin(), dims.end());
  QEL_VPTR v = qelhost::make_array(name, type, dims, lent.data(), /*borrow=*/true);
  keep_alive = std::move(lent);
  return v;
}

py::object take_scalar(QEL_VPTR v) {
  const QEL_ALLTYPES &x = v->value;
  switch (v->type) {
    case QEL_TYP_BYTE: return py::int_(x.c);
    case QEL_TYP_INT: return py::int_(x.i);
    case QEL_TYP_LONG: return py::int_(x.l);
    case QEL_TYP_FLOAT: return py::float_(x.f);
    case QEL_TYP_DOUBLE: return py::float_(x.d);
    case QEL_TYP_UINT: return py::int_(x.ui);
    case QEL_TYP_ULONG: return py::int_(x.ul);
    case QEL_TYP_LONG64: return py::int_(x.l64);
    case QEL_TYP_ULONG64: return py::int_(x.ul64);
    case QEL_TYP_STRING: return py::str(x.str.s ? x.str.s : "", x.str.s ? x.str.slen : 0);
    default: return py::none();
  }
}

}  // namespace

int host_type_of(const py::dtype &dtype, const std::string &name) {
  const auto size = dtype.itemsize();
  switch (dtype.kind()) {
    case 'b': return QEL_TYP_BYTE;
    case 'u':
      if (size == 1) return QEL_TYP_BYTE;
      if (size == 2) return QEL_TYP_UINT;
      if (size == 4) return QEL_TYP_ULONG;
      if (size == 8) return QEL_TYP_ULONG64;
      break;
    case 'i':
      if (size == 2) return QEL_TYP_INT;
      if (size == 4) return QEL_TYP_LONG;
      if (size == 8) return QEL_TYP_LONG64;
      break;
    case 'f':
      if (size == 4) return QEL_TYP_FLOAT;
      if (size == 8) return QEL_TYP_DOUBLE;
      break;
  }
  throw py::type_error("kavu: " + name + " has dtype " + text_of(dtype) +
                       ", which the host has no type for (use bool, uint8, int16, uint16, int32, "
                       "uint32, int64, uint64, float32 or float64)");
}

py::array lendable_array(const py::array &obj, const std::string &name) {
  (void)name;
  const bool c_contiguous = obj.flags() & py::array::c_style;
  const bool aligned = obj.flags() & npy_aligned;
  const bool native = obj.dtype().byteorder() != foreign_byte_order;
  if (c_contiguous && aligned && native) return obj;
  py::object native_dtype = obj.dtype().attr("newbyteorder")("=");
  return py::module_::import("numpy").attr("ascontiguousarray")(obj, native_dtype);
}

QEL_VPTR make_variable(const std::string &name, const py::handle &value, py::object &keep_alive) {
  if (value.is_none()) return qelhost::make_undefined(name);
  if (py::isinstance<py::array>(value))
    return make_array_variable(name, py::reinterpret_borrow<py::array>(value), keep_alive);
  if (py::isinstance<py::bool_>(value)) return qelhost::make_long(name, value.cast<bool>() ? 1 : 0);
  if (py::isinstance<py::int_>(value)) return make_int_variable(name, value.cast<py::int_>());
  if (py::isinstance<py::float_>(value)) return qelhost::make_double(name, value.cast<double>());
  if (py::isinstance<py::str>(value)) return qelhost::make_string(name, value.cast<std::string>());
  // numpy scalars (np.uint32(7), np.float32(0.5), ...) keep their dtype.
  if (PyObject_IsInstance(value.ptr(), py::module_::import("numpy").attr("generic").ptr()) == 1)
    return make_array_variable(name, py::array::ensure(value), keep_alive);
  throw py::type_error("kavu: " + name + " is a " +
                       text_of(value.get_type().attr("__name__")) +
                       "; pass a numpy array, a number, a string or None");
}

py::object take_variable(QEL_VPTR v) {
  if (!(v->flags & QEL_V_ARR)) {
    py::object scalar;
    try {
      scalar = take_scalar(v);
    } catch (...) {
      qelhost::release(v);
      throw;
    }
    qelhost::release(v);
    return scalar;
  }
  const QEL_ARRAY *a = v->value.arr;
  const char *dtype_name = numpy_name_of(v->type);
  if (!dtype_name) {
    qelhost::release(v);
    throw py::type_error(std::string("kavu: a host array of type ") + qelhost::type_name(v->type) +
                         " has no numpy counterpart");
  }
  // The capsule owns the variable from here on: the host's memory is the
  // numpy array's memory, released when numpy drops its base.
  py::capsule owner(v, [](void *p) { qelhost::release(static_cast<QEL_VPTR>(p)); });
  std::vector<py::ssize_t> shape(a->dims, a->dims + a->n_dim);
  std::reverse(shape.begin(), shape.end());
  return py::array(py::dtype(dtype_name), shape, a->data, owner);
}

}  // namespace kavu_py
