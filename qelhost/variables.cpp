// Variables: named ones the embedding caller owns, temporaries the host tracks
// per call, and the QEL_ operations that make, move and release them.
#include "host.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace qelhost::detail {

State &state() {
  static State *s = new State;  // never destroyed: exit handlers run after static destructors
  return *s;
}

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool is_numeric(int type) { return type_size(type) > 0; }

Thread &this_thread() {
  thread_local Thread t;
  return t;
}

Thread::~Thread() {
  while (!temps.empty()) destroy(*temps.begin());
  for (char *s : keyword_copies) std::free(s);
  state().live -= static_cast<int64_t>(keyword_copies.size());
}

Var *new_temp() {
  Thread &t = this_thread();
  Var *v = new Var{};
  v->pub.flags = QEL_V_TEMP;
  v->call = t.call_serial;
  v->owner = &t;
  t.temps.insert(v);
  ++state().live;
  return v;
}

Var *new_named(const std::string &name) {
  Var *v = new Var{};
  v->name = strdup(upper(name).c_str());
  return v;
}

void release_value(Var *v) {
  if (is_array(v)) {
    if (!v->borrowed) std::free(v->desc.data);
  } else if (v->pub.type == QEL_TYP_STRING) {
    std::free(v->pub.value.str.s);
  }
  v->pub.type = QEL_TYP_UNDEF;
  v->pub.flags &= QEL_V_TEMP;
  v->pub.value = {};
  v->desc = {};
  v->borrowed = false;
}

void destroy(Var *v) {
  release_value(v);
  if (v->owner && v->owner->temps.erase(v)) --state().live;
  std::free(v->name);
  delete v;
}

bool shape_array(int type, int n_dim, const int64_t *dims, QEL_ARRAY *desc) {
  *desc = {};
  const int64_t elt = type_size(type);
  if (elt == 0 || n_dim < 1 || n_dim > QEL_MAX_ARRAY_DIM) return false;
  int64_t n = 1;
  for (int i = 0; i < QEL_MAX_ARRAY_DIM; ++i) {
    desc->dims[i] = i < n_dim ? dims[i] : 1;
    if (desc->dims[i] < 1 || __builtin_mul_overflow(n, desc->dims[i], &n)) return false;
  }
  int64_t bytes;
  if (__builtin_mul_overflow(n, elt, &bytes)) return false;
  desc->elt_len = elt;
  desc->arr_len = bytes;
  desc->n_elts = n;
  desc->n_dim = static_cast<UCHAR>(n_dim);
  return true;
}

void attach_array(Var *v, int type, const QEL_ARRAY &desc, void *data, bool borrowed) {
  v->pub.type = static_cast<UCHAR>(type);
  v->pub.flags = (v->pub.flags & QEL_V_TEMP) | QEL_V_ARR;
  v->desc = desc;
  v->desc.data = static_cast<UCHAR *>(data);
  v->pub.value.arr = &v->desc;
  v->borrowed = borrowed;
}

void copy_value(Var *dst, const Var *src) {
  if (is_array(src)) {
    void *data = std::malloc(static_cast<size_t>(src->desc.arr_len));
    if (!data) host_error("QEL_M_NOMEM", "Unable to allocate memory to copy an array.");
    std::memcpy(data, src->desc.data, static_cast<size_t>(src->desc.arr_len));
    attach_array(dst, src->pub.type, src->desc, data, false);
    return;
  }
  dst->pub.type = src->pub.type;
  dst->pub.value = src->pub.value;
  if (src->pub.type == QEL_TYP_STRING && src->pub.value.str.s)
    dst->pub.value.str.s = strdup(src->pub.value.str.s);
}

bool refuse_temp() {
  State &st = state();
  const int64_t request = ++st.temp_requests;
  return st.refusals.fail_temp_at > 0 && request == st.refusals.fail_temp_at;
}

void reclaim_call(uint64_t serial) {
  std::vector<Var *> made;
  for (Var *v : this_thread().temps)
    if (v->call == serial) made.push_back(v);
  for (Var *v : made) destroy(v);
  QEL_KWFree();
}

}  // namespace qelhost::detail

using namespace qelhost::detail;

// ---- QEL_ operations --------------------------------------------------------

extern "C" char *QEL_MakeTempArray(int type, int n_dim, const QEL_MEMINT dims[], int init,
                                   QEL_VPTR *var) {
  *var = nullptr;
  if (refuse_temp()) return nullptr;
  QEL_ARRAY desc;
  if (init < QEL_ARR_INI_NOP || init > QEL_ARR_INI_INDEX || !shape_array(type, n_dim, dims, &desc))
    return nullptr;
  const size_t bytes = static_cast<size_t>(desc.arr_len);
  void *data = init == QEL_ARR_INI_ZERO ? std::calloc(bytes, 1) : std::malloc(bytes);
  if (!data) return nullptr;
  if (init == QEL_ARR_INI_INDEX) fill_index(data, type, desc.n_elts);
  Var *v = new_temp();
  attach_array(v, type, desc, data, false);
  *var = &v->pub;
  return static_cast<char *>(data);
}

extern "C" char *QEL_GetScratch(QEL_VPTR *var, QEL_MEMINT n_elts, QEL_MEMINT elt_size) {
  *var = nullptr;
  if (refuse_temp()) return nullptr;
  int64_t bytes;
  if (n_elts < 0 || elt_size < 0 || __builtin_mul_overflow(n_elts, elt_size, &bytes)) return nullptr;
  void *data = std::malloc(bytes > 0 ? static_cast<size_t>(bytes) : 1);
  if (!data) return nullptr;
  // A scratch block is a byte vector of its size (an empty block still gets a
  // valid pointer, so that "no elements" is not mistaken for a failure).
  QEL_ARRAY desc{};
  desc.elt_len = 1;
  desc.arr_len = desc.n_elts = bytes;
  desc.n_dim = 1;
  for (int64_t &d : desc.dims) d = 1;
  desc.dims[0] = bytes;
  Var *v = new_temp();
  attach_array(v, QEL_TYP_BYTE, desc, data, false);
  *var = &v->pub;
  return static_cast<char *>(data);
}

extern "C" void QEL_Deltmp(QEL_VPTR v) {
  if (v && is_temp(var_of(v))) destroy(var_of(v));
}

extern "C" QEL_VPTR QEL_GettmpLong(int32_t value) {
  Var *v = new_temp();
  v->pub.type = QEL_TYP_LONG;
  v->pub.value.l = value;
  return &v->pub;
}

extern "C" void QEL_VarCopy(QEL_VPTR src, QEL_VPTR dst) {
  if (src == dst) return;
  Var *s = var_of(src), *d = var_of(dst);
  release_value(d);
  if (!is_temp(s)) {
    copy_value(d, s);
    return;
  }
  // Move the value: the descriptor moves into the destination's record.
  d->pub.type = s->pub.type;
  d->pub.flags = (d->pub.flags & QEL_V_TEMP) | (s->pub.flags & ~QEL_V_TEMP);
  d->pub.value = s->pub.value;
  d->desc = s->desc;
  d->borrowed = s->borrowed;
  if (is_array(d)) d->pub.value.arr = &d->desc;
  s->pub.type = QEL_TYP_UNDEF;
  s->pub.flags = QEL_V_TEMP;
  s->pub.value = {};
  s->desc = {};
  destroy(s);
}

extern "C" void QEL_StoreScalarZero(QEL_VPTR dest, int type) {
  if (!is_numeric(type) && type != QEL_TYP_STRING)
    host_error("QEL_M_BADTYPE", "Type code %d is not a scalar type.", type);
  Var *d = var_of(dest);
  release_value(d);
  d->pub.type = static_cast<UCHAR>(type);
}

extern "C" const char *QEL_VarName(QEL_VPTR v) {
  const Var *var = var_of(v);
  return var->name && var->name[0] ? var->name : "<Expression>";
}

// ---- embedding API ----------------------------------------------------------

namespace qelhost {

int type_size(int type) {
  switch (type) {
    case QEL_TYP_BYTE: return 1;
    case QEL_TYP_INT: case QEL_TYP_UINT: return 2;
    case QEL_TYP_LONG: case QEL_TYP_ULONG: case QEL_TYP_FLOAT: return 4;
    case QEL_TYP_DOUBLE: case QEL_TYP_LONG64: case QEL_TYP_ULONG64: return 8;
    default: return 0;
  }
}

const char *type_name(int type) {
  switch (type) {
    case QEL_TYP_BYTE: return "BYTE";
    case QEL_TYP_INT: return "INT";
    case QEL_TYP_LONG: return "LONG";
    case QEL_TYP_FLOAT: return "FLOAT";
    case QEL_TYP_DOUBLE: return "DOUBLE";
    case QEL_TYP_STRING: return "STRING";
    case QEL_TYP_UINT: return "UINT";
    case QEL_TYP_ULONG: return "ULONG";
    case QEL_TYP_LONG64: return "LONG64";
    case QEL_TYP_ULONG64: return "ULONG64";
    default: return "UNDEFINED";
  }
}

QEL_VPTR make_undefined(const std::string &name) {
  return &new_named(name)->pub;
}

QEL_VPTR make_scalar(const std::string &name, int type, const void *value) {
  if (type == QEL_TYP_STRING) return make_string(name, value ? static_cast<const char *>(value) : "");
  if (!is_numeric(type))
    throw Error("QEL_M_BADTYPE", "", "Type code " + std::to_string(type) + " is not a scalar type.");
  Var *v = new_named(name);
  v->pub.type = static_cast<UCHAR>(type);
  if (value) std::memcpy(&v->pub.value, value, static_cast<size_t>(type_size(type)));
  return &v->pub;
}

QEL_VPTR make_long(const std::string &name, int32_t value) {
  return make_scalar(name, QEL_TYP_LONG, &value);
}
QEL_VPTR make_ulong(const std::string &name, uint32_t value) {
  return make_scalar(name, QEL_TYP_ULONG, &value);
}
QEL_VPTR make_double(const std::string &name, double value) {
  return make_scalar(name, QEL_TYP_DOUBLE, &value);
}

QEL_VPTR make_string(const std::string &name, const std::string &value) {
  Var *v = new_named(name);
  v->pub.type = QEL_TYP_STRING;
  v->pub.value.str.slen = static_cast<int32_t>(value.size());
  v->pub.value.str.stype = value.empty() ? 0 : 1;
  v->pub.value.str.s = value.empty() ? nullptr : strdup(value.c_str());
  return &v->pub;
}

QEL_VPTR make_array(const std::string &name, int type, const std::vector<int64_t> &dims,
                    const void *data, bool borrow) {
  QEL_ARRAY desc;
  if (!shape_array(type, static_cast<int>(dims.size()), dims.data(), &desc))
    throw Error("QEL_M_BADDIMS", "",
                std::string("Cannot make a ") + type_name(type) + " array of these dimensions.");
  void *own = nullptr;
  if (borrow) {
    if (!data) throw Error("QEL_M_BADARG", "", "A borrowed array needs its data.");
    own = const_cast<void *>(data);
  } else {
    own = data ? std::malloc(static_cast<size_t>(desc.arr_len))
               : std::calloc(static_cast<size_t>(desc.arr_len), 1);
    if (!own) throw Error("QEL_M_NOMEM", "", "Unable to allocate memory for an array.");
    if (data) std::memcpy(own, data, static_cast<size_t>(desc.arr_len));
  }
  Var *v = new_named(name);
  attach_array(v, type, desc, own, borrow);
  return &v->pub;
}

void release(QEL_VPTR v) {
  if (v) destroy(var_of(v));
}

int64_t live_temporaries() { return state().live; }

void set_refusals(const Refusals &r) {
  const auto held = lock_registry();
  state().refusals = r;
  state().temp_requests = 0;
}

}  // namespace qelhost
