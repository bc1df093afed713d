// The watershed's inputs and outputs as std:: containers, random level images,
// and a plain reference flooding written from the definition with std::
// containers: bounds tests per neighbour, a stable sort, a deque and a set.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace watershed_test {

struct FloodInput {
  int64_t nx = 3, ny = 3, nb = 1;
  std::vector<uint16_t> levels;
  std::vector<float> image;   // nb planes of nx * ny; empty reads as zeros
  std::vector<uint8_t> mask;  // empty: no mask
  uint32_t start = 0;
  std::vector<uint32_t> top;   // empty: no top margin
  std::vector<uint32_t> left;  // empty: no left margin
  int32_t connectivity = 4;
  bool merge_bd = false;
};

using Pair = std::pair<int32_t, int32_t>;  // (hash1, hash2): larger label first

struct FloodOutput {
  std::vector<uint32_t> labels;  // widened from 16-bit labels
  std::vector<uint8_t> wmask;
  uint32_t count = 0;
  std::vector<uint32_t> pairs;  // flattened, ascending
};

// ---- random level images --------------------------------------------------

enum class Field { kSmooth, kPlateaus, kNoise, kFlat, kFewLevels };

inline std::vector<uint16_t> random_levels(std::mt19937 &rng, int64_t nx, int64_t ny, Field f) {
  std::vector<uint16_t> lv(nx * ny);
  std::uniform_int_distribution<int> any(0, 65535), few(0, 3);
  std::uniform_real_distribution<double> phase(0.0, 6.28), freq(0.05, 0.6);
  const double fx = freq(rng), fy = freq(rng), px = phase(rng), py = phase(rng);
  for (int64_t r = 0; r < ny; ++r)
    for (int64_t c = 0; c < nx; ++c) {
      const double smooth = 2.0 + std::sin(fx * c + px) + std::cos(fy * r + py);  // 0 .. 4
      int v = 0;
      switch (f) {
        case Field::kSmooth: v = static_cast<int>(smooth * 1000.0) + few(rng); break;
        case Field::kPlateaus: v = static_cast<int>(smooth * 2.0); break;  // 0 .. 8, wide flats
        case Field::kNoise: v = any(rng); break;
        case Field::kFlat: v = 7; break;
        case Field::kFewLevels: v = few(rng); break;
      }
      lv[r * nx + c] = static_cast<uint16_t>(v);
    }
  return lv;
}

struct Reference {
  static constexpr uint32_t kInit = 0xFFFFFFFF, kCurrent = 0xFFFFFFFE, kInQueue = 0xFFFFFFFD,
                            kFrame = 0xFFFFFFFC, kExcluded = 0xFFFFFFFB;

  const FloodInput &in;
  uint32_t top_value;  // the largest real label of the chosen width
  int64_t nx, ny;
  std::vector<uint32_t> lab;
  std::vector<uint8_t> wm;
  std::set<Pair> pairs;
  uint32_t current, count;

  Reference(const FloodInput &input, bool sixteen)
      : in(input), top_value(sixteen ? 0xFFFA : 0xFFFFFFFA), nx(input.nx), ny(input.ny) {
    current = count = sixteen ? (in.start & 0xFFFF) : in.start;
  }

  // Reserved values of the 16-bit worker, widened, equal the 32-bit ones.
  uint32_t narrow(uint32_t v) const { return top_value == 0xFFFA ? (v & 0xFFFF) : v; }
  bool real(uint32_t v) const { return v != 0 && v <= top_value; }
  bool masked_out(int64_t p) const { return !in.mask.empty() && in.mask[p] == 0; }

  // Neighbour k of p in the fixed order, or -1 outside the image.
  int64_t neighbour(int64_t p, int k) const {
    static const int dc[8] = {0, 1, 0, -1, 1, 1, -1, -1};
    static const int dr[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
    const int64_t r = p / nx + dr[k], c = p % nx + dc[k];
    return r < 0 || r >= ny || c < 0 || c >= nx ? -1 : r * nx + c;
  }

  void add_pair(uint32_t a, uint32_t b) {
    pairs.insert({static_cast<int32_t>(std::max(a, b)), static_cast<int32_t>(std::min(a, b))});
  }
  uint32_t new_label() {
    if (current < top_value) ++current;
    ++count;
    return current;
  }

  FloodOutput run() {
    const int64_t n = nx * ny;
    const int k = in.connectivity;
    // Reserved values are kept at their 32-bit values and narrowed at the end.
    lab.assign(n, kInit);
    wm.assign(n, 0);
    for (int64_t c = 0; c < nx; ++c) lab[c] = lab[(ny - 1) * nx + c] = kFrame;
    for (int64_t c = 0; c < nx && !in.top.empty(); ++c)
      if (in.top[c]) lab[c] = narrow(in.top[c]);
    for (int64_t r = 0; r < ny; ++r) lab[r * nx] = lab[r * nx + nx - 1] = kFrame;
    for (int64_t r = 0; r < ny && !in.left.empty(); ++r)
      if (in.left[r]) lab[r * nx] = narrow(in.left[r]);
    for (int64_t p = 0; p < n; ++p)
      if (masked_out(p)) lab[p] = kExcluded;

    std::vector<int64_t> order;
    for (int64_t r = 1; r + 1 < ny; ++r)
      for (int64_t c = 1; c + 1 < nx; ++c)
        if (!masked_out(r * nx + c)) order.push_back(r * nx + c);
    std::stable_sort(order.begin(), order.end(),
                     [&](int64_t a, int64_t b) { return in.levels[a] < in.levels[b]; });

    bool flag = false;
    std::deque<int64_t> fifo;
    for (size_t b = 0; b < order.size();) {
      size_t e = b;
      while (e < order.size() && in.levels[order[e]] == in.levels[order[b]]) ++e;
      for (size_t i = b; i < e; ++i) {
        const int64_t p = order[i];
        lab[p] = kCurrent;
        for (int j = 0; j < k; ++j) {
          const int64_t q = neighbour(p, j);
          if (q >= 0 && (lab[q] == 0 || real(lab[q]))) {
            lab[p] = kInQueue;
            fifo.push_back(p);
            break;
          }
        }
      }
      while (!fifo.empty()) {
        const int64_t p = fifo.front();
        fifo.pop_front();
        for (int j = 0; j < k; ++j) {
          const int64_t q = neighbour(p, j);
          if (q < 0) continue;
          if (real(lab[q])) {
            if (lab[p] == kInQueue || (lab[p] == 0 && flag)) {
              lab[p] = lab[q];
              wm[p] = 0;
            } else if (lab[p] == 0 || lab[p] == lab[q]) {
            } else {
              if (in.levels[p] == 0 && in.levels[q] == 0) add_pair(lab[p], lab[q]);
              lab[p] = 0;
              wm[p] = 255;
              flag = false;
            }
          } else if (lab[q] == 0) {
            if (lab[p] == kInQueue) {
              lab[p] = 0;
              wm[p] = 255;
              flag = true;
            }
          } else if (lab[q] == kCurrent) {
            lab[q] = kInQueue;
            fifo.push_back(q);
          }
        }
      }
      for (size_t i = b; i < e; ++i) {
        if (lab[order[i]] != kCurrent) continue;
        const uint32_t l = new_label();
        lab[order[i]] = l;
        fifo.push_back(order[i]);
        while (!fifo.empty()) {
          const int64_t x = fifo.front();
          fifo.pop_front();
          for (int j = 0; j < k; ++j) {
            const int64_t q = neighbour(x, j);
            if (q >= 0 && lab[q] == kCurrent) {
              lab[q] = l;
              fifo.push_back(q);
            }
          }
        }
      }
      b = e;
    }

    for (int64_t p = 0; p < n; ++p) {
      const int64_t r = p / nx, c = p % nx;
      const bool frame = r == 0 || r == ny - 1 || c == 0 || c == nx - 1;
      if ((frame && lab[p] == kFrame) || masked_out(p)) {
        lab[p] = 0;
        wm[p] = 255;
      }
    }
    if (in.merge_bd) boundary_pass();

    FloodOutput out;
    for (uint32_t v : lab) out.labels.push_back(narrow(v));
    out.wmask = wm;
    out.count = count;
    for (const auto &[a, b] : pairs) out.pairs.insert(out.pairs.end(), {uint32_t(a), uint32_t(b)});
    return out;
  }

  void boundary_pass() {
    const int64_t n = nx * ny, plane = n;
    std::deque<int64_t> fifo;
    for (int64_t p = 0; p < n; ++p) {
      if (lab[p] != 0 || masked_out(p)) continue;
      for (int j = 0; j < in.connectivity; ++j) {
        const int64_t q = neighbour(p, j);
        if (q >= 0 && real(lab[q])) {
          lab[p] = kInQueue;
          fifo.push_back(p);
          break;
        }
      }
    }
    while (!fifo.empty()) {
      const int64_t p = fifo.front();
      fifo.pop_front();
      float best = FLT_MAX;
      uint32_t first = 0;
      bool meeting = false;
      for (int j = 0; j < 4; ++j) {
        const int64_t q = neighbour(p, j);
        if (q < 0) continue;
        if (real(lab[q])) {
          if (first == 0)
            first = lab[q];
          else if (lab[q] != first)
            meeting = true;
          float d = 0.0f;
          for (int64_t b = 0; b < in.nb; ++b) {
            const float x = in.image.empty() ? 0.0f : in.image[b * plane + p];
            const float y = in.image.empty() ? 0.0f : in.image[b * plane + q];
            d += (x - y) * (x - y);
          }
          if (best > d) {
            lab[p] = lab[q];
            best = d;
          }
        } else if (lab[q] == 0 && !masked_out(q)) {
          lab[q] = kInQueue;
          fifo.push_back(q);
        }
      }
      if (!meeting) wm[p] = 0;
    }
    for (int64_t p = 0; p < n; ++p)  // left unlabelled: back to the line
      if (lab[p] == kInQueue) {
        lab[p] = 0;
        wm[p] = 255;
      }
    if (in.mask.empty()) return;
    auto complete = [&](int64_t p, int64_t before) {
      if (lab[p] != 0 || masked_out(p)) return;
      lab[p] = before >= 0 && real(lab[before]) ? lab[before] : new_label();
    };
    complete(0, -1);
    for (int64_t c = 1; c < nx; ++c) complete(c, c - 1);
    for (int64_t r = 1; r < ny; ++r) complete(r * nx, (r - 1) * nx);
    for (int64_t r = 1; r < ny; ++r) complete(r * nx + nx - 1, (r - 1) * nx + nx - 1);
    for (int64_t c = 0; c < nx; ++c) complete((ny - 1) * nx + c, (ny - 1) * nx + c - 1);
    const int64_t last = n - 1, above = n - 1 - nx;
    if (real(lab[last]) && real(lab[above]) && lab[last] != lab[above] && in.levels[last] == 0 &&
        in.levels[above] == 0)
      add_pair(lab[last], lab[above]);
  }
};

}  // namespace watershed_test
