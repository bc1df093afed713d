// Growable arrays that collect values in arrival order: lambdas, label-map
// pairs, adjacent pairs, neighbour ids and labels. One record shape and one
// append rule serve all five; the named functions are thin entry points.
#pragma once

#include <cstdint>

// An adjacent region pair with its boundary length (also the aptree's node data).
struct ap_pair {
  int32_t hash1;
  int32_t hash2;
  int32_t blen;
};

// Invariant after every successful operation: count < capacity, so the next
// append always has room (the append that fills the buffer grows it at once).
// An element is `Width` consecutive `Word`s of `ids`.
template <typename Word, int32_t Width>
struct id_array {
  using word = Word;
  static constexpr int32_t width = Width;
  int32_t capacity;
  int32_t count;
  Word *ids;
};

struct lambda_ids : id_array<float, 1> {};
struct lblmap_ids : id_array<uint32_t, 2> {};  // element k at words 2k, 2k + 1
struct ap_ids : id_array<ap_pair, 1> {};
struct nbr_ids : id_array<uint32_t, 1> {};
struct lbl_ids : id_array<uint32_t, 1> {};

int32_t init_lambda_ids(lambda_ids **array, int32_t capacity);
int32_t init_lblmap_ids(lblmap_ids **array, int32_t capacity);
int32_t init_ap_ids(ap_ids **array, int32_t capacity);
int32_t init_nbr_ids(nbr_ids **array, int32_t capacity);
int32_t init_lbl_ids(lbl_ids **array, int32_t capacity);

int32_t add_lambda_id(lambda_ids *array, float value);
int32_t add_lblmap_id(lblmap_ids *array, uint32_t first, uint32_t second);
int32_t add_ap_id(ap_ids *array, ap_pair pair);
int32_t add_nbr_id(nbr_ids *array, uint32_t value);
int32_t add_lbl_id(lbl_ids *array, uint32_t value);

void reinit_nbr_ids(nbr_ids **array);

void free_lambda_ids(lambda_ids *array);
void free_lblmap_ids(lblmap_ids *array);
void free_ap_ids(ap_ids *array);
void free_nbr_ids(nbr_ids *array);
void free_lbl_ids(lbl_ids *array);
