// Keyword processing: match the caller's keywords against a routine's table
// (case-insensitive, unique prefixes, exact names first) and fill the routine's
// keyword result structure by the table's offsets and flag words.
#include "host.h"

#include <cstdlib>
#include <cstring>

namespace qelhost::detail {
namespace {

// Index of the table entry that `given` names, among entries whose mask
// matches; an unknown or ambiguous keyword is a host error.
size_t match_keyword(const QEL_KW_PAR *pars, size_t n, int mask, const std::string &given) {
  size_t found = n, prefixes = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!(pars[i].mask & mask)) continue;
    const std::string name = upper(pars[i].keyword);
    if (name == given) return i;  // an exact name wins over names it prefixes
    if (name.compare(0, given.size(), given) == 0) {
      found = i;
      ++prefixes;
    }
  }
  if (given.empty() || prefixes == 0) host_error("QEL_M_KEYWORD_UNKNOWN", "Keyword %s not allowed.", given.c_str());
  if (prefixes > 1) host_error("QEL_M_KEYWORD_AMBIGUOUS", "Ambiguous keyword abbreviation: %s.", given.c_str());
  return found;
}

// A keyword's own string copy, kept until QEL_KWFree.
QEL_STRING keyword_string(const std::string &text) {
  QEL_STRING s{};
  s.slen = static_cast<int32_t>(text.size());
  if (text.empty()) return s;
  s.stype = 1;
  s.s = strdup(text.c_str());
  this_thread().keyword_copies.push_back(s.s);
  ++state().live;
  return s;
}

// Stores a plain keyword value converted to the entry's type; returns whether
// the host now holds a copy that QEL_KWFree must release.
bool store_value(const QEL_KW_PAR &par, QEL_VPTR value, char *field) {
  const Var *v = var_of(value);
  if (v->pub.type == QEL_TYP_UNDEF)
    host_error("QEL_M_UNDEFVAR", "Variable is undefined: %s.", QEL_VarName(value));
  if (v->pub.flags & QEL_V_NOT_SCALAR) QEL_MessageVE_NOTSCALAR(value, QEL_MSG_ABORT);
  if (par.type == QEL_TYP_STRING) {
    const QEL_STRING s = keyword_string(v->pub.type == QEL_TYP_STRING
                                            ? std::string(v->pub.value.str.s ? v->pub.value.str.s : "")
                                            : number_text(v));
    std::memcpy(field, &s, sizeof s);
    return s.s != nullptr;
  }
  if (!is_numeric(par.type) || !is_numeric(v->pub.type))
    host_error("QEL_M_TYPECONV", "Unable to convert %s from %s to %s.", QEL_VarName(value),
               type_name(v->pub.type), type_name(par.type));
  convert_elements(field, par.type, &v->pub.value, v->pub.type, 1);
  return false;
}

size_t value_size(const QEL_KW_PAR &par) {
  if (par.flags & QEL_KW_OUT) return sizeof(QEL_VPTR);
  if (par.type == QEL_TYP_STRING) return sizeof(QEL_STRING);
  return static_cast<size_t>(type_size(par.type));
}

}  // namespace
}  // namespace qelhost::detail

using namespace qelhost::detail;

extern "C" int QEL_KWProcessByOffset(int argc, QEL_VPTR *, QEL_KW_ARGS *argk,
                                     const QEL_KW_PAR *kw_pars, QEL_VPTR *, int mask,
                                     void *kw_result) {
  size_t n = 0;
  while (kw_pars[n].keyword) ++n;

  // Match everything first, so that a bad keyword aborts before any field is written.
  std::vector<QEL_VPTR> given(n, nullptr);
  if (argk && argk->given) {
    for (const qelhost::Keyword &k : *argk->given) {
      const std::string name = upper(k.name);
      const size_t i = match_keyword(kw_pars, n, mask, name);
      if (given[i])
        host_error("QEL_M_KEYWORD_DUPLICATE", "Duplicate keyword %s.", upper(kw_pars[i].keyword).c_str());
      given[i] = k.var;
    }
  }

  char *base = static_cast<char *>(kw_result);
  int must_free = 0;
  for (size_t i = 0; i < n; ++i) {
    const QEL_KW_PAR &par = kw_pars[i];
    if (!(par.mask & mask)) continue;
    char *field = base + par.value;
    if (par.specified) {
      const int present = given[i] != nullptr;
      std::memcpy(base + par.specified, &present, sizeof present);
    }
    if (!given[i]) {
      // Flag word 0 leaves the field alone: the routine preset its default there.
      if (par.flags & QEL_KW_ZERO) std::memset(field, 0, value_size(par));
    } else if (par.flags & QEL_KW_OUT) {
      std::memcpy(field, &given[i], sizeof(QEL_VPTR));  // by reference, input or output
    } else {
      must_free |= store_value(par, given[i], field);
    }
  }
  std::memcpy(base, &must_free, sizeof must_free);
  return argc;
}

extern "C" void QEL_KWFree(void) {
  Thread &t = this_thread();
  for (char *s : t.keyword_copies) std::free(s);
  state().live -= static_cast<int64_t>(t.keyword_copies.size());
  t.keyword_copies.clear();
}
