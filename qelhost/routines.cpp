// Routine registration, module loading, exit handlers and the call boundary:
// the one place where an aborted call becomes qelhost::Error and where the
// temporaries of a call are reclaimed.
#include "host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>

using namespace qelhost::detail;

namespace {

void run_exit_handlers() {
  std::vector<void (*)()> handlers;
  handlers.swap(state().exit_handlers);  // each handler runs once, even if one registers more
  for (auto handler : handlers) handler();
}

Routine *find_routine(const std::string &name) {
  for (Routine &r : state().routines)
    if (r.name == name) return &r;
  return nullptr;
}

// Marks the extent of one call on this thread: the routine for "%N" and the
// serial that tags the call's temporaries.
struct CallScope {
  explicit CallScope(const std::string &routine) : thread(this_thread()) {
    thread.routine = routine;
    thread.call_serial = ++state().calls_made;
  }
  ~CallScope() {
    thread.routine.clear();
    thread.call_serial = 0;
  }
  Thread &thread;
};

// The function value handed to the caller: a temporary of the call stops being
// one; anything else (an argument, a procedure's nothing) becomes a fresh copy.
QEL_VPTR adopt_result(QEL_VPTR result, const Routine &routine, Thread &thread) {
  Var *r = routine.is_function && result ? var_of(result) : nullptr;
  if (r && is_temp(r) && r->owner == &thread && r->call == thread.call_serial) {
    thread.temps.erase(r);
    --state().live;
    r->pub.flags &= ~QEL_V_TEMP;
    r->call = 0;
    r->owner = nullptr;
    return result;
  }
  Var *owned = new_named("");
  if (r) {
    try {
      copy_value(owned, r);
    } catch (...) {
      destroy(owned);
      throw;
    }
  }
  return &owned->pub;
}

}  // namespace

extern "C" int QEL_SysRtnAdd(const QEL_SYSFUN_DEF *defs, int is_function, int cnt) {
  State &st = state();
  if (st.refusals.routine_table || !defs || cnt < 0) return 0;
  for (int i = 0; i < cnt; ++i)
    if (!defs[i].name || !defs[i].funct_addr || defs[i].arg_min > defs[i].arg_max) return 0;
  for (int i = 0; i < cnt; ++i) {
    Routine r{upper(defs[i].name), defs[i].funct_addr, defs[i].arg_min, defs[i].arg_max,
              defs[i].flags, is_function != 0};
    if (Routine *old = find_routine(r.name))
      *old = r;  // a module loaded again replaces its routines
    else
      st.routines.push_back(r);
  }
  return 1;
}

extern "C" void QEL_ExitRegister(void (*handler)(void)) {
  static bool at_exit_hooked = false;
  if (!at_exit_hooked) at_exit_hooked = std::atexit(run_exit_handlers) == 0;
  auto &handlers = state().exit_handlers;
  // A module loaded again registers its handler again; it still runs once.
  if (std::find(handlers.begin(), handlers.end(), handler) == handlers.end())
    handlers.push_back(handler);
}

namespace qelhost {

int load_module(const std::string &path) {
  // RTLD_LOCAL: the module's symbols stay its own; it reaches the host through
  // its link to libqelhost, so it loads the same way into Python.
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw Error("QEL_M_LOADMODULE", "", "Unable to load module " + path + ": " + dlerror());
  auto entry = reinterpret_cast<int (*)()>(dlsym(handle, "QEL_Load"));
  if (!entry) throw Error("QEL_M_LOADMODULE", "", "Module " + path + " has no QEL_Load.");
  return load_linked_module(entry);
}

int load_linked_module(int (*entry)()) {
  const auto held = lock_registry();
  try {
    return entry();
  } catch (const Abort &a) {
    throw Error(a.name, a.routine, a.text);
  }
}

QEL_VPTR call(const std::string &routine, const std::vector<QEL_VPTR> &args,
              const std::vector<Keyword> &keywords) {
  const std::string name = upper(routine);
  // Checked before taking the registry: a routine calling back into the host
  // from inside QEL_Load would otherwise wait for itself.
  if (this_thread().call_serial) throw Error("QEL_M_NESTEDCALL", name, "Calls do not nest: " + name + ".");
  const auto held = read_registry();
  const Routine *r = find_routine(name);
  if (!r) throw Error("QEL_M_UNKNOWNROUTINE", name, "Function not found: " + name + ".");

  CallScope scope(name);
  try {
    const int argc = static_cast<int>(args.size());
    if (argc < r->arg_min || argc > r->arg_max)
      host_error("QEL_M_NARGS", "Incorrect number of arguments.");
    for (int i = 0; i < argc; ++i)
      if (!args[i]) host_error("QEL_M_NULLARG", "Argument %d is not a variable.", i + 1);
    for (const Keyword &k : keywords) {
      if (!(r->flags & QEL_SYSFUN_DEF_F_KEYWORDS))
        host_error("QEL_M_KEYWORD_UNKNOWN", "Keyword %s not allowed.", upper(k.name).c_str());
      if (!k.var) host_error("QEL_M_NULLARG", "Keyword %s is not a variable.", upper(k.name).c_str());
    }
    std::vector<QEL_VPTR> argv(args);
    QEL_KW_ARGS argk{&keywords};
    return adopt_result(r->entry(argc, argv.data(), &argk), *r, scope.thread);
  } catch (const Abort &a) {
    reclaim_call(scope.thread.call_serial);
    throw Error(a.name, a.routine, a.text);
  } catch (...) {
    reclaim_call(scope.thread.call_serial);
    throw;
  }
}

std::vector<std::string> routine_names() {
  const auto held = read_registry();
  std::vector<std::string> names;
  for (const Routine &r : state().routines) names.push_back(r.name);
  return names;
}

std::vector<RoutineInfo> routines() {
  const auto held = read_registry();
  std::vector<RoutineInfo> out;
  for (const Routine &r : state().routines)
    out.push_back(RoutineInfo{r.name, r.arg_min, r.arg_max, r.flags, r.is_function});
  return out;
}

void shutdown() {
  const auto held = lock_registry();
  run_exit_handlers();
  state().routines.clear();
}

}  // namespace qelhost
