// The boundary pass: watershed lines dissolve into the basins beside them, a
// line pixel taking the label of the direct neighbour nearest in image value.
// With a mask the frame is then completed so that every frame pixel the mask
// lets through carries a label (tiles hand their frame on as margins).
#include "watershed/flooding_state.h"
#include "watershed/merge_pairs.h"
#include "containers/status.h"

#include <cfloat>

namespace {

template <typename Label>
kavu_status add_to_queue(flooding_state<Label> &s, int64_t p) {
  s.labels[p] = LBL_INQUEUE<Label>;
  const uint32_t v = static_cast<uint32_t>(p);
  return queue_add(&s.fifo, &v);
}

// Squared distance of two pixels over all bands, summed in band order.
template <typename Label>
float band_distance(const flooding_state<Label> &s, int64_t p, int64_t q) {
  const int64_t plane = s.nx * s.ny;
  float d = 0.0f;
  for (int64_t b = 0; b < s.nb; ++b) {
    const float diff = s.image[b * plane + p] - s.image[b * plane + q];
    d += diff * diff;
  }
  return d;
}

// Line pixels with a labelled neighbour (any of the first 4 or 8) start the queue.
template <typename Label>
kavu_status seed_lines(flooding_state<Label> &s) {
  const int64_t n = s.nx * s.ny;
  uint8_t valid[kNeighbourCount];
  for (int64_t i = 0; i < n; ++i) {
    if (s.labels[i] != LBL_WSHED<Label> || excluded_by_mask(s, i)) continue;
    checkValidNeighbor(valid, i, s.nx, s.ny);
    for (int j = 0; j < s.neighbours; ++j)
      if (valid[j] && is_real_label(s.labels[i + s.offsets.d[j]])) {
        if (add_to_queue(s, i) != 0) return KAVU_NO_MEMORY;
        break;
      }
  }
  return KAVU_OK;
}

// Each queued pixel looks at its four direct neighbours only, whatever the
// connectivity: it takes the nearest labelled one (the earlier on a tie) and
// queues the line pixels beside it. A pixel between two labels keeps mask 255.
template <typename Label>
kavu_status dissolve_lines(flooding_state<Label> &s) {
  Label *lab = s.labels;
  uint8_t valid[kNeighbourCount];
  while (!queue_empty(&s.fifo)) {
    int32_t p32 = 0;
    queue_first(&s.fifo, &p32);
    const int64_t p = p32;
    checkValidNeighbor(valid, p, s.nx, s.ny);
    float best = FLT_MAX;
    Label first_seen = LBL_WSHED<Label>;
    bool meeting = false;
    for (int j = 0; j < 4; ++j) {
      if (!valid[j]) continue;
      const int64_t q = p + s.offsets.d[j];
      const Label lq = lab[q];
      if (is_real_label(lq)) {
        if (first_seen == LBL_WSHED<Label>)
          first_seen = lq;
        else if (lq != first_seen)
          meeting = true;
        const float d = band_distance(s, p, q);
        if (best > d) {
          lab[p] = lq;
          best = d;
        }
      } else if (lq == LBL_WSHED<Label> && !excluded_by_mask(s, q)) {
        if (add_to_queue(s, q) != 0) return KAVU_NO_MEMORY;
      }
    }
    if (!meeting) s.wshed_mask[p] = 0;
  }
  return KAVU_OK;
}

// A pixel the pass queued but could not label (a diagonal seed with 8
// neighbours, or distances that are all NaN) stays a watershed pixel. Done
// once the queue is empty: turning it back earlier would let two such pixels
// queue each other for ever.
template <typename Label>
void restore_unlabelled(flooding_state<Label> &s) {
  const int64_t n = s.nx * s.ny;
  for (int64_t i = 0; i < n; ++i)
    if (s.labels[i] == LBL_INQUEUE<Label>) {
      s.labels[i] = LBL_WSHED<Label>;
      s.wshed_mask[i] = 255;
    }
}

// Frame pixels still on a line take the label of the pixel `before` them, or a
// new one when that is no basin.
template <typename Label>
void complete_frame(flooding_state<Label> &s) {
  const int64_t nx = s.nx, ny = s.ny, n = nx * ny;
  Label *lab = s.labels;
  auto complete = [&](int64_t p, int64_t before) {
    if (lab[p] != LBL_WSHED<Label> || excluded_by_mask(s, p)) return;
    if (is_real_label(lab[before]))
      lab[p] = lab[before];
    else
      new_basin_label(s, p);
  };
  if (lab[0] == LBL_WSHED<Label> && !excluded_by_mask(s, 0)) new_basin_label(s, 0);
  for (int64_t c = 1; c < nx; ++c) complete(c, c - 1);
  for (int64_t r = 1; r < ny; ++r) complete(r * nx, r * nx - nx);
  for (int64_t r = 1; r < ny; ++r) complete(r * nx + nx - 1, r * nx - 1);
  // Column 0 of the last row looks back to the end of the row above.
  for (int64_t p = n - nx; p < n; ++p) complete(p, p - 1);
}

}  // namespace

template <typename Label>
kavu_status boundary_pass(flooding_state<Label> &s) {
  if (seed_lines(s) != 0 || dissolve_lines(s) != 0) return KAVU_NO_MEMORY;
  restore_unlabelled(s);
  if (!s.mask) return KAVU_OK;
  complete_frame(s);
  const int64_t last = s.nx * s.ny - 1, above = last - s.nx;
  const Label a = s.labels[last], b = s.labels[above];
  if (is_real_label(a) && is_real_label(b) && a != b && s.levels[last] == 0 && s.levels[above] == 0)
    return merge_pair_add_once(s.pairs, a, b);
  return KAVU_OK;
}

template kavu_status boundary_pass<uint32_t>(flooding_state<uint32_t> &s);
template kavu_status boundary_pass<uint16_t>(flooding_state<uint16_t> &s);
