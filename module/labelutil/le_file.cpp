// Little-endian value output with sticky error detection.
#include "labelutil/le_file.h"

#include "frame/le_stream.h"

bool le_open(le_file &file, const char *name) {
  file.stream = fopen(name, "wb");
  file.failed = false;
  return file.stream != nullptr;
}

void le_put(le_file &file, uint32_t value) {
  // A full disk shows up here when the stream's buffer is flushed, or at close.
  if (!write_le_u32(file.stream, value)) file.failed = true;
}

bool le_close(le_file &file) {
  const bool closed = fclose(file.stream) == 0;
  file.stream = nullptr;
  return closed && !file.failed;
}
