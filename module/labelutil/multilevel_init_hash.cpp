// The exclusion table of multilevel labelling: an open_hash of pixel indices.
#include "labelutil/multilevel_label_region.h"
#include "containers/status.h"

int32_t multilevel_init_hash(const int32_t *indices, int32_t count, open_hash *table,
                             int32_t *size) {
  int32_t n_positions = count;
  const int32_t param = compute_hash_param(&n_positions);
  if (open_hash_init(table, n_positions, param, h1_reg, h2_reg, match_reg) != 0)
    return KAVU_NO_MEMORY;
  // Indices go in as unsigned keys: a negative entry becomes a key no pixel
  // index (below 2^31 - 1) can match, so it excludes nothing.
  for (int32_t i = 0; i < count; ++i) {
    const int32_t status = insert_lbl_hash(table, static_cast<uint32_t>(indices[i]));
    if (status != 0) return status;
  }
  *size = table->n_positions;
  return 0;
}
