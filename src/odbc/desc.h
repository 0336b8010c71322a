// Descriptor records: the record behind a descriptor handle, its records,
// allocation and release, the binding views through record numbers, the
// application of an application descriptor to a statement's bindings, and the
// descriptor field engine (reads, writes, copy and the record calls).
#pragma once

#include <sql.h>

#include <cstdint>

#include "odbc/records.h"

namespace kx {

enum DescKind : int16_t {
  DK_USER = 0,
  DK_IRD = 1,
  DK_ARD = 2,
  DK_IPD = 3,
  DK_APD = 4,
};

// ---- records ----------------------------------------------------------------------
// allocation: SQL_DESC_ALLOC_AUTO (statement's own) or SQL_DESC_ALLOC_USER.
DescRecord* DescAlloc(int16_t kind, int16_t allocation, StmtRecord* stmt, ConnRecord* conn);
void DescFree(DescRecord* desc);
// Frees every explicit descriptor of the connection (connection close).
void DescFreeAllOfConn(ConnRecord* conn);
void DescPostMsg(DescRecord* desc, const char* text, int32_t native);
char* DescPopMsg(DescRecord* desc, int32_t* native);

int32_t DescRecCount(const DescRecord* desc);
DescFieldRec* DescGetRec(DescRecord* desc, int32_t n);
int DescGrowRecs(DescRecord* desc, int16_t n);
void DescTrimRecs(DescRecord* desc, int32_t n);
void DescRecInit(const DescRecord* desc, DescFieldRec* rec);
void DescRecClear(DescFieldRec* rec);

bool DescIsApplication(const DescRecord* desc);
bool DescIsRow(const DescRecord* desc);
const char* DescKindName(const DescRecord* desc);

// ---- statement bindings through record numbers ---------------------------------------
ColBinding* StmtGetColBinding(int16_t n, StmtRecord* stmt);
// The binding of parameter n, or nullptr when n is outside the array or the
// entry holds no binding.
ParamBinding* StmtGetParamBinding(int16_t n, StmtRecord* stmt);

// 0 or an error code.
int StmtApplyARD(StmtRecord* stmt, DescRecord* desc);
int StmtApplyAPD(StmtRecord* stmt, DescRecord* desc);
// Column size and decimal digits of a parameter, from its IPD record.
void DescParamSize(const DescFieldRec* ipdRec, uint64_t* columnSize, int16_t* decimalDigits);

// ---- field engine ------------------------------------------------------------------------
SQLRETURN DescGetField(DescRecord* desc, int16_t recNumber, int16_t field, void* value,
                       int64_t bufferLength, int64_t* length, char form);
SQLRETURN DescSetField(DescRecord* desc, int16_t recNumber, int16_t field, uint64_t value,
                       int64_t length, char form);
SQLRETURN DescSetFieldEngine(StmtRecord* stmt, bool application, bool row, bool applied,
                             DescRecord* desc, int16_t recNumber, int16_t field, uint64_t value,
                             int64_t length, char form);
SQLRETURN DescCopy(DescRecord* source, uint32_t targetHandle);
// bufferLength and nameLength count bytes for 'A' and characters for 'W'.
SQLRETURN DescGetRecFields(DescRecord* desc, int16_t recNumber, void* name, int16_t bufferLength,
                           int16_t* nameLength, int16_t* type, int16_t* subtype, int64_t* length,
                           int16_t* precision, int16_t* scale, int16_t* nullable, char form);
SQLRETURN DescSetRecFields(DescRecord* desc, int16_t recNumber, int16_t type, int16_t subtype,
                           int64_t length, int16_t precision, int16_t scale, void* data,
                           int64_t* octetLength, int64_t* indicator);

}  // namespace kx
