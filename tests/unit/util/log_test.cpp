#include "util/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kx {
namespace {

// ---- format expansion ---------------------------------------------------------

std::string Expand(const char* format, int errnum = 0, const char* file = "j-common", int line = 77,
                   size_t capacity = LOG_LINE_MAX) {
  std::vector<char> buf(capacity + 8, '#');  // guard bytes behind the capacity
  char* end = LogExpandFormat(format, buf.data(), capacity, errnum, file, line);
  for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "wrote past capacity";
  if (capacity) {
    EXPECT_EQ(*end, '\0');
  }
  return capacity ? std::string(buf.data(), end) : std::string();
}

TEST(LogExpandFormat, Directives) {
  struct Case {
    const char* format;
    int errnum;
    const char* file;
    std::string expect;
  } cases[] = {
      {"line %L", 0, "f.c", "line 77\n"},
      {"at %F:%L", 0, "j-common", "at j-common:77\n"},
      {"open: %m", 2, "f", std::string("open: ") + strerror(2) + "\n"},
      {"%m", 5000, "f", "Unknown error 5000\n"},
      {"x=%d %s %%", 0, "f", "x=%d %s %%\n"},  // left for the printf step
      {"first\nsecond", 0, "f", "first\n"},
      {"100%", 0, "f", "100%%\n"},  // a lone '%' at the end prints as itself
      {"in %F", 0, nullptr, "in ?\n"},
      {"in %F", 0, "50%s.c", "in 50%%s.c\n"},  // inserted text never becomes a directive
      {"", 0, "f", "\n"},
      {"at %F.", 0, "two\nlines", "at two lines.\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.format, c.errnum, c.file), c.expect) << c.format;
}

TEST(LogExpandFormat, StaysInsideItsCapacity) {
  std::string longFormat(5000, 'x');
  std::string out = Expand(longFormat.c_str());
  EXPECT_EQ(out.size(), LOG_LINE_MAX - 1);
  EXPECT_EQ(out.back(), '\n');

  std::string longFile(3000, 'f');
  out = Expand("file %F end", 0, longFile.c_str(), 1, 64);
  EXPECT_EQ(out.size(), 63u);
  EXPECT_EQ(out.back(), '\n');

  // A directive pair or a doubled '%' is never split at the edge.
  for (size_t cap = 2; cap < 12; ++cap) {
    std::string s = Expand("ab%d%%%m", 0, "f", 1, cap);
    ASSERT_EQ(s.back(), '\n') << cap;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
      if (s[i] != '%') continue;
      EXPECT_LT(i + 2, s.size()) << "dangling '%' at capacity " << cap << ": " << s;
      ++i;
    }
  }
  EXPECT_EQ(Expand("abc", 0, "f", 1, 1), "");
  EXPECT_EQ(Expand("abc", 0, "f", 1, 0), "");
  EXPECT_EQ(Expand("abc", 0, "f", 1, 2), "\n");
}

// ---- writing before any sink exists: a fresh process ------------------------------

// Standard error is the application's: errors reach it as diagnostics, so
// only the reason the driver ends the process (critical and worse) is
// written there; debug lines (SQL text, Java calls) and errors never show.
TEST(LogDeathTest, WithoutSinksOnlyCriticalLinesGoToStandardErrorUnprefixed) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        LogAt(LOG_DEBUG, "file.c", 1, "debug %d", 1);
        LogAt(LOG_INFO, "file.c", 2, "info %d", 2);
        LogAt(LOG_WARNING, "file.c", 3, "warning %d", 3);
        LogAt(99, nullptr, 0, "clamped to %s", "debug");
        LogAt(LOG_ERROR, "file.c", 4, "x=%d", 5);
        LogAt(LOG_CRIT, nullptr, 0, "crit");
        LogAt(-4, nullptr, 0, "clamped to %s", "emerg");
        LogDebug("short debug");
        LogError("short error");
        exit(0);
      },
      ::testing::ExitedWithCode(0), "^crit\nclamped to emerg\n$");
}

TEST(LogDeathTest, SAllocExhaustionLogsAndExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(s_alloc(SIZE_MAX / 2, 4), ::testing::ExitedWithCode(1), "s_alloc: out of memory");
  EXPECT_EXIT(s_realloc(nullptr, SIZE_MAX), ::testing::ExitedWithCode(1),
              "s_realloc: out of memory");
}

// ---- sinks --------------------------------------------------------------------------

struct Captured {
  int level;
  std::string line;
};

class LogSinkTest : public ::testing::Test {
 protected:
  static void Emit(LogSink* sink, int level, const char* line) {
    captures()[sink]->push_back({level, line});
  }
  static std::map<LogSink*, std::vector<Captured>*>& captures() {
    static std::map<LogSink*, std::vector<Captured>*> m;
    return m;
  }
  // A sink whose lines are collected in *into (NULL: a sink that is never written to).
  LogSink* Open(std::vector<Captured>* into, int level, uint32_t categories, uint32_t flags) {
    LogSink* s = LogSinkOpenCb(Emit, nullptr, level, categories, flags);
    EXPECT_NE(s, nullptr);
    captures()[s] = into;
    opened_.push_back(s);
    return s;
  }
  void TearDown() override {
    for (LogSink* s : opened_) {
      LogSinkClose(s);
      captures().erase(s);
      free(s);
    }
  }
  std::vector<LogSink*> opened_;
};

TEST_F(LogSinkTest, LevelMaskAndClamping) {
  std::vector<Captured> got;
  Open(&got, LOG_WARNING, 0xFFFFFFFFu, 0);
  for (int level : {0, 3, 4, 5, 6, 7, 12, -3})
    LogAt(level, nullptr, 0, "L%d", level);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].line, "L0\n");
  EXPECT_EQ(got[2].line, "L4\n");
  EXPECT_EQ(got[3].line, "L-3\n");
  EXPECT_EQ(got[3].level, LOG_EMERG) << "below 0 is EMERG";
}

TEST_F(LogSinkTest, CategoriesSelectSinks) {
  std::vector<Captured> got;
  Open(&got, LOG_DEBUG, 0x2, 0);
  LogWrite(LOG_ERROR, nullptr, 0, 0x1, "cat1");
  LogWrite(LOG_ERROR, nullptr, 0, 0x6, "cat2");
  LogWrite(LOG_ERROR, nullptr, 0, 0, "cat0");  // category 0 reaches every sink
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].line, "cat2\n");
  EXPECT_EQ(got[1].line, "cat0\n");
}

TEST_F(LogSinkTest, SetMaskSetsUpToTheLevelAndClearsAbove) {
  LogSink* s = Open(nullptr, LOG_EMERG, 0, 0);
  LogSinkSetMask(s, 2, 6);
  LogSinkSetMask(s, 0, 4);
  const uint32_t expect[8] = {6, 2, 2, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(s->mask[i], expect[i]) << "level " << i;
  LogSinkSetLevel(s, 99);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(s->mask[i], 0xFFFFFFFFu);
}

TEST_F(LogSinkTest, PrefixesByFlags) {
  struct Case {
    uint32_t flags;
    const char* file;
    const char* pattern;
  } cases[] = {
      {LOGF_TIME, "x.c", R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d connect failed 7\n)"},
      {LOGF_TIME | LOGF_LEVEL, "x.c", R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d ERROR: connect failed 7\n)"},
      {LOGF_FILELINE, "j-common", R"(\(j-common:120\): connect failed 7\n)"},
      {LOGF_FILELINE, nullptr, R"(connect failed 7\n)"},
      {LOGF_LEVEL | LOGF_PROGRAM, nullptr, R"(ERROR TEST_UTIL: connect failed 7\n)"},
      {0, "x.c", R"(connect failed 7\n)"},
  };
  for (const auto& c : cases) {
    std::vector<Captured> got;
    LogSink* s = Open(&got, LOG_DEBUG, 0xFFFFFFFFu, c.flags);
    LogAt(LOG_ERROR, c.file, 120, "connect failed %d", 7);
    LogSinkClose(s);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::regex_match(got[0].line, std::regex(c.pattern)))
        << "flags " << c.flags << ": " << got[0].line;
  }
}

TEST_F(LogSinkTest, DayBannerOncePerDayWithShortTimeStamp) {
  std::vector<Captured> got;
  LogSink* s = Open(&got, LOG_DEBUG, 0xFFFFFFFFu, LOGF_DAYBANNER | LOGF_TIME);
  LogAt(LOG_ERROR, nullptr, 0, "one");
  LogAt(LOG_ERROR, nullptr, 0, "two");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(std::regex_match(got[0].line, std::regex(R"(\n\t\t\w{3} \w{3} \d\d \d{4}\n)")))
      << got[0].line;
  EXPECT_TRUE(std::regex_match(got[1].line, std::regex(R"(\d\d:\d\d:\d\d one\n)"))) << got[1].line;
  EXPECT_TRUE(std::regex_match(got[2].line, std::regex(R"(\d\d:\d\d:\d\d two\n)")));
  s->bannerDay = 0;  // as if the day had changed since the last line
  LogAt(LOG_ERROR, nullptr, 0, "three");
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[3].line, got[0].line);
}

// Each sink formats the arguments afresh: reusing one argument list for a
// second sink would print garbage (or crash) there.
TEST_F(LogSinkTest, EverySinkGetsTheWholeMessageNewestFirst) {
  std::vector<Captured> older, newer;
  std::vector<Captured> order;
  Open(&older, LOG_DEBUG, 0xFFFFFFFFu, 0);
  Open(&newer, LOG_DEBUG, 0xFFFFFFFFu, 0);
  LogAt(LOG_INFO, nullptr, 0, "%s=%d %s", "x", 5, "end");
  ASSERT_EQ(older.size(), 1u);
  ASSERT_EQ(newer.size(), 1u);
  EXPECT_EQ(older[0].line, "x=5 end\n");
  EXPECT_EQ(newer[0].line, "x=5 end\n");
  EXPECT_EQ(opened_[1]->next, opened_[0]) << "new sinks are linked in front";
}

TEST_F(LogSinkTest, ErrnoDirectiveShowsTheCallersError) {
  std::vector<Captured> got;
  Open(&got, LOG_DEBUG, 0xFFFFFFFFu, 0);
  errno = ENOENT;
  LogError("open failed: %m");
  EXPECT_EQ(errno, ENOENT) << "logging leaves errno alone";
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].line, std::string("open failed: ") + strerror(ENOENT) + "\n");
  EXPECT_EQ(got[0].level, LOG_ERROR);
  LogWarning("w");
  LogInfo("i");
  LogDebug("d");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].level, LOG_WARNING);
  EXPECT_EQ(got[3].level, LOG_DEBUG);
}

TEST_F(LogSinkTest, LongMessagesAreCutToOneLine) {
  std::vector<Captured> got;
  Open(&got, LOG_DEBUG, 0xFFFFFFFFu, LOGF_LEVEL);
  std::string big(5000, 'v');
  LogAt(LOG_ERROR, nullptr, 0, "%s", big.c_str());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].line.size(), LOG_LINE_MAX - 1);
  EXPECT_EQ(got[0].line.rfind("ERROR: vvv", 0), 0u);
  EXPECT_EQ(got[0].line.back(), '\n');
}

TEST_F(LogSinkTest, AfterTheLastSinkClosesNothingIsWritten) {
  std::vector<Captured> got;
  LogSink* s = Open(&got, LOG_DEBUG, 0xFFFFFFFFu, 0);
  LogSinkClose(s);
  EXPECT_EQ(s->next, s);
  EXPECT_EQ(LogSinkClose(s), 0) << "closing twice is harmless";
  ::testing::internal::CaptureStderr();
  LogAt(LOG_EMERG, nullptr, 0, "lost");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(got.empty());
}

TEST_F(LogSinkTest, StreamAndPathSinks) {
  char path[] = "/tmp/kx-log-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);

  LogSink* ps = LogSinkOpenPath(path, LOG_DEBUG, 0xFFFFFFFFu, LOGF_LEVEL);
  ASSERT_NE(ps, nullptr);
  opened_.push_back(ps);
  LogAt(LOG_WARNING, nullptr, 0, "to file %d", 1);
  EXPECT_EQ(ps->close, LogSinkCloseFile);
  LogSinkClose(ps);
  EXPECT_EQ(ps->file, nullptr);
  LogSinkClose(ps);  // must not close the stream a second time

  FILE* f = fopen(path, "a");
  ASSERT_NE(f, nullptr);
  LogSink* ss = LogSinkOpenStream(f, LOG_DEBUG, 0xFFFFFFFFu, 0);
  opened_.push_back(ss);
  LogAt(LOG_DEBUG, nullptr, 0, "to stream");
  LogSinkClose(ss);
  EXPECT_EQ(fputs("still open\n", f) >= 0, true) << "a stream sink never closes its stream";
  fclose(f);

  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "WARNING: to file 1\nto stream\nstill open\n");
  unlink(path);

  EXPECT_EQ(LogSinkOpenPath("/nonexistent-dir/x.log", LOG_DEBUG, 1, 0), nullptr);
  LogSink* ns = LogSinkOpenNull(nullptr, nullptr, nullptr, LOG_DEBUG, 1, 0);
  opened_.push_back(ns);
  LogAt(LOG_DEBUG, nullptr, 0, "into nothing");
}

TEST_F(LogSinkTest, CloseAllClosesEverySink) {
  std::vector<Captured> a, b;
  Open(&a, LOG_DEBUG, 0xFFFFFFFFu, 0);
  Open(&b, LOG_DEBUG, 0xFFFFFFFFu, 0);
  LogCloseAll();
  for (LogSink* s : opened_) EXPECT_EQ(s->next, s);
  LogAt(LOG_ERROR, nullptr, 0, "gone");
  EXPECT_TRUE(a.empty());
  EXPECT_TRUE(b.empty());
}

TEST(LogParseMask, NamesToBits) {
  const LogMaskName rows[] = {{"a", 1}, {"b", 4}, {"sql", 8}};
  struct Case {
    const char* text;
    int result;
    uint32_t mask;
  } cases[] = {
      {"a,b", 0, 5}, {"a,c", -1, 1}, {"sql", 0, 8}, {"SQL", -1, 0},
      {"", -1, 0},   {"a,", -1, 1},  {"b,b", 0, 4},
  };
  for (const auto& c : cases) {
    uint32_t mask = 0xFFFF;
    EXPECT_EQ(LogParseMask(c.text, rows, 3, &mask), c.result) << c.text;
    EXPECT_EQ(mask, c.mask) << c.text;
  }
  const LogMaskName withEmpty[] = {{"", 2}};
  uint32_t mask = 0;
  EXPECT_EQ(LogParseMask("", withEmpty, 1, &mask), 0) << "an empty item is looked up too";
  EXPECT_EQ(mask, 2u);
}

TEST(LogAllocation, WrappersAndHelpers) {
  auto* one = static_cast<unsigned char*>(s_alloc(0, 10));
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one[0], 0);
  one = static_cast<unsigned char*>(s_realloc(one, 0));
  ASSERT_NE(one, nullptr) << "a size of 0 keeps a block";
  free(one);
  auto* zeroed = static_cast<int*>(s_alloc(100, sizeof(int)));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(zeroed[i], 0);
  free(zeroed);
  char* copy = s_strdup("text");
  EXPECT_STREQ(copy, "text");
  free(copy);

  EXPECT_STREQ(s_strerror(ENOENT), strerror(ENOENT));
  EXPECT_STREQ(s_strerror(5000), "Unknown error 5000");
  EXPECT_STREQ(s_strerror(-1), "Unknown error 4294967295");

  char buf[16];
  char* end = StrCopyEnd(buf, "abc");
  EXPECT_EQ(end, buf + 3);
  EXPECT_EQ(*end, '\0');
  s_console_owned();
  s_console_pause();  // never waits in this process
}

}  // namespace
}  // namespace kx
