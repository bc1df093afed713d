// The call boundary between Python and the host: variables are made with the
// GIL held, the routine runs with it released so that other Python threads
// (and other routines on other arrays) go on meanwhile.
#include "call.h"

#include "variables.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <optional>
#include <vector>

namespace kavu_py {

namespace {

// Every variable a call makes, released on every path unless its ownership
// went to a Python result.
struct CallVariables {
  std::vector<QEL_VPTR> owned;
  py::list keep_alive;  // lent numpy arrays stay alive until the call is over

  QEL_VPTR add(const std::string &name, const py::handle &value) {
    py::object lent;
    QEL_VPTR v = make_variable(name, value, lent);
    owned.push_back(v);
    if (lent) keep_alive.append(lent);
    return v;
  }
  QEL_VPTR add_output(const std::string &name) {
    owned.push_back(qelhost::make_undefined(name));
    return owned.back();
  }
  // Hands `v` to Python: from here the result owns it.
  py::object take(QEL_VPTR v) {
    owned.erase(std::find(owned.begin(), owned.end(), v));
    return take_variable(v);
  }
  ~CallVariables() {
    for (QEL_VPTR v : owned) qelhost::release(v);
  }
};

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

py::list warnings_as_python(const std::vector<qelhost::Warning> &warnings) {
  py::list out;
  for (const auto &w : warnings) out.append(py::make_tuple(w.name, w.routine, w.text));
  return out;
}

}  // namespace

py::tuple call_routine(const std::string &routine, const py::sequence &args,
                       const py::sequence &arg_names, const py::dict &keywords) {
  CallVariables vars;
  std::vector<QEL_VPTR> argv;
  std::vector<std::optional<QEL_VPTR>> arg_outputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string name = i < arg_names.size() ? py::str(arg_names[i]).cast<std::string>()
                                                   : "arg" + std::to_string(i + 1);
    const py::handle value = args[i];
    const bool is_out = py::isinstance<OutMarker>(value);
    argv.push_back(is_out ? vars.add_output(name) : vars.add(name, value));
    arg_outputs.push_back(is_out ? std::optional(argv.back()) : std::nullopt);
  }
  std::vector<qelhost::Keyword> kws;
  std::vector<std::pair<py::object, QEL_VPTR>> kw_outputs;
  for (const auto &[key, value] : keywords) {
    if (value.is_none()) continue;
    const std::string name = upper(py::str(key).cast<std::string>());
    if (py::isinstance<OutMarker>(value)) {
      kws.push_back({name, vars.add_output(name)});
      kw_outputs.emplace_back(py::reinterpret_borrow<py::object>(key), kws.back().var);
    } else {
      kws.push_back({name, vars.add(name, value)});
    }
  }

  QEL_VPTR result = nullptr;
  std::optional<qelhost::Error> error;
  std::vector<qelhost::Warning> warnings;
  {
    py::gil_scoped_release unlocked;
    try {
      result = qelhost::call(upper(routine), argv, kws);
    } catch (const qelhost::Error &e) {
      error = e;
    }
    warnings = qelhost::take_warnings();
  }
  py::list py_warnings = warnings_as_python(warnings);
  if (error)
    return py::make_tuple(py::none(), py::none(), py::none(), py_warnings,
                          py::make_tuple(error->name, error->routine, error->text));

  py::object value = take_variable(result);
  py::list args_out;
  for (const auto &out : arg_outputs) args_out.append(out ? vars.take(*out) : py::none());
  py::dict keywords_out;
  for (const auto &[key, var] : kw_outputs) keywords_out[key] = vars.take(var);
  return py::make_tuple(value, args_out, keywords_out, py_warnings, py::none());
}

}  // namespace kavu_py
