// One routine call from Python: the arguments become host variables, the
// routine runs without the GIL, and outputs, warnings and the error (if any)
// come back as Python values for the package to report.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace kavu_py {

namespace py = pybind11;

// The marker type of kavu.OUT: an argument or keyword passed as OUT is an
// output variable whose value comes back in the result.
struct OutMarker {};

// Calls `routine` with `args` (named by `arg_names`, which may be shorter) and
// `keywords` (None values are left out). Returns (value, args_out, keywords_out,
// warnings, error): args_out holds the outputs at the positions passed as OUT
// and None elsewhere; keywords_out maps each OUT keyword as it was spelled to
// its output; warnings is a list of (name, routine, text); error is None or
// (name, routine, text), in which case value and the outputs are None.
py::tuple call_routine(const std::string &routine, const py::sequence &args,
                       const py::sequence &arg_names, const py::dict &keywords);

}  // namespace kavu_py
