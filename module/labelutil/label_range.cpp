// Largest label of a label image.
#include "labelutil/label_range.h"

uint32_t largest_label(const uint32_t *labels, int64_t n) {
  uint32_t largest = 0;
  for (int64_t i = 0; i < n; ++i) largest = labels[i] > largest ? labels[i] : largest;
  return largest;
}
