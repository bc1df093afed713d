/* The host interpreter's extension interface, as the module sees it.
 * Records, type codes and flags are laid out as the host lays them out; every
 * operation is implemented by the host (in this project: qelhost/). */
#ifndef KAVU_QEL_H
#define KAVU_QEL_H

#include <stdint.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char UCHAR;
typedef int64_t QEL_MEMINT;

/* Type codes. */
#define QEL_TYP_UNDEF 0
#define QEL_TYP_BYTE 1
#define QEL_TYP_INT 2
#define QEL_TYP_LONG 3
#define QEL_TYP_FLOAT 4
#define QEL_TYP_DOUBLE 5
#define QEL_TYP_STRING 7
#define QEL_TYP_UINT 12
#define QEL_TYP_ULONG 13
#define QEL_TYP_LONG64 14
#define QEL_TYP_ULONG64 15

/* Variable flags. The scalar test rejects any of QEL_V_NOT_SCALAR. */
#define QEL_V_TEMP 0x02
#define QEL_V_ARR 0x04
#define QEL_V_FILE 0x08
#define QEL_V_STRUCT 0x20
#define QEL_V_NOT_SCALAR (QEL_V_ARR | QEL_V_FILE | QEL_V_STRUCT)

#define QEL_MAX_ARRAY_DIM 8

typedef struct {
  QEL_MEMINT elt_len; /* bytes per element */
  QEL_MEMINT arr_len; /* bytes in all */
  QEL_MEMINT n_elts;
  UCHAR *data;
  UCHAR n_dim;
  UCHAR flags;
  QEL_MEMINT dims[QEL_MAX_ARRAY_DIM]; /* dims[0] varies fastest; entries beyond n_dim read 1 */
} QEL_ARRAY;

typedef struct {
  int32_t slen;
  int16_t stype;
  char *s; /* null for the empty string */
} QEL_STRING;

typedef union {
  UCHAR c;
  int16_t i;
  int32_t l;
  float f;
  double d;
  QEL_STRING str;
  uint16_t ui;
  uint32_t ul;
  int64_t l64;
  uint64_t ul64;
  QEL_ARRAY *arr;
} QEL_ALLTYPES;

typedef struct {
  UCHAR type;
  UCHAR flags;
  QEL_ALLTYPES value;
} QEL_VARIABLE;

typedef QEL_VARIABLE *QEL_VPTR;

/* Keyword descriptors. A routine's table is sorted by name and ends with an
 * all-zero entry. Offsets are into the routine's keyword result structure,
 * whose first field (offset 0) is the host's free flag; a `specified` offset of
 * 0 therefore means "no presence flag". */
#define QEL_KW_ARRAY 0x1000
#define QEL_KW_OUT 0x2000
#define QEL_KW_ZERO 0x4000
#define QEL_KW_VIN (QEL_KW_OUT | QEL_KW_ARRAY)
#define QEL_KW_INPUT_VAR (QEL_KW_ZERO | QEL_KW_VIN)  /* 0x7000 */
#define QEL_KW_OUTPUT_VAR (QEL_KW_ZERO | QEL_KW_OUT) /* 0x6000 */
#define QEL_KW_OFFSETOF(record, field) ((QEL_MEMINT)offsetof(record, field))

typedef struct {
  const char *keyword;
  UCHAR type;
  int mask;
  int flags;
  QEL_MEMINT specified;
  QEL_MEMINT value;
} QEL_KW_PAR;

/* Keywords as the caller passed them; opaque to the module. */
typedef struct QEL_KW_ARGS QEL_KW_ARGS;

typedef QEL_VPTR (*QEL_SYSRTN_FUN)(int argc, QEL_VPTR *argv, QEL_KW_ARGS *argk);

#define QEL_SYSFUN_DEF_F_KEYWORDS 2

typedef struct {
  QEL_SYSRTN_FUN funct_addr;
  const char *name;
  UCHAR arg_min;
  UCHAR arg_max;
  int flags;
} QEL_SYSFUN_DEF;

typedef struct {
  const char *name;
  const char *format;
} QEL_MSG_DEF;

typedef struct QEL_MSG_BLOCK_REC *QEL_MSG_BLOCK;

/* Message actions. */
#define QEL_MSG_RET 0
#define QEL_MSG_ABORT 2

/* Initialisation modes of QEL_MakeTempArray. */
#define QEL_ARR_INI_NOP 0
#define QEL_ARR_INI_ZERO 1
#define QEL_ARR_INI_INDEX 2

int QEL_KWProcessByOffset(int argc, QEL_VPTR *argv, QEL_KW_ARGS *argk, const QEL_KW_PAR *kw_pars,
                          QEL_VPTR *plain_args, int mask, void *kw_result);
void QEL_KWFree(void);

QEL_VPTR QEL_VarTypeConvert(QEL_VPTR v, int type);
char *QEL_MakeTempArray(int type, int n_dim, const QEL_MEMINT dims[], int init, QEL_VPTR *var);
char *QEL_GetScratch(QEL_VPTR *var, QEL_MEMINT n_elts, QEL_MEMINT elt_size);
void QEL_Deltmp(QEL_VPTR v);
QEL_VPTR QEL_GettmpLong(int32_t value);
void QEL_VarCopy(QEL_VPTR src, QEL_VPTR dst);
void QEL_StoreScalarZero(QEL_VPTR dest, int type);
const char *QEL_VarName(QEL_VPTR v);

void QEL_MessageFromBlock(QEL_MSG_BLOCK block, int code, int action, ...);
void QEL_MessageVE_NOTARRAY(QEL_VPTR v, int action);
void QEL_MessageVE_NOTSCALAR(QEL_VPTR v, int action);
void QEL_MessageVE_REQSTR(QEL_VPTR v, int action);
QEL_MSG_BLOCK QEL_MessageDefineBlock(const char *name, int n, const QEL_MSG_DEF *defs);

int QEL_SysRtnAdd(const QEL_SYSFUN_DEF *defs, int is_function, int cnt);
void QEL_ExitRegister(void (*handler)(void));

#ifdef __cplusplus
}
#endif

#endif
