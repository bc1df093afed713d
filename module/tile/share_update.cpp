// Writing the share files when a tile ends: publish the regions on the tile's
// right column and bottom row, and refresh the shared regions it continued.
#include "containers/allocation.h"
#include "lambda/region_set.h"
#include "frame/le_stream.h"
#include "tile/share_reginfo.h"
#include "containers/status.h"

namespace {

bool seek_to(FILE *stream, int64_t offset) {
  return std::fseek(stream, long(offset), SEEK_SET) == 0;
}

bool write_record(FILE *info_file, const region_rec &region, int32_t nbands) {
  if (!write_le_i32(info_file, region.area)) return false;
  for (int32_t k = 0; k < nbands; ++k)
    if (!write_le_f32(info_file, region.gval[k])) return false;
  return true;
}

// The border regions not yet shared, in the order of their first visit: right
// column top to bottom, then bottom row left to right. `owners` receives the
// position of each one's surviving region, `labels` its output label.
kavu_status collect_new_border_regions(const uint32_t *in_lbl, const uint32_t *out_lbl,
                                       int32_t ncols, int32_t nrows, open_hash *region_hash,
                                       const int32_t *owner_of_slot, open_hash *share_lbl_hash,
                                       int32_t share_n_positions, int32_t *owners, uint32_t *labels,
                                       int32_t *n) {
  open_hash collected{};
  int32_t positions = ncols + nrows;
  const int32_t param = compute_hash_param(&positions);
  if (open_hash_init(&collected, positions, param, h1_reg, h2_reg, match_reg) != 0)
    return KAVU_NO_MEMORY;

  const int64_t n_border = int64_t(nrows) + ncols;
  for (int64_t v = 0; v < n_border; ++v) {
    const int64_t i =
        v < nrows ? v * ncols + (ncols - 1) : int64_t(nrows - 1) * ncols + (v - nrows);
    const uint32_t o = out_lbl[i];
    if (o == 0) continue;  // no region (outside the mask, or a region numbered 0)
    int32_t pos;
    if (share_n_positions != 0 && open_hash_lookup(share_lbl_hash, o, &pos) == 0) continue;
    int32_t slot;
    if (open_hash_lookup(region_hash, in_lbl[i], &slot) != 0) {
      open_hash_destroy(&collected);
      return KAVU_KEY_NOT_FOUND;
    }
    const int32_t res = open_hash_insert(&collected, o, &pos);
    if (res == -1) {
      open_hash_destroy(&collected);
      return KAVU_HASH_INSERT_FAIL;
    }
    if (res == 0) {
      owners[*n] = owner_of_slot[slot];
      labels[*n] = o;
      ++*n;
    }
  }
  open_hash_destroy(&collected);
  return KAVU_OK;
}

// Appends the new labels and records at the places the current count gives, so
// that records left behind by an interrupted tile are overwritten rather than
// shifting the record numbers. The count is rewritten last: a failure on the
// way leaves a count that promises only records that are there.
kavu_status append_records(FILE *index_file, FILE *info_file, int32_t nbands,
                           const region_rec *region_set, const int32_t *owners,
                           const uint32_t *labels, int32_t n, int32_t *n_shared) {
  if (n > 0) {
    if (!seek_to(index_file, share_index_offset(*n_shared))) return KAVU_FILE_ERROR;
    for (int32_t i = 0; i < n; ++i)
      if (!write_le_u32(index_file, labels[i])) return KAVU_FILE_ERROR;
    if (!seek_to(info_file, share_info_offset(*n_shared, nbands))) return KAVU_FILE_ERROR;
    for (int32_t i = 0; i < n; ++i)
      if (!write_record(info_file, region_set[owners[i]], nbands)) return KAVU_FILE_ERROR;
  }
  *n_shared += n;
  if (!seek_to(index_file, 0) || !write_le_i32(index_file, *n_shared)) return KAVU_FILE_ERROR;
  return KAVU_OK;
}

// Every shared label this tile continued now describes the region holding it,
// which may carry another output label after a merge.
kavu_status refresh_continued(int32_t nbands, open_hash *region_hash, const region_rec *region_set,
                              const int32_t *owner_of_slot, FILE *info_file,
                              open_hash *share_lbl_hash, const int32_t *share_rec_map,
                              open_hash *ml_curr_hash, int32_t ml_n_positions) {
  for (int32_t p = 0; p < ml_n_positions; ++p) {
    if (!open_hash_pos_valid(ml_curr_hash, p)) continue;
    const uint32_t m = ml_curr_hash->slots[p];
    int32_t s, t;
    if (open_hash_lookup(region_hash, m, &s) != 0 || open_hash_lookup(share_lbl_hash, m, &t) != 0)
      return KAVU_KEY_NOT_FOUND;
    if (!seek_to(info_file, share_info_offset(share_rec_map[t], nbands))) return KAVU_FILE_ERROR;
    if (!write_record(info_file, region_set[owner_of_slot[s]], nbands)) return KAVU_FILE_ERROR;
  }
  return KAVU_OK;
}

}  // namespace

kavu_status tile_update_share_reginfo(const uint32_t *in_lbl, const uint32_t *out_lbl,
                                      int32_t ncols, int32_t nrows, int32_t nbands,
                                      open_hash *region_hash, const region_rec *region_set,
                                      const int32_t *owner_of_slot, FILE *index_file,
                                      FILE *info_file, int32_t *n_shared, open_hash *share_lbl_hash,
                                      int32_t share_n_positions, const int32_t *share_rec_map,
                                      open_hash *ml_curr_hash, int32_t ml_n_positions) {
  const size_t n_border = size_t(ncols) + size_t(nrows);
  auto *owners = kavu_alloc_array<int32_t>(n_border);
  auto *labels = kavu_alloc_array<uint32_t>(n_border);
  int32_t n = 0;
  kavu_status status = owners && labels ? KAVU_OK : KAVU_NO_MEMORY;
  if (status == 0)
    status = collect_new_border_regions(in_lbl, out_lbl, ncols, nrows, region_hash, owner_of_slot,
                                        share_lbl_hash, share_n_positions, owners, labels, &n);
  if (status == 0)
    status = append_records(index_file, info_file, nbands, region_set, owners, labels, n, n_shared);
  kavu_free(labels);
  kavu_free(owners);
  if (status != 0) return status;
  status = refresh_continued(nbands, region_hash, region_set, owner_of_slot, info_file,
                             share_lbl_hash, share_rec_map, ml_curr_hash, ml_n_positions);
  if (status != 0) return status;
  // Buffered bytes that never reach the disk would be a silent loss.
  if (std::fflush(index_file) != 0 || std::fflush(info_file) != 0) return KAVU_FILE_ERROR;
  return KAVU_OK;
}
