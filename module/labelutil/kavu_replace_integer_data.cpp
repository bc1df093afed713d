// KAVU_REPLACE_INTEGER_DATA(data, old values, new values): a copy of the data
// with every element equal to old value j replaced by new value j.
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "labelutil/replace_integer_data.h"

#include <cstdio>

namespace {

// The largest element count the routine has ever taken (its refusal message
// names this bound); the worker itself would go up to 2^31 - 1.
constexpr int64_t kMaxElements = 715827883;

// Every old value needs its new value: a shorter third argument would make the
// worker read past its end.
void require_new_for_each_old(QEL_VPTR old_var, QEL_VPTR new_var, QEL_VPTR new_arg) {
  const QEL_MEMINT n_pairs = old_var->value.arr->n_elts;
  if (new_var->value.arr->n_elts >= n_pairs) return;
  char what[160];
  snprintf(what, sizeof what, "The number of elements of %s", QEL_VarName(new_arg));
  kavu_abort(KAVU_MBLK_SEGMENT_NOT_MEET_MINV, static_cast<const char *>(what),
             static_cast<int>(n_pairs));
}

}  // namespace

KAVU_ROUTINE(kavu_replace_integer_data) {
  (void)argc;
  (void)argk;
  QEL_VPTR vars[3];
  for (int i = 0; i < 3; ++i) {
    require_array(argv[i]);
    vars[i] = convert_arg(argv[i], QEL_TYP_ULONG);
  }
  require_new_for_each_old(vars[1], vars[2], argv[2]);

  const QEL_ARRAY *data = vars[0]->value.arr;
  // Element counts are int32 in the worker.
  require_fewer_pixels(data->n_elts, kMaxElements, QEL_VarName(argv[0]));
  const int32_t n = static_cast<int32_t>(data->n_elts);
  const int32_t n_pairs = static_cast<int32_t>(vars[1]->value.arr->n_elts);
  QEL_VPTR result;
  auto *out = reinterpret_cast<uint32_t *>(
      make_result_array(QEL_TYP_ULONG, data->n_dim, data->dims, QEL_ARR_INI_NOP, &result));

  const int32_t status =
      replace_integer_data(data_of<uint32_t>(vars[0]), n, data_of<uint32_t>(vars[1]),
                           data_of<uint32_t>(vars[2]), n_pairs, out);
  if (status != 0) abort_on_status(status);

  for (int i = 0; i < 3; ++i) release_converted(vars[i], argv[i]);
  return result;
}
