#include "drv_jdbc/j_stream.h"

#include <sqlext.h>

#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/log.h"

namespace kx {

namespace {

JMethod mStreamGetAutoCommit{"java/sql/Connection", "getAutoCommit", "()Z"};
JMethod mStreamSetAutoCommit{"java/sql/Connection", "setAutoCommit", "(Z)V"};
JMethod mStreamCommit{"java/sql/Connection", "commit", "()V"};
JMethod mStreamRollback{"java/sql/Connection", "rollback", "()V"};

// Whether s's query may run inside a transaction of its own without the
// application seeing it: a plain query (no row locks, which would be held
// to the end of the result; no procedure) with one execution, through a
// forward-only cursor or a static one (the cursor layer reads its result
// forward into a store of its own), on PostgreSQL's driver outside distributed transactions,
// whose rows the packed reader can hold once another call needs the
// connection. Serializable isolation is left alone: its read locks would
// last as long as the result stays open. A row limit within one round
// trip's rows (the cursor layer's reads by key) gains nothing from it.
bool StreamFits(JStmt* s) {
  const JConn* c = s->conn;
  if (JDB_ConnDialect(c) != PSQL_DIALECT_POSTGRES || c->xaConn != nullptr || c->streaming != nullptr ||
      c->isolation == SQL_TXN_SERIALIZABLE) {
    return false;
  }
  if (s->parsed.kind != PSQL_KIND_SELECT || (s->parsed.flags & (PSQL_LOCKS_ROWS | PSQL_CALL)) != 0 ||
      (s->flags & JS_CALL) != 0 ||
      (s->cursor.cursorType != SQL_CURSOR_FORWARD_ONLY && s->cursor.cursorType != SQL_CURSOR_STATIC)) {
    return false;
  }
  if (s->maxRows > 0 && s->maxRows <= JDB_FETCH_ROWS) return false;
  if (s->paramCount > 0 && s->paramRows != nullptr && s->paramRows->rowCount != 1) return false;
  return JDB_RowsDrainable(s);
}

}  // namespace

bool JDB_StreamBegin(JStmt* s) {
  if (!StreamFits(s)) return false;
  JConn* c = s->conn;
  JNIEnv* env = s->jni;
  jboolean on = JNI_FALSE;
  if (JC_CallBoolean(env, c->conn, mStreamGetAutoCommit, &on) != 0 || !on) {
    JC_ClearException(env);
    return false;
  }
  JW_Trace("Connection.setAutoCommit(false) for a streamed result");
  if (JC_CallVoid(env, c->conn, mStreamSetAutoCommit, JNI_FALSE) != 0) {
    JC_ClearException(env);
    return false;
  }
  c->streaming = s;
  return true;
}

void JDB_StreamEnd(JStmt* s, bool failed) {
  JConn* c = s->conn;
  if (c == nullptr || c->streaming != s) return;
  c->streaming = nullptr;
  JNIEnv* env = s->jni;
  if (env == nullptr) return;
  // Nothing of the result is read after this: a read-ahead still going
  // stops first.
  JDB_PauseReadAheads(s->handle, false);
  JW_Trace("Connection.%s of a streamed result", failed ? "rollback" : "commit");
  bool ended = !failed && JC_CallVoid(env, c->conn, mStreamCommit) == 0;
  if (!ended) {
    // A failed query's transaction, or a commit the database refused, is
    // rolled back: either way no transaction stays open.
    JC_ClearException(env);
    if (JC_CallVoid(env, c->conn, mStreamRollback) != 0) {
      JC_ClearException(env);
      LogAt(LOG_WARNING, __FILE__, __LINE__, "ending the transaction of a streamed result failed");
    }
  }
  if (JC_CallVoid(env, c->conn, mStreamSetAutoCommit, JNI_TRUE) != 0) {
    JC_ClearException(env);
    LogAt(LOG_WARNING, __FILE__, __LINE__, "autocommit could not be restored after a streamed result");
  }
}

void JDB_StreamSettle(AgentHandle h) {
  JStmt* own = JDB_FindStmt(h);
  JConn* c = own != nullptr ? own->conn : JDB_FindConn(h);
  if (c == nullptr || c->streaming == nullptr || c->streaming == own) return;
  JStmt* s = c->streaming;
  s->jni = JVM_AttachThread();
  if (s->jni == nullptr) return;
  JFrame frame(s->jni, JDB_FRAME_SMALL);
  // The rows left come into memory, packed, in the order and with the end
  // or failure the fetches would have met; then the transaction can end.
  if (JDB_DrainRows(s) != 0) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "the rest of a streamed result could not be read");
  }
  JDB_StreamEnd(s, false);
}

}  // namespace kx
