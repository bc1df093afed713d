// Whole runs through the host: a synthetic image cut into tiles processed in
// order with the watershed and the tiled merging, checked against what must
// hold across tiles.
#include "host_session.h"
#include "share_files.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>

namespace {

using kavu_test::read_array;
using kavu_test::read_scalar;
using qelhost::Keyword;
using tile_test::TempDir;

// Smooth random image with distinct plateaus, so that merging has structure.
std::vector<float> random_image(std::mt19937 &rng, int64_t ncols, int64_t nrows, int64_t nbands) {
  std::uniform_real_distribution<float> noise(0.0f, 1.0f);
  std::uniform_int_distribution<int> level(0, 9);
  std::vector<float> img(size_t(ncols * nrows * nbands));
  const int64_t block = 1 + int64_t(rng() % 4);
  for (int64_t b = 0; b < nbands; ++b) {
    std::map<std::pair<int64_t, int64_t>, float> plateau;
    for (int64_t r = 0; r < nrows; ++r)
      for (int64_t c = 0; c < ncols; ++c) {
        auto [it, fresh] = plateau.try_emplace({r / block, c / block}, 0.0f);
        if (fresh) it->second = float(level(rng)) * 10.0f;
        img[size_t(b * ncols * nrows + r * ncols + c)] = it->second + noise(rng);
      }
  }
  return img;
}

// Union-find over labels, for resolving merge lists.
struct Components {
  std::map<uint32_t, uint32_t> parent;
  uint32_t find(uint32_t x) {
    auto it = parent.try_emplace(x, x).first;
    if (it->second == x) return x;
    return it->second = find(it->second);
  }
  void unite(uint32_t a, uint32_t b) { parent[find(a)] = find(b); }
};

// An image cut into tw x th tiles, processed left to right, top to bottom:
// watershed with the labels of the column and row before the tile as margins,
// then tiled merging with both lines of those margins and the share files.
struct TiledPipeline {
  int64_t ncols, nrows, nbands, tiles_x, tiles_y;
  std::vector<float> img;
  std::vector<uint32_t> ws, out;  // mosaics of watershed labels and output labels
  std::vector<uint32_t> merge_list;
  struct Tile {
    uint32_t start, last;
    std::set<uint32_t> shared_before;
  };
  std::vector<Tile> tiles;

  int64_t x0(int64_t tx) const { return tx * ncols / tiles_x; }
  int64_t y0(int64_t ty) const { return ty * nrows / tiles_y; }

  void run(const std::string &base, double threshold) {
    ws.assign(size_t(ncols * nrows), 0);
    out.assign(size_t(ncols * nrows), 0);
    tile_test::write_bytes(base + ".idx", {});
    tile_test::write_bytes(base + ".info", {});
    uint32_t ws_max = 0, next_lbl = 1;
    for (int64_t ty = 0; ty < tiles_y; ++ty)
      for (int64_t tx = 0; tx < tiles_x; ++tx) run_tile(base, threshold, tx, ty, &ws_max, &next_lbl);
  }

  void run_tile(const std::string &base, double threshold, int64_t tx, int64_t ty, uint32_t *ws_max,
                uint32_t *next_lbl) {
    const int64_t cx = x0(tx), cy = y0(ty), w = x0(tx + 1) - cx, h = y0(ty + 1) - cy;
    auto at = [&](int64_t x, int64_t y) { return size_t((cy + y) * ncols + cx + x); };
    std::vector<float> tile_img;
    std::vector<uint16_t> levels;
    for (int64_t b = 0; b < nbands; ++b)
      for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) tile_img.push_back(img[size_t(b * ncols * nrows) + at(x, y)]);
    for (int64_t i = 0; i < w * h; ++i) levels.push_back(uint16_t(1 + 4 * tile_img[size_t(i)]));

    kavu_test::Vars v;
    QEL_VPTR image = v.array("tile", tile_img, {w, h, nbands});
    // Watershed: the labels just left of and above the tile continue into its
    // first column and row.
    std::vector<uint32_t> ws_h(static_cast<size_t>(w)), ws_v(static_cast<size_t>(h)), out_h(ws_h), out_v(ws_v);
    for (int64_t x = 0; x < w && ty > 0; ++x) ws_h[size_t(x)] = ws[at(x, -1)], out_h[size_t(x)] = out[at(x, -1)];
    for (int64_t y = 0; y < h && tx > 0; ++y) ws_v[size_t(y)] = ws[at(-1, y)], out_v[size_t(y)] = out[at(-1, y)];
    std::vector<Keyword> ws_kw = {{"LONG", v.lng("long", 1)},
                                  {"MERGE_BD", v.lng("mbd", 1)},
                                  {"START_LBL", v.ulng("s", *ws_max)},
                                  {"MAX_REGION_LABEL", v.undefined("max")}};
    if (ty > 0) ws_kw.push_back({"MARGIN_HLBL", v.array("h", ws_h, {w})});
    if (tx > 0) ws_kw.push_back({"MARGIN_VLBL", v.array("v", ws_v, {h})});
    QEL_VPTR labels = kavu_test::call_ok(v, "KAVU_WATERSHED", {v.array("levels", levels, {w, h}), image}, ws_kw);
    ASSERT_TRUE(labels);
    *ws_max = read_scalar<uint32_t>(ws_kw[3].var);
    const auto ws_tile = read_array<uint32_t>(labels).data;
    for (int64_t y = 0; y < h; ++y)
      for (int64_t x = 0; x < w; ++x) ws[at(x, y)] = ws_tile[size_t(y * w + x)];

    Tile t;
    for (const auto &r : tile_test::parse_share_files(base, int(nbands))) t.shared_before.insert(r.label);
    t.start = *next_lbl;
    auto two_lines = [](const std::vector<uint32_t> &a, const std::vector<uint32_t> &b) {
      std::vector<uint32_t> m(a);
      m.insert(m.end(), b.begin(), b.end());
      return m;
    };
    QEL_VPTR out_var = v.undefined("out");
    QEL_VPTR out_list = v.undefined("oml");
    std::vector<Keyword> kw = {{"IN_LABEL_IMG", v.array("in", ws_tile, {w, h})},
                               {"SHARE_FILE_NAME", v.str("f", base)},
                               {"START_LBL", v.ulng("s", t.start)},
                               {"LAMBDA_THRESHOLD", v.dbl("t", threshold)},
                               {"OUT_MERGE_LIST", out_list}};
    if (!merge_list.empty()) kw.push_back({"IN_MERGE_LIST", v.array("ml", merge_list, {int64_t(merge_list.size())})});
    if (ty > 0) kw.push_back({"MARGIN_HLBL", v.array("h2", two_lines(ws_h, out_h), {w, 2})});
    if (tx > 0) kw.push_back({"MARGIN_VLBL", v.array("v2", two_lines(ws_v, out_v), {h, 2})});
    QEL_VPTR last = kavu_test::call_ok(v, "KAVU_TILE_LAMBDA_SEGMENT", {image, out_var}, kw);
    ASSERT_TRUE(last);
    t.last = uint32_t(read_scalar<int32_t>(last));
    *next_lbl = t.last + 1;
    if (out_list->flags & QEL_V_ARR) merge_list = read_array<uint32_t>(out_list).data;
    const auto out_tile = read_array<uint32_t>(out_var).data;
    for (int64_t y = 0; y < h; ++y)
      for (int64_t x = 0; x < w; ++x) out[at(x, y)] = out_tile[size_t(y * w + x)];
    tiles.push_back(t);
  }

  // Labels of one tile of the output mosaic.
  std::set<uint32_t> labels_of(int64_t tx, int64_t ty) const {
    std::set<uint32_t> s;
    for (int64_t y = y0(ty); y < y0(ty + 1); ++y)
      for (int64_t x = x0(tx); x < x0(tx + 1); ++x) s.insert(out[size_t(y * ncols + x)]);
    return s;
  }
};

class TiledPipelineTest : public kavu_test::RoutineTest, public ::testing::WithParamInterface<std::pair<int, int>> {
 protected:
  TempDir dir;
  TiledPipeline make(uint32_t seed) {
    std::mt19937 rng(seed);
    const auto [tx, ty] = GetParam();
    TiledPipeline p{int64_t(12 * tx + rng() % 9), int64_t(12 * ty + rng() % 9), 2, tx, ty, {}, {}, {}, {}, {}};
    p.img = random_image(rng, p.ncols, p.nrows, p.nbands);
    return p;
  }
};

// New labels of each tile lie in its own range; any other label of a tile was
// shared before it, so continued regions keep their shared labels.
void expect_labels_unique_across_tiles(const TiledPipeline &p) {
  for (int64_t k = 0; k < int64_t(p.tiles.size()); ++k) {
    const auto &t = p.tiles[size_t(k)];
    if (k > 0) {
      EXPECT_GT(t.start, p.tiles[size_t(k - 1)].last);
    }
    for (uint32_t l : p.labels_of(k % p.tiles_x, k / p.tiles_x))
      EXPECT_TRUE((l >= t.start && l <= t.last) || t.shared_before.count(l)) << "tile " << k << " label " << l;
  }
}

TEST_P(TiledPipelineTest, WithMergingLabelsStayUniqueAndTheMergeListJoinsEveryContinuedRegion) {
  size_t pairs = 0;
  for (uint32_t seed = 5; seed < 15; ++seed) {
    TiledPipeline p = make(seed);
    const std::string base = dir.file("run" + std::to_string(seed));
    p.run(base, 400.0);
    if (HasFatalFailure()) return;
    expect_labels_unique_across_tiles(p);
    const std::set<uint32_t> present(p.out.begin(), p.out.end());
    Components c;
    for (size_t i = 0; i + 1 < p.merge_list.size(); i += 2) {
      EXPECT_GT(p.merge_list[i], p.merge_list[i + 1]);
      EXPECT_TRUE(present.count(p.merge_list[i]) && present.count(p.merge_list[i + 1]))
          << "pair " << p.merge_list[i] << ", " << p.merge_list[i + 1];
      c.unite(p.merge_list[i], p.merge_list[i + 1]);
    }
    // Merging only coarsens: once the merge list is resolved, every watershed
    // region lies inside one output region, also across tile borders.
    std::map<uint32_t, uint32_t> region_of;
    for (size_t i = 0; i < p.ws.size(); ++i) {
      const uint32_t r = c.find(p.out[i]);
      EXPECT_EQ(region_of.emplace(p.ws[i], r).first->second, r) << "watershed label " << p.ws[i] << ", seed " << seed;
    }
    EXPECT_LT(present.size(), std::set<uint32_t>(p.ws.begin(), p.ws.end()).size());
    pairs += p.merge_list.size() / 2;
  }
  EXPECT_GT(pairs, 0u) << "no run recorded a cross-border pair";
}

INSTANTIATE_TEST_SUITE_P(Tilings, TiledPipelineTest, ::testing::Values(std::pair{2, 2}, std::pair{3, 2}));

}  // namespace
