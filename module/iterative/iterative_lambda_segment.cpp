// The iterative driver of the merging core: build regions, pairs and merge
// tree, then merge the merge tree's minimum until one region is left.
#include "iterative/iterative_lambda_segment.h"

#include "containers/allocation.h"
#include "lambda/merge_tree.h"
#include "lambda/pair_set.h"

#include <cstring>

namespace {

// Everything one call builds; release() frees whatever exists.
struct schedule_run {
  open_hash region_hash{};
  int32_t n_positions = 0;
  int32_t n_regions = 0;
  region_rec *region_set = nullptr;
  merge_lbl_list *lists = nullptr;
  pair_rec *pair_set = nullptr;
  int32_t n_pairs = 0;
  merge_tree *tree = nullptr;
  int32_t n_entries = 0;
  merge_work work{};
  lambda_ids *lambdas = nullptr;
  lblmap_ids *label_map = nullptr;
};

// Releases the merging structures (everything but the hash, the region set,
// the lists and the two records), as soon as the schedule is complete.
void release_merging(schedule_run &run) {
  t_free_merge_work(&run.work);
  t_free_merge_tree(run.tree);
  run.tree = nullptr;
  t_free_pair_set(run.pair_set);
  run.pair_set = nullptr;
}

int32_t release(schedule_run &run, int32_t status) {
  release_merging(run);
  free_lambda_ids(run.lambdas);
  free_lblmap_ids(run.label_map);
  t_free_merge_lbl_list(run.n_positions, run.lists);
  if (run.region_set) t_free_region_set(run.n_positions, run.region_set);
  open_hash_destroy(&run.region_hash);
  return status;
}

int32_t build(schedule_run &run, const float *image, const uint32_t *in_lbl, int32_t ncols,
              int32_t nrows, int32_t nbands) {
  int32_t status = t_init_region_hash(in_lbl, ncols, nrows, &run.region_hash, &run.n_positions,
                                      &run.n_regions, nullptr);
  if (status != 0) return status;
  status = t_init_region_set(image, in_lbl, &run.region_hash, run.n_positions, ncols, nrows,
                             nbands, &run.region_set, &run.lists, nullptr, 0, nullptr, 0, nullptr,
                             nullptr, nullptr);
  if (status != 0) return status;
  status = t_init_pair_set(in_lbl, &run.region_hash, run.n_positions, ncols, nrows, nbands,
                           &run.pair_set, run.region_set, &run.n_pairs, nullptr, nullptr, nullptr);
  if (status != 0) return status;
  run.n_entries = 0;
  status = t_init_merge_tree(run.n_positions, &run.tree, run.pair_set, run.region_set,
                             &run.n_entries);
  if (status != 0) return status;
  if (t_init_merge_work(&run.work, nbands) != 0 || init_lblmap_ids(&run.label_map, 100000) != 0 ||
      init_lambda_ids(&run.lambdas, 100000) != 0)
    return -1;
  return 0;
}

// Merges until one region is left, recording each merge's cost before it and
// its labels after it.
int32_t merge_all(schedule_run &run, int32_t nbands) {
  const uint32_t *label = run.region_hash.slots;
  mgtree_node *minimum = mgtree_minimum(run.tree);
  if (add_lambda_id(run.lambdas, minimum->cost) != 0) return -1;
  for (;;) {
    const int32_t k = minimum->pair_index;
    const int32_t a = run.pair_set[k].r0, z = run.pair_set[k].r1;
    if (t_merge_pair(minimum, nbands, run.tree, &run.n_entries, run.pair_set, run.region_set,
                     run.lists, &run.work) != 0 ||
        add_lblmap_id(run.label_map, label[z], label[a]) != 0)
      return -1;
    run.pair_set[k].removed = 1;
    run.n_regions -= 1;
    if (run.n_regions == 1 || run.n_entries == 0) return 0;
    minimum = mgtree_minimum(run.tree);
    if (add_lambda_id(run.lambdas, minimum->cost) != 0) return -1;
  }
}

template <typename T>
T *copy_out(const T *ids, int32_t n) {
  T *out = kavu_alloc_array<T>(static_cast<size_t>(n));
  if (out) memcpy(out, ids, static_cast<size_t>(n) * sizeof(T));
  return out;
}

}  // namespace

int32_t iterative_lambda_segment(const float *image, const uint32_t *in_lbl, int32_t ncols,
                                 int32_t nrows, int32_t nbands, float **lambdas,
                                 int32_t *n_lambdas, uint32_t **label_map, int32_t *n_pairs) {
  schedule_run run;
  int32_t status = build(run, image, in_lbl, ncols, nrows, nbands);
  if (status != 0) return release(run, status);
  if (run.n_entries == 0) return release(run, 0);  // a single region: nothing to record
  if (merge_all(run, nbands) != 0) return release(run, -1);

  release_merging(run);
  const int32_t n_merged = run.label_map->count;
  float *lambda_out = copy_out(run.lambdas->ids, run.lambdas->count);
  uint32_t *map_out = lambda_out ? copy_out(run.label_map->ids, 2 * n_merged) : nullptr;
  if (!map_out) {
    kavu_free(lambda_out);
    return release(run, -1);
  }
  *lambdas = lambda_out;
  *n_lambdas = run.lambdas->count;
  *label_map = map_out;
  *n_pairs = n_merged;
  return release(run, 0);
}
