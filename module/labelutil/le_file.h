// Binary output files of 4-byte little-endian values, encoded byte by byte in
// that order rather than as memory dumps, gathered in a buffer of the file's
// own, with every failed or short write remembered until the file is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct le_file {
  FILE *stream = nullptr;
  bool failed = false;  // a write moved fewer bytes than asked
  size_t used = 0;      // bytes waiting in `buffer`
  unsigned char buffer[1 << 16];
};

// Creates or truncates the file ("wb"); false when it cannot be opened.
bool le_open(le_file &file, const char *name);
// Writes the buffer out; called by le_put when it is full.
void le_flush(le_file &file);

inline void le_put(le_file &file, uint32_t value) {
  if (file.used + 4 > sizeof file.buffer) le_flush(file);
  unsigned char *b = file.buffer + file.used;
  b[0] = static_cast<unsigned char>(value);
  b[1] = static_cast<unsigned char>(value >> 8);
  b[2] = static_cast<unsigned char>(value >> 16);
  b[3] = static_cast<unsigned char>(value >> 24);
  file.used += 4;
}

// Flushes and closes the file; false when any write or the close failed.
bool le_close(le_file &file);
