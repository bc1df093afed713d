// Building, merging and releasing one merge run.
#include "lambda/merge_run.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "lambda/merge_step.h"
#include "lambda/pair_set.h"

#include <cmath>
#include <cstring>

kavu_status merge_run_hash_labels(merge_run *run, const merge_input &in) {
  return t_init_region_hash(in.labels, in.ncols, in.nrows, &run->region_hash, &run->n_positions,
                            &run->n_regions, in.mask);
}

namespace {

// Means within this bound, times an area below 2^31, stay far below the float
// maximum, and a merged mean lies between the two it is made of (to rounding).
constexpr float largest_ordered_mean = 1e28f;

bool means_are_small_numbers(const region_rec *regions, int32_t n_positions, int32_t nbands) {
  if (n_positions == 0) return true;
  const float *gval = regions[0].gval;  // one block, nbands per position
  const size_t n = static_cast<size_t>(n_positions) * static_cast<size_t>(nbands);
  bool ok = true;
  for (size_t i = 0; i < n; ++i) ok &= std::fabs(gval[i]) <= largest_ordered_mean;
  return ok;
}

}  // namespace

kavu_status merge_run_build(merge_run *run, const merge_input &in) {
  run->nbands = in.nbands;
  const tile_continuation none{};
  const tile_continuation &tile = in.tile && in.tile->continues_shared ? *in.tile : none;
  kavu_status status = t_init_region_set(
      in.image, in.labels, &run->region_hash, run->n_positions, in.ncols, in.nrows, in.nbands,
      &run->region_set, &run->lists, tile.share_lbl_hash, tile.share_n_positions,
      tile.share_rec_map, tile.ml_n_positions, tile.ml_curr_hash, tile.info_file, in.mask);
  if (status != 0) return status;
  run->costs_are_numbers = means_are_small_numbers(run->region_set, run->n_positions, in.nbands);
  status = t_init_pair_set(in.labels, &run->region_hash, run->n_positions, in.ncols, in.nrows,
                           in.nbands, &run->pair_set, run->region_set, &run->nbrs, &run->n_pairs,
                           in.margin_vlbl, in.margin_hlbl, in.mask);
  if (status != 0) return status;
  status = t_init_merge_tree(run);
  if (status != 0) return status;
  run->band_buffer = kavu_alloc_array<float>(static_cast<size_t>(in.nbands));
  return run->band_buffer ? KAVU_OK : KAVU_NO_MEMORY;
}

kavu_status merge_run_merge_minimum(merge_run *run, int32_t *survivor, int32_t *absorbed) {
  const int32_t k = merge_run_minimum(run).pair_index;
  *survivor = run->pair_set[k].r0;
  *absorbed = run->pair_set[k].r1;
  // Drivers that record merges read both labels afterwards.
  __builtin_prefetch(&run->region_hash.slots[*survivor]);
  __builtin_prefetch(&run->region_hash.slots[*absorbed]);
  if (t_merge_pair(run, k) != 0) return KAVU_NO_MEMORY;
  run->pair_set[k].removed = 1;
  return KAVU_OK;
}

void merge_run_release_merging(merge_run *run) {
  kavu_free(run->band_buffer);
  run->band_buffer = nullptr;
  t_free_merge_tree(&run->candidates);
  t_free_pair_set(run->pair_set);
  run->pair_set = nullptr;
  run->n_pairs = 0;
  nbr_store_release(&run->nbrs);
  // The records keep no pointer into the released lists.
  if (run->region_set)
    for (int32_t p = 0; p < run->n_positions; ++p) {
      run->region_set[p].nbrs = nullptr;
      run->region_set[p].n_nbrs = 0;
    }
}

void merge_run_release(merge_run *run) {
  merge_run_release_merging(run);
  t_free_pooled_lbl_lists(run->lists);
  if (run->region_set) t_free_region_set(run->n_positions, run->region_set);
  open_hash_destroy(&run->region_hash);
  std::memset(static_cast<void *>(run), 0, sizeof *run);
}
