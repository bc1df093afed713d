// KAVU_SEGMENT_GET_NBRINFO through the embedded host: the neighbour data and
// index files are compared byte by byte with files built from adjacency
// counted over every pixel pair in the test, and every refusal is checked.
#include "../tile/share_files.h"
#include "host_session.h"
#include "random_images.h"

#include <climits>
#include <map>

namespace {

namespace fs = std::filesystem;
using labelutil_test::Shape;
using tile_test::put_u32;

const char *const kRoutine = "KAVU_SEGMENT_GET_NBRINFO";

struct NbrFiles {
  std::vector<uint8_t> data, index;
};

// Boundary lengths of every 4-adjacent pair of differing labels, by a double
// loop over pixel pairs, then the files those counts make.
NbrFiles reference_files(const std::vector<uint32_t> &l, int64_t ncols, int64_t nrows) {
  std::map<uint32_t, std::map<uint32_t, uint32_t>> nbrs;  // label -> neighbour -> blen
  for (int64_t p = 0; p < ncols * nrows; ++p)
    for (int64_t q = p + 1; q < ncols * nrows; ++q) {
      const bool adjacent = (q == p + 1 && q % ncols != 0) || q == p + ncols;
      if (adjacent && l[p] != l[q]) {
        ++nbrs[l[p]][l[q]];
        ++nbrs[l[q]][l[p]];
      }
    }
  NbrFiles f;
  for (const auto &[label, list] : nbrs) {
    put_u32(f.index, label);
    put_u32(f.index, static_cast<uint32_t>(f.data.size()));
    put_u32(f.data, label);
    put_u32(f.data, static_cast<uint32_t>(list.size()));
    for (const auto &entry : list) put_u32(f.data, entry.first);
    for (const auto &entry : list) put_u32(f.data, entry.second);
  }
  return f;
}

class SegmentGetNbrinfo : public kavu_test::RoutineTest {
 protected:
  tile_test::TempDir dir;

  NbrFiles run(const std::vector<uint32_t> &labels, const std::vector<int64_t> &dims,
               int32_t max_lbl = 0) {
    const std::string name = dir.file("nbr");
    QEL_VPTR in = vars.array("lbl", labels, dims);
    QEL_VPTR file = vars.str("file", name);
    std::vector<qelhost::Keyword> kw;
    if (max_lbl != 0) kw.push_back({"MAX_LBL", vars.lng("m", max_lbl)});
    QEL_VPTR value = kavu_test::call_ok(vars, kRoutine, {in, file}, kw);
    if (!value) return {};
    EXPECT_EQ(kavu_test::read_scalar<int32_t>(value), 0);
    EXPECT_TRUE(fs::exists(name) && fs::exists(name + ".idx"));
    return {tile_test::read_bytes(name), tile_test::read_bytes(name + ".idx")};
  }

  void expect_refused(const std::vector<uint32_t> &labels, const std::vector<int64_t> &dims,
                      QEL_VPTR file, const std::vector<qelhost::Keyword> &kw,
                      const std::string &name, const std::string &text) {
    kavu_test::expect_error(kRoutine, {vars.array("lbl", labels, dims), file}, kw, name, text);
  }
};

TEST_F(SegmentGetNbrinfo, RandomImagesMatchPairCounts) {
  std::mt19937 rng(555);
  for (const Shape &s : labelutil_test::test_shapes(rng, 12)) {
    if (s.pixels() > 4000) continue;  // the reference loops over all pixel pairs
    for (uint32_t n_values : {1u, 2u, 6u, 300u}) {
      const auto labels =
          labelutil_test::random_labels(rng, s, n_values, n_values == 6 ? 0 : 70, n_values > 2);
      // A MAX_LBL above the largest label changes nothing.
      const NbrFiles got = run(labels, s.dims(), n_values == 6 ? 100000 : 0);
      const NbrFiles expected = reference_files(labels, s.ncols, s.nrows);
      ASSERT_EQ(got.data, expected.data) << s.ncols << "x" << s.nrows << " values " << n_values;
      ASSERT_EQ(got.index, expected.index);
    }
  }
}

// Every refusal with its message; writes into a full device must not report success.
TEST_F(SegmentGetNbrinfo, RefusesFaultyArgumentsWithCatalogueMessages) {
  QEL_VPTR file = vars.str("file", dir.file("nbr"));
  expect_refused({1, 5, 2}, {3}, file, {{"MAX_LBL", vars.lng("m", 4)}},
                 "KAVU_MBLK_SEGMENT_NOT_MEET_MINV", "MAX_LBL needs to be at least 5.");
  expect_refused({0, 0}, {2}, file, {{"MAX_LBL", vars.lng("m", INT_MIN)}},
                 "KAVU_MBLK_SEGMENT_NOT_MEET_MINV", "MAX_LBL needs to be at least 0.");
  EXPECT_FALSE(fs::exists(dir.file("nbr")));
  for (const auto &kw :
       std::vector<std::vector<qelhost::Keyword>>{{}, {{"MAX_LBL", vars.lng("m", INT_MAX)}}})
    expect_refused({1, 2147483648u, 2}, {3}, file, kw, "KAVU_MBLK_SEGMENT_ERROR",
                   "Error: labels of LBL need to be below 2147483648, found 2147483648.");
  expect_refused({0xFFFFFFFFu}, {1}, file, {}, "KAVU_MBLK_SEGMENT_ERROR",
                 "Error: labels of LBL need to be below 2147483648, found 4294967295.");
  EXPECT_FALSE(fs::exists(dir.file("nbr")));
  const std::string missing = dir.file("no/such/dir");
  expect_refused({1, 2}, {2}, vars.str("file", missing), {}, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file " + missing + " for writing.");
  // The index name is a directory: the data file is made and left empty.
  fs::create_directory(dir.file("nbr.idx"));
  expect_refused({1, 2}, {2}, vars.str("file", dir.file("nbr")), {}, "KAVU_MBLK_SEGMENT_FILE_ERR",
                 "Cannot open file " + dir.file("nbr") + " for writing.");
  EXPECT_TRUE(fs::exists(dir.file("nbr")));
  EXPECT_EQ(fs::file_size(dir.file("nbr")), 0u);
  fs::create_symlink("/dev/full", dir.file("full"));
  fs::create_symlink("/dev/full", dir.file("full.idx"));
  std::ofstream(dir.file("ok"));  // ok.idx on the full device, ok itself a regular file
  fs::create_symlink("/dev/full", dir.file("ok.idx"));
  for (const char *name : {"full", "ok"})
    expect_refused({1, 2, 1, 2}, {2, 2}, vars.str("file", dir.file(name)), {},
                   "KAVU_MBLK_SEGMENT_FILE_ERR",
                   "Cannot open file " + dir.file(name) + " for writing.");
  expect_refused({1, 2}, {2}, vars.lng("file", 3), {}, "QEL_M_REQSTR",
                 "String expression required in this context: FILE.");
  expect_refused({1, 2}, {2}, vars.array<uint8_t>("file", {65, 66}, {2}), {}, "QEL_M_REQSTR",
                 "String expression required in this context: FILE.");
  kavu_test::expect_error(kRoutine, {vars.lng("lbl", 1), vars.str("file", dir.file("nbr"))}, {},
                          "QEL_M_NOTARRAY", "Expression must be an array in this context: LBL.");
}

}  // namespace
