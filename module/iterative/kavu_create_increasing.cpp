// KAVU_CREATE_INCREASING: flags the elements of a vector that are below the
// largest element before them, so that dropping them leaves a non-decreasing
// sequence. Small enough to need no separate worker.
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"

KAVU_ROUTINE(kavu_create_increasing) {
  create_increasing_kw kw{};
  QEL_KWProcessByOffset(argc, argv, argk, create_increasing_kw_pars, nullptr, 1, &kw);
  require_array(argv[0]);
  QEL_VPTR values_var = convert_arg(argv[0], QEL_TYP_FLOAT);
  require_vector(values_var, "argv[0]");

  const QEL_MEMINT n = values_var->value.arr->n_elts;
  QEL_VPTR flags_var;
  auto *flags = reinterpret_cast<uint8_t *>(
      make_result_array(QEL_TYP_BYTE, 1, &n, QEL_ARR_INI_ZERO, &flags_var));
  const float *values = data_of<float>(values_var);
  int32_t count = 0;
  if (n > 1) {
    float running_max = values[0];
    for (QEL_MEMINT i = 1; i < n; ++i) {
      // Written as "keep when >=" so that a NaN on either side is flagged and
      // never becomes the running maximum.
      if (values[i] >= running_max) {
        running_max = values[i];
      } else {
        flags[i] = 1;
        ++count;
      }
    }
  }

  store_output(kw.bad_flags, flags_var);
  release_converted(values_var, argv[0]);
  release_keywords(kw._free);
  return QEL_GettmpLong(count);
}
