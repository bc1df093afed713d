// Pair set: adjacency, boundary lengths, pair order and links against a
// brute-force count on random label images, with and without mask and margins.
#include "lambda_state.h"

#include <random>
#include <tuple>

using lambda_test::lambda_state;

namespace {

struct ref_pair {
  int32_t r0, r1, blen;
  bool operator==(const ref_pair &) const = default;
};

// Brute force: every horizontally or vertically adjacent pixel pair of two
// labels (both unmasked), plus the margins as lines of pixels just outside.
std::vector<ref_pair> reference_pairs(const lambda_state &s, const std::vector<uint32_t> &labels,
                                      int32_t ncols, int32_t nrows, const uint8_t *mask,
                                      const uint32_t *vlbl, const uint32_t *hlbl) {
  std::map<std::pair<int32_t, int32_t>, int32_t> blen;
  auto count = [&](uint32_t a, uint32_t b) {
    if (a == b) return;
    if (a > b) std::swap(a, b);
    blen[{s.pos(a), s.pos(b)}] += 1;
  };
  auto on = [&](int32_t i) { return !mask || mask[i] != 0; };
  for (int32_t r = 0; r < nrows; ++r)
    for (int32_t c = 0; c < ncols; ++c) {
      const int32_t i = r * ncols + c;
      if (c + 1 < ncols && on(i) && on(i + 1)) count(labels[i], labels[i + 1]);
      if (r + 1 < nrows && on(i) && on(i + ncols)) count(labels[i], labels[i + ncols]);
    }
  for (int32_t r = 0; vlbl && r < nrows; ++r)
    if (!mask || (mask[r * ncols] && vlbl[nrows + r] != 0)) count(labels[r * ncols], vlbl[nrows + r]);
  for (int32_t c = 0; hlbl && c < ncols; ++c)
    if (!mask || (mask[c] && hlbl[ncols + c] != 0)) count(labels[c], hlbl[ncols + c]);
  std::vector<ref_pair> out;
  for (const auto &[key, n] : blen) out.push_back({key.first, key.second, n});
  return out;  // std::map orders by (hash1, hash2), as the pair index does
}

// Pairs as built, and a check that each is linked both ways.
std::vector<ref_pair> built_pairs(const lambda_state &s) {
  std::vector<ref_pair> out;
  for (int32_t k = 0; k < s.n_pairs; ++k) {
    const pair_rec &p = s.pairs[k];
    out.push_back({p.r0, p.r1, p.blen});
    EXPECT_EQ(s.neighbours(p.r0).at(p.r1), k);
    EXPECT_EQ(s.neighbours(p.r1).at(p.r0), k);
  }
  return out;
}

// Builds region hash, region set and pair set only.
int32_t build_pairs(lambda_state &s, const std::vector<float> &image,
                    const std::vector<uint32_t> &labels, int32_t ncols, int32_t nrows,
                    int32_t nbands, const uint8_t *mask, const uint32_t *vlbl = nullptr,
                    const uint32_t *hlbl = nullptr) {
  s.nbands = nbands;
  int32_t status = t_init_region_hash(labels.data(), ncols, nrows, &s.hash, &s.n_positions,
                                      &s.n_regions, mask);
  if (status == 0)
    status = t_init_region_set(image.data(), labels.data(), &s.hash, s.n_positions, ncols, nrows,
                               nbands, &s.regions, &s.lists, nullptr, 0, nullptr, 0, nullptr,
                               nullptr, mask);
  if (status == 0)
    status = t_init_pair_set(labels.data(), &s.hash, s.n_positions, ncols, nrows, nbands, &s.pairs,
                             s.regions, &s.run.nbrs, &s.n_pairs, vlbl, hlbl, mask);
  return status;
}

TEST(PairSet, MarginLabelZeroIsIgnoredOnlyWithAMask) {
  // 2 x 2 tile, columns of labels 4 and 0; both margins' second lines are {0, 4}.
  const std::vector<uint32_t> labels = {4, 0, 4, 0};
  const std::vector<uint32_t> vlbl = {9, 9, 0, 4}, hlbl = {9, 9, 0, 4};
  const std::vector<uint8_t> mask(4, 1);
  for (const bool masked : {false, true}) {
    lambda_state s;
    const uint8_t *m = masked ? mask.data() : nullptr;
    ASSERT_EQ(build_pairs(s, std::vector<float>(4, 0), labels, 2, 2, 1, m, vlbl.data(), hlbl.data()),
              0);
    ASSERT_EQ(s.n_pairs, 1);
    // Inside 2; margins: row 0 (4 beside 0), column 0 (4 below 0), column 1 (0
    // below 4). A mask drops the two whose margin label is 0.
    EXPECT_EQ(s.pairs[0].blen, masked ? 3 : 5) << masked;
  }
}

TEST(PairSet, AMarginLabelOutsideTheHashFails) {
  const std::vector<uint32_t> vlbl = {1, 1, 77, 1};
  lambda_state s;
  EXPECT_EQ(build_pairs(s, std::vector<float>(4, 0), {1, 2, 1, 2}, 2, 2, 1, nullptr, vlbl.data()), -3);
  EXPECT_EQ(s.pairs, nullptr);
}

TEST(PairSet, RandomImagesMatchABruteForceCount) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const int32_t ncols = 1 + rng() % 12, nrows = 1 + rng() % 12, n = ncols * nrows;
    const uint32_t n_values = 1 + rng() % 12;
    std::vector<uint32_t> labels(n);
    for (auto &l : labels) l = rng() % n_values * 37 + 5;
    const bool with_mask = round % 3 == 0, with_margins = round % 2 == 0;
    std::vector<uint8_t> mask(n, 1);
    if (with_mask)
      for (auto &m : mask) m = rng() % 4 != 0;
    // Margins name labels of the image (the hash must hold them) or 0 where masked.
    std::vector<uint32_t> vlbl(2 * nrows), hlbl(2 * ncols);
    for (auto &l : vlbl) l = with_mask && rng() % 5 == 0 ? 0 : labels[rng() % n];
    for (auto &l : hlbl) l = with_mask && rng() % 5 == 0 ? 0 : labels[rng() % n];
    std::vector<float> image(2 * n);
    for (auto &v : image) v = static_cast<float>(rng() % 1000) / 7.0f;

    // With a mask a label can be missing from the hash; such rounds fail with -3.
    lambda_state s;
    const uint8_t *m = with_mask ? mask.data() : nullptr;
    const int32_t status = build_pairs(s, image, labels, ncols, nrows, 2, m,
                                       with_margins ? vlbl.data() : nullptr,
                                       with_margins ? hlbl.data() : nullptr);
    if (status == -3 && with_mask) continue;
    ASSERT_EQ(status, 0) << "round " << round;
    EXPECT_EQ(built_pairs(s), reference_pairs(s, labels, ncols, nrows, m,
                                             with_margins ? vlbl.data() : nullptr,
                                             with_margins ? hlbl.data() : nullptr))
        << "round " << round;
  }
}

}  // namespace
