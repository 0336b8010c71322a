// Wrappers of java.sql.PreparedStatement: one setter per kind of parameter
// value, and the statement calls the agent makes on a prepared statement.
// Text values come with their own text mode (1: UTF-8 converted from wide
// text; 0: narrow text in the platform character set).
#pragma once

#include <jni.h>

#include <cstdint>
#include <vector>

#include "drv_jdbc/j_records.h"

namespace kx {

// Setter calls packed for one call into Java instead of made one by one: the
// parameter rows of a batch block. While a statement's paramPack is set,
// clearParameters, addBatch and the setters append their call here (in the
// layout of quillmar/support/ParamBatch) and answer 0; the stream setters,
// which depend on what the driver accepted before, and a pack that runs out
// of memory answer JC_NOT_PACKED with refused set, and the caller binds the
// block call by call instead.
struct JParamPack {
  std::vector<unsigned char> bytes;
  bool refused = false;
};
constexpr int JC_NOT_PACKED = -2;

// Makes the packed calls on ps in one call into Java; *rows: the rows added
// to its batch. JC_NOT_PACKED when the VM cannot take packed calls (nothing
// made); a Java failure is posted and returned as a setter's would be.
int JC_PreparedStatement_addPackedRows(JStmt* s, jobject ps, const JParamPack& pack, int32_t* rows);

// The layout of ODBC's timestamp structure (SQL_TIMESTAMP_STRUCT).
struct JDateTime {
  int16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint32_t fraction;  // nanoseconds
};

int JC_PreparedStatement_clearParameters(JStmt* s, jobject ps);
int JC_PreparedStatement_execute(JStmt* s, jobject ps, uint8_t* hasResultSet);
int JC_PreparedStatement_getMetaData(JStmt* s, jobject ps, jobject* out);
int JC_PreparedStatement_getResultSet(JStmt* s, jobject stmt, jobject* out);
// Batches: the parameters set now become the batch's next row; executeBatch
// runs them all and gives each row's update count (up to capacity of them;
// *got is how many the driver gave).
int JC_PreparedStatement_addBatch(JStmt* s, jobject ps);
int JC_Statement_clearBatch(JStmt* s, jobject stmt);
int JC_Statement_executeBatch(JStmt* s, jobject stmt, int32_t* counts, int32_t capacity,
                              int32_t* got);

int JC_PreparedStatement_setNull(JStmt* s, jobject ps, int32_t index, int32_t jdbcType);
int JC_PreparedStatement_setBigDecimal(JStmt* s, jobject ps, int32_t index, const char* text,
                                       int32_t length, int32_t mode);
int JC_PreparedStatement_setString(JStmt* s, jobject ps, int32_t index, const char* text,
                                   int32_t length, int32_t mode);
// Long text: offered as a character stream while the connection's stream mode
// allows it, else (and from the first refusal on) through setString.
int JC_PreparedStatement_setCharacterStream(JStmt* s, jobject ps, int32_t index,
                                            const char* text, int32_t length, int32_t mode);
int JC_PreparedStatement_setBytes(JStmt* s, jobject ps, int32_t index, const void* data,
                                  int32_t length);
int JC_PreparedStatement_setBinaryStream(JStmt* s, jobject ps, int32_t index, const void* data,
                                         int32_t length);
int JC_PreparedStatement_setBoolean(JStmt* s, jobject ps, int32_t index, int value);
int JC_PreparedStatement_setByte(JStmt* s, jobject ps, int32_t index, int value);
int JC_PreparedStatement_setShort(JStmt* s, jobject ps, int32_t index, int value);
int JC_PreparedStatement_setInt(JStmt* s, jobject ps, int32_t index, int32_t value);
int JC_PreparedStatement_setLong(JStmt* s, jobject ps, int32_t index, int64_t value);
int JC_PreparedStatement_setFloat(JStmt* s, jobject ps, int32_t index, float value);
int JC_PreparedStatement_setDouble(JStmt* s, jobject ps, int32_t index, double value);
int JC_PreparedStatement_setDate(JStmt* s, jobject ps, int32_t index, const JDateTime* value);
int JC_PreparedStatement_setTime(JStmt* s, jobject ps, int32_t index, const JDateTime* value);
int JC_PreparedStatement_setTimestamp(JStmt* s, jobject ps, int32_t index,
                                      const JDateTime* value);

}  // namespace kx
