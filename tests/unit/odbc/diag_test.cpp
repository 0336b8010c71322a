// Diagnostics: composition of agent messages and table codes, ODBC 2 and 3
// SQLSTATEs, consuming and reading, buffer bounds, and the field answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "core_fixture.h"
#include "odbc/diag.h"
#include "odbc/handlers.h"
#include "odbc/records.h"
#include "odbc/trace.h"
#include "support/test_agent.h"
#include "util/errcodes.h"

namespace kx {
namespace {

// An environment, a connection and a statement of it, with their lists.
class Diag : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<EnvrRecord>();
    conn_ = std::make_unique<ConnRecord>();
    stmt_ = std::make_unique<StmtRecord>();
    desc_ = std::make_unique<DescRecord>();
    env_->odbcVersion = SQL_OV_ODBC3;
    conn_->env = env_.get();
    stmt_->conn = conn_.get();
    desc_->stmt = stmt_.get();
  }
  void TearDown() override {
    for (HandleHead* h : {static_cast<HandleHead*>(env_.get()), static_cast<HandleHead*>(conn_.get()),
                          static_cast<HandleHead*>(stmt_.get()), static_cast<HandleHead*>(desc_.get())}) {
      MsgListFree(&h->messages);
    }
  }
  void Post(HandleHead* h, const char* text, int32_t native = 0) {
    ASSERT_EQ(MsgListAppend(&h->messages, text, native), 0);
  }
  // SQLGetDiagRec on a handle.
  SQLRETURN Rec(const DiagTarget& t, SQLSMALLINT n, std::string* state, std::string* text,
                SQLINTEGER* native = nullptr, SQLSMALLINT capacity = 512,
                SQLSMALLINT* length = nullptr) {
    SQLCHAR st[6] = "?????";
    SQLCHAR buf[1024];
    memset(buf, 'x', sizeof buf);
    buf[sizeof buf - 1] = 0;
    SQLINTEGER nat = -99;
    SQLSMALLINT len = -99;
    SQLRETURN rc = DiagGetRec(t, n, st, &nat, buf, capacity, &len);
    if (state != nullptr) *state = reinterpret_cast<char*>(st);
    if (text != nullptr) *text = capacity > 0 ? reinterpret_cast<char*>(buf) : "";
    if (native != nullptr) *native = nat;
    if (length != nullptr) *length = len;
    return rc;
  }
  // SQLError on a handle.
  template <class R>
  SQLRETURN Error(R* rec, SQLRETURN (*handler)(R*, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                                               SQLSMALLINT*),
                  std::string* state, std::string* text) {
    SQLCHAR st[6] = "?????";
    SQLCHAR buf[512] = "";
    SQLINTEGER nat = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = handler(rec, st, &nat, buf, 512, &len);
    *state = reinterpret_cast<char*>(st);
    *text = reinterpret_cast<char*>(buf);
    return rc;
  }
  DiagTarget S() { return DiagTargetOf(stmt_.get()); }
  DiagTarget C() { return DiagTargetOf(conn_.get()); }
  std::unique_ptr<EnvrRecord> env_;
  std::unique_ptr<ConnRecord> conn_;
  std::unique_ptr<StmtRecord> stmt_;
  std::unique_ptr<DescRecord> desc_;
};

TEST_F(Diag, AgentMessageLosesItsTagAndGivesItsState) {
  Post(stmt_.get(), "  [Skerrin Edition]Table not found[SQLSTATE:42S02]", 217);
  Post(stmt_.get(), "[Skerrin Edition]second[sqlstate:S0002]");
  std::string state, text;
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(Rec(S(), 1, &state, &text, &native, 512, &length), SQL_SUCCESS);
  EXPECT_EQ(state, "42S02");
  EXPECT_EQ(text, "[Quillmar][ODBC][Skerrin Edition]Table not found");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(text.size()));
  EXPECT_EQ(native, 217);
  // Lower-case tag, and an ODBC 2 state mapped for an ODBC 3 environment.
  EXPECT_EQ(Rec(S(), 2, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(state, "42S02");
  EXPECT_EQ(text, "[Quillmar][ODBC][Skerrin Edition]second");
  // Reading consumes nothing.
  EXPECT_EQ(Rec(S(), 1, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(state, "42S02");
  EXPECT_EQ(Rec(S(), 3, &state, &text), SQL_NO_DATA);
  EXPECT_EQ(state, "00000");
}

// A database's 22003, 22008 and 24000 mean for an ODBC 3 application what
// they say; the ODBC 2 mapping of those states is for the driver's own codes.
TEST_F(Diag, ReportedStatesKeepTheirOdbc3Meaning) {
  Post(stmt_.get(), "[Skerrin Edition]smallint out of range[SQLSTATE:22003]");
  Post(stmt_.get(), "[Skerrin Edition]date/time field value out of range[SQLSTATE:22008]");
  Post(stmt_.get(), "[Skerrin Edition]cursor does not exist[SQLSTATE:24000]");
  Post(stmt_.get(), "[Skerrin Edition]old syntax state[SQLSTATE:37000]");
  const char* expected[] = {"22003", "22008", "24000", "42000"};
  for (int i = 0; i < 4; ++i) {
    std::string state, text;
    EXPECT_EQ(Rec(S(), static_cast<SQLSMALLINT>(i + 1), &state, &text), SQL_SUCCESS);
    EXPECT_EQ(state, expected[i]) << text;
  }
}

TEST_F(Diag, TracedMessagesShowNoSecret) {
  char tmpl[] = "/tmp/kx-diag-trace-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string path = std::string(tmpl) + "/t.log";
  setenv("ZNT_DEBUGFILE", path.c_str(), 1);
  TraceOpen(TRACE_ODBC);
  unsetenv("ZNT_DEBUGFILE");
  Post(conn_.get(), "[Skerrin Edition]refused: jdbc:postgresql://h/d?password=s3cr3t[SQLSTATE:28000]");
  std::string state, text;
  EXPECT_EQ(Rec(C(), 1, &state, &text), SQL_SUCCESS);
  TraceClose(TRACE_ODBC);
  EXPECT_EQ(state, "28000");
  std::ifstream in(path);
  std::stringstream traced;
  traced << in.rdbuf();
  EXPECT_EQ(traced.str().find("s3cr3t"), std::string::npos) << traced.str();
  EXPECT_NE(traced.str().find("Returning [Skerrin Edition]refused: jdbc:postgresql://h/d?password=***"),
            std::string::npos)
      << traced.str();
  std::string cmd = std::string("rm -rf '") + tmpl + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST_F(Diag, MessageWithoutTagIsGeneralError) {
  Post(conn_.get(), "Unable to allocate server handle");
  std::string state, text;
  EXPECT_EQ(Rec(C(), 1, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(state, "HY000");
  EXPECT_EQ(text, "[Quillmar][ODBC]Unable to allocate server handle");
  env_->odbcVersion = SQL_OV_ODBC2;
  EXPECT_EQ(Rec(C(), 1, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(state, "S1000");
}

TEST_F(Diag, TableCodesInBothVersions) {
  struct Case {
    int code;
    int version;
    const char* state;
    const char* text;
  } cases[] = {
      {KX_ERR_SEQUENCE, SQL_OV_ODBC3, "HY010", "[Quillmar][ODBC][Driver]Function sequence error"},
      {KX_ERR_SEQUENCE, SQL_OV_ODBC2, "S1010", "[Quillmar][ODBC][Driver]Function sequence error"},
      {KX_ERR_TABLE_NOT_FOUND, SQL_OV_ODBC2, "42S02", "[Quillmar][ODBC][Driver]Table or view not found"},
      {KX_ERR_CONNECTION_IN_USE, SQL_OV_ODBC3, "08002", "[Quillmar][ODBC][Driver]Connection in use"},
      // The driver's own range, datetime-overflow and cursor-state errors keep
      // their states for ODBC 3 applications.
      {KX_ERR_NUMERIC_RANGE, SQL_OV_ODBC3, "22003", "[Quillmar][ODBC][Driver]Numeric value out of range"},
      {KX_ERR_NUMERIC_RANGE, SQL_OV_ODBC2, "22003", "[Quillmar][ODBC][Driver]Numeric value out of range"},
      {KX_ERR_DATE_OVERFLOW, SQL_OV_ODBC3, "22008", "[Quillmar][ODBC][Driver]Date overflow"},
      {KX_ERR_CURSOR_STATE, SQL_OV_ODBC3, "24000", "[Quillmar][ODBC][Driver]Invalid cursor state"},
      {KX_ERR_NO_KEY_COLUMNS, SQL_OV_ODBC3, "IM909",
       "[Quillmar][ODBC][Driver]No key columns found for table referenced by scrollable cursor."},
      {78, SQL_OV_ODBC3, "HY000",
       "[Quillmar][ODBC][Driver]Undefined errorcode (78).\nPlease install a newer client."},
      {-5, SQL_OV_ODBC2, "S1000",
       "[Quillmar][ODBC][Driver]Undefined errorcode (-5).\nPlease install a newer client."},
      {185, SQL_OV_ODBC3, "HY000",
       "[Quillmar][ODBC][Driver]Undefined errorcode (185).\nPlease install a newer client."},
  };
  for (const Case& c : cases) {
    env_->odbcVersion = c.version;
    stmt_->error = c.code;
    std::string state, text;
    EXPECT_EQ(Rec(S(), 1, &state, &text), SQL_SUCCESS) << c.code;
    EXPECT_EQ(state, c.state) << c.code;
    EXPECT_EQ(text, c.text) << c.code;
  }
}

TEST_F(Diag, SqlErrorConsumesMessagesThenTheCodeIsGone) {
  Post(stmt_.get(), "[Skerrin Edition]one[SQLSTATE:23000]");
  Post(stmt_.get(), "[Skerrin Edition]two[SQLSTATE:01004]");
  stmt_->error = KX_ERR_SEQUENCE;
  std::string state, text;
  EXPECT_EQ(Error(stmt_.get(), StmtError, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "[Quillmar][ODBC][Skerrin Edition]one");
  EXPECT_EQ(state, "23000");
  EXPECT_EQ(stmt_->error, 0);
  EXPECT_EQ(Error(stmt_.get(), StmtError, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "[Quillmar][ODBC][Skerrin Edition]two");
  EXPECT_EQ(Error(stmt_.get(), StmtError, &state, &text), SQL_NO_DATA);
  EXPECT_EQ(state, "00000");
  EXPECT_EQ(text, "");
}

TEST_F(Diag, SqlErrorReportsTheCodeOnce) {
  env_->error = KX_ERR_NOMEM;
  std::string state, text;
  EXPECT_EQ(Error(env_.get(), EnvrError, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(state, "HY001");
  EXPECT_EQ(text, "[Quillmar][ODBC][Driver]Memory allocation failure");
  EXPECT_EQ(Error(env_.get(), EnvrError, &state, &text), SQL_NO_DATA);
}

TEST_F(Diag, EmptyHandleCountsOneRecordThatHasNoData) {
  SQLINTEGER count = 0;
  DiagTarget t = DiagTargetOf(conn_.get());
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_NUMBER, &count, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(count, 1);
  std::string state, text;
  EXPECT_EQ(Rec(C(), 1, &state, &text), SQL_NO_DATA);
  EXPECT_EQ(state, "00000");
  Post(conn_.get(), "a");
  Post(conn_.get(), "b");
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_NUMBER, &count, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
}

TEST_F(Diag, CutTextKeepsFullLengthAndWarns) {
  const std::string body(40 - strlen("[Quillmar][ODBC]"), 'm');
  Post(stmt_.get(), body.c_str());
  std::string state, text;
  SQLSMALLINT length = 0;
  EXPECT_EQ(Rec(S(), 1, &state, &text, nullptr, 10, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(text, "[Quillmar");
  EXPECT_EQ(length, 40);
  // A cut multi-byte character is left out whole.
  MsgListFree(&stmt_->messages);
  Post(stmt_.get(), "\xC3\xA9\xC3\xA9");  // two e-acute
  EXPECT_EQ(Rec(S(), 1, &state, &text, nullptr, 18, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(text, "[Quillmar][ODBC]");
  EXPECT_EQ(length, 20);
  // Asking only for the length cuts nothing.
  SQLSMALLINT full = 0;
  EXPECT_EQ(DiagGetRec(S(), 1, nullptr, nullptr, nullptr, 0, &full), SQL_SUCCESS);
  EXPECT_EQ(full, 20);
  // Room for exactly the text and its terminator.
  EXPECT_EQ(Rec(S(), 1, &state, &text, nullptr, 21, &length), SQL_SUCCESS);
  EXPECT_EQ(text, "[Quillmar][ODBC]\xC3\xA9\xC3\xA9");
}

TEST_F(Diag, BadArgumentsChangeNothing) {
  Post(stmt_.get(), "kept[SQLSTATE:42000]");
  std::string state, text;
  EXPECT_EQ(Rec(S(), 1, &state, &text, nullptr, -1), SQL_ERROR);
  EXPECT_EQ(Rec(S(), 0, &state, &text), SQL_ERROR);
  DiagTarget t = DiagTargetOf(stmt_.get());
  char buf[32];
  SQLSMALLINT len = 0;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf, -1, &len, 'A'), SQL_ERROR);
  SQLCHAR st[6];
  EXPECT_EQ(DiagFetchTarget(t, DIAG_TAKE, st, nullptr, nullptr, -2, nullptr), SQL_ERROR);
  ASSERT_NE(stmt_->messages, nullptr);
  EXPECT_EQ(Rec(S(), 1, &state, &text), SQL_SUCCESS);
  EXPECT_EQ(text, "[Quillmar][ODBC]kept");
}

TEST_F(Diag, RecordFields) {
  conn_->dsn = const_cast<char*>("demo");
  Post(stmt_.get(), "[Skerrin Edition]boom[SQLSTATE:S1T00]", 4711);
  Post(stmt_.get(), "[Skerrin Edition]im[SQLSTATE:IM006]");
  DiagTarget t = DiagTargetOf(stmt_.get());
  char buf[64];
  SQLSMALLINT len = 0;
  SQLINTEGER native = 0;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_SQLSTATE, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "HYT00");
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_NATIVE, &native, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(native, 4711);
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "[Quillmar][ODBC][Skerrin Edition]boom");
  EXPECT_EQ(len, static_cast<SQLSMALLINT>(strlen(buf)));
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_CLASS_ORIGIN, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "ISO 9075");
  EXPECT_EQ(DiagGetField(t, 2, SQL_DIAG_SUBCLASS_ORIGIN, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "ODBC 3.0");
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_CONNECTION_NAME, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "demo");
  SQLLEN row = 0;
  SQLINTEGER column = 0;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(row, SQL_ROW_NUMBER_UNKNOWN);
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(column, SQL_COLUMN_NUMBER_UNKNOWN);
  EXPECT_EQ(DiagGetField(t, 3, SQL_DIAG_SQLSTATE, buf, sizeof buf, &len, 'A'), SQL_NO_DATA);
  // A cut field is bounded and reported.
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf, 8, &len, 'A'), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buf, "[Quillm");
  EXPECT_EQ(len, 37);
  conn_->dsn = nullptr;
}

TEST_F(Diag, StatementOnlyFieldsOnOtherHandles) {
  DiagTarget t = DiagTargetOf(conn_.get());
  SQLLEN count = 0;
  SQLLEN row = 0;
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_ROW_COUNT, &count, 0, nullptr, 'A'), SQL_ERROR);
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_DYNAMIC_FUNCTION, nullptr, 0, nullptr, 'A'), SQL_ERROR);
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_RETURNCODE, nullptr, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(DiagGetField(t, 0, 9999, &row, 0, nullptr, 'A'), SQL_ERROR);
  conn_->error = KX_ERR_SEQUENCE;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr, 'A'), SQL_ERROR);
  char buf[8] = "x";
  SQLSMALLINT len = -1;
  EXPECT_EQ(DiagGetField(DiagTargetOf(env_.get()), 1, SQL_DIAG_SERVER_NAME, buf, sizeof buf, &len,
                         'A'),
            SQL_SUCCESS);
  EXPECT_STREQ(buf, "");
}

TEST_F(Diag, StatementHeaderFieldsUseTheHooks) {
  DiagTarget t = DiagTargetOf(stmt_.get());
  t.rowCount = [](StmtRecord*, SQLLEN* n) {
    *n = 42;
    return 0;
  };
  t.dynamicFunction = [](StmtRecord*) { return SQL_DIAG_SELECT_CURSOR; };
  SQLLEN count = 0;
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_ROW_COUNT, &count, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(count, 42);
  char buf[32];
  SQLSMALLINT len = 0;
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_DYNAMIC_FUNCTION, buf, sizeof buf, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(buf, "SELECT CURSOR");
  SQLINTEGER code = 0;
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 0, nullptr, 'A'), SQL_SUCCESS);
  EXPECT_EQ(code, SQL_DIAG_SELECT_CURSOR);
  t.rowCount = [](StmtRecord*, SQLLEN*) { return KX_ERR_SEQUENCE; };
  EXPECT_EQ(DiagGetField(t, 0, SQL_DIAG_ROW_COUNT, &count, 0, nullptr, 'A'), SQL_ERROR);
  EXPECT_EQ(stmt_->error, KX_ERR_SEQUENCE);
}

// The dynamic function of a text comes from its leading words, looked for
// past comments, parentheses, the call escape and a WITH clause.
TEST(DiagFunction, TheKindOfAStatementComesFromItsText) {
  const struct {
    const char* sql;
    int code;
  } cases[] = {
      {"SELECT 1", SQL_DIAG_SELECT_CURSOR},
      {"  -- note\n/* c */ ( select 1 )", SQL_DIAG_SELECT_CURSOR},
      {"VALUES (1)", SQL_DIAG_SELECT_CURSOR},
      {"WITH x AS (SELECT 1) SELECT * FROM x", SQL_DIAG_SELECT_CURSOR},
      {"WITH x AS (SELECT 1) UPDATE t SET v = 1", SQL_DIAG_UPDATE_WHERE},
      {"insert into t values (1)", SQL_DIAG_INSERT},
      {"UPDATE t SET v = 'WHERE CURRENT OF' WHERE v = 1", SQL_DIAG_UPDATE_WHERE},
      {"UPDATE t SET v = 1 WHERE CURRENT OF c1", SQL_DIAG_DYNAMIC_UPDATE_CURSOR},
      {"DELETE FROM t WHERE CURRENT OF c1", SQL_DIAG_DYNAMIC_DELETE_CURSOR},
      {"DELETE FROM t", SQL_DIAG_DELETE_WHERE},
      {"{call p(?)}", SQL_DIAG_CALL},
      {"{? = call f(?)}", SQL_DIAG_CALL},
      {"CREATE UNIQUE INDEX i ON t (v)", SQL_DIAG_CREATE_INDEX},
      {"CREATE OR REPLACE VIEW v AS SELECT 1", SQL_DIAG_CREATE_VIEW},
      {"CREATE GLOBAL TEMPORARY TABLE t (v INT)", SQL_DIAG_CREATE_TABLE},
      {"DROP TABLE t", SQL_DIAG_DROP_TABLE},
      {"ALTER TABLE t ADD w INT", SQL_DIAG_ALTER_TABLE},
      {"GRANT SELECT ON t TO u", SQL_DIAG_GRANT},
      {"REVOKE SELECT ON t FROM u", SQL_DIAG_REVOKE},
      {"SET search_path TO x", SQL_DIAG_UNKNOWN_STATEMENT},
      {"", SQL_DIAG_UNKNOWN_STATEMENT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiagFunctionOfText(c.sql), c.code) << c.sql;
  }
  EXPECT_STREQ(DiagFunctionName(SQL_DIAG_UPDATE_WHERE), "UPDATE WHERE");
  EXPECT_STREQ(DiagFunctionName(SQL_DIAG_UNKNOWN_STATEMENT), "");
}

TEST_F(Diag, LongMessagesAreNotLimitedByAWorkBuffer) {
  const std::string body(600, 'q');
  Post(stmt_.get(), (body + "[SQLSTATE:22001]").c_str());
  DiagTarget t = DiagTargetOf(stmt_.get());
  std::string buf(1024, '\0');
  SQLSMALLINT len = 0;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf.data(), 1024, &len, 'A'), SQL_SUCCESS);
  EXPECT_EQ(std::string(buf.c_str()), "[Quillmar][ODBC]" + body);
  char state[6];
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_SQLSTATE, state, sizeof state, &len, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(state, "22001");
}

TEST_F(Diag, WideFieldsCountBytes) {
  Post(desc_.get(), "\xC3\xA9t\xC3\xA9[SQLSTATE:01S02]");
  DiagTarget t = DiagTargetOf(desc_.get());
  char16_t buf[64];
  SQLSMALLINT len = 0;
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf, sizeof buf, &len, 'W'), SQL_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"[Quillmar][ODBC]\u00e9t\u00e9");
  EXPECT_EQ(len, 2 * 19);
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_SQLSTATE, buf, sizeof buf, &len, 'W'), SQL_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"01S02");
  EXPECT_EQ(DiagGetField(t, 1, SQL_DIAG_MESSAGE_TEXT, buf, 8, &len, 'W'), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::u16string(buf), u"[Qu");
  EXPECT_EQ(len, 2 * 19);
}

TEST(SqlState, Version3Mapping) {
  struct Case {
    const char* v2;
    const char* v3;
  } cases[] = {
      {"S1002", "07009"}, {"S1093", "07009"}, {"01S03", "01001"}, {"01S04", "01001"},
      {"22003", "22003"}, {"22008", "22008"}, {"22005", "22018"}, {"24000", "24000"},
      {"37000", "42000"}, {"70100", "HY018"}, {"S1000", "HY000"}, {"S1C00", "HYC00"},
      {"S0002", "42S02"}, {"S0022", "42S22"}, {"08S01", "08S01"}, {"IM001", "IM001"},
      {"01004", "01004"}, {"42000", "42000"}, {"07001", "07002"},
  };
  for (const Case& c : cases) {
    char s[6];
    memcpy(s, c.v2, 6);
    SqlStateToV3(s);
    EXPECT_STREQ(s, c.v3) << c.v2;
  }
}

TEST(ErrorTable, RowsAndFailoverTexts) {
  int rows = 0;
  for (const ErrorCodeRow& r : ErrorCodeTable) {
    if (r.sqlstate[0] == '\0') continue;
    ++rows;
    EXPECT_EQ(strlen(r.sqlstate), 5u) << r.message;
    EXPECT_NE(r.message[0], '\0');
  }
  EXPECT_EQ(rows, 166);
  EXPECT_STREQ(ErrorCodeTable[KX_ERR_TOO_MANY_PARAMS].message,
               ("Too many parameter markers (the limit is " + std::to_string(KX_MAX_PARAMS) + ")").c_str());
  EXPECT_STREQ(ErrorCodeTable[KX_ERR_DATA_TRUNCATED].sqlstate, "01004");
  EXPECT_STREQ(ErrorCodeTable[KX_ERR_DATA_TRUNCATED].message, "Data was truncated");
  EXPECT_STREQ(ErrorCodeTable[KX_ERR_DTC_ENLIST].message, "Enlistment in DTC transaction failed ");
  EXPECT_STREQ(ErrorCodeTable[KX_ERR_FAILOVER_ABORTED].sqlstate, "IM501");
  EXPECT_EQ(DiagFailoverCode("[Skerrin Edition]x Failover completed. y"), KX_ERR_FAILOVER_COMPLETED);
  EXPECT_EQ(DiagFailoverCode("Failover aborted."), KX_ERR_FAILOVER_ABORTED);
  EXPECT_EQ(DiagFailoverCode("Failover"), 0);
}

// Through the entries: a failed connect leaves the agent's messages (the
// connection's, then the server's) on the connection.
class DiagEntries : public kx::testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    AllocEnvAndConn(&env_, &dbc_);
    AgentConnectSucceeds(false);
    ASSERT_EQ(Connect(dbc_), SQL_ERROR);
    AgentConnectSucceeds(true);
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    CoreTest::TearDown();
  }
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_F(DiagEntries, RecordsAndFieldsReadWithoutConsuming) {
  SQLINTEGER count = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, dbc_, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_GE(count, 1);
  SQLCHAR state[6] = "";
  SQLCHAR text[256] = "";
  SQLINTEGER native = -1;
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, text, sizeof text, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
  const std::string message = reinterpret_cast<char*>(text);
  EXPECT_EQ(message.rfind("[Quillmar][ODBC][Test Agent]", 0), 0u) << message;
  EXPECT_EQ(message.find("[SQLSTATE:"), std::string::npos) << message;
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(message.size()));

  char field[256] = "";
  SQLSMALLINT fieldLength = 0;
  EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_MESSAGE_TEXT, field, sizeof field,
                            &fieldLength),
            SQL_SUCCESS);
  EXPECT_EQ(message, field);
  SQLWCHAR wide[256];
  SQLSMALLINT wideLength = 0;
  EXPECT_EQ(SQLGetDiagFieldW(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_SQLSTATE, wide, sizeof wide,
                             &wideLength),
            SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wide)), u"08001");
  EXPECT_EQ(wideLength, 10);
  SQLWCHAR wideState[6];
  EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc_, 1, wideState, &native, wide, 256, &wideLength),
            SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(wideState)), u"08001");
  EXPECT_EQ(wideLength, static_cast<SQLSMALLINT>(message.size()));
  // Still there: reading consumed nothing.
  SQLINTEGER again = 0;
  SQLGetDiagField(SQL_HANDLE_DBC, dbc_, 0, SQL_DIAG_NUMBER, &again, 0, nullptr);
  EXPECT_EQ(again, count);
  EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, static_cast<SQLSMALLINT>(count + 1), state,
                          &native, text, sizeof text, &length),
            SQL_NO_DATA);
  EXPECT_EQ(SQLGetDiagRec(99, dbc_, 1, state, &native, text, sizeof text, &length),
            SQL_INVALID_HANDLE);
}

TEST_F(DiagEntries, SqlErrorTakesMessagesOneByOne) {
  SQLINTEGER count = 0;
  ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, dbc_, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
            SQL_SUCCESS);
  SQLWCHAR state[6];
  SQLWCHAR text[256];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLINTEGER i = 0; i < count; ++i) {
    ASSERT_EQ(SQLErrorW(SQL_NULL_HENV, dbc_, SQL_NULL_HSTMT, state, &native, text, 256, &length),
              SQL_SUCCESS)
        << i;
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(state)).size(), 5u);
  }
  SQLCHAR narrowState[6];
  EXPECT_EQ(SQLError(SQL_NULL_HENV, dbc_, SQL_NULL_HSTMT, narrowState, &native, nullptr, 0, &length),
            SQL_NO_DATA);
  EXPECT_STREQ(reinterpret_cast<char*>(narrowState), "00000");
  EXPECT_EQ(SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, SQL_NULL_HSTMT, narrowState, &native, nullptr, 0,
                     &length),
            SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace kx
