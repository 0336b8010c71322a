// Row versions of dynamic cursors, kept on the database server in ZNTRVC:
// one row per cursor and key holding a digest of the row as the cursor last
// saw it. A dynamic cursor re-reads its rows on every fetch, so only this
// record tells a row another user changed (SQL_ROW_UPDATED) from one the
// cursor already knew.
//
// Each cursor's rows carry the key of its owner: a random part drawn once
// per process, the process number and the agent's connection handle, then
// the agent's statement handle. Handles repeat from process to process; the
// random part keeps two clients that share the table apart, so neither reads
// nor deletes the other's versions.
//
// The statements run on an agent connection of the cursor's own, opened
// with its connection's connect block: a version read or stored never
// becomes part of the application's transaction.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

#include <unistd.h>

#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/md5.h"

namespace kx {
namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

// The process's part of every connection key: random, then the process id.
const std::string& ProcessPart() {
  static std::once_flag once;
  static char text[17];
  std::call_once(once, [] {
    uint32_t r = 0;
    try {
      std::random_device device;
      r = static_cast<uint32_t>(device());
    } catch (...) {
      // No random source: the clock's low bits still differ between runs.
      r = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&r));
    }
    std::snprintf(text, sizeof text, "%08" PRIX32 "%08" PRIX32, r, static_cast<uint32_t>(getpid()));
  });
  static const std::string part(text);
  return part;
}

std::string Hex32(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%08" PRIX32, static_cast<uint32_t>(v & 0xFFFFFFFFu));
  return text;
}

std::string Where(const ScsCursor* c) {
  return "HCONN = '" + c->versionConnKey + "' AND HCURS = '" + c->versionCursKey + "'";
}

// The version statement's and connection's messages become the cursor's.
void TakeMessages(ScsCursor* c) {
  for (AgentHandle h : {c->versionStmt, c->versionConn}) {
    if (h == 0) continue;
    AgentMsgBlock more{};
    if (AgentCall(Agent(), &AgentOps::DRV_GetMessages, h, &more) != 0) continue;
    for (uint32_t i = 0; i < more.count; ++i) {
      if (more.texts != nullptr && more.texts[i] != nullptr) c->agentMessages.emplace_back(more.texts[i]);
    }
    StrListFree(&more);
  }
}

int Run(ScsCursor* c, const std::string& sql) {
  int rc = AgentCall(Agent(), &AgentOps::DRV_Prepare, c->versionStmt, sql.c_str());
  if (rc == 0) rc = AgentCall(Agent(), &AgentOps::DRV_Execute, c->versionStmt);
  return rc;
}

// The stored version of one key: 0 with *found and the digest text, or the
// failing call's code.
int ReadVersion(ScsCursor* c, const std::string& key, bool* found, std::string* version) {
  *found = false;
  int rc = Run(c, "SELECT ROWVER FROM ZNTRVC WHERE " + Where(c) + " AND KEYVER = '" + key + "'");
  if (rc != 0) return rc;
  RowBuffer rows{};
  rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->versionStmt, static_cast<uint16_t>(2), &rows);
  AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->versionStmt);
  if (rc == 0) rc = RB_ToNarrow(&rows);  // a Unicode client reads the digits as 16-bit text
  if (rc == 0 && rows.rowCount > 1) rc = KX_ERR_GENERAL;  // one version per key
  if (rc == 0 && rows.rowCount == 1 && rows.colCount >= 1) {
    const unsigned char* p = nullptr;
    size_t n = 0;
    if (scs_p_ValueBytes(&rows.columns[0], 0, &p, &n)) {
      version->assign(reinterpret_cast<const char*>(p), n);
      // CHAR columns come back padded.
      while (!version->empty() && version->back() == ' ') version->pop_back();
      *found = true;
    }
  }
  RB_Free(&rows);
  return rc;
}

// Opens an agent connection as the cursor's connection was opened, its
// options included. The agent takes the option texts over: it gets copies.
int ConnectLike(const ScsConn* info, AgentHandle* conn) {
  ConnectBlock block = info->block;
  AgentConnOptions options{};
  if (info->block.connOptions != nullptr) {
    if (!SCS_CopyConnOptions(&options, info->block.connOptions)) return KX_ERR_NOMEM;
    block.connOptions = &options;
  }
  const int rc = AgentCall(Agent(), &AgentOps::DRV_Connect, info->env, &block, conn);
  SCS_FreeConnOptions(&options);  // whatever the agent did not take
  return rc;
}

}  // namespace

void RVC_DigestToHex(const uint8_t* bytes, size_t n, char* out, size_t capacity, size_t* length) {
  static const char kDigits[] = "0123456789ABCDEF";
  size_t done = 0;
  if (capacity > 0) {
    const size_t fit = (capacity - 1) / 2;
    if (n > fit) n = fit;
    for (; done < n; ++done) {
      out[2 * done] = kDigits[bytes[done] >> 4];
      out[2 * done + 1] = kDigits[bytes[done] & 0xF];
    }
    out[2 * done] = '\0';
  }
  if (length != nullptr) *length = 2 * done;
}

int RVC_RowDigest(const RowBuffer* rb, int32_t row, uint16_t columns, uint8_t digest[16]) {
  if (rb == nullptr || row < 0 || row >= rb->rowCount || columns > rb->colCount) return KX_ERR_GENERAL;
  MD5Context ctx;
  MD5Init(&ctx);
  // Each value is marked and length-prefixed: ("ab", "c") and ("a", "bc")
  // differ, and so do NULL and the empty value.
  for (uint16_t i = 0; i < columns; ++i) {
    const unsigned char* p = nullptr;
    size_t n = 0;
    if (!scs_p_ValueBytes(&rb->columns[i], row, &p, &n)) {
      const uint8_t null = 0;
      MD5Update(&ctx, &null, 1);
      continue;
    }
    uint8_t head[9];
    head[0] = 1;
    const uint64_t len = n;
    for (int b = 0; b < 8; ++b) head[1 + b] = static_cast<uint8_t>(len >> (8 * b));
    MD5Update(&ctx, head, sizeof head);
    // MD5Update takes 32-bit lengths: long values go in pieces.
    while (n > 0) {
      const uint32_t piece = n > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(n);
      if (p != nullptr) MD5Update(&ctx, p, piece);
      p = p != nullptr ? p + piece : nullptr;
      n -= piece;
    }
  }
  MD5Final(digest, &ctx);
  return 0;
}

int RVC_Open(ScsCursor* c) {
  ScsConn* info = c->connInfo;
  if (info == nullptr) return KX_ERR_GENERAL;
  if (c->versionStmt == 0) {
    // The network connect runs under no lock of the layer's: other cursors
    // of the process go on meanwhile.
    AgentHandle conn = 0;
    int rc = ConnectLike(info, &conn);
    if (rc != 0) return rc;
    AgentHandle stmt = 0;
    rc = AgentCall(Agent(), &AgentOps::DRV_AllocStmt, conn, &stmt);
    if (rc != 0) {
      c->versionConn = conn;
      TakeMessages(c);
      c->versionConn = 0;
      AgentCall(Agent(), &AgentOps::DRV_Disconnect, conn);
      return rc;
    }
    c->versionConn = conn;
    c->versionStmt = stmt;
    try {
      c->versionConnKey = ProcessPart() + Hex32(c->conn);
      c->versionCursKey = Hex32(c->stmt);
    } catch (const std::bad_alloc&) {
      RVC_Release(c);
      return KX_ERR_NOMEM;
    }
  }
  // Versions left under these handles by an earlier statement are not this one's.
  const int rc = Run(c, "DELETE FROM ZNTRVC WHERE " + Where(c));
  if (rc != 0) {
    TakeMessages(c);
    SCS_PostMsg(c, "Check that the table ZNTRVC exists", "IM926");
    c->versionConnKey.clear();  // nothing stored to remove
    RVC_Release(c);
  }
  return rc;
}

int RVC_CheckRows(ScsCursor* c, const RowBuffer* keys, int32_t firstKey, uint16_t keyCols, RowStatusSet* set) {
  if (c->versionStmt == 0 || set == nullptr || set->rows == nullptr) return 0;
  const int32_t n = std::min(set->rows->rowCount, set->count);
  int rc = 0;
  for (int32_t j = 0; rc == 0 && j < n; ++j) {
    if (set->statuses[j] != SCS_ROW_SUCCESS) continue;
    uint8_t kd[16], rd[16];
    rc = RVC_RowDigest(keys, firstKey + j, keyCols, kd);
    if (rc == 0) rc = RVC_RowDigest(set->rows, j, set->rows->colCount, rd);
    if (rc != 0) break;
    char key[33], version[33];
    RVC_DigestToHex(kd, 16, key, sizeof key, nullptr);
    RVC_DigestToHex(rd, 16, version, sizeof version, nullptr);
    bool found = false;
    std::string stored;
    try {
      rc = ReadVersion(c, key, &found, &stored);
      if (rc != 0) break;
      if (!found) {
        rc = Run(c, "INSERT INTO ZNTRVC (HCONN, HCURS, KEYVER, ROWVER) VALUES ('" + c->versionConnKey + "', '" +
                        c->versionCursKey + "', '" + key + "', '" + version + "')");
      } else if (stored != version) {
        // Changed since this cursor last saw it: reported once, then the
        // new version is the one kept.
        set->statuses[j] = SCS_ROW_UPDATED;
        rc = Run(c, "UPDATE ZNTRVC SET ROWVER = '" + std::string(version) + "' WHERE " + Where(c) +
                        " AND KEYVER = '" + key + "'");
      }
    } catch (const std::bad_alloc&) {
      rc = KX_ERR_NOMEM;
    }
  }
  if (rc != 0) TakeMessages(c);
  return rc;
}

void RVC_Release(ScsCursor* c) {
  if (c->versionStmt != 0) {
    if (!c->versionConnKey.empty()) {
      try {
        Run(c, "DELETE FROM ZNTRVC WHERE " + Where(c));
      } catch (const std::bad_alloc&) {
        // The rows stay behind; the next statement under these handles clears them.
      }
    }
    AgentCall(Agent(), &AgentOps::DRV_FreeStmt, c->versionStmt);
  }
  if (c->versionConn != 0) AgentCall(Agent(), &AgentOps::DRV_Disconnect, c->versionConn);
  c->versionStmt = 0;
  c->versionConn = 0;
  c->versionConnKey.clear();
  c->versionCursKey.clear();
}

}  // namespace kx
