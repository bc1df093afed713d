// KAVU_SEGMENT_GET_NBRINFO(label image, file name [, MAX_LBL=m]): writes the
// region adjacency of the label image to the file and to file + ".idx".
#include "containers/status.h"
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "labelutil/label_range.h"
#include "labelutil/nbr_set.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Labels are compared as signed values in the worker, and a MAX_LBL the caller
// gives must cover every label: refuse what breaks either before it runs.
void require_labels_within(int32_t max_lbl, uint32_t largest, QEL_VPTR label_arg) {
  if (largest > INT_MAX) {
    char reason[160];
    snprintf(reason, sizeof reason, "labels of %s need to be below 2147483648, found %u",
             QEL_VarName(label_arg), largest);
    kavu_abort(KAVU_MBLK_SEGMENT_ERROR, static_cast<const char *>(reason));
  }
  // A negative MAX_LBL is below every label, so it gets the same message.
  if (max_lbl != 0 && max_lbl < static_cast<int32_t>(largest))
    kavu_abort(KAVU_MBLK_SEGMENT_NOT_MEET_MINV, "MAX_LBL", static_cast<int>(largest));
}

// A copy of `text` followed by `suffix`, in host scratch of `size` bytes.
char *scratch_name(const QEL_STRING &text, const char *suffix, QEL_MEMINT size, QEL_VPTR *var) {
  char *name = QEL_GetScratch(var, size, 1);
  if (!name) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  const size_t len = text.s ? static_cast<size_t>(text.slen) : 0;
  memcpy(name, text.s ? text.s : "", len);
  strcpy(name + len, suffix);
  return name;
}

}  // namespace

KAVU_ROUTINE(kavu_segment_get_nbrinfo) {
  segment_get_nbrinfo_kw kw{};
  QEL_KWProcessByOffset(argc, argv, argk, segment_get_nbrinfo_kw_pars, nullptr, 1, &kw);

  require_array(argv[0]);
  QEL_VPTR labels_var = convert_arg(argv[0], QEL_TYP_ULONG);
  const QEL_ARRAY *arr = labels_var->value.arr;
  // The dimension count is not checked: a 1-D array reads dims[1] as 1 row.
  const int32_t ncols = static_cast<int32_t>(arr->dims[0]);
  const int32_t nrows = static_cast<int32_t>(arr->dims[1]);

  QEL_VPTR name_arg = argv[1];
  if (name_arg->type != QEL_TYP_STRING) QEL_MessageVE_REQSTR(name_arg, QEL_MSG_ABORT);
  if (name_arg->flags & QEL_V_NOT_SCALAR) QEL_MessageVE_NOTSCALAR(name_arg, QEL_MSG_ABORT);
  const QEL_STRING &text = name_arg->value.str;
  const QEL_MEMINT len = text.s ? text.slen : 0;
  QEL_VPTR data_name_var, index_name_var;
  const char *data_name = scratch_name(text, "", len + 5, &data_name_var);
  const char *index_name = scratch_name(text, ".idx", len + 9, &index_name_var);

  const uint32_t *labels = data_of<uint32_t>(labels_var);
  require_labels_within(kw.max_lbl, largest_label(labels, int64_t{ncols} * nrows), argv[0]);

  const int32_t status = write_nbr_set(labels, ncols, nrows, data_name, index_name);
  if (status == KAVU_FILE_OPEN_FAIL) kavu_abort(KAVU_MBLK_SEGMENT_FILE_ERR, data_name);
  if (status != 0) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);

  QEL_Deltmp(data_name_var);
  QEL_Deltmp(index_name_var);
  release_converted(labels_var, argv[0]);
  release_keywords(kw._free);
  return QEL_GettmpLong(0);
}
