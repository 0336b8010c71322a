// A dynamic cursor over the JDBC agent (H2 in memory) whose rows vanish
// between the key read and the row read: the rowset's keys are read again
// and the rows with them; a rowset that keeps losing its rows gives up after
// three attempts with IM920. The rows are made to vanish by a table between
// the cursor layer and the agent that empties the blocks of the query that
// reads rows by key, the way rows deleted by others come back.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <cstring>
#include <set>
#include <string>

#include "agent_fixture.h"
#include "scs/scs_layer.h"
#include "util/errcodes.h"

namespace kxtest {
namespace {

using namespace kx;

// The agent below the cursor layer, and what the interposed entries do.
const AgentOps* g_below = nullptr;
std::set<AgentHandle> g_byKey;  // statements prepared with the by-key query
int g_emptyReads = 0;           // by-key blocks still to come back empty
int g_byKeyExecutions = 0;

int32_t Prepare(AgentHandle h, const char* sql) {
  // The query that reads rows by key names the value column and takes the
  // keys as markers; the key reads name the key column only.
  const bool byKey = sql != nullptr && std::strstr(sql, "payload") != nullptr && std::strchr(sql, '?') != nullptr;
  if (byKey) g_byKey.insert(h);
  else g_byKey.erase(h);
  return g_below->DRV_Prepare(h, sql);
}

int32_t Execute(AgentHandle h) {
  if (g_byKey.count(h) != 0) ++g_byKeyExecutions;
  return g_below->DRV_Execute(h);
}

int32_t FetchBlock(AgentHandle h, uint16_t rows, RowBuffer* out) {
  const int32_t rc = g_below->DRV_FetchBlock(h, rows, out);
  if (rc == 0 && g_byKey.count(h) != 0 && out->rowCount > 0 && g_emptyReads > 0) {
    --g_emptyReads;
    out->rowCount = 0;  // the storage stays the block's, freed with it
  }
  return rc;
}

class VanishingRows : public AgentSession {
 public:
  VanishingRows() {
    AgentBinding binding{};
    EXPECT_EQ(0, JDB_Register(&binding));
    g_below = binding.ops;
    interposed_ = *binding.ops;
    interposed_.DRV_Prepare = Prepare;
    interposed_.DRV_Execute = Execute;
    interposed_.DRV_FetchBlock = FetchBlock;
    binding.ops = &interposed_;
    EXPECT_EQ(0, SCS_Install(&binding));
    ops = binding.ops;
    g_byKey.clear();
    g_emptyReads = 0;
    g_byKeyExecutions = 0;
  }

  // Connects as the core does: its capability question at open is what
  // makes the agent offer dynamic cursors.
  int Open() {
    const int rc = ConnectH2("dynamic_retry");
    int32_t mask = 0;
    uint16_t length = 0;
    if (rc == 0) {
      EXPECT_EQ(0, ops->DRV_GetProperty(conn, AP_CONN_CAPABILITY_MASK, &mask, 4, &length));
    }
    return rc;
  }

  // A dynamic cursor over items, executed; fetching is the test's.
  AgentHandle OpenDynamic() {
    AgentHandle h = Stmt();
    int32_t type = SQL_CURSOR_DYNAMIC;
    EXPECT_EQ(0, ops->DRV_SetProperty(h, AP_STMT_CURSOR_TYPE, &type)) << AgentMessages(ops, h);
    int32_t rowset = 2;
    EXPECT_EQ(0, ops->DRV_SetProperty(h, AP_STMT_ROWSET_SIZE, &rowset)) << AgentMessages(ops, h);
    int rc = ops->DRV_Prepare(h, "SELECT id, payload FROM items ORDER BY id");
    if (rc == 0) rc = ops->DRV_Execute(h);
    EXPECT_EQ(0, rc) << AgentMessages(ops, h);
    return h;
  }

  int32_t FetchFirst(AgentHandle h, uint32_t* got) {
    RowStatusSet* set = nullptr;
    int32_t total = 0;
    *got = 0;
    const int32_t rc = ops->DRV_FetchScroll(h, &set, 1, got, &total, SQL_FETCH_FIRST);
    RowStatusSetFree(&set);
    return rc;
  }

 private:
  AgentOps interposed_{};
};

TEST(DynamicRetry, RowsGoneOnceAreReadAgainAndGoneForGoodGiveIM920) {
  VanishingRows a;
  ASSERT_EQ(0, a.Open()) << AgentMessages(a.ops, a.server);
  a.Exec("CREATE TABLE items (id INTEGER PRIMARY KEY, payload VARCHAR(20))");
  a.Exec("INSERT INTO items VALUES (1, 'one'), (2, 'two'), (3, 'three')");

  // Lost once: the keys are read again and the second row read finds them.
  AgentHandle h = a.OpenDynamic();
  g_byKeyExecutions = 0;
  g_emptyReads = 1;
  uint32_t got = 0;
  ASSERT_EQ(0, a.FetchFirst(h, &got)) << AgentMessages(a.ops, h);
  EXPECT_EQ(2u, got);
  EXPECT_EQ(2, g_byKeyExecutions);
  a.ops->DRV_FreeStmt(h);

  // Lost at every read: three attempts, then IM920.
  h = a.OpenDynamic();
  g_byKeyExecutions = 0;
  g_emptyReads = 1000;
  EXPECT_EQ(KX_ERR_KEYSET_UPDATES, a.FetchFirst(h, &got));
  EXPECT_EQ(3, g_byKeyExecutions);
  g_emptyReads = 0;
  // The cursor is still usable once the rows stay.
  EXPECT_EQ(0, a.FetchFirst(h, &got)) << AgentMessages(a.ops, h);
  EXPECT_EQ(2u, got);
  a.ops->DRV_FreeStmt(h);
}

}  // namespace
}  // namespace kxtest
