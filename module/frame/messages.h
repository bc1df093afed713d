// The module's message block: catalogue names as codes, and the handle that
// QEL_Load stores. A code is minus the message's position in the catalogue.
#pragma once

#include "host/qel.h"

enum kavu_message_code {
  KAVU_MBLK_SEGMENT_ERROR = 0,
  KAVU_MBLK_SEGMENT_NOT_2D = -1,
  KAVU_MBLK_SEGMENT_SM_DIM = -2,
  KAVU_MBLK_SEGMENT_KEYWORD_BADVAL = -3,
  KAVU_MBLK_SEGMENT_KEYWORD_BADTYPE = -4,
  KAVU_MBLK_SEGMENT_DIM_NOT_MATCH = -5,
  KAVU_MBLK_SEGMENT_NOT_VECTOR = -6,
  KAVU_MBLK_SEGMENT_DIM_LESS = -7,
  KAVU_MBLK_SEGMENT_MEMORY_ALLOC_FAIL = -8,
  KAVU_MBLK_SEGMENT_FILE_ERR = -9,
  KAVU_MBLK_SEGMENT_DIM1_NOT_MATCH = -10,
  KAVU_MBLK_SEGMENT_NOT_12D = -11,
  KAVU_MBLK_SEGMENT_VALUE_DIM_ERR = -12,
  KAVU_MBLK_SEGMENT_NOT_MEET_MINV = -13,
  KAVU_MBLK_SEGMENT_DIM_VERT_NOT_MATCH = -14,
  KAVU_MBLK_SEGMENT_SHARE_FNAME_NOT_EXIST = -15,
  KAVU_MBLK_SEGMENT_HASH_INSERT_FAIL = -16,
  KAVU_MBLK_SEGMENT_HASH_KEY_NOT_FOUND = -17,
};

inline constexpr int KAVU_MESSAGE_COUNT = 18;

extern const QEL_MSG_DEF msg_arr[KAVU_MESSAGE_COUNT];

extern "C" __attribute__((visibility("default"))) QEL_MSG_BLOCK kavu_segmentation_msg_block;
