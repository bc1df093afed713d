// Placeholder until the routine's wrapper is written.
#include "frame/routines.h"

KAVU_ROUTINE(kavu_create_bound_from_label) {
  (void)argc;
  (void)argv;
  (void)argk;
  kavu_routine_unavailable("KAVU_CREATE_BOUND_FROM_LABEL");
}
