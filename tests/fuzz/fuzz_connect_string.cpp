// Any connect string through SQLDriverConnect over the test agent: the
// keyword table, its completion from an empty configuration, the connection it
// opens and the output connect string, written into a buffer of any size.
// Every value a complete output names reads back as the one the connection
// uses, and the output connects again. And any value through
// the composer: whenever it says the value can be written, the parser reads
// the same value back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "odbc/connstr.h"
#include "fuzz/core_session.h"

namespace {

constexpr SQLUSMALLINT kCompletions[] = {SQL_DRIVER_NOPROMPT, SQL_DRIVER_COMPLETE,
                                         SQL_DRIVER_COMPLETE_REQUIRED, SQL_DRIVER_PROMPT};

// Connects with text and returns the result; out receives the output
// connect string (capacity bytes exactly, so that a write past it is caught).
SQLRETURN ConnectOnce(SQLHDBC dbc, const std::string& text, bool nts, SQLSMALLINT capacity,
                      SQLUSMALLINT completion, std::string* out, SQLSMALLINT* outLen) {
  std::unique_ptr<SQLCHAR[]> buffer(capacity > 0 ? new SQLCHAR[static_cast<size_t>(capacity)] : nullptr);
  if (capacity > 0) memset(buffer.get(), 0x5A, static_cast<size_t>(capacity));
  std::vector<SQLCHAR> in(text.begin(), text.end());
  in.push_back(0);
  *outLen = -7;
  const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, in.data(),
                                        nts ? SQL_NTS : static_cast<SQLSMALLINT>(text.size()),
                                        buffer.get(), capacity, outLen, completion);
  out->clear();
  if (SQL_SUCCEEDED(rc) && capacity > 0) {
    // The output is terminated inside the buffer, and its length is the
    // whole output's, at least what was written.
    const void* nul = memchr(buffer.get(), 0, static_cast<size_t>(capacity));
    if (nul == nullptr) __builtin_trap();
    out->assign(reinterpret_cast<char*>(buffer.get()));
    if (*outLen < static_cast<SQLSMALLINT>(out->size())) __builtin_trap();
    if (rc == SQL_SUCCESS && *outLen != static_cast<SQLSMALLINT>(out->size())) __builtin_trap();
  }
  kx::fuzz::DrainDiagnostics(SQL_HANDLE_DBC, dbc);
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 4096) return 0;
  kx::fuzz::CoreSession& core = kx::fuzz::Core();
  const uint8_t mode = data[0];
  const SQLSMALLINT capacity = static_cast<SQLSMALLINT>((mode & 3) == 0 ? 0 : data[1] * 3);
  const SQLUSMALLINT completion = kCompletions[(mode >> 2) & 3];
  const bool nts = (mode & 0x10) != 0;
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  if (nts) text = text.c_str();

  std::string out;
  SQLSMALLINT outLen = 0;
  const SQLRETURN rc = ConnectOnce(core.dbc, text, nts, capacity, completion, &out, &outLen);
  if (SQL_SUCCEEDED(rc)) {
    // Every value the output names reads back as the one the connection uses.
    const kx::ConnRecord* conn = kx::fuzz::ConnOf(core.dbc);
    const struct {
      int row;
      std::string used;
    } values[] = {{kx::CK_UID, conn->user != nullptr ? conn->user : ""},
                  {kx::CK_PWD, conn->password != nullptr ? conn->password : ""},
                  {kx::CK_JDBC, conn->cn_dbpath != nullptr ? conn->cn_dbpath : ""},
                  {kx::CK_URL, conn->cn_dbopts != nullptr ? conn->cn_dbopts : ""}};
    SQLDisconnect(core.dbc);
    const bool complete = rc == SQL_SUCCESS && capacity > 0 && outLen < capacity && !out.empty();
    if (complete) {
      std::vector<char> copy(out.begin(), out.end());
      copy.push_back('\0');
      kx::ConnStrParse(copy.data(), 'A');
      for (const auto& v : values) {
        if (kx::g_connKeywords[v.row].supplied && v.used != kx::ConnKwValue(v.row)) __builtin_trap();
      }
      kx::ConnStrParse(nullptr, 'A');
      // And the output connects again.
      std::string again;
      SQLSMALLINT againLen = 0;
      if (!SQL_SUCCEEDED(ConnectOnce(core.dbc, out, true, capacity, SQL_DRIVER_NOPROMPT, &again, &againLen))) {
        __builtin_trap();
      }
      SQLDisconnect(core.dbc);
    }
  }

  // The composer and the parser agree on every value the composer accepts.
  const std::string value = text.c_str();
  std::string composed;
  if (kx::ConnStrAppend(composed, "UID", value.c_str())) {
    composed += ";PWD=x";
    std::vector<char> copy(composed.begin(), composed.end());
    copy.push_back('\0');
    kx::ConnStrParse(copy.data(), 'A');
    if (value != kx::ConnKwValue(kx::CK_UID) || strcmp(kx::ConnKwValue(kx::CK_PWD), "x") != 0) {
      __builtin_trap();
    }
    kx::ConnStrParse(nullptr, 'A');
  }
  // The masked copy of any text ends and hides what follows a password key.
  const std::string masked = kx::ConnStrMasked(text.c_str());
  if (!value.empty() && masked.empty()) __builtin_trap();
  return 0;
}
