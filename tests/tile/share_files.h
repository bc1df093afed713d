// Test helpers for the share files: a temporary directory per test, raw file
// bytes, and a parser of both files written independently of the module.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tile_test {

// A fresh directory, removed with everything in it at scope end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavu_tile_XXXXXX").string();
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> read_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// Little-endian words, assembled byte by byte.
inline void put_u32(std::vector<uint8_t> &b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
}
inline void put_f32(std::vector<uint8_t> &b, float f) { put_u32(b, std::bit_cast<uint32_t>(f)); }
inline uint32_t get_u32(const std::vector<uint8_t> &b, size_t offset) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= uint32_t(b.at(offset + k)) << (8 * k);
  return v;
}

struct ShareRecord {
  uint32_t label;
  int32_t area;
  std::vector<float> means;
};

// Both files parsed; a test failure when their sizes do not match the count.
inline std::vector<ShareRecord> parse_share_files(const std::string &base, int nbands) {
  const auto idx = read_bytes(base + ".idx"), info = read_bytes(base + ".info");
  const size_t n = get_u32(idx, 0), record_size = 4 + 4 * size_t(nbands);
  std::vector<ShareRecord> records;
  EXPECT_EQ(idx.size(), 4 + 4 * n);
  EXPECT_EQ(info.size(), record_size * n);
  for (size_t r = 0; r < n && info.size() == record_size * n; ++r) {
    ShareRecord rec{get_u32(idx, 4 + 4 * r), int32_t(get_u32(info, r * record_size)), {}};
    for (int k = 0; k < nbands; ++k)
      rec.means.push_back(std::bit_cast<float>(get_u32(info, r * record_size + 4 + 4 * k)));
    records.push_back(rec);
  }
  return records;
}

// Writes both files from records.
inline void write_share_files(const std::string &base, const std::vector<ShareRecord> &records) {
  std::vector<uint8_t> idx, info;
  put_u32(idx, uint32_t(records.size()));
  for (const auto &r : records) {
    put_u32(idx, r.label);
    put_u32(info, uint32_t(r.area));
    for (float m : r.means) put_f32(info, m);
  }
  write_bytes(base + ".idx", idx);
  write_bytes(base + ".info", info);
}

}  // namespace tile_test
