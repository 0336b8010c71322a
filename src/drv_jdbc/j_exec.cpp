#include "drv_jdbc/j_exec.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_batch.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_meta.h"
#include "drv_jdbc/j_params.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "drv_jdbc/j_stream.h"
#include "scrs/sql_paramdesc.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {


bool HasParams(const JStmt* s) { return s->paramCount > 0; }

// Rows of the parameter block to run; 1 without parameters.
int32_t RowsToRun(const JStmt* s) {
  if (!HasParams(s) || s->paramRows == nullptr) return 1;
  return s->paramRows->rowCount;
}

// A plain Statement was made for a text without markers (inside escapes or
// out) that is neither a query nor a data change nor a call; it gets its
// text at execution.
bool IsPlainStatement(const JStmt* s) {
  return s->parsed.kind == PSQL_KIND_OTHER && s->parsed.paramCount == 0 &&
         (s->parsed.flags & PSQL_ROWS_KEYWORD) == 0 && (s->flags & JS_CALL) == 0;
}

// Whether each execution returns rows: a query, a statement whose first word
// says so, or one the prepare described with result columns. A call escape
// runs its parameter rows as before (its outputs come row by row anyway).
bool ReturnsRows(const JStmt* s) {
  if ((s->flags & JS_CALL) != 0) return false;
  return s->parsed.kind == PSQL_KIND_SELECT || (s->parsed.flags & PSQL_ROWS_KEYWORD) != 0 ||
         (s->flags & JS_PREPARED_ROWS) != 0;
}

// Keeps a new result set (local reference), releasing one held before.
int KeepResultSet(JStmt* s, jobject rs) {
  JDB_DropReadAhead(s);
  if (s->resultSet != nullptr) {
    JC_ResultSet_close(s, s->resultSet);
    JC_ClearException(s->jni);
    s->jni->DeleteGlobalRef(s->resultSet);
    s->resultSet = nullptr;
  }
  s->resultSet = s->jni->NewGlobalRef(rs);
  s->resultSized = 0;
  s->jni->DeleteLocalRef(rs);
  if (s->resultSet == nullptr) {
    JC_ClearException(s->jni);
    return KX_ERR_NOMEM;
  }
  return 0;
}

}  // namespace

namespace {

// Settings every Java statement of a prepare takes: the cursor name set
// before it existed, the rows read per round trip, the time limit.
int SetUpStatement(JStmt* s) {
  if (s->stmt == nullptr) return KX_ERR_GENERAL;
  if (s->cursorName != nullptr) {
    // A name set before the statement existed applies to it now.
    if (int status = JC_Statement_setCursorName(s, s->stmt, s->cursorName); status != 0) return status;
  }
  // Rows the JDBC driver reads from the database at a time: a driver that
  // can stream a result (PostgreSQL's outside autocommit) then holds one
  // such block of a large result rather than all of it. A driver that
  // refuses the hint reads as it would anyway.
  JC_Statement_setFetchSize(s, s->stmt, JDB_FETCH_ROWS);
  if (s->queryTimeout > 0) return JC_Statement_setQueryTimeout(s, s->stmt, s->queryTimeout);
  return 0;
}

bool LastStateIs(const JStmt* s, const char* state) {
  const AgentMsg* last = nullptr;
  for (const AgentMsg* m = s->msgs.head; m != nullptr; m = m->next) last = m;
  return last != nullptr && last->sqlstate != nullptr && std::strcmp(last->sqlstate, state) == 0;
}

// "{call f(args)}" as the query "SELECT * FROM f(args)": how a routine that
// is a function, not a procedure, is called on a database whose CALL takes
// procedures only. Empty when the text is not one such escape alone.
std::string FunctionCallText(const char* text) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
  const char* p = text;
  while (blank(*p)) ++p;
  if (*p++ != '{') return {};
  while (blank(*p)) ++p;
  if (strncasecmp(p, "call", 4) != 0 || !blank(p[4])) return {};
  p += 4;
  while (blank(*p)) ++p;
  const char* end = std::strrchr(p, '}');
  if (end == nullptr) return {};
  for (const char* q = end + 1; *q != '\0'; ++q) {
    if (!blank(*q)) return {};
  }
  return "SELECT * FROM " + std::string(p, static_cast<size_t>(end - p));
}

// Closes and forgets the statement's Java statement (and its messages): the
// text is about to be prepared again in another form.
void DropJavaStatement(JStmt* s) {
  JDB_MsgFreeList(&s->msgs);
  JC_Statement_close(s, s->stmt);
  JC_ClearException(s->jni);
  {
    std::lock_guard<std::mutex> guard(JDB_StmtRefLock());
    s->jni->DeleteGlobalRef(s->stmt);
    s->stmt = nullptr;
  }
}

// The call escape named a function where the database calls only
// procedures (PostgreSQL: 42809, "f(...) is not a procedure"): the
// statement becomes the query over the function, prepared and described.
int PrepareAsFunction(JStmt* s, const std::string& query) {
  DropJavaStatement(s);
  s->flags &= static_cast<uint16_t>(~JS_CALL);
  s->parsed.flags &= static_cast<uint16_t>(~PSQL_CALL);
  s->parsed.kind = PSQL_KIND_SELECT;
  char* copy = strdup(query.c_str());
  if (copy == nullptr) return KX_ERR_NOMEM;
  std::free(s->parsed.text);
  s->parsed.text = copy;
  if (int status = JC_Connection_prepareStatement(s, s->conn->conn, copy); status != 0) return status;
  if (int status = SetUpStatement(s); status != 0) return status;
  return JDB_DescribeResults(s, 'P');
}

// A data change the prepare described with result columns (RETURNING) on
// PostgreSQL: its JDBC driver reports no update count for a result of rows,
// but gives the count first and the rows as generated keys to a statement
// prepared for them (it keeps the statement's own RETURNING list). Those
// rows are read whole at execution: they are bounded by the rows the
// statement changed, and the database holds them all before it sends the
// first anyway.
int PrepareCounted(JStmt* s, const char* text) {
  DropJavaStatement(s);
  if (int status = JC_Connection_prepareStatementCounted(s, s->conn->conn, text); status != 0) return status;
  if (int status = SetUpStatement(s); status != 0) return status;
  // A fetch size would have the driver read the rows through a cursor,
  // and the count come only after the last of them.
  JC_Statement_setFetchSize(s, s->stmt, 0);
  s->flags |= JS_COUNTED_ROWS;
  return 0;
}

}  // namespace

int32_t DRV_Prepare(AgentHandle h, const char* sql) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  s->cancelAsked.store(false);  // a new run: an earlier SQLCancel is not its
  JFrame frame(s->jni, JDB_FRAME_LARGE);
  if (!frame.ok()) return KX_ERR_NOMEM;
  JDB_StmtReset(s);
  if (int status = JDB_ParseSql(&s->parsed, sql, JDB_ConnDialect(s->conn)); status != 0) return status;
  JConn* c = s->conn;
  if (s->parsed.kind != PSQL_KIND_SELECT && c->readOnly != 0) {
    LogAt(LOG_DEBUG, __FILE__, __LINE__, "Non SELECT in r/o connection");
    return KX_ERR_READONLY_SELECT_ONLY;
  }
  const char* text = s->parsed.text != nullptr ? s->parsed.text : "";
  int status = 0;
  bool describe = true;
  bool callWithoutReturn = false;
  if ((s->parsed.flags & PSQL_CALL) != 0) {
    status = JC_Connection_prepareCall(s, c->conn, text);
    if (status == 0) s->flags |= JS_CALL;
    // The return value is an output the JDBC driver must know of before it can
    // describe the call (PostgreSQL otherwise sends it as an argument, and the
    // failed describe would abort an open transaction). Outputs are registered
    // at binding, so such a call is described once it has run.
    if (JDB_HasReturnMarker(s)) {
      describe = false;
    } else {
      callWithoutReturn = true;
    }
  } else if (s->parsed.kind == PSQL_KIND_SELECT || s->parsed.kind == PSQL_KIND_DML ||
             s->parsed.paramCount > 0 || (s->parsed.flags & PSQL_ROWS_KEYWORD) != 0) {
    status = JC_Connection_prepareStatement(s, c->conn, text);
  } else {
    status = JC_Connection_createStatementForStmt(s, c->conn);
    describe = false;
  }
  if (status == 0) status = SetUpStatement(s);
  if (status != 0) return status;
  if (describe) {
    // A call's describe may find a function where a procedure is wanted:
    // under a savepoint, so that an open transaction survives the refusal.
    jobject savepoint = callWithoutReturn ? JDB_FailAloneBegin(s) : nullptr;
    status = JDB_DescribeResults(s, 'P');
    JDB_FailAloneEnd(s, savepoint, status != 0);
    if (status != 0 && callWithoutReturn && LastStateIs(s, "42809")) {
      if (const std::string query = FunctionCallText(text); !query.empty()) status = PrepareAsFunction(s, query);
    }
    if (status != 0) return status;
    if (s->colCount > 0) s->flags |= JS_PREPARED_ROWS;
    if (s->colCount > 0 && (s->parsed.flags & (PSQL_CHANGES_DATA | PSQL_SEVERAL)) == PSQL_CHANGES_DATA &&
        (s->flags & JS_CALL) == 0 && JDB_ConnDialect(c) == PSQL_DIALECT_POSTGRES) {
      if (int st = PrepareCounted(s, text); st != 0) return st;
    }
  }
  if (int st = JDB_InitParamDescs(s); st != 0) return st;
  if (s->parsed.paramCount == 0) s->flags &= static_cast<uint16_t>(~JS_PARAMS_DUE);
  s->flags |= JS_PREPARED;
  return 0;
}

int32_t DRV_SetParams(AgentHandle h, RowBuffer* rows) {
  JStmt* s = JDB_FindStmt(h);
  if (s == nullptr) {
    // The block was handed over: it is released even when nobody takes it.
    if (rows != nullptr) {
      RB_Free(rows);
      std::free(rows);
    }
    return KX_ERR_BAD_ARGUMENT;
  }
  if (s->paramRows != nullptr && s->paramRows != rows) {
    RB_Free(s->paramRows);
    std::free(s->paramRows);
  }
  s->paramRows = rows;
  s->flags |= JS_PARAMS_DUE;
  return 0;
}

int32_t DRV_SetParamInfo(AgentHandle h, uint16_t count, const SCS_PARAMDESC* descs) {
  JStmt* s = JDB_FindStmt(h);
  if (s == nullptr) return KX_ERR_BAD_ARGUMENT;
  std::free(s->paramInfos);
  s->paramInfos = nullptr;
  s->paramInfoCount = 0;
  if (count != 0 && descs != nullptr) {
    auto* copy = static_cast<SCS_PARAMDESC*>(std::malloc(sizeof(SCS_PARAMDESC) * count));
    if (copy == nullptr) return KX_ERR_NOMEM;
    std::memcpy(copy, descs, sizeof(SCS_PARAMDESC) * count);
    s->paramInfos = copy;
    s->paramInfoCount = count;
  }
  s->flags |= JS_PARAMS_DUE;
  return 0;
}

int32_t DRV_ExecDirect(AgentHandle h, const char* sql, RowBuffer* rows, uint16_t count,
                       const SCS_PARAMDESC* descs) {
  if (sql != nullptr) {
    if (int32_t status = DRV_Prepare(h, sql); status != 0) {
      // The statement still takes the block it was handed.
      if (rows != nullptr) DRV_SetParams(h, rows);
      return status;
    }
  }
  if (rows != nullptr) {
    if (int32_t status = DRV_SetParams(h, rows); status != 0) return status;
  }
  if (count != 0) {
    if (int32_t status = DRV_SetParamInfo(h, count, descs); status != 0) return status;
  }
  return DRV_Execute(h);
}

namespace {

JMethod mCallGetMetaData{"java/sql/PreparedStatement", "getMetaData", "()Ljava/sql/ResultSetMetaData;"};

// The return value of "{? = call f(...)}" declared as text while the
// function returns another type (an integer, say): a JDBC driver that checks
// the registered type against the result refuses the call (PostgreSQL's
// 42821), and reads the value only with the getter of its own type. The
// call's description, asked once the return value is registered, tells the
// type; the value is registered and read as that, and the core converts it
// to the bound C type. Nothing changes when the description is not to be
// had.
int SettleReturnType(JStmt* s) {
  s->returnTypeAsked = 1;
  if (JDB_ParamDirection(s, 0) != SQL_PARAM_OUTPUT || !JDB_IsCharacterType(JDB_ParamSqlType(s, 0))) return 0;
  jobject meta = nullptr;
  int32_t n = 0, type = 0;
  bool known = JC_CallObject(s->jni, s->stmt, mCallGetMetaData, &meta) == 0 && meta != nullptr &&
               JC_ResultSetMetaData_getColumnCount(s, meta, &n) == 0 && n >= 1 &&
               JC_ResultSetMetaData_getColumnType(s, meta, 1, &type) == 0;
  if (meta != nullptr) s->jni->DeleteLocalRef(meta);
  JC_ClearException(s->jni);
  JDB_MsgFreeList(&s->msgs);
  // A decimal is read as the number it is and written out as text.
  const bool decimal = type == JT_NUMERIC || type == JT_DECIMAL;
  if (!known || (JDB_OutputStorageOf(type) == RBT_NONE && !decimal)) return 0;
  s->returnJdbcType = type;
  return JC_CallableStatement_registerOutParameter(s, s->stmt, 1, type);
}

// A failed execution of parameter row `row`: the rows before it completed.
int FailedAtRow(JStmt* s, int32_t row, int status) {
  s->rowCount = row;
  s->rowCountKnown = 1;
  return status;
}

// Takes the result of an execution that ran: a result set becomes the
// current result (described unless it already is and `redescribe` is false);
// anything else is an update count, added to the statement's, and has no
// columns, whatever the prepare described for a later result of a batch.
int TakeExecutionResult(JStmt* s, jobject rs, bool redescribe) {
  auto takeRows = [&](jobject rows, bool counted) {
    if (int st = KeepResultSet(s, rows); st != 0) return st;
    s->changedRows = !counted && (s->parsed.flags & PSQL_CHANGES_DATA) != 0 ? 1 : 0;
    if (redescribe || (s->flags & JS_DESCRIBED) == 0) {
      JDB_FreeColumns(s);
      if (int st = JDB_DescribeResults(s, 'E'); st != 0) return st;
    }
    s->flags |= JS_RESULTS | JS_RSOPEN;
    return 0;
  };
  if (rs != nullptr) return takeRows(rs, false);
  int32_t count = -1;
  if (int st = JC_Statement_getUpdateCount(s, s->stmt, &count); st != 0) return st;
  if (count >= 0) {
    s->rowCount += count;
    s->rowCountKnown = 1;
  }
  if ((s->flags & JS_COUNTED_ROWS) != 0 && count >= 0) {
    // The rows the change returned, after its count.
    jobject keys = nullptr;
    if (int st = JC_Statement_getGeneratedKeys(s, s->stmt, &keys); st != 0) return st;
    if (keys != nullptr) return takeRows(keys, true);
  }
  JDB_FreeColumns(s);
  s->flags |= JS_RESULTS | JS_END;
  return 0;
}

}  // namespace

int JDB_ExecuteRow(JStmt* s, int32_t row) {
  if (HasParams(s) && s->paramRows != nullptr) {
    if (int status = JDB_BindParamRow(s, row); status != 0) return FailedAtRow(s, row, status);
  }
  uint8_t hasRs = 0;
  jobject rs = nullptr;
  int status = IsPlainStatement(s) ? JC_Statement_execute(s, s->stmt, s->parsed.text, &hasRs)
                                   : JC_PreparedStatement_execute(s, s->stmt, &hasRs);
  if (status == 0) status = JC_PreparedStatement_getResultSet(s, s->stmt, &rs);
  if (status != 0) return FailedAtRow(s, row, status);
  if (int st = TakeExecutionResult(s, rs, true); st != 0) return st;
  ++s->executions;
  return 0;
}

// Whether a call escape starts with a return-value marker ({? = call f(...)}),
// seen in the analysis text as ":1:=f(...)" (blanks kept before the ":=").
bool JDB_HasReturnMarker(const JStmt* s) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
  const char* t = s->parsed.translated;
  if (t == nullptr) return false;
  while (blank(*t)) ++t;
  if (*t != ':') return false;
  ++t;
  while (*t >= '0' && *t <= '9') ++t;
  while (blank(*t)) ++t;
  return t[0] == ':' && t[1] == '=';
}

// Rows from..to-1 one execution each; on a failure the row count tells how
// many rows of the whole block completed before it.
int JDB_ExecuteRows(JStmt* s, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) {
    int status = 0;
    if (HasParams(s)) status = JDB_BindParamRow(s, i);
    if (status == 0 && (s->flags & JS_CALL) != 0 && s->returnTypeAsked == 0 && JDB_HasReturnMarker(s)) {
      status = SettleReturnType(s);
    }
    uint8_t hasRs = 0;
    if (status == 0) {
      status = IsPlainStatement(s)
                   ? JC_Statement_execute(s, s->stmt, s->parsed.text, &hasRs)
                   : JC_PreparedStatement_execute(s, s->stmt, &hasRs);
    }
    jobject rs = nullptr;
    if (status == 0) status = JC_PreparedStatement_getResultSet(s, s->stmt, &rs);
    if (status == 0) status = TakeExecutionResult(s, rs, false);
    if (status != 0) return FailedAtRow(s, i, status);
    ++s->executions;
  }
  return 0;
}

namespace {

// PostgreSQL keeps a statement the JDBC driver prepared on the server (it
// does so for statements run a few times) with the result columns it had
// then. Once a schema change alters them, running it again inside a
// transaction fails ("cached plan must not change result type") and aborts
// the whole transaction. After the connection's own schema change, its
// server-side statements are dropped: the JDBC driver sees the command and
// prepares each afresh on its next run. Best effort: a failure here leaves
// no message behind, and the change itself has succeeded.
void ForgetServerPlans(JStmt* s) {
  JConn* c = s->conn;
  if (c == nullptr || c->conn == nullptr || JDB_ConnDialect(c) != PSQL_DIALECT_POSTGRES) return;
  AgentMsgList kept = c->msgs;
  c->msgs = AgentMsgList{};
  jobject stmt = nullptr;
  if (JC_Connection_createStatement(c, c->conn, &stmt) == 0 && stmt != nullptr) {
    if (JC_Statement_executeConn(c, stmt, "DEALLOCATE ALL") != 0) {
      LogAt(LOG_DEBUG, __FILE__, __LINE__, "server-side statements not dropped after a schema change");
    }
    JC_Statement_closeConn(c, stmt);
  }
  if (stmt != nullptr) c->jni->DeleteLocalRef(stmt);
  JDB_MsgFreeList(&c->msgs);
  c->msgs = kept;
}

}  // namespace

int32_t DRV_Execute(AgentHandle h) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  s->cancelAsked.store(false);  // a new run: an earlier SQLCancel is not its
  if ((s->flags & JS_PREPARED) == 0) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "execute without prior prepare");
    return KX_ERR_SEQUENCE;
  }
  if (HasParams(s) && (s->paramRows == nullptr || s->paramRows->rowCount <= 0)) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "execute without prior parameters set");
    return KX_ERR_WRONG_PARAM_COUNT;
  }
  JFrame frame(s->jni, JDB_FRAME_LARGE);
  if (!frame.ok()) return KX_ERR_NOMEM;
  JDB_StmtCloseResults(s);
  s->flags &= static_cast<uint16_t>(~(JS_OUT_REGISTERED | JS_OUT_DELIVERED));
  s->executions = 0;
  s->rowCount = 0;
  s->rowCountKnown = 0;
  const int32_t n = RowsToRun(s);
  s->flags &= static_cast<uint16_t>(~JS_ROW_BY_ROW);
  if (ReturnsRows(s)) {
    // One result per parameter row: the later rows run as the application
    // asks for their results.
    s->flags |= JS_ROW_BY_ROW;
    const bool changes = s->parsed.kind != PSQL_KIND_SELECT;
    jobject savepoint = changes && s->failAlone != 0 ? JDB_FailAloneBegin(s) : nullptr;
    const bool streamed = JDB_StreamBegin(s);
    int status = JDB_ExecuteRow(s, 0);
    JDB_FailAloneEnd(s, savepoint, status != 0);
    if (streamed && status == 0 && s->resultSet != nullptr && !JDB_RowsDrainable(s)) {
      // The result turned out other than the prepare described it, with a
      // column whose rows could not wait in memory for another call: it
      // runs again, read whole in autocommit mode.
      JDB_StmtCloseResults(s);
      s->executions = 0;
      status = JDB_ExecuteRow(s, 0);
    } else if (streamed && (status != 0 || s->resultSet == nullptr)) {
      JDB_StreamEnd(s, status != 0);
    }
    if (status != 0) return status;
  } else {
    jobject savepoint = s->failAlone != 0 ? JDB_FailAloneBegin(s) : nullptr;
    const int status = JDB_BatchFits(s, n) ? JDB_ExecuteBatched(s, n) : JDB_ExecuteRows(s, 0, n);
    JDB_FailAloneEnd(s, savepoint, status != 0);
    if (status != 0) return status;
  }
  if ((s->flags & (JS_CALL | JS_OUT_REGISTERED)) == (JS_CALL | JS_OUT_REGISTERED) &&
      s->resultSet == nullptr) {
    return KX_ERR_HAS_OUT_PARAMS;
  }
  if ((s->parsed.flags & PSQL_CHANGES_SCHEMA) != 0) ForgetServerPlans(s);
  return 0;
}

int32_t DRV_MoreResults(AgentHandle h) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  if ((s->flags & JS_RESULTS) == 0) return KX_ERR_NO_MORE_RESULTS;
  s->flags &= static_cast<uint16_t>(~JS_END);
  if (s->stmt == nullptr) {
    s->flags |= JS_END;
    return KX_ERR_NO_MORE_RESULTS;
  }
  const int32_t n = RowsToRun(s);
  JFrame frame(s->jni, JDB_FRAME_LARGE);
  if (!frame.ok()) return KX_ERR_NOMEM;
  if ((s->flags & (JS_CALL | JS_OUT_REGISTERED)) == (JS_CALL | JS_OUT_REGISTERED) &&
      s->resultSet == nullptr) {
    // The outputs of a call are the last thing it delivers.
    if ((s->flags & JS_OUT_DELIVERED) == 0) return KX_ERR_HAS_OUT_PARAMS;
    s->flags |= JS_END;
    return KX_ERR_NO_MORE_RESULTS;
  }
  uint8_t more = 0;
  int32_t count = -1;
  JDB_DropReadAhead(s);  // getMoreResults closes the result set
  const int moreStatus = JC_Statement_getMoreResults(s, s->stmt, &more);
  JDB_StreamEnd(s, false);
  if (moreStatus != 0) return moreStatus;
  if (int status = JC_Statement_getUpdateCount(s, s->stmt, &count); status != 0) return status;
  if (!more && count == -1 && (s->flags & JS_ROW_BY_ROW) != 0 && s->executions < n) {
    // The results of one parameter row are over: the next row runs.
    JDB_StmtCloseResults(s);
    JDB_FreeColumns(s);
    s->rowCount = 0;
    s->rowCountKnown = 0;
    return JDB_ExecuteRow(s, s->executions);
  }
  if (!more && count == -1) {
    if ((s->flags & (JS_CALL | JS_OUT_REGISTERED)) == (JS_CALL | JS_OUT_REGISTERED) &&
        (s->flags & JS_OUT_DELIVERED) == 0) {
      if (s->resultSet != nullptr) {
        s->jni->DeleteGlobalRef(s->resultSet);  // already closed by getMoreResults
        s->resultSet = nullptr;
      }
      s->flags &= static_cast<uint16_t>(~JS_RSOPEN);
      return KX_ERR_HAS_OUT_PARAMS;
    }
    s->flags |= JS_END;
    return KX_ERR_NO_MORE_RESULTS;
  }
  JDB_FreeColumns(s);
  if (s->resultMeta != nullptr) s->jni->DeleteGlobalRef(s->resultMeta);
  s->resultMeta = nullptr;
  if (s->resultSet != nullptr) {
    JC_ResultSet_close(s, s->resultSet);
    JC_ClearException(s->jni);
    s->jni->DeleteGlobalRef(s->resultSet);
    s->resultSet = nullptr;
  }
  s->flags &= static_cast<uint16_t>(~JS_RSOPEN);
  s->rowsFetched = 0;
  JDB_DropDeferredFailure(s);
  s->changedRows = 0;
  if (more) {
    jobject rs = nullptr;
    s->rowCount = 0;
    s->rowCountKnown = 0;
    if (int status = JC_PreparedStatement_getResultSet(s, s->stmt, &rs); status != 0) return status;
    if (rs != nullptr) {
      if (int st = KeepResultSet(s, rs); st != 0) return st;
      s->flags |= JS_RSOPEN;
    }
  } else {
    s->rowCount = count;
    s->rowCountKnown = 1;
    s->flags |= JS_END;
  }
  int status = JDB_DescribeResults(s, 'E');
  if (status == 0 && s->colCount > 0) s->flags |= JS_DESCRIBED;
  return status;
}

int JDB_FinishPendingRows(JStmt* s) {
  if ((s->flags & JS_ROW_BY_ROW) == 0 || s->parsed.kind == PSQL_KIND_SELECT || s->stmt == nullptr) return 0;
  const int32_t n = RowsToRun(s);
  if (s->executions <= 0 || s->executions >= n) return 0;
  // Parameter rows of a data change whose results were not all read still
  // make their change: the application closed the results, not the rows.
  JFrame frame(s->jni, JDB_FRAME_LARGE);
  if (!frame.ok()) return KX_ERR_NOMEM;
  JDB_StmtCloseResults(s);
  const int status = JDB_ExecuteRows(s, s->executions, n);
  JDB_StmtCloseResults(s);
  s->flags &= static_cast<uint16_t>(~JS_ROW_BY_ROW);
  if (status != 0) LogAt(LOG_WARNING, __FILE__, __LINE__, "parameter rows run at close failed");
  return status;
}

int JDB_DescribeParamsByProbe(JStmt* s) {
  if ((s->flags & JS_PREPARED) == 0) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "execute without prior prepare");
    return KX_ERR_SEQUENCE;
  }
  if ((s->flags & JS_RESULTS) != 0) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "Describe params work only before Execute");
    return 0;
  }
  if ((s->parsed.flags & PSQL_MARKERS_OUTSIDE) == 0 || s->probed != 0) return 0;
  SCR_PARAMINFO ctx;
  SCR_ParamInfoInit(&ctx, "NULL");
  int status = SCR_ParamQueriesGet(&ctx, s->parsed.text);
  const bool usable = status == 0 && (ctx.mask != nullptr || ctx.total == s->paramCount);
  if (status == KX_ERR_NOMEM) {
    SCR_ParamInfoFree(&ctx);
    return KX_ERR_NOMEM;
  }
  status = 0;
  if (usable) {
    AgentHandle probe = 0;
    status = DRV_AllocStmt(s->conn->handle, &probe);
    uint16_t next = 0;
    for (int q = 0; status == 0 && q < ctx.count && ctx.queries[q] != nullptr; ++q) {
      status = DRV_Prepare(probe, ctx.queries[q]);
      uint16_t n = 0;
      AgentColDesc* cols = nullptr;
      if (status == 0) status = DRV_DescribeCols(probe, &n, &cols);
      if (status != 0) {
        // The probe's diagnostics tell why the description failed.
        if (JStmt* p = JDB_FindStmt(probe); p != nullptr) {
          JDB_MsgFreeList(&s->msgs);
          s->msgs.head = p->msgs.head;
          p->msgs.head = nullptr;
        }
        break;
      }
      for (uint16_t c = 0; c < n && next < s->paramCount; ++c) {
        if (ctx.mask != nullptr && (c >= std::strlen(ctx.mask) || ctx.mask[c] != '?')) continue;
        AgentColDesc& d = s->params[next++];
        const AgentColDesc& from = cols[c];
        d.sqlType = from.sqlType;
        d.columnSize = from.columnSize;
        d.decimalDigits = from.decimalDigits;
        d.displaySize = from.displaySize;
        d.storageType = from.storageType;
        d.elementLength = from.elementLength;
        d.flags = (d.flags & ~COLDESC_NULLABLE_MASK) | (from.flags & COLDESC_NULLABLE_MASK);
      }
      RB_FreeColDescs(cols, n);
    }
    if (probe != 0) DRV_FreeStmt(probe);
    // The probe ran on this thread; the statement's own environment stays valid.
    s->jni = JVM_AttachThread();
  }
  SCR_ParamInfoFree(&ctx);
  if (status == 0) s->probed = 1;
  return status;
}

}  // namespace kx
