// The tile driver: region, pair and merge structures from the tile's labels
// (tied to earlier tiles through the share files and margins), merging while
// the cheapest cost is below the threshold, then output labels, cross-border
// pairs and the share update. Everything built is released on every path.
#include "tile/tile_lambda_segment.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "lambda/merge_run.h"
#include "tile/margins.h"
#include "tile/output_labels.h"
#include "tile/share_reginfo.h"

#include <cstring>

namespace {

// Everything one call owns; a member is null or zero until it is built, so one
// release serves every exit.
struct tile_run {
  uint32_t *first_col_lbl = nullptr;
  uint32_t *first_row_lbl = nullptr;
  FILE *index_file = nullptr;
  FILE *info_file = nullptr;
  int32_t n_shared = 0;
  open_hash share_lbl_hash{};
  int32_t share_n_positions = 0;  // 0 when the share index lists no region
  int32_t *share_rec_map = nullptr;
  open_hash ml_curr_hash{};
  int32_t ml_n_positions = 0;  // 0 when ml_curr_hash was not built
  merge_run merging{};
  int32_t *owner_of_slot = nullptr;
};

kavu_status release_all(tile_run &run, kavu_status status) {
  kavu_free(run.owner_of_slot);
  merge_run_release(&run.merging);
  if (run.ml_n_positions != 0) open_hash_destroy(&run.ml_curr_hash);
  if (run.share_n_positions != 0) open_hash_destroy(&run.share_lbl_hash);
  kavu_free(run.share_rec_map);
  if (run.info_file) std::fclose(run.info_file);
  if (run.index_file) std::fclose(run.index_file);
  kavu_free(run.first_row_lbl);
  kavu_free(run.first_col_lbl);
  return status;
}

// Column 0 or row 0 of the input labels, before anything renumbers them.
uint32_t *copy_line(const uint32_t *in_lbl, int32_t n, int64_t stride) {
  auto *line = kavu_alloc_array<uint32_t>(size_t(n));
  if (line)
    for (int32_t i = 0; i < n; ++i) line[i] = in_lbl[i * stride];
  return line;
}

// Every record the index counts must be in the info file at this tile's band
// count. An info file written with fewer bands is refused here, before records
// are read at the wrong offsets; one written with more bands cannot be told from
// one that an interrupted tile left longer, so the band count stays the caller's
// to keep.
bool info_holds_records(FILE *info_file, int32_t n_shared, int32_t nbands) {
  if (std::fseek(info_file, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(info_file);
  return size >= 0 && int64_t{size} >= int64_t{n_shared} * (4 + 4 * int64_t{nbands});
}

kavu_status open_share_files(tile_run &run, const tile_request &tile) {
  run.index_file = std::fopen(tile.index_name, "r+b");
  if (!run.index_file) return KAVU_FILE_ERROR;
  run.info_file = std::fopen(tile.info_name, "r+b");
  if (!run.info_file) return KAVU_FILE_ERROR;
  const kavu_status status =
      tile_read_share_reginfo(run.index_file, &run.n_shared, &run.share_lbl_hash,
                              &run.share_n_positions, &run.share_rec_map);
  if (status != 0) return status;
  return info_holds_records(run.info_file, run.n_shared, tile.nbands) ? KAVU_OK : KAVU_FILE_ERROR;
}

// Merges the cheapest pair while its cost is below the threshold. The region
// count covers the tile's own regions only; margin regions can still merge
// when it starts at 0 or 1.
kavu_status merge_below(merge_run &m, float threshold) {
  int32_t count = m.n_regions;
  while (merge_run_has_candidate(&m)) {
    // A NaN on either side stops, as "not below" must.
    if (!(threshold > merge_run_minimum(&m).cost)) break;
    // The vote repair inside is the same in the tile case (tile_merge_list_update).
    int32_t a, z;
    const kavu_status status = merge_run_merge_minimum(&m, &a, &z);
    if (status != 0) return status;
    if (count == 2) break;  // one region left
    --count;
  }
  return KAVU_OK;
}

}  // namespace

kavu_status tile_lambda_segment(const tile_request &tile, uint32_t *last_lbl) {
  tile_run run;
  uint32_t *in_lbl = tile.in_lbl;
  const int32_t ncols = tile.ncols, nrows = tile.nrows;
  const uint32_t *margin_vlbl = tile.margin_vlbl, *margin_hlbl = tile.margin_hlbl;
  *last_lbl = tile.start_lbl;
  if (margin_vlbl && !(run.first_col_lbl = copy_line(in_lbl, nrows, ncols)))
    return release_all(run, KAVU_NO_MEMORY);
  if (margin_hlbl && !(run.first_row_lbl = copy_line(in_lbl, ncols, 1)))
    return release_all(run, KAVU_NO_MEMORY);

  const bool shared_files = tile.index_name != nullptr;
  kavu_status status = shared_files ? open_share_files(run, tile) : KAVU_OK;
  if (status != 0) return release_all(run, status);

  // With regions of earlier tiles listed, the tile's labels are renumbered and
  // tied to them; the renumbering builds the region hash.
  merge_run &m = run.merging;
  const merge_input in{tile.image, in_lbl,      ncols,       nrows,  tile.nbands,
                       tile.mask,  margin_vlbl, margin_hlbl, nullptr};
  const bool continues = run.n_shared != 0;
  status = continues
               ? tile_init_region_hash(in_lbl, ncols, nrows, margin_vlbl, margin_hlbl,
                                       tile.start_lbl, &m.region_hash, &m.n_positions, &m.n_regions,
                                       &run.ml_n_positions, &run.ml_curr_hash, tile.mask)
               : merge_run_hash_labels(&m, in);
  if (status != 0) return release_all(run, status);

  const tile_continuation continued{continues,         &run.share_lbl_hash, run.share_n_positions,
                                    run.share_rec_map, &run.ml_curr_hash,   run.ml_n_positions,
                                    run.info_file};
  merge_input tiled = in;
  tiled.tile = &continued;
  status = merge_run_build(&m, tiled);
  if (status == 0) status = merge_below(m, tile.threshold);
  if (status != 0) return release_all(run, status);
  merge_run_release_merging(&m);

  status =
      create_output_lbl_image(in_lbl, ncols, nrows, m.n_positions, &m.region_hash, m.lists,
                              tile.out_lbl, tile.start_lbl, last_lbl, &run.owner_of_slot,
                              continues ? run.ml_n_positions : 0, &run.ml_curr_hash, tile.mask);
  if (status == 0)
    status = tile_update_merge(tile.out_lbl, ncols, nrows, margin_vlbl, margin_hlbl,
                               run.first_col_lbl, run.first_row_lbl, tile.merge_pair_tree);
  if (status == 0 && shared_files)
    status = tile_update_share_reginfo(
        in_lbl, tile.out_lbl, ncols, nrows, tile.nbands, &m.region_hash, m.region_set,
        run.owner_of_slot, run.index_file, run.info_file, &run.n_shared, &run.share_lbl_hash,
        run.share_n_positions, run.share_rec_map, &run.ml_curr_hash, run.ml_n_positions);
  return release_all(run, status);
}
