// Checks and conversions shared by the routine wrappers. Wrappers validate once
// here, at the host boundary; workers behind them trust their buffers. Every
// check issues its catalogue message with the abort action, which does not return.
#pragma once

#include "frame/messages.h"
#include "host/qel.h"

#include <cstdint>
#include <cstdlib>

// Issues a message of the module's block with the abort action.
template <typename... Args>
[[noreturn]] void kavu_abort(int code, Args... args) {
  QEL_MessageFromBlock(kavu_segmentation_msg_block, code, QEL_MSG_ABORT, args...);
  std::abort();  // the abort action never returns
}

// The host's name of a type code as messages spell it ("BYTE", "ULONG", ...).
const char *kavu_type_name(int type);

void require_array(QEL_VPTR v);
// The argument converted to `type`: the argument itself when already of it.
QEL_VPTR convert_arg(QEL_VPTR v, int type);
// Releases a converted copy; an argument used in place is left alone.
void release_converted(QEL_VPTR converted, QEL_VPTR arg);

// Exact type test for arguments and keyword arrays that are never converted.
void require_type(QEL_VPTR v, int type, const char *name);
void require_2d(QEL_VPTR v, const char *name);
void require_12d(QEL_VPTR v, const char *name);
void require_vector(QEL_VPTR v, const char *name);
// The first `n` dimensions of `other` equal those of `main`, else
// KAVU_MBLK_SEGMENT_DIM_NOT_MATCH with n, main_name and other_name.
void require_leading_dims(QEL_VPTR main, QEL_VPTR other, int n, const char *main_name,
                          const char *other_name);

// The chain every keyword array goes through first: array, then exact type.
void require_keyword_array(QEL_VPTR kw, int type, const char *kw_name);

// Dimension i of an array (entries beyond n_dim read 1).
inline int64_t dim_of(QEL_VPTR v, int i) { return v->value.arr->dims[i]; }
template <typename T>
T *data_of(QEL_VPTR v) {
  return reinterpret_cast<T *>(v->value.arr->data);
}

// A ULONG label image holds neither 0xFFFFFFFF nor 0xFFFFFFFE: label hash tables
// reserve both as slot markers. Else KAVU_MBLK_SEGMENT_ERROR naming the label.
void require_no_reserved_labels(QEL_VPTR labels, const char *name);

// IN_MERGE_LIST: a ULONG array whose labels are no reserved words either.
void require_merge_list(QEL_VPTR list);

// Workers index pixels with 32-bit integers: an image of `limit` pixels or more
// is refused with KAVU_MBLK_SEGMENT_ERROR before one of them overflows.
void require_fewer_pixels(int64_t n_pixels, int64_t limit, const char *name);

// A new temporary array; a refused allocation issues KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL.
char *make_result_array(int type, int n_dim, const QEL_MEMINT dims[], int init, QEL_VPTR *var);

// Hands a temporary to an output keyword when the caller gave one, else releases it.
void store_output(QEL_VPTR keyword, QEL_VPTR tmp);

// Calls QEL_KWFree when the host asked for it.
void release_keywords(int free_flag);

// Maps a worker's negative status to its message; `file_name` goes with -4.
[[noreturn]] void abort_on_status(int status, const char *file_name = nullptr);
