// The module's one exported entry: define the message block, register the
// routines and the exit handler.
#include "frame/messages.h"
#include "frame/routines.h"

namespace {
constexpr int kRoutinesAreFunctions = 1;
}

void kavu_segmentation_exit_handler() {}

int kavu_segmentation_startup() {
  if (!QEL_SysRtnAdd(segmentation_functions, kRoutinesAreFunctions, 10)) return 0;
  QEL_ExitRegister(kavu_segmentation_exit_handler);
  return 1;
}

extern "C" __attribute__((visibility("default"))) int QEL_Load() {
  kavu_segmentation_msg_block =
      QEL_MessageDefineBlock("KAVU_SEGMENT_MSG", KAVU_MESSAGE_COUNT, msg_arr);
  if (!kavu_segmentation_msg_block) return 0;
  // A refused routine table is reported but still counts as loaded.
  if (!kavu_segmentation_startup())
    QEL_MessageFromBlock(kavu_segmentation_msg_block, KAVU_MBLK_SEGMENT_ERROR, QEL_MSG_RET,
                         "Unable to initialize kavu_segmentation");
  return 1;
}
