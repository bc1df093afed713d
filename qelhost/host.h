// Internal records of the embedded host: the record behind every QEL_VPTR, the
// host-wide state, the abort exception and the type dispatch shared by the
// host's files. Nothing here is part of the embedding API.
#pragma once

#include "qelhost.h"
#include "test_controls.h"

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

// The keywords of one call as the caller passed them; matched against a
// routine's table only when the routine processes its keywords.
struct QEL_KW_ARGS {
  const std::vector<qelhost::Keyword> *given;
};

struct QEL_MSG_BLOCK_REC {
  std::string name;
  std::vector<std::string> names;    // names[i] has code -i
  std::vector<std::string> formats;
};

namespace qelhost::detail {

// Every QEL_VPTR the host hands out points at the `pub` member of a Var. The
// record is standard-layout, so a QEL_VPTR converts back to its Var.
struct Thread;
struct Var {
  QEL_VARIABLE pub;
  QEL_ARRAY desc;      // an array value's descriptor; pub.value.arr points here
  char *name;          // upper case (malloc'd); null for temporaries and unnamed values
  bool borrowed;       // desc.data belongs to the caller and is never freed here
  uint64_t call;       // serial of the call that made this temporary, 0 outside calls
  Thread *owner;       // the thread whose temporaries this one is among; null for others
};
static_assert(std::is_standard_layout_v<Var>);

inline Var *var_of(QEL_VPTR v) { return reinterpret_cast<Var *>(v); }
inline bool is_temp(const Var *v) { return v->pub.flags & QEL_V_TEMP; }
inline bool is_array(const Var *v) { return v->pub.flags & QEL_V_ARR; }

// What an abort action throws. Deliberately not a std::exception: only the
// host's call boundary (and load_module) catches it and turns it into Error.
struct Abort {
  std::string name, routine, text;
};

struct Routine {
  std::string name;
  QEL_SYSRTN_FUN entry;
  int arg_min, arg_max, flags;
  bool is_function;
};

// What one thread is doing in the host: the call it serves, what that call has
// made so far and the warnings not yet taken. Each thread has its own, so calls
// on different threads share none of it and need no lock for it.
struct Thread {
  std::string routine;                        // routine being called; empty outside calls
  uint64_t call_serial = 0;                   // current call, 0 outside calls
  std::unordered_set<Var *> temps;            // live temporaries made on this thread
  std::vector<char *> keyword_copies;         // string keyword values until QEL_KWFree
  std::vector<Warning> warnings;
  ~Thread();                                  // releases what the thread left behind
};
Thread &this_thread();

// What all threads share. The registry (message blocks, routines, exit
// handlers, refusals) changes only under `registry` held exclusively, by a
// module load, shutdown or set_refusals; a call holds it shared from start to
// end, so that no module is loaded again or shut down under a running call.
// The counters are atomic.
struct State {
  std::vector<std::unique_ptr<QEL_MSG_BLOCK_REC>> blocks;  // never freed: modules keep handles
  std::vector<Routine> routines;
  std::vector<void (*)()> exit_handlers;
  Refusals refusals;
  std::shared_mutex registry;
  std::atomic<uint64_t> calls_made{0};
  std::atomic<int64_t> temp_requests{0};      // arrays and scratch blocks since set_refusals
  std::atomic<int64_t> live{0};               // temporaries and keyword copies of all threads
};
State &state();

// A thread that changes the registry. The QEL_ operations that change it
// (block definition, routine registration) run inside QEL_Load, under the
// lock that load_module already holds, and take none of their own.
inline std::unique_lock<std::shared_mutex> lock_registry() {
  return std::unique_lock<std::shared_mutex>(state().registry);
}
inline std::shared_lock<std::shared_mutex> read_registry() {
  return std::shared_lock<std::shared_mutex>(state().registry);
}

std::string upper(std::string s);
bool is_numeric(int type);

// Variables.
Var *new_temp();
Var *new_named(const std::string &name);
void destroy(Var *v);
void release_value(Var *v);  // leaves the variable undefined (and keeps its temporary flag)
// Validates a shape and fills a descriptor for it (data left null); false when
// n_dim is outside 1..8, a dim is below 1, or the byte count overflows.
bool shape_array(int type, int n_dim, const int64_t *dims, QEL_ARRAY *desc);
void attach_array(Var *v, int type, const QEL_ARRAY &desc, void *data, bool borrowed);
void copy_value(Var *dst, const Var *src);  // deep copy into an undefined dst
bool refuse_temp();                          // counts a temporary array or scratch request
void reclaim_call(uint64_t serial);          // releases what an aborted call left

// Messages. A host message reads "<ROUTINE>: " + the formatted text.
void host_message(const char *name, int action, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
[[noreturn]] void host_error(const char *name, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Conversions (saturating; see conversion.cpp).
void convert_elements(void *dst, int dst_type, const void *src, int src_type, int64_t n);
std::string number_text(const Var *v);  // a numeric scalar as a keyword string
void fill_index(void *data, int type, int64_t n);  // each element its own index

// Calls f(T{}) with the C++ type of a numeric type code.
template <typename F>
decltype(auto) with_type(int type, F &&f) {
  switch (type) {
    case QEL_TYP_BYTE: return f(uint8_t{});
    case QEL_TYP_INT: return f(int16_t{});
    case QEL_TYP_LONG: return f(int32_t{});
    case QEL_TYP_FLOAT: return f(float{});
    case QEL_TYP_DOUBLE: return f(double{});
    case QEL_TYP_UINT: return f(uint16_t{});
    case QEL_TYP_ULONG: return f(uint32_t{});
    case QEL_TYP_LONG64: return f(int64_t{});
    case QEL_TYP_ULONG64: return f(uint64_t{});
    default: host_error("QEL_M_BADTYPE", "Type code %d is not a numeric type.", type);
  }
}

}  // namespace qelhost::detail
