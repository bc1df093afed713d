// Embedding API of the embedded QEL host: load a module, make variables, call
// routines by name and read back outputs, errors and warnings. One host per
// process; everything here runs on the caller's thread. Calls on several
// threads run at the same time, each with its own temporaries, messages and
// abort path; loading a module or shutting down waits until no call runs.
// A variable is used by one call at a time (inputs may be shared by calls
// that only read them).
#pragma once

#include "qel.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qelhost {

// A call that the host or the module aborted. `name` is the message name
// (KAVU_MBLK_SEGMENT_NOT_2D, or the host's own such as QEL_M_NOTARRAY),
// `routine` the routine being called, `text` the message as printed.
struct Error : std::runtime_error {
  Error(std::string name, std::string routine, std::string text)
      : std::runtime_error(text), name(std::move(name)), routine(std::move(routine)), text(what()) {}
  std::string name;
  std::string routine;
  std::string text;
};

struct Warning {
  std::string name;
  std::string routine;
  std::string text;
};

// Loads a module by path with dlopen and calls its QEL_Load; returns that result.
// Throws Error when the file cannot be loaded or has no QEL_Load.
int load_module(const std::string &path);
// Calls the QEL_Load of a module linked into the program itself (tests link the
// module statically); returns its result, throws Error as load_module does.
int load_linked_module(int (*qel_load)());

// Named variables live until release(); the caller owns them. Names are kept in
// upper case (QEL_VarName of a variable made as "levels" is "LEVELS"); an empty
// name reads "<Expression>", as temporaries do.
QEL_VPTR make_undefined(const std::string &name);
QEL_VPTR make_long(const std::string &name, int32_t value);
QEL_VPTR make_ulong(const std::string &name, uint32_t value);
QEL_VPTR make_double(const std::string &name, double value);
QEL_VPTR make_string(const std::string &name, const std::string &value);
QEL_VPTR make_scalar(const std::string &name, int type, const void *value);
// An array of `type` with dims[0] varying fastest. With `borrow`, the variable
// uses `data` in place (the caller keeps it alive); otherwise the data is copied
// (or zeroed when `data` is null).
QEL_VPTR make_array(const std::string &name, int type, const std::vector<int64_t> &dims,
                    const void *data, bool borrow = false);
void release(QEL_VPTR v);

struct Keyword {
  std::string name;
  QEL_VPTR var;
};

// Calls a routine by name. Keywords are matched case-insensitively; a unique
// prefix is accepted. Returns the function value as a variable the caller owns
// (release it). Throws Error when the call aborts; every temporary the call made
// is released before the throw.
QEL_VPTR call(const std::string &routine, const std::vector<QEL_VPTR> &args,
              const std::vector<Keyword> &keywords = {});

// Print-and-return messages of this thread's calls (and loads) since its last
// call of take_warnings.
std::vector<Warning> take_warnings();

// Element size in bytes of a type code, 0 for undefined / string.
int type_size(int type);
const char *type_name(int type);

// Number of temporaries the host holds at the moment, on all threads (0 when no call runs).
int64_t live_temporaries();

// Registered routine names, in registration order.
std::vector<std::string> routine_names();
struct RoutineInfo {
  std::string name;
  int arg_min, arg_max, flags;
  bool is_function;
};
std::vector<RoutineInfo> routines();

// Runs the registered exit handlers and forgets loaded routines (as the host does at exit).
void shutdown();

}  // namespace qelhost
