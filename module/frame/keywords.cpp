#include "frame/keywords.h"

namespace {
// Shorthands for the four kinds of keyword; every entry has mask 1.
constexpr int kValue = 0;
constexpr int kZeroed = QEL_KW_ZERO;
constexpr int kInput = QEL_KW_INPUT_VAR;
constexpr int kOutput = QEL_KW_OUTPUT_VAR;
}  // namespace

#define KW(rec, name, type, kind, field) \
  { name, type, 1, kind, 0, QEL_KW_OFFSETOF(rec, field) }
#define KW_END \
  { nullptr, 0, 0, 0, 0, 0 }

const QEL_KW_PAR watershed_kw_pars[] = {
    KW(watershed_kw, "CONNECTIVITY", QEL_TYP_LONG, kValue, connectivity),
    KW(watershed_kw, "IN_MERGE_LIST", 0, kInput, in_merge_list),
    KW(watershed_kw, "LONG", QEL_TYP_LONG, kZeroed, long_labels),
    KW(watershed_kw, "MARGIN_HLBL", 0, kInput, margin_hlbl),
    KW(watershed_kw, "MARGIN_VLBL", 0, kInput, margin_vlbl),
    KW(watershed_kw, "MASK", 0, kInput, mask),
    KW(watershed_kw, "MAX_REGION_LABEL", 0, kOutput, max_region_label),
    KW(watershed_kw, "MERGE_BD", QEL_TYP_LONG, kZeroed, merge_bd),
    KW(watershed_kw, "OUT_MERGE_LIST", 0, kOutput, out_merge_list),
    KW(watershed_kw, "START_LBL", QEL_TYP_ULONG, kValue, start_lbl),
    KW(watershed_kw, "WSHEDMASK", 0, kOutput, wshedmask),
    KW_END,
};

const QEL_KW_PAR segment_get_nbrinfo_kw_pars[] = {
    KW(segment_get_nbrinfo_kw, "MAX_LBL", QEL_TYP_LONG, kZeroed, max_lbl),
    KW_END,
};

const QEL_KW_PAR tile_lambda_segment_kw_pars[] = {
    KW(tile_lambda_segment_kw, "IN_LABEL_IMG", 0, kInput, in_label_img),
    KW(tile_lambda_segment_kw, "IN_MERGE_LIST", 0, kInput, in_merge_list),
    KW(tile_lambda_segment_kw, "LAMBDA_THRESHOLD", QEL_TYP_DOUBLE, kZeroed, lambda_threshold),
    KW(tile_lambda_segment_kw, "MARGIN_HLBL", 0, kInput, margin_hlbl),
    KW(tile_lambda_segment_kw, "MARGIN_VLBL", 0, kInput, margin_vlbl),
    KW(tile_lambda_segment_kw, "MASK", 0, kInput, mask),
    KW(tile_lambda_segment_kw, "OUT_MERGE_LIST", 0, kOutput, out_merge_list),
    {"SHARE_FILE_NAME", QEL_TYP_STRING, 1, kZeroed,
     QEL_KW_OFFSETOF(tile_lambda_segment_kw, share_file_name_present),
     QEL_KW_OFFSETOF(tile_lambda_segment_kw, share_file_name)},
    KW(tile_lambda_segment_kw, "START_LBL", QEL_TYP_ULONG, kValue, start_lbl),
    KW_END,
};

const QEL_KW_PAR iter_lambda_segment_kw_pars[] = {
    KW(iter_lambda_segment_kw, "IN_LABEL_IMG", 0, kInput, in_label_img),
    KW(iter_lambda_segment_kw, "LABEL_MAP", 0, kOutput, label_map),
    KW(iter_lambda_segment_kw, "LAMBDAS", 0, kOutput, lambdas),
    KW_END,
};

const QEL_KW_PAR compute_reg_info_kw_pars[] = {
    KW(compute_reg_info_kw, "MAX_LBL", QEL_TYP_LONG, kZeroed, max_lbl),
    KW(compute_reg_info_kw, "REGAREA", 0, kOutput, regarea),
    KW(compute_reg_info_kw, "REGSUM", 0, kOutput, regsum),
    KW_END,
};

const QEL_KW_PAR create_increasing_kw_pars[] = {
    KW(create_increasing_kw, "BAD_FLAGS", 0, kOutput, bad_flags),
    KW_END,
};

const QEL_KW_PAR multilevel_label_region_kw_pars[] = {
    KW(multilevel_label_region_kw, "MASK_PTR", 0, kInput, mask_ptr),
    KW_END,
};
