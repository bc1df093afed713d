// Diagnostic listing of the share files, record by record. No routine calls it;
// it reads the files as they are and stops quietly at a short read.
#include "frame/le_stream.h"
#include "tile/share_reginfo.h"

void t_print_share_reginfo(FILE *index_file, FILE *info_file, int32_t nbands, FILE *out) {
  int32_t n_shared = 0;
  if (std::fseek(index_file, 0, SEEK_SET) == 0 && std::fseek(info_file, 0, SEEK_SET) == 0 &&
      read_le_i32(index_file, &n_shared)) {
    for (int32_t r = 0; r < n_shared; ++r) {
      uint32_t label;
      int32_t area;
      if (!read_le_u32(index_file, &label) || !read_le_i32(info_file, &area)) break;
      std::fprintf(out, "id: %d, area: %d, gval*1000: ", int32_t(label), area);
      for (int32_t k = 0; k < nbands; ++k) {
        float mean = 0.0f;
        if (!read_le_f32(info_file, &mean)) break;
        const float scaled = mean * 1000.0f;
        std::fprintf(out, "%f8.3 ", double(scaled));
      }
      std::fprintf(out, "\n");
    }
  }
  std::fflush(out);
}
