// The wide entries' conversions, and the library's setup exports.
#include <cstring>
#include <string>

#include "agent/build_flavor.h"
#include "core_fixture.h"
#include "odbc/wide_entry.h"
#include "util/errcodes.h"

namespace kx::testing {
namespace {

std::u16string U(const SQLWCHAR* s) {
  std::u16string out;
  while (s != nullptr && *s != 0) out += static_cast<char16_t>(*s++);
  return out;
}

// Runs a "handler" that writes text into the temporary buffer and reports
// its byte length, then converts back into a caller buffer of capacity units.
struct WideCase {
  const char* text;    // what the handler produces (UTF-8)
  int64_t capacity;    // the caller's buffer, in SQLWCHARs
  const char16_t* expected;
  int64_t length;      // characters reported
  bool cut;
};

TEST(WideOut, CopiesBackCountsCharactersAndReportsCuts) {
  const WideCase cases[] = {
      {"123456789", 10, u"123456789", 9, false},  // fits with its terminator
      {"1234567890", 10, u"123456789", 10, true},
      {"", 4, u"", 0, false},
      {"\xC3\xA9t\xC3\xA9", 4, u"\u00e9t\u00e9", 3, false},  // 3 characters, 5 bytes
      {"a\xF0\x9F\x98\x80", 3, u"a", 3, true},  // a surrogate pair is never split
      {"a\xF0\x9F\x98\x80", 4, u"a\U0001F600", 3, false},
  };
  for (const WideCase& c : cases) {
    SCOPED_TRACE(c.text);
    SQLWCHAR buffer[16];
    memset(buffer, 0xEE, sizeof buffer);
    WideOut out(buffer, c.capacity, 32767);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.capacity(), 4 * c.capacity);
    snprintf(out.buffer(), static_cast<size_t>(out.capacity()) + 1, "%s", c.text);
    bool cut = false;
    EXPECT_EQ(out.Finish(static_cast<int64_t>(strlen(c.text)), &cut), c.length);
    EXPECT_EQ(cut, c.cut);
    EXPECT_EQ(U(buffer), std::u16string(c.expected));
  }
}

TEST(WideOut, LargeBuffersAreClampedNotWrapped) {
  static SQLWCHAR big[20000];
  WideOut out(big, 20000, 32767);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(out.capacity(), 32767);  // 80000 would wrap a 16-bit capacity
  for (int64_t i = 0; i <= out.capacity(); ++i) ASSERT_EQ(out.buffer()[i], 0) << i;
  EXPECT_EQ(ClampSmall(out.capacity()), 32767);
}

TEST(WideOut, NullBufferStillLearnsTheLength) {
  WideOut out(nullptr, 0, 32767);
  ASSERT_TRUE(out.ok());
  ASSERT_GT(out.capacity(), 0);
  strcpy(out.buffer(), "\xC3\xA9\xC3\xA9");
  bool cut = true;
  EXPECT_EQ(out.Finish(4, &cut), 2);
  EXPECT_FALSE(cut);
  // When the handler itself had to cut, its byte length bounds the length.
  WideOut small(nullptr, 0, 8);
  strcpy(small.buffer(), "abcdefgh");
  EXPECT_EQ(small.Finish(100, &cut), 100);
}

// A handler that had to cut its copy (it reports more bytes than it wrote)
// gets room for the whole text on the next call, so that the length counts
// characters; a copy that fitted, or whole room already, asks for no call.
TEST(WideOut, RegrowGivesRoomForTheWholeTextOnce) {
  const char* name = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4";
  SQLWCHAR buffer[2];
  WideOut out(buffer, 2, 32767);
  ASSERT_EQ(out.capacity(), 8);
  memcpy(out.buffer(), name, 7);  // what a cutting handler leaves
  out.buffer()[7] = '\0';
  ASSERT_TRUE(out.Regrow(20));
  EXPECT_GE(out.capacity(), 21);
  snprintf(out.buffer(), static_cast<size_t>(out.capacity()) + 1, "%s", name);
  EXPECT_FALSE(out.Regrow(20));
  bool cut = false;
  EXPECT_EQ(out.Finish(20, &cut), 10);
  EXPECT_TRUE(cut);
  EXPECT_EQ(U(buffer), u"\u00e4");
  WideOut whole(buffer, 2, 64, WideOut::kWholeRoom);
  EXPECT_EQ(whole.capacity(), 64);
  EXPECT_FALSE(whole.Regrow(100));
}

TEST(WideIn, ConvertsWithLengthOrTerminator) {
  const SQLWCHAR text[] = {'a', 0xE9, 'b', 0};
  WideIn all(text, SQL_NTS);
  EXPECT_STREQ(all.get(), "a\xC3\xA9" "b");
  EXPECT_EQ(all.length(), SQL_NTS);
  WideIn two(text, 2);
  EXPECT_STREQ(two.get(), "a\xC3\xA9");
  WideIn none(nullptr, 5);
  EXPECT_TRUE(none.ok());
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(none.length(), 5);
}

using WideEntryTest = CoreTest;

TEST_F(WideEntryTest, DriverConnectWReportsACutOutputString) {
  SQLHENV env;
  SQLHDBC dbc;
  AllocEnvAndConn(&env, &dbc);
  const char* in = "JDBC=org.h2.Driver;URL=jdbc:h2:mem:w;UID=u;PWD=p";
  SQLWCHAR win[128];
  size_t i = 0;
  for (; in[i] != '\0'; ++i) win[i] = static_cast<SQLWCHAR>(in[i]);
  win[i] = 0;
  SQLWCHAR out[8];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLDriverConnectW(dbc, nullptr, win, SQL_NTS, out, 8, &length, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(U(out).size(), 7u);
  EXPECT_GT(length, 8);
  EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "01004");
  EXPECT_EQ(LastConnect("options"), "W\\x7F\\x01\\x01");  // the wide form reached the open
  SQLWCHAR whole[512];
  SQLSMALLINT wholeLength = 0;
  ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(SQLDriverConnectW(dbc, nullptr, win, SQL_NTS, whole, 512, &wholeLength,
                              SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS);
  EXPECT_EQ(wholeLength, length);
  EXPECT_EQ(static_cast<SQLSMALLINT>(U(whole).size()), length);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST_F(WideEntryTest, DiagRecWCutsWithoutANewDiagnostic) {
  SQLHENV env;
  SQLHDBC dbc;
  AllocEnvAndConn(&env, &dbc);
  EXPECT_EQ(SQLDisconnect(dbc), SQL_ERROR);  // 08003
  SQLWCHAR state[6];
  SQLWCHAR text[10];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc, 1, state, &native, text, 10, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(U(state), u"08003");
  EXPECT_EQ(U(text).size(), 9u);
  const std::string full = "[Quillmar][ODBC][Driver]Connection not open";
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(full.size()));
  // Still the same single record, unchanged.
  SQLWCHAR all[128];
  EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc, 1, state, &native, all, 128, &length), SQL_SUCCESS);
  EXPECT_EQ(U(all), std::u16string(full.begin(), full.end()));
  EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc, 2, state, &native, all, 128, &length), SQL_NO_DATA);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

// With no record left SQLErrorW writes what SQLError writes: "00000", an
// empty text and length 0.
TEST_F(WideEntryTest, ErrorWWithNoRecordWritesTheEmptyAnswer) {
  SQLHENV env;
  SQLHDBC dbc;
  AllocEnvAndConn(&env, &dbc);
  SQLWCHAR state[6] = {'x', 'x', 'x', 'x', 'x', 0};
  SQLWCHAR text[10] = {'y', 0};
  SQLINTEGER native = 5;
  SQLSMALLINT length = 99;
  EXPECT_EQ(SQLErrorW(SQL_NULL_HENV, dbc, SQL_NULL_HSTMT, state, &native, text, 10, &length), SQL_NO_DATA);
  EXPECT_EQ(U(state), u"00000");
  EXPECT_EQ(U(text), u"");
  EXPECT_EQ(length, 0);
  EXPECT_EQ(native, 0);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

// ---- setup exports and messages -------------------------------------------------------

TEST_F(WideEntryTest, SetupExportsNameTheDriver) {
  char buffer[512];
  EXPECT_EQ(GetSetupRegistry(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer,
               "SOFTWARE\\Quillmar Software\\Quillmar Informix Driver (Skerrin Edition)(Unicode)");
  char small[10];
  EXPECT_EQ(GetSetupRegistry(small, sizeof small), 1);
  EXPECT_STREQ(small, "SOFTWARE\\");
  EXPECT_EQ(GetSetupDatabase(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Quillmar Informix Driver (Skerrin Edition)(Unicode)");
  SetUnicodeBuild(false);
  EXPECT_EQ(GetSetupDatabase(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "Quillmar Informix Driver (Skerrin Edition)");
  SetUnicodeBuild(true);
}

TEST_F(WideEntryTest, QuietModeHidesMessages) {
  EXPECT_EQ(g_quietModeWindow.load(), QUIET_MODE_UNSET);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShowResourceMessage("shown once", 0x30), 1);
  g_quietModeWindow = 0;
  EXPECT_EQ(ShowResourceMessage("hidden", 0x30), 0);
  g_quietModeWindow = QUIET_MODE_UNSET;
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Quillmar ODBC: shown once"), std::string::npos) << err;
  EXPECT_EQ(err.find("hidden"), std::string::npos);
}

}  // namespace
}  // namespace kx::testing
