// Entry functions of the ten host routines, one per wrapper file.
#pragma once

#include "host/qel.h"

#define KAVU_ROUTINE(name) QEL_VPTR name(int argc, QEL_VPTR *argv, QEL_KW_ARGS *argk)

KAVU_ROUTINE(kavu_watershed);
KAVU_ROUTINE(kavu_segment_get_nbrinfo);
KAVU_ROUTINE(kavu_tile_lambda_segment);
KAVU_ROUTINE(kavu_iter_lambda_segment);
KAVU_ROUTINE(kavu_iter_lambda_create_label_image);
KAVU_ROUTINE(kavu_compute_reg_info);
KAVU_ROUTINE(kavu_create_bound_from_label);
KAVU_ROUTINE(kavu_create_increasing);
KAVU_ROUTINE(kavu_multilevel_label_region);
KAVU_ROUTINE(kavu_replace_integer_data);

extern const QEL_SYSFUN_DEF segmentation_functions[10];

// The load sequence after the message block: routine table and exit handler.
int kavu_segmentation_startup();
void kavu_segmentation_exit_handler();
