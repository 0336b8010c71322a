// Trace files: name macros, banners, line framing, file mode, the stderr
// stream and the XA file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "odbc/trace.h"

namespace kx {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) out.push_back(line);
  return out;
}

class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kx-trace-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const char* old = getenv("ZNT_DEBUGFILE");
    if (old != nullptr) saved_ = old, hadSaved_ = true;
  }
  void TearDown() override {
    TraceClose(TRACE_ODBC);
    TraceClose(TRACE_XA);
    if (hadSaved_) {
      setenv("ZNT_DEBUGFILE", saved_.c_str(), 1);
    } else {
      unsetenv("ZNT_DEBUGFILE");
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string dir_;
  std::string saved_;
  bool hadSaved_ = false;
};

TEST(TraceName, MacrosExpand) {
  const char* oldHome = getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  setenv("HOME", "/tmp/kx-home", 1);
  const std::string pid = std::to_string(static_cast<long>(getpid()));
  const std::string user = TraceUserName();
  struct Case {
    const char* name;
    std::string expected;
  } cases[] = {
      {"/tmp/odbc-$p-$U.log", "/tmp/odbc-" + pid + "-" + user + ".log"},
      {"/tmp/odbc-$P.log", "/tmp/odbc-" + pid + ".log"},
      {"/tmp/a$$b", "/tmp/a$b"},
      {"/tmp/a$xb", "/tmp/ab"},
      {"/tmp/trace$", "/tmp/trace"},
      {"$Htrace.log", "/tmp/kx-home/trace.log"},
      {"$htrace.log", "/tmp/kx-home/trace.log"},
      {"/tmp/u-$u", "/tmp/u-" + user},
  };
  for (const Case& c : cases) EXPECT_EQ(TraceExpandName(c.name, TRACE_ODBC), c.expected) << c.name;
  if (oldHome != nullptr) {
    setenv("HOME", savedHome.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  EXPECT_EQ(TraceExpandName("/tmp/trace.log", TRACE_XA), "/tmp/trace.log-xa");
  EXPECT_TRUE(std::regex_match(TraceExpandName("/tmp/t-$T", TRACE_ODBC),
                               std::regex("/tmp/t-[0-9]{8}-[0-9]{6}")));
  EXPECT_FALSE(user.empty());
}

TEST(TraceName, HomeWithoutVariableComesFromTheAccount) {
  const char* old = getenv("HOME");
  std::string saved = old != nullptr ? old : "";
  unsetenv("HOME");
  std::string home = TraceHomeDir();
  if (old != nullptr) setenv("HOME", saved.c_str(), 1);
  ASSERT_FALSE(home.empty());
  EXPECT_EQ(home.front(), '/');
  EXPECT_EQ(home.back(), '/');
}

TEST_F(TraceFile, BannersLinesAndFinish) {
  const std::string path = dir_ + "/odbc.log";
  {
    std::ofstream old(path);
    old << "stale content that must go\n";
  }
  setenv("ZNT_DEBUGFILE", (dir_ + "/odbc.log").c_str(), 1);
  TraceOpen(TRACE_ODBC);
  ASSERT_TRUE(TraceOn());
  ASSERT_NE(TraceStream(TRACE_ODBC), nullptr);
  TracePrintf("line %d", 1);
  TracePrintf("ends in newline\n");
  TracePrintf("\n[%lX] SQL%s", 0x1fUL, "Fetch");
  TraceClose(TRACE_ODBC);
  EXPECT_FALSE(TraceOn());

  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto lines = Lines(ReadAll(path));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\*\* Quillmar ODBC Trace file for .+ \*\*)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(
      lines[1],
      std::regex(R"(\*\* started on \w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4} \*\*)")))
      << lines[1];
  EXPECT_EQ(lines[2], "line 1");
  EXPECT_EQ(lines[3], "ends in newline");
  EXPECT_EQ(lines[4], "");  // the format's own newline gives an empty line
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[6], "[1F] SQLFetch");
  EXPECT_EQ(lines[7], "");
  EXPECT_TRUE(std::regex_match(
      lines[8], std::regex(R"(\*\* finished on \w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4} \*\*)")))
      << lines[8];
  EXPECT_EQ(lines[9], "** normal end **");
}

TEST_F(TraceFile, NothingIsWrittenWhileClosed) {
  TracePrintf("nobody listens");
  XaTracePrintf(1, "nobody listens");
  TplTracePrintf("nobody listens");
  EXPECT_FALSE(TraceOn());
}

TEST_F(TraceFile, UncreatableFileLeavesTracingOff) {
  setenv("ZNT_DEBUGFILE", (dir_ + "/no/such/dir/odbc.log").c_str(), 1);
  TraceOpen(TRACE_ODBC);
  EXPECT_FALSE(TraceOn());
  EXPECT_EQ(TraceStream(TRACE_ODBC), nullptr);
}

TEST_F(TraceFile, XaFileGetsSuffixAndThreadPrefix) {
  setenv("ZNT_DEBUGFILE", (dir_ + "/trace.log").c_str(), 1);
  TraceOpen(TRACE_XA);
  XaTracePrintf(1, "xa_open %d", 7);
  XaTracePrintf(0, "** normal end **");
  TraceClose(TRACE_XA);
  EXPECT_FALSE(TraceOn());

  auto lines = Lines(ReadAll(dir_ + "/trace.log-xa"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "** Quillmar XA Trace File **");
  EXPECT_TRUE(lines[1].rfind("** started on ", 0) == 0);
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "");
  EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(\[\d+\] xa_open 7)"))) << lines[4];
  EXPECT_EQ(lines[5], "** normal end **");
}

TEST_F(TraceFile, FinishBannerOfTheXaTraceGoesToTheOdbcStream) {
  setenv("ZNT_DEBUGFILE", (dir_ + "/both.log").c_str(), 1);
  TraceOpen(TRACE_ODBC);
  TraceOpen(TRACE_XA);
  TraceClose(TRACE_XA);
  EXPECT_TRUE(TraceOn());  // the ODBC stream is still open
  TraceClose(TRACE_ODBC);
  EXPECT_FALSE(TraceOn());
  const std::string odbc = ReadAll(dir_ + "/both.log");
  size_t first = odbc.find("** normal end **");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(odbc.find("** normal end **", first + 1), std::string::npos);
  EXPECT_EQ(ReadAll(dir_ + "/both.log-xa").find("normal end"), std::string::npos);
}

TEST_F(TraceFile, StderrStreamIsNeverClosed) {
  setenv("ZNT_DEBUGFILE", "stderr", 1);
  testing::internal::CaptureStderr();
  TraceOpen(TRACE_ODBC);
  EXPECT_EQ(TraceStream(TRACE_ODBC), stderr);
  EXPECT_EQ(TraceStream(TRACE_XA), stderr);
  TracePrintf("to the console");
  TraceClose(TRACE_ODBC);
  // The other two types still hold the standard error stream.
  EXPECT_TRUE(TraceOn());
  TraceClose(TRACE_XA);
  TraceClose(TRACE_TPL);
  EXPECT_FALSE(TraceOn());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("to the console\n"), std::string::npos);
  EXPECT_NE(fcntl(STDERR_FILENO, F_GETFD), -1);
  EXPECT_EQ(fprintf(stderr, "%s", ""), 0);
}

}  // namespace
}  // namespace kx
