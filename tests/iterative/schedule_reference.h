// A brute-force model of the iterative merge schedule, written independently
// of the module: region positions from a model of the label hash, statistics in
// plain containers, every cost recomputed from scratch before each merge, and
// the global minimum (cost, then pair index) merged each time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace iterative_test {

// Slot positions the region hash gives the labels: labels collected where they
// differ from their left and upper neighbours, a power-of-two table above 1.5
// times that count, home = low bits, step = an odd prime picked by the next 8 bits.
inline std::map<uint32_t, int32_t> model_positions(const std::vector<uint32_t> &labels,
                                                   int32_t ncols, int32_t nrows) {
  std::vector<uint32_t> collected;
  for (int32_t r = 0; r < nrows; ++r)
    for (int32_t c = 0; c < ncols; ++c) {
      const int32_t i = r * ncols + c;
      const bool left = c > 0 && labels[i] == labels[i - 1];
      const bool up = r > 0 && labels[i] == labels[i - ncols];
      if (!left && !up) collected.push_back(labels[i]);
    }
  int64_t size = 2;
  int32_t param = 0;
  for (int32_t b = 1; collected.size() > 0 && b < 31; ++b) {
    if (static_cast<double>(int64_t{1} << b) > 1.5 * static_cast<double>(collected.size())) {
      size = int64_t{1} << b;
      param = b;
      break;
    }
  }
  std::vector<int32_t> primes;
  for (int32_t v = 3; primes.size() < 256; v += 2) {
    bool prime = true;
    for (int32_t d = 3; d * d <= v; d += 2) prime = prime && v % d != 0;
    if (prime) primes.push_back(v);
  }
  std::vector<bool> used(size, false);
  std::map<uint32_t, int32_t> pos;
  for (const uint32_t l : collected) {
    if (pos.count(l)) continue;
    int64_t p = l & (size - 1);
    const int64_t step = primes[(l >> param) & 0xFF];
    while (used[p]) p = (p + step) % size;
    used[p] = true;
    pos[l] = static_cast<int32_t>(p);
  }
  return pos;
}

struct schedule {
  std::vector<float> lambdas;
  std::vector<uint32_t> label_map;  // absorbed, survivor per merge
};

inline schedule reference_schedule(const std::vector<float> &image,
                                   const std::vector<uint32_t> &labels, int32_t ncols,
                                   int32_t nrows, int32_t nbands) {
  const auto pos = model_positions(labels, ncols, nrows);
  const int32_t npix = ncols * nrows;
  struct region {
    uint32_t label;
    int32_t area = 0;
    std::vector<float> mean;
    int32_t changed = 0;  // merge number at which it last absorbed a region; 0 never
  };
  std::map<int32_t, region> regions;  // by position
  for (const auto &[l, p] : pos) regions[p] = {l, 0, std::vector<float>(nbands, 0.0f), 0};
  for (int32_t i = 0; i < npix; ++i) {
    region &r = regions[pos.at(labels[i])];
    for (int32_t b = 0; b < nbands; ++b) r.mean[b] += image[b * npix + i];
    r.area += 1;
  }
  for (auto &[p, r] : regions)
    for (float &m : r.mean) m /= static_cast<float>(r.area);

  // Pairs numbered in (position of smaller label, position of larger label) order.
  struct pair {
    int32_t r0, r1, blen;
    bool live = true;
  };
  std::map<std::pair<int32_t, int32_t>, int32_t> blen;
  auto touch = [&](uint32_t a, uint32_t b) {
    if (a == b) return;
    if (a > b) std::swap(a, b);
    blen[{pos.at(a), pos.at(b)}] += 1;
  };
  for (int32_t r = 0; r < nrows; ++r)
    for (int32_t c = 0; c < ncols; ++c) {
      const int32_t i = r * ncols + c;
      if (c + 1 < ncols) touch(labels[i], labels[i + 1]);
      if (r + 1 < nrows) touch(labels[i], labels[i + ncols]);
    }
  std::vector<pair> pairs;
  for (const auto &[key, n] : blen) pairs.push_back({key.first, key.second, n});

  // A pair's cost is computed with the region that changed last first (at the
  // start, r0): the products do not associate, so the order shows in the bits.
  auto cost = [&](const pair &p) {
    const region &x = regions.at(p.r0), &y = regions.at(p.r1);
    const bool x_first = x.changed >= y.changed;
    const region &a = x_first ? x : y, &b = x_first ? y : x;
    float d = 0.0f;
    for (int32_t i = 0; i < nbands; ++i) {
      const float diff = a.mean[i] - b.mean[i];
      d += diff * diff;
    }
    const float s = static_cast<float>(b.area) * (static_cast<float>(a.area) * d) /
                    static_cast<float>(a.area + b.area);
    return s / static_cast<float>(p.blen);
  };

  schedule out;
  for (int32_t merge = 1; regions.size() > 1; ++merge) {
    int32_t best = -1;
    float best_t = 0.0f;
    for (int32_t k = 0; k < static_cast<int32_t>(pairs.size()); ++k) {
      if (!pairs[k].live) continue;
      const float t = cost(pairs[k]);
      if (best == -1 || t < best_t) {
        best = k;
        best_t = t;
      }
    }
    if (best == -1) break;
    const int32_t a = pairs[best].r0, z = pairs[best].r1;
    out.lambdas.push_back(best_t);
    region &ra = regions.at(a);
    const region &rz = regions.at(z);
    const int32_t n = ra.area + rz.area;
    for (int32_t b = 0; b < nbands; ++b)
      ra.mean[b] =
          (rz.mean[b] * static_cast<float>(rz.area) + ra.mean[b] * static_cast<float>(ra.area)) /
          static_cast<float>(n);
    ra.area = n;
    ra.changed = merge;
    pairs[best].live = false;
    // z's other pairs: fold into a's pair with the same neighbour, or move to a.
    for (pair &p : pairs) {
      if (!p.live || (p.r0 != z && p.r1 != z)) continue;
      const int32_t q = p.r0 == z ? p.r1 : p.r0;
      auto common = std::find_if(pairs.begin(), pairs.end(), [&](const pair &o) {
        return o.live && ((o.r0 == a && o.r1 == q) || (o.r0 == q && o.r1 == a));
      });
      if (common != pairs.end()) {
        common->blen += p.blen;
        p.live = false;
      } else {
        (p.r0 == z ? p.r0 : p.r1) = a;
        if (p.r0 > p.r1) std::swap(p.r0, p.r1);
      }
    }
    out.label_map.push_back(rz.label);
    out.label_map.push_back(ra.label);
    regions.erase(z);
  }
  return out;
}

}  // namespace iterative_test
