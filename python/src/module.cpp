// The `kavu._kavu` extension: the embedded host as seen from Python. The
// package (kavu/__init__.py) builds the user-facing functions on these few.
#include "call.h"
#include "host_access.h"
#include "label_forest.h"
#include "small_regions.h"
#include "variables.h"
#include "watershed/labels.h"

#include <pybind11/numpy.h>

#include <algorithm>
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
  m.def(
      "join_labels",
      [](py::array_t<uint32_t, py::array::c_style> parent, py::array_t<int64_t, py::array::c_style> pairs) {
        const size_t n = size_t(parent.size()), k = pairs.ndim() == 2 ? size_t(pairs.shape(0)) : 0;
        if (parent.ndim() != 1 || pairs.ndim() != 2 || pairs.shape(1) != 2)
          throw py::value_error("join_labels: a forest (n,) and pairs (k, 2) expected");
        const int64_t *p = pairs.data();
        if (std::any_of(p, p + 2 * k, [n](int64_t label) { return label < 0 || uint64_t(label) >= n; }))
          throw py::value_error("join_labels: a label of the pairs is not in the forest");
        uint32_t *forest = parent.mutable_data();
        without_gil([&] {
          for (size_t i = 0; i < k; ++i) kavu_py::forest_join(forest, uint32_t(p[2 * i]), uint32_t(p[2 * i + 1]));
        });
      },
      py::arg("parent").noconvert(), py::arg("pairs"),
      "Joins the groups of each pair's two labels in the forest `parent` (uint32, index = label, "
      "rewritten in place; arange(n) joins nothing yet).");
  m.def(
      "number_groups",
      [](py::array_t<uint32_t, py::array::c_style> parent) {
        if (parent.ndim() != 1) throw py::value_error("number_groups: a forest (n,) expected");
        uint32_t *forest = parent.mutable_data();
        return without_gil([&] { return kavu_py::number_groups(forest, size_t(parent.size())); });
      },
      py::arg("parent").noconvert(),
      "Rewrites the forest `parent` in place as each label's group 0, 1, ... in the order of the "
      "group's smallest label; returns the number of groups.");
  m.def("take_warnings",
        [] { return warnings_as_python(without_gil([] { return qelhost::take_warnings(); })); });
}
