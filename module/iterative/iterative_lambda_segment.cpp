// The iterative driver of the merging core: build regions, pairs and merge
// tree, then merge the merge tree's minimum until one region is left.
#include "iterative/iterative_lambda_segment.h"

#include "containers/allocation.h"
#include "containers/id_arrays.h"
#include "containers/status.h"
#include "lambda/merge_run.h"

#include <cstring>

namespace {

// Everything one call builds; release() frees whatever exists.
struct schedule_run {
  merge_run merging{};
  lambda_ids *lambdas = nullptr;
  lblmap_ids *label_map = nullptr;
};

kavu_status release(schedule_run &run, kavu_status status) {
  merge_run_release(&run.merging);
  free_lambda_ids(run.lambdas);
  free_lblmap_ids(run.label_map);
  return status;
}

kavu_status build(schedule_run &run, const merge_input &in) {
  kavu_status status = merge_run_hash_labels(&run.merging, in);
  if (status == 0) status = merge_run_build(&run.merging, in);
  if (status != 0) return status;
  if (init_lblmap_ids(&run.label_map, 100000) != 0 || init_lambda_ids(&run.lambdas, 100000) != 0)
    return KAVU_NO_MEMORY;
  return KAVU_OK;
}

// Merges until one region is left, recording each merge's cost before it and
// its labels after it.
kavu_status merge_all(schedule_run &run) {
  merge_run &m = run.merging;
  const uint32_t *label = m.region_hash.slots;
  for (;;) {
    if (add_lambda_id(run.lambdas, merge_run_minimum(&m).cost) != 0) return KAVU_NO_MEMORY;
    int32_t a, z;
    if (merge_run_merge_minimum(&m, &a, &z) != 0 ||
        add_lblmap_id(run.label_map, label[z], label[a]) != 0)
      return KAVU_NO_MEMORY;
    m.n_regions -= 1;
    if (m.n_regions == 1 || !merge_run_has_candidate(&m)) return KAVU_OK;
  }
}

template <typename T>
T *copy_out(const T *ids, int32_t n) {
  T *out = kavu_alloc_array<T>(static_cast<size_t>(n));
  if (out) memcpy(out, ids, static_cast<size_t>(n) * sizeof(T));
  return out;
}

}  // namespace

kavu_status iterative_lambda_segment(const float *image, const uint32_t *in_lbl, int32_t ncols,
                                     int32_t nrows, int32_t nbands, float **lambdas,
                                     int32_t *n_lambdas, uint32_t **label_map, int32_t *n_pairs) {
  schedule_run run;
  const merge_input in{image, in_lbl, ncols, nrows, nbands, nullptr, nullptr, nullptr, nullptr};
  kavu_status status = build(run, in);
  if (status != 0) return release(run, status);
  // A single region: nothing to record.
  if (!merge_run_has_candidate(&run.merging)) return release(run, KAVU_OK);
  if (merge_all(run) != 0) return release(run, KAVU_NO_MEMORY);

  merge_run_release_merging(&run.merging);
  const int32_t n_merged = run.label_map->count;
  float *lambda_out = copy_out(run.lambdas->ids, run.lambdas->count);
  uint32_t *map_out = lambda_out ? copy_out(run.label_map->ids, 2 * n_merged) : nullptr;
  if (!map_out) {
    kavu_free(lambda_out);
    return release(run, KAVU_NO_MEMORY);
  }
  *lambdas = lambda_out;
  *n_lambdas = run.lambdas->count;
  *label_map = map_out;
  *n_pairs = n_merged;
  return release(run, KAVU_OK);
}
