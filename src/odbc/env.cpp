// Environment records, the process list of environments and the environment
// attributes.
#include "odbc/env.h"

#include <new>

#include "odbc/call_args.h"
#include "odbc/conn.h"
#include "odbc/diag.h"
#include "odbc/handle_layer.h"
#include "odbc/handlers.h"
#include "util/handle_table.h"

namespace kx {

namespace {

// The process list; changed only under the handle lock.
EnvrRecord* g_firstEnv = nullptr;
int32_t g_envCount = 0;

}  // namespace

EnvrRecord* EnvrFirst() { return g_firstEnv; }

EnvrRecord* EnvrAlloc() {
  auto* env = new (std::nothrow) EnvrRecord{};
  if (env == nullptr) return nullptr;
  env->magic = ENVR_MAGIC;
  env->state = ENVR_ALLOCATED;
  env->odbcVersion = SQL_OV_ODBC2;
  env->outputNts = 1;
  env->serial = ++g_envCount;
  env->next = g_firstEnv;
  g_firstEnv = env;
  return env;
}

void EnvrOpen(EnvrRecord* env) {
  if (env->state == ENVR_ALLOCATED) env->state = ENVR_OPEN;
}

void EnvrClose(EnvrRecord* env) {
  if (env->state != ENVR_OPEN) return;
  while (env->firstConn != nullptr) {
    ConnRecord* conn = env->firstConn;
    ConnClose(conn);
    ConnFree(conn);  // unlinks it from the environment
    ConnDestroy(conn);
  }
  env->state = ENVR_ALLOCATED;
}

int EnvrFree(EnvrRecord* env) {
  for (EnvrRecord** p = &g_firstEnv; *p != nullptr; p = &(*p)->next) {
    if (*p == env) {
      *p = env->next;
      break;
    }
  }
  MsgListFree(&env->messages);
  env->magic = MAGIC_FREED;
  env->state = 0;
  HandleRemove(HK_ENV, env);
  delete env;
  return 0;
}

char* EnvrPopMsg(EnvrRecord* env, int32_t* native) { return MsgListPop(&env->messages, native); }

void EnvrPostMsg(EnvrRecord* env, const char* text, int32_t native) {
  MsgListAppend(&env->messages, text, native);
}

bool EnvrAnyConnBusy(const EnvrRecord* env) {
  for (const ConnRecord* c = env->firstConn; c != nullptr; c = c->next) {
    if (c->busy.load() != nullptr || c->callWaiters > 0) return true;
  }
  return false;
}

// SQLSetEnvAttr(attribute, value, length): values outside the accepted ones
// change nothing, and the call always succeeds.
SQLRETURN EnvrSetAttr(HandleHead* rec, const OdbcArgs& args) {
  auto* env = static_cast<EnvrRecord*>(rec);
  const auto attribute = args.Get<SQLINTEGER>(0);
  const auto value = static_cast<int32_t>(static_cast<uint32_t>(args.Raw(1)));
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      if (value == SQL_OV_ODBC2 || value == SQL_OV_ODBC3) env->odbcVersion = value;
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      if (value >= 0 && value <= 2) env->connectionPooling = value;
      break;
    case SQL_ATTR_CP_MATCH:
      if (value == 0 || value == 1) env->cpMatch = value;
      break;
    case SQL_ATTR_OUTPUT_NTS:
      if (value == 0 || value == 1) env->outputNts = value;
      break;
    default:
      break;
  }
  return SQL_SUCCESS;
}

// SQLGetEnvAttr(attribute, value*, buffer length, length*): a 32-bit value.
SQLRETURN EnvrGetAttr(HandleHead* rec, const OdbcArgs& args) {
  auto* env = static_cast<EnvrRecord*>(rec);
  const auto attribute = args.Get<SQLINTEGER>(0);
  auto* out = args.Get<SQLINTEGER*>(1);
  if (out == nullptr) return SQL_SUCCESS;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: *out = env->odbcVersion; break;
    case SQL_ATTR_CONNECTION_POOLING: *out = env->connectionPooling; break;
    case SQL_ATTR_CP_MATCH: *out = env->cpMatch; break;
    case SQL_ATTR_OUTPUT_NTS: *out = env->outputNts ? 1 : 0; break;
    case ENVR_ATTR_DRIVER: *out = ENVR_ATTR_DRIVER_VALUE; break;
    default: break;
  }
  return SQL_SUCCESS;
}

}  // namespace kx
