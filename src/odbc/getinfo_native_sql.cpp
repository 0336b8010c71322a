// SQLNativeSql: the agent's translation of a statement into the database's
// own dialect, copied to the caller with the usual rules for cut text.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "odbc/conn.h"
#include "odbc/getinfo.h"
#include "odbc/handlers.h"
#include "util/errcodes.h"

namespace kx {

namespace {

constexpr size_t kAgentFirstCapacity = 4096;

}  // namespace

SQLRETURN ConnNativeSql(ConnRecord* conn, const char* text, int32_t length, char* out,
                        int32_t capacity, int32_t* outLength) {
  if (text == nullptr) return Fail(conn, KX_ERR_BAD_ARGUMENT);
  if ((length < 0 && length != SQL_NTS) || capacity < 0) return Fail(conn, KX_ERR_BAD_LENGTH);
  if (conn->state != CONN_CONNECTED) return Fail(conn, KX_ERR_NOT_CONNECTED);

  std::string input;
  try {
    if (length == SQL_NTS) {
      input.assign(text);
    } else {
      const void* nul = memchr(text, 0, static_cast<size_t>(length));
      input.assign(text, nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text)
                                        : static_cast<size_t>(length));
    }
  } catch (const std::bad_alloc&) {
    return Fail(conn, KX_ERR_NOMEM);
  }

  // The translation is taken whole into a buffer of our own, so that the
  // caller learns its full length even when its buffer is too small; a
  // translation that outgrows the first buffer is asked again with room for
  // all of it, which the agent said it needs.
  size_t room = input.size() * 2 + 256;
  if (room < kAgentFirstCapacity) room = kAgentFirstCapacity;
  char* translated = nullptr;
  int32_t rc = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (room > UINT32_MAX - 1) return Fail(conn, KX_ERR_NOMEM);
    translated = static_cast<char*>(calloc(room + 1, 1));
    if (translated == nullptr) return Fail(conn, KX_ERR_NOMEM);
    uint32_t got = 0;
    rc = AgentCall(conn->binding, &AgentOps::DRV_NativeSql, conn->agentConn, input.c_str(),
                   translated, static_cast<uint32_t>(room), &got);
    if (rc != KX_ERR_DATA_TRUNCATED || got < room || attempt == 1) break;
    free(translated);
    translated = nullptr;
    room = static_cast<size_t>(got) + 1;
  }
  if (rc != 0 && rc != KX_ERR_DATA_TRUNCATED) {
    free(translated);
    conn->error = rc;
    ConnPullMsgs(conn, nullptr);
    return SQL_ERROR;
  }
  translated[room] = '\0';
  int64_t full = 0;
  SQLRETURN result = ConnPutText(conn, translated, strlen(translated), out, capacity, &full, 'A');
  free(translated);
  // The translation changed between the two asks and outgrew the room it
  // had been given: what came back is all there is to give.
  if (rc == KX_ERR_DATA_TRUNCATED) {
    conn->error = KX_ERR_DATA_TRUNCATED;
    result = SQL_SUCCESS_WITH_INFO;
  }
  if (outLength != nullptr) *outLength = static_cast<int32_t>(full > INT32_MAX ? INT32_MAX : full);
  return result;
}

// SQLNativeSql(W): text, length, out, capacity, length*
SQLRETURN ConnNativeSqlCall(HandleHead* rec, const OdbcArgs& args) {
  return ConnNativeSql(static_cast<ConnRecord*>(rec), args.Get<const char*>(0),
                       args.Get<int32_t>(1), args.Get<char*>(2), args.Get<int32_t>(3),
                       args.Get<int32_t*>(4));
}

}  // namespace kx
