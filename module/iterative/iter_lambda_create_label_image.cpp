// Replays a prefix of the iterative schedule's label map with one merge label
// list per region and relabels the image by surviving region.
#include "iterative/iter_lambda_create_label_image.h"

#include "containers/allocation.h"
#include "lambda/merge_step.h"
#include "lambda/region_set.h"
#include "containers/status.h"

namespace {

// A list moved away is empty, and appending a list to itself would make it a
// cycle, so only two distinct non-empty lists are joined.
void apply_pairs(const open_hash *region_hash, const uint32_t *label_map, int32_t n_pairs,
                 merge_lbl_list *lists) {
  for (int32_t k = 0; k < n_pairs; ++k) {
    int32_t z, a;
    if (open_hash_lookup(region_hash, label_map[2 * k], &z) != 0 ||
        open_hash_lookup(region_hash, label_map[2 * k + 1], &a) != 0)
      continue;
    if (a == z || !lists[a].head || !lists[z].head) continue;
    t_update_merge_lbl(a, z, lists);
  }
}

// New labels by ascending position of the surviving regions, handed to every
// label each of them holds.
kavu_status number_regions(const open_hash *region_hash, int32_t n_positions,
                           const merge_lbl_list *lists, uint32_t *new_lbl, int32_t *n_regions) {
  int32_t count = 0;
  for (int32_t p = 0; p < n_positions; ++p) {
    if (!lists[p].head) continue;
    for (const merge_lbl_node *node = lists[p].head; node; node = node->next) {
      int32_t pos;
      if (open_hash_lookup(region_hash, node->label, &pos) != 0) return KAVU_KEY_NOT_FOUND;
      new_lbl[pos] = static_cast<uint32_t>(count);
    }
    ++count;
  }
  *n_regions = count;
  return KAVU_OK;
}

// The position found for a pixel serves the following pixels with its label.
kavu_status write_labels(const uint32_t *in_lbl, int64_t n_pixels, const open_hash *region_hash,
                         const uint32_t *new_lbl, uint32_t *out_lbl) {
  int32_t pos = -1;
  for (int64_t i = 0; i < n_pixels; ++i) {
    if ((pos < 0 || in_lbl[i] != in_lbl[i - 1]) &&
        open_hash_lookup(region_hash, in_lbl[i], &pos) != 0)
      return KAVU_KEY_NOT_FOUND;
    out_lbl[i] = new_lbl[pos];
  }
  return KAVU_OK;
}

}  // namespace

kavu_status iter_lambda_create_label_image(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                           const uint32_t *label_map, int32_t n_pairs,
                                           uint32_t *out_lbl, int32_t *n_regions) {
  open_hash region_hash{};
  int32_t n_positions, n_labels;
  kavu_status status =
      t_init_region_hash(in_lbl, ncols, nrows, &region_hash, &n_positions, &n_labels, nullptr);
  if (status != 0) return status;

  uint32_t *new_lbl = nullptr;
  merge_lbl_list *lists = kavu_alloc_zeroed<merge_lbl_list>(static_cast<size_t>(n_positions));
  status = lists ? KAVU_OK : KAVU_NO_MEMORY;
  for (int32_t p = 0; p < n_positions && status == 0; ++p)
    if (open_hash_pos_valid(&region_hash, p) &&
        merge_lbl_list_add(&lists[p], region_hash.slots[p]) != 0)
      status = KAVU_NO_MEMORY;
  if (status == 0) {
    apply_pairs(&region_hash, label_map, n_pairs, lists);
    new_lbl = kavu_alloc_array<uint32_t>(static_cast<size_t>(n_positions));
    status = new_lbl ? number_regions(&region_hash, n_positions, lists, new_lbl, n_regions)
                     : KAVU_NO_MEMORY;
  }
  if (status == 0)
    status =
        write_labels(in_lbl, static_cast<int64_t>(ncols) * nrows, &region_hash, new_lbl, out_lbl);
  kavu_free(new_lbl);
  t_free_merge_lbl_list(n_positions, lists);
  open_hash_destroy(&region_hash);
  return status;
}
