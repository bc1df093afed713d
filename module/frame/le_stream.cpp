// Little-endian 4-byte values on binary file streams (see le_stream.h).
#include "frame/le_stream.h"

#include <bit>

uint32_t decode_le_u32(const void *bytes) {
  const auto *b = static_cast<const unsigned char *>(bytes);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool read_le_u32(FILE *stream, uint32_t *value) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, stream) != 4) return false;
  *value = decode_le_u32(b);
  return true;
}

bool read_le_i32(FILE *stream, int32_t *value) {
  uint32_t word;
  if (!read_le_u32(stream, &word)) return false;
  *value = std::bit_cast<int32_t>(word);
  return true;
}

bool read_le_f32(FILE *stream, float *value) {
  uint32_t word;
  if (!read_le_u32(stream, &word)) return false;
  *value = std::bit_cast<float>(word);
  return true;
}

bool write_le_u32(FILE *stream, uint32_t value) {
  const unsigned char b[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return std::fwrite(b, 1, 4, stream) == 4;
}

bool write_le_i32(FILE *stream, int32_t value) {
  return write_le_u32(stream, std::bit_cast<uint32_t>(value));
}

bool write_le_f32(FILE *stream, float value) {
  return write_le_u32(stream, std::bit_cast<uint32_t>(value));
}
