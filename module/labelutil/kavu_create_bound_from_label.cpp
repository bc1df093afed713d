// KAVU_CREATE_BOUND_FROM_LABEL: boundary image of a label image, returned
// through argument 2; the function value counts the differing pixel pairs.
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "labelutil/create_bound_from_label.h"

KAVU_ROUTINE(kavu_create_bound_from_label) {
  (void)argc;
  (void)argk;
  require_array(argv[0]);
  QEL_VPTR labels = convert_arg(argv[0], QEL_TYP_ULONG);
  const QEL_ARRAY *arr = labels->value.arr;
  // Anything but a 2-D array is read as one row of dims[0] labels; the rest of
  // a 3-D or larger output stays 0.
  const int32_t ncols = static_cast<int32_t>(arr->dims[0]);
  const int32_t nrows = arr->n_dim == 2 ? static_cast<int32_t>(arr->dims[1]) : 1;

  QEL_VPTR bound;
  auto *out = reinterpret_cast<uint8_t *>(
      make_result_array(QEL_TYP_BYTE, arr->n_dim, arr->dims, QEL_ARR_INI_ZERO, &bound));
  int32_t count = 0;
  create_bound_from_label(data_of<uint32_t>(labels), ncols, nrows, out, &count);

  release_converted(labels, argv[0]);
  QEL_VarCopy(bound, argv[1]);
  return QEL_GettmpLong(count);
}
