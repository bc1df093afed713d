// Message blocks and message delivery. "%N" expands to the routine being called
// and ": "; an abort throws to the call boundary, print-and-return becomes a
// warning the embedding caller collects.
#include "host.h"

#include <cstdarg>
#include <cstdio>

namespace qelhost::detail {
namespace {

// The format with each "%N" (and one space right after it, which the catalogue
// writes as part of the separator) replaced by the routine prefix.
std::string expand_routine(const std::string &format, const std::string &routine) {
  std::string prefix;
  for (char c : routine) prefix += c == '%' ? "%%" : std::string(1, c);
  if (!prefix.empty()) prefix += ": ";
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      out += "%%";
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'N') {
      out += prefix;
      i += 1;
      if (i + 1 < format.size() && format[i + 1] == ' ') ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

std::string vformat(const char *format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

void deliver(const char *name, int action, std::string text) {
  Thread &t = this_thread();
  if (action == QEL_MSG_ABORT) throw Abort{name, t.routine, std::move(text)};
  t.warnings.push_back(Warning{name, t.routine, std::move(text)});
}

void vhost_message(const char *name, int action, const char *fmt, va_list ap) {
  const std::string format = expand_routine(std::string("%N ") + fmt, this_thread().routine);
  deliver(name, action, vformat(format.c_str(), ap));
}

}  // namespace

void host_message(const char *name, int action, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vhost_message(name, action, fmt, ap);
  va_end(ap);
}

void host_error(const char *name, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  try {
    vhost_message(name, QEL_MSG_ABORT, fmt, ap);
  } catch (...) {
    va_end(ap);
    throw;
  }
  __builtin_unreachable();  // the abort action always throws
}

}  // namespace qelhost::detail

using namespace qelhost::detail;

extern "C" QEL_MSG_BLOCK QEL_MessageDefineBlock(const char *name, int n, const QEL_MSG_DEF *defs) {
  State &st = state();
  if (st.refusals.message_block || !name || n < 0 || (n > 0 && !defs)) return nullptr;
  auto block = std::make_unique<QEL_MSG_BLOCK_REC>();
  block->name = name;
  for (int i = 0; i < n; ++i) {
    if (!defs[i].name || !defs[i].format) return nullptr;
    block->names.emplace_back(defs[i].name);
    block->formats.emplace_back(defs[i].format);
  }
  // A module loaded again defines its block again: the handle it had stays valid.
  for (auto &old : st.blocks)
    if (old->name == block->name) {
      *old = std::move(*block);
      return old.get();
    }
  st.blocks.push_back(std::move(block));
  return st.blocks.back().get();
}

extern "C" void QEL_MessageFromBlock(QEL_MSG_BLOCK block, int code, int action, ...) {
  bool known = false;
  for (const auto &b : state().blocks) known = known || b.get() == block;
  const int64_t index = -static_cast<int64_t>(code);
  if (!known || index < 0 || index >= static_cast<int64_t>(block->names.size()))
    host_error("QEL_M_BADMSGCODE", "No message %d in this message block.", code);
  va_list ap;
  va_start(ap, action);
  std::string text = vformat(expand_routine(block->formats[index], this_thread().routine).c_str(), ap);
  va_end(ap);
  deliver(block->names[index].c_str(), action, std::move(text));
}

extern "C" void QEL_MessageVE_NOTARRAY(QEL_VPTR v, int action) {
  host_message("QEL_M_NOTARRAY", action, "Expression must be an array in this context: %s.",
               QEL_VarName(v));
}

extern "C" void QEL_MessageVE_NOTSCALAR(QEL_VPTR v, int action) {
  host_message("QEL_M_NOTSCALAR", action, "Expression must be a scalar in this context: %s.",
               QEL_VarName(v));
}

extern "C" void QEL_MessageVE_REQSTR(QEL_VPTR v, int action) {
  host_message("QEL_M_REQSTR", action, "String expression required in this context: %s.",
               QEL_VarName(v));
}

std::vector<qelhost::Warning> qelhost::take_warnings() {
  std::vector<Warning> out;
  out.swap(this_thread().warnings);
  return out;
}
