// Wrappers that read values out of Java: the getters of java.sql.ResultSet
// (one column of the current row) and java.sql.CallableStatement (one output
// parameter), with wasNull, and the few other calls made on those objects.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

#include "drv_jdbc/j_records.h"

namespace kx {

// The growable result of a long value. size: bytes for narrow text and
// binary, UTF-16 units for wide text; 0 for SQL NULL. data: zeroed heap block
// owned by whoever holds the record (narrow text: size + 1 bytes; wide text:
// size + 1 units; binary: size bytes, at least one).
struct JGrowBuf {
  uint32_t size;
  void* data;
};

int JC_CallableStatement_registerOutParameter(JStmt* s, jobject cs, int32_t index,
                                              int32_t jdbcType);
// A decimal output read as the number it is (a JDBC driver may refuse
// getString for it) and written out in plain form, never with an exponent.
// *isNull for SQL NULL.
int JC_CallableStatement_getDecimalText(JStmt* s, jobject cs, int32_t index, std::string* out, bool* isNull);
int JC_CallableStatement_getBoolean(JStmt* s, jobject cs, int32_t index, uint8_t* out);
int JC_CallableStatement_getByte(JStmt* s, jobject cs, int32_t index, int8_t* out);
int JC_CallableStatement_getShort(JStmt* s, jobject cs, int32_t index, int16_t* out);
int JC_CallableStatement_getInt(JStmt* s, jobject cs, int32_t index, int32_t* out);
int JC_CallableStatement_getLong(JStmt* s, jobject cs, int32_t index, int64_t* out);
int JC_CallableStatement_getFloat(JStmt* s, jobject cs, int32_t index, float* out);
int JC_CallableStatement_getDouble(JStmt* s, jobject cs, int32_t index, double* out);
int JC_CallableStatement_getString(JStmt* s, jobject cs, int32_t index, char* buffer,
                                   int32_t* length, int32_t capacity);
int JC_CallableStatement_getStringLong(JStmt* s, jobject cs, int32_t index, JGrowBuf* out);
int JC_CallableStatement_getStringW(JStmt* s, jobject cs, int32_t index, char16_t* buffer,
                                    int32_t* count, int32_t capacity);
int JC_CallableStatement_getStringLongW(JStmt* s, jobject cs, int32_t index, JGrowBuf* out);
int JC_CallableStatement_getBytes(JStmt* s, jobject cs, int32_t index, void* buffer,
                                  int32_t* length, int32_t capacity);
int JC_CallableStatement_getBytesLong(JStmt* s, jobject cs, int32_t index, JGrowBuf* out);
int JC_CallableStatement_getDate(JStmt* s, jobject cs, int32_t index, int16_t* year,
                                 uint16_t* month, uint16_t* day);
int JC_CallableStatement_getTime(JStmt* s, jobject cs, int32_t index, uint16_t* hour,
                                 uint16_t* minute, uint16_t* second, uint32_t* fraction = nullptr);
int JC_CallableStatement_getTimestamp(JStmt* s, jobject cs, int32_t index, int16_t* year,
                                      uint16_t* month, uint16_t* day, uint16_t* hour,
                                      uint16_t* minute, uint16_t* second, uint32_t* fraction);
int JC_CallableStatement_wasNull(JStmt* s, jobject cs, uint8_t* out);

// capacity: only its low 16 bits count. 19 when the name was cut.
int JC_ResultSet_getCursorName(JStmt* s, jobject rs, char* buffer, uint32_t capacity,
                               uint16_t* length);
int JC_ResultSet_getBoolean(JStmt* s, jobject rs, int32_t index, uint8_t* out);
int JC_ResultSet_getByte(JStmt* s, jobject rs, int32_t index, int8_t* out);
int JC_ResultSet_getShort(JStmt* s, jobject rs, int32_t index, int16_t* out);
int JC_ResultSet_getInt(JStmt* s, jobject rs, int32_t index, int32_t* out);
int JC_ResultSet_getFloat(JStmt* s, jobject rs, int32_t index, float* out);
int JC_ResultSet_getDouble(JStmt* s, jobject rs, int32_t index, double* out);
int JC_ResultSet_getString(JStmt* s, jobject rs, int32_t index, char* buffer, int32_t* length,
                           int32_t capacity);
int JC_ResultSet_getStringLong(JStmt* s, jobject rs, int32_t index, JGrowBuf* out);
int JC_ResultSet_getStringW(JStmt* s, jobject rs, int32_t index, char16_t* buffer,
                            int32_t* count, int32_t capacity);
int JC_ResultSet_getStringLongW(JStmt* s, jobject rs, int32_t index, JGrowBuf* out);
int JC_ResultSet_getBytes(JStmt* s, jobject rs, int32_t index, void* buffer, int32_t* length,
                          int32_t capacity);
int JC_ResultSet_getBytesLong(JStmt* s, jobject rs, int32_t index, JGrowBuf* out);
int JC_ResultSet_getDate(JStmt* s, jobject rs, int32_t index, int16_t* year, uint16_t* month,
                         uint16_t* day);
// fraction: NULL reads the seconds alone (java.sql.Time); otherwise the
// nanoseconds too, through java.time where the driver gives it.
int JC_ResultSet_getTime(JStmt* s, jobject rs, int32_t index, uint16_t* hour, uint16_t* minute,
                         uint16_t* second, uint32_t* fraction = nullptr);
int JC_ResultSet_getTimestamp(JStmt* s, jobject rs, int32_t index, int16_t* year,
                              uint16_t* month, uint16_t* day, uint16_t* hour, uint16_t* minute,
                              uint16_t* second, uint32_t* fraction);
int JC_ResultSet_wasNull(JStmt* s, jobject rs, uint8_t* out);
int JC_ResultSet_getMetaData(JStmt* s, jobject rs, jobject* out);
int JC_ResultSet_close(JStmt* s, jobject rs);
int JC_ResultSet_next(JStmt* s, jobject rs, uint8_t* out);
// A hint: a driver that refuses it reads as it would anyway (nothing pending).
void JC_ResultSet_setFetchSize(JStmt* s, jobject rs, int32_t rows);

}  // namespace kx
