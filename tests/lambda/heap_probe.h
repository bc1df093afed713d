// Leak check for failure-path tests. Only LeakSanitizer can tell reliably
// whether a run left a block behind: the allocator's statistics keep freed
// blocks of its per-thread cache counted as in use. Sanitizer builds (make
// sanitize, part of make test) check after each run; other builds run only.
#pragma once

#include <functional>

#if defined(__SANITIZE_ADDRESS__)
#define HEAP_PROBE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_PROBE_LSAN 1
#endif
#endif

#ifdef HEAP_PROBE_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace heap_probe {

// Runs `run`; true when it left an unreachable block behind (sanitizer builds).
inline bool leaks(const std::function<void()> &run) {
  run();
#ifdef HEAP_PROBE_LSAN
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

}  // namespace heap_probe
