// The `kavu._kavu` extension: the embedded host as seen from Python. The
// package (kavu/__init__.py) builds the user-facing functions on these few.
#include "call.h"
#include "host_access.h"
#include "small_regions.h"
#include "variables.h"
#include "watershed/labels.h"

#include <pybind11/numpy.h>

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
  m.def(
      "absorb_small_regions",
      [](py::array_t<float, py::array::c_style> bands, py::array_t<uint32_t, py::array::c_style> labels,
         double min_size) {
        if (bands.ndim() != 3 || labels.ndim() != 2 || bands.shape(1) != labels.shape(0) ||
            bands.shape(2) != labels.shape(1))
          throw py::value_error("absorb_small_regions: bands (b, h, w) and labels (h, w) expected");
        const kavu_py::SmallRegionsRequest request{bands.data(), size_t(bands.shape(0)), size_t(labels.shape(0)),
                                                   size_t(labels.shape(1)), labels.mutable_data(), min_size};
        without_gil([&] { kavu_py::absorb_small_regions(request); });
      },
      py::arg("bands"), py::arg("labels").noconvert(), py::arg("min_size"),
      "Joins the regions of `labels` (uint32, rewritten in place) under min_size pixels to their cheapest "
      "neighbours, round after round.");
  m.def("take_warnings",
        [] { return warnings_as_python(without_gil([] { return qelhost::take_warnings(); })); });
}
