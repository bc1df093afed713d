// The region hash of a tile that continues shared regions: the tile's labels
// are renumbered in place so that they cannot collide with labels of earlier
// tiles, and border labels of earlier tiles take their shared output labels.
#include "containers/allocation.h"
#include "tile/margins.h"
#include "containers/status.h"
#include "tile/tile_lambda_segment.h"

namespace {

// compute_hash_param gives a table more than 1.5 positions per key, rounded up
// to a power of two: above this many keys that is 2^31 or more.
constexpr int64_t kMaxTableKeys = 0x2AAAAAAA;

// The renumbering table: the tile's own input labels, each with its new label.
struct renumbering {
  open_hash table{};
  uint32_t *new_lbl = nullptr;
};

void release(renumbering *r) {
  kavu_free(r->new_lbl);
  open_hash_destroy(&r->table);
}

// Rewrites every counted pixel; `count` receives the number of labels renumbered.
kavu_status renumber_pixels(uint32_t *in_lbl, int64_t n_pixels, const uint8_t *mask,
                            open_hash *margin_lbl_hash, const uint32_t *margin_lbl_map,
                            renumbering *renum, uint32_t start_lbl, int32_t *count) {
  uint32_t next = start_lbl;
  // A pixel's original label decides, so the run cache compares originals.
  uint32_t run_from = 0, run_to = 0;
  bool run_valid = false;
  for (int64_t i = 0; i < n_pixels; ++i) {
    if (mask && !mask[i]) continue;  // left as it is, takes no part
    const uint32_t label = in_lbl[i];
    if (run_valid && label == run_from) {
      in_lbl[i] = run_to;
      continue;
    }
    int32_t pos;
    uint32_t to;
    if (open_hash_lookup(margin_lbl_hash, label, &pos) == 0) {
      to = margin_lbl_map[pos];
    } else {
      if (open_hash_reserved(label)) return KAVU_HASH_INSERT_FAIL;
      const int32_t res = open_hash_insert(&renum->table, label, &pos);
      if (res == -1) return KAVU_HASH_INSERT_FAIL;
      if (res == 0) {
        if (open_hash_reserved(next)) return TILE_LABELS_EXHAUSTED;
        renum->new_lbl[pos] = next++;
        ++*count;
      }
      to = renum->new_lbl[pos];
    }
    in_lbl[i] = to;
    run_from = label;
    run_to = to;
    run_valid = true;
  }
  return KAVU_OK;
}

// Every key of `from`, in ascending slot position, into `to`.
kavu_status insert_keys(const open_hash *from, const uint32_t *values, open_hash *to) {
  for (int32_t p = 0; p < from->n_positions; ++p)
    if (open_hash_pos_valid(from, p) &&
        insert_lbl_hash(to, values ? values[p] : from->slots[p]) != 0)
      return KAVU_HASH_INSERT_FAIL;
  return KAVU_OK;
}

}  // namespace

kavu_status tile_init_region_hash(uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                                  const uint32_t *margin_vlbl, const uint32_t *margin_hlbl,
                                  uint32_t start_lbl, open_hash *region_hash, int32_t *n_positions,
                                  int32_t *n_regions, int32_t *ml_n_positions,
                                  open_hash *ml_curr_hash, const uint8_t *mask) {
  open_hash margin_lbl_hash{};
  uint32_t *margin_lbl_map = nullptr;
  int32_t margin_positions = 0;
  kavu_status status = build_margin_lbl_hash(margin_vlbl, margin_hlbl, ncols, nrows,
                                             &margin_positions, &margin_lbl_hash, &margin_lbl_map);
  if (status != 0) return status;

  renumbering renum;
  // Sized for every pixel a label of its own; a tile too large for a table of
  // int32 positions is a table that cannot be set up.
  const int64_t renum_keys = (int64_t(ncols) + 1) * (int64_t(nrows) + 1);
  int32_t renum_positions = int32_t(renum_keys);
  const int32_t param = renum_keys <= kMaxTableKeys ? compute_hash_param(&renum_positions) : 0;
  status = renum_keys <= kMaxTableKeys && open_hash_init(&renum.table, renum_positions, param,
                                                         h1_reg, h2_reg, match_reg) == 0
               ? KAVU_OK
               : KAVU_NO_MEMORY;
  if (status == 0) {
    renum.new_lbl = kavu_alloc_array<uint32_t>(size_t(renum_positions));
    if (!renum.new_lbl) status = KAVU_NO_MEMORY;
  }
  int32_t count = 0;
  if (status == 0)
    status = renumber_pixels(in_lbl, int64_t(ncols) * nrows, mask, &margin_lbl_hash, margin_lbl_map,
                             &renum, start_lbl, &count);
  kavu_free(margin_lbl_map);
  open_hash_destroy(&margin_lbl_hash);
  if (status != 0) {
    release(&renum);
    return status;
  }

  int32_t positions = count + margin_positions;
  const int32_t region_param = compute_hash_param(&positions);
  if (open_hash_init(region_hash, positions, region_param, h1_reg, h2_reg, match_reg) != 0) {
    release(&renum);
    return KAVU_NO_MEMORY;
  }
  status = insert_keys(&renum.table, renum.new_lbl, region_hash);
  release(&renum);
  if (status != 0) return status;  // the region hash has been destroyed
  *n_positions = positions;
  *n_regions = region_hash->n_stored;

  status =
      tile_init_ml_curr_hash(ncols, nrows, margin_vlbl, margin_hlbl, ml_n_positions, ml_curr_hash);
  if (status == 0) status = insert_keys(ml_curr_hash, nullptr, region_hash);
  if (status != 0) open_hash_destroy(region_hash);
  return status;
}
