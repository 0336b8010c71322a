#include "drv_jdbc/j_desc.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "agent/agent.h"
#include "agent/build_flavor.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_meta.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "drv_jdbc/j_stream.h"
#include "drv_jdbc/j_typelist.h"
#include "drv_jdbc/j_typemap.h"
#include "util/errcodes.h"
#include "util/handle_table.h"
#include "util/hash_table.h"
#include "util/interval_text.h"
#include "util/log.h"
#include "util/str_util.h"

namespace kx {

namespace {

JMethod mPsGetMetaData{"java/sql/PreparedStatement", "getMetaData",
                       "()Ljava/sql/ResultSetMetaData;"};

int32_t Saturate(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

bool WideClient(int32_t unicode) { return UnicodeBuild() && unicode != 0; }

// Text carried in the row buffer: fixed elements up to the long limit, long
// values beyond it or when the width is unknown. Narrow text arrives as UTF-8,
// up to four bytes per character; wide text may need two units per character.
void TextStorage(int64_t size, bool wide, AgentColDesc* d) {
  if (size <= 0 || size > JDB_LONG_LIMIT) {
    d->storageType = wide ? RBT_WCHAR_PTR : RBT_CHAR_PTR;
    d->elementLength = 0;
    return;
  }
  d->storageType = wide ? RBT_WCHAR_NTS : RBT_CHAR_NTS;
  d->elementLength = static_cast<int32_t>(wide ? size * 2 : size * 4);
}

// Text without a width, or wider than a fixed element takes, is long
// text: applications then read it in pieces instead of binding a buffer
// of its whole size. The JDBC type kept for the column stays as it was, so
// the column is still read a block of rows at a time.
void LongWhenUnbounded(int64_t size, AgentColDesc* d) {
  if (size > 0 && size <= JDB_LONG_LIMIT) return;
  if (d->sqlType == SQL_VARCHAR || d->sqlType == SQL_CHAR) d->sqlType = SQL_LONGVARCHAR;
  else if (d->sqlType == SQL_WVARCHAR || d->sqlType == SQL_WCHAR) d->sqlType = SQL_WLONGVARCHAR;
}

void ClearMessages(JStmt* s) { JDB_MsgFreeList(&s->msgs); }

// Whether the last message posted on the statement says the driver cannot
// do what was asked (as opposed to a real failure).
bool LastIsNotSupported(const JStmt* s) {
  const AgentMsg* last = nullptr;
  for (const AgentMsg* m = s->msgs.head; m != nullptr; m = m->next) last = m;
  if (last == nullptr || last->sqlstate == nullptr) return false;
  const char* st = last->sqlstate;
  return std::strncmp(st, "0A", 2) == 0 || std::strcmp(st, "HYC00") == 0 ||
         std::strcmp(st, "S1C00") == 0 || std::strcmp(st, "IM001") == 0;
}

// getMetaData of the prepared statement. A driver that cannot describe before
// execution (a feature-not-supported answer, or an unsupported operation) is
// told apart from a real failure, which is posted and returned.
int PreparedMetaData(JStmt* s, jobject* out, bool* unsupported) {
  *out = nullptr;
  *unsupported = false;
  JNIEnv* env = s->jni;
  if (JC_CallObject(env, s->stmt, mPsGetMetaData, out) == 0) return 0;
  *out = nullptr;
  if (!env->ExceptionCheck()) return KX_ERR_GENERAL;
  jthrowable ex = env->ExceptionOccurred();
  env->ExceptionClear();
  static const char* const kUnsupported[] = {"java/sql/SQLFeatureNotSupportedException",
                                             "java/lang/UnsupportedOperationException",
                                             "java/lang/AbstractMethodError"};
  for (const char* name : kUnsupported) {
    jclass cls = env->FindClass(name);
    if (cls == nullptr) {
      env->ExceptionClear();
      continue;
    }
    bool hit = env->IsInstanceOf(ex, cls);
    env->DeleteLocalRef(cls);
    if (hit) *unsupported = true;
  }
  if (*unsupported) {
    env->DeleteLocalRef(ex);
    return KX_ERR_GENERAL;
  }
  env->Throw(ex);
  env->DeleteLocalRef(ex);
  int status = CheckException(env, s->unicodeClient, &s->msgs);
  if (LastIsNotSupported(s)) *unsupported = true;
  return status != 0 ? status : KX_ERR_GENERAL;
}

void ReleaseMeta(JStmt* s) {
  if (s->resultMeta != nullptr && s->jni != nullptr) s->jni->DeleteGlobalRef(s->resultMeta);
  s->resultMeta = nullptr;
}

// Whether the last message says the server could not type the statement's
// parameter markers before values are bound (PostgreSQL: "operator is not
// unique: unknown + unknown", "could not determine data type of parameter").
bool LastIsUntypedMarkers(const JStmt* s) {
  const AgentMsg* last = nullptr;
  for (const AgentMsg* m = s->msgs.head; m != nullptr; m = m->next) last = m;
  if (last == nullptr || last->sqlstate == nullptr) return false;
  return std::strcmp(last->sqlstate, "42725") == 0 || std::strcmp(last->sqlstate, "42P18") == 0;
}

// Turns prepared describes off for the connection after a driver said it
// cannot do them; nothing is reported.
int PreparedDescribeUnsupported(JStmt* s) {
  s->conn->preparedDescribe = 0;
  ClearMessages(s);
  return 0;
}

// A description the JDBC driver offered for a prepared statement but could
// not give (SQLite's metadata of an INSERT names columns it does not have):
// no error of the prepare. The statement has no columns until it runs, and
// its result is described then.
int NoPreparedDescription(JStmt* s) {
  ClearMessages(s);
  JC_ClearException(s->jni);
  ReleaseMeta(s);
  JDB_FreeColumns(s);
  return 0;
}

}  // namespace

// Characters of the longest text of PostgreSQL's money type, with a
// currency sign and group separators.
constexpr int32_t kMoneyTextSize = 32;
// ODBC's default leading precision of an interval, and what an interval
// literal adds to its value's characters: the keyword, the quotes, the sign
// and the longest qualifier.
constexpr int32_t kIntervalLeadingPrecision = 2;
constexpr int32_t kIntervalLiteralExtra = 40;

int16_t JDB_DescribeType(const JConn* c, int32_t unicode, int32_t T, int32_t D, int32_t S,
                         int32_t P, const char* typeName, AgentColDesc* d) {
  const bool wide = WideClient(unicode);
  if (JDB_IsUuidTypeName(typeName)) {
    // A UUID, whatever code JDBC gives it (PostgreSQL OTHER, H2 BINARY):
    // a GUID, carried as its 36 characters of text, from which every form
    // the application asks for is made.
    d->sqlType = SQL_GUID;
    d->columnSize = d->displaySize = JDB_GUID_SIZE;
    d->decimalDigits = 0;
    d->storageType = RBT_CHAR_NTS;
    d->elementLength = JDB_GUID_SIZE;
    return static_cast<int16_t>(T);
  }
  if (const int code = IntervalCodeOfTypeName(typeName); code != 0) {
    // An interval whose type names its fields (H2's INTERVAL DAY TO SECOND):
    // that ODBC interval type, carried as the database's text of a value,
    // from which the interval and number forms are read. (PostgreSQL's
    // driver names every interval "interval", whatever fields a column
    // keeps, and one value may hold months and seconds at once, which no
    // single ODBC interval type holds: such a column stays character data,
    // which reads as any interval C type all the same.)
    const IntervalQualifier q = IntervalQualifierOf(code);
    const int32_t lead = P > 0 ? P : kIntervalLeadingPrecision;
    const int32_t seconds = q.trailing == IVF_SECOND ? (S > 0 ? S : 0) : 0;
    // The characters of the value's text by ODBC's column size: the leading
    // field's digits, then each trailing field with its separator, then the
    // fraction with its point.
    int64_t size = lead + 3 * (q.trailing - q.leading);
    if (seconds > 0) size += seconds + 1;
    d->sqlType = SQL_INTERVAL_YEAR + (code - SQL_IS_YEAR);
    d->columnSize = d->displaySize = Saturate(size);
    d->decimalDigits = static_cast<int16_t>(seconds);
    // Room for the database's own form of the text ("INTERVAL '-1 02:03:04'
    // DAY TO SECOND"), which is longer than the value alone.
    TextStorage(std::max<int64_t>(D, size + kIntervalLiteralExtra), false, d);
    return static_cast<int16_t>(T);
  }
  if (typeName != nullptr && std::strcmp(typeName, "money") == 0) {
    // PostgreSQL's money: its driver reads a value as a number only while
    // its text has no currency sign or group separators ("$1,000.00" fails
    // the fetch). Its text always reads: a character column of the longest
    // such text ("-$92,233,720,368,547,758.08").
    T = JT_VARCHAR;
    P = D = kMoneyTextSize;
  }
  const bool negPrecFix = c != nullptr && c->opts.negPrecFix != 0;
  const bool jet = c != nullptr && c->opts.jet != 0;
  const bool usable = negPrecFix ? P > 0 : P != 0;
  constexpr int32_t kOther = INT32_MIN;
  int32_t t = T;
  switch (T) {
    case JT_BLOB: t = SQL_LONGVARBINARY; break;
    case JT_CLOB: case JT_NCLOB: t = SQL_LONGVARCHAR; break;
    case JT_NCHAR: t = SQL_CHAR; break;
    case JT_NVARCHAR: t = SQL_VARCHAR; break;
    case JT_LONGNVARCHAR: t = SQL_LONGVARCHAR; break;
    case JT_BOOLEAN: t = SQL_BIT; break;
    case JT_DATALINK: t = SQL_VARCHAR; break;
    case JT_TIME_WITH_TIMEZONE: t = SQL_TYPE_TIME; break;
    case JT_TIMESTAMP_WITH_TIMEZONE: t = SQL_TYPE_TIMESTAMP; break;
    case JT_ROWID: t = kOther; break;  // not ODBC's wide CHAR, which has the same code
    case JT_BIT:
      // A BIT of more than one bit (PostgreSQL's bit(n)) is a string of
      // bits, which no boolean getter can read: its text.
      if (P > 1) t = SQL_VARCHAR;
      break;
    default: break;
  }
  if (wide) {
    if (t == SQL_LONGVARCHAR) t = SQL_WLONGVARCHAR;
    else if (t == SQL_CHAR) t = SQL_WCHAR;
    else if (t == SQL_VARCHAR) t = SQL_WVARCHAR;
  }
  const int16_t jdbcType = static_cast<int16_t>(t == kOther ? T : t);
  d->sqlType = t;
  d->columnSize = P;
  d->decimalDigits = static_cast<int16_t>(S);
  switch (t) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: {
      int64_t disp = D == 0 && c != nullptr ? c->opts.pnsosc : D;
      int64_t size = usable && P >= disp ? P : disp;
      if (const int32_t known = JDB_KnownTextSize(typeName);
          known > 0 && (size <= 0 || size > JDB_LONG_LIMIT)) {
        size = known;
      }
      d->columnSize = size > 0 ? Saturate(size) : INT32_MAX;
      d->decimalDigits = 0;
      d->displaySize = d->columnSize;
      TextStorage(size, t == SQL_WCHAR || t == SQL_WVARCHAR, d);
      LongWhenUnbounded(size, d);
      break;
    }
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_BIGINT: {
      int64_t size, disp, elem;
      if (usable) {
        size = P;
        disp = int64_t{P} + 2;
        elem = int64_t{P} + 2;
      } else {
        size = t == SQL_BIGINT ? int64_t{D} : int64_t{D} - 2;
        disp = D;
        elem = D;
      }
      // A decimal's text may come in exponent form (BigDecimal.toString of
      // 1E+309 or 1E-7): room for the sign, the point, "E", the exponent's
      // sign and ten digits besides the digits, or the text would be cut.
      if (t != SQL_BIGINT) elem += 12;
      d->columnSize = Saturate(size);
      d->displaySize = Saturate(disp);
      if (elem <= 0 || elem > JDB_LONG_LIMIT) {
        d->storageType = RBT_CHAR_PTR;
        d->elementLength = 0;
      } else {
        d->storageType = RBT_CHAR_NTS;
        d->elementLength = static_cast<int32_t>(elem);
      }
      if (t == SQL_BIGINT) {
        // Nineteen digits and a sign, whatever the driver counts (H2: 64 bits).
        d->columnSize = JDB_FixedColumnSize(SQL_BIGINT);
        d->displaySize = d->columnSize + 1;
        d->decimalDigits = 0;
      }
      if (t == SQL_BIGINT && jet) d->sqlType = SQL_NUMERIC;
      break;
    }
    case SQL_BIT: d->displaySize = 3; d->storageType = RBT_BIT; d->elementLength = 1; break;
    case SQL_TINYINT: d->displaySize = 4; d->storageType = RBT_SSHORT; d->elementLength = 2; break;
    case SQL_SMALLINT: d->displaySize = 6; d->storageType = RBT_SSHORT; d->elementLength = 2; break;
    case SQL_INTEGER: d->displaySize = 11; d->storageType = RBT_SLONG; d->elementLength = 4; break;
    case SQL_REAL: d->displaySize = 13; d->storageType = RBT_FLOAT; d->elementLength = 4; break;
    case SQL_FLOAT: case SQL_DOUBLE:
      d->displaySize = 22;
      d->storageType = RBT_DOUBLE;
      d->elementLength = 8;
      break;
    case SQL_LONGVARCHAR:
      d->columnSize = d->displaySize = 2147483643;
      d->storageType = RBT_CHAR_PTR;
      d->elementLength = 0;
      break;
    case SQL_WLONGVARCHAR:
      d->columnSize = d->displaySize = 1073741821;
      d->storageType = RBT_WCHAR_PTR;
      d->elementLength = 0;
      break;
    case SQL_LONGVARBINARY:
      d->columnSize = d->displaySize = 2147483643;
      d->storageType = RBT_BINARY_PTR;
      d->elementLength = 0;
      break;
    case SQL_BINARY: case SQL_VARBINARY: {
      // The precision is the byte count; the display size only stands in when
      // it is unknown (two hex digits a byte). A display size that is not hex
      // (H2 shows a 16-byte UUID as 36 characters) must not widen the column.
      int64_t b = P > 0 ? int64_t{P} : int64_t{D / 2};
      d->columnSize = b > 0 ? Saturate(b) : INT32_MAX;
      d->displaySize = Saturate(b > 0 ? 2 * b : int64_t{INT32_MAX});
      if (b <= 0 || b > JDB_LONG_LIMIT) {
        d->storageType = RBT_BINARY_PTR;
        d->elementLength = 0;
      } else {
        // Counted storage for fixed binary too: the length getBytes gives is
        // the value's, so a shorter value is neither padded nor mixed with
        // the bytes of an earlier row.
        d->storageType = RBT_BINARY_LEN4;
        d->elementLength = static_cast<int32_t>(b);
      }
      if (b <= 0 || b > JDB_LONG_LIMIT) d->sqlType = SQL_LONGVARBINARY;
      break;
    }
    case SQL_DATE: case SQL_TYPE_DATE:
      d->sqlType = SQL_DATE;
      d->columnSize = d->displaySize = 10;
      d->storageType = RBT_DATE;
      d->elementLength = 6;
      break;
    case SQL_TIME: case SQL_TYPE_TIME:
      d->sqlType = SQL_TIME;
      d->columnSize = d->displaySize = S > 0 ? S + 9 : 8;
      d->decimalDigits = static_cast<int16_t>(S > 0 ? S : 0);
      d->storageType = RBT_TIME;
      // A time with fractional seconds keeps them after the structure.
      d->elementLength = static_cast<int32_t>(S > 0 ? RB_TIME_FRACTION_WIDTH : RB_TIME_WIDTH);
      break;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP:
      d->sqlType = SQL_TIMESTAMP;
      d->columnSize = d->displaySize = S > 0 ? S + 20 : 19;
      d->decimalDigits = static_cast<int16_t>(S > 0 ? S : 0);
      d->storageType = RBT_TIMESTAMP;
      d->elementLength = 16;
      break;
    default: {
      // Types ODBC has no code for are delivered as their text. An array's
      // or a structure's text has no width the database vouches for
      // (PostgreSQL gives an integer array the precision of one integer):
      // no known size, so long storage keeps every value whole.
      const bool composite = T == JT_STRUCT || T == JT_ARRAY;
      int64_t size = composite ? 0 : P > 0 ? int64_t{P} : int64_t{D};
      d->sqlType = wide ? SQL_WVARCHAR : SQL_VARCHAR;
      d->columnSize = size > 0 ? Saturate(size) : INT32_MAX;
      d->decimalDigits = 0;
      d->displaySize = d->columnSize;
      TextStorage(size, wide, d);
      LongWhenUnbounded(size, d);
      break;
    }
  }
  // The fixed-size numbers by ODBC's sizes, in decimal digits, and without
  // decimal digits of their own (PostgreSQL gives a double 17).
  if (const int32_t fixed = JDB_FixedColumnSize(d->sqlType); fixed > 0) {
    d->columnSize = fixed;
    d->decimalDigits = 0;
  }
  return jdbcType;
}

int JDB_StmtEnter(AgentHandle h, JStmt** out) {
  *out = JDB_FindStmt(h);
  if (*out == nullptr) return KX_ERR_BAD_ARGUMENT;
  (*out)->jni = JVM_AttachThread();
  return (*out)->jni == nullptr ? KX_ERR_GENERAL : 0;
}

void JDB_FreeColumns(JStmt* s) {
  if (s->cols != nullptr) RB_FreeColDescs(s->cols, s->colCount);
  std::free(s->colJdbcTypes);
  s->cols = nullptr;
  s->colJdbcTypes = nullptr;
  s->colCount = 0;
  s->flags &= static_cast<uint16_t>(~JS_DESCRIBED);
}

void JDB_StmtCloseResults(JStmt* s) {
  s->flags &= static_cast<uint16_t>(~(JS_RESULTS | JS_END | JS_RSOPEN));
  s->rowsFetched = 0;
  JDB_DropDeferredFailure(s);
  s->redirectCol = -1;
  s->catalogKind = 0;
  s->columnCap = -1;
  std::vector<TypeListRow>().swap(s->typeRows);
  s->typeRowNext = 0;
  std::free(s->procName);
  s->procName = nullptr;
  JDB_DropReadAhead(s);
  if (s->resultSet != nullptr) {
    JC_ResultSet_close(s, s->resultSet);
    JC_ClearException(s->jni);
    s->jni->DeleteGlobalRef(s->resultSet);
    s->resultSet = nullptr;
  }
  JDB_StreamEnd(s, false);
  ReleaseMeta(s);
}

std::mutex& JDB_StmtRefLock() {
  static std::mutex m;
  return m;
}

void JDB_StmtReset(JStmt* s) {
  JDB_StmtCloseResults(s);
  s->flags &= static_cast<uint16_t>(~(JS_PREPARED | JS_CALL | JS_DESCRIBED | JS_PREPARED_ROWS | JS_ROW_BY_ROW |
                                      JS_COUNTED_ROWS));
  s->flags |= JS_PARAMS_DUE;
  s->executions = 0;
  s->returnJdbcType = 0;
  s->returnTypeAsked = 0;
  s->outputJdbcTypes.clear();
  s->outputTypesAsked = false;
  JDB_FreeColumns(s);
  std::free(s->params);
  s->params = nullptr;
  s->paramCount = 0;
  s->probed = 0;
  s->paramFractionDigits.clear();
  s->paramFractionAsked = false;
  if (s->stmt != nullptr) {
    // A plain Statement has no clearParameters: only a prepared one is cleared.
    jclass ps = s->jni->FindClass("java/sql/PreparedStatement");
    if (ps != nullptr && s->jni->IsInstanceOf(s->stmt, ps)) {
      JC_PreparedStatement_clearParameters(s, s->stmt);
    }
    JC_ClearException(s->jni);
    if (ps != nullptr) s->jni->DeleteLocalRef(ps);
    JC_Statement_close(s, s->stmt);
    JC_ClearException(s->jni);
    std::lock_guard<std::mutex> guard(JDB_StmtRefLock());
    s->jni->DeleteGlobalRef(s->stmt);
    s->stmt = nullptr;
  }
  JDB_ParsedSqlFree(&s->parsed);
}

void JDB_StmtDestroy(JStmt* s) {
  JDB_StmtReset(s);
  if (s->paramRows != nullptr) {
    RB_Free(s->paramRows);
    std::free(s->paramRows);
  }
  std::free(s->paramInfos);
  std::free(s->cursorName);
  if (s->rowBlock != nullptr && s->jni != nullptr) s->jni->DeleteGlobalRef(s->rowBlock);
  s->rowBlock = nullptr;
  if (s->legacyTemporalOf != nullptr && s->jni != nullptr) s->jni->DeleteWeakGlobalRef(s->legacyTemporalOf);
  s->legacyTemporalOf = nullptr;
  JDB_MsgFreeList(&s->msgs);
  JDB_MsgFreeList(&s->deferredMsgs);
  delete s;
}

int32_t DRV_AllocStmt(AgentHandle ch, AgentHandle* out) {
  if (out != nullptr) *out = 0;
  JConn* c = JDB_FindConn(ch);
  if (c == nullptr || out == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (JDB_BrokerKnown == 0) {
    JDB_MsgAddCode(&c->msgs, KX_ERR_NEWER_BROKER);
    return KX_ERR_NEWER_BROKER;
  }
  JNIEnv* env = JVM_AttachThread();
  if (env == nullptr) return KX_ERR_GENERAL;
  JStmt* s = new (std::nothrow) JStmt{};
  if (s == nullptr) return KX_ERR_NOMEM;
  JFrame frame(env, JDB_FRAME_SMALL);
  s->conn = c;
  s->unicodeClient = c->unicodeClient;
  s->redirectCol = -1;
  s->catalogKind = 0;
  s->columnCap = -1;
  s->jni = env;
  s->maxRows = c->opts.maxRows;
  uint32_t handle = 0;
  int status = HT_Alloc(&JDB_StmtTable, &handle, s);
  if (status != 0) {
    // The table is full (65535 statements) or memory ran out: say which.
    JDB_MsgAddCode(&c->msgs, status);
    delete s;
    return status;
  }
  s->handle = handle;
  s->cursor.agentConn = c->handle;
  s->cursor.agentStmt = handle;
  s->cursor.rowsetSize = 1;
  s->cursor.rowCount = -1;
  s->cursor.concurrency = 1;
  s->cursor.retrieveData = 1;
  s->cursor.optimisticMode = 1;
  *out = handle;
  return 0;
}

int32_t DRV_FreeStmt(AgentHandle h) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  {
    JFrame frame(s->jni, JDB_FRAME_SMALL);
    JDB_FinishPendingRows(s);  // a failure has nobody left to hear it: logged
    HT_Release(&JDB_StmtTable, h);
    JDB_StmtDestroy(s);
  }
  return 0;
}

int32_t DRV_CloseCursor(AgentHandle h) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  const int status = JDB_FinishPendingRows(s);
  JDB_StmtCloseResults(s);
  return status;
}

int32_t DRV_GetCursorName(AgentHandle h, char* buffer, int32_t size, uint16_t* length) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  if ((s->flags & JS_RESULTS) == 0) return KX_ERR_SEQUENCE;
  if (s->resultSet == nullptr) return 0;
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  uint32_t capacity = size < 0 ? 0 : static_cast<uint32_t>(size > 0xFFFF ? 0xFFFF : size);
  return JC_ResultSet_getCursorName(s, s->resultSet, buffer, capacity, length);
}

int32_t DRV_SetCursorName(AgentHandle h, const char* name) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  if (s->stmt == nullptr) {
    // Kept until the next prepare makes the Java statement.
    char* copy = strdup(name != nullptr ? name : "");
    if (copy == nullptr) return KX_ERR_NOMEM;
    std::free(s->cursorName);
    s->cursorName = copy;
    return 0;
  }
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  if (!frame.ok()) return KX_ERR_NOMEM;
  return JC_Statement_setCursorName(s, s->stmt, name);
}

int32_t DRV_DescribeCols(AgentHandle h, uint16_t* count, AgentColDesc** cols) {
  if (count != nullptr) *count = 0;
  JStmt* s = JDB_FindStmt(h);
  if (s == nullptr) return KX_ERR_BAD_ARGUMENT;
  uint16_t n = s->colCount;
  if (cols != nullptr) {
    AgentColDesc* copy = RB_AllocColDescs(n);
    if (copy == nullptr) return KX_ERR_NOMEM;
    for (uint16_t i = 0; i < n; ++i) {
      copy[i] = s->cols[i];
      copy[i].catalog = copy[i].schema = copy[i].table = copy[i].label = nullptr;
      const AgentColDesc& src = s->cols[i];
      char** dst[4] = {&copy[i].catalog, &copy[i].schema, &copy[i].table, &copy[i].label};
      const char* from[4] = {src.catalog, src.schema, src.table, src.label};
      for (int k = 0; k < 4; ++k) {
        if (from[k] == nullptr) continue;
        *dst[k] = strdup(from[k]);
        if (*dst[k] == nullptr) {
          RB_FreeColDescs(copy, n);
          return KX_ERR_NOMEM;
        }
      }
    }
    *cols = copy;
  }
  if (count != nullptr) *count = n;
  return 0;
}

int32_t DRV_DescribeParams(AgentHandle h, uint16_t* count, AgentColDesc** params) {
  if (count != nullptr) *count = 0;
  JStmt* s = JDB_FindStmt(h);
  if (s == nullptr) return KX_ERR_BAD_ARGUMENT;
  uint16_t n = s->paramCount;
  if (params != nullptr) {
    AgentColDesc* copy = RB_AllocColDescs(n);
    if (copy == nullptr) return KX_ERR_NOMEM;
    if (n > 0) std::memcpy(copy, s->params, sizeof(AgentColDesc) * n);
    *params = copy;
  }
  if (count != nullptr) *count = n;
  return 0;
}

int JDB_InitParamDescs(JStmt* s) {
  std::free(s->params);
  s->params = nullptr;
  s->paramCount = 0;
  uint16_t n = s->parsed.paramCount;
  if (n == 0) return 0;
  AgentColDesc* p = static_cast<AgentColDesc*>(std::calloc(n, sizeof(AgentColDesc)));
  if (p == nullptr) return KX_ERR_NOMEM;
  for (uint16_t i = 0; i < n; ++i) {
    if ((s->flags & JS_CALL) != 0) std::strcpy(p[i].name, "*B");
    p[i].sqlType = 12;
    p[i].flags = 2;
    p[i].columnSize = 255;
    p[i].displaySize = 255;
    p[i].storageType = RBT_CHAR_NTS;
    p[i].elementLength = 255 * 4;  // room for 255 characters of UTF-8, never a 0-width element
  }
  s->params = p;
  s->paramCount = n;
  return 0;
}

int JDB_DescribeResults(JStmt* s, char mode) {
  JConn* c = s->conn;
  jobject meta = nullptr;
  if (mode == 'P') {
    // The statement is only described here; it runs at each execution.
    if (c->preparedDescribe == 0) return 0;
    bool unsupported = false;
    int status = PreparedMetaData(s, &meta, &unsupported);
    if (status != 0 && unsupported) return PreparedDescribeUnsupported(s);
    if (status != 0 && s->parsed.paramCount > 0 && LastIsUntypedMarkers(s)) {
      // The bound values give the markers their types: the statement runs,
      // and its result is described once it exists.
      ClearMessages(s);
      return 0;
    }
    if (status != 0) return status;
    if (meta == nullptr) {
      // No description before execution: the result is described when it exists.
      if (s->parsed.kind == PSQL_KIND_SELECT) c->preparedDescribe = 0;
      return 0;
    }
  } else {
    if (s->resultSet == nullptr) return 0;
    if (int status = JC_ResultSet_getMetaData(s, s->resultSet, &meta); status != 0) return status;
    if (meta == nullptr) return 0;
  }
  ReleaseMeta(s);
  s->resultMeta = s->jni->NewGlobalRef(meta);
  s->jni->DeleteLocalRef(meta);
  if (s->resultMeta == nullptr) {
    JC_ClearException(s->jni);
    return KX_ERR_NOMEM;
  }
  int32_t n = 0;
  if (int status = JC_ResultSetMetaData_getColumnCount(s, s->resultMeta, &n); status != 0) {
    if (mode == 'P' && LastIsNotSupported(s)) return PreparedDescribeUnsupported(s);
    if (mode == 'P') return NoPreparedDescription(s);
    return status;
  }
  JDB_FreeColumns(s);
  if (n <= 0) return 0;
  if (n > 0xFFFF) {
    JDB_MsgAddText(&s->msgs, "Too many result columns", KX_ERR_GENERAL);
    return KX_ERR_GENERAL;
  }
  uint16_t count = static_cast<uint16_t>(n);
  AgentColDesc* cols = RB_AllocColDescs(count);
  int16_t* types = static_cast<int16_t*>(std::calloc(count, sizeof(int16_t)));
  if (cols == nullptr || types == nullptr) {
    if (cols != nullptr) RB_FreeColDescs(cols, count);
    std::free(types);
    return KX_ERR_NOMEM;
  }
  for (uint16_t i = 0; i < count; ++i) {
    int32_t col = i + 1;
    int32_t T = 0, D = 0, S = 0, P = 0, nullable = 2;
    uint8_t ro = 0, wr = 0;
    char* label = nullptr;
    int status = JC_ResultSetMetaData_getColumnType(s, s->resultMeta, col, &T);
    if (status == 0) status = JC_ResultSetMetaData_getColumnDisplaySize(s, s->resultMeta, col, &D);
    if (status == 0 && JC_ResultSetMetaData_getScale(s, s->resultMeta, col, &S) != 0) {
      ClearMessages(s);
      S = 0;
    }
    if (status == 0) status = JC_ResultSetMetaData_isNullable(s, s->resultMeta, col, &nullable);
    if (status == 0) status = JC_ResultSetMetaData_isReadOnly(s, s->resultMeta, col, &ro);
    if (status == 0) status = JC_ResultSetMetaData_isWritable(s, s->resultMeta, col, &wr);
    if (status == 0 && JC_ResultSetMetaData_getPrecision(s, s->resultMeta, col, &P) != 0) {
      ClearMessages(s);
      P = 0;
    }
    if (status == 0) status = JC_ResultSetMetaData_getColumnLabel(s, s->resultMeta, col, &label);
    if (status == 0 && label == nullptr) status = KX_ERR_NOMEM;
    if (status != 0) {
      std::free(label);
      RB_FreeColDescs(cols, count);
      std::free(types);
      return mode == 'P' && status != KX_ERR_NOMEM ? NoPreparedDescription(s) : status;
    }
    // The type's name tells what its code does not: a UUID (PostgreSQL
    // OTHER, H2 BINARY), an unbounded text that is an identifier, or a
    // money value PostgreSQL's driver calls a double.
    char* typeName = nullptr;
    if (T == JT_OTHER || T == JT_BINARY || T == JT_DOUBLE ||
        (T == JT_VARCHAR && (P <= 0 || P > static_cast<int32_t>(JDB_LONG_LIMIT)))) {
      if (JC_ResultSetMetaData_getColumnTypeName(s, s->resultMeta, col, &typeName) != 0) {
        JC_ClearException(s->jni);
        ClearMessages(s);
        std::free(typeName);
        typeName = nullptr;
      }
    }
    AgentColDesc& d = cols[i];
    size_t len = std::strlen(label);
    size_t cut = len > 40 ? 40 : len;
    // Cut on a character boundary so that the short name stays valid UTF-8.
    while (cut > 0 && cut < len && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
    StrCopyBytes(d.name, label, cut);
    d.label = label;
    types[i] = JDB_DescribeType(c, s->unicodeClient, T, D, S, P, typeName, &d);
    std::free(typeName);
    const uint32_t upd = ro ? SQL_ATTR_READONLY : (wr ? SQL_ATTR_WRITE : SQL_ATTR_READWRITE_UNKNOWN);
    d.flags = (static_cast<uint32_t>(nullable) & COLDESC_NULLABLE_MASK) | ((upd + 1) << COLDESC_UPDATABLE_SHIFT);
  }
  s->cols = cols;
  s->colJdbcTypes = types;
  s->colCount = count;
  s->flags |= JS_DESCRIBED;
  return 0;
}

// ---- column attributes ------------------------------------------------------------

namespace {

// The connection's type map, read from the driver's type information the
// first time a type is looked up (a map that could not be read stays empty).
const TypeInfoEntry* TypeEntry(JConn* c, int32_t sqlType) {
  if (c == nullptr) return nullptr;
  if (c->typeMap == nullptr) c->typeMap = JDB_LoadTypeMap(c->handle, c);
  if (c->typeMap == nullptr) return nullptr;
  int16_t key = JDB_TypeMapKey(sqlType);
  return reinterpret_cast<const TypeInfoEntry*>(HashGet(c->typeMap, &key));
}

// The template of the attributes delivered for every column. Searchability
// is worked out but not delivered (its id negative); the key-column and
// derived-column attributes are left for the cursor layer.
const ValueRec kColAttrTemplate[] = {
    {0, SQL_DESC_AUTO_UNIQUE_VALUE, VAL_INT, {.i32 = 0}},
    {0, SQL_DESC_CASE_SENSITIVE, VAL_INT, {.i32 = 0}},
    {0, -SQL_DESC_SEARCHABLE, VAL_INT, {.i32 = 0}},
    {0, SQL_DESC_UPDATABLE, VAL_INT, {.i32 = SQL_ATTR_READWRITE_UNKNOWN}},
    {0, SQL_DESC_TYPE_NAME, VAL_TEXT, {.text = nullptr}},
    {0, SQL_DESC_LITERAL_PREFIX, VAL_TEXT, {.text = nullptr}},
    {0, SQL_DESC_LITERAL_SUFFIX, VAL_TEXT, {.text = nullptr}},
    {0, COLATTR_KEY_COLUMN, VAL_INT, {.i32 = 0}},
    {0, SQL_DESC_ROWVER, VAL_INT, {.i32 = 0}},
    {0, COLATTR_DERIVED_COLUMN, VAL_INT, {.i32 = 0}},
};
constexpr uint32_t kColAttrCount = std::size(kColAttrTemplate);

bool IsBinaryType(int16_t t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// What a searchable column allows: long types only LIKE, the rest every predicate.
int32_t SearchableAs(int16_t t) {
  return (t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_LONGVARBINARY) ? SQL_PRED_CHAR
                                                                                   : SQL_PRED_SEARCHABLE;
}

int SetText(ValueRec* rec, const char* text) {
  rec->value.text = strdup(text != nullptr ? text : "");
  return rec->value.text == nullptr ? KX_ERR_NOMEM : 0;
}

}  // namespace

const char* JDB_TypeMapName(JConn* c, int32_t sqlType) {
  const TypeInfoEntry* e = TypeEntry(c, sqlType);
  return e != nullptr ? e->typeName : "";
}

const char* JDB_TypeMapLiteral(JConn* c, int32_t sqlType, int suffix) {
  const TypeInfoEntry* e = TypeEntry(c, sqlType);
  if (e == nullptr) return "";
  return suffix ? e->suffix : e->prefix;
}

int JDB_ColAttribute(JStmt* s, ValueRec* rec, int32_t sqlType) {
  const int32_t col = rec->column;
  const bool haveMeta = s->resultMeta != nullptr;
  const bool catalog = s->catalogKind != 0;
  const int16_t t = static_cast<int16_t>(sqlType);
  uint8_t b = 0;
  int status = 0;
  switch (rec->attrId) {
    case SQL_DESC_AUTO_UNIQUE_VALUE:
      rec->value.i32 = 0;
      if (haveMeta && !catalog) {
        status = JC_ResultSetMetaData_isAutoIncrement(s, s->resultMeta, col, &b);
        rec->value.i32 = b ? 1 : 0;
      }
      break;
    case SQL_DESC_CASE_SENSITIVE:
      rec->value.i32 = 0;
      if (catalog) {
        rec->value.i32 = JDB_IsCharacterType(t) ? SQL_TRUE : SQL_FALSE;
      } else if (haveMeta) {
        status = JC_ResultSetMetaData_isCaseSensitive(s, s->resultMeta, col, &b);
        rec->value.i32 = b ? SQL_TRUE : SQL_FALSE;
      }
      break;
    case -SQL_DESC_SEARCHABLE: {
      bool searchable = false;
      if (catalog) {
        searchable = !IsBinaryType(t);
      } else if (haveMeta) {
        status = JC_ResultSetMetaData_isSearchable(s, s->resultMeta, col, &b);
        searchable = b != 0;
      }
      rec->value.i32 = searchable ? SearchableAs(t) : SQL_PRED_NONE;
      break;
    }
    case SQL_DESC_UPDATABLE:
      if (!haveMeta) {
        rec->value.i32 = SQL_ATTR_READWRITE_UNKNOWN;
      } else if (catalog) {
        rec->value.i32 = SQL_ATTR_READONLY;
      } else {
        status = JC_ResultSetMetaData_isWritable(s, s->resultMeta, col, &b);
        if (status == 0 && b) {
          rec->value.i32 = SQL_ATTR_WRITE;
        } else if (status == 0) {
          status = JC_ResultSetMetaData_isReadOnly(s, s->resultMeta, col, &b);
          rec->value.i32 = b ? SQL_ATTR_READONLY : SQL_ATTR_READWRITE_UNKNOWN;
        }
      }
      break;
    case SQL_DESC_TYPE_NAME: {
      // The database's own name of the column's type ("varchar", "serial"):
      // the type map's name for the ODBC type is only the first type the
      // database lists for it (PostgreSQL's first VARCHAR type is "name").
      // Catalog results, and BIGINT shown as NUMERIC, keep the map's name.
      char* own = nullptr;
      const bool mapped = s->conn->opts.jet != 0 && t == SQL_NUMERIC;
      const int rc = haveMeta && !catalog && !mapped
                         ? JC_ResultSetMetaData_getColumnTypeName(s, s->resultMeta, col, &own)
                         : -1;
      if (rc == 0 && own != nullptr && own[0] != '\0') {
        rec->value.text = own;
        break;
      }
      std::free(own);
      if (rc > 0) {
        // A driver without the name: the map's, and no message for it.
        JC_ClearException(s->jni);
        JDB_MsgFreeList(&s->msgs);
      }
      status = SetText(rec, JDB_TypeMapName(s->conn, sqlType));
      break;
    }
    case SQL_DESC_LITERAL_PREFIX: status = SetText(rec, JDB_TypeMapLiteral(s->conn, sqlType, 0)); break;
    case SQL_DESC_LITERAL_SUFFIX: status = SetText(rec, JDB_TypeMapLiteral(s->conn, sqlType, 1)); break;
    case SQL_DESC_ROWVER: rec->value.i32 = 0; break;
    case COLATTR_KEY_COLUMN: case COLATTR_DERIVED_COLUMN: rec->attrId = static_cast<int16_t>(-rec->attrId); break;
    default: break;
  }
  return status;
}

int32_t DRV_DescribeColsEx(AgentHandle h, uint16_t* count, int16_t* attrCount,
                           AgentColDesc** cols, ValueRec** attrs) {
  if (count == nullptr || attrCount == nullptr || cols == nullptr || attrs == nullptr) {
    return KX_ERR_BAD_ARGUMENT;
  }
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  *count = 0;
  *attrCount = 0;
  *cols = nullptr;
  *attrs = nullptr;
  if (int status = DRV_DescribeCols(h, count, cols); status != 0) return status;
  const uint32_t n = *count;
  const uint32_t total = kColAttrCount * (n + 1);
  ValueRec* recs = total <= 0xFFFF
                       ? static_cast<ValueRec*>(std::calloc(total, sizeof(ValueRec)))
                       : nullptr;
  if (recs == nullptr) {
    RB_FreeColDescs(*cols, *count);
    *cols = nullptr;
    *count = 0;
    return total <= 0xFFFF ? KX_ERR_NOMEM : KX_ERR_GENERAL;
  }
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  int status = frame.ok() ? 0 : KX_ERR_NOMEM;
  uint32_t k = 0;
  for (uint32_t row = 0; row < kColAttrCount && status == 0; ++row) {
    recs[k++] = kColAttrTemplate[row];
    for (uint32_t c = 1; c <= n && status == 0; ++c) {
      ValueRec& r = recs[k++];
      r = kColAttrTemplate[row];
      r.column = static_cast<uint16_t>(c);
      status = JDB_ColAttribute(s, &r, (*cols)[c - 1].sqlType);
    }
  }
  uint16_t kept = 0;
  ValueRec* out = nullptr;
  if (status == 0) status = VAL_CollectDistinct(static_cast<uint16_t>(k), recs, &kept, &out, VAL_COPY_DUP);
  for (uint32_t i = 0; i < k; ++i) {
    if (recs[i].kind == VAL_TEXT) std::free(recs[i].value.text);
  }
  std::free(recs);
  if (status != 0) {
    RB_FreeColDescs(*cols, *count);
    *cols = nullptr;
    *count = 0;
    return status;
  }
  *attrCount = static_cast<int16_t>(kept);
  *attrs = out;
  return 0;
}

bool JDB_IsCharacterType(int32_t t) {
  return t == SQL_WLONGVARCHAR || t == SQL_WVARCHAR || t == SQL_WCHAR || t == SQL_LONGVARCHAR ||
         t == SQL_CHAR || t == SQL_VARCHAR;
}

}  // namespace kx
