#include "frame/messages.h"

QEL_MSG_BLOCK kavu_segmentation_msg_block = nullptr;

const QEL_MSG_DEF msg_arr[KAVU_MESSAGE_COUNT] = {
    {"KAVU_MBLK_SEGMENT_ERROR", "%N Error: %s."},
    {"KAVU_MBLK_SEGMENT_NOT_2D", "%N %s needs to be 2D."},
    {"KAVU_MBLK_SEGMENT_SM_DIM", "%N The size of both dimensions of %s needs to be at least 3."},
    {"KAVU_MBLK_SEGMENT_KEYWORD_BADVAL", "%N Bad keyword value for %s. %s."},
    {"KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE", "%N The type of %s needs to be type %s."},
    {"KAVU_MBLK_SEGMENT_DIM_NOT_MATCH", "%N The first %d dimensions of %s and %s do not match."},
    {"KAVU_MBLK_SEGMENT_NOT_VECTOR", "%N %s needs to be a vector."},
    {"KAVU_MBLK_SEGMENT_DIM_LESS",
     "%N The dimension of %s needs to be equal to or larger than the %s dimension of %s."},
    {"KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL", "%N The memory allocation failed."},
    {"KAVU_MBLK_SEGMENT_FILE_ERR", "%N Cannot open file %s for writing."},
    {"KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH", "%N The first dimension of %s and %s do not match."},
    {"KAVU_MBLK_SEGMENT_NOT_12D", "%N %s needs to be 1D or 2D."},
    {"KAVU_MBLK_SEGMENT_VALUE_DIM_ERR",
     "%N The second dimension of %s must equal to the number of bands of input image."},
    {"KAVU_MBLK_SEGMENT_NOT_MEET_MINV", "%N %s needs to be at least %d."},
    {"KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH",
     "%N The 2nd dimensions of %s and the size of %s do not match."},
    {"KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST", "%N The %s needs to be set when %s or %s is set."},
    {"KAVU_MBLK_SEGMENT_HASH_INSERT_FAIL", "%N Insertion to hash table failed."},
    {"KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND", "%N Hash key is not found."},
};
