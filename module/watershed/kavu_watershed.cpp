// KAVU_WATERSHED: checks and converts the host variables, floods with the
// 32-bit or the 16-bit worker, and hands back the label image, the largest
// label, the merge list and the watershed mask. Unlike every other routine it
// reports resource failures by returning LONG -1, without a message.
#include "containers/aptree.h"
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "watershed/flooding.h"
#include "watershed/labels.h"
#include "watershed/merge_list_array.h"
#include "containers/status.h"

#include <cstdio>

namespace {

// The `need` margin labels the worker reads, as its label type stores them:
// 0 or real labels, never one of its markers.
template <typename Label>
void require_margin_labels(QEL_VPTR kw, const char *kw_name, int64_t need) {
  const uint32_t *m = data_of<uint32_t>(kw);
  for (int64_t i = 0; i < need; ++i) {
    if (!is_marker(static_cast<Label>(m[i]))) continue;
    char reason[128];
    snprintf(reason, sizeof reason, "%s must be below %u, found %u",
             sizeof(Label) < 4 ? "Without LONG the low 16 bits of labels" : "Labels",
             unsigned{LBL_MAX_REAL<Label>} + 1u, m[i]);
    kavu_abort(KAVU_MBLK_SEGMENT_KEYWORD_BADVAL, kw_name, static_cast<const char *>(reason));
  }
}

// A margin label vector: ULONG, 1-D, at least `need` elements, none a marker.
void require_margin(QEL_VPTR kw, const char *kw_name, int64_t need, const char *axis,
                    const char *level_name, bool long_labels) {
  require_keyword_array(kw, QEL_TYP_ULONG, kw_name);
  require_vector(kw, kw_name);
  if (kw->value.arr->n_elts < need)
    kavu_abort(KAVU_MBLK_SEGMENT_DIM_LESS, kw_name, axis, level_name);
  if (long_labels)
    require_margin_labels<uint32_t>(kw, kw_name, need);
  else
    require_margin_labels<uint16_t>(kw, kw_name, need);
}

// What the call makes after its checks; released together on the failure path.
struct watershed_temps {
  QEL_VPTR labels = nullptr;
  QEL_VPTR scratch = nullptr;
  QEL_VPTR wshed_mask = nullptr;
};

void release_inputs(QEL_VPTR levels, QEL_VPTR level_arg, QEL_VPTR image, QEL_VPTR image_arg,
                    int free_flag) {
  release_converted(levels, level_arg);
  release_converted(image, image_arg);
  release_keywords(free_flag);
}

QEL_VPTR failure_result(const watershed_temps &t, QEL_VPTR levels, QEL_VPTR level_arg,
                        QEL_VPTR image, QEL_VPTR image_arg, int free_flag) {
  QEL_Deltmp(t.wshed_mask);
  QEL_Deltmp(t.scratch);
  release_inputs(levels, level_arg, image, image_arg, free_flag);
  QEL_Deltmp(t.labels);
  return QEL_GettmpLong(-1);
}

}  // namespace

KAVU_ROUTINE(kavu_watershed) {
  watershed_kw kw{};
  kw.connectivity = 4;
  kw.start_lbl = 0;
  QEL_KWProcessByOffset(argc, argv, argk, watershed_kw_pars, nullptr, 1, &kw);

  QEL_VPTR level_arg = argv[0], image_arg = argv[1];
  require_array(level_arg);
  require_array(image_arg);
  QEL_VPTR levels = convert_arg(level_arg, QEL_TYP_UINT);
  QEL_VPTR image = convert_arg(image_arg, QEL_TYP_FLOAT);
  const char *level_name = QEL_VarName(level_arg);
  require_2d(levels, level_name);
  const int64_t nx = dim_of(levels, 0), ny = dim_of(levels, 1);
  if (nx < 3 || ny < 3) kavu_abort(KAVU_MBLK_SEGMENT_SM_DIM, level_name);
  // The flooding queue carries pixel indices as 32-bit values.
  require_fewer_pixels(nx * ny, int64_t{INT32_MAX} + 1, level_name);
  require_leading_dims(levels, image, 2, level_name, QEL_VarName(image_arg));
  if (kw.connectivity != 4 && kw.connectivity != 8)
    kavu_abort(KAVU_MBLK_SEGMENT_KEYWORD_BADVAL, "CONNECTIVITY", "Must be 4 or 8");
  if (kw.mask) {
    require_keyword_array(kw.mask, QEL_TYP_BYTE, "MASK");
    require_2d(kw.mask, "MASK");
    require_leading_dims(levels, kw.mask, 2, level_name, "MASK");
  }
  const bool long_labels = kw.long_labels != 0;
  if (kw.margin_hlbl)
    require_margin(kw.margin_hlbl, "MARGIN_HLBL", nx, "X", level_name, long_labels);
  if (kw.margin_vlbl)
    require_margin(kw.margin_vlbl, "MARGIN_VLBL", ny, "Y", level_name, long_labels);

  // A refusal here is a resource failure like the later ones: failure result.
  watershed_temps t;
  const auto fail = [&] {
    return failure_result(t, levels, level_arg, image, image_arg, kw._free);
  };
  const QEL_MEMINT dims[2] = {nx, ny};
  const int label_type = long_labels ? QEL_TYP_ULONG : QEL_TYP_UINT;
  char *labels = QEL_MakeTempArray(label_type, 2, dims, QEL_ARR_INI_ZERO, &t.labels);
  char *sorted = labels ? QEL_GetScratch(&t.scratch, nx * ny, 8) : nullptr;
  char *wshed_mask =
      sorted ? QEL_MakeTempArray(QEL_TYP_BYTE, 2, dims, QEL_ARR_INI_ZERO, &t.wshed_mask) : nullptr;
  if (kw.in_merge_list) require_merge_list(kw.in_merge_list);
  if (!wshed_mask) return fail();

  aptree *pairs = aptree_create();
  if (!pairs) return fail();
  if (kw.in_merge_list && merge_list_load(pairs, kw.in_merge_list) != 0) {
    aptree_destroy(pairs);
    return fail();
  }

  const flooding_request request{data_of<uint16_t>(levels),
                                 data_of<float>(image),
                                 nx,
                                 ny,
                                 dim_of(image, 2),
                                 kw.mask ? data_of<uint8_t>(kw.mask) : nullptr,
                                 kw.start_lbl,
                                 kw.margin_hlbl ? data_of<uint32_t>(kw.margin_hlbl) : nullptr,
                                 kw.margin_vlbl ? data_of<uint32_t>(kw.margin_vlbl) : nullptr,
                                 kw.connectivity,
                                 kw.merge_bd != 0,
                                 reinterpret_cast<int64_t *>(sorted),
                                 pairs,
                                 reinterpret_cast<uint8_t *>(wshed_mask)};
  uint32_t label_count = 0;
  const kavu_status status =
      long_labels ? kavu_watershed_long(request, reinterpret_cast<uint32_t *>(labels), &label_count)
                  : kavu_watershed_int(request, reinterpret_cast<uint16_t *>(labels), &label_count);
  if (status != 0) {
    aptree_destroy(pairs);
    return fail();
  }

  if (kw.max_region_label) {
    QEL_StoreScalarZero(kw.max_region_label, QEL_TYP_ULONG);
    kw.max_region_label->value.ul = label_count;
  }
  QEL_VPTR merge_list = nullptr;
  if (merge_list_flatten(pairs, &merge_list) != 0) return fail();
  if (merge_list) store_output(kw.out_merge_list, merge_list);

  store_output(kw.wshedmask, t.wshed_mask);
  QEL_Deltmp(t.scratch);
  release_inputs(levels, level_arg, image, image_arg, kw._free);
  return t.labels;
}
