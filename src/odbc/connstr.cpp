// Connect strings: parsing into the keyword table, completion from the
// data-source settings, and the connect itself (SQLDriverConnect, SQLConnect).
#include "odbc/connstr.h"

#include <limits.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "odbc/conn.h"
#include "odbc/handle_layer.h"
#include "odbc/libmain.h"
#include "odbc/login_dialog.h"
#include "odbc/odbc_installer.h"
#include "odbc/records.h"
#include "odbc/trace.h"
#include "util/errcodes.h"
#include "util/str_util.h"
#include "util/text_conv.h"

namespace kx {

int32_t g_dlfFlag = 0;

ConnKeyword g_connKeywords[CK_COUNT] = {
    {"DSN", nullptr, 1, 0, CKK_TEXT, 0, nullptr},
    {"UID", "UID", 1, 129, CKK_TEXT, 0, nullptr},
    {"PWD", "PWD", 0, 129, CKK_TEXT, 0, nullptr},
    {"JDBC", "JdbcDriver", 1, 256, CKK_TEXT, 0, nullptr},
    {"URL", "URLString", 1, 513, CKK_TEXT, 0, nullptr},
    {"READONLY", "ReadOnly", 1, 5, CKK_BOOL, 0, nullptr},
    {"FBS", "FetchBufferSize", 1, 5, CKK_NUMBER, 0, nullptr},
    {"NLB", "NoLoginBox", 1, 5, CKK_BOOL, 0, nullptr},
    {"MAXROWS", "MaxRows", 1, 5, CKK_NUMBER, 0, nullptr},
    {"NOAC", "NoAutoCommit", 1, 6, CKK_BOOL, 0, nullptr},
    {"NRSSL", "NoRowsetSizeLimit", 1, 6, CKK_BOOL, 0, nullptr},
    {"FDSN", "File DSN", 0, 5, CKK_TEXT, 0, nullptr},
    {"INITSQL", "InitialSQL", 1, 81, CKK_TEXT, 0, nullptr},
    {"DYN_CURS_SENSITIVITY", "DynCursSensitivity", 1, 10, CKK_LETTER, 0, nullptr},
    {"DLF", "DeferLongFetch", 1, 6, CKK_BOOL, 0, nullptr},
    {"J_DCAT", "JetDropCatalogFromDbMetaCalls", 1, 5, CKK_BOOL, 0, nullptr},
    {"J_DSCH", "JetDropSchemaFromDbMetaCalls", 1, 5, CKK_BOOL, 0, nullptr},
    {"J_SSTOFF", "JetSQLStatisticsOff", 1, 5, CKK_BOOL, 0, nullptr},
    {"J_NSQI", "JetNoSupportOfQuotedIdentifier", 1, 5, CKK_BOOL, 0, nullptr},
    {"PNSOSC", "patchNullSizeOfSqlChar", 1, 12, CKK_NUMBER, 0, nullptr},
    {"NSSSE", "NoSupportOfSearchStringEscape", 1, 5, CKK_BOOL, 0, nullptr},
    {"DRIVER", nullptr, 1, 81, CKK_TEXT, 0, nullptr},
    {"FILEDSN", nullptr, 1, 256, CKK_TEXT, 0, nullptr},
    {"LOGJCALLS", "LogJavaCalls", 1, 5, CKK_TEXT, 0, nullptr},
    {"SQLDBMSNAME", "SqlDbmsName", 1, 41, CKK_TEXT, 0, nullptr},
    {"MASE", "MultipleActiveStmtsEmul", 1, 5, CKK_BOOL, 0, nullptr},
    {"IV", "IncludeViews", 1, 5, CKK_BOOL, 0, nullptr},
    {"IA", "IncludeAll", 1, 5, CKK_BOOL, 0, nullptr},
    {"NEGPRECFIX", "NegPrecFix", 1, 5, CKK_BOOL, 0, nullptr},
    {"JET", "JET", 1, 6, CKK_BOOL, 0, nullptr},
};

// ---- values -----------------------------------------------------------------------

const char* ConnKwValue(int row) {
  const char* v = g_connKeywords[row].value;
  return v != nullptr ? v : "";
}

bool ConnKwBool(int row) {
  const char* v = ConnKwValue(row);
  return strcasecmp(v, "TRUE") == 0 || strcasecmp(v, "YES") == 0 || strcmp(v, "1") == 0;
}

int32_t ConnKwNumber(int row) {
  const char* v = ConnKwValue(row);
  bool negative = false;
  if (*v == '-' || *v == '+') negative = *v++ == '-';
  int64_t n = 0;
  for (; isdigit(static_cast<unsigned char>(*v)); ++v) {
    n = n * 10 + (*v - '0');
    if (n > INT32_MAX) break;  // keep the leading digits that fit
  }
  if (n > INT32_MAX) n = INT32_MAX;
  return static_cast<int32_t>(negative ? -n : n);
}

int JDB_DynCursSensitivityParse(const char* text) {
  if (text == nullptr) return DCS_LOW;
  if (*text == 'D' || *text == 'd') return DCS_DISABLED;
  if (*text == 'H' || *text == 'h') return DCS_HIGH;
  return DCS_LOW;
}

const char* JDB_DynCursSensitivityName(int value) {
  switch (value) {
    case DCS_HIGH:
      return "HIGH";
    case DCS_DISABLED:
      return "DISABLED";
    default:
      return "LOW";
  }
}

// ---- parsing ------------------------------------------------------------------------

namespace {

void SetValue(int row, const char* text) {
  free(g_connKeywords[row].value);
  g_connKeywords[row].value = strdup(text != nullptr ? text : "");
}

// The value without one outer pair of braces that enclose all of it.
std::string StripBraces(const char* v) {
  size_t n = strlen(v);
  if (n < 2 || v[0] != '{' || v[n - 1] != '}') return v;
  int depth = 0;
  for (size_t i = 0; i < n; ++i) {
    if (v[i] == '{') {
      ++depth;
    } else if (v[i] == '}' && depth > 0 && --depth == 0) {
      if (i != n - 1) return v;  // the first brace closes before the end
    }
  }
  return depth == 0 ? std::string(v + 1, n - 2) : std::string(v);
}

constexpr int kUtf8Slack = 4;

// Cuts a UTF-8 text to at most maxBytes bytes without splitting a character.
void CutUtf8(std::string& s, size_t maxBytes) {
  if (s.size() <= maxBytes) return;
  size_t n = maxBytes;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
}

// Reads one setting of a row that the connect string did not give. The
// settings are read with the 8-bit installer functions in both modes: the
// 8-bit text is already UTF-8 here, while unixODBC's 16-bit forms widen
// byte by byte and would garble any non-ASCII value.
bool CompleteRow(int row, const std::string& dsn, const std::string& fileDsn) {
  ConnKeyword& kw = g_connKeywords[row];
  const int size = kw.size;
  // Read a few bytes more than kept, so that the cut below sees whether the
  // last kept character is whole.
  const int room = size + kUtf8Slack;
  std::string buf(static_cast<size_t>(room), '\0');
  if (!dsn.empty()) {
    SQLGetPrivateProfileString(dsn.c_str(), kw.iniName, "", buf.data(), room, "odbc.ini");
    if (buf[0] == '\0' && strcmp(kw.iniName, "UID") == 0) {
      SQLGetPrivateProfileString(dsn.c_str(), "LastUser", "", buf.data(), room, "odbc.ini");
    }
  } else if (!fileDsn.empty()) {
    unsigned short len = 0;
    if (!SQLReadFileDSN(fileDsn.c_str(), "ODBC", kw.keyword, buf.data(),
                        static_cast<unsigned short>(room), &len)) {
      buf[0] = '\0';
    }
  } else {
    SQLGetPrivateProfileString("Default", kw.iniName, "", buf.data(), room, "odbc.ini");
  }
  buf.resize(strlen(buf.c_str()));
  CutUtf8(buf, static_cast<size_t>(size - 1));
  kw.value = strdup(buf.c_str());
  return kw.value != nullptr;
}

}  // namespace

void ConnStrParse(char* text, char mode) {
  (void)mode;
  for (ConnKeyword& kw : g_connKeywords) {
    free(kw.value);
    kw.value = nullptr;
    kw.supplied = 0;
  }
  if (text == nullptr) return;

  char* pair = text;
  while (*pair != '\0') {
    int depth = 0;
    char* end = pair;
    for (; *end != '\0'; ++end) {
      if (*end == '{') {
        ++depth;
      } else if (*end == '}') {
        if (depth > 0) --depth;  // a stray '}' is an ordinary character
      } else if (*end == ';' && depth == 0) {
        break;
      }
    }
    const bool last = *end == '\0';
    *end = '\0';
    if (char* eq = strchr(pair, '='); eq != nullptr) {
      *eq = '\0';
      for (int row = 0; row < CK_COUNT; ++row) {
        if (strcasecmp(pair, g_connKeywords[row].keyword) == 0) {
          SetValue(row, StripBraces(eq + 1).c_str());
          g_connKeywords[row].supplied = 1;
          break;
        }
      }
    }
    if (last) break;
    pair = end + 1;
  }

  const std::string dsn = ConnKwValue(CK_DSN);
  const std::string fileDsn = ConnKwValue(CK_FILEDSN);
  for (int row = 0; row < CK_COUNT; ++row) {
    ConnKeyword& kw = g_connKeywords[row];
    if (kw.supplied || kw.iniName == nullptr) continue;
    if (!CompleteRow(row, dsn, fileDsn)) break;  // out of memory: the rest stay absent
  }
}

char* DsnDriverName() {
  const char* dsn = ConnKwValue(CK_DSN);
  char buf[255] = "";
  if (*dsn != '\0') {
    SQLGetPrivateProfileString("ODBC Data Sources", dsn, "", buf, sizeof buf, "odbc.ini");
  }
  return strdup(buf);
}

std::string NamedDriver() {
  std::string name;
  if (g_connKeywords[CK_DRIVER].supplied) {
    const char* v = ConnKwValue(CK_DRIVER);
    const char* open = strchr(v, '{');
    const char* start = open != nullptr ? open + 1 : v;
    const char* close = strchr(start, '}');
    name.assign(start, close != nullptr ? static_cast<size_t>(close - start) : strlen(start));
    return name;
  }
  char buf[PATH_MAX] = "";
  const char* dsn = ConnKwValue(CK_DSN);
  const char* fileDsn = ConnKwValue(CK_FILEDSN);
  if (*dsn != '\0') {
    SQLGetPrivateProfileString(dsn, "Driver", "", buf, sizeof buf, "odbc.ini");
  } else if (*fileDsn != '\0') {
    unsigned short len = 0;
    if (!SQLReadFileDSN(fileDsn, "ODBC", "DRIVER", buf, sizeof buf, &len)) buf[0] = '\0';
  }
  if (buf[0] != '\0') return buf;
  if (char* listed = DsnDriverName(); listed != nullptr) {
    name = listed;
    free(listed);
  }
  return name;
}

// ---- composing ------------------------------------------------------------------------

namespace {

// Whether "{v}" parses back to v: every prefix opens at least as many braces
// as it closes, and all are closed at the end.
bool BracesBalanced(const char* v) {
  int depth = 0;
  for (; *v != '\0'; ++v) {
    if (*v == '{') ++depth;
    if (*v == '}' && --depth < 0) return false;
  }
  return depth == 0;
}

}  // namespace

bool ConnStrAppend(std::string& out, const char* key, const char* value) {
  const char* v = value != nullptr ? value : "";
  if (!out.empty()) out += ';';
  out += key;
  out += '=';
  if (strpbrk(v, ";{}") == nullptr) {
    out += v;
    return true;
  }
  out += '{';
  out += v;
  out += '}';
  return BracesBalanced(v);
}

namespace {

bool IsSecretKey(const std::string& key) {
  static const char* const kSecrets[] = {"PWD", "PASSWORD", "PASSWD", "SSLPASSWORD"};
  for (const char* s : kSecrets) {
    if (strcasecmp(key.c_str(), s) == 0) return true;
  }
  return false;
}

}  // namespace

std::string ConnStrMasked(const char* text) {
  if (text == nullptr) return std::string();
  std::string out;
  const char* p = text;
  // Scans "key=value" items separated by ';' (and '&' / '?' inside URLs) at
  // any brace depth; a secret key's value is replaced up to the end of its
  // item at the same depth.
  std::string key;
  while (*p != '\0') {
    char c = *p;
    if (c == '=') {
      out += c;
      ++p;
      if (IsSecretKey(key)) {
        int depth = 0;
        while (*p != '\0') {
          if (*p == '{') {
            ++depth;
          } else if (*p == '}') {
            if (depth == 0) break;
            --depth;
          } else if ((*p == ';' || *p == '&') && depth == 0) {
            break;
          }
          ++p;
        }
        out += "***";
      }
      key.clear();
      continue;
    }
    if (c == ';' || c == '{' || c == '}' || c == '&' || c == '?' || c == '/' || c == ':') {
      key.clear();
    } else if (!isspace(static_cast<unsigned char>(c))) {
      key += c;
    }
    out += c;
    ++p;
  }
  return out;
}

// ---- connecting -----------------------------------------------------------------------

namespace {

const char* OrNull(const char* s) { return s != nullptr ? s : "<null>"; }

void ReplaceText(char*& member, const char* value) {
  free(member);
  member = nullptr;
  if (value != nullptr && *value != '\0') member = strdup(value);
}

// The agent's options of one connection open; the texts the agent does not
// take over are freed with it.
struct OwnedConnOptions {
  AgentConnOptions o{};
  OwnedConnOptions() = default;
  OwnedConnOptions(const OwnedConnOptions&) = delete;
  OwnedConnOptions& operator=(const OwnedConnOptions&) = delete;
  ~OwnedConnOptions() {
    free(o.initSql);
    free(o.sqlDbmsName);
  }
};

void FillAgentOptions(AgentConnOptions& o) {
  o.dynCursSensitivity = JDB_DynCursSensitivityParse(ConnKwValue(CK_DYN_CURS_SENSITIVITY));
  o.jet = ConnKwBool(CK_JET) ? 1 : 0;
  o.noac = ConnKwBool(CK_NOAC) ? 1 : 0;
  o.maxRows = ConnKwNumber(CK_MAXROWS);
  o.nrssl = ConnKwBool(CK_NRSSL) ? 1 : 0;
  ReplaceText(o.initSql, ConnKwValue(CK_INITSQL));
  o.jSstoff = ConnKwBool(CK_J_SSTOFF) ? 1 : 0;
  o.jDcat = ConnKwBool(CK_J_DCAT) ? 1 : 0;
  o.jDsch = ConnKwBool(CK_J_DSCH) ? 1 : 0;
  o.jNsqi = ConnKwBool(CK_J_NSQI) ? 1 : 0;
  o.pnsosc = ConnKwNumber(CK_PNSOSC);
  o.nssse = ConnKwBool(CK_NSSSE) ? 1 : 0;
  ReplaceText(o.sqlDbmsName, ConnKwValue(CK_SQLDBMSNAME));
  o.negPrecFix = ConnKwBool(CK_NEGPRECFIX) ? 1 : 0;
  g_dlfFlag = ConnKwBool(CK_DLF) ? 1 : 0;
}

const char* TF(bool b) { return b ? "TRUE" : "FALSE"; }

// Appends key=value when the value can be written so that it reads back as
// itself; a value with unbalanced braces cannot, and is left out rather than
// handed back changed (an application that connects again with the output
// would otherwise send a different password or URL).
void AppendExact(std::string& out, const char* key, const char* value) {
  const size_t mark = out.size();
  if (!ConnStrAppend(out, key, value)) out.resize(mark);
}

std::string ComposeOutput(ConnRecord* conn, const std::string& dsnName, bool fileDsnOnly,
                          const AgentConnOptions& o) {
  std::string out;
  const bool hasDriver = g_connKeywords[CK_DRIVER].supplied != 0;
  if (!hasDriver) {
    if (fileDsnOnly) {
      AppendExact(out, "FILEDSN", ConnKwValue(CK_FILEDSN));
    } else {
      AppendExact(out, "DSN", dsnName.c_str());
    }
    AppendExact(out, "UID", conn->user);
    AppendExact(out, "PWD", conn->password);
    out += ";FBS=" + std::to_string(conn->cn_fetchSize);
    return out;
  }
  // The driver name always goes in braces, as driver names usually do.
  out = "DRIVER={";
  out += ConnKwValue(CK_DRIVER);
  out += '}';
  AppendExact(out, "UID", conn->user);
  AppendExact(out, "PWD", conn->password);
  AppendExact(out, "JDBC", conn->cn_dbpath);
  AppendExact(out, "URL", conn->cn_dbopts);
  out += ";FBS=" + std::to_string(conn->cn_fetchSize);
  AppendExact(out, "READONLY", ConnKwValue(CK_READONLY));
  AppendExact(out, "NLB", ConnKwValue(CK_NLB));
  out += ";MAXROWS=" + std::to_string(o.maxRows);
  out += std::string(";NOAC=") + TF(o.noac);
  out += std::string(";DYN_CURS_SENSITIVITY=") + JDB_DynCursSensitivityName(o.dynCursSensitivity);
  out += std::string(";DLF=") + TF(g_dlfFlag);
  out += std::string(";NRSSL=") + TF(o.nrssl);
  out += std::string(";J_DCAT=") + TF(o.jDcat);
  out += std::string(";J_DSCH=") + TF(o.jDsch);
  out += std::string(";J_SSTOFF=") + TF(o.jSstoff);
  out += std::string(";J_NSQI=") + TF(o.jNsqi);
  out += ";PNSOSC=" + std::to_string(static_cast<uint32_t>(o.pnsosc));
  out += std::string(";NSSSE=") + TF(o.nssse);
  AppendExact(out, "SQLDBMSNAME", ConnKwValue(CK_SQLDBMSNAME));
  AppendExact(out, "MASE", ConnKwValue(CK_MASE));
  AppendExact(out, "IV", ConnKwValue(CK_IV));
  AppendExact(out, "IA", ConnKwValue(CK_IA));
  out += std::string(";NEGPRECFIX=") + TF(o.negPrecFix);
  out += ";Server=Quillmar";
  return out;
}

bool BlankLed(int row) {
  const char* v = g_connKeywords[row].value;
  return v == nullptr || *v == '\0' || isspace(static_cast<unsigned char>(*v));
}

// The user of the NLB rule: the "UID" entry of the data source (or of the
// file data source, or of "Default"), at most 128 characters.
void ReadNlbUser() {
  if (g_connKeywords[CK_UID].supplied && *ConnKwValue(CK_UID) != '\0') return;
  char buf[129 + kUtf8Slack] = "";
  const char* dsn = ConnKwValue(CK_DSN);
  const char* fileDsn = ConnKwValue(CK_FILEDSN);
  if (*dsn == '\0' && *fileDsn != '\0') {
    unsigned short len = 0;
    if (!SQLReadFileDSN(fileDsn, "ODBC", "UID", buf, sizeof buf, &len)) buf[0] = '\0';
  } else {
    SQLGetPrivateProfileString(*dsn != '\0' ? dsn : "Default", "UID", "", buf, sizeof buf,
                               "odbc.ini");
  }
  std::string user = buf;
  CutUtf8(user, 128);
  SetValue(CK_UID, user.c_str());
  g_connKeywords[CK_UID].supplied = 1;
}

bool StoreCopy(char*& member, const char* value) {
  free(member);
  member = strdup(value != nullptr ? value : "");
  return member != nullptr;
}

}  // namespace

SQLRETURN DriverConnectImpl(ConnRecord* conn, SQLHWND window, const char* in,
                            SQLSMALLINT inLength, char* out, SQLSMALLINT outCapacity,
                            SQLSMALLINT* outLength, SQLUSMALLINT completion, char mode) {
  if (conn->state == CONN_CONNECTED) {
    conn->error = KX_ERR_CONNECTION_IN_USE;
    return SQL_ERROR;
  }
  if ((inLength < 0 && inLength != SQL_NTS) || outCapacity < 0) {
    conn->error = KX_ERR_BAD_LENGTH;
    return SQL_ERROR;
  }
  if (completion != SQL_DRIVER_NOPROMPT && completion != SQL_DRIVER_COMPLETE &&
      completion != SQL_DRIVER_PROMPT && completion != SQL_DRIVER_COMPLETE_REQUIRED) {
    conn->error = KX_ERR_BAD_COMPLETION;
    return SQL_ERROR;
  }

  // The input as received, kept whole for the dialog; the table parse cuts a
  // second copy.
  std::string input;
  if (in != nullptr && inLength != 0 && !(inLength == SQL_NTS && *in == '\0')) {
    input = inLength == SQL_NTS ? std::string(in) : std::string(in, static_cast<size_t>(inLength));
    input.resize(strlen(input.c_str()));
  }
  if (TraceOn()) TracePrintf("ConnStr In =%s", ConnStrMasked(input.c_str()).c_str());
  std::string work = input;
  ConnStrParse(work.data(), mode);

  const std::string driverName = NamedDriver();

  bool prompt = false;
  if (completion == SQL_DRIVER_PROMPT) {
    prompt = true;
  } else if (completion == SQL_DRIVER_COMPLETE || completion == SQL_DRIVER_COMPLETE_REQUIRED) {
    prompt = BlankLed(CK_UID) || BlankLed(CK_PWD);
  }
  if (ConnKwBool(CK_NLB)) {
    prompt = false;
    ReadNlbUser();
  }
  // Without a dialog every mode behaves as SQL_DRIVER_NOPROMPT.
  const LoginDialog* dialog = prompt ? LoginDialogGet() : nullptr;
  if (dialog != nullptr) {
    char* result = nullptr;
    int rc = dialog->login(window, driverName.c_str(), input.c_str(), &result, mode);
    if (rc != 1) {
      dialog->release(result);
      ConnStrParse(nullptr, mode);
      return SQL_NO_DATA;
    }
    std::string edited = result != nullptr ? result : "";
    dialog->release(result);
    ConnStrParse(edited.data(), mode);
  }

  // Filled afresh for every connect: nothing of an earlier one reaches this one.
  OwnedConnOptions options;
  FillAgentOptions(options.o);

  const char* user = ConnKwValue(CK_UID);
  const char* password = ConnKwValue(CK_PWD);
  const bool noDsn = *ConnKwValue(CK_DSN) == '\0';
  const bool fileDsnOnly = noDsn && *ConnKwValue(CK_FILEDSN) != '\0';
  std::string dsnName = noDsn ? (fileDsnOnly ? "" : "Default") : ConnKwValue(CK_DSN);

  ConnFreeStrings(conn);
  bool stored = StoreCopy(conn->cn_dbpath, ConnKwValue(CK_JDBC)) &&
                StoreCopy(conn->cn_dbopts, ConnKwValue(CK_URL)) && StoreCopy(conn->user, user) &&
                StoreCopy(conn->password, password);

  conn->flags &= static_cast<uint16_t>(~(CF_NLB | CF_READONLY | CF_ASYNC | CF_MASE | CF_IV | CF_IA));
  // Read-only when the data source or the application (SQL_ATTR_ACCESS_MODE
  // set before connecting) asks for it.
  if (ConnKwBool(CK_READONLY) || (conn->attrsSet & CA_READ_ONLY) != 0) conn->flags |= CF_READONLY;
  if (ConnKwBool(CK_MASE)) conn->flags |= CF_MASE;
  if (ConnKwBool(CK_IV)) conn->flags |= CF_IV;
  if (ConnKwBool(CK_IA)) conn->flags |= CF_IA;

  // A file data source alone names no data source: the agent then sees none.
  if (stored && !fileDsnOnly) stored = StoreCopy(conn->dsn, dsnName.c_str());
  // The driver's own settings come from the section the application chose.
  if (stored && !driverName.empty()) stored = StoreCopy(conn->setupSection, driverName.c_str());
  // The trace opens at the first connect whose section names a DebugFile
  // (ZNT_DEBUGFILE opens it at load): only a connect knows which of the
  // driver's sections the application chose.
  if (stored && TraceStream(TRACE_ODBC) == nullptr) {
    TraceOpen(TRACE_ODBC, conn->setupSection);
    if (TraceStream(TRACE_ODBC) != nullptr) OpenLogSinks();
  }
  conn->cn_fetchSize = static_cast<uint32_t>(ConnKwNumber(CK_FBS));
  if (conn->cn_fetchSize == 0) conn->cn_fetchSize = 60;
  if (conn->appName == nullptr) conn->appName = strdup(s_progname());
  if (!stored) {
    ConnStrParse(nullptr, mode);
    conn->error = KX_ERR_NOMEM;
    return SQL_ERROR;
  }

  const std::string output = ComposeOutput(conn, dsnName, fileDsnOnly, options.o);

  if (TraceOn()) {
    TracePrintf("connStr=[%s]", in != nullptr ? ConnStrMasked(input.c_str()).c_str() : "<null>");
    for (const ConnKeyword& kw : g_connKeywords) {
      if (!kw.traced) continue;
      std::string data = kw.value != nullptr ? ConnStrMasked(kw.value) : "<null>";
      TracePrintf("  key=[%s] data=[%s] supplied=%d", kw.keyword, data.c_str(), kw.supplied);
    }
    TracePrintf("cn_dbpath=[%s] cn_dbopts=[%s] cn_readonly=%d", OrNull(conn->cn_dbpath),
                conn->cn_dbopts != nullptr ? ConnStrMasked(conn->cn_dbopts).c_str() : "<null>",
                (conn->flags & CF_READONLY) != 0 ? 1 : 0);
    TracePrintf("cn_fetchSize=%d cn_dbhost=[%s] cn_svtype=[%s]",
                static_cast<int>(conn->cn_fetchSize), OrNull(conn->cn_dbhost),
                OrNull(conn->cn_svtype));
  }

  ConnStrParse(nullptr, mode);
  ConnOpen(conn, mode, &options.o);

  SQLRETURN rc = conn->state == CONN_CONNECTED ? SQL_SUCCESS : SQL_ERROR;
  // Connected with a warning of the open (an option the data source did not take).
  if (rc == SQL_SUCCESS && conn->error != 0) rc = SQL_SUCCESS_WITH_INFO;
  if (rc != SQL_ERROR) {
    int16_t len = 0;
    int cut = StrCopyOutLen(output.c_str(), out, static_cast<uint16_t>(outCapacity), &len);
    if (outLength != nullptr) *outLength = len;
    if (cut != 0 && out != nullptr) {
      conn->error = KX_ERR_DATA_TRUNCATED;
      rc = SQL_SUCCESS_WITH_INFO;
    }
  }
  if (TraceOn()) {
    TracePrintf("cmd (%d)=|%s|", static_cast<int>(output.size()),
                ConnStrMasked(output.c_str()).c_str());
  }
  return rc;
}

SQLRETURN ConnDriverConnect(ConnRecord* conn, SQLHWND window, const char* in,
                              SQLSMALLINT inLength, char* out, SQLSMALLINT outCapacity,
                              SQLSMALLINT* outLength, SQLUSMALLINT completion, char mode) {
  std::lock_guard<std::recursive_mutex> lock(ConnectLock());
  return DriverConnectImpl(conn, window, in, inLength, out, outCapacity, outLength, completion,
                           mode);
}

SQLRETURN ConnConnect(ConnRecord* conn, const char* dsn, SQLSMALLINT dsnLength,
                          const char* uid, SQLSMALLINT uidLength, const char* pwd,
                          SQLSMALLINT pwdLength, char mode) {
  if (conn->state == CONN_CONNECTED) {
    conn->error = KX_ERR_CONNECTION_IN_USE;
    return SQL_ERROR;
  }
  for (SQLSMALLINT len : {dsnLength, uidLength, pwdLength}) {
    if (len < 0 && len != SQL_NTS) {
      conn->error = KX_ERR_BAD_LENGTH;
      return SQL_ERROR;
    }
  }
  auto text = [](const char* s, SQLSMALLINT n) {
    if (s == nullptr) return std::string();
    std::string v = n == SQL_NTS ? std::string(s) : std::string(s, static_cast<size_t>(n));
    v.resize(strlen(v.c_str()));
    return v;
  };
  const std::string d = text(dsn, dsnLength), u = text(uid, uidLength), p = text(pwd, pwdLength);
  // An empty user or password leaves the data source's own in force: tools
  // such as isql pass "" when the command line names none.
  std::string connStr;
  bool ok = ConnStrAppend(connStr, "DSN", d.c_str());
  if (!u.empty()) ok = ConnStrAppend(connStr, "UID", u.c_str()) && ok;
  if (!p.empty()) ok = ConnStrAppend(connStr, "PWD", p.c_str()) && ok;
  if (TraceOn()) {
    std::string traced;
    ConnStrAppend(traced, "DSN", d.c_str());
    if (!u.empty()) ConnStrAppend(traced, "UID", u.c_str());
    TracePrintf("%s%s", traced.c_str(), p.empty() ? "" : ";PWD=***");
  }
  if (!ok) {
    // A value whose braces cannot be quoted would change the meaning of the
    // composed connect string.
    conn->error = KX_ERR_BAD_ARGUMENT;
    return SQL_ERROR;
  }
  // The output string is not the caller's: asking for none keeps a long one
  // from turning into a truncation warning.
  return ConnDriverConnect(conn, nullptr, connStr.c_str(), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT, mode);
}

}  // namespace kx
