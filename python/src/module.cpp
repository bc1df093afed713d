// The `kavu._kavu` extension: the embedded host as seen from Python. The
// package (kavu/__init__.py) builds the user-facing functions on these few.
#include "call.h"
#include "host_access.h"
#include "variables.h"
#include "watershed/labels.h"

#include <cstdint>

namespace py = pybind11;
using kavu_py::OutMarker;
using kavu_py::without_gil;

namespace {

py::list warnings_as_python(const std::vector<qelhost::Warning> &warnings) {
  py::list out;
  for (const auto &w : warnings) out.append(py::make_tuple(w.name, w.routine, w.text));
  return out;
}

}  // namespace

PYBIND11_MODULE(_kavu, m) {
  m.doc() = "Embedded QEL host with the kavu_segmentation module (internal; use the kavu package).";

  py::class_<OutMarker>(m, "_Out")
      .def("__repr__", [](const OutMarker &) { return "kavu.OUT"; })
      .def("__reduce__", [](const OutMarker &) { return "OUT"; });
  m.attr("OUT") = py::cast(OutMarker{});
  // The module's own limits, so that the package never restates them: the
  // largest label the watershed hands out with 16-bit and with 32-bit labels.
  m.attr("WATERSHED_LABEL_MAX_16") = LBL_MAX_REAL<uint16_t>;
  m.attr("WATERSHED_LABEL_MAX_32") = LBL_MAX_REAL<uint32_t>;

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const qelhost::Error &e) {
      py::object error = py::module_::import("kavu._errors").attr("Error")(e.name, e.routine, e.text);
      PyErr_SetObject(error.get_type().ptr(), error.ptr());
    }
  });

  m.def(
      "load_module", [](const std::string &path) { return without_gil([&] { return qelhost::load_module(path); }); },
      py::arg("path"), "Loads a module into the host by path; returns its QEL_Load result.");
  m.def("call", &kavu_py::call_routine, py::arg("routine"), py::arg("args"), py::arg("arg_names"),
        py::arg("keywords"));
  m.def("routines", [] {
    py::list out;
    for (const auto &r : without_gil([] { return qelhost::routines(); }))
      out.append(py::make_tuple(r.name, r.arg_min, r.arg_max, r.flags, r.is_function));
    return out;
  });
  m.def("take_warnings",
        [] { return warnings_as_python(without_gil([] { return qelhost::take_warnings(); })); });
}
