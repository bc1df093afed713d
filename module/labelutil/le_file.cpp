// Little-endian value output with sticky error detection.
#include "labelutil/le_file.h"

bool le_open(le_file &file, const char *name) {
  file.stream = fopen(name, "wb");
  file.failed = false;
  file.used = 0;
  return file.stream != nullptr;
}

void le_flush(le_file &file) {
  // A full disk shows up here, or at close.
  if (file.used && fwrite(file.buffer, 1, file.used, file.stream) != file.used) file.failed = true;
  file.used = 0;
}

bool le_close(le_file &file) {
  le_flush(file);
  const bool closed = fclose(file.stream) == 0;
  file.stream = nullptr;
  return closed && !file.failed;
}
