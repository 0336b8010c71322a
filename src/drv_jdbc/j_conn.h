// Agent connections: connect through the vendor's data source, disconnect
// (freeing the connection's statements), native SQL, commit and rollback.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"
#include "util/hash_table.h"

namespace kx {

int32_t DRV_Connect(AgentHandle server, ConnectBlock* block, AgentHandle* conn);  // 5
int32_t DRV_Disconnect(AgentHandle conn);                                         // 6
int32_t DRV_NativeSql(AgentHandle conn, const char* sql, char* out, uint32_t capacity,
                      uint32_t* length);                                          // 17
int32_t DRV_Commit(AgentHandle conn);                                             // 21
int32_t DRV_Rollback(AgentHandle conn);                                           // 22

// The database the connection's statements are written for (PSQL_DIALECT_*),
// learnt at connect.
int JDB_ConnDialect(const JConn* c);

// Frees the record and the texts and tables it owns (not the Java objects).
void JC_FreeConn(JConn* c);

// Runs the initial SQL file on a new connection (local Connection reference);
// defined with the initial SQL file's Java side. The connect goes on whatever
// it answers; failing statements leave their messages on the connection.
int JDB_RunInitialSql(JConn* c, jobject conn, const char* fileName);

// A value of the connection's type map (key: the 16-bit SQL type).
struct TypeInfoEntry {
  char typeName[64];  // at most 60 bytes
  char prefix[8];     // literal prefix, at most 6 bytes
  char suffix[8];     // literal suffix, at most 6 bytes
};
// The type map from the driver's type information; null when it cannot be
// made, empty when the driver gives none.
HashTable* JDB_LoadTypeMap(AgentHandle connHandle, JConn* c);

}  // namespace kx
