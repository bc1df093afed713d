// Test controls of the embedded host: make it refuse things so that failure
// paths can be run. Only tests include this; the embedding API (qelhost.h)
// does not offer it.
#pragma once

#include <cstdint>

namespace qelhost {

struct Refusals {
  bool message_block = false;   // QEL_MessageDefineBlock returns null
  bool routine_table = false;   // QEL_SysRtnAdd returns 0
  int64_t fail_temp_at = 0;     // the n-th temporary array or scratch block from now (1-based) is refused; 0 never
};
void set_refusals(const Refusals &r);

}  // namespace qelhost
