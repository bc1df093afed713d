// KAVU_TILE_LAMBDA_SEGMENT: host wrapper of the tile driver. Validates the
// image, label image, mask, margins and share file name, runs the driver and
// hands back the output label image, the last label and the merge list.
#include "containers/allocation.h"
#include "containers/aptree.h"
#include "containers/open_hash.h"
#include "frame/keywords.h"
#include "frame/routines.h"
#include "frame/wrapper.h"
#include "tile/tile_lambda_segment.h"
#include "watershed/merge_list_array.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Keyword arrays that must match the image's leading dimensions exactly.
void require_image_shaped(QEL_VPTR kw, int type, const char *kw_name, QEL_VPTR image,
                          const char *image_name) {
  require_keyword_array(kw, type, kw_name);
  require_2d(kw, kw_name);
  require_leading_dims(image, kw, 2, image_name, kw_name);
}

// A margin: two lines of `n` labels. The driver reads both lines, so a margin
// of one line is refused rather than read past its end.
void require_margin(QEL_VPTR kw, const char *kw_name, int64_t n, int mismatch,
                    const char *image_name, const char *second_dim_name) {
  require_keyword_array(kw, QEL_TYP_ULONG, kw_name);
  require_2d(kw, kw_name);
  if (dim_of(kw, 0) != n) kavu_abort(mismatch, image_name, kw_name);
  if (dim_of(kw, 1) < 2) kavu_abort(KAVU_MBLK_SEGMENT_NOT_MEET_MINV, second_dim_name, 2);
  require_no_reserved_labels(kw, kw_name);
}

// SHARE_FILE_NAME followed by `suffix`, in a scratch block of the name's length + 10.
char *share_file_name(const QEL_STRING &base, const char *suffix, QEL_VPTR *block) {
  const size_t length = base.s ? size_t(base.slen) : 0;
  char *name = QEL_GetScratch(block, QEL_MEMINT(length + 10), 1);
  if (!name) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  if (length) std::memcpy(name, base.s, length);
  std::strcpy(name + length, suffix);
  return name;
}

// The pairs of IN_MERGE_LIST (none without it) in the pair tree.
aptree *load_merge_pairs(QEL_VPTR in_merge_list) {
  aptree *tree = aptree_create();
  if (!tree) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  if (in_merge_list && merge_list_load(tree, in_merge_list) != 0) {
    aptree_destroy(tree);
    kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  }
  return tree;
}

// The pairs as a new merge-list array (null when there are none).
QEL_VPTR merge_list_of(aptree *tree) {
  QEL_VPTR list = nullptr;
  if (merge_list_flatten(tree, &list) != 0) kavu_abort(KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL);
  return list;
}

[[noreturn]] void abort_labels_exhausted(uint32_t start_lbl) {
  char reason[160];
  std::snprintf(reason, sizeof reason,
                "The tile's labels numbered from %u reach %u, which is reserved", start_lbl,
                OPEN_HASH_DELETED);
  kavu_abort(KAVU_MBLK_SEGMENT_KEYWORD_BADVAL, "START_LBL", static_cast<const char *>(reason));
}

}  // namespace

KAVU_ROUTINE(kavu_tile_lambda_segment) {
  tile_lambda_segment_kw kw{};
  kw.start_lbl = 0;
  QEL_KWProcessByOffset(argc, argv, argk, tile_lambda_segment_kw_pars, nullptr, 1, &kw);

  require_array(argv[0]);
  QEL_VPTR image = convert_arg(argv[0], QEL_TYP_FLOAT);
  const int64_t ncols = dim_of(image, 0), nrows = dim_of(image, 1), nbands = dim_of(image, 2);
  const float threshold = float(kw.lambda_threshold);
  const char *image_name = QEL_VarName(argv[0]);
  // The merging core indexes band values with 32-bit integers.
  require_fewer_pixels(ncols * nrows, INT32_MAX / nbands + 1, image_name);

  QEL_VPTR index_labels = nullptr;
  uint32_t *in_lbl;
  if (kw.in_label_img) {
    require_image_shaped(kw.in_label_img, QEL_TYP_ULONG, "IN_LABEL_IMG", image, image_name);
    require_no_reserved_labels(kw.in_label_img, "IN_LABEL_IMG");
    in_lbl = data_of<uint32_t>(kw.in_label_img);
  } else {
    const QEL_MEMINT dims[] = {ncols, nrows};
    in_lbl = reinterpret_cast<uint32_t *>(
        make_result_array(QEL_TYP_ULONG, 2, dims, QEL_ARR_INI_INDEX, &index_labels));
  }
  if (kw.mask) require_image_shaped(kw.mask, QEL_TYP_BYTE, "MASK", image, image_name);
  if (kw.margin_hlbl)
    require_margin(kw.margin_hlbl, "MARGIN_HLBL", ncols, KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH,
                   image_name, "the second dimension of MARGIN_HLBL");
  if (kw.margin_vlbl)
    require_margin(kw.margin_vlbl, "MARGIN_VLBL", nrows, KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH,
                   image_name, "the second dimension of MARGIN_VLBL");
  if ((kw.margin_vlbl || kw.margin_hlbl) && !kw.share_file_name_present)
    kavu_abort(KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST, "SHARE_FILE_NAME", "MARGIN_VLBL",
               "MARGIN_HLBL");

  QEL_VPTR index_block = nullptr, info_block = nullptr;
  const char *index_name = nullptr, *info_name = nullptr;
  if (kw.share_file_name_present) {
    index_name = share_file_name(kw.share_file_name, ".idx", &index_block);
    info_name = share_file_name(kw.share_file_name, ".info", &info_block);
  }

  // Pixels outside MASK are not written by the worker: zero is "no region" to
  // every later border scan and to the caller.
  const QEL_MEMINT dims[] = {ncols, nrows};
  QEL_VPTR out_var;
  auto *out_lbl = reinterpret_cast<uint32_t *>(make_result_array(
      QEL_TYP_ULONG, 2, dims, kw.mask ? QEL_ARR_INI_ZERO : QEL_ARR_INI_NOP, &out_var));

  if (kw.in_merge_list) require_merge_list(kw.in_merge_list);
  aptree *merge_pair_tree = load_merge_pairs(kw.in_merge_list);

  const tile_request tile{data_of<float>(image),
                          in_lbl,
                          kw.margin_vlbl ? data_of<uint32_t>(kw.margin_vlbl) : nullptr,
                          kw.margin_hlbl ? data_of<uint32_t>(kw.margin_hlbl) : nullptr,
                          int32_t(ncols),
                          int32_t(nrows),
                          int32_t(nbands),
                          kw.mask ? data_of<uint8_t>(kw.mask) : nullptr,
                          kw.start_lbl,
                          threshold,
                          index_name,
                          info_name,
                          merge_pair_tree,
                          out_lbl};
  uint32_t last_lbl = 0;
  const kavu_status status = tile_lambda_segment(tile, &last_lbl);
  if (status != 0) {
    aptree_destroy(merge_pair_tree);
    if (status == TILE_LABELS_EXHAUSTED) abort_labels_exhausted(kw.start_lbl);
    abort_on_status(status, index_name);
  }

  if (QEL_VPTR list = merge_list_of(merge_pair_tree)) store_output(kw.out_merge_list, list);

  QEL_VarCopy(out_var, argv[1]);
  release_converted(image, argv[0]);
  if (index_labels) QEL_Deltmp(index_labels);
  if (index_block) QEL_Deltmp(index_block);
  if (info_block) QEL_Deltmp(info_block);
  release_keywords(kw._free);
  return QEL_GettmpLong(int32_t(last_lbl));
}
