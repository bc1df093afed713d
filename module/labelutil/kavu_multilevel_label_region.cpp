// Placeholder until the routine's wrapper is written.
#include "frame/routines.h"

KAVU_ROUTINE(kavu_multilevel_label_region) {
  (void)argc;
  (void)argv;
  (void)argk;
  kavu_routine_unavailable("KAVU_MULTILEVEL_LABEL_REGION");
}
