// Access to the embedded host from Python threads. The host keeps its call
// state (temporaries, routine, warnings) in one place for the process, so one
// thread at a time works in it; the GIL is never held while waiting for the
// host, nor waited for while holding it, so neither lock can block the other.
#pragma once

#include <pybind11/pybind11.h>

#include "qelhost.h"

#include <mutex>

namespace kavu_py {

std::mutex &host_mutex();

// Releases variables whose release had to wait (see release_soon).
void release_pending();

// Runs f with the host to itself and the GIL released: f must not touch
// Python objects. Exceptions from f propagate once both locks are back in order.
template <typename F>
decltype(auto) with_host(F &&f) {
  pybind11::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> lock(host_mutex());
  release_pending();
  return f();
}

// Releases a variable now when the host is free, else at the next with_host.
// Safe under the GIL (capsule destructors run there) because it never waits.
void release_soon(QEL_VPTR v);

}  // namespace kavu_py
