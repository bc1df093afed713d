// The call boundary between Python and the host. Arguments are read under the
// GIL; variables are made, the routine runs and its warnings are taken with
// the GIL released, so other Python threads go on (and call) meanwhile.
#include "call.h"

#include "host_access.h"
#include "variables.h"

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

namespace kavu_py {

namespace {

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What the host hands back from one call; variables not yet owned by Python.
struct Outcome {
  QEL_VPTR value = nullptr;
  std::vector<QEL_VPTR> variables;  // all made for the call, in spec order
  std::optional<qelhost::Error> error;
  std::vector<qelhost::Warning> warnings;
};

// Runs without the GIL; the warnings taken are those of this thread's call.
// Inputs are released here, while the arrays they borrow are still alive;
// only the outputs stay in `out.variables` (inputs become null).
void run(const std::string &routine, const std::vector<VariableSpec> &specs,
         const std::vector<bool> &is_output, size_t n_args,
         const std::vector<std::string> &keyword_names, Outcome &out) {
  try {
    for (const VariableSpec &spec : specs) out.variables.push_back(make_variable(spec));
    const std::vector<QEL_VPTR> argv(out.variables.begin(), out.variables.begin() + n_args);
    std::vector<qelhost::Keyword> keywords;
    for (size_t k = 0; k < keyword_names.size(); ++k)
      keywords.push_back({keyword_names[k], out.variables[n_args + k]});
    out.value = qelhost::call(routine, argv, keywords);
  } catch (const qelhost::Error &e) {
    out.error = e;
  } catch (...) {
    for (QEL_VPTR v : out.variables) qelhost::release(v);
    qelhost::take_warnings();  // dropped with the call, not handed to the next one
    throw;
  }
  out.warnings = qelhost::take_warnings();
  for (size_t i = 0; i < out.variables.size(); ++i) {
    if (out.error || !is_output[i]) {
      qelhost::release(out.variables[i]);
      out.variables[i] = nullptr;
    }
  }
}

}  // namespace

py::tuple call_routine(const std::string &routine, const py::sequence &args,
                       const py::sequence &arg_names, const py::dict &keywords) {
  py::list keep_alive;  // arrays lent to the host stay alive until the call is over
  std::vector<VariableSpec> specs;
  std::vector<bool> is_output;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string name = i < arg_names.size() ? py::str(arg_names[i]).cast<std::string>()
                                                   : "arg" + std::to_string(i + 1);
    const bool out = py::isinstance<OutMarker>(args[i]);
    specs.push_back(out ? output_variable(name) : describe_variable(name, args[i], keep_alive));
    is_output.push_back(out);
  }
  const size_t n_args = specs.size();
  std::vector<std::string> keyword_names;
  std::vector<py::object> keyword_keys;
  for (const auto &[key, value] : keywords) {
    if (value.is_none()) continue;
    const std::string name = upper(py::str(key).cast<std::string>());
    const bool out = py::isinstance<OutMarker>(value);
    specs.push_back(out ? output_variable(name) : describe_variable(name, value, keep_alive));
    is_output.push_back(out);
    keyword_names.push_back(name);
    keyword_keys.push_back(py::reinterpret_borrow<py::object>(key));
  }

  Outcome outcome;
  const std::string name = upper(routine);
  without_gil([&] { run(name, specs, is_output, n_args, keyword_names, outcome); });

  py::list warnings;
  for (const auto &w : outcome.warnings) warnings.append(py::make_tuple(w.name, w.routine, w.text));
  if (outcome.error)
    return py::make_tuple(py::none(), py::none(), py::none(), warnings,
                          py::make_tuple(outcome.error->name, outcome.error->routine,
                                         outcome.error->text));

  // From here each output goes to Python; what is not taken yet is released
  // if taking one of them fails.
  py::list args_out;
  py::dict keywords_out;
  py::object value;
  try {
    value = take_variable(std::exchange(outcome.value, nullptr));
    for (size_t i = 0; i < outcome.variables.size(); ++i) {
      QEL_VPTR v = std::exchange(outcome.variables[i], nullptr);
      if (i < n_args)
        args_out.append(v ? take_variable(v) : py::none());
      else if (v)
        keywords_out[keyword_keys[i - n_args]] = take_variable(v);
    }
  } catch (...) {
    if (outcome.value) qelhost::release(outcome.value);
    for (QEL_VPTR v : outcome.variables)
      if (v) qelhost::release(v);
    throw;
  }
  return py::make_tuple(value, args_out, keywords_out, warnings, py::none());
}

}  // namespace kavu_py
