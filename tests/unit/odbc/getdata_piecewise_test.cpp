// SQLGetData reading one value in several pieces: the pieces concatenate to
// the value read whole, each call reports what is still to come, and the call
// after the last piece answers SQL_NO_DATA; for narrow, wide and binary
// sources and text, wide and binary targets, in both builds.
#include <random>

#include "agent/build_flavor.h"
#include "unit/odbc/fetch_fixture.h"

namespace kx::testing {
namespace {

class GetDataPiecesTest : public FetchTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    FetchTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
  }

  // Opens a one-row result holding `value` in a column of this storage type
  // and positions on the row.
  void OpenValue(int16_t sqlType, uint32_t rbType, const std::string& value) {
    Open(stmt_, {{"V", sqlType, rbType, 200}}, {{value}});
    ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  }

  // Target bytes of one piece: binary pieces are cut at the buffer, text
  // pieces end at their terminator.
  static size_t PieceBytes(SQLSMALLINT cType, const unsigned char* buf, SQLLEN bufLen, SQLLEN ind) {
    if (cType == SQL_C_BINARY) return static_cast<size_t>(std::min<SQLLEN>(bufLen, ind));
    if (cType == SQL_C_CHAR) return std::strlen(reinterpret_cast<const char*>(buf));
    size_t n = 0;
    while (true) {
      char16_t u;
      std::memcpy(&u, buf + 2 * n, 2);
      if (u == 0) break;
      ++n;
    }
    return 2 * n;
  }

  // The whole value in one call.
  std::string Whole(SQLSMALLINT cType) {
    std::vector<unsigned char> buf(4096);
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt_, 1, cType, buf.data(), static_cast<SQLLEN>(buf.size()), &ind), SQL_SUCCESS);
    EXPECT_GE(ind, 0);
    const size_t n = PieceBytes(cType, buf.data(), static_cast<SQLLEN>(buf.size()), ind);
    EXPECT_EQ(static_cast<SQLLEN>(n), ind);
    return std::string(reinterpret_cast<char*>(buf.data()), n);
  }

  // Reads the value in pieces with buffer lengths drawn from [lo, hi]; every
  // call reports the target bytes still to come.
  std::string Pieces(SQLSMALLINT cType, std::mt19937* rng, int lo, int hi, size_t whole,
                     bool checkLength = true) {
    std::string got;
    std::uniform_int_distribution<int> size(lo, hi);
    for (int guard = 0; guard < 10000; ++guard) {
      const SQLLEN bufLen = size(*rng);
      std::vector<unsigned char> buf(static_cast<size_t>(bufLen) + 8, 0xEE);
      SQLLEN ind = -99;
      const SQLRETURN rc = SQLGetData(stmt_, 1, cType, buf.data(), bufLen, &ind);
      if (rc == SQL_NO_DATA) {
        ADD_FAILURE() << "SQL_NO_DATA before the value was complete";
        return got;
      }
      EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
      if (checkLength) {
        EXPECT_EQ(ind, static_cast<SQLLEN>(whole - got.size())) << "buffer " << bufLen;
      }
      EXPECT_EQ(buf[static_cast<size_t>(bufLen)], 0xEE) << "written past the buffer";
      got.append(reinterpret_cast<char*>(buf.data()), PieceBytes(cType, buf.data(), bufLen, ind));
      if (rc == SQL_SUCCESS) {
        // Every buffer drawn is shorter than the values: several pieces.
        EXPECT_GT(guard, 0);
        unsigned char more[16];
        SQLLEN moreInd = 0;
        EXPECT_EQ(SQLGetData(stmt_, 1, cType, more, sizeof more, &moreInd), SQL_NO_DATA);
        return got;
      }
    }
    ADD_FAILURE() << "no end";
    return got;
  }
};

struct Source {
  const char* what;
  int16_t sqlType;
  uint32_t rbType;
  std::string value;
};

TEST_P(GetDataPiecesTest, PiecesConcatenateToTheWholeValue) {
  // Multi-byte UTF-8, a character outside the BMP (a surrogate pair in
  // UTF-16) and plain ASCII.
  const std::string text = "ab\xC3\xA9z\xE2\x82\xAC-\xF0\x9D\x84\x9E q\xC3\xB6rtz 12345 \xE2\x82\xAC\xE2\x82\xAC end";
  std::string bytes;
  for (int i = 0; i < 37; ++i) bytes.push_back(static_cast<char>(i * 7 + 1));
  const Source sources[] = {
      {"narrow terminated", SQL_VARCHAR, RBT_CHAR_NTS, text},
      {"narrow pointer", SQL_LONGVARCHAR, RBT_CHAR_PTR, text},
      {"narrow length-prefixed", SQL_VARCHAR, RBT_CHAR_LEN4, text},
      {"wide terminated", SQL_WVARCHAR, RBT_WCHAR_NTS, text},
      {"wide pointer", SQL_WLONGVARCHAR, RBT_WCHAR_PTR, text},
      {"binary pointer", SQL_LONGVARBINARY, RBT_BINARY_PTR, bytes},
      {"binary length-prefixed", SQL_VARBINARY, RBT_BINARY_LEN2, bytes},
  };
  struct Target {
    SQLSMALLINT cType;
    int lo, hi;  // buffer lengths that always make progress
  } targets[] = {{SQL_C_CHAR, 5, 23}, {SQL_C_WCHAR, 6, 30}, {SQL_C_BINARY, 1, 17}};
  std::mt19937 rng(20261210);
  for (const Source& s : sources) {
    for (const Target& t : targets) {
      SCOPED_TRACE(std::string(s.what) + " as C type " + std::to_string(t.cType));
      for (int round = 0; round < 8; ++round) {
        OpenValue(s.sqlType, s.rbType, s.value);
        const std::string whole = Whole(t.cType);
        ASSERT_FALSE(whole.empty());
        // A fresh row for the pieces: the whole read used this one up.
        OpenValue(s.sqlType, s.rbType, s.value);
        EXPECT_EQ(Pieces(t.cType, &rng, t.lo, t.hi, whole.size()), whole);
      }
    }
  }
}

// A long value comes from the agent piece by piece; a piece the target
// cannot take whole (a character cut by the piece size, wide text) is served
// to its end before the next piece is asked for.
TEST_P(GetDataPiecesTest, LongValuesConcatenateLikeValuesInTheBlock) {
  const std::string text = "long \xE2\x82\xAC value \xF0\x9D\x84\x9E with \xC3\xA9 many pieces 0123456789";
  struct Target {
    SQLSMALLINT cType;
    int lo, hi;
  } targets[] = {{SQL_C_CHAR, 5, 23}, {SQL_C_WCHAR, 10, 30}, {SQL_C_BINARY, 1, 17}};
  std::mt19937 rng(7);
  for (const Target& t : targets) {
    SCOPED_TRACE(t.cType);
    for (int round = 0; round < 8; ++round) {
      OpenValue(SQL_LONGVARCHAR, RBT_CHAR_NTS, text);
      const std::string whole = Whole(t.cType);
      OpenValue(SQL_LONGVARCHAR, RBT_CHAR_NTS, std::string(kLongMark) + text);
      EXPECT_EQ(Pieces(t.cType, &rng, t.lo, t.hi, whole.size(), false), whole);
    }
  }
}

// An agent may hand out less of a long value than was asked for. A binary
// target has no terminator, so every piece but the last still fills the
// buffer: what is in hand is joined with the agent's next piece first.
int32_t ThreeBytesAtATime(AgentHandle stmt, uint16_t column, uint16_t row, uint32_t pieceSize, void** piece,
                          uint32_t* octets, uint32_t* storage, int32_t* total) {
  return ScriptGetLongData(stmt, column, row, pieceSize == 0 ? 0 : std::min<uint32_t>(pieceSize, 3), piece,
                           octets, storage, total);
}

TEST_P(GetDataPiecesTest, BinaryPiecesFillTheBufferWhenTheAgentHandsOutLess) {
  table_.DRV_GetLongData = ThreeBytesAtATime;
  const std::string bytes = "0123456789abcdefghij";
  OpenValue(SQL_LONGVARBINARY, RBT_BINARY, std::string(kLongMark) + bytes);
  std::string got;
  SQLRETURN rc;
  int calls = 0;
  do {
    unsigned char buf[8];
    SQLLEN ind = 0;
    rc = SQLGetData(stmt_, 1, SQL_C_BINARY, buf, sizeof buf, &ind);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << StmtState(stmt_);
    ASSERT_EQ(ind, static_cast<SQLLEN>(bytes.size() - got.size()));
    const size_t n = std::min<size_t>(sizeof buf, static_cast<size_t>(ind));
    got.append(reinterpret_cast<char*>(buf), n);
    ++calls;
  } while (rc == SQL_SUCCESS_WITH_INFO && calls < 10);
  EXPECT_EQ(rc, SQL_SUCCESS);
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(calls, 3);
  unsigned char buf[8];
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_BINARY, buf, sizeof buf, &ind), SQL_NO_DATA);
}

TEST_P(GetDataPiecesTest, TenCharactersThroughAFourByteBuffer) {
  OpenValue(SQL_VARCHAR, RBT_CHAR_NTS, "0123456789");
  const char* expected[] = {"012", "345", "678", "9"};
  const SQLLEN lengths[] = {10, 7, 4, 1};
  for (int i = 0; i < 4; ++i) {
    char buf[4];
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), i < 3 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    EXPECT_STREQ(buf, expected[i]);
    EXPECT_EQ(ind, lengths[i]);
  }
  char buf[4];
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
}

TEST_P(GetDataPiecesTest, WideTargetOfSixBytesTakesTwoCharacters) {
  OpenValue(SQL_VARCHAR, RBT_CHAR_NTS, "0123456789");
  std::u16string got;
  SQLRETURN rc;
  int calls = 0;
  do {
    char16_t buf[3];
    SQLLEN ind = 0;
    rc = SQLGetData(stmt_, 1, SQL_C_WCHAR, buf, sizeof buf, &ind);
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    EXPECT_EQ(ind, static_cast<SQLLEN>(2 * (10 - got.size())));
    got += buf;
    ++calls;
  } while (rc == SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(got, u"0123456789");
}

TEST_P(GetDataPiecesTest, BinaryAsHexTextContinuesWithTheNextByte) {
  OpenValue(SQL_VARBINARY, RBT_BINARY_LEN1, std::string("\x01\x23\x45\x67\x89", 5));
  char buf[5];
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buf, "0123");
  EXPECT_EQ(ind, 10);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buf, "4567");
  EXPECT_EQ(ind, 6);
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
  EXPECT_STREQ(buf, "89");
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
}

TEST_P(GetDataPiecesTest, ContinuationKeepsItsCType) {
  OpenValue(SQL_VARCHAR, RBT_CHAR_NTS, "abcdef");
  char buf[3];
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  // Another C type on a continuation: no more data of that kind.
  SQLINTEGER n = 0;
  EXPECT_EQ(SQLGetData(stmt_, 1, SQL_C_SLONG, &n, 0, &ind), SQL_NO_DATA);
  // SQL_C_DEFAULT continues with the first call's type.
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_DEFAULT, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buf, "cd");
  EXPECT_EQ(ind, 4);
}

INSTANTIATE_TEST_SUITE_P(Builds, GetDataPiecesTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& i) { return i.param ? "Unicode" : "Ansi"; });

}  // namespace
}  // namespace kx::testing
