#include "util/str_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "util/errcodes.h"

namespace kx {
namespace {

// Owns a malloc'd result.
struct Owned {
  char* p;
  explicit Owned(char* q) : p(q) {}
  ~Owned() { free(p); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

TEST(StrUtil, TrimRight) {
  char ab[] = "ab  ";
  EXPECT_EQ(StrTrimRight(ab), ab + 1);
  EXPECT_STREQ(ab, "ab");
  char blanks[] = " \t\r\n";
  EXPECT_EQ(StrTrimRight(blanks), nullptr);
  EXPECT_STREQ(blanks, "");
  char empty[] = "";
  EXPECT_EQ(StrTrimRight(empty), nullptr);
  EXPECT_EQ(StrTrimRight(nullptr), nullptr);
  char inner[] = " a b\f";
  EXPECT_EQ(StrTrimRight(inner), inner + 3);
  EXPECT_STREQ(inner, " a b");
}

TEST(StrUtil, SkipSpace) {
  EXPECT_STREQ(StrSkipSpace(" \t\nx y"), "x y");
  const char* blank = "   ";
  EXPECT_EQ(StrSkipSpace(blank), blank + 3);
}

TEST(StrUtil, KeywordMatching) {
  const char* sel = "  select  x from t";
  EXPECT_EQ(StrKeywordCI("SELECT", sel), sel + 10);
  EXPECT_EQ(StrKeywordCI("SELECT", "selectx"), nullptr) << "only a prefix of a longer word";
  const char* alone = "SELECT";
  EXPECT_EQ(StrKeywordCI("SELECT", alone), alone + 6);
  EXPECT_EQ(StrKeywordCI("SELECT", "SEL"), nullptr) << "text ends inside the keyword";
  EXPECT_EQ(StrKeywordCI("SELECT", "update t"), nullptr);
  EXPECT_EQ(StrKeywordExact("SELECT", "select x"), nullptr);
  const char* exact = "SELECT\tx";
  EXPECT_EQ(StrKeywordExact("SELECT", exact), exact + 7);
  const char* trailing = "call   ";
  EXPECT_EQ(StrKeyword("CALL", trailing, 0), trailing + 7);
  EXPECT_EQ(StrKeywordCI(nullptr, "x"), nullptr);
  EXPECT_EQ(StrKeywordCI("x", static_cast<const char*>(nullptr)), nullptr);
}

TEST(StrUtil, FindCaseInsensitive) {
  const char* msg = "[SQLSTATE:42000] bad";
  EXPECT_EQ(StrFindCI(msg, "sqlstate:"), msg + 1);
  EXPECT_EQ(StrFindCI(msg, "BAD"), msg + 17);
  EXPECT_EQ(StrFindCI(msg, "missing"), nullptr);
  EXPECT_EQ(StrFindCI("ab", "abc"), nullptr) << "pattern longer than text";
  EXPECT_EQ(StrFindCI(msg, ""), msg + strlen(msg));
  EXPECT_EQ(StrFindCI("aaab", "AAB"), static_cast<const char*>("aaab") + 1);
}

TEST(StrUtil, FileExtension) {
  struct Case {
    const char* path;
    int mode;
    const char* expect;
  } cases[] = {
      {"/dir/init", STR_EXT_DEFAULT, "/dir/init.sql"},
      {"/dir/init.txt", STR_EXT_DEFAULT, "/dir/init.txt"},
      {"/dir/init.txt", STR_EXT_REPLACE, "/dir/init.sql"},
      {"/dir/init.txt", STR_EXT_REMOVE, "/dir/init"},
      {"/dir.x/init", STR_EXT_DEFAULT, "/dir.x/init.sql"},  // dot in a directory
      {"/dir.x/init", STR_EXT_REMOVE, "/dir.x/init"},
      {"/dir/.profile", STR_EXT_DEFAULT, "/dir/.profile.sql"},  // leading dot names the file
      {".profile", STR_EXT_REMOVE, ".profile"},
      {"a.b.c", STR_EXT_REPLACE, "a.b.sql"},
      {"init", STR_EXT_REPLACE, "init.sql"},
      {"", STR_EXT_DEFAULT, ".sql"},
      {"x.txt", 7, "x.txt"},
  };
  for (const auto& c : cases) EXPECT_STREQ(StrFileExt(c.path, "sql", c.mode), c.expect) << c.path;
}

TEST(StrUtil, FileExtensionNeverOverrunsItsBuffer) {
  std::string longPath = "/" + std::string(STR_FILEEXT_MAX - 2, 'p');  // fits exactly
  EXPECT_EQ(std::string(StrFileExt(longPath.c_str(), "sql", STR_EXT_REMOVE)), longPath);
  EXPECT_STREQ(StrFileExt(longPath.c_str(), "sql", STR_EXT_DEFAULT), "")
      << "no room for the extension: no cut name either";
  std::string tooLong(STR_FILEEXT_MAX + 10, 'q');
  EXPECT_STREQ(StrFileExt(tooLong.c_str(), "sql", STR_EXT_REMOVE), "");
  EXPECT_STREQ(StrFileExt(nullptr, "sql", STR_EXT_DEFAULT), "");
}

TEST(StrUtil, FileExtensionBufferIsPerThread) {
  const char* mine = StrFileExt("/a/mine.txt", "sql", STR_EXT_REPLACE);
  std::thread([] { StrFileExt("/b/theirs", "ini", STR_EXT_DEFAULT); }).join();
  EXPECT_STREQ(mine, "/a/mine.sql");
}

TEST(StrUtil, ProgramName) {
  struct Case {
    const char* command;
    const char* expect;
  } cases[] = {
      {"/apps/myapp.exe -x", "MYAPP"},
      {"/usr/bin/isql", "ISQL"},
      {"iusql -v DSN", "IUSQL"},
      {"./krnl386", "WOW"},
      {"", "Unknown"},
      {"/dir/", "Unknown"},
      {nullptr, "Unknown"},
  };
  char out[255];
  for (const auto& c : cases) {
    StrProgName(c.command, out, sizeof out);
    EXPECT_STREQ(out, c.expect) << (c.command ? c.command : "(null)");
  }
  std::string huge = "/" + std::string(400, 'z');
  StrProgName(huge.c_str(), out, sizeof out);
  EXPECT_EQ(strlen(out), 254u);
  char small[4];
  StrProgName("/bin/program", small, sizeof small);
  EXPECT_STREQ(small, "PRO");
}

TEST(StrUtil, ProgramNameOfThisProcess) {
  EXPECT_STREQ(s_progname(), "TEST_UTIL");
  EXPECT_EQ(s_progname(), s_progname()) << "computed once";
}

TEST(StrUtil, CopyWithLength) {
  char* out = nullptr;
  ASSERT_EQ(StrCopyN(&out, "abcdef", 3), KX_OK);
  EXPECT_STREQ(out, "abc");
  free(out);
  ASSERT_EQ(StrCopyN(&out, "abcdef", STR_NTS), KX_OK);
  EXPECT_STREQ(out, "abcdef");
  free(out);
  ASSERT_EQ(StrCopyN(&out, nullptr, 5), KX_OK);
  EXPECT_STREQ(out, "");
  free(out);
  const char unterminated[3] = {'x', 'y', 'z'};
  ASSERT_EQ(StrCopyN(&out, unterminated, 3), KX_OK);
  EXPECT_STREQ(out, "xyz");
  free(out);
  EXPECT_EQ(StrCopyN(&out, "abc", -7), KX_ERR_GENERAL);
  EXPECT_EQ(out, nullptr);
}

TEST(StrUtil, CopyUnquote) {
  struct Case {
    const char* text;
    int64_t length;
    const char* expect;
  } cases[] = {
      {"'abc'", STR_NTS, "abc"},     {"\"abc\"", STR_NTS, "abc"},
      {"'abc\"", STR_NTS, "'abc\""}, {"'", STR_NTS, "'"},
      {"''", STR_NTS, ""},           {"'abc'xyz", 5, "abc"},
      {"abc", STR_NTS, "abc"},       {nullptr, STR_NTS, ""},
      // A doubled quote of the enclosing kind stands for one; the other kind
      // stays as it is.
      {"\"na\"\"me\"", STR_NTS, "na\"me"},  {"'o''k'", STR_NTS, "o'k"},
      {"'a\"\"b'", STR_NTS, "a\"\"b"},      {"\"\"\"\"", STR_NTS, "\""},
      {"\"a\"\"\"tail", 5, "a\""},
  };
  for (const auto& c : cases) {
    char* out = nullptr;
    ASSERT_EQ(StrCopyUnquote(&out, c.text, c.length), KX_OK);
    Owned o(out);
    EXPECT_STREQ(out, c.expect) << (c.text ? c.text : "(null)");
  }
}

TEST(StrUtil, QuoteAndUnquote) {
  EXPECT_STREQ(Owned(StrQuote("ab", STR_NTS, '"')).p, "\"ab\"");
  EXPECT_STREQ(Owned(StrQuote("ab", STR_NTS, ' ')).p, "ab");
  EXPECT_STREQ(Owned(StrQuote("a\"b", STR_NTS, '"')).p, "\"a\"\"b\"") << "inner quote doubled";
  EXPECT_STREQ(Owned(StrQuote("abcd", 2, '\'')).p, "'ab'");
  EXPECT_STREQ(Owned(StrQuote(nullptr, STR_NTS, '"')).p, "\"\"");

  EXPECT_STREQ(Owned(StrUnquote("\"ab\"", STR_NTS, '"')).p, "ab");
  EXPECT_STREQ(Owned(StrUnquote("ab", STR_NTS, '"')).p, "ab");
  EXPECT_STREQ(Owned(StrUnquote("'ab'", STR_NTS, '"')).p, "'ab'") << "other quote character";
  EXPECT_STREQ(Owned(StrUnquote("\"ab\"", STR_NTS, ' ')).p, "\"ab\"");
  EXPECT_STREQ(Owned(StrUnquote(nullptr, STR_NTS, '"')).p, "");
  // A counted text without quotes is copied by its length, not to a terminator.
  const char counted[4] = {'w', 'x', 'y', 'z'};
  EXPECT_STREQ(Owned(StrUnquote(counted, 2, '"')).p, "wx");
}

// Quoting and unquoting into a caller's buffer: the whole result's length is
// returned whatever the room, the buffer never overrun and always terminated.
TEST(StrUtil, QuoteUnquoteIntoBuffers) {
  struct Case {
    const char* text;
    char quote;
    const char* unquoted;  // StrUnquoteTo of text
    const char* quoted;    // StrQuoteTo of text
  } cases[] = {
      {"", '"', "", "\"\""},                                          // empty
      {"\"\"", '"', "", "\"\"\"\"\"\""},                              // only the enclosing pair
      {"\"", '"', "\"", "\"\"\"\""},                                  // a lone quote
      {"\"\"\"", '"', "\"", "\"\"\"\"\"\"\"\""},                      // three quotes
      {"\"\"\"\"", '"', "\"", "\"\"\"\"\"\"\"\"\"\""},                // only quotes: one doubled
      {"\"abc", '"', "\"abc", "\"\"\"abc\""},                         // unterminated
      {"abc\"", '"', "abc\"", "\"abc\"\"\""},                         // unopened
      {"\"na\"\"me\"", '"', "na\"me", "\"\"\"na\"\"\"\"me\"\"\""},    // doubled inside
      {"\"a\"b\"", '"', "a\"b", "\"\"\"a\"\"b\"\"\""},                // a single inner quote kept
      {"'x''y'", '\'', "x'y", "'''x''''y'''"},
      {"\"ab\"", ' ', "\"ab\"", "\"ab\""},                            // blank quote: as it stands
      {"\"ab\"", '\0', "\"ab\"", "\"ab\""},
  };
  using Writer = size_t (*)(char*, size_t, const char*, size_t, char);
  for (const auto& c : cases) {
    const size_t n = std::strlen(c.text);
    const std::pair<Writer, const char*> writers[] = {{StrUnquoteTo, c.unquoted},
                                                      {StrQuoteTo, c.quoted}};
    for (const auto& [write, expect] : writers) {
      const std::string want = expect;
      SCOPED_TRACE(std::string("text ") + c.text + " want " + want);
      EXPECT_EQ(write(nullptr, 0, c.text, n, c.quote), want.size()) << "measuring";
      for (size_t capacity = 0; capacity <= want.size() + 2; ++capacity) {
        std::string buf(want.size() + 8, '#');
        EXPECT_EQ(write(buf.data(), capacity, c.text, n, c.quote), want.size());
        const size_t kept = capacity == 0 ? 0 : std::min(capacity - 1, want.size());
        if (capacity != 0) {
          EXPECT_EQ(std::string(buf.c_str()), want.substr(0, kept)) << "capacity " << capacity;
        }
        EXPECT_EQ(buf.find_first_not_of('#', capacity), std::string::npos)
            << "written past capacity " << capacity;
      }
    }
  }
  // A counted text is read by its length, never up to a terminator.
  const char counted[6] = {'"', 'a', '"', '"', '"', 'z'};
  char out[8];
  EXPECT_EQ(StrUnquoteTo(out, sizeof out, counted, 5, '"'), 2u);
  EXPECT_STREQ(out, "a\"");
  // Quoting then unquoting gives the text back.
  for (const char* name : {"a\"b", "\"", "x\"\"y\"", "", "Mixed Case"}) {
    Owned q(StrQuote(name, STR_NTS, '"'));
    EXPECT_STREQ(Owned(StrUnquote(q.p, STR_NTS, '"')).p, name);
  }
}

TEST(StrUtil, SmallRecordsRelease) {
  struct {
    char* sql;
    char* analysis;
    int other;
  } pair = {strdup("select 1"), strdup("a"), 7};
  EXPECT_EQ(StrFreePair(&pair), &pair);
  EXPECT_EQ(pair.sql, nullptr);
  EXPECT_EQ(pair.analysis, nullptr);
  EXPECT_EQ(pair.other, 7);

  StrList list{42, 2, static_cast<char**>(malloc(2 * sizeof(char*)))};
  list.texts[0] = strdup("one");
  list.texts[1] = strdup("two");
  StrListFree(&list);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.texts, nullptr);
  StrListFree(&list);
}

TEST(StrUtil, AllocArray16GivesAtLeastOneZeroedRecord) {
  for (uint16_t n : {uint16_t{0}, uint16_t{1}, uint16_t{300}}) {
    auto* p = static_cast<unsigned char*>(AllocArray16(n));
    ASSERT_NE(p, nullptr);
    size_t bytes = 16u * (n ? n : 1);
    for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(p[i], 0) << i;
    free(p);
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The whole quoted piece within the bytes given; 0 when it does not close
// there (a NUL ends the text too) or no quote starts.
TEST(StrDollarQuote, LengthWithinTheGivenBytes) {
  struct Case {
    const char* text;
    size_t n;
    size_t expect;
  } cases[] = {
      {"$$a?b$$ rest", SIZE_MAX, 7},     {"$tag$x$$y$tag$", SIZE_MAX, 14},
      {"$tag$x$tagg$", SIZE_MAX, 0},     {"$_1$ $_1$", SIZE_MAX, 9},
      {"$1 + $2", SIZE_MAX, 0},          {"$ $", SIZE_MAX, 0},
      {"$$abc$$", 6, 0},                 {"$$abc$$", 7, 7},
      {"$$", SIZE_MAX, 0},               {"$a$b\0$a$", 9, 0},
      {"$\xc3\xa9$x$\xc3\xa9$", SIZE_MAX, 9},
  };
  for (const Case& c : cases) EXPECT_EQ(StrDollarQuoteLength(c.text, c.n), c.expect) << c.text;
  EXPECT_EQ(StrDollarQuoteLength(nullptr, 5), 0u);
}

}  // namespace
}  // namespace kx
