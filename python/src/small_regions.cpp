#include "small_regions.h"

#include "label_forest.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kavu_py {

namespace {

// Two labels that touch (smaller first) and how many 4-neighbour steps they share.
struct Contact {
  uint32_t low;
  uint32_t high;
  double length;
};

struct Host {
  uint32_t label = 0;  // 0: none yet
  double cost = 0;
};

// Lower cost first, then the smaller label; a NaN cost only beats another NaN.
bool cheaper(double cost, uint32_t label, const Host &best) {
  if (best.label == 0) return true;
  const bool nan = std::isnan(cost), best_nan = std::isnan(best.cost);
  if (nan != best_nan) return best_nan;
  if (!nan && cost != best.cost) return cost < best.cost;
  return label < best.label;
}

class Round {
 public:
  explicit Round(const SmallRegionsRequest &r) : r_(r), pixels_(r.height * r.width) {}

  // One round; false when no region under the size has a neighbour.
  bool run() {
    count_areas();
    if (!mark_small()) return false;
    find_contacts();
    if (contacts_.empty()) return false;
    sum_bands();
    elect_hosts();
    renumber();
    return true;
  }

 private:
  void count_areas() {
    const uint32_t *l = r_.labels;
    uint32_t top = 0;
    for (size_t i = 0; i < pixels_; ++i) top = std::max(top, l[i]);
    n_ = size_t(top) + 1;
    area_.assign(n_, 0.0);
    for (size_t i = 0; i < pixels_; ++i) area_[l[i]] += 1.0;
  }

  bool mark_small() {
    small_.assign(n_, 0);
    bool any = false;
    for (size_t k = 1; k < n_; ++k) {
      small_[k] = area_[k] < r_.min_size;
      any |= small_[k] != 0;
    }
    return any;
  }

  void touch(uint32_t a, uint32_t b) {
    if (a == b || a == 0 || b == 0 || !(small_[a] | small_[b])) return;
    keys_.push_back(a < b ? (uint64_t(a) << 32 | b) : (uint64_t(b) << 32 | a));
  }

  void find_contacts() {
    const uint32_t *l = r_.labels;
    const size_t w = r_.width;
    keys_.clear();
    for (size_t y = 0; y < r_.height; ++y) {
      const uint32_t *row = l + y * w;
      for (size_t x = 0; x + 1 < w; ++x) touch(row[x], row[x + 1]);
      if (y + 1 < r_.height)
        for (size_t x = 0; x < w; ++x) touch(row[x], row[x + w]);
    }
    std::sort(keys_.begin(), keys_.end());
    contacts_.clear();
    for (size_t i = 0; i < keys_.size();) {
      size_t j = i;
      while (j < keys_.size() && keys_[j] == keys_[i]) ++j;
      contacts_.push_back({uint32_t(keys_[i] >> 32), uint32_t(keys_[i]), double(j - i)});
      i = j;
    }
  }

  // Band sums of the labels in some contact, pixel by pixel in raster order
  // as the whole-image pass adds them, so that the costs are the same doubles.
  void sum_bands() {
    involved_.assign(n_, 0);
    for (const Contact &c : contacts_) involved_[c.low] = involved_[c.high] = 1;
    means_.assign(r_.nbands * n_, 0.0);
    const uint32_t *l = r_.labels;
    for (size_t b = 0; b < r_.nbands; ++b) {
      const float *band = r_.bands + b * pixels_;
      double *sums = means_.data() + b * n_;
      for (size_t i = 0; i < pixels_; ++i)
        if (involved_[l[i]]) sums[l[i]] += double(band[i]);
      for (size_t k = 1; k < n_; ++k)
        if (involved_[k]) sums[k] /= area_[k];
    }
  }

  double cost(const Contact &c) const {
    const double a = area_[c.low], b = area_[c.high];
    double dist = 0;
    for (size_t band = 0; band < r_.nbands; ++band) {
      const double d = means_[band * n_ + c.low] - means_[band * n_ + c.high];
      dist = band == 0 ? d * d : dist + d * d;
    }
    return a * b / (a + b) * dist / c.length;
  }

  void elect_hosts() {
    hosts_.assign(n_, Host{});
    for (const Contact &c : contacts_) {
      const double k = cost(c);
      if (small_[c.low] && cheaper(k, c.high, hosts_[c.low])) hosts_[c.low] = {c.high, k};
      if (small_[c.high] && cheaper(k, c.low, hosts_[c.high])) hosts_[c.high] = {c.low, k};
    }
  }

  // Each group of joined labels takes the place of its smallest label in
  // 1, 2, ...; labels that join nothing are renumbered with them.
  void renumber() {
    parent_.resize(n_);
    for (size_t k = 0; k < n_; ++k) parent_[k] = uint32_t(k);
    for (size_t k = 1; k < n_; ++k)
      if (hosts_[k].label != 0) forest_join(parent_.data(), uint32_t(k), hosts_[k].label);
    number_groups(parent_.data(), n_);
    uint32_t *l = r_.labels;
    for (size_t i = 0; i < pixels_; ++i) l[i] = parent_[l[i]];
  }

  const SmallRegionsRequest &r_;
  const size_t pixels_;
  size_t n_ = 0;
  std::vector<double> area_;
  std::vector<char> small_, involved_;
  std::vector<uint64_t> keys_;
  std::vector<Contact> contacts_;
  std::vector<double> means_;  // band-major: means_[band * n_ + label]
  std::vector<Host> hosts_;
  std::vector<uint32_t> parent_;  // a label forest, then each label's group
};

}  // namespace

void absorb_small_regions(const SmallRegionsRequest &request) {
  Round round(request);
  while (round.run()) {
  }
}

}  // namespace kavu_py
