// Reading and writing the merge-list array that passes between calls.
#include "watershed/merge_list_array.h"

#include "containers/id_arrays.h"
#include "containers/status.h"
#include "frame/wrapper.h"
#include "watershed/merge_pairs.h"

namespace {
constexpr int32_t kPairCapacity = 100000;
}

kavu_status merge_list_load(aptree *pairs, QEL_VPTR list) {
  const uint32_t *e = data_of<uint32_t>(list);
  const int64_t n_pairs = list->value.arr->n_elts / 2;
  for (int64_t i = 0; i < n_pairs; ++i)
    if (!aptree_insert(pairs, merge_pair_key(e[2 * i], e[2 * i + 1]))) return KAVU_NO_MEMORY;
  return KAVU_OK;
}

kavu_status merge_list_flatten(aptree *pairs, QEL_VPTR *list) {
  *list = nullptr;
  ap_ids *ids = nullptr;
  int32_t count = 0;
  const bool read =
      init_ap_ids(&ids, kPairCapacity) == 0 && aptree_traverse(pairs, &count, ids) == 0;
  aptree_destroy(pairs);
  if (!read) {
    free_ap_ids(ids);
    return KAVU_NO_MEMORY;
  }
  if (count != 0) {
    const QEL_MEMINT n = 2 * QEL_MEMINT{count};
    auto *e = reinterpret_cast<uint32_t *>(
        QEL_MakeTempArray(QEL_TYP_ULONG, 1, &n, QEL_ARR_INI_NOP, list));
    if (!e) {
      free_ap_ids(ids);
      *list = nullptr;
      return KAVU_NO_MEMORY;
    }
    for (int32_t i = 0; i < count; ++i) {
      e[2 * i] = static_cast<uint32_t>(ids->ids[i].hash1);
      e[2 * i + 1] = static_cast<uint32_t>(ids->ids[i].hash2);
    }
  }
  free_ap_ids(ids);
  return KAVU_OK;
}
