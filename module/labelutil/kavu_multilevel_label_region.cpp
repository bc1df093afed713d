// KAVU_MULTILEVEL_LABEL_REGION(image, output [, MASK_PTR=indices]): labels the
// 4-connected pieces of equal value; the label image goes into argument 2 and
// the function value is the number of regions.
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "labelutil/multilevel_label_region.h"

#include <cstdio>

KAVU_ROUTINE(kavu_multilevel_label_region) {
  multilevel_label_region_kw kw{};
  int32_t n_regions = 0;
  QEL_KWProcessByOffset(argc, argv, argk, multilevel_label_region_kw_pars, nullptr, 1, &kw);

  require_array(argv[0]);
  // BYTE and UINT images are labelled as they are: their values are equal
  // exactly when their ULONG conversions are.
  const int type = argv[0]->type;
  QEL_VPTR image =
      type == QEL_TYP_BYTE || type == QEL_TYP_UINT ? argv[0] : convert_arg(argv[0], QEL_TYP_ULONG);
  require_12d(image, QEL_VarName(argv[0]));
  const QEL_ARRAY *arr = image->value.arr;
  const int64_t ncols = arr->dims[0];
  const int64_t nrows = arr->n_dim == 2 ? arr->dims[1] : 1;
  require_fewer_pixels(ncols * nrows, multilevel_max_pixels + 1, QEL_VarName(argv[0]));

  const int32_t *excluded = nullptr;
  int32_t n_excluded = 0;
  if (kw.mask_ptr) {
    require_keyword_array(kw.mask_ptr, QEL_TYP_LONG, "MASK_PTR");
    excluded = data_of<int32_t>(kw.mask_ptr);
    n_excluded = static_cast<int32_t>(dim_of(kw.mask_ptr, 0));
  }

  QEL_VPTR labels;
  auto *out = reinterpret_cast<uint32_t *>(
      make_result_array(QEL_TYP_ULONG, arr->n_dim, arr->dims, QEL_ARR_INI_NOP, &labels));
  const auto run = [&](const auto *values) {
    return multilevel_label_region(values, static_cast<int32_t>(ncols), static_cast<int32_t>(nrows),
                                   excluded, n_excluded, out, &n_regions);
  };
  const int32_t status = type == QEL_TYP_BYTE   ? run(data_of<uint8_t>(image))
                         : type == QEL_TYP_UINT ? run(data_of<uint16_t>(image))
                                                : run(data_of<uint32_t>(image));
  if (status != 0) abort_on_status(status);

  release_converted(image, argv[0]);
  QEL_VarCopy(labels, argv[1]);
  release_keywords(kw._free);
  return QEL_GettmpLong(n_regions);
}
