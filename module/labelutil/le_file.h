// Binary output files of 4-byte little-endian values, written byte by byte in
// that order rather than as memory dumps, with every failed or short write
// remembered until the file is closed.
#pragma once

#include <cstdint>
#include <cstdio>

struct le_file {
  FILE *stream = nullptr;
  bool failed = false;  // a write moved fewer bytes than asked
};

// Creates or truncates the file ("wb"); false when it cannot be opened.
bool le_open(le_file &file, const char *name);
void le_put(le_file &file, uint32_t value);
// Closes the file; false when any write or the final flush failed.
bool le_close(le_file &file);
