// Placeholder until the routine's wrapper is written.
#include "frame/routines.h"

KAVU_ROUTINE(kavu_segment_get_nbrinfo) {
  (void)argc;
  (void)argv;
  (void)argk;
  kavu_routine_unavailable("KAVU_SEGMENT_GET_NBRINFO");
}
