// The initial SQL file and the JDBC jar-directory lookup.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "drv_jdbc/text/j_initsql.h"
#include "odbc/libmain.h"
#include "util/log.h"

namespace kx {
namespace {

// A temporary directory, removed with its files.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kx-initsql-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    if (!path_.empty()) {
      std::string cmd = "rm -rf '" + path_ + "'";
      if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path_;
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Write(const std::string& name, const std::string& text) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> statements;
  std::string unterminated;
  unsigned lines;
};

TEST(InitialSql, SplitsIntoStatements) {
  const std::string longLine = "SELECT '" + std::string(3000, 'x') + "' FROM t";
  const SplitCase cases[] = {
      {"one statement", "SET a;\n", {"SET a"}, "", 1},
      {"no final line end", "SET a;\nSET b;", {"SET a", "SET b"}, "", 2},
      {"three lines joined", "UPDATE t\n   SET a = 1\n WHERE b = 2 ;\n",
       {"UPDATE t SET a = 1 WHERE b = 2"}, "", 3},
      {"comments and blanks inside", "SELECT\n  # note;\n\n\t \n  1;\n", {"SELECT 1"}, "", 5},
      {"CR LF line ends", "SET a;\r\nSET\r\n b;\r\n", {"SET a", "SET b"}, "", 3},
      {"lone semicolon", "SELECT 1\n;\n;\n", {"SELECT 1"}, "", 3},
      {"semicolon inside a line", "SET a; SET b\n", {}, "SET a; SET b", 1},
      {"last statement unterminated", "SET a;\nSET b\n# c\n", {"SET a"}, "SET b", 3},
      {"empty file", "", {}, "", 0},
      {"only comments", "# a\n\n   # b;\n", {}, "", 3},
      {"long line", longLine + ";\n", {longLine}, "", 1},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    InitialSqlScript script;
    JDB_SplitInitialSql(c.text, &script);
    EXPECT_EQ(script.statements, c.statements);
    EXPECT_EQ(script.unterminated, c.unterminated);
    EXPECT_EQ(script.lines, c.lines);
  }
}

TEST(InitialSql, PathGetsSqlExtensionOnlyWhenItHasNone) {
  EXPECT_EQ(JDB_InitialSqlPath("init"), "init.sql");
  EXPECT_EQ(JDB_InitialSqlPath("init.txt"), "init.txt");
  EXPECT_EQ(JDB_InitialSqlPath("/etc/conf.d/init"), "/etc/conf.d/init.sql");
  EXPECT_EQ(JDB_InitialSqlPath(""), "");
  EXPECT_EQ(JDB_InitialSqlPath(nullptr), "");
}

// Records what the agent's Java side would be asked to do.
struct Recorder {
  std::vector<std::string> calls;
  int openResult = 0;
  std::string failing;  // statement whose execution fails

  InitialSqlRunner Runner() {
    InitialSqlRunner r{};
    r.context = this;
    r.open = [](void* ctx) {
      auto* self = static_cast<Recorder*>(ctx);
      self->calls.push_back("open");
      return self->openResult;
    };
    r.execute = [](void* ctx, const char* sql) {
      auto* self = static_cast<Recorder*>(ctx);
      self->calls.push_back(sql);
      return self->failing == sql ? 1 : 0;
    };
    r.close = [](void* ctx) { static_cast<Recorder*>(ctx)->calls.push_back("close"); };
    return r;
  }
};

TEST(InitialSql, RunsEveryStatementAndGoesOnAfterAFailure) {
  TempDir dir;
  dir.Write("init.sql", "# set up\nSET a;\nSET\n  b;\nSET c;");
  Recorder rec;
  rec.failing = "SET b";
  EXPECT_EQ(JDB_RunInitialSqlWith((dir.path() + "/init").c_str(), rec.Runner()), 0);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"open", "SET a", "SET b", "SET c", "close"}));
}

TEST(InitialSql, UnterminatedLastStatementIsNotRun) {
  TempDir dir;
  std::string file = dir.Write("init.txt", "SET a;\nSET b\n");
  Recorder rec;
  EXPECT_EQ(JDB_RunInitialSqlWith(file.c_str(), rec.Runner()), -1);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"open", "SET a", "close"}));
}

TEST(InitialSql, MissingFileOrStatementFailure) {
  TempDir dir;
  Recorder missing;
  EXPECT_EQ(JDB_RunInitialSqlWith((dir.path() + "/none").c_str(), missing.Runner()), -1);
  EXPECT_TRUE(missing.calls.empty());
  // A directory opens but cannot be read.
  ASSERT_EQ(mkdir((dir.path() + "/sub.sql").c_str(), 0700), 0);
  EXPECT_EQ(JDB_RunInitialSqlWith((dir.path() + "/sub").c_str(), missing.Runner()), -1);
  EXPECT_TRUE(missing.calls.empty());

  std::string file = dir.Write("init.sql", "SET a;\n");
  Recorder refused;
  refused.openResult = 1;
  EXPECT_EQ(JDB_RunInitialSqlWith(file.c_str(), refused.Runner()), -1);
  EXPECT_EQ(refused.calls, (std::vector<std::string>{"open"}));

  InitialSqlScript script;
  EXPECT_EQ(JDB_ReadInitialSql((dir.path() + "/none.sql").c_str(), &script), -1);
  EXPECT_EQ(JDB_ReadInitialSql(file.c_str(), &script), 0);
  EXPECT_EQ(script.statements, (std::vector<std::string>{"SET a"}));
}

// The file may hold passwords: the log names each statement by its number and
// first word, never by its text.
TEST(InitialSql, LogShowsNoStatementText) {
  static std::vector<std::string> lines;
  lines.clear();
  LogSink* sink = LogSinkOpenCb([](LogSink*, int, const char* line) { lines.emplace_back(line); }, nullptr,
                                LOG_DEBUG, 0xFFFFFFFFu, 0);
  ASSERT_NE(sink, nullptr);
  TempDir dir;
  std::string file = dir.Write("init.sql", "CONNECT TO db USER u USING 'Secret-1';\nSET ROLE r IDENTIFIED BY Secret-2;\n");
  Recorder rec;
  rec.failing = "SET ROLE r IDENTIFIED BY Secret-2";
  EXPECT_EQ(JDB_RunInitialSqlWith(file.c_str(), rec.Runner()), 0);
  LogSinkClose(sink);
  std::free(sink);
  ASSERT_EQ(rec.calls.size(), 4u);
  std::string all;
  for (const std::string& l : lines) all += l;
  EXPECT_EQ(all.find("Secret"), std::string::npos) << all;
  EXPECT_NE(all.find("statement 1 [CONNECT ...]"), std::string::npos) << all;
  EXPECT_NE(all.find("statement 2 [SET ...]"), std::string::npos) << all;
}

// ---- jar directory --------------------------------------------------------

std::map<std::string, std::string> g_setup;

int FakeSetupValue(const char*, const char* name, const char* defaultValue, char* buffer,
                   int size) {
  auto it = g_setup.find(name);
  const char* value = it != g_setup.end() ? it->second.c_str() : defaultValue;
  snprintf(buffer, static_cast<size_t>(size), "%s", value);
  return static_cast<int>(strlen(buffer));
}

TEST(JarDir, FromSetupValues) {
  struct Case {
    std::map<std::string, std::string> values;
    std::string dir;
  } cases[] = {
      {{{"QXLibs", "/opt/jars"}}, "/opt/jars/"},
      {{{"QXLibs", "/opt/jars/"}}, "/opt/jars/"},
      {{{"InstallDir", "/opt/q/"}}, "/opt/q/jre/lib/"},
      {{{"InstallDir", "/opt/q"}}, "/opt/q/jre/lib/"},
      {{{"QXLibs", "/a"}, {"InstallDir", "/b/"}}, "/a/"},
      {{{"QXLibs", ""}, {"InstallDir", "/b/"}}, "/b/jre/lib/"},
      {{}, ""},
      {{{"QXLibs", std::string(5000, 'x')}}, ""},  // too long to be used cut
  };
  for (const Case& c : cases) {
    g_setup = c.values;
    EXPECT_EQ(JDB_LookupJarDir(FakeSetupValue, nullptr), c.dir);
  }
  g_setup.clear();
  EXPECT_EQ(JDB_LookupJarDir(nullptr, nullptr), "");
}

// The driver's odbcinst.ini sections, read through the core. The installer
// library keeps what it read for the life of the process, so this is the only
// test that points it at a file.
TEST(JarDir, FromTheDriverSectionTheConnectNames) {
  TempDir dir;
  // Without a named section (a library loaded directly) the section is the
  // one named by the driver's description, which differs between the builds.
  const std::string values = "InstallDir = /opt/quillmar/\nQXLibs = /usr/share/qx/jars\n";
  dir.Write("odbcinst.ini", "[Quillmar Informix Driver (Skerrin Edition)(Unicode)]\n" + values +
                                "\n[Quillmar Informix Driver (Skerrin Edition)]\n" + values +
                                "\n[Second]\nDriver = /nowhere/libkestrix.so\nQXLibs = /srv/jars\n"
                                "\n[Installed]\nDriver = /nowhere/libkestrix.so\n"
                                "InstallDir = /opt/kx\n");
  dir.Write("odbc.ini", "");
  setenv("ODBCSYSINI", dir.path().c_str(), 1);
  setenv("ODBCINI", (dir.path() + "/odbc.ini").c_str(), 1);
  const struct {
    const char* section;
    const char* jarDir;
  } cases[] = {
      {nullptr, "/usr/share/qx/jars/"},
      {"", "/usr/share/qx/jars/"},
      {"Second", "/srv/jars/"},
      {"Installed", "/opt/kx/jre/lib/"},
      {"No such section", "/usr/share/qx/jars/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JDB_LookupJarDir(GetSetupValue, c.section), c.jarDir)
        << (c.section != nullptr ? c.section : "(null)");
  }
}

}  // namespace
}  // namespace kx
