// Placeholder until the routine's wrapper is written.
#include "frame/routines.h"

KAVU_ROUTINE(kavu_iter_lambda_segment) {
  (void)argc;
  (void)argv;
  (void)argk;
  kavu_routine_unavailable("KAVU_ITER_LAMBDA_SEGMENT");
}
