// Little-endian value output with sticky error detection.
#include "labelutil/le_file.h"

bool le_open(le_file &file, const char *name) {
  file.stream = fopen(name, "wb");
  file.failed = false;
  return file.stream != nullptr;
}

void le_put(le_file &file, uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16),
                                  static_cast<unsigned char>(value >> 24)};
  // A full disk shows up here when the stream's buffer is flushed, or at close.
  if (fwrite(bytes, 1, 4, file.stream) != 4) file.failed = true;
}

bool le_close(le_file &file) {
  const bool closed = fclose(file.stream) == 0;
  file.stream = nullptr;
  return closed && !file.failed;
}
