// The host lock and the variables waiting for it.
#include "host_access.h"

#include <vector>

namespace kavu_py {

namespace {

std::mutex pending_mutex;
std::vector<QEL_VPTR> pending;  // guarded by pending_mutex

}  // namespace

std::mutex &host_mutex() {
  static std::mutex m;
  return m;
}

void release_pending() {
  std::vector<QEL_VPTR> now;
  {
    std::lock_guard<std::mutex> lock(pending_mutex);
    now.swap(pending);
  }
  for (QEL_VPTR v : now) qelhost::release(v);
}

void release_soon(QEL_VPTR v) {
  std::unique_lock<std::mutex> host(host_mutex(), std::try_to_lock);
  if (host.owns_lock()) {
    release_pending();
    qelhost::release(v);
    return;
  }
  std::lock_guard<std::mutex> lock(pending_mutex);
  pending.push_back(v);
}

}  // namespace kavu_py
