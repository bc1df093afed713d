// Multilevel labelling worker: one raster scan that hands out provisional labels
// and records joins in an equivalence table, then a flatten-and-renumber pass
// over the table and a relabelling pass over the image.
#include "labelutil/multilevel_label_region.h"

#include "host/qel.h"
#include "containers/status.h"

namespace {

uint32_t find_root(const uint32_t *equiv, uint32_t k) {
  while (equiv[k] != k) k = equiv[k];
  return k;
}

// First pass. Invariant used throughout: a usable pixel always receives a
// provisional label >= 1, so out[q] != 0 tells whether an already visited
// neighbour q is usable, and only the current pixel needs the exclusion table.
// In equiv, every label points at a smaller or equal one; roots point at
// themselves and are the smallest label of their set. The table comes
// uninitialised: equiv[next] = next is stored before each pixel, so every label
// is its own root when handed out and only the entries of labels in use are
// ever touched (next <= p + 1 at pixel p, so the store stays inside the table).
// The image, the labels and the table are distinct arrays; saying so lets the
// compiler keep the row's values in registers across the table stores.
template <bool Masked, typename Value>
uint32_t label_provisionally(const Value *__restrict v, int64_t ncols, int64_t nrows,
                             const open_hash *excl, uint32_t *__restrict out,
                             uint32_t *__restrict equiv) {
  auto usable = [excl](int64_t p) {
    if constexpr (Masked) {
      int32_t pos;
      return open_hash_lookup(excl, static_cast<uint32_t>(p), &pos) != 0;
    } else {
      (void)excl;
      (void)p;
      return true;
    }
  };
  uint32_t next = 1;
  equiv[0] = 0;
  for (int64_t p = 0; p < ncols; ++p) {
    equiv[next] = next;
    if (!usable(p))
      out[p] = 0;
    else if (p > 0 && out[p - 1] != 0 && v[p] == v[p - 1])
      out[p] = out[p - 1];
    else
      out[p] = next++;
  }
  for (int64_t row = ncols; row < ncols * nrows; row += ncols) {
    const int64_t first = row;
    equiv[next] = next;
    if (!usable(first))
      out[first] = 0;
    else if (out[first - ncols] != 0 && v[first] == v[first - ncols])
      out[first] = out[first - ncols];
    else
      out[first] = next++;
    // The left neighbour's label and value stay in registers; a masked left
    // neighbour has label 0.
    uint32_t left = out[first];
    Value left_value = v[first];
    // The up label the left pixel joined, or 0. It is in the set of `left`, so
    // a pixel whose up label equals it needs no union (both roots would be
    // `left` itself): this skips the root searches along horizontal edges.
    uint32_t joined_up = 0;
    for (int64_t p = first + 1; p < row + ncols; ++p) {
      equiv[next] = next;
      const Value value = v[p];
      if (!usable(p)) {
        out[p] = left = joined_up = 0;
        left_value = value;
        continue;
      }
      const int64_t u = p - ncols;
      const uint32_t up = out[u];
      // Masked neighbours hold 0; without a mask every neighbour is usable.
      const bool joins_left = (!Masked || left != 0) & (value == left_value);
      const bool joins_up = (!Masked || up != 0) & (value == v[u]);
      // Left wins over up, up over a new label. Selected without branches
      // (conditional moves): on noisy images the equalities are unpredictable.
      const uint32_t up_or_new = joins_up ? up : next;
      uint32_t label = joins_left ? left : up_or_new;
      next += !(joins_left | joins_up);
      if (joins_left & joins_up & (left != up) & (up != joined_up)) {
        // The smaller root survives, which keeps every root the smallest
        // label of its set.
        const uint32_t a = find_root(equiv, left);
        const uint32_t b = find_root(equiv, up);
        if (a < b) {
          label = a;
          equiv[b] = a;
        } else {
          label = b;
          equiv[a] = b;
        }
      }
      out[p] = left = label;
      left_value = value;
      joined_up = joins_up ? up : 0;
    }
  }
  return next;
}

// Points every provisional label below `n_used` at its final region number and
// returns the number of regions. Entry 0 is a root and becomes 0.
int32_t flatten_and_renumber(uint32_t *equiv, uint32_t n_used) {
  // Increasing k: equiv[k] < k is already flattened, so one step reaches its root.
  for (uint32_t k = 0; k < n_used; ++k)
    while (equiv[equiv[k]] != equiv[k]) equiv[k] = equiv[equiv[k]];
  // Roots in increasing order are numbered in the raster order of their first
  // pixel; a non-root's root is smaller and therefore already renumbered.
  uint32_t count = 0;
  for (uint32_t k = 0; k < n_used; ++k) equiv[k] = equiv[k] == k ? count++ : equiv[equiv[k]];
  return static_cast<int32_t>(count) - 1;
}

template <typename Value>
int32_t label_regions(const Value *image, int32_t ncols, int32_t nrows, const int32_t *excluded,
                      int32_t n_excluded, uint32_t *out, int32_t *n_regions) {
  const int64_t n = int64_t{ncols} * nrows;
  open_hash excl{};
  if (excluded) {
    int32_t size;
    const int32_t status = multilevel_init_hash(excluded, n_excluded, &excl, &size);
    if (status != 0) {
      open_hash_destroy(&excl);
      return status;
    }
  }
  QEL_VPTR equiv_var;
  const QEL_MEMINT equiv_dims[] = {n + 1};
  auto *equiv = reinterpret_cast<uint32_t *>(
      QEL_MakeTempArray(QEL_TYP_ULONG, 1, equiv_dims, QEL_ARR_INI_NOP, &equiv_var));
  if (!equiv) {
    open_hash_destroy(&excl);
    return KAVU_NO_MEMORY;
  }

  const uint32_t n_used = excluded
                              ? label_provisionally<true>(image, ncols, nrows, &excl, out, equiv)
                              : label_provisionally<false>(image, ncols, nrows, &excl, out, equiv);
  *n_regions = flatten_and_renumber(equiv, n_used);
  for (int64_t p = 0; p < n; ++p) out[p] = equiv[out[p]];

  QEL_Deltmp(equiv_var);
  open_hash_destroy(&excl);
  return 0;
}

}  // namespace

int32_t multilevel_label_region(const uint32_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions) {
  return label_regions(image, ncols, nrows, excluded, n_excluded, out, n_regions);
}

int32_t multilevel_label_region(const uint16_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions) {
  return label_regions(image, ncols, nrows, excluded, n_excluded, out, n_regions);
}

int32_t multilevel_label_region(const uint8_t *image, int32_t ncols, int32_t nrows,
                                const int32_t *excluded, int32_t n_excluded, uint32_t *out,
                                int32_t *n_regions) {
  return label_regions(image, ncols, nrows, excluded, n_excluded, out, n_regions);
}
