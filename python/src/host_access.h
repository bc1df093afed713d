// Access to the embedded host from Python threads. The host serves calls on
// several threads at once and keeps each call's state to its thread, so a
// call needs no lock of ours: it only lets go of the GIL while it runs.
#pragma once

#include <pybind11/pybind11.h>

#include "qelhost.h"

namespace kavu_py {

// Runs f with the GIL released: f must not touch Python objects.
template <typename F>
decltype(auto) without_gil(F &&f) {
  pybind11::gil_scoped_release unlocked;
  return f();
}

}  // namespace kavu_py
