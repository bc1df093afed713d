// Internal records of the embedded host: the record behind every QEL_VPTR, the
// host-wide state, the abort exception and the type dispatch shared by the
// host's files. Nothing here is part of the embedding API.
#pragma once

#include "qelhost.h"

#include <cstdint>
#include <memory>
#include <mutex>
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
struct Var {
  QEL_VARIABLE pub;
  QEL_ARRAY desc;      // an array value's descriptor; pub.value.arr points here
  char *name;          // upper case (malloc'd); null for temporaries and unnamed values
  bool borrowed;       // desc.data belongs to the caller and is never freed here
  uint64_t call;       // serial of the call that made this temporary, 0 outside calls
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

struct State {
  std::unordered_set<Var *> temps;            // live temporaries
  std::vector<char *> keyword_copies;         // string keyword values until QEL_KWFree
  std::string routine;                        // routine being called; empty outside calls
  uint64_t call_serial = 0;                   // current call, 0 outside calls
  uint64_t calls_made = 0;
  Refusals refusals;
  int64_t temp_requests = 0;                  // arrays and scratch blocks since set_refusals
  std::vector<Warning> warnings;
  std::vector<std::unique_ptr<QEL_MSG_BLOCK_REC>> blocks;  // never freed: modules keep handles
  std::vector<Routine> routines;
  std::vector<void (*)()> exit_handlers;
  std::recursive_mutex mutex;
};
State &state();

// The embedding API may be used from several threads (Python lets go of its
// own lock during a call), but the host does one thing at a time. The QEL_
// operations need no lock of their own: inside a call its thread holds it.
inline std::unique_lock<std::recursive_mutex> lock_host() {
  return std::unique_lock<std::recursive_mutex>(state().mutex);
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
