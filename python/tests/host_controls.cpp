// `host_controls`: test controls of the embedded host for the Python tests,
// built beside them and never installed with the package. It shares kavu's
// host: the same libqelhost.so, loaded once per process.
#include "../src/host_access.h"
#include "../src/variables.h"
#include "test_controls.h"

#include <cstdint>

namespace py = pybind11;
using kavu_py::without_gil;

PYBIND11_MODULE(host_controls, m) {
  m.def(
      "set_refusals",
      [](bool message_block, bool routine_table, int64_t fail_temp_at) {
        without_gil([&] { qelhost::set_refusals({message_block, routine_table, fail_temp_at}); });
      },
      py::kw_only(), py::arg("message_block") = false, py::arg("routine_table") = false,
      py::arg("fail_temp_at") = 0, "Makes the host refuse things.");
  m.def("live_temporaries", [] { return without_gil([] { return qelhost::live_temporaries(); }); });
  m.def(
      "lent_address",
      [](const py::handle &value) {
        // The data address the host sees for `value`: the array's own
        // address exactly when it is lent without a copy.
        py::list keep_alive;
        const kavu_py::VariableSpec spec = kavu_py::describe_variable("value", value, keep_alive);
        return without_gil([&] {
          QEL_VPTR v = kavu_py::make_variable(spec);
          const auto address =
              v->flags & QEL_V_ARR ? reinterpret_cast<std::uintptr_t>(v->value.arr->data) : 0;
          qelhost::release(v);
          return address;
        });
      },
      py::arg("value"));
}
