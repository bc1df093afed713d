// Neighbourhoods of the flooding workers as data: one offset table in which the
// 4-neighbourhood (up, right, down, left) is the prefix of the 8-neighbourhood
// (then up-right, down-right, down-left, up-left), always visited in this order.
#pragma once

#include <cstdint>

inline constexpr int kNeighbourCount = 8;

// Index offsets of the eight neighbours in a row-major image of width nx.
struct neighbour_offsets {
  int64_t d[kNeighbourCount];
};

inline neighbour_offsets make_neighbour_offsets(int64_t nx) {
  return {{-nx, 1, nx, -1, -nx + 1, nx + 1, nx - 1, -nx - 1}};
}

// Validity flags of the eight neighbours of `pixel`: a neighbour outside the
// image is cleared. Only pixels of the one-pixel frame ever clear a flag, so
// callers that know a pixel is interior skip this.
inline void checkValidNeighbor(uint8_t flags[kNeighbourCount], int64_t pixel, int64_t nx,
                               int64_t ny) {
  const int64_t row = pixel / nx;
  const int64_t col = pixel - row * nx;
  for (int k = 0; k < kNeighbourCount; ++k) flags[k] = 1;
  if (row == 0) flags[7] = flags[0] = flags[4] = 0;
  if (row == ny - 1) flags[6] = flags[2] = flags[5] = 0;
  if (col == 0) flags[7] = flags[3] = flags[6] = 0;
  if (col == nx - 1) flags[4] = flags[1] = flags[5] = 0;
}
