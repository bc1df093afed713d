// libFuzzer target: decodes its input into one routine call through the
// embedded host (routine, argument kinds, types, shapes and values, keywords
// present or absent, share files with arbitrary bytes, an allocation to refuse)
// and checks that the call either returns or aborts with a message, and that it
// leaves no temporary behind. Crashes and sanitizer reports are the findings.
// Arrays can take over the first array's sizes, and values can be the top
// words of either label width, where a label meets a worker's own markers.
#include "containers/allocation.h"
#include "frame/keywords.h"
#include "frame/routines.h"
#include "qelhost.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int QEL_Load();

// A refused allocation is an answer the module must handle, not a finding.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// Consumes the input front to back; an exhausted input reads zeros.
struct Input {
  const uint8_t *p;
  size_t n;
  std::vector<int64_t> first_dims;  // of the call's first array, for later ones to take over
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint32_t word() { return byte() | byte() << 8 | byte() << 16 | uint32_t{byte()} << 24; }
};

const std::string &scratch_dir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/kavu_fuzz_XXXXXX";
    const char *d = mkdtemp(templ);
    if (!d) std::abort();
    return std::string(d);
  }();
  return dir;
}

// File names always stay inside the scratch directory; share files start with
// bytes from the input, so corrupt and truncated files are explored too.
std::string file_name(Input &in) {
  const std::string base = scratch_dir() + "/f" + std::to_string(in.byte() % 4);
  for (const char *suffix : {".idx", ".info"}) {
    const size_t len = in.byte() % 64;
    FILE *f = std::fopen((base + suffix).c_str(), "wb");
    if (!f) std::abort();
    for (size_t i = 0; i < len; ++i) std::fputc(in.byte(), f);
    std::fclose(f);
  }
  return base;
}

// The top of a label type, from its largest real label up: the flooding
// workers' markers and the hash tables' slot words, in 32 bits, in 16 bits and
// in the low 16 bits of a wider label.
uint32_t top_label(uint8_t b) {
  const uint32_t below = b % 6;
  static const uint32_t tops[] = {0xFFFFFFFFu, 0xFFFFu, 0x1FFFFu};
  return tops[b / 6 % 3] - below;
}

// Values a fault is likely to hide behind.
double element(Input &in) {
  static const double special[] = {
      0,   1,        2,         3,    -1, 65535, 65530, 4294967295.0, 4294967294.0, 2147483648.0,
      NAN, INFINITY, -INFINITY, 1e30, 0.5};
  const uint8_t b = in.byte();
  if (b < 128) return b % 8;
  if (b < 160) return special[b % (sizeof special / sizeof special[0])];
  if (b < 224) return top_label(b);
  return static_cast<double>(in.word());
}

template <typename T>
void fill(void *data, int64_t n, Input &in) {
  auto *d = static_cast<T *>(data);
  for (int64_t i = 0; i < n; ++i) {
    const double v = element(in);
    if constexpr (std::is_floating_point_v<T>) {
      d[i] = static_cast<T>(v);
    } else {
      // Wrap like a caller's integer data would: the low bits of the value.
      const bool fits = std::fabs(v) < 9.2e18;  // also false for NaN
      const uint64_t bits = fits ? static_cast<uint64_t>(static_cast<int64_t>(v)) : 0;
      std::memcpy(&d[i], &bits, sizeof(T));
    }
  }
}

QEL_VPTR make_array(const std::string &name, Input &in) {
  static const int types[] = {QEL_TYP_BYTE,  QEL_TYP_INT,    QEL_TYP_LONG,
                              QEL_TYP_FLOAT, QEL_TYP_DOUBLE, QEL_TYP_UINT,
                              QEL_TYP_ULONG, QEL_TYP_LONG64, QEL_TYP_ULONG64};
  const int type = types[in.byte() % 9];
  const int n_dim = 1 + in.byte() % 3;
  std::vector<int64_t> dims(n_dim);
  for (auto &d : dims) {
    const uint8_t b = in.byte();
    if (b == 255) {
      // Sizes whose byte count overflows: the host must refuse them outright.
      dims.assign(2, int64_t{1} << 62);
      break;
    }
    // Most routines want sizes that match their image's: take one over.
    if (b >= 160 && size_t{b % 3u} < in.first_dims.size())
      d = in.first_dims[b % 3];
    else
      d = b % 13;  // 0 is a size the host refuses too
  }
  QEL_VPTR v = qelhost::make_array(name, type, dims, nullptr);
  if (in.first_dims.empty()) in.first_dims = dims;
  void *data = v->value.arr->data;
  const int64_t n = v->value.arr->n_elts;
  switch (type) {
    case QEL_TYP_BYTE: fill<uint8_t>(data, n, in); break;
    case QEL_TYP_INT: fill<int16_t>(data, n, in); break;
    case QEL_TYP_LONG: fill<int32_t>(data, n, in); break;
    case QEL_TYP_FLOAT: fill<float>(data, n, in); break;
    case QEL_TYP_DOUBLE: fill<double>(data, n, in); break;
    case QEL_TYP_UINT: fill<uint16_t>(data, n, in); break;
    case QEL_TYP_ULONG: fill<uint32_t>(data, n, in); break;
    case QEL_TYP_LONG64: fill<int64_t>(data, n, in); break;
    default: fill<uint64_t>(data, n, in); break;
  }
  return v;
}

QEL_VPTR make_variable(const std::string &name, Input &in) {
  switch (in.byte() % 8) {
    case 0: return qelhost::make_undefined(name);
    case 1: return qelhost::make_long(name, static_cast<int32_t>(in.word()));
    case 2: return qelhost::make_double(name, element(in));
    case 3: return qelhost::make_string(name, file_name(in));
    default: return make_array(name, in);
  }
}

const QEL_KW_PAR *keyword_table(int routine) {
  switch (routine) {
    case 0: return watershed_kw_pars;
    case 1: return segment_get_nbrinfo_kw_pars;
    case 2: return tile_lambda_segment_kw_pars;
    case 3: return iter_lambda_segment_kw_pars;
    case 5: return compute_reg_info_kw_pars;
    case 7: return create_increasing_kw_pars;
    case 8: return multilevel_label_region_kw_pars;
    default: return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int loaded = qelhost::load_linked_module(QEL_Load);
  if (loaded != 1) std::abort();
  Input in{data, size, {}};
  const int routine = in.byte() % 10;
  const QEL_SYSFUN_DEF &def = segmentation_functions[routine];

  std::vector<QEL_VPTR> owned;
  std::vector<QEL_VPTR> args;
  for (int i = 0; i < def.arg_min; ++i) {
    try {
      args.push_back(make_variable("arg" + std::to_string(i), in));
    } catch (const qelhost::Error &) {
      args.push_back(qelhost::make_undefined("arg" + std::to_string(i)));
    }
    owned.push_back(args.back());
  }
  std::vector<qelhost::Keyword> keywords;
  if (const QEL_KW_PAR *kw = keyword_table(routine)) {
    for (; kw->keyword; ++kw) {
      if (in.byte() % 2) continue;
      QEL_VPTR v;
      try {
        v = (kw->flags & QEL_KW_ARRAY) || !(kw->flags & QEL_KW_OUT)
                ? make_variable(kw->keyword, in)
                : qelhost::make_undefined(kw->keyword);
      } catch (const qelhost::Error &) {
        v = qelhost::make_undefined(kw->keyword);
      }
      owned.push_back(v);
      keywords.push_back({kw->keyword, v});
    }
  }

  const uint8_t fail = in.byte();
  kavu_alloc_reset(fail < 32 ? fail + 1 : 0);
  try {
    qelhost::release(qelhost::call(def.name, args, keywords));
  } catch (const qelhost::Error &) {
    // An abort with a message is a fine answer to a faulty call.
  }
  kavu_alloc_reset();
  for (QEL_VPTR v : owned) qelhost::release(v);
  if (qelhost::live_temporaries() != 0) {
    std::fprintf(stderr, "%s left %lld temporaries\n", def.name,
                 static_cast<long long>(qelhost::live_temporaries()));
    std::abort();
  }
  qelhost::take_warnings();
  return 0;
}
