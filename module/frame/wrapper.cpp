#include "frame/wrapper.h"

#include "containers/open_hash.h"
#include "containers/status.h"

#include <cstdio>

const char *kavu_type_name(int type) {
  switch (type) {
    case QEL_TYP_BYTE: return "BYTE";
    case QEL_TYP_INT: return "INT";
    case QEL_TYP_LONG: return "LONG";
    case QEL_TYP_FLOAT: return "FLOAT";
    case QEL_TYP_DOUBLE: return "DOUBLE";
    case QEL_TYP_STRING: return "STRING";
    case QEL_TYP_UINT: return "UINT";
    case QEL_TYP_ULONG: return "ULONG";
    case QEL_TYP_LONG64: return "LONG64";
    case QEL_TYP_ULONG64: return "ULONG64";
    default: return "UNDEFINED";
  }
}

void require_array(QEL_VPTR v) {
  if (!(v->flags & QEL_V_ARR)) QEL_MessageVE_NOTARRAY(v, QEL_MSG_ABORT);
}

QEL_VPTR convert_arg(QEL_VPTR v, int type) { return QEL_VarTypeConvert(v, type); }

void release_converted(QEL_VPTR converted, QEL_VPTR arg) {
  if (converted != arg) QEL_Deltmp(converted);
}

void require_type(QEL_VPTR v, int type, const char *name) {
  if (v->type != type) kavu_abort(KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE, name, kavu_type_name(type));
}

void require_2d(QEL_VPTR v, const char *name) {
  if (v->value.arr->n_dim != 2) kavu_abort(KAVU_MBLK_SEGMENT_NOT_2D, name);
}

void require_12d(QEL_VPTR v, const char *name) {
  const int n = v->value.arr->n_dim;
  if (n != 1 && n != 2) kavu_abort(KAVU_MBLK_SEGMENT_NOT_12D, name);
}

void require_vector(QEL_VPTR v, const char *name) {
  if (v->value.arr->n_dim != 1) kavu_abort(KAVU_MBLK_SEGMENT_NOT_VECTOR, name);
}

void require_leading_dims(QEL_VPTR main, QEL_VPTR other, int n, const char *main_name,
                          const char *other_name) {
  for (int i = 0; i < n; ++i)
    if (dim_of(main, i) != dim_of(other, i))
      kavu_abort(KAVU_MBLK_SEGMENT_DIM_NOT_MATCH, n, main_name, other_name);
}

void require_keyword_array(QEL_VPTR kw, int type, const char *kw_name) {
  require_array(kw);
  require_type(kw, type, kw_name);
}

void require_no_reserved_labels(QEL_VPTR labels, const char *name) {
  const uint32_t *l = data_of<uint32_t>(labels);
  const int64_t n = labels->value.arr->n_elts;
  for (int64_t i = 0; i < n; ++i) {
    if (!open_hash_reserved(l[i])) continue;
    char reason[128];
    snprintf(reason, sizeof reason, "%s holds label %u, which is reserved", name, l[i]);
    kavu_abort(KAVU_MBLK_SEGMENT_ERROR, static_cast<const char *>(reason));
  }
}

void require_merge_list(QEL_VPTR list) {
  require_keyword_array(list, QEL_TYP_ULONG, "IN_MERGE_LIST");
  require_no_reserved_labels(list, "IN_MERGE_LIST");
}

void require_fewer_pixels(int64_t n_pixels, int64_t limit, const char *name) {
  if (n_pixels < limit) return;
  char reason[160];
  snprintf(reason, sizeof reason, "%s needs fewer than %lld pixels", name,
           static_cast<long long>(limit));
  kavu_abort(KAVU_MBLK_SEGMENT_ERROR, static_cast<const char *>(reason));
}

char *make_result_array(int type, int n_dim, const QEL_MEMINT dims[], int init, QEL_VPTR *var) {
  char *data = QEL_MakeTempArray(type, n_dim, dims, init, var);
  if (!data) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  return data;
}

void store_output(QEL_VPTR keyword, QEL_VPTR tmp) {
  if (keyword)
    QEL_VarCopy(tmp, keyword);
  else
    QEL_Deltmp(tmp);
}

void release_keywords(int free_flag) {
  if (free_flag) QEL_KWFree();
}

void abort_on_status(int status, const char *file_name) {
  switch (status) {
    case KAVU_HASH_INSERT_FAIL: kavu_abort(KAVU_MBLK_SEGMENT_HASH_INSERT_FAIL);
    case KAVU_KEY_NOT_FOUND: kavu_abort(KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND);
    case KAVU_FILE_ERROR: kavu_abort(KAVU_MBLK_SEGMENT_FILE_ERR, file_name ? file_name : "");
    default: kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  }
}
