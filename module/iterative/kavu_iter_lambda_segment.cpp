// KAVU_ITER_LAMBDA_SEGMENT: runs the iterative merge schedule on an image and
// hands back the lambdas and the label map through output keywords.
#include "containers/allocation.h"
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "iterative/iterative_lambda_segment.h"

#include <cstring>

namespace {

// Copies a worker array into a new host vector, frees the worker's copy, and
// hands the vector to `keyword` (or releases it). A refused vector frees
// `also_free` too before aborting, so no worker array outlives the call.
template <typename T>
void hand_over(T *values, int64_t n, int type, QEL_VPTR keyword, void *also_free) {
  QEL_VPTR var;
  const QEL_MEMINT dims[] = {n};
  char *data = QEL_MakeTempArray(type, 1, dims, QEL_ARR_INI_ZERO, &var);
  if (!data) {
    kavu_free(values);
    kavu_free(also_free);
    kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  }
  memcpy(data, values, static_cast<size_t>(n) * sizeof(T));
  kavu_free(values);
  store_output(keyword, var);
}

}  // namespace

KAVU_ROUTINE(kavu_iter_lambda_segment) {
  int32_t n_lambdas = 0, n_pairs = 0;
  float *lambdas = nullptr;
  uint32_t *label_map = nullptr;
  iter_lambda_segment_kw kw{};
  QEL_KWProcessByOffset(argc, argv, argk, iter_lambda_segment_kw_pars, nullptr, 1, &kw);

  // The image's rank is not checked: dimensions beyond it read 1, so a 2-D
  // image is one band and a 1-D image one row of one band.
  QEL_VPTR image_arg = argv[0];
  require_array(image_arg);
  QEL_VPTR image_var = convert_arg(image_arg, QEL_TYP_FLOAT);
  // The merging core indexes band values with 32-bit integers.
  require_fewer_pixels(dim_of(image_var, 0) * dim_of(image_var, 1),
                       INT32_MAX / dim_of(image_var, 2) + 1, QEL_VarName(image_arg));
  const auto ncols = static_cast<int32_t>(dim_of(image_var, 0));
  const auto nrows = static_cast<int32_t>(dim_of(image_var, 1));
  const auto nbands = static_cast<int32_t>(dim_of(image_var, 2));

  QEL_VPTR label_var = kw.in_label_img;
  if (label_var) {
    require_keyword_array(label_var, QEL_TYP_ULONG, "IN_LABEL_IMG");
    require_2d(label_var, "IN_LABEL_IMG");
    require_leading_dims(image_var, label_var, 2, QEL_VarName(image_arg), "IN_LABEL_IMG");
    require_no_reserved_labels(label_var, "IN_LABEL_IMG");
  } else {
    // Every pixel its own region: pixel i has label i.
    const QEL_MEMINT dims[] = {ncols, nrows};
    make_result_array(QEL_TYP_ULONG, 2, dims, QEL_ARR_INI_INDEX, &label_var);
  }

  const int32_t status =
      iterative_lambda_segment(data_of<float>(image_var), data_of<uint32_t>(label_var), ncols,
                               nrows, nbands, &lambdas, &n_lambdas, &label_map, &n_pairs);
  if (status != 0) abort_on_status(status);

  if (n_lambdas != 0) hand_over(lambdas, n_lambdas, QEL_TYP_FLOAT, kw.lambdas, label_map);
  if (n_pairs != 0)
    hand_over(label_map, 2 * int64_t{n_pairs}, QEL_TYP_ULONG, kw.label_map, nullptr);

  release_converted(image_var, image_arg);
  if (label_var != kw.in_label_img) QEL_Deltmp(label_var);
  release_keywords(kw._free);
  return QEL_GettmpLong(0);
}
