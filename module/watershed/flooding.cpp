// The flooding workers: one body over the label width. Pixels are sorted by
// level with a counting sort over the interior; each level is then taken over
// breadth-first from the basins already labelled, and what is left of it
// starts new basins.
#include "watershed/flooding.h"

#include "containers/allocation.h"
#include "containers/status.h"
#include "watershed/flooding_state.h"
#include "watershed/merge_pairs.h"

namespace {

constexpr int64_t kLevels = 65536;
constexpr int64_t kPrefetchAhead = 16;  // sorted pixels; tuned on 4096 x 4096 images

// Frame, margins and mask, in this order: a later step overwrites an earlier one.
template <typename Label>
void set_initial_labels(flooding_state<Label> &s, const uint32_t *top, const uint32_t *left) {
  const int64_t nx = s.nx, ny = s.ny, n = nx * ny;
  Label *lab = s.labels;
  for (int64_t i = 0; i < n; ++i) lab[i] = LBL_INIT<Label>;
  for (int64_t c = 0; c < nx; ++c) lab[c] = lab[n - nx + c] = LBL_FRAME<Label>;
  // The 16-bit worker keeps the low 16 bits of a margin label.
  if (top)
    for (int64_t c = 0; c < nx; ++c)
      if (top[c] != 0) lab[c] = static_cast<Label>(top[c]);
  for (int64_t r = 0; r < ny; ++r) lab[r * nx] = lab[r * nx + nx - 1] = LBL_FRAME<Label>;
  if (left)
    for (int64_t r = 0; r < ny; ++r)
      if (left[r] != 0) lab[r * nx] = static_cast<Label>(left[r]);
  if (s.mask)
    for (int64_t i = 0; i < n; ++i)
      if (s.mask[i] == 0) lab[i] = LBL_EXCLUDED<Label>;
}

// Calls visit(p) for every interior pixel the mask lets through, row-major.
template <typename Label, typename Visit>
void for_interior(const flooding_state<Label> &s, Visit visit) {
  for (int64_t r = 1; r < s.ny - 1; ++r) {
    const int64_t row = r * s.nx;
    for (int64_t p = row + 1; p < row + s.nx - 1; ++p)
      if (!excluded_by_mask(s, p)) visit(p);
  }
}

struct level_range {
  int lo, hi;
};

// Counting sort of the interior by level. Afterwards end[v] is the end of
// level v in `sorted`, and level v starts where level v - 1 ends (at 0 for lo).
template <typename Label>
level_range sort_levels(flooding_state<Label> &s, uint32_t *histogram, uint32_t *end) {
  level_range range{static_cast<int>(kLevels - 1), 0};
  for_interior(s, [&](int64_t p) {
    const int v = s.levels[p];
    ++histogram[v];
    if (v < range.lo) range.lo = v;
    if (v > range.hi) range.hi = v;
  });
  end[range.lo] = 0;
  for (int v = range.lo + 1; v <= range.hi; ++v) end[v] = end[v - 1] + histogram[v - 1];
  for_interior(s, [&](int64_t p) { s.sorted[end[s.levels[p]]++] = static_cast<uint32_t>(p); });
  return range;
}

// The three phases of flooding one level, the pixels sorted[begin, end).
// Every pixel there is interior, so all eight neighbours exist and no
// validity test is needed.

// Mark: pixels touching a basin or a line wait in the queue, the rest are
// current. The pixels left current are moved to the front of the level's part
// of `sorted`, in their order, and *current_end is where they end: only they
// can start new basins. Sorted order jumps across the image, so the rows around
// pixels a little ahead are fetched early; this loop is where the flooding
// waits for memory.
template <typename Label>
kavu_status mark_level(flooding_state<Label> &s, int64_t begin, int64_t end, int64_t *current_end) {
  Label *lab = s.labels;
  const int64_t *off = s.offsets.d;
  const int k = s.neighbours;
  int64_t current = begin;
  for (int64_t i = begin; i < end; ++i) {
    if (i + kPrefetchAhead < end) {
      const int64_t ahead = s.sorted[i + kPrefetchAhead];
      __builtin_prefetch(&lab[ahead - s.nx], 0);
      __builtin_prefetch(&lab[ahead], 1);
      __builtin_prefetch(&lab[ahead + s.nx], 0);
    }
    const int64_t p = s.sorted[i];
    lab[p] = LBL_CURRENT<Label>;
    int j = 0;
    while (j < k && lab[p + off[j]] > LBL_MAX_REAL<Label>) ++j;
    if (j == k) {
      s.sorted[current++] = static_cast<uint32_t>(p);
      continue;
    }
    lab[p] = LBL_INQUEUE<Label>;
    const uint32_t v = static_cast<uint32_t>(p);
    if (queue_add(&s.fifo, &v) != 0) return KAVU_NO_MEMORY;
  }
  *current_end = current;
  return KAVU_OK;
}

// Propagate breadth-first; a pixel reached by two basins becomes a line.
// The rows around pixels a few places behind the head are fetched early:
// `ahead` walks the queue at most kPrefetchAhead nodes past the head, and
// falls back to the head when the node it stood on is recycled.
template <typename Label>
kavu_status propagate(flooding_state<Label> &s, int level) {
  Label *lab = s.labels;
  const int64_t *off = s.offsets.d;
  const int k = s.neighbours;
  queue *fifo = &s.fifo;
  queue_node *ahead = fifo->head;
  int lead = 0;
  while (!queue_empty(fifo)) {
    for (; lead < kPrefetchAhead && ahead->next; ++lead) {
      ahead = ahead->next;
      const Label *row = lab + ahead->value;
      __builtin_prefetch(row - s.nx, 0);
      __builtin_prefetch(row, 1);
      __builtin_prefetch(row + s.nx, 0);
    }
    int32_t p32 = 0;
    queue_first(fifo, &p32);
    if (--lead < 0) {
      ahead = fifo->head;
      lead = 0;
    }
    const int64_t p = p32;
    for (int j = 0; j < k; ++j) {
      const int64_t q = p + off[j];
      const Label lq = lab[q];
      if (is_real_label(lq)) {
        const Label lp = lab[p];
        if (lp == LBL_INQUEUE<Label>) {
          lab[p] = lq;  // its mask is still the caller's 0: not touched
        } else if (lp == LBL_WSHED<Label> && s.line_by_touch) {
          lab[p] = lq;
          s.wshed_mask[p] = 0;
        } else if (lp != LBL_WSHED<Label> && lp != lq) {
          // p is of this level, so only q's level needs reading.
          if (level == 0 && s.levels[q] == 0 && merge_pair_add_once(s.pairs, lp, lq) != 0)
            return KAVU_NO_MEMORY;
          lab[p] = LBL_WSHED<Label>;
          s.wshed_mask[p] = 255;
          s.line_by_touch = false;
        }
      } else if (lq == LBL_WSHED<Label>) {
        if (lab[p] == LBL_INQUEUE<Label>) {
          lab[p] = LBL_WSHED<Label>;
          s.wshed_mask[p] = 255;
          s.line_by_touch = true;
        }
      } else if (lq == LBL_CURRENT<Label>) {
        lab[q] = LBL_INQUEUE<Label>;
        const uint32_t v = static_cast<uint32_t>(q);
        if (queue_add(fifo, &v) != 0) return KAVU_NO_MEMORY;
      }
    }
  }
  return KAVU_OK;
}

// New minima: what is still current of sorted[begin, end) starts a basin of
// its own, which takes every current pixel it reaches.
template <typename Label>
kavu_status start_basins(flooding_state<Label> &s, int64_t begin, int64_t end) {
  Label *lab = s.labels;
  const int64_t *off = s.offsets.d;
  const int k = s.neighbours;
  queue *fifo = &s.fifo;
  for (int64_t i = begin; i < end; ++i) {
    const int64_t p = s.sorted[i];
    if (lab[p] != LBL_CURRENT<Label>) continue;
    new_basin_label(s, p);
    const Label basin = s.current;
    uint32_t v = static_cast<uint32_t>(p);
    if (queue_add(fifo, &v) != 0) return KAVU_NO_MEMORY;
    while (!queue_empty(fifo)) {
      int32_t x = 0;
      queue_first(fifo, &x);
      for (int j = 0; j < k; ++j) {
        const int64_t q = x + off[j];
        if (lab[q] == LBL_CURRENT<Label>) {
          lab[q] = basin;
          v = static_cast<uint32_t>(q);
          if (queue_add(fifo, &v) != 0) return KAVU_NO_MEMORY;
        }
      }
    }
  }
  return KAVU_OK;
}

template <typename Label>
kavu_status flood_level(flooding_state<Label> &s, int level, int64_t begin, int64_t end) {
  int64_t current_end;
  if (mark_level(s, begin, end, &current_end) != 0 || propagate(s, level) != 0)
    return KAVU_NO_MEMORY;
  return start_basins(s, begin, current_end);
}

// The frame and the masked pixels end as watershed pixels; margin labels stay.
template <typename Label>
void close_frame(flooding_state<Label> &s) {
  const int64_t nx = s.nx, ny = s.ny, n = nx * ny;
  auto close = [&](int64_t p) {
    if (s.labels[p] == LBL_FRAME<Label>) {
      s.labels[p] = LBL_WSHED<Label>;
      s.wshed_mask[p] = 255;
    }
  };
  for (int64_t c = 0; c < nx; ++c) {
    close(c);
    close(n - nx + c);
  }
  for (int64_t r = 0; r < ny; ++r) {
    close(r * nx);
    close(r * nx + nx - 1);
  }
  if (s.mask)
    for (int64_t i = 0; i < n; ++i)
      if (s.mask[i] == 0) {
        s.labels[i] = LBL_WSHED<Label>;
        s.wshed_mask[i] = 255;
      }
}

template <typename Label>
kavu_status flood(flooding_state<Label> &s, uint32_t *tables, const flooding_request &in) {
  set_initial_labels(s, in.top_labels, in.left_labels);
  uint32_t *histogram = tables, *end = tables + kLevels;
  const level_range range = sort_levels(s, histogram, end);
  for (int h = range.lo; h <= range.hi; ++h) {
    const int64_t begin = h == range.lo ? 0 : end[h - 1];
    if (begin != end[h] && flood_level(s, h, begin, end[h]) != 0) return KAVU_NO_MEMORY;
  }
  close_frame(s);
  return in.merge_boundaries ? boundary_pass(s) : KAVU_OK;
}

template <typename Label>
kavu_status watershed_body(const flooding_request &in, Label *labels, uint32_t *label_count) {
  // The 16-bit worker numbers from the start label's low 16 bits.
  const Label start = static_cast<Label>(in.start_label);
  flooding_state<Label> s{in.levels,
                          in.image,
                          in.nx,
                          in.ny,
                          in.nb,
                          in.mask,
                          labels,
                          in.wshed_mask,
                          // Pixel indices fit 32 bits (the queue holds them so):
                          // half the scratch's width halves what the sort moves.
                          reinterpret_cast<uint32_t *>(in.sorted),
                          in.pairs,
                          in.connectivity == 8 ? 8 : 4,
                          make_neighbour_offsets(in.nx),
                          {},
                          start,
                          start,
                          false};
  // Histogram and level ends, cleared together.
  auto *tables = kavu_alloc_zeroed<uint32_t>(2 * kLevels);
  if (!tables) return KAVU_NO_MEMORY;
  kavu_status status = queue_init(&s.fifo) == 0 ? flood(s, tables, in) : KAVU_NO_MEMORY;
  queue_clean(&s.fifo);
  kavu_free(tables);
  if (status == 0) *label_count = s.label_count;
  return status;
}

}  // namespace

kavu_status kavu_watershed_long(const flooding_request &in, uint32_t *labels,
                                uint32_t *label_count) {
  return watershed_body(in, labels, label_count);
}

kavu_status kavu_watershed_int(const flooding_request &in, uint16_t *labels,
                               uint32_t *label_count) {
  return watershed_body(in, labels, label_count);
}
