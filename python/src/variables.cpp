// Python values to host variables and back. Arrays cross without copies in
// both directions: inputs are lent (borrowed data), results keep their host
// variable alive through a capsule that is their numpy base.
#include "variables.h"

#include "host_access.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

VariableSpec new_spec(VariableSpec::Kind kind, const std::string &name, int type) {
  VariableSpec spec;
  spec.kind = kind;
  spec.name = name;
  spec.type = type;
  return spec;
}

template <typename T>
VariableSpec scalar_spec(const std::string &name, int type, T value) {
  static_assert(sizeof(T) <= sizeof(VariableSpec::scalar));
  VariableSpec spec = new_spec(VariableSpec::Kind::scalar, name, type);
  std::memcpy(spec.scalar, &value, sizeof value);
  return spec;
}

// Python ints take the narrowest of LONG, LONG64 and ULONG64 that holds them,
// so that a keyword such as START_LBL=3_000_000_000 reaches the host intact.
VariableSpec int_spec(const std::string &name, const py::handle &value) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow == 0) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
      return scalar_spec(name, QEL_TYP_LONG, static_cast<int32_t>(v));
    return scalar_spec(name, QEL_TYP_LONG64, static_cast<int64_t>(v));
  }
  if (overflow > 0) {
    const unsigned long long u = PyLong_AsUnsignedLongLong(value.ptr());
    if (!PyErr_Occurred()) return scalar_spec(name, QEL_TYP_ULONG64, static_cast<uint64_t>(u));
    PyErr_Clear();
  }
  throw py::value_error("kavu: " + name + " = " + text_of(value) +
                        " does not fit a 64-bit host integer");
}

// The host type code of a numpy dtype (bool travels as BYTE); TypeError for
// any dtype the host has no type for.
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

// The array that is lent to the host: `obj` itself when it is C-contiguous,
// aligned, in native byte order and writable, else a contiguous native copy.
// A routine may write an input it is lent (the tiled mode renumbers its
// IN_LABEL_IMG), so a read-only array, perhaps a read-only mapping of a file,
// is never lent itself, whichever keyword it goes to.
py::array lendable_array(const py::array &obj) {
  const bool c_contiguous = obj.flags() & py::array::c_style;
  const bool aligned = obj.flags() & npy_aligned;
  const bool native = obj.dtype().byteorder() != foreign_byte_order;
  const bool writable = obj.writeable();
  if (c_contiguous && aligned && native && writable) return obj;
  py::object native_dtype = obj.dtype().attr("newbyteorder")("=");
  return py::module_::import("numpy").attr("array")(obj, native_dtype, py::arg("order") = "C");
}

VariableSpec array_spec(const std::string &name, const py::array &arr, py::list &keep_alive) {
  const int type = host_type_of(arr.dtype(), name);
  if (arr.ndim() > QEL_MAX_ARRAY_DIM)
    throw py::value_error("kavu: " + name + " has " + std::to_string(arr.ndim()) +
                          " dimensions; host arrays have at most 8");
  py::array lent = lendable_array(arr);
  if (lent.ndim() == 0) {  // a 0-d array or numpy scalar is a host scalar
    VariableSpec spec = new_spec(VariableSpec::Kind::scalar, name, type);
    std::memcpy(spec.scalar, lent.data(), lent.itemsize());
    return spec;
  }
  if (lent.size() == 0)
    throw py::value_error("kavu: " + name + " is empty; host arrays hold at least one element");
  VariableSpec spec = new_spec(VariableSpec::Kind::array, name, type);
  spec.dims.assign(lent.shape(), lent.shape() + lent.ndim());
  std::reverse(spec.dims.begin(), spec.dims.end());  // host dims run fastest first
  spec.data = lent.data();
  keep_alive.append(lent);
  return spec;
}

py::object scalar_value(QEL_VPTR v) {
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

VariableSpec describe_variable(const std::string &name, const py::handle &value,
                               py::list &keep_alive) {
  if (value.is_none()) return output_variable(name);
  if (py::isinstance<py::array>(value))
    return array_spec(name, py::reinterpret_borrow<py::array>(value), keep_alive);
  if (py::isinstance<py::bool_>(value))
    return scalar_spec(name, QEL_TYP_LONG, static_cast<int32_t>(value.cast<bool>()));
  if (py::isinstance<py::int_>(value)) return int_spec(name, value);
  if (py::isinstance<py::float_>(value)) return scalar_spec(name, QEL_TYP_DOUBLE, value.cast<double>());
  if (py::isinstance<py::str>(value)) {
    VariableSpec spec = new_spec(VariableSpec::Kind::string, name, QEL_TYP_STRING);
    spec.text = value.cast<std::string>();
    return spec;
  }
  // numpy scalars (np.uint32(7), np.float32(0.5), ...) keep their dtype.
  if (PyObject_IsInstance(value.ptr(), py::module_::import("numpy").attr("generic").ptr()) == 1)
    return array_spec(name, py::array::ensure(value), keep_alive);
  throw py::type_error("kavu: " + name + " is a " + text_of(value.get_type().attr("__name__")) +
                       "; pass a numpy array, a number, a string or None");
}

VariableSpec output_variable(const std::string &name) {
  return new_spec(VariableSpec::Kind::undefined, name, QEL_TYP_UNDEF);
}

QEL_VPTR make_variable(const VariableSpec &spec) {
  switch (spec.kind) {
    case VariableSpec::Kind::array:
      return qelhost::make_array(spec.name, spec.type, spec.dims, spec.data, /*borrow=*/true);
    case VariableSpec::Kind::scalar: return qelhost::make_scalar(spec.name, spec.type, spec.scalar);
    case VariableSpec::Kind::string: return qelhost::make_string(spec.name, spec.text);
    case VariableSpec::Kind::undefined: break;
  }
  return qelhost::make_undefined(spec.name);
}

py::object take_variable(QEL_VPTR v) {
  const char *dtype_name = numpy_name_of(v->type);
  const bool array = v->flags & QEL_V_ARR;
  if (!array || !dtype_name) {
    const int type = v->type;
    py::object scalar;
    try {
      if (!array) scalar = scalar_value(v);
    } catch (...) {
      qelhost::release(v);
      throw;
    }
    qelhost::release(v);
    if (array || (scalar.is_none() && type != QEL_TYP_UNDEF))
      throw py::type_error(std::string("kavu: a host value of type ") + qelhost::type_name(type) +
                           " has no Python counterpart");
    return scalar;
  }
  // The capsule owns the variable from here on: the host's memory is the
  // numpy array's memory, released when numpy drops its base.
  py::capsule owner(v, [](void *p) { qelhost::release(static_cast<QEL_VPTR>(p)); });
  const QEL_ARRAY *a = v->value.arr;
  std::vector<py::ssize_t> shape(a->dims, a->dims + a->n_dim);
  std::reverse(shape.begin(), shape.end());
  return py::array(py::dtype(dtype_name), shape, a->data, owner);
}

}  // namespace kavu_py
