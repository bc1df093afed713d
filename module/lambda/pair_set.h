// Pairs of 4-adjacent regions with their common boundary length and merge
// cost t = (|A| |B| / (|A| + |B|)) |mu_A - mu_B|^2 / blen, all in single precision.
// Each region reaches its pairs through its neighbour list.
#pragma once

#include "containers/open_hash.h"
#include "lambda/pair_rec.h"
#include "lambda/region_set.h"

#include "containers/status.h"

#include <cstdint>
#include <cstdio>

// Builds the pair set of the label image: pair k is the k-th adjacent pair in
// (position of the smaller label, position of the larger label) order, r0 the
// former. `region_set` must hold means and areas and no neighbours; each region
// gets the list of its pairs, in blocks from `store`. Margins (tiled mode only) act as a line of
// pixels just outside the left column / top row: entry nrows + r of `margin_vlbl`, ncols + c of
// `margin_hlbl`. 0, -1 or -3; on failure no pair set is handed out.
kavu_status t_init_pair_set(const uint32_t *in_lbl, const open_hash *region_hash,
                            int32_t n_positions, int32_t ncols, int32_t nrows, int32_t nbands,
                            pair_rec **pair_set, region_rec *region_set, nbr_store *store,
                            int32_t *n_pairs, const uint32_t *margin_vlbl,
                            const uint32_t *margin_hlbl, const uint8_t *mask);

// d of the cost: the squared differences of two band vectors, added in band
// order. A `Bands` above 0 fixes the band count when compiled, so that the
// loop unrolls; the operations and their order stay those of the loop.
template <int32_t Bands>
inline float squared_band_distance(const float *ga, const float *gb, int32_t nbands) {
  const int32_t count = Bands > 0 ? Bands : nbands;
  float d = 0.0f;
  for (int32_t i = 0; i < count; ++i) {
    const float diff = ga[i] - gb[i];
    d += diff * diff;
  }
  return d;
}

// s from d and the areas of a and b. The operand order is part of the result:
// float products do not associate, so callers pass the region the text names as a.
inline float weighted_difference(float d, int32_t area_a, int32_t area_b) {
  return static_cast<float>(area_b) * (static_cast<float>(area_a) * d) /
         static_cast<float>(area_a + area_b);
}

// Sets s of pair k from regions a and b, a's area given by the caller (it may
// not be stored yet).
inline void t_set_weight_intensity_diff(int32_t nbands, int32_t a, int32_t area_a, int32_t k,
                                        int32_t b, pair_rec *pair_set,
                                        const region_rec *region_set) {
  const float d = squared_band_distance<0>(region_set[a].gval, region_set[b].gval, nbands);
  pair_set[k].s = weighted_difference(d, area_a, region_set[b].area);
}

void t_free_pair_set(pair_rec *pair_set);

// Diagnostic; no routine calls it.
void t_print_pair_set(int32_t n_pairs, const pair_rec *pair_set, FILE *stream);
