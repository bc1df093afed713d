// Conversion between Python objects and host variables: numpy arrays are lent
// to the host in place when their layout allows it, and host arrays come back
// as numpy arrays that own the host variable through a capsule.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "qelhost.h"

#include <string>

namespace kavu_py {

namespace py = pybind11;

// The host type code of a numpy dtype (bool travels as BYTE); TypeError for
// any dtype the host has no type for.
int host_type_of(const py::dtype &dtype, const std::string &name);

// The array that is lent to the host: `obj` itself when it is C-contiguous,
// aligned and in native byte order, else a contiguous native copy.
py::array lendable_array(const py::array &obj, const std::string &name);

// A new host variable named `name` for a Python value: a numpy array (borrowed,
// the caller keeps `keep_alive` alive until the variable is released), a
// numpy or Python scalar, a string, or None (an undefined variable).
QEL_VPTR make_variable(const std::string &name, const py::handle &value, py::object &keep_alive);

// Takes ownership of `v`: an array becomes a numpy array that releases the
// variable when it is collected; a scalar becomes a Python scalar and an
// undefined variable None, releasing the variable at once.
py::object take_variable(QEL_VPTR v);

}  // namespace kavu_py
