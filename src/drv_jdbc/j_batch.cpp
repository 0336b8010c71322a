#include "drv_jdbc/j_batch.h"

#include <algorithm>

#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_params.h"
#include "drv_jdbc/j_setters.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// Rows per executeBatch: large enough that round trips no longer count, small
// enough that a failing row costs little to run again.
constexpr int32_t kBatchRows = 1000;

// java.sql.Statement.SUCCESS_NO_INFO: the row ran, its count is not known
// (PostgreSQL's driver answers it for rows it rewrote into multi-row
// INSERTs, where each row is one inserted row).
constexpr int32_t kSuccessNoInfo = -2;

// Messages posted while a batch is tried are held apart from the statement's:
// a batch that fails is run again row by row, and only that run reports.
class HeldMessages {
 public:
  explicit HeldMessages(JStmt* s) : s_(s), kept_(s->msgs) { s_->msgs = AgentMsgList{1, nullptr}; }
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;
  // The attempt's messages are dropped.
  void Drop() {
    JDB_MsgFreeList(&s_->msgs);
    Restore();
  }
  // The attempt's messages join the statement's, as if posted there.
  void Keep() {
    AgentMsg* attempt = s_->msgs.head;
    s_->msgs.head = nullptr;
    if (attempt != nullptr && kept_.keep == 0) JDB_MsgFreeList(&kept_);
    Restore();
    while (attempt != nullptr) {
      AgentMsg* next = attempt->next;
      JDB_MsgAppend(&s_->msgs, attempt);
      attempt = next;
    }
  }
  ~HeldMessages() {
    if (!restored_) Keep();
  }

 private:
  void Restore() {
    s_->msgs = kept_;
    restored_ = true;
  }
  JStmt* s_;
  AgentMsgList kept_;
  bool restored_ = false;
};

// Binds rows from..to-1 into the batch: every setter call of the block
// packed into one call into Java, or, when a value's setter cannot be packed
// (or the VM lacks the class), one call per setter as before.
int AddRows(JStmt* s, int32_t from, int32_t to) {
  JParamPack pack;
  s->paramPack = &pack;
  int status = 0;
  for (int32_t i = from; i < to && status == 0; ++i) {
    status = JDB_BindParamRow(s, i);
    if (status == 0) status = JC_PreparedStatement_addBatch(s, s->stmt);
  }
  s->paramPack = nullptr;
  if (!pack.refused) {
    if (status != 0) return status;
    int32_t rows = 0;
    status = JC_PreparedStatement_addPackedRows(s, s->stmt, pack, &rows);
    if (status != JC_NOT_PACKED) return status != 0 ? status : rows == to - from ? 0 : KX_ERR_GENERAL;
  }
  for (int32_t i = from; i < to; ++i) {
    if (int st = JDB_BindParamRow(s, i); st != 0) return st;
    if (int st = JC_PreparedStatement_addBatch(s, s->stmt); st != 0) return st;
  }
  return 0;
}

// Binds rows from..to-1 into the batch and runs it; *total gets the sum of
// the update counts. Any failure (binding, execution, a count the driver
// marks as failed) is returned.
int RunBatch(JStmt* s, int32_t from, int32_t to, int32_t* total) {
  *total = 0;
  if (int status = AddRows(s, from, to); status != 0) return status;
  int32_t counts[kBatchRows];
  int32_t got = 0;
  if (int status = JC_Statement_executeBatch(s, s->stmt, counts, kBatchRows, &got); status != 0) {
    return status;
  }
  if (got != to - from) return KX_ERR_GENERAL;
  for (int32_t k = 0; k < got; ++k) {
    if (counts[k] >= 0) *total += counts[k];
    else if (counts[k] == kSuccessNoInfo) *total += 1;
    else return KX_ERR_GENERAL;
  }
  return 0;
}

// One block of rows as a batch inside a transaction of its own (autocommit)
// or a savepoint (a transaction already open). *ran is false when the
// connection refused to begin either: nothing was run.
int RunBlock(JStmt* s, int32_t from, int32_t to, bool* ran) {
  jobject conn = s->conn->conn;
  HeldMessages held(s);
  uint8_t autocommit = 0;
  jobject savepoint = nullptr;
  int status = JC_Connection_getAutoCommitForStmt(s, conn, &autocommit);
  if (status == 0) {
    status = autocommit != 0 ? JC_Connection_setAutoCommitForStmt(s, conn, 0)
                             : JC_Connection_setSavepointForStmt(s, conn, &savepoint);
  }
  *ran = status == 0;
  if (!*ran) {
    held.Drop();
    return 0;
  }
  int32_t total = 0;
  status = RunBatch(s, from, to, &total);
  if (status == 0 && autocommit != 0) status = JC_Connection_commitForStmt(s, conn);
  if (status == 0) {
    if (autocommit != 0) {
      // The rows are stored; a connection that will not return to
      // autocommit is a failure the application must hear of.
      if (int st = JC_Connection_setAutoCommitForStmt(s, conn, 1); st != 0) {
        s->rowCount = to;
        s->rowCountKnown = 1;
        return st;
      }
    } else {
      JC_Connection_releaseSavepointForStmt(s, conn, savepoint);
      JW_Delete(s->jni, savepoint);
      JDB_MsgFreeList(&s->msgs);  // a savepoint left behind harms nothing
    }
    s->rowCount += total;
    s->rowCountKnown = 1;
    s->executions += to - from;
    s->flags |= JS_RESULTS | JS_END;
    return 0;
  }
  // Undo the block, then run it row by row.
  JC_Statement_clearBatch(s, s->stmt);
  int undone = 0;
  if (autocommit != 0) {
    undone = JC_Connection_rollbackForStmt(s, conn);
    if (int st = JC_Connection_setAutoCommitForStmt(s, conn, 1); undone == 0) undone = st;
  } else {
    undone = JC_Connection_rollbackToSavepointForStmt(s, conn, savepoint);
    if (undone == 0) JC_Connection_releaseSavepointForStmt(s, conn, savepoint);
    JW_Delete(s->jni, savepoint);
  }
  if (undone != 0) {
    // The block could not be undone (the connection is gone, say): none of
    // it is counted as done, and the messages say why.
    s->rowCount = from;
    s->rowCountKnown = 1;
    return status;
  }
  held.Drop();
  return JDB_ExecuteRows(s, from, to);
}

}  // namespace

jobject JDB_FailAloneBegin(JStmt* s) {
  if (s->conn == nullptr || s->conn->conn == nullptr || s->conn->xaRes != nullptr) return nullptr;
  HeldMessages held(s);
  uint8_t autocommit = 1;
  jobject savepoint = nullptr;
  if (JC_Connection_getAutoCommitForStmt(s, s->conn->conn, &autocommit) == 0 && autocommit == 0) {
    if (JC_Connection_setSavepointForStmt(s, s->conn->conn, &savepoint) != 0) savepoint = nullptr;
  }
  held.Drop();
  return savepoint;
}

void JDB_FailAloneEnd(JStmt* s, jobject savepoint, bool failed) {
  if (savepoint == nullptr) return;
  HeldMessages held(s);
  if (failed) JC_Connection_rollbackToSavepointForStmt(s, s->conn->conn, savepoint);
  JC_Connection_releaseSavepointForStmt(s, s->conn->conn, savepoint);
  JW_Delete(s->jni, savepoint);
  held.Drop();
}

bool JDB_BatchFits(const JStmt* s, int32_t n) {
  return n > 1 && s->stmt != nullptr && s->paramCount > 0 && s->paramRows != nullptr &&
         s->parsed.kind == PSQL_KIND_DML && (s->flags & JS_CALL) == 0 && s->conn != nullptr &&
         s->conn->xaRes == nullptr;
}

int JDB_ExecuteBatched(JStmt* s, int32_t n) {
  for (int32_t from = 0; from < n; from += kBatchRows) {
    const int32_t to = std::min(n, from + kBatchRows);
    bool ran = false;
    if (int status = RunBlock(s, from, to, &ran); status != 0) return status;
    if (!ran) return JDB_ExecuteRows(s, from, n);
  }
  return 0;
}

}  // namespace kx
