// Temporaries: how they are made (arrays, scratch, LONG), moved into caller
// variables, released, refused on request, and reclaimed when a call aborts.
#include "fake_module.h"
#include "host_session.h"

#include <cstring>

namespace {

using Temporaries = fake::HostTest;
using kavu_test::read_array;
using kavu_test::read_scalar;

TEST_F(Temporaries, InitModesNoneZeroAndIndexInTheArraysType) {
  const QEL_MEMINT dims[] = {300, 2};
  QEL_VPTR zero = nullptr, index = nullptr, big = nullptr, none = nullptr;
  ASSERT_NE(QEL_MakeTempArray(QEL_TYP_LONG, 2, dims, QEL_ARR_INI_ZERO, &zero), nullptr);
  ASSERT_NE(QEL_MakeTempArray(QEL_TYP_BYTE, 2, dims, QEL_ARR_INI_INDEX, &index), nullptr);
  ASSERT_NE(QEL_MakeTempArray(QEL_TYP_FLOAT, 1, dims, QEL_ARR_INI_INDEX, &big), nullptr);
  char *data = QEL_MakeTempArray(QEL_TYP_DOUBLE, 1, dims, QEL_ARR_INI_NOP, &none);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data, reinterpret_cast<char *>(none->value.arr->data));
  EXPECT_EQ(qelhost::live_temporaries(), 4);

  EXPECT_EQ(read_array<int32_t>(zero).data, std::vector<int32_t>(600, 0));
  const auto bytes = read_array<uint8_t>(index).data;
  for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], std::min<size_t>(i, 255)) << i;
  const auto floats = read_array<float>(big).data;
  for (size_t i = 0; i < floats.size(); ++i) EXPECT_EQ(floats[i], static_cast<float>(i));

  const QEL_ARRAY *a = zero->value.arr;
  EXPECT_EQ(zero->flags, QEL_V_TEMP | QEL_V_ARR);
  EXPECT_EQ(a->n_dim, 2);
  EXPECT_EQ(a->elt_len, 4);
  EXPECT_EQ(a->arr_len, 2400);
  EXPECT_EQ(a->n_elts, 600);
  for (int i = 2; i < QEL_MAX_ARRAY_DIM; ++i) EXPECT_EQ(a->dims[i], 1);
  EXPECT_STREQ(QEL_VarName(zero), "<Expression>");
  for (QEL_VPTR v : {zero, index, big, none}) QEL_Deltmp(v);
}

TEST_F(Temporaries, BadShapesTypesAndOverflowReturnNull) {
  const QEL_MEMINT zero_dim[] = {4, 0};
  const QEL_MEMINT negative[] = {-1};
  const QEL_MEMINT huge[] = {INT64_MAX / 2, 3};
  const QEL_MEMINT nine[] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  QEL_VPTR v = reinterpret_cast<QEL_VPTR>(1);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_LONG, 2, zero_dim, 1, &v), nullptr);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_LONG, 1, negative, 1, &v), nullptr);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_BYTE, 2, huge, 0, &v), nullptr);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_BYTE, 0, nine, 0, &v), nullptr);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_BYTE, 9, nine, 0, &v), nullptr);
  EXPECT_EQ(QEL_MakeTempArray(QEL_TYP_STRING, 1, nine, 0, &v), nullptr);
  EXPECT_EQ(QEL_GetScratch(&v, INT64_MAX / 4, 8), nullptr);
  EXPECT_EQ(QEL_GetScratch(&v, -1, 8), nullptr);
  EXPECT_EQ(qelhost::live_temporaries(), 0);
}

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

TEST_F(Temporaries, EmptyScratchIsAValidBlock) {
  QEL_VPTR v;
  EXPECT_NE(QEL_GetScratch(&v, 0, 8), nullptr);
  QEL_Deltmp(v);
}

TEST_F(Temporaries, VarCopyMovesIntoCallerVariableAndReleasesItsOldValue) {
  kavu_test::Vars vars;
  QEL_VPTR out = vars.array("out", std::vector<float>{1, 2, 3}, {3});
  const QEL_MEMINT dims[] = {2, 2};
  QEL_VPTR tmp;
  char *data = QEL_MakeTempArray(QEL_TYP_ULONG, 2, dims, QEL_ARR_INI_INDEX, &tmp);
  QEL_VarCopy(tmp, out);
  EXPECT_EQ(qelhost::live_temporaries(), 0);
  EXPECT_EQ(out->flags, QEL_V_ARR) << "the caller's variable is not a temporary";
  EXPECT_EQ(reinterpret_cast<char *>(out->value.arr->data), data) << "moved, not copied";
  EXPECT_EQ(read_array<uint32_t>(out).data, (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_STREQ(QEL_VarName(out), "OUT");

  QEL_VarCopy(QEL_GettmpLong(-7), out);
  EXPECT_EQ(read_scalar<int32_t>(out), -7);
}

TEST_F(Temporaries, VarCopyOverABorrowedArrayLeavesTheBufferToItsOwner) {
  std::vector<uint16_t> buffer = {1, 2, 3, 4};
  QEL_VPTR out = qelhost::make_array("b", QEL_TYP_UINT, {4}, buffer.data(), true);
  EXPECT_EQ(reinterpret_cast<uint16_t *>(out->value.arr->data), buffer.data());
  QEL_VarCopy(QEL_GettmpLong(1), out);
  qelhost::release(out);
  EXPECT_EQ(buffer, (std::vector<uint16_t>{1, 2, 3, 4}));  // still ours (ASan would flag a free)
}

TEST_F(Temporaries, StoreScalarZeroThenWrite) {
  kavu_test::Vars vars;
  QEL_VPTR out = vars.array("m", std::vector<double>{1, 2}, {2});
  QEL_StoreScalarZero(out, QEL_TYP_ULONG);
  EXPECT_EQ(read_scalar<uint32_t>(out), 0u);
  out->value.ul = 4000000000u;
  EXPECT_EQ(read_scalar<uint32_t>(out), 4000000000u);
}

TEST_F(Temporaries, DeltmpLeavesNamedVariablesAlone) {
  kavu_test::Vars vars;
  QEL_VPTR named = vars.lng("n", 3);
  QEL_Deltmp(named);
  EXPECT_EQ(read_scalar<int32_t>(named), 3);
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

TEST_F(Temporaries, ResultBelongsToTheCallerAndLeaksAreCounted) {
  QEL_VPTR leaked = nullptr;
  fake::body = [&leaked](int, QEL_VPTR *, QEL_KW_ARGS *) {
    leaked = QEL_GettmpLong(1);
    const QEL_MEMINT dims[] = {3};
    QEL_VPTR result;
    QEL_MakeTempArray(QEL_TYP_LONG, 1, dims, QEL_ARR_INI_INDEX, &result);
    return result;
  };
  QEL_VPTR result = qelhost::call("fake_run", {});
  EXPECT_FALSE(result->flags & QEL_V_TEMP);
  EXPECT_EQ(read_array<int32_t>(result).data, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(qelhost::live_temporaries(), 1) << "the temporary the routine forgot";
  QEL_Deltmp(leaked);
  qelhost::release(result);
}

TEST_F(Temporaries, ReturningAnArgumentHandsOutACopy) {
  kavu_test::Vars vars;
  QEL_VPTR arg = vars.array("a", std::vector<int16_t>{-1, 2}, {2});
  fake::body = [](int, QEL_VPTR *argv, QEL_KW_ARGS *) { return argv[0]; };
  QEL_VPTR result = vars.add(qelhost::call("FAKE_RUN", {arg}));
  EXPECT_NE(result, arg);
  EXPECT_NE(result->value.arr->data, arg->value.arr->data);
  EXPECT_EQ(read_array<int16_t>(result).data, (std::vector<int16_t>{-1, 2}));
}

}  // namespace
