// The small records a statement keeps beside its own: column and parameter
// bindings, the summary that tells whether the agent's parameter descriptions
// are stale, the continuation of a value read in pieces, and the field records
// of a descriptor.
#pragma once

#include <cstdint>
#include <memory>

namespace kx {

// One bound column, or a GetData / output-parameter target built on the fly.
struct ColBinding {
  uint16_t column;
  int16_t cType;
  int16_t fractionDigits;
  void* target;
  int64_t bufferLength;
  int64_t* octetLength;
  int64_t* indicator;  // the same pointer as octetLength when bound through SQLBindCol
};

struct ColBindingNode {
  ColBindingNode* next;
  ColBinding binding;
  uint32_t daeCount;     // entries of the two arrays below
  void** daeValues;      // per-row values collected by PutData, each malloc'd
  int64_t* daeLengths;
};

// One bound parameter.
struct ParamBinding {
  uint16_t number;       // 1..KX_MAX_PARAMS
  int16_t cType;         // after SQL_C_DEFAULT is resolved
  int64_t elementSize;   // fixed size of the C type, or SQL_NTS for text and binary
  int16_t sqlType;
  uint64_t columnSize;
  int16_t decimalDigits;
  void* value;
  int64_t* octetLength;
  int64_t* indicator;
  int64_t bufferLength;
  int16_t direction;     // SQL_PARAM_INPUT 1, INPUT_OUTPUT 2, OUTPUT 4
  uint64_t daeCount;
  void** daeValues;
  int64_t* daeLengths;
};

// What the agent was told about a parameter; any change makes its
// descriptions stale.
struct ParamSummary {
  int32_t sqlType;
  int32_t cType;
  uint32_t columnSize;
  int16_t decimalDigits;
  int16_t direction;
};

// A value read by SQLGetData in several calls.
struct GetDataState {
  uint16_t column;       // 1-based column of the last first call; 0 = none
  uint16_t row;          // row index of that call plus 1; 0 = none
  void* rest;            // the part of the value not yet delivered
  uint32_t storageType;  // RBType of the value
  uint32_t remaining;    // octets not yet delivered
  int32_t total;         // length of the whole long value; -1 = NULL
  int32_t cType;
  int32_t owned;         // rest lies in a piece the agent allocated
  void* piece;           // that piece (what is freed), rest points into it
  uint32_t split;        // target units of the character at rest already delivered
  // The state was left by a fetch delivering the bound columns, not by an
  // SQLGetData call: a bound column it delivered whole is read again from
  // its start by SQLGetData (SQL_GD_BOUND).
  int32_t leftByFetch;
};

// One descriptor record: the fields of an ODBC descriptor record.
struct DescFieldRec {
  int32_t autoUniqueValue;
  char* baseColumnName;
  char* baseTableName;
  int32_t caseSensitive;
  char* catalogName;
  int16_t conciseType;
  void* dataPtr;
  int16_t datetimeIntervalCode;
  int32_t datetimeIntervalPrecision;
  int32_t displaySize;
  int16_t fixedPrecScale;
  int64_t* indicatorPtr;
  char* label;
  uint64_t length;
  char* literalPrefix;
  char* literalSuffix;
  char* localTypeName;
  char* name;            // the record's own UTF-8 copy
  int16_t nullable;
  int32_t numPrecRadix;
  int32_t octetLength;
  int64_t* octetLengthPtr;
  int16_t parameterType;
  int16_t precision;
  int16_t scale;
  char* schemaName;
  int16_t searchable;
  char* tableName;
  int16_t type;
  char* typeName;
  int16_t unnamed;
  int16_t isUnsigned;
  int16_t updatable;
};

// Releases one descriptor record with the name it owns.
struct DescFieldRecFree {
  void operator()(DescFieldRec* rec) const noexcept;
};

// One record of a descriptor's record list. The list's entry n holds record
// n; entry 0 (the bookmark record) always exists. Each record lives on its
// own, so a record reached by its number stays where it is while the list
// grows.
using DescFieldRecPtr = std::unique_ptr<DescFieldRec, DescFieldRecFree>;

}  // namespace kx
