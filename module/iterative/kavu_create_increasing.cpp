// Placeholder until the routine's wrapper is written.
#include "frame/routines.h"

KAVU_ROUTINE(kavu_create_increasing) {
  (void)argc;
  (void)argv;
  (void)argk;
  kavu_routine_unavailable("KAVU_CREATE_INCREASING");
}
