// The iterative merge schedule: full lambda-schedule merging of a whole image
// down to one region, recording the cost of every merge and who absorbed whom.
#pragma once

#include "containers/status.h"

#include <cstdint>

// Image: nbands float planes of ncols x nrows; labels: uint32 per pixel. On
// success with at least two regions, *lambdas holds *n_lambdas costs and
// *label_map 2 * *n_pairs labels (absorbed, survivor per merge), both from
// kavu_malloc for the caller to kavu_free; with one region nothing is written.
// 0; -1 memory; -2 a label the region hash refused (also the two reserved slot
// words); -3 a label not found.
kavu_status iterative_lambda_segment(const float *image, const uint32_t *in_lbl, int32_t ncols,
                                     int32_t nrows, int32_t nbands, float **lambdas,
                                     int32_t *n_lambdas, uint32_t **label_map, int32_t *n_pairs);
