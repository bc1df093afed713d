// Keyword result structures and descriptor tables of the routines that take
// keywords. The host fills a structure by the offsets in its table; the first
// field is always the host's free flag.
#pragma once

#include "host/qel.h"

#include <cstdint>

struct watershed_kw {
  int _free;
  int32_t connectivity;
  int32_t long_labels;
  int32_t merge_bd;
  uint32_t start_lbl;
  QEL_VPTR in_merge_list;
  QEL_VPTR mask;
  QEL_VPTR margin_hlbl;
  QEL_VPTR margin_vlbl;
  QEL_VPTR max_region_label;
  QEL_VPTR out_merge_list;
  QEL_VPTR wshedmask;
};

struct segment_get_nbrinfo_kw {
  int _free;
  int32_t max_lbl;
};

struct tile_lambda_segment_kw {
  int _free;
  QEL_VPTR in_label_img;
  QEL_VPTR in_merge_list;
  double lambda_threshold;
  QEL_VPTR margin_hlbl;
  QEL_VPTR margin_vlbl;
  QEL_VPTR mask;
  QEL_VPTR out_merge_list;
  int share_file_name_present;
  QEL_STRING share_file_name;
  uint32_t start_lbl;
};

struct iter_lambda_segment_kw {
  int _free;
  QEL_VPTR in_label_img;
  QEL_VPTR label_map;
  QEL_VPTR lambdas;
};

struct compute_reg_info_kw {
  int _free;
  int32_t max_lbl;
  QEL_VPTR regarea;
  QEL_VPTR regsum;
};

struct create_increasing_kw {
  int _free;
  QEL_VPTR bad_flags;
};

struct multilevel_label_region_kw {
  int _free;
  QEL_VPTR mask_ptr;
};

extern const QEL_KW_PAR watershed_kw_pars[];
extern const QEL_KW_PAR segment_get_nbrinfo_kw_pars[];
extern const QEL_KW_PAR tile_lambda_segment_kw_pars[];
extern const QEL_KW_PAR iter_lambda_segment_kw_pars[];
extern const QEL_KW_PAR compute_reg_info_kw_pars[];
extern const QEL_KW_PAR create_increasing_kw_pars[];
extern const QEL_KW_PAR multilevel_label_region_kw_pars[];
