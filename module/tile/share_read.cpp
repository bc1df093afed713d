// Reading the share index file when a tile starts: the labels that earlier
// tiles published, looked up by label to find their record numbers.
#include "containers/allocation.h"
#include "frame/le_stream.h"
#include "tile/share_reginfo.h"
#include "containers/status.h"

kavu_status tile_read_share_reginfo(FILE *index_file, int32_t *n_shared, open_hash *share_lbl_hash,
                                    int32_t *n_positions, int32_t **share_rec_map) {
  if (std::fseek(index_file, 0, SEEK_SET) != 0) return KAVU_FILE_ERROR;
  unsigned char head[4];
  const size_t got = std::fread(head, 1, 4, index_file);
  if (got == 0 && !std::ferror(index_file)) return KAVU_OK;  // an empty file shares nothing yet
  if (got != 4) return KAVU_FILE_ERROR;
  const int32_t count = int32_t(decode_le_u32(head));
  if (count < 0) return KAVU_FILE_ERROR;
  *n_shared = count;
  if (count == 0) return KAVU_OK;

  auto *labels = kavu_alloc_array<uint32_t>(size_t(count));
  if (!labels) return KAVU_NO_MEMORY;
  if (std::fread(labels, 4, size_t(count), index_file) != size_t(count)) {
    kavu_free(labels);
    return KAVU_FILE_ERROR;
  }
  // The module never publishes a reserved word: an index listing one was not
  // written by a tile, and no table could hold it.
  for (int32_t r = 0; r < count; ++r) {
    labels[r] = decode_le_u32(&labels[r]);
    if (open_hash_reserved(labels[r])) {
      kavu_free(labels);
      return KAVU_FILE_ERROR;
    }
  }

  int32_t positions = count;
  const int32_t param = compute_hash_param(&positions);
  if (open_hash_init(share_lbl_hash, positions, param, h1_reg, h2_reg, match_reg) != 0) {
    kavu_free(labels);
    return KAVU_NO_MEMORY;
  }
  auto *rec_map = kavu_alloc_array<int32_t>(size_t(positions));
  if (!rec_map) {
    open_hash_destroy(share_lbl_hash);
    kavu_free(labels);
    return KAVU_NO_MEMORY;
  }
  for (int32_t r = 0; r < count; ++r) {
    int32_t pos;
    const int32_t res = open_hash_insert(share_lbl_hash, labels[r], &pos);
    if (res == 0) rec_map[pos] = r;
    // -2: the label is listed again further on; its first record stays the one used.
    if (res == -1) {
      kavu_free(rec_map);
      open_hash_destroy(share_lbl_hash);
      kavu_free(labels);
      return KAVU_HASH_INSERT_FAIL;
    }
  }
  kavu_free(labels);
  *n_positions = positions;
  *share_rec_map = rec_map;
  return KAVU_OK;
}
