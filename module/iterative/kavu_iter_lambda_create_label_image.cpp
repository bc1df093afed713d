// KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE: the label image after the first merges
// of an iterative schedule, relabelled 0 ... n - 1.
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "iterative/iter_lambda_create_label_image.h"

KAVU_ROUTINE(kavu_iter_lambda_create_label_image) {
  (void)argc;
  (void)argk;
  int32_t n_regions = 0;
  QEL_VPTR label_arg = argv[0], map_arg = argv[1];
  require_array(label_arg);
  require_type(label_arg, QEL_TYP_ULONG, "the 1st argument");
  require_2d(label_arg, "the 1st argument");
  require_fewer_pixels(dim_of(label_arg, 0) * dim_of(label_arg, 1), int64_t{INT32_MAX} + 1,
                       "the 1st argument");
  require_array(map_arg);
  require_type(map_arg, QEL_TYP_ULONG, "the 2nd argument");
  require_no_reserved_labels(label_arg, "the 1st argument");

  QEL_VPTR out_var;
  const QEL_MEMINT dims[] = {dim_of(label_arg, 0), dim_of(label_arg, 1)};
  auto *out = reinterpret_cast<uint32_t *>(
      make_result_array(QEL_TYP_ULONG, 2, dims, QEL_ARR_INI_ZERO, &out_var));

  // Only the first dimension of the label map is read: its pairs are applied.
  const auto n_pairs = static_cast<int32_t>(dim_of(map_arg, 0) / 2);
  const kavu_status status = iter_lambda_create_label_image(
      data_of<uint32_t>(label_arg), static_cast<int32_t>(dims[0]), static_cast<int32_t>(dims[1]),
      data_of<uint32_t>(map_arg), n_pairs, out, &n_regions);
  // Only -1 arises once the reserved labels are refused above; a label image
  // that the worker hashes itself holds every label it looks up.
  if (status != 0) abort_on_status(status);

  QEL_VarCopy(out_var, argv[2]);
  return QEL_GettmpLong(n_regions);
}
