// Boundary image worker: two branch-free passes over the label image, one for
// horizontal pairs and one for vertical pairs.
#include "labelutil/create_bound_from_label.h"

#include <cstddef>

int32_t create_bound_from_label(const uint32_t *labels, int32_t ncols, int32_t nrows, uint8_t *out,
                                int32_t *count) {
  const ptrdiff_t w = ncols;
  int64_t pairs = 0;
  // Horizontal pass: the left pixel of a differing pair is marked. A 0/1
  // difference times 255 is the mark, so the loop has no branch and vectorises.
  for (ptrdiff_t r = 0; r < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    uint8_t *mark = out + r * w;
    for (ptrdiff_t c = 0; c + 1 < w; ++c) {
      const uint8_t d = row[c] != row[c + 1];
      mark[c] = static_cast<uint8_t>(d * 255);
      pairs += d;
    }
  }
  // Vertical pass: the upper pixel is marked; a mark from the first pass stays.
  for (ptrdiff_t r = 0; r + 1 < nrows; ++r) {
    const uint32_t *row = labels + r * w;
    const uint32_t *below = row + w;
    uint8_t *mark = out + r * w;
    for (ptrdiff_t c = 0; c < w; ++c) {
      const uint8_t d = row[c] != below[c];
      mark[c] = static_cast<uint8_t>(mark[c] | d * 255);
      pairs += d;
    }
  }
  *count += static_cast<int32_t>(pairs);
  return 0;
}
