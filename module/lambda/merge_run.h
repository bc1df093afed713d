// One run of lambda-schedule merging, as both drivers (tiled and iterative)
// make it: the region hash, regions, merge label lists, neighbour lists, pairs,
// merge candidates and band buffer in one record, built in the fixed order region
// hash -> region set -> pair set -> merge tree, then merged one minimum at a time.
#pragma once

#include "containers/merge_lbl_list.h"
#include "containers/open_hash.h"
#include "containers/status.h"
#include "lambda/pair_rec.h"
#include "lambda/candidate_heap.h"
#include "lambda/nbr_lists.h"
#include "lambda/region_set.h"

#include <cstdint>
#include <cstdio>

// The tiled mode's extras: the regions of earlier tiles that this tile
// continues, with their share records (tile/share_reginfo.h, tile/margins.h).
struct tile_continuation {
  bool continues_shared;  // the share index lists regions and the tile runs against them
  open_hash *share_lbl_hash;
  int32_t share_n_positions;
  const int32_t *share_rec_map;
  open_hash *ml_curr_hash;
  int32_t ml_n_positions;
  FILE *info_file;
};

// What a run is built from. Margins (tiled mode only, null otherwise) are lines
// of labels just outside the left column and the top row; `tile` is null
// outside the tiled mode.
struct merge_input {
  const float *image;
  const uint32_t *labels;
  int32_t ncols;
  int32_t nrows;
  int32_t nbands;
  const uint8_t *mask;
  const uint32_t *margin_vlbl;
  const uint32_t *margin_hlbl;
  const tile_continuation *tile;
};

// Every member is null or zero until built, so one release serves every exit.
struct merge_run {
  open_hash region_hash;
  int32_t n_positions;
  int32_t n_regions;  // regions of the label image (the tile's own ones in the tiled mode)
  region_rec *region_set;
  merge_lbl_list *lists;
  nbr_store nbrs;
  pair_rec *pair_set;
  int32_t n_pairs;
  candidate_heap candidates;  // the merge tree: the mutually best pairs
  float *band_buffer;         // the merge step's scratch of nbands floats
  int32_t nbands;
  // No cost of the run can be NaN: every band mean is a number small enough
  // that the weighted means of merged regions cannot overflow to infinities
  // whose difference would be NaN. Elections are then plain minima.
  bool costs_are_numbers;
};

// The region hash of the input's labels (t_init_region_hash). The tiled mode
// builds it with tile_init_region_hash instead when it continues shared regions.
kavu_status merge_run_hash_labels(merge_run *run, const merge_input &in);
// Region set, pair set, merge tree and band buffer from the region hash.
// KAVU_OK or the first failing status; the caller releases the run either way.
kavu_status merge_run_build(merge_run *run, const merge_input &in);

inline bool merge_run_has_candidate(const merge_run *run) { return run->candidates.size != 0; }
// The cheapest live pair; only with a candidate.
inline mg_key merge_run_minimum(const merge_run *run) {
  return candidate_heap_minimum(&run->candidates);
}
// Merges the minimum pair (r0 survives, r1 is absorbed, both written out) and
// marks it removed. KAVU_OK or KAVU_NO_MEMORY.
kavu_status merge_run_merge_minimum(merge_run *run, int32_t *survivor, int32_t *absorbed);

// Releases the merging structures (pairs, merge tree, neighbour lists, band
// buffer); region hash, region records and merge label lists stay for the
// output that is made from them.
void merge_run_release_merging(merge_run *run);
void merge_run_release(merge_run *run);
