// Temporaries: how they are made (arrays, scratch, LONG), moved into caller
// variables, released, refused on request, and reclaimed when a call aborts.
#include "fake_module.h"
#include "host_session.h"

#include <cstring>

namespace {

using Temporaries = fake::HostTest;
using kavu_test::read_array;
using kavu_test::read_scalar;

TEST_F(Temporaries, RefusalHitsExactlyTheNthArrayOrScratchBlock) {
  qelhost::Refusals r;
  r.fail_temp_at = 3;
  qelhost::set_refusals(r);
  const QEL_MEMINT dims[] = {5};
  QEL_VPTR v[4];
  EXPECT_NE(QEL_MakeTempArray(QEL_TYP_LONG, 1, dims, 1, &v[0]), nullptr);
  EXPECT_NE(QEL_GetScratch(&v[1], 5, 4), nullptr);
  EXPECT_EQ(QEL_GetScratch(&v[2], 5, 4), nullptr);
  EXPECT_NE(QEL_MakeTempArray(QEL_TYP_LONG, 1, dims, 1, &v[3]), nullptr);
  EXPECT_EQ(v[2], nullptr);
  EXPECT_EQ(qelhost::live_temporaries(), 3);
  for (QEL_VPTR t : {v[0], v[1], v[3]}) QEL_Deltmp(t);
}

TEST_F(Temporaries, VarCopyOverABorrowedArrayLeavesTheBufferToItsOwner) {
  std::vector<uint16_t> buffer = {1, 2, 3, 4};
  QEL_VPTR out = qelhost::make_array("b", QEL_TYP_UINT, {4}, buffer.data(), true);
  EXPECT_EQ(reinterpret_cast<uint16_t *>(out->value.arr->data), buffer.data());
  QEL_VarCopy(QEL_GettmpLong(1), out);
  qelhost::release(out);
  EXPECT_EQ(buffer, (std::vector<uint16_t>{1, 2, 3, 4}));  // still ours (ASan would flag a free)
}

TEST_F(Temporaries, AnAbortedCallReleasesEverythingItMade) {
  kavu_test::Vars vars;
  QEL_VPTR arg = vars.array("levels", std::vector<uint8_t>{1, 2, 3}, {3});
  QEL_VPTR out = vars.undefined("kept");
  QEL_VPTR outside = QEL_GettmpLong(5);  // made before the call: not the call's to reclaim
  fake::body = [out](int, QEL_VPTR *argv, QEL_KW_ARGS *) -> QEL_VPTR {
    const QEL_MEMINT dims[] = {4, 4};
    QEL_VPTR a, s, handed;
    QEL_MakeTempArray(QEL_TYP_FLOAT, 2, dims, 1, &a);
    QEL_GetScratch(&s, 10, 8);
    QEL_VarTypeConvert(argv[0], QEL_TYP_DOUBLE);
    QEL_GettmpLong(1);
    QEL_MakeTempArray(QEL_TYP_LONG, 1, dims, 2, &handed);
    QEL_VarCopy(handed, out);
    EXPECT_EQ(qelhost::live_temporaries(), 5);
    QEL_MessageFromBlock(fake::block, fake::kNot2d, QEL_MSG_ABORT, "levels");
    ADD_FAILURE() << "the abort action returned";
    return nullptr;
  };
  const auto e = fake::call_error("FAKE_RUN", {arg});
  EXPECT_EQ(e.name, "FAKE_M_NOT_2D");
  EXPECT_EQ(e.routine, "FAKE_RUN");
  EXPECT_EQ(e.text, "FAKE_RUN: levels needs to be 2D.");
  EXPECT_EQ(qelhost::live_temporaries(), 1);
  EXPECT_EQ(read_array<int32_t>(out).data, (std::vector<int32_t>{0, 1, 2, 3}));
  QEL_Deltmp(outside);
}

}  // namespace
