// Open-address hash set of 32-bit labels: maps a sparse label value to a dense
// slot position that callers use as the index of their own per-label arrays.
// Double hashing over a power-of-two table; the step comes from `primetbl`.
#pragma once

#include <cstdint>
#include <cstdio>

using open_hash_fn = int32_t (*)(uint32_t key, int32_t hash_param);
using open_hash_match = int32_t (*)(uint32_t slot_word, uint32_t key);

struct open_hash {
  int32_t n_positions;
  int32_t hash_param;
  open_hash_fn hash_fn;
  open_hash_fn step_fn;
  open_hash_match match_fn;
  int32_t n_stored;
  uint32_t *slots;
};

// Reserved slot words: these two values can never be stored as keys.
inline constexpr uint32_t OPEN_HASH_EMPTY = 0xFFFFFFFFu;
inline constexpr uint32_t OPEN_HASH_DELETED = 0xFFFFFFFEu;

// A key no table can hold. Insertion does not test it: stored, the empty word
// would read as a free slot and the deleted word as a reusable one. Every door
// through which a label reaches a table refuses these instead: the routines'
// label images, margins and merge lists, the share index file, the labels a
// tile numbers from START_LBL, and the workers that fill tables from them.
constexpr bool open_hash_reserved(uint32_t key) { return key >= OPEN_HASH_DELETED; }

// The first 256 odd primes, 3 ... 1621.
extern const int32_t primetbl[256];

int32_t h1_reg(uint32_t key, int32_t p);
int32_t h2_reg(uint32_t key, int32_t p);
int32_t match_reg(uint32_t slot_word, uint32_t key);
int32_t h3_reg(uint32_t key, int32_t p);
int32_t h4_reg(uint32_t key, int32_t p);

// Turns the expected key count in *count into the number of positions (the
// smallest power of two above 1.5 * count) and returns its log2.
int32_t compute_hash_param(int32_t *count);

int32_t open_hash_init(open_hash *table, int32_t n_positions, int32_t hash_param,
                       open_hash_fn hash_fn, open_hash_fn step_fn, open_hash_match match_fn);
int32_t open_hash_insert(open_hash *table, uint32_t key, int32_t *position);
inline int32_t open_hash_lookup(const open_hash *table, uint32_t key, int32_t *position);
int32_t open_hash_remove(open_hash *table, uint32_t key);
int32_t open_hash_pos_valid(const open_hash *table, int32_t position);
void open_hash_destroy(open_hash *table);
int32_t insert_lbl_hash(open_hash *table, uint32_t label);
void print_table(const open_hash *table, FILE *stream);

// ---- inline lookup ----------------------------------------------------------
// Lookups run once per pixel in the callers' scans, so the home probe is inline
// and the rest of the probe sequence lives out of line. The table must be
// initialised: a destroyed one has no slots to probe.

// Probe i + 1 from probe i. Both `position` and `step` are below n_positions
// (< 2^31), so the sum cannot wrap in 32 unsigned bits and one subtraction
// reduces it.
inline uint32_t open_hash_next(uint32_t position, uint32_t step, uint32_t n_positions) {
  position += step;
  return position >= n_positions ? position - n_positions : position;
}

// A hash result reduced into the table; the usual functions already give an
// in-range value, so the division is skipped on the common path.
inline uint32_t open_hash_reduce(int32_t value, uint32_t n_positions) {
  uint32_t v = static_cast<uint32_t>(value);
  return v < n_positions ? v : v % n_positions;
}

// Probes 1 ... n_positions - 1 of a lookup whose home probe missed.
int32_t open_hash_lookup_rest(const open_hash *table, uint32_t key, uint32_t home,
                              int32_t *position);

inline int32_t open_hash_lookup(const open_hash *table, uint32_t key, int32_t *position) {
  *position = -1;
  const uint32_t n = static_cast<uint32_t>(table->n_positions);
  const uint32_t home = open_hash_reduce(table->hash_fn(key, table->hash_param), n);
  const uint32_t word = table->slots[home];
  if (word == OPEN_HASH_EMPTY) return -1;
  if (table->match_fn(word, key)) {
    *position = static_cast<int32_t>(home);
    return 0;
  }
  return open_hash_lookup_rest(table, key, home, position);
}
