// Loads kavu_segmentation.so into the embedded host by path and asks for the
// area and band sums of every region of a small label image.
//   usage: reg_info /path/to/kavu_segmentation.so
#include "qelhost.h"

#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MODULE.so\n", argv[0]);
    return 2;
  }
  if (qelhost::load_module(argv[1]) != 1) return 1;

  // A 3 x 2 label image (3 columns, 2 rows) and a two-band image of the same size.
  const std::vector<uint32_t> labels = {1, 1, 2,
                                        3, 2, 2};
  const std::vector<float> bands = {10, 12, 20, 30, 22, 24,   // band 0
                                    1, 1, 2, 3, 2, 2};        // band 1
  QEL_VPTR lab = qelhost::make_array("labels", QEL_TYP_ULONG, {3, 2}, labels.data());
  QEL_VPTR img = qelhost::make_array("image", QEL_TYP_FLOAT, {3, 2, 2}, bands.data());
  QEL_VPTR area = qelhost::make_undefined("area");
  QEL_VPTR sum = qelhost::make_undefined("sum");
  try {
    QEL_VPTR maxl = qelhost::call("KAVU_COMPUTE_REG_INFO", {lab, img},
                                  {{"REGAREA", area}, {"REGSUM", sum}});
    const int32_t n = maxl->value.l + 1;
    const auto *a = reinterpret_cast<const int32_t *>(area->value.arr->data);
    const auto *s = reinterpret_cast<const float *>(sum->value.arr->data);
    for (int32_t l = 0; l < n; ++l)
      std::printf("label %d: area %d, sums %g %g\n", l, a[l], s[l], s[l + n]);
    qelhost::release(maxl);
  } catch (const qelhost::Error &e) {
    std::fprintf(stderr, "%s\n", e.text.c_str());
    return 1;
  }
  for (QEL_VPTR v : {lab, img, area, sum}) qelhost::release(v);
  qelhost::shutdown();
  return 0;
}
