// Connect strings: parsing, braces, masking, completion from odbc.ini, file
// DSNs and "Default", and the composed strings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <dlfcn.h>
#include <sys/stat.h>

#include <memory>
#include <sstream>

#include "odbc/conn.h"
#include "odbc/connstr.h"
#include "odbc/diag.h"
#include "odbc/login_dialog.h"
#include "odbc/odbc_installer.h"
#include "odbc/records.h"
#include "odbc/text_scramble.h"
#include "odbc/trace.h"
#include "support/test_agent.h"
#include "util/errcodes.h"

namespace kx {

namespace {

// A private unixODBC configuration: ODBCSYSINI and ODBCINI point into a
// temporary directory holding odbc.ini, odbcinst.ini and a file DSN. The
// installer library keeps what it read for the life of the process, so the
// configuration is written once, before the first test runs.
class OdbcConfig : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/kx-connstr-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    longUrl = "jdbc:h2:mem:" + std::string(400, 'u');
    Write("odbc.ini",
          "[ODBC Data Sources]\n"
          "a = Kestrix Test Driver\n"
          "\n"
          "[a]\n"
          "Driver = Kestrix Test Driver\n"
          "UID =\n"
          "LastUser = joe\n"
          "PWD = from-ini\n"
          "JdbcDriver = org.h2.Driver\n"
          "URLString = " + longUrl + "\n"
          "ReadOnly = Yes\n"
          "FetchBufferSize = 123456789\n"
          "InitialSQL = /tmp/init-a.sql\n"
          "\n"
          "[Default]\n"
          "UID =\n"
          "LastUser = jane\n"
          "FetchBufferSize = 25\n"
          "DynCursSensitivity = high\n"
          "\n"
          "[nlb]\n"
          "UID = nlbuser\n"
          "\n"
          "[utf]\n"
          "UID = " + std::string(127, 'x') + "\xC3\xA9\n"
          "JdbcDriver = j\xC3\xB6rg.Driver\n");
    // The driver's own section (named by its description in either build)
    // names the trace file when ZNT_DEBUGFILE is not set. Its folder exists
    // only while the test of it runs, so that no other test traces.
    const std::string debugFile = "DebugFile = " + dir + "/trace-on/dbg-$p.log\n";
    Write("odbcinst.ini", "[Kestrix Test Driver]\nDriver = /nonexistent/libkestrix.so\n\n"
                          "[Quillmar Informix Driver (Skerrin Edition)(Unicode)]\n" + debugFile +
                          "\n[Quillmar Informix Driver (Skerrin Edition)]\n" + debugFile);
    Write("user.ini", "");
    Write("f.dsn",
          "[ODBC]\n"
          "READONLY = 1\n"
          "UID =\n"
          "LastUser = fileuser\n"
          "URL = jdbc:h2:mem:file\n");
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/user.ini").c_str(), 1);
  }
  void TearDown() override {
    ConnStrParse(nullptr, 'A');
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  static void Write(const char* name, const std::string& text) {
    std::ofstream(dir + "/" + name) << text;
  }
  static std::string dir;
  static std::string longUrl;
};
std::string OdbcConfig::dir;
std::string OdbcConfig::longUrl;
const ::testing::Environment* const kOdbcConfig =
    ::testing::AddGlobalTestEnvironment(new OdbcConfig);

class Settings : public ::testing::Test {
 public:
  void TearDown() override { ConnStrParse(nullptr, 'A'); }

  static void Parse(const std::string& text, char mode = 'A') {
    std::string copy = text;
    ConnStrParse(copy.data(), mode);
  }
  static std::string V(int row) { return ConnKwValue(row); }
  static bool Supplied(int row) { return g_connKeywords[row].supplied != 0; }

  const std::string& dir_ = OdbcConfig::dir;
  const std::string& longUrl_ = OdbcConfig::longUrl;
};

TEST_F(Settings, KeysIgnoreCaseLaterWinsUnknownAndBarePairsIgnored) {
  Parse("DSN=a;uid=x;Uid=y; PWD=blank-led;NLB;Bogus=1;READONLY=true");
  EXPECT_EQ(V(CK_DSN), "a");
  EXPECT_EQ(V(CK_UID), "y");
  EXPECT_TRUE(Supplied(CK_UID));
  // ' PWD' is no keyword: the password comes from the data source.
  EXPECT_EQ(V(CK_PWD), "from-ini");
  EXPECT_FALSE(Supplied(CK_PWD));
  EXPECT_FALSE(Supplied(CK_NLB));
  EXPECT_TRUE(ConnKwBool(CK_READONLY));
}

TEST_F(Settings, BracesAreStrippedOnceAndNest) {
  Parse("PWD={a;b};UID=c;URL={URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}};DRIVER={Kestrix Driver}");
  EXPECT_EQ(V(CK_PWD), "a;b");
  EXPECT_EQ(V(CK_UID), "c");
  EXPECT_EQ(V(CK_URL), "URL={jdbc:h2:mem:x;DB_CLOSE_DELAY=-1}");
  EXPECT_EQ(V(CK_DRIVER), "Kestrix Driver");
  // Braces that do not enclose the whole value stay; a stray '}' is text.
  Parse("UID={a}{b};PWD=x}y;JDBC={a}}b}");
  EXPECT_EQ(V(CK_UID), "{a}{b}");
  EXPECT_EQ(V(CK_PWD), "x}y");
  EXPECT_EQ(V(CK_JDBC), "{a}}b}");
}

TEST_F(Settings, DataSourceSectionCompletesMissingRows) {
  Parse("DSN=a");
  EXPECT_EQ(V(CK_UID), "joe");  // empty UID: LastUser of the same section
  EXPECT_FALSE(Supplied(CK_UID));
  EXPECT_EQ(V(CK_JDBC), "org.h2.Driver");
  EXPECT_TRUE(ConnKwBool(CK_READONLY));
  EXPECT_EQ(V(CK_INITSQL), "/tmp/init-a.sql");
  // Values are cut to the size of their keyword, not to a fixed 255 bytes.
  EXPECT_EQ(V(CK_URL), longUrl_);
  EXPECT_EQ(V(CK_FBS), "1234");
  // Rows without an odbc.ini name are never completed.
  EXPECT_EQ(g_connKeywords[CK_DRIVER].value, nullptr);
}

TEST_F(Settings, SettingsAreUtf8AndNeverCutInsideACharacter) {
  for (char mode : {'A', 'W'}) {
    Parse("DSN=utf", mode);
    EXPECT_EQ(V(CK_JDBC), "j\xC3\xB6rg.Driver") << mode;
    // 129 bytes do not fit the 128 a user name keeps: the e-acute goes whole.
    EXPECT_EQ(V(CK_UID), std::string(127, 'x')) << mode;
  }
}

TEST_F(Settings, DefaultSectionHasNoLastUserFallback) {
  Parse("UID=");
  EXPECT_EQ(V(CK_UID), "");
  Parse("");
  EXPECT_EQ(V(CK_UID), "");
  EXPECT_EQ(V(CK_FBS), "25");
  EXPECT_EQ(JDB_DynCursSensitivityParse(g_connKeywords[CK_DYN_CURS_SENSITIVITY].value), 1);
}

TEST_F(Settings, FileDataSourceIsReadByKeyword) {
  Parse("FILEDSN=" + dir_ + "/f.dsn");
  EXPECT_TRUE(ConnKwBool(CK_READONLY));
  EXPECT_EQ(V(CK_URL), "jdbc:h2:mem:file");
  EXPECT_EQ(V(CK_UID), "");  // no LastUser fallback in a file data source
}

TEST_F(Settings, EmptyTableAfterNullText) {
  Parse("DSN=a;UID=u;PWD=p");
  ConnStrParse(nullptr, 'A');
  for (const ConnKeyword& kw : g_connKeywords) {
    EXPECT_EQ(kw.value, nullptr) << kw.keyword;
    EXPECT_EQ(kw.supplied, 0) << kw.keyword;
  }
}

TEST_F(Settings, DriverDescriptionOfTheDataSource) {
  Parse("DSN=a");
  char* name = DsnDriverName();
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "Kestrix Test Driver");
  free(name);
  Parse("DSN=zz");
  name = DsnDriverName();
  EXPECT_STREQ(name, "");
  free(name);
}

// ---- connecting ----------------------------------------------------------------------

class Connect : public Settings {
 protected:
  void SetUp() override {
    env_ = std::make_unique<EnvrRecord>();
    env_->odbcVersion = SQL_OV_ODBC3;
    conn_ = std::make_unique<ConnRecord>();
    conn_->env = env_.get();
    conn_->state = CONN_ALLOCATED;
    conn_->flags = CF_AUTOCOMMIT;
    TestAgent_Reset();
    AgentConnectSucceeds(true);
    LoginDialogLoad(nullptr);
  }
  void TearDown() override {
    Settings::TearDown();
    LoginDialogLoad(nullptr);
    if (conn_->state == CONN_CONNECTED) ConnClose(conn_.get());
    ConnFreeStrings(conn_.get());
    free(conn_->appName);
    conn_->appName = nullptr;
    MsgListFree(&conn_->messages);
  }
  // SQLDriverConnect with an output buffer of capacity bytes.
  SQLRETURN Run(const std::string& in, std::string* out, SQLSMALLINT capacity = 1024,
                SQLUSMALLINT completion = SQL_DRIVER_NOPROMPT, SQLSMALLINT* length = nullptr) {
    std::string buf(static_cast<size_t>(capacity > 0 ? capacity : 1) + 8, '#');
    SQLSMALLINT len = -1;
    SQLRETURN rc = ConnDriverConnect(conn_.get(), nullptr, in.c_str(), SQL_NTS, buf.data(),
                                     capacity, &len, completion, 'A');
    if (out != nullptr) *out = buf.c_str();
    if (length != nullptr) *length = len;
    return rc;
  }
  // Back to "allocated", as a disconnect leaves it.
  void Disconnected() {
    if (conn_->state == CONN_CONNECTED) {
      ASSERT_EQ(ConnClose(conn_.get()), 0);
    }
  }

  std::unique_ptr<EnvrRecord> env_;
  std::unique_ptr<ConnRecord> conn_;
};

TEST_F(Connect, ShortOutputString) {
  std::string out;
  EXPECT_EQ(Run("DSN=b;UID=u;PWD=p", &out), SQL_SUCCESS);
  EXPECT_EQ(out, "DSN=b;UID=u;PWD=p;FBS=60");
  EXPECT_STREQ(conn_->dsn, "b");
  EXPECT_STREQ(conn_->user, "u");
  EXPECT_STREQ(conn_->password, "p");
  EXPECT_NE(conn_->appName, nullptr);
  // Neither DSN nor FILEDSN: the "Default" section, which sets FBS 25.
  Disconnected();
  EXPECT_EQ(Run("UID=v", &out), SQL_SUCCESS);
  EXPECT_EQ(out, "DSN=Default;UID=v;PWD=;FBS=25");
  EXPECT_EQ(conn_->cn_fetchSize, 25u);
}

TEST_F(Connect, LongOutputStringWithDriver) {
  std::string out;
  EXPECT_EQ(Run("DRIVER={X};DSN=b;UID=u;PWD={p;w};URL={URL={jdbc:h2:mem:d;A=1}};JDBC=org.h2.Driver;"
                "READONLY=yes;NLB=0;MAXROWS=7;NOAC=1;DYN_CURS_SENSITIVITY=dyn;DLF=TRUE;PNSOSC=3;"
                "SQLDBMSNAME=H2;MASE=1;IV=true;IA=no;FBS=25",
                &out),
            SQL_SUCCESS);
  EXPECT_EQ(out,
            "DRIVER={X};UID=u;PWD={p;w};JDBC=org.h2.Driver;URL={URL={jdbc:h2:mem:d;A=1}};FBS=25;"
            "READONLY=yes;NLB=0;MAXROWS=7;NOAC=TRUE;DYN_CURS_SENSITIVITY=DISABLED;DLF=TRUE;"
            "NRSSL=FALSE;J_DCAT=FALSE;J_DSCH=FALSE;J_SSTOFF=FALSE;J_NSQI=FALSE;PNSOSC=3;"
            "NSSSE=FALSE;SQLDBMSNAME=H2;MASE=1;IV=true;IA=no;NEGPRECFIX=FALSE;Server=Quillmar");
  EXPECT_STREQ(conn_->password, "p;w");
  EXPECT_STREQ(conn_->cn_dbopts, "URL={jdbc:h2:mem:d;A=1}");
  EXPECT_STREQ(conn_->cn_dbpath, "org.h2.Driver");
  EXPECT_EQ(conn_->flags & (CF_READONLY | CF_MASE | CF_IV | CF_IA), CF_READONLY | CF_MASE | CF_IV);
  EXPECT_EQ(conn_->flags & CF_AUTOCOMMIT, CF_AUTOCOMMIT);
  EXPECT_EQ(g_dlfFlag, 1);
}

// A value that cannot be written so that it reads back as itself (its braces
// do not balance) connects as given and is left out of the output, never
// handed back changed.
TEST_F(Connect, OutputLeavesOutValuesItCannotWriteBack) {
  std::string out;
  EXPECT_EQ(Run("DSN=b;UID=u;PWD={p}}w}", &out), SQL_SUCCESS);
  EXPECT_STREQ(conn_->password, "{p}}w}");
  EXPECT_EQ(out, "DSN=b;UID=u;FBS=60");
  Disconnected();
  EXPECT_EQ(Run("DRIVER={X};UID=u}v;PWD=p;URL=a}b", &out), SQL_SUCCESS);
  EXPECT_STREQ(conn_->user, "u}v");
  EXPECT_STREQ(conn_->cn_dbopts, "a}b");
  EXPECT_EQ(out.rfind("DRIVER={X};PWD=p;JDBC=;FBS=", 0), 0u) << out;
  EXPECT_EQ(out.find("URL="), std::string::npos) << out;
}

TEST_F(Connect, FileDataSourceAloneNamesNoDataSource) {
  std::string out;
  EXPECT_EQ(Run("FILEDSN=" + dir_ + "/f.dsn;UID=u", &out), SQL_SUCCESS);
  EXPECT_EQ(out, "FILEDSN=" + dir_ + "/f.dsn;UID=u;PWD=;FBS=60");
  EXPECT_EQ(conn_->dsn, nullptr);
  EXPECT_NE(conn_->flags & CF_READONLY, 0);
  EXPECT_STREQ(conn_->cn_dbopts, "jdbc:h2:mem:file");
}

TEST_F(Connect, FetchBufferSizes) {
  struct Case {
    const char* fbs;
    uint32_t rows;
  } cases[] = {{"0", 60}, {"", 60}, {"abc", 60}, {"25", 25}};
  for (const Case& c : cases) {
    Disconnected();
    EXPECT_EQ(Run(std::string("DSN=b;FBS=") + c.fbs, nullptr), SQL_SUCCESS);
    EXPECT_EQ(conn_->cn_fetchSize, c.rows) << c.fbs;
  }
}

TEST_F(Connect, TruncatedOutputReportsFullLength) {
  std::string out;
  SQLSMALLINT length = 0;
  EXPECT_EQ(Run("DSN=b;UID=u;PWD=p", &out, 10, SQL_DRIVER_NOPROMPT, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(out, "DSN=b;UID");
  EXPECT_EQ(length, 24);
  EXPECT_EQ(conn_->error, KX_ERR_DATA_TRUNCATED);
  EXPECT_EQ(conn_->state, CONN_CONNECTED);
}

TEST_F(Connect, RefusedWhileConnectedAndForBadLengths) {
  ASSERT_EQ(Run("DSN=b;UID=first", nullptr), SQL_SUCCESS);
  EXPECT_EQ(Run("DSN=b;UID=second", nullptr), SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_CONNECTION_IN_USE);
  EXPECT_EQ(ConnConnect(conn_.get(), "b", SQL_NTS, "u", SQL_NTS, "p", SQL_NTS, 'A'), SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_CONNECTION_IN_USE);
  EXPECT_STREQ(conn_->user, "first");
  Disconnected();
  EXPECT_EQ(ConnConnect(conn_.get(), "b", -5, "u", SQL_NTS, "p", SQL_NTS, 'A'), SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_BAD_LENGTH);
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
}

TEST_F(Connect, SqlConnectQuotesWhatItComposes) {
  EXPECT_EQ(ConnConnect(conn_.get(), "bxx", 1, "u;DSN=evil", SQL_NTS, "p;w}{", 3, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(conn_->dsn, "b");
  EXPECT_STREQ(conn_->user, "u;DSN=evil");
  EXPECT_STREQ(conn_->password, "p;w");
  // Braces that cannot be quoted are refused rather than reinterpreted.
  Disconnected();
  EXPECT_EQ(ConnConnect(conn_.get(), "b", SQL_NTS, "u", SQL_NTS, "a{b;c", SQL_NTS, 'A'), SQL_ERROR);
  EXPECT_EQ(conn_->error, KX_ERR_BAD_ARGUMENT);
}

TEST_F(Connect, SqlConnectWithoutUserOrPasswordKeepsTheDataSources) {
  EXPECT_EQ(ConnConnect(conn_.get(), "a", SQL_NTS, "", SQL_NTS, "", SQL_NTS, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(conn_->password, "from-ini");
  Disconnected();
  EXPECT_EQ(ConnConnect(conn_.get(), "a", SQL_NTS, nullptr, 0, nullptr, 0, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(conn_->password, "from-ini");
  Disconnected();
  // Given ones still win.
  EXPECT_EQ(ConnConnect(conn_.get(), "a", SQL_NTS, "u", SQL_NTS, "p", SQL_NTS, 'A'), SQL_SUCCESS);
  EXPECT_STREQ(conn_->user, "u");
  EXPECT_STREQ(conn_->password, "p");
}

TEST_F(Connect, FlagsOfTheLastConnectOnly) {
  EXPECT_EQ(Run("DSN=b;IV=1;READONLY=1", nullptr), SQL_SUCCESS);
  EXPECT_NE(conn_->flags & CF_IV, 0);
  Disconnected();
  EXPECT_EQ(Run("DSN=b", nullptr), SQL_SUCCESS);
  EXPECT_EQ(conn_->flags & (CF_IV | CF_READONLY), 0);
}

TEST_F(Connect, FailedConnectLeavesNoInitialSqlForTheNext) {
  AgentConnectSucceeds(false);
  std::string out = "untouched";
  EXPECT_EQ(Run("DSN=a;PWD=x", &out), SQL_ERROR);
  EXPECT_EQ(AgentSawInitSql(), "/tmp/init-a.sql");
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
  EXPECT_STREQ(conn_->dsn, "a");  // the failed attempt's values stay for another try
  AgentConnectSucceeds(true);
  EXPECT_EQ(Run("DSN=b", &out), SQL_SUCCESS);
  EXPECT_EQ(AgentSawInitSql(), "");
  EXPECT_EQ(AgentSawSqlDbmsName(), "");
}

TEST_F(Connect, TraceShowsNoPassword) {
  char tmpl[] = "/tmp/kx-connstr-trace-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string path = std::string(tmpl) + "/t.log";
  setenv("ZNT_DEBUGFILE", path.c_str(), 1);
  TraceOpen(TRACE_ODBC);
  unsetenv("ZNT_DEBUGFILE");
  ASSERT_TRUE(TraceOn());
  EXPECT_EQ(Run("DSN=b;UID=u;PWD=s3cr3t;URL={URL=jdbc:postgresql://h/d;password=pgs3cr3t}", nullptr),
            SQL_SUCCESS);
  Disconnected();
  EXPECT_EQ(ConnConnect(conn_.get(), "b", SQL_NTS, "u", SQL_NTS, "s3cr3t", SQL_NTS, 'A'),
            SQL_SUCCESS);
  TraceClose(TRACE_ODBC);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  EXPECT_EQ(t.find("s3cr3t"), std::string::npos) << t;
  EXPECT_NE(t.find("ConnStr In =DSN=b;UID=u;PWD=***;URL={URL=jdbc:postgresql://h/d;password=***}"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("  key=[UID] data=[u] supplied=1"), std::string::npos) << t;
  EXPECT_EQ(t.find("key=[PWD]"), std::string::npos) << t;
  EXPECT_NE(t.find("cmd (29)=|DSN=b;UID=u;PWD=***;FBS=60|"), std::string::npos) << t;
  EXPECT_NE(t.find("\nDSN=b;UID=u;PWD=***\n"), std::string::npos) << t;
  EXPECT_NE(t.find("cn_fetchSize=60 cn_dbhost=[<null>] cn_svtype=[<null>]"), std::string::npos) << t;
  std::string cmd = std::string("rm -rf '") + tmpl + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
}

// ---- the login dialog ----------------------------------------------------------------

class Dialog : public Connect {
 protected:
  void SetUp() override {
    Connect::SetUp();
    ASSERT_EQ(LoginDialogLoad(KX_LOGIN_STUB_PATH), 0);
    lib_ = dlopen(KX_LOGIN_STUB_PATH, RTLD_NOW);
    ASSERT_NE(lib_, nullptr);
    script_ = reinterpret_cast<void (*)(int, const char*)>(dlsym(lib_, "LoginStubScript"));
    calls_ = reinterpret_cast<int (*)()>(dlsym(lib_, "LoginStubCalls"));
    frees_ = reinterpret_cast<int (*)()>(dlsym(lib_, "LoginStubFrees"));
    input_ = reinterpret_cast<const char* (*)()>(dlsym(lib_, "LoginStubLastInput"));
    driver_ = reinterpret_cast<const char* (*)()>(dlsym(lib_, "LoginStubLastDriver"));
    ASSERT_TRUE(script_ && calls_ && frees_ && input_ && driver_);
  }
  void TearDown() override {
    Connect::TearDown();
    dlclose(lib_);
  }
  void* lib_ = nullptr;
  void (*script_)(int, const char*) = nullptr;
  int (*calls_)() = nullptr;
  int (*frees_)() = nullptr;
  const char* (*input_)() = nullptr;
  const char* (*driver_)() = nullptr;
};

TEST_F(Dialog, CancelLeavesTheConnectionUntouched) {
  script_(0, "DSN=b;UID=never");
  std::string out = "untouched";
  EXPECT_EQ(Run("DSN=a;UID=x", &out, 1024, SQL_DRIVER_PROMPT), SQL_NO_DATA);
  EXPECT_EQ(calls_(), 1);
  EXPECT_EQ(frees_(), 1);
  EXPECT_STREQ(input_(), "DSN=a;UID=x");
  EXPECT_STREQ(driver_(), "Kestrix Test Driver");
  EXPECT_EQ(conn_->user, nullptr);
  EXPECT_EQ(conn_->state, CONN_ALLOCATED);
  EXPECT_EQ(conn_->error, 0);
  EXPECT_EQ(g_connKeywords[CK_UID].value, nullptr);  // the table is emptied
  script_(2, nullptr);  // a failed dialog that returns nothing
  EXPECT_EQ(Run("DRIVER={Y}", &out, 1024, SQL_DRIVER_PROMPT), SQL_NO_DATA);
  EXPECT_STREQ(driver_(), "Y");
  EXPECT_EQ(frees_(), 1);
}

TEST_F(Dialog, ConfirmedValuesReplaceTheInput) {
  script_(1, "DSN=b;UID=edited;PWD={p;q}");
  std::string out;
  EXPECT_EQ(Run("DSN=a;UID=x", &out, 1024, SQL_DRIVER_PROMPT), SQL_SUCCESS);
  EXPECT_EQ(out, "DSN=b;UID=edited;PWD={p;q};FBS=60");
  EXPECT_STREQ(conn_->password, "p;q");
  EXPECT_EQ(frees_(), 1);
}

TEST_F(Dialog, CompletionModesAndNoLoginBox) {
  script_(1, "DSN=b;UID=d;PWD=d");
  struct Case {
    const char* in;
    SQLUSMALLINT completion;
    int calls;
  } cases[] = {
      {"DSN=b;UID=u;PWD=p", SQL_DRIVER_COMPLETE, 0},
      {"DSN=b;UID= u;PWD=p", SQL_DRIVER_COMPLETE, 1},
      {"DSN=b;UID=u", SQL_DRIVER_COMPLETE_REQUIRED, 1},
      {"DSN=b", SQL_DRIVER_NOPROMPT, 0},
      {"DSN=b;UID=u;PWD=p", SQL_DRIVER_PROMPT, 1},
      {"DSN=b;NLB=Yes", SQL_DRIVER_PROMPT, 0},
      {"DSN=b;NLB=1", SQL_DRIVER_COMPLETE, 0},
      {"DSN=b;NLB=ON", SQL_DRIVER_PROMPT, 1},
  };
  for (const Case& c : cases) {
    script_(1, "DSN=b;UID=d;PWD=d");
    Disconnected();
    EXPECT_EQ(Run(c.in, nullptr, 1024, c.completion), SQL_SUCCESS) << c.in;
    EXPECT_EQ(calls_(), c.calls) << c.in;
  }
  // A completion mode ODBC does not define: refused before any dialog.
  script_(1, "DSN=b;UID=d;PWD=d");
  Disconnected();
  EXPECT_EQ(Run("DSN=b", nullptr, 1024, 7), SQL_ERROR);
  EXPECT_EQ(calls_(), 0);
  // NLB without a user of its own takes the data source's UID entry.
  Disconnected();
  EXPECT_EQ(Run("DSN=nlb;NLB=true", nullptr), SQL_SUCCESS);
  EXPECT_STREQ(conn_->user, "nlbuser");
}

TEST_F(Connect, WithoutADialogEveryModeIsNoPrompt) {
  std::string out;
  EXPECT_EQ(Run("DSN=b", &out, 1024, SQL_DRIVER_PROMPT), SQL_SUCCESS);
  EXPECT_EQ(out, "DSN=b;UID=;PWD=;FBS=60");
}

// The trace file name of the driver's odbcinst.ini section, with its macros.
TEST_F(Settings, TraceFileFromTheDriverSection) {
  const char* old = getenv("ZNT_DEBUGFILE");
  const std::string saved = old != nullptr ? old : "";
  unsetenv("ZNT_DEBUGFILE");
  const std::string folder = dir_ + "/trace-on";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  TraceOpen(TRACE_ODBC);
  const bool on = TraceOn();
  TraceClose(TRACE_ODBC);
  if (old != nullptr) setenv("ZNT_DEBUGFILE", saved.c_str(), 1);
  EXPECT_TRUE(on);
  const std::string path = folder + "/dbg-" + std::to_string(static_cast<long>(getpid())) + ".log";
  std::string first;
  std::getline(std::ifstream(path), first);
  EXPECT_EQ(first.rfind("** Quillmar ODBC Trace file for ", 0), 0u) << path;
  std::string cmd = "rm -rf '" + folder + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(ConnKwValues, BooleansNumbersAndLetters) {
  struct BoolCase {
    const char* text;
    bool value;
  } bools[] = {{"true", true}, {"Yes", true}, {"1", true}, {"TRUE", true}, {"Y", false},
               {"ON", false},  {"T", false},  {"", false}, {"yes ", false}};
  for (const BoolCase& c : bools) {
    std::string text = std::string("NLB=") + c.text + ";DSN=zz-none";
    ConnStrParse(text.data(), 'A');
    EXPECT_EQ(ConnKwBool(CK_NLB), c.value) << c.text;
  }
  struct NumCase {
    const char* text;
    int32_t value;
  } nums[] = {{"25", 25}, {"0", 0}, {"", 0}, {"abc", 0}, {"12abc", 12}, {"99999999999", INT32_MAX}};
  for (const NumCase& c : nums) {
    std::string text = std::string("MAXROWS=") + c.text + ";DSN=zz-none";
    ConnStrParse(text.data(), 'A');
    EXPECT_EQ(ConnKwNumber(CK_MAXROWS), c.value) << c.text;
  }
  ConnStrParse(nullptr, 'A');
  EXPECT_EQ(JDB_DynCursSensitivityParse("dynamic"), 2);
  EXPECT_EQ(JDB_DynCursSensitivityParse("High"), 1);
  EXPECT_EQ(JDB_DynCursSensitivityParse("static"), 0);
  EXPECT_EQ(JDB_DynCursSensitivityParse(""), 0);
  EXPECT_EQ(JDB_DynCursSensitivityParse(nullptr), 0);
  EXPECT_STREQ(JDB_DynCursSensitivityName(0), "LOW");
  EXPECT_STREQ(JDB_DynCursSensitivityName(1), "HIGH");
  EXPECT_STREQ(JDB_DynCursSensitivityName(2), "DISABLED");
}

// Whatever a user name or password holds, the composed string parses back to
// exactly it and adds no keyword.
TEST(ConnStrCompose, ValuesRoundTripWithoutInjection) {
  const char* values[] = {"plain", "p;w", "x;DSN=evil", "{braced}", "a{b}c", "}{", "", "a=b",
                          " lead", "tail ", "\xC3\xA9t\xC3\xA9"};
  for (const char* v : values) {
    std::string s;
    bool ok = ConnStrAppend(s, "DSN", "target");
    ok = ConnStrAppend(s, "UID", v) && ok;
    ok = ConnStrAppend(s, "PWD", v) && ok;
    ok = ConnStrAppend(s, "FDSN", "end") && ok;
    if (strcmp(v, "}{") == 0) {
      EXPECT_FALSE(ok);  // unbalanced braces around nothing safe: refused
      continue;
    }
    ASSERT_TRUE(ok) << v;
    std::string copy = s;
    ConnStrParse(copy.data(), 'A');
    EXPECT_EQ(std::string(ConnKwValue(CK_DSN)), "target") << s;
    EXPECT_EQ(std::string(ConnKwValue(CK_UID)), v) << s;
    EXPECT_EQ(std::string(ConnKwValue(CK_PWD)), v) << s;
    EXPECT_EQ(std::string(ConnKwValue(CK_FDSN)), "end") << s;
  }
  ConnStrParse(nullptr, 'A');
  std::string s;
  EXPECT_TRUE(ConnStrAppend(s, "PWD", "a;b"));
  EXPECT_EQ(s, "PWD={a;b}");
  s.clear();
  EXPECT_FALSE(ConnStrAppend(s, "PWD", "a{b;c"));
}

TEST(ConnStrMask, SecretsNeverShow) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"DSN=a;UID=b;PWD=secret;FBS=60", "DSN=a;UID=b;PWD=***;FBS=60"},
      {"pwd={se;cret};UID=b", "pwd=***;UID=b"},
      {"URL={URL=jdbc:postgresql://h/db;password=s3;user=u};PWD=", "URL={URL=jdbc:postgresql://h/db;password=***;user=u};PWD=***"},
      {"URL=jdbc:postgresql://h:5432/db?user=u&password=s3&ssl=true",
       "URL=jdbc:postgresql://h:5432/db?user=u&password=***&ssl=true"},
      {"DSN=a;UID=pwd", "DSN=a;UID=pwd"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ConnStrMasked(c.in), c.out) << c.in;
}

TEST(TextScramble, RoundTripsInBothWidths) {
  const char* texts[] = {"", "secret", "p;w{}", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80"};
  for (const char* t : texts) {
    char* s = ScrambleText(t);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(strlen(s), 1 + 2 * strlen(t)) << t;
    EXPECT_EQ(s[0], kScrambleMarker);
    if (*t != '\0') {
      EXPECT_EQ(std::string(s).find(t), std::string::npos);
    }
    char* back = UnscrambleText(s);
    EXPECT_STREQ(back, *t == '\0' ? nullptr : t);
    // Digits of either case read alike.
    std::string lower = s;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    lower[0] = kScrambleMarker;
    char* fromLower = UnscrambleText(lower.c_str());
    EXPECT_STREQ(fromLower, *t == '\0' ? nullptr : t);
    free(s);
    free(back);
    free(fromLower);
  }
  const char16_t wide[] = u"p\u00e9\U0001F600";
  char16_t* ws = ScrambleTextW(wide);
  ASSERT_NE(ws, nullptr);
  EXPECT_EQ(std::u16string(ws).size(), 1u + 2 * 7);  // 1 + 2 + 4 UTF-8 bytes
  char16_t* wback = UnscrambleTextW(ws);
  ASSERT_NE(wback, nullptr);
  EXPECT_EQ(std::u16string(wback), std::u16string(wide));
  free(ws);
  free(wback);
}

TEST(TextScramble, RefusesWhatIsNotScrambled) {
  EXPECT_EQ(UnscrambleText(nullptr), nullptr);
  EXPECT_EQ(UnscrambleText("~"), nullptr);
  EXPECT_EQ(UnscrambleText("plain"), nullptr);
  EXPECT_EQ(UnscrambleTextW(u"~"), nullptr);
  EXPECT_EQ(UnscrambleTextW(nullptr), nullptr);
  EXPECT_EQ(ScrambleText(nullptr), nullptr);
  // A character that is no digit counts as 0, and a lone last digit is ignored.
  char* a = ScrambleText("A");
  std::string bad = a;
  free(a);
  char* clean = UnscrambleText((bad + "7").c_str());
  EXPECT_STREQ(clean, "A");
  free(clean);
}

TEST(OdbcInstaller, EntriesAreFoundByName) {
  EXPECT_NE(OdbcInstLoad(), nullptr);
  EXPECT_NE(OdbcInstProc("SQLGetPrivateProfileString"), nullptr);
  EXPECT_EQ(OdbcInstProc("NoSuchInstallerEntry"), nullptr);
}

}  // namespace
}  // namespace kx
