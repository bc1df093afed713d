// The flooding workers on many random level images: equal to the reference
// flooding bit for bit, and the invariants a watershed must keep.
#include "flooding_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using watershed_test::Field;
using watershed_test::FloodInput;
using watershed_test::FloodOutput;
using watershed_test::random_levels;
using watershed_test::reference_flood;
using watershed_test::run_worker;

const Field kFields[] = {Field::kSmooth, Field::kPlateaus, Field::kNoise, Field::kFlat,
                         Field::kFewLevels};

// A random call of any kind: size, field, connectivity, bands, mask, margins,
// start label and boundary pass all drawn.
FloodInput random_input(std::mt19937 &rng, int64_t max_side) {
  std::uniform_int_distribution<int64_t> side(3, max_side);
  std::bernoulli_distribution coin(0.5);
  FloodInput in;
  in.nx = side(rng);
  in.ny = side(rng);
  const int64_t n = in.nx * in.ny;
  in.levels = random_levels(rng, in.nx, in.ny, kFields[rng() % 5]);
  in.connectivity = coin(rng) ? 4 : 8;
  in.merge_bd = coin(rng);
  in.nb = rng() % 4;
  std::uniform_int_distribution<int> value(0, 6);  // few values: ties on distances
  for (int64_t i = 0; i < n * in.nb; ++i) in.image.push_back(static_cast<float>(value(rng)));
  if (coin(rng)) {
    std::bernoulli_distribution keep(0.85);
    for (int64_t i = 0; i < n; ++i) in.mask.push_back(keep(rng) ? 1 + rng() % 255 : 0);
  }
  std::uniform_int_distribution<uint32_t> margin(0, 5);
  if (coin(rng))
    for (int64_t c = 0; c < in.nx + 2; ++c)
      in.top.push_back(margin(rng) == 0 ? 0 : 1000 + margin(rng));
  if (coin(rng))
    for (int64_t r = 0; r < in.ny; ++r)
      in.left.push_back(margin(rng) == 0 ? 0 : 1000 + margin(rng));
  in.start = coin(rng) ? 0 : 2000 + rng() % 50000;
  return in;
}

TEST(FloodingRandom, BothWorkersEqualTheReference) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 1500; ++trial) {
    const FloodInput in = random_input(rng, trial < 1300 ? 24 : 90);
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << in.nx << " x " << in.ny
                                      << ", connectivity " << in.connectivity << ", merge_bd "
                                      << in.merge_bd);
    for (bool sixteen : {false, true}) {
      const FloodOutput want = reference_flood(in, sixteen);
      const FloodOutput got = sixteen ? run_worker<uint16_t>(in) : run_worker<uint32_t>(in);
      ASSERT_EQ(got.status, 0);
      ASSERT_EQ(got.labels, want.labels) << "sixteen " << sixteen;
      ASSERT_EQ(got.wmask, want.wmask) << "sixteen " << sixteen;
      ASSERT_EQ(got.count, want.count);
      ASSERT_EQ(got.pairs, want.pairs);
    }
  }
}

// ---- invariants -----------------------------------------------------------

struct Image {
  int64_t nx, ny;
  int k;
  // Neighbours of p within the image, for connectivity k.
  std::vector<int64_t> neighbours(int64_t p) const {
    static const int dc[8] = {0, 1, 0, -1, 1, 1, -1, -1};
    static const int dr[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
    std::vector<int64_t> out;
    for (int j = 0; j < k; ++j) {
      const int64_t r = p / nx + dr[j], c = p % nx + dc[j];
      if (r >= 0 && r < ny && c >= 0 && c < nx) out.push_back(r * nx + c);
    }
    return out;
  }
  bool interior(int64_t p) const {
    const int64_t r = p / nx, c = p % nx;
    return r > 0 && r < ny - 1 && c > 0 && c < nx - 1;
  }
};

// Components of the pixels for which `member` holds, by flood fill: a
// component id per pixel (-1 outside) and the number of components.
template <typename Member>
std::pair<std::vector<int64_t>, int64_t> components(const Image &im, Member member) {
  std::vector<int64_t> id(im.nx * im.ny, -1);
  int64_t n = 0;
  for (int64_t s = 0; s < im.nx * im.ny; ++s) {
    if (id[s] >= 0 || !member(s, s)) continue;
    std::vector<int64_t> stack = {s};
    id[s] = n;
    while (!stack.empty()) {
      const int64_t p = stack.back();
      stack.pop_back();
      for (int64_t q : im.neighbours(p))
        if (id[q] < 0 && member(q, p)) {
          id[q] = n;
          stack.push_back(q);
        }
    }
    ++n;
  }
  return {id, n};
}

void check_invariants(const FloodInput &in, const FloodOutput &out, uint32_t top_value) {
  const Image im{in.nx, in.ny, in.connectivity};
  const int64_t n = in.nx * in.ny;
  const bool plain = !in.merge_bd;  // lines are kept
  auto usable = [&](int64_t p) { return im.interior(p) && (in.mask.empty() || in.mask[p]); };

  std::map<uint32_t, int64_t> basin_pixels;
  for (int64_t p = 0; p < n; ++p) {
    ASSERT_LE(out.labels[p], top_value) << "reserved value at " << p;
    if (plain) {
      ASSERT_EQ(out.labels[p] == 0, out.wmask[p] == 255) << p;
    }
    if (out.labels[p]) ++basin_pixels[out.labels[p]];
  }

  // Labels are consecutive from the start label, and counted.
  uint32_t expect = in.start;
  for (const auto &[label, size] : basin_pixels) ASSERT_EQ(label, ++expect);
  ASSERT_EQ(out.count, in.start + basin_pixels.size());

  // Every basin is one connected region.
  const auto [basin_id, n_basin_parts] = components(im, [&](int64_t q, int64_t p) {
    return out.labels[q] != 0 && out.labels[q] == out.labels[p];
  });
  ASSERT_EQ(n_basin_parts, static_cast<int64_t>(basin_pixels.size()));

  // Lines separate basins: no two neighbours carry different labels.
  if (plain)
    for (int64_t p = 0; p < n; ++p)
      for (int64_t q : im.neighbours(p))
        if (out.labels[p] && out.labels[q]) {
          ASSERT_EQ(out.labels[p], out.labels[q]) << p;
        }

  // Every basin holds exactly one regional minimum of the usable interior,
  // whole: a plateau whose usable neighbours are all higher. (The frame
  // completion of the boundary pass makes basins without one.)
  if (in.merge_bd && !in.mask.empty()) return;
  const auto [plateau, n_plateaus] = components(im, [&](int64_t q, int64_t p) {
    return usable(q) && usable(p) && in.levels[q] == in.levels[p];
  });
  std::vector<bool> minimum(n_plateaus, true);
  for (int64_t p = 0; p < n; ++p)
    if (usable(p))
      for (int64_t q : im.neighbours(p))
        if (usable(q) && in.levels[q] < in.levels[p]) minimum[plateau[p]] = false;
  std::map<uint32_t, int> minima_in_basin;
  std::vector<uint32_t> label_of_minimum(n_plateaus, 0);
  for (int64_t p = 0; p < n; ++p) {
    if (!usable(p) || !minimum[plateau[p]]) continue;
    uint32_t &l = label_of_minimum[plateau[p]];
    if (l == 0) {
      l = out.labels[p];
      ASSERT_NE(l, 0u) << "regional minimum on a line at " << p;
      ++minima_in_basin[l];
    }
    ASSERT_EQ(out.labels[p], l) << "regional minimum split at " << p;
  }
  for (const auto &[label, size] : basin_pixels) ASSERT_EQ(minima_in_basin[label], 1) << label;
}

TEST(FloodingRandom, InvariantsHoldOnManyLevelImages) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int64_t> small(3, 40), large(41, 300);
  for (int trial = 0; trial < 240; ++trial) {
    FloodInput in;
    in.nx = trial % 8 == 7 ? large(rng) : small(rng);
    in.ny = trial % 8 == 7 ? large(rng) : small(rng);
    const Field field = kFields[trial % 5];
    in.levels = random_levels(rng, in.nx, in.ny, field);
    in.connectivity = (trial / 5) % 2 ? 8 : 4;
    in.merge_bd = (trial / 10) % 2;
    if ((trial / 20) % 2) {
      std::bernoulli_distribution keep(0.9);
      for (int64_t i = 0; i < in.nx * in.ny; ++i) in.mask.push_back(keep(rng));
    }
    in.start = (trial / 40) % 2 ? 12345 : 0;
    in.nb = 1;
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int64_t i = 0; i < in.nx * in.ny; ++i) in.image.push_back(value(rng));
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << in.nx << " x " << in.ny
                                      << ", field " << static_cast<int>(field));

    const FloodOutput wide = run_worker<uint32_t>(in);
    const FloodOutput narrow = run_worker<uint16_t>(in);
    ASSERT_EQ(wide.status, 0);
    ASSERT_EQ(narrow.status, 0);
    check_invariants(in, wide, 0xFFFFFFFA);
    // Below saturation the two widths agree exactly.
    ASSERT_LT(wide.count, 0xFFFAu);
    ASSERT_EQ(narrow.labels, wide.labels);
    ASSERT_EQ(narrow.wmask, wide.wmask);
    ASSERT_EQ(narrow.count, wide.count);
  }
}

}  // namespace
