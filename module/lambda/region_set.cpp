// Region records and merge label lists of every region-hash position, with
// band means and areas accumulated from the image in row order.
#include "containers/allocation.h"
#include "containers/status.h"
#include "lambda/region_set.h"
#include "tile/margins.h"

#include <type_traits>

namespace {

// The merge label lists of a run, one per position, and their nodes, one per
// labelled position, in one block: the lists first, then the nodes. Merging
// only relinks nodes, so the block is released whole, never node by node.
merge_lbl_list *alloc_pooled_lists(const open_hash *region_hash, int32_t n_positions) {
  size_t labelled = 0;
  for (int32_t p = 0; p < n_positions; ++p) labelled += open_hash_pos_valid(region_hash, p);
  const size_t bytes =
      static_cast<size_t>(n_positions) * sizeof(merge_lbl_list) + labelled * sizeof(merge_lbl_node);
  return static_cast<merge_lbl_list *>(kavu_calloc(1, bytes));
}

// Gives every position its band vector (zero), bestp -1 and, when it holds a
// label, its one-label merge list (the next node of the pool). The band
// vectors are one block that starts at record 0. Partial work is left for the
// caller's release.
kavu_status init_records(const open_hash *region_hash, int32_t n_positions, int32_t nbands,
                         region_rec *set, merge_lbl_list *lists) {
  float *gval = kavu_alloc_zeroed<float>(static_cast<size_t>(n_positions) * nbands);
  if (!gval) return KAVU_NO_MEMORY;
  for (int32_t p = 0; p < n_positions; ++p) {
    set[p].gval = gval + static_cast<size_t>(p) * nbands;
    set[p].bestp = -1;
  }
  auto *node = reinterpret_cast<merge_lbl_node *>(lists + n_positions);
  for (int32_t p = 0; p < n_positions; ++p)
    if (open_hash_pos_valid(region_hash, p)) {
      *node = merge_lbl_node{nullptr, region_hash->slots[p]};
      lists[p] = merge_lbl_list{node, node};
      ++node;
    }
  return KAVU_OK;
}

// Without a mask the position found for a pixel serves the following pixels of
// its row while the label stays the same; with one, every counted pixel looks
// its label up. Sums are single precision, in row order, band by band. A
// `Bands` above 0 fixes the band count when compiled (the same additions).
template <bool Masked, int32_t Bands>
kavu_status accumulate(const float *image, const uint32_t *in_lbl, const open_hash *region_hash,
                       int32_t ncols, int32_t nrows, int32_t nbands, const int32_t *band_offset,
                       region_rec *set, const uint8_t *mask) {
  for (int32_t r = 0; r < nrows; ++r) {
    int32_t pos = -1;
    for (int32_t i = r * ncols; i < (r + 1) * ncols; ++i) {
      if constexpr (Masked) {
        if (mask[i] == 0) continue;
        if (open_hash_lookup(region_hash, in_lbl[i], &pos) != 0) return KAVU_KEY_NOT_FOUND;
      } else {
        if ((pos < 0 || in_lbl[i] != in_lbl[i - 1]) &&
            open_hash_lookup(region_hash, in_lbl[i], &pos) != 0)
          return KAVU_KEY_NOT_FOUND;
      }
      region_rec &rec = set[pos];
      for (int32_t b = 0; b < (Bands > 0 ? Bands : nbands); ++b)
        rec.gval[b] += image[band_offset[b] + i];
      rec.area += 1;
    }
  }
  return KAVU_OK;
}

// accumulate compiled for the usual band counts, as the merge step's costs are.
kavu_status accumulate_for_bands(const float *image, const uint32_t *in_lbl,
                                 const open_hash *region_hash, int32_t ncols, int32_t nrows,
                                 int32_t nbands, const int32_t *band_offset, region_rec *set,
                                 const uint8_t *mask) {
  const auto run = [&](auto masked, auto bands) {
    return accumulate<decltype(masked)::value, decltype(bands)::value>(
        image, in_lbl, region_hash, ncols, nrows, nbands, band_offset, set, mask);
  };
  const auto with_bands = [&](auto masked) {
    switch (nbands) {
      case 1: return run(masked, std::integral_constant<int32_t, 1>{});
      case 3: return run(masked, std::integral_constant<int32_t, 3>{});
      case 4: return run(masked, std::integral_constant<int32_t, 4>{});
      case 6: return run(masked, std::integral_constant<int32_t, 6>{});
      default: return run(masked, std::integral_constant<int32_t, 0>{});
    }
  };
  return mask ? with_bands(std::true_type{}) : with_bands(std::false_type{});
}

}  // namespace

kavu_status t_init_region_set(const float *image, const uint32_t *in_lbl, open_hash *region_hash,
                              int32_t n_positions, int32_t ncols, int32_t nrows, int32_t nbands,
                              region_rec **region_set, merge_lbl_list **merge_lbl,
                              open_hash *share_lbl_hash, int32_t share_n_positions,
                              const int32_t *share_rec_map, int32_t ml_n_positions,
                              open_hash *ml_curr_hash, FILE *info_file, const uint8_t *mask) {
  region_rec *set = kavu_alloc_zeroed<region_rec>(static_cast<size_t>(n_positions));
  if (!set) return KAVU_NO_MEMORY;
  merge_lbl_list *lists = alloc_pooled_lists(region_hash, n_positions);
  if (!lists) {
    kavu_free(set);
    return KAVU_NO_MEMORY;
  }
  auto fail = [&](kavu_status status) {
    t_free_pooled_lbl_lists(lists);
    t_free_region_set(n_positions, set);
    return status;
  };

  if (init_records(region_hash, n_positions, nbands, set, lists) != 0) return fail(KAVU_NO_MEMORY);

  // Regions continued from earlier tiles start from their stored sums, so the
  // accumulation below adds this tile's pixels to them.
  if (share_n_positions != 0) {
    const kavu_status status = tile_init_margin_region_set(
        share_lbl_hash, share_n_positions, share_rec_map, nbands, ml_n_positions, ml_curr_hash, set,
        region_hash, n_positions, info_file);
    if (status != 0) return fail(status);
  }

  int32_t *band_offset = kavu_alloc_array<int32_t>(static_cast<size_t>(nbands));
  if (!band_offset) return fail(KAVU_NO_MEMORY);
  for (int32_t b = 0; b < nbands; ++b) band_offset[b] = b * ncols * nrows;

  const kavu_status status = accumulate_for_bands(image, in_lbl, region_hash, ncols, nrows, nbands,
                                                  band_offset, set, mask);
  kavu_free(band_offset);
  if (status != 0) return fail(status);

  for (int32_t p = 0; p < n_positions; ++p) {
    region_rec &rec = set[p];
    if (rec.area == 0) continue;
    const float area = static_cast<float>(rec.area);
    for (int32_t b = 0; b < nbands; ++b) rec.gval[b] /= area;
  }
  *region_set = set;
  *merge_lbl = lists;
  return KAVU_OK;
}

void t_free_region_set(int32_t count, region_rec *region_set) {
  if (count > 0) kavu_free(region_set[0].gval);  // the block of all band vectors
  kavu_free(region_set);
}

void t_free_pooled_lbl_lists(merge_lbl_list *merge_lbl) { kavu_free(merge_lbl); }

void t_free_merge_lbl_list(int32_t count, merge_lbl_list *merge_lbl) {
  if (!merge_lbl) return;
  for (int32_t p = 0; p < count; ++p) merge_lbl_list_destroy(&merge_lbl[p]);
  kavu_free(merge_lbl);
}
