// Builds the pair set: collects every 4-adjacency of two different labels as a
// key (position of the smaller label, position of the larger), sorts the keys
// by counting, so that the distinct ones are numbered in the adjacent-pair
// order and their repeats counted as boundary length, costs the pairs and
// gives each region the list of its pairs.
#include "containers/allocation.h"
#include "containers/radix_sort.h"
#include "containers/status.h"
#include "lambda/pair_set.h"

#include <algorithm>

namespace {

// Every adjacency met, as one sortable word: hash1 above hash2, each in
// `shift` bits (enough for every position), so that the word order is their
// order and the words fit a sort by counting.
struct adjacencies {
  uint64_t *keys;
  int64_t count;
  int64_t capacity;
  int32_t shift;
};

// The bits a position below `n_positions` needs (at least one).
int32_t position_bits(int32_t n_positions) {
  int32_t bits = 1;
  while (bits < 31 && (int64_t{1} << bits) < n_positions) ++bits;
  return bits;
}

uint64_t adjacency_key(const adjacencies &f, int32_t hash1, int32_t hash2) {
  return (uint64_t{static_cast<uint32_t>(hash1)} << f.shift) | static_cast<uint32_t>(hash2);
}
int32_t key_hash1(const adjacencies &f, uint64_t key) {
  return static_cast<int32_t>(key >> f.shift);
}
int32_t key_hash2(const adjacencies &f, uint64_t key) {
  return static_cast<int32_t>(key & ((uint64_t{1} << f.shift) - 1));
}

struct pair_counter {
  adjacencies *found;
  const open_hash *region_hash;
};

// One adjacency of labels la != lb at positions pa, pb. The key puts the
// position of the smaller label (unsigned) first; repeats become blen.
kavu_status count_adjacency(const pair_counter &pc, uint32_t la, uint32_t lb, int32_t pa,
                            int32_t pb) {
  adjacencies &f = *pc.found;
  if (f.count == f.capacity) {
    const int64_t capacity = f.capacity > 0 ? 2 * f.capacity : int64_t{1} << 16;
    auto *grown = static_cast<uint64_t *>(
        kavu_realloc(f.keys, static_cast<size_t>(capacity) * sizeof(uint64_t)));
    if (!grown) return KAVU_NO_MEMORY;
    f.keys = grown;
    f.capacity = capacity;
  }
  f.keys[f.count++] = la < lb ? adjacency_key(f, pa, pb) : adjacency_key(f, pb, pa);
  return KAVU_OK;
}

kavu_status count_labels(const pair_counter &pc, uint32_t la, uint32_t lb) {
  int32_t pa, pb;
  if (open_hash_lookup(pc.region_hash, la, &pa) != 0 ||
      open_hash_lookup(pc.region_hash, lb, &pb) != 0)
    return KAVU_KEY_NOT_FOUND;
  return count_adjacency(pc, la, lb, pa, pb);
}

// Unmasked scan that looks a label up only where it changes: `col` holds the
// position of every pixel of the current row, taken from the row above where
// the label is the same, so horizontal neighbours need no lookup at all.
kavu_status count_unmasked(const pair_counter &pc, const uint32_t *in_lbl, int32_t ncols,
                           int32_t nrows, int32_t *col) {
  for (int32_t r = 0; r < nrows; ++r) {
    const uint32_t *row = in_lbl + static_cast<int64_t>(r) * ncols;
    kavu_status status = KAVU_OK;
    if (r == 0) {
      int32_t pos = -1;
      for (int32_t c = 0; c < ncols; ++c) {
        if ((c == 0 || row[c] != row[c - 1]) && open_hash_lookup(pc.region_hash, row[c], &pos) != 0)
          return KAVU_KEY_NOT_FOUND;
        col[c] = pos;
      }
    } else {
      const uint32_t *above = row - ncols;
      for (int32_t c = 0; c < ncols && status == 0; ++c) {
        if (row[c] == above[c]) continue;
        int32_t pos;
        if (open_hash_lookup(pc.region_hash, row[c], &pos) != 0) return KAVU_KEY_NOT_FOUND;
        status = count_adjacency(pc, above[c], row[c], col[c], pos);
        col[c] = pos;
      }
    }
    for (int32_t c = 0; c + 1 < ncols && status == 0; ++c)
      if (row[c] != row[c + 1])
        status = count_adjacency(pc, row[c], row[c + 1], col[c], col[c + 1]);
    if (status != 0) return status;
  }
  return KAVU_OK;
}

// With a mask an adjacency counts only between two pixels that both take part.
kavu_status count_masked(const pair_counter &pc, const uint32_t *in_lbl, int32_t ncols,
                         int32_t nrows, const uint8_t *mask) {
  for (int32_t r = 0; r < nrows; ++r) {
    const int32_t row = r * ncols;
    for (int32_t i = row; i + 1 < row + ncols; ++i)
      if (in_lbl[i] != in_lbl[i + 1] && mask[i] && mask[i + 1]) {
        const kavu_status status = count_labels(pc, in_lbl[i], in_lbl[i + 1]);
        if (status != 0) return status;
      }
  }
  for (int32_t i = 0; i + ncols < ncols * nrows; ++i)
    if (in_lbl[i] != in_lbl[i + ncols] && mask[i] && mask[i + ncols]) {
      const kavu_status status = count_labels(pc, in_lbl[i], in_lbl[i + ncols]);
      if (status != 0) return status;
    }
  return KAVU_OK;
}

// A margin is a line of labels just outside the first column (stride ncols)
// or the first row (stride 1); entry n + j lies beside border pixel j. Its
// label 0 means "none" only when a mask is given.
kavu_status count_margin(const pair_counter &pc, const uint32_t *in_lbl, const uint32_t *margin,
                         int32_t n, int32_t stride, const uint8_t *mask) {
  for (int32_t j = 0; j < n; ++j) {
    const int32_t i = j * stride;
    const uint32_t a = in_lbl[i], b = margin[n + j];
    if (a == b || (mask && (mask[i] == 0 || b == 0))) continue;
    const kavu_status status = count_labels(pc, a, b);
    if (status != 0) return status;
  }
  return KAVU_OK;
}

kavu_status count_pairs(const pair_counter &pc, const uint32_t *in_lbl, int32_t ncols,
                        int32_t nrows, const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                        const uint8_t *mask) {
  kavu_status status;
  if (mask) {
    status = count_masked(pc, in_lbl, ncols, nrows, mask);
  } else {
    int32_t *col = kavu_alloc_array<int32_t>(static_cast<size_t>(ncols));
    if (!col) return KAVU_NO_MEMORY;
    status = count_unmasked(pc, in_lbl, ncols, nrows, col);
    kavu_free(col);
  }
  if (status == 0 && margin_vlbl)
    status = count_margin(pc, in_lbl, margin_vlbl, nrows, ncols, mask);
  if (status == 0 && margin_hlbl) status = count_margin(pc, in_lbl, margin_hlbl, ncols, 1, mask);
  return status;
}

// The distinct keys of the sorted adjacencies, in order: the number of pairs.
int32_t count_distinct(const adjacencies &f) {
  int32_t n = 0;
  for (int64_t i = 0; i < f.count; ++i) n += i == 0 || f.keys[i] != f.keys[i - 1];
  return n;
}

// Numbers and costs the pairs in key order; a key's repeats are its blen.
void make_pairs(const adjacencies &f, int32_t nbands, pair_rec *pairs, int32_t n_pairs,
                const region_rec *regions) {
  int32_t k = -1;
  for (int64_t i = 0; i < f.count; ++i) {
    if (i > 0 && f.keys[i] == f.keys[i - 1]) {
      pairs[k].blen += 1;
      continue;
    }
    pair_rec &p = pairs[++k];
    p.r0 = key_hash1(f, f.keys[i]);
    p.r1 = key_hash2(f, f.keys[i]);
    p.blen = 1;
  }
  for (k = 0; k < n_pairs; ++k) {
    pair_rec &p = pairs[k];
    t_set_weight_intensity_diff(nbands, p.r0, regions[p.r0].area, k, p.r1, pairs, regions);
    p.t = p.s / static_cast<float>(p.blen);
  }
}

// Gives every region the list of its pairs in ascending neighbour position. A
// region meets its pairs in two ascending runs (as r0 and as r1), interleaved,
// so each list is sorted once filled.
kavu_status link_pairs(const pair_rec *pairs, int32_t n_pairs, region_rec *regions,
                       int32_t n_positions, nbr_store *store) {
  for (int32_t k = 0; k < n_pairs; ++k) {
    regions[pairs[k].r0].n_nbrs += 1;
    regions[pairs[k].r1].n_nbrs += 1;
  }
  for (int32_t p = 0; p < n_positions; ++p) {
    region_rec &r = regions[p];
    if (r.n_nbrs == 0) continue;
    r.nbr_class = nbr_class_for(r.n_nbrs);
    r.n_nbrs = 0;
    if (!(r.nbrs = nbr_store_alloc(store, r.nbr_class))) return KAVU_NO_MEMORY;
  }
  for (int32_t k = 0; k < n_pairs; ++k) {
    region_rec &r0 = regions[pairs[k].r0], &r1 = regions[pairs[k].r1];
    r0.nbrs[r0.n_nbrs++] = nbr_entry{pairs[k].r1, k};
    r1.nbrs[r1.n_nbrs++] = nbr_entry{pairs[k].r0, k};
  }
  const auto by_nbr = [](const nbr_entry &x, const nbr_entry &y) { return x.nbr < y.nbr; };
  for (int32_t p = 0; p < n_positions; ++p)
    std::sort(regions[p].nbrs, regions[p].nbrs + regions[p].n_nbrs, by_nbr);
  return KAVU_OK;
}

}  // namespace

kavu_status t_init_pair_set(const uint32_t *in_lbl, const open_hash *region_hash,
                            int32_t n_positions, int32_t ncols, int32_t nrows, int32_t nbands,
                            pair_rec **pair_set, region_rec *region_set, nbr_store *store,
                            int32_t *n_pairs, const uint32_t *margin_vlbl,
                            const uint32_t *margin_hlbl, const uint8_t *mask) {
  adjacencies found{};
  found.shift = position_bits(n_positions);
  const pair_counter pc{&found, region_hash};
  kavu_status status = count_pairs(pc, in_lbl, ncols, nrows, margin_vlbl, margin_hlbl, mask);
  pair_rec *pairs = nullptr;
  int32_t count = 0;
  if (status == 0) {
    status = radix_sort_u64(found.keys, found.count, 2 * found.shift);
  }
  if (status == 0) {
    count = count_distinct(found);
    pairs = kavu_alloc_zeroed<pair_rec>(static_cast<size_t>(count));
    if (pairs) make_pairs(found, nbands, pairs, count, region_set);
    status = pairs ? link_pairs(pairs, count, region_set, n_positions, store) : KAVU_NO_MEMORY;
  }
  kavu_free(found.keys);
  if (status != 0) {
    t_free_pair_set(pairs);
    return status;
  }
  *pair_set = pairs;
  *n_pairs = count;
  return KAVU_OK;
}

void t_free_pair_set(pair_rec *pair_set) { kavu_free(pair_set); }
