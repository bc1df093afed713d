// The id arrays: one init / append / free body for all five element types.
#include "containers/id_arrays.h"

#include <cstddef>
#include <cstdint>

#include "containers/allocation.h"
#include "containers/status.h"

namespace {

template <typename Array>
size_t buffer_bytes(int32_t capacity) {
  return static_cast<size_t>(capacity) * Array::width * sizeof(typename Array::word);
}

// On failure nothing is left allocated and *out is null, so a caller that
// frees the record anyway (free accepts null) is as safe as one that does not.
template <typename Array>
int32_t id_array_init(Array **out, int32_t capacity) {
  Array *array = kavu_alloc_array<Array>(1);
  *out = array;
  if (!array) return KAVU_NO_MEMORY;
  // A capacity below 1 would leave no room for the first element.
  array->capacity = capacity < 1 ? 1 : capacity;
  array->count = 0;
  array->ids =
      static_cast<typename Array::word *>(kavu_malloc(buffer_bytes<Array>(array->capacity)));
  if (!array->ids) {
    kavu_free(array);
    *out = nullptr;
    return KAVU_NO_MEMORY;
  }
  return 0;
}

// Stores the element, then grows the moment the buffer is full, so the next
// append always has room. A failed growth releases the buffer (ids becomes
// null): the record may then only be freed.
template <typename Word, int32_t Width>
int32_t id_array_add(id_array<Word, Width> *array, const Word (&element)[Width]) {
  Word *slot = array->ids + static_cast<size_t>(array->count) * Width;
  for (int32_t i = 0; i < Width; ++i) slot[i] = element[i];
  if (++array->count < array->capacity) return 0;
  using Array = id_array<Word, Width>;
  Word *grown = nullptr;
  if (array->capacity <= INT32_MAX / 2)
    grown = static_cast<Word *>(kavu_realloc(array->ids, buffer_bytes<Array>(array->capacity * 2)));
  if (!grown) {
    kavu_free(array->ids);
    array->ids = nullptr;
    return KAVU_NO_MEMORY;
  }
  array->ids = grown;
  array->capacity *= 2;
  return 0;
}

template <typename Array>
void id_array_free(Array *array) {
  if (!array) return;
  kavu_free(array->ids);
  kavu_free(array);
}

}  // namespace

int32_t init_lambda_ids(lambda_ids **array, int32_t capacity) {
  return id_array_init(array, capacity);
}
int32_t init_lblmap_ids(lblmap_ids **array, int32_t capacity) {
  return id_array_init(array, capacity);
}
int32_t init_ap_ids(ap_ids **array, int32_t capacity) { return id_array_init(array, capacity); }
int32_t init_nbr_ids(nbr_ids **array, int32_t capacity) { return id_array_init(array, capacity); }
int32_t init_lbl_ids(lbl_ids **array, int32_t capacity) { return id_array_init(array, capacity); }

int32_t add_lambda_id(lambda_ids *array, float value) { return id_array_add(array, {value}); }
int32_t add_lblmap_id(lblmap_ids *array, uint32_t first, uint32_t second) {
  return id_array_add(array, {first, second});
}
int32_t add_ap_id(ap_ids *array, ap_pair pair) { return id_array_add(array, {pair}); }
int32_t add_nbr_id(nbr_ids *array, uint32_t value) { return id_array_add(array, {value}); }
int32_t add_lbl_id(lbl_ids *array, uint32_t value) { return id_array_add(array, {value}); }

void reinit_nbr_ids(nbr_ids **array) { (*array)->count = 0; }

void free_lambda_ids(lambda_ids *array) { id_array_free(array); }
void free_lblmap_ids(lblmap_ids *array) { id_array_free(array); }
void free_ap_ids(ap_ids *array) { id_array_free(array); }
void free_nbr_ids(nbr_ids *array) { id_array_free(array); }
void free_lbl_ids(lbl_ids *array) { id_array_free(array); }
