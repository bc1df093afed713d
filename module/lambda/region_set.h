// Region records of lambda-schedule merging, built from a label image: the
// region hash (label -> dense position), one region_rec per position with band
// means, area, neighbour list and elected pair, and one merge label list per position.
#pragma once

#include "containers/merge_lbl_list.h"
#include "lambda/nbr_lists.h"
#include "containers/open_hash.h"
#include "lambda/pair_rec.h"

#include "containers/status.h"

#include <cstdint>
#include <cstdio>

// A position without a label keeps area 0, zero gval, no neighbours, bestp -1
// and an empty merge label list; merging never touches it. The gval vectors of
// all positions are one block, owned through record 0. An absorbed region keeps
// its last gval, area and bestp; its neighbour list is given up and no pair or
// list refers to it again.
struct region_rec {
  float *gval;      // nbands values: sums while accumulating, then means
  nbr_entry *nbrs;  // ascending neighbour positions with the joining pairs
                    // (block of class nbr_class from the run's nbr_store)
  int32_t n_nbrs;
  int32_t nbr_class;
  int32_t area;   // pixel count
  int32_t bestp;  // the region's cheapest pair, -1 when it has none
};

// Collects every distinct label of the image (only pixels whose mask byte is
// non-zero, when a mask is given) into `region_hash`. 0, -1 or -2; -2 also for
// the two reserved slot words, which no table can hold. On failure nothing is
// left to release.
kavu_status t_init_region_hash(const uint32_t *in_lbl, int32_t ncols, int32_t nrows,
                               open_hash *region_hash, int32_t *n_positions, int32_t *n_regions,
                               const uint8_t *mask);

// Builds the records and merge label lists of all `n_positions` positions and
// accumulates band means and areas. The six margin arguments are the tiled
// mode's: with a non-zero `share_n_positions` the continued regions' stored
// statistics are preset first by the tiled mode's tile_init_margin_region_set
// (tile/margins.h): the one call from the merging core into the tiled mode. 0, -1, -3 or the
// hook's result; on failure both arrays have been released.
kavu_status t_init_region_set(const float *image, const uint32_t *in_lbl, open_hash *region_hash,
                              int32_t n_positions, int32_t ncols, int32_t nrows, int32_t nbands,
                              region_rec **region_set, merge_lbl_list **merge_lbl,
                              open_hash *share_lbl_hash, int32_t share_n_positions,
                              const int32_t *share_rec_map, int32_t ml_n_positions,
                              open_hash *ml_curr_hash, FILE *info_file, const uint8_t *mask);

// Frees the band vectors (with a count above 0), then the array; the
// neighbour lists go with their nbr_store.
void t_free_region_set(int32_t count, region_rec *region_set);
// Destroys the first `count` lists and frees the array; null is ignored. For
// lists whose nodes were added one by one (merge_lbl_list_add).
void t_free_merge_lbl_list(int32_t count, merge_lbl_list *merge_lbl);
// Frees the lists t_init_region_set made, nodes and all; null is ignored.
void t_free_pooled_lbl_lists(merge_lbl_list *merge_lbl);

// Diagnostics; no routine calls them.
void t_print_region_set(int32_t capacity, int32_t nbands, const region_rec *region_set,
                        FILE *stream, const pair_rec *pair_set, const open_hash *region_hash,
                        const merge_lbl_list *merge_lbl);
// The neighbour positions of one region, in the neighbour-tree dump format.
void t_print_nptree(const region_rec *region, FILE *stream);
