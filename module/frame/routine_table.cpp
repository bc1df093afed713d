#include "frame/routines.h"

namespace {
constexpr int kKeywords = QEL_SYSFUN_DEF_F_KEYWORDS;
}

const QEL_SYSFUN_DEF segmentation_functions[10] = {
    {kavu_watershed, "KAVU_WATERSHED", 2, 2, kKeywords},
    {kavu_segment_get_nbrinfo, "KAVU_SEGMENT_GET_NBRINFO", 2, 2, kKeywords},
    {kavu_tile_lambda_segment, "KAVU_TILE_LAMBDA_SEGMENT", 2, 2, kKeywords},
    {kavu_iter_lambda_segment, "KAVU_ITER_LAMBDA_SEGMENT", 1, 1, kKeywords},
    {kavu_iter_lambda_create_label_image, "KAVU_ITER_LAMBDA_CREATE_LABEL_IMAGE", 3, 3, 0},
    {kavu_compute_reg_info, "KAVU_COMPUTE_REG_INFO", 2, 2, kKeywords},
    {kavu_create_bound_from_label, "KAVU_CREATE_BOUND_FROM_LABEL", 2, 2, 0},
    {kavu_create_increasing, "KAVU_CREATE_INCREASING", 1, 1, kKeywords},
    {kavu_multilevel_label_region, "KAVU_MULTILEVEL_LABEL_REGION", 2, 2, kKeywords},
    {kavu_replace_integer_data, "KAVU_REPLACE_INTEGER_DATA", 3, 3, 0},
};
