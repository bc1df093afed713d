// KAVU_COMPUTE_REG_INFO: per-label pixel counts and per-band sums of an image.
// The wrapper is the whole routine; mean values are left to the caller.
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "labelutil/label_range.h"

#include <climits>
#include <cstdio>

namespace {

// A MAX_LBL given by the caller is the size of both result arrays; a label above
// it would index past them, so the call is refused rather than skipping pixels
// silently.
void require_labels_within(int32_t max_lbl, const uint32_t *labels, int64_t npix) {
  if (max_lbl < 0) kavu_abort(KAVU_MBLK_SEGMENT_NOT_MEET_MINV, "MAX_LBL", 0);
  const uint32_t largest = largest_label(labels, npix);
  if (largest <= static_cast<uint32_t>(max_lbl)) return;
  if (largest <= INT_MAX)
    kavu_abort(KAVU_MBLK_SEGMENT_NOT_MEET_MINV, "MAX_LBL", static_cast<int>(largest));
  char reason[96];
  snprintf(reason, sizeof reason, "label %u is larger than any MAX_LBL", largest);
  kavu_abort(KAVU_MBLK_SEGMENT_ERROR, static_cast<const char *>(reason));
}

// area[L] counts band 0 only; sums accumulate in pixel order, band by band.
void accumulate(const uint32_t *labels, const float *image, int64_t npix, int64_t nb, int64_t n,
                int32_t *area, float *sum) {
  for (int64_t i = 0; i < npix; ++i) {
    const uint32_t l = labels[i];
    area[l] += 1;
    sum[l] += image[i];
  }
  for (int64_t b = 1; b < nb; ++b) {
    const float *band = image + b * npix;
    float *band_sum = sum + b * n;
    for (int64_t i = 0; i < npix; ++i) band_sum[labels[i]] += band[i];
  }
}

}  // namespace

KAVU_ROUTINE(kavu_compute_reg_info) {
  compute_reg_info_kw kw{};
  QEL_KWProcessByOffset(argc, argv, argk, compute_reg_info_kw_pars, nullptr, 1, &kw);

  QEL_VPTR label_arg = argv[0], image_arg = argv[1];
  require_array(label_arg);
  require_array(image_arg);
  QEL_VPTR label_var = convert_arg(label_arg, QEL_TYP_ULONG);
  QEL_VPTR image_var = convert_arg(image_arg, QEL_TYP_FLOAT);

  require_12d(label_var, QEL_VarName(label_arg));
  const bool two_d = label_var->value.arr->n_dim == 2;
  if (two_d) {
    require_leading_dims(label_var, image_var, 2, QEL_VarName(label_arg), QEL_VarName(image_arg));
  } else if (dim_of(label_var, 0) != dim_of(image_var, 0)) {
    kavu_abort(KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH, QEL_VarName(label_arg), QEL_VarName(image_arg));
  }
  const int64_t npix = dim_of(label_var, 0) * (two_d ? dim_of(label_var, 1) : 1);
  const int64_t nb = dim_of(image_var, 2);
  const uint32_t *labels = data_of<uint32_t>(label_var);

  uint32_t maxl;
  if (kw.max_lbl != 0) {
    require_labels_within(kw.max_lbl, labels, npix);
    maxl = static_cast<uint32_t>(kw.max_lbl);
  } else {
    maxl = largest_label(labels, npix);
  }
  const int64_t n = int64_t{maxl} + 1;

  QEL_VPTR area_var, sum_var;
  const QEL_MEMINT area_dims[] = {n};
  const QEL_MEMINT sum_dims[] = {n, nb};
  auto *area = reinterpret_cast<int32_t *>(
      make_result_array(QEL_TYP_LONG, 1, area_dims, QEL_ARR_INI_ZERO, &area_var));
  auto *sum = reinterpret_cast<float *>(
      make_result_array(QEL_TYP_FLOAT, 2, sum_dims, QEL_ARR_INI_ZERO, &sum_var));

  if (nb > 0 && npix > 0) accumulate(labels, data_of<float>(image_var), npix, nb, n, area, sum);

  store_output(kw.regarea, area_var);
  store_output(kw.regsum, sum_var);
  release_converted(label_var, label_arg);
  release_converted(image_var, image_arg);
  release_keywords(kw._free);
  return QEL_GettmpLong(static_cast<int32_t>(maxl));
}
