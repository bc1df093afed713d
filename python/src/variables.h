// Conversion between Python objects and host variables: numpy arrays are lent
// to the host in place when their layout allows it, and host arrays come back
// as numpy arrays that own the host variable through a capsule.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "qelhost.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kavu_py {

namespace py = pybind11;

// A host variable to be made, read from a Python value under the GIL and made
// later without the GIL (see host_access.h).
struct VariableSpec {
  enum class Kind { undefined, array, scalar, string };
  Kind kind = Kind::undefined;
  std::string name;
  int type = QEL_TYP_UNDEF;
  std::vector<int64_t> dims;   // host order: the numpy shape reversed
  const void *data = nullptr;  // lent array data
  alignas(8) unsigned char scalar[8] = {};
  std::string text;
};

// Reads a Python value: a numpy array (lent; the array actually lent is
// appended to `keep_alive`, which must outlive the variable), a numpy or
// Python scalar, a string, or None (an undefined variable).
VariableSpec describe_variable(const std::string &name, const py::handle &value,
                               py::list &keep_alive);
VariableSpec output_variable(const std::string &name);

// Makes the host variable; called without the GIL.
QEL_VPTR make_variable(const VariableSpec &spec);

// Takes ownership of `v` (GIL held): an array becomes a numpy array whose
// base capsule releases the variable when numpy drops it; a scalar becomes a
// Python scalar and an undefined variable None, releasing the variable.
py::object take_variable(QEL_VPTR v);

}  // namespace kavu_py
