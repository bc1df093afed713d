// Continued regions enter the tile's region set with the pixel count and band
// means stored in their share record, turned back into sums so that this
// tile's pixels add to them.
#include "containers/allocation.h"
#include "lambda/region_set.h"
#include "frame/le_stream.h"
#include "tile/margins.h"
#include "tile/share_reginfo.h"
#include "containers/status.h"

namespace {

// Area and means of record r; false when the file cannot be positioned or ends early.
bool read_record(FILE *info_file, int32_t r, int32_t nbands, int32_t *area, float *means) {
  if (std::fseek(info_file, long(share_info_offset(r, nbands)), SEEK_SET) != 0) return false;
  if (!read_le_i32(info_file, area)) return false;
  for (int32_t k = 0; k < nbands; ++k)
    if (!read_le_f32(info_file, &means[k])) return false;
  return true;
}

}  // namespace

kavu_status tile_init_margin_region_set(open_hash *share_lbl_hash, int32_t /*share_n_positions*/,
                                        const int32_t *share_rec_map, int32_t nbands,
                                        int32_t ml_n_positions, open_hash *ml_curr_hash,
                                        region_rec *region_set, open_hash *region_hash,
                                        int32_t /*n_positions*/, FILE *info_file) {
  float *means = kavu_alloc_array<float>(size_t(nbands));
  if (!means) return KAVU_NO_MEMORY;
  kavu_status status = KAVU_OK;
  for (int32_t p = 0; status == 0 && p < ml_n_positions; ++p) {
    if (!open_hash_pos_valid(ml_curr_hash, p)) continue;
    const uint32_t m = ml_curr_hash->slots[p];
    int32_t t, s, area;
    if (open_hash_lookup(share_lbl_hash, m, &t) != 0)
      status = KAVU_KEY_NOT_FOUND;  // a second-line label that no earlier tile published
    else if (!read_record(info_file, share_rec_map[t], nbands, &area, means))
      status = KAVU_FILE_ERROR;
    else if (open_hash_lookup(region_hash, m, &s) != 0)
      status = KAVU_KEY_NOT_FOUND;
    else {
      region_rec &region = region_set[s];
      region.area = area;
      const float farea = float(area);
      for (int32_t k = 0; k < nbands; ++k) region.gval[k] = means[k] * farea;
    }
  }
  kavu_free(means);
  return status;
}
