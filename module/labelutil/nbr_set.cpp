// Neighbour files: adjacent label pairs are counted in one adjacent-pair tree,
// spread into one neighbour tree per label, and each label's sorted neighbour
// list is written with its boundary lengths.
#include "labelutil/nbr_set.h"

#include "containers/allocation.h"
#include "containers/aptree.h"
#include "containers/node_pool.h"
#include "labelutil/le_file.h"
#include "containers/status.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr int32_t kIdCapacity = 100000;

// Counts the adjacency of two differing labels. Boundaries run along rows and
// columns, so the same pair usually comes back at once: the last node found
// is reused (aptree nodes never move or leave before the tree is destroyed).
struct pair_counter {
  aptree *tree;
  aptree_node *last = nullptr;

  bool add(uint32_t a, uint32_t b) {
    // Labels are below 2^31, so signed and unsigned order agree.
    const ap_pair key = a < b ? ap_pair{int32_t(a), int32_t(b), 1} : ap_pair{int32_t(b), int32_t(a), 1};
    if (last && last->hash1 == key.hash1 && last->hash2 == key.hash2) {
      ++last->blen;
      return true;
    }
    aptree_node *node = aptree_exact_query(tree, key);
    if (aptree_node_not_null(tree, node)) {
      ++node->blen;
    } else {
      node = aptree_insert(tree, key);
      if (!node) return false;
    }
    last = node;
    return true;
  }
};

bool count_adjacency(const uint32_t *labels, int32_t ncols, int32_t nrows, aptree *tree) {
  pair_counter counter{tree};
  const ptrdiff_t w = ncols;
  for (ptrdiff_t r = 0; r < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    for (ptrdiff_t c = 0; c + 1 < w; ++c)
      if (row[c] != row[c + 1] && !counter.add(row[c], row[c + 1])) return false;
  }
  for (ptrdiff_t r = 0; r + 1 < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    for (ptrdiff_t c = 0; c < w; ++c)
      if (row[c] != row[c + w] && !counter.add(row[c], row[c + w])) return false;
  }
  return true;
}

// Everything the worker builds, released in one place on every path.
struct nbr_work {
  aptree *pair_tree = nullptr;
  ap_ids *pair_ids = nullptr;
  int32_t *labels = nullptr;  // labels with neighbours, ascending
  int32_t n_labels = 0;
  reg_nbr_set *regions = nullptr;  // by position in `labels`
  int32_t n_regions = 0;           // entries of `regions` whose tree exists
  pair_rec *pairs = nullptr;
  nbr_ids *pair_index = nullptr;  // A: pair indices of one label's neighbours
  nbr_ids *nbr_label = nullptr;   // B: the neighbours' labels
};

void release_pair_tree(nbr_work &w) {
  free_ap_ids(w.pair_ids);
  w.pair_ids = nullptr;
  aptree_destroy(w.pair_tree);
  w.pair_tree = nullptr;
}

void release(nbr_work &w) {
  release_pair_tree(w);
  free_reg_nbr_set(w.n_regions, w.regions);
  kavu_free(w.labels);
  kavu_free(w.pairs);
  free_nbr_ids(w.pair_index);
  free_nbr_ids(w.nbr_label);
}

// The adjacent pairs in key order, numbered 0 ... P - 1 (the pair index).
int32_t collect_pairs(const uint32_t *labels, int32_t ncols, int32_t nrows, nbr_work &w,
                      int32_t *n_pairs) {
  w.pair_tree = aptree_create_pooled();  // one node per adjacent pair
  if (!w.pair_tree || !count_adjacency(labels, ncols, nrows, w.pair_tree)) return KAVU_NO_MEMORY;
  if (init_ap_ids(&w.pair_ids, kIdCapacity) != 0) return KAVU_NO_MEMORY;
  if (aptree_traverse(w.pair_tree, n_pairs, w.pair_ids) != 0) return KAVU_NO_MEMORY;
  return 0;
}

// The labels that have neighbours, ascending: the rows of the region table and
// the order of the records. Sized by the pairs, not by the label range, so a
// sparse or huge label costs nothing.
int32_t collect_labels(int32_t n_pairs, nbr_work &w) {
  w.labels = kavu_alloc_array<int32_t>(2 * size_t(n_pairs) + 1);
  if (!w.labels) return KAVU_NO_MEMORY;
  for (int32_t k = 0; k < n_pairs; ++k) {
    w.labels[2 * k] = w.pair_ids->ids[k].hash1;
    w.labels[2 * k + 1] = w.pair_ids->ids[k].hash2;
  }
  std::sort(w.labels, w.labels + 2 * n_pairs);
  w.n_labels = static_cast<int32_t>(std::unique(w.labels, w.labels + 2 * n_pairs) - w.labels);
  return 0;
}

reg_nbr_set &region_of(nbr_work &w, int32_t label) {
  return w.regions[std::lower_bound(w.labels, w.labels + w.n_labels, label) - w.labels];
}

// One neighbour tree per label with neighbours, and the pair table that the
// trees point into.
int32_t build_region_table(int32_t n_pairs, nbr_work &w) {
  if (collect_labels(n_pairs, w) != 0) return KAVU_NO_MEMORY;
  w.regions = kavu_alloc_zeroed<reg_nbr_set>(size_t(w.n_labels) + 1);
  if (!w.regions) return KAVU_NO_MEMORY;
  // The neighbour trees share one node pool; the trees hold it, the last one
  // destroyed frees it.
  node_pool *pool = node_pool_create(sizeof(nptree_node));
  if (!pool) return KAVU_NO_MEMORY;
  for (int32_t i = 0; i < w.n_labels && (w.regions[i].nbr_tree = nptree_create_in(pool)); ++i)
    ++w.n_regions;
  node_pool_release(pool);
  if (w.n_regions != w.n_labels) return KAVU_NO_MEMORY;
  w.pairs = kavu_alloc_zeroed<pair_rec>(n_pairs);
  if (!w.pairs) return KAVU_NO_MEMORY;
  for (int32_t k = 0; k < n_pairs; ++k) {
    const ap_pair &ap = w.pair_ids->ids[k];
    pair_rec &p = w.pairs[k];
    p.r0 = ap.hash1;
    p.r1 = ap.hash2;
    p.blen = ap.blen;
    p.b = p.e = 0;
    reg_nbr_set &first = region_of(w, p.r0);
    reg_nbr_set &second = region_of(w, p.r1);
    if (!nptree_insert(first.nbr_tree, k, p.r1) || !nptree_insert(second.nbr_tree, k, p.r0))
      return KAVU_NO_MEMORY;
    ++first.n_nbr;
    ++second.n_nbr;
  }
  return 0;
}

// Data record: label, n, the n neighbour labels, the n boundary lengths.
// Index record: label, byte offset of its data record.
int32_t write_records(nbr_work &w, le_file &data, le_file &index) {
  uint32_t offset = 0;  // 32-bit by design: data files stay below 4 GiB
  for (int32_t i = 0; i < w.n_labels; ++i) {
    const uint32_t label = static_cast<uint32_t>(w.labels[i]);
    int32_t n;
    if (nptree_traverse(w.regions[i].nbr_tree, &n, &w.pair_index, &w.nbr_label) != 0) return KAVU_NO_MEMORY;
    le_put(data, label);
    le_put(data, static_cast<uint32_t>(n));
    for (int32_t j = 0; j < n; ++j) le_put(data, w.nbr_label->ids[j]);
    for (int32_t j = 0; j < n; ++j) le_put(data, static_cast<uint32_t>(w.pairs[w.pair_index->ids[j]].blen));
    le_put(index, label);
    le_put(index, offset);
    offset += 8 + 8 * static_cast<uint32_t>(n);
  }
  return 0;
}

// The whole job on `w`, which the caller releases whatever the outcome.
int32_t build_and_write(const uint32_t *labels, int32_t ncols, int32_t nrows, const char *data_name,
                        const char *index_name, nbr_work &w) {
  int32_t n_pairs = 0;
  if (collect_pairs(labels, ncols, nrows, w, &n_pairs) != 0) return KAVU_NO_MEMORY;
  if (build_region_table(n_pairs, w) != 0) return KAVU_NO_MEMORY;
  release_pair_tree(w);
  if (init_nbr_ids(&w.pair_index, kIdCapacity) != 0 || init_nbr_ids(&w.nbr_label, kIdCapacity) != 0)
    return KAVU_NO_MEMORY;

  le_file data, index;
  if (!le_open(data, data_name)) return KAVU_FILE_OPEN_FAIL;
  if (!le_open(index, index_name)) {
    le_close(data);  // the data file stays on disk, empty
    return KAVU_FILE_OPEN_FAIL;
  }
  const int32_t status = write_records(w, data, index);
  const bool data_ok = le_close(data);
  const bool index_ok = le_close(index);
  if (status != 0) return status;
  return data_ok && index_ok ? KAVU_OK : KAVU_FILE_OPEN_FAIL;
}

}  // namespace

void free_reg_nbr_set(int32_t n, reg_nbr_set *table) {
  if (!table) return;
  for (int32_t i = 0; i < n; ++i) nptree_destroy(table[i].nbr_tree);
  kavu_free(table);
}

int32_t write_nbr_set(const uint32_t *labels, int32_t ncols, int32_t nrows, const char *data_name,
                      const char *index_name) {
  nbr_work w;
  const int32_t status = build_and_write(labels, ncols, nrows, data_name, index_name, w);
  release(w);
  return status;
}
