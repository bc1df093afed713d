// What one call of a flooding worker works on, shared by its stages (initial
// labels, sort, flooding, closing, boundary pass). Internal to the workers.
#pragma once

#include "containers/aptree.h"
#include "containers/status.h"
#include "watershed/labels.h"
#include "watershed/neighbours.h"
#include "watershed/queue.h"

#include <cstdint>

template <typename Label>
struct flooding_state {
  const uint16_t *levels;
  const float *image;
  int64_t nx, ny, nb;
  const uint8_t *mask;  // null without a mask
  Label *labels;
  uint8_t *wshed_mask;
  uint32_t *sorted;  // pixel indices by level, in the caller's 64-bit scratch (half of it used)
  aptree *pairs;
  int neighbours;  // 4 or 8: how much of `offsets` is used
  neighbour_offsets offsets;
  queue fifo;
  Label current;         // the last label given
  uint32_t label_count;  // goes on counting past the saturated label
  // Whether the last pixel to become a line did so by touching a line, which
  // lets the next basin it meets take it over. It lives across levels.
  bool line_by_touch;
};

// Gives pixel p the next label of a new basin.
template <typename Label>
void new_basin_label(flooding_state<Label> &s, int64_t p) {
  s.current = next_label(s.current);
  ++s.label_count;
  s.labels[p] = s.current;
}

template <typename Label>
bool excluded_by_mask(const flooding_state<Label> &s, int64_t p) {
  return s.mask && s.mask[p] == 0;
}

// Runs the boundary pass that dissolves watershed lines into the basins;
// 0, or -1 when the queue or the pair tree fails.
template <typename Label>
kavu_status boundary_pass(flooding_state<Label> &s);
