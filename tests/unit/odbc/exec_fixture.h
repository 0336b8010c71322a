// Shared set-up of the execution and parameter tests: a connected statement
// on the test agent in either build flavour, statements prepared against
// scripted parameter descriptions, and readers of the parameter block the
// agent received.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "agent/build_flavor.h"
#include "odbc/exec/execute.h"
#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {

// Parameterised on the build flavour: 1 Unicode, 0 ANSI.
class ExecTest : public StmtTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
  }
  void TearDown() override {
    StmtTest::TearDown();
    SetUnicodeBuild(true);
  }

  bool Unicode() const { return GetParam() != 0; }

  // Prepares a text whose parameters the agent describes as given
  // ("*I:4,*O:12,...").
  void Prepare(const char* sql, const char* params, SQLHSTMT s = SQL_NULL_HSTMT) {
    if (s == SQL_NULL_HSTMT) s = stmt_;
    TestAgent_SetParamDescs(params);
    ASSERT_EQ(SQLPrepare(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS), SQL_SUCCESS)
        << StmtState(s);
  }

  static const RowBuffer* Block() { return AgentLastParamBlock(); }

  static std::string Bytes(const RowBuffer* b, int col, int row) {
    const RowBufferColumn& c = b->columns[col];
    return std::string(reinterpret_cast<const char*>(c.data) + size_t(row) * c.width, c.width);
  }

  template <class T>
  static T Value(const RowBuffer* b, int col, int row, size_t at = 0) {
    T v;
    const RowBufferColumn& c = b->columns[col];
    std::memcpy(&v, c.data + size_t(row) * c.width + at, sizeof v);
    return v;
  }

  // Text of a text element up to its first NUL.
  static std::string Text(const RowBuffer* b, int col, int row) {
    const std::string raw = Bytes(b, col, row);
    return raw.substr(0, raw.find('\0'));
  }

  void SetAttr(SQLINTEGER attr, SQLPOINTER value) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, attr, value, 0), SQL_SUCCESS) << StmtState(stmt_);
  }
};

inline std::string FlavourName(const ::testing::TestParamInfo<int>& info) {
  return info.param != 0 ? "Unicode" : "Ansi";
}

}  // namespace kx::testing
