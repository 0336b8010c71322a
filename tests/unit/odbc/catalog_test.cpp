// The catalog functions: what reaches the agent for each argument (NULL kept
// apart from ""), the argument rules, the table-type list, and the state a
// catalog call leaves, through the narrow and the wide entries.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/build_flavor.h"
#include "odbc/catalog.h"
#include "unit/odbc/stmt_fixture.h"

namespace kx::testing {
namespace {

enum Fn {
  kColumnPrivileges,
  kColumns,
  kForeignKeys,
  kPrimaryKeys,
  kProcedureColumns,
  kProcedures,
  kSpecialColumns,
  kStatistics,
  kTablePrivileges,
  kTables,
};

const char* AgentOp(Fn fn) {
  static const char* const kOps[] = {"DDColumnPrivileges", "DDColumns",       "DDForeignKeys",
                                     "DDPrimaryKeys",      "DDProcedureColumns", "DDProcedures",
                                     "DDSpecialColumns",   "DDStatistics",    "DDTablePrivileges",
                                     "DDTables"};
  return kOps[fn];
}

int NameCount(Fn fn) {
  switch (fn) {
    case kForeignKeys: return 6;
    case kColumnPrivileges: case kColumns: case kProcedureColumns: case kTables: return 4;
    default: return 3;
  }
}

constexpr const char* kNull = nullptr;

struct Name {
  const char* text;
  SQLSMALLINT length;
};

// Holds the UTF-16 copies a wide call needs.
struct WideNames {
  std::u16string text[6];
  SQLWCHAR* Get(int i, const Name& n) {
    if (n.text == nullptr) return nullptr;
    for (const char* p = n.text; *p != '\0'; ++p) text[i].push_back(static_cast<char16_t>(*p));
    return reinterpret_cast<SQLWCHAR*>(text[i].data());
  }
};

class CatalogTest : public StmtTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    StmtTest::SetUp();
    SetUnicodeBuild(GetParam() != 0);
  }

  bool Wide() const { return GetParam() != 0; }

  // Calls one catalog function through the entry of the build under test.
  // options: SpecialColumns' identifier type, scope, nullable; Statistics'
  // unique and accuracy.
  SQLRETURN Run(Fn fn, std::vector<Name> names, std::vector<SQLUSMALLINT> options = {}) {
    names.resize(6, Name{nullptr, 0});
    options.resize(3, 0);
    auto n = [&](int i) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(names[i].text)); };
    auto l = [&](int i) { return names[i].length; };
    if (!Wide()) {
      switch (fn) {
        case kColumnPrivileges:
          return SQLColumnPrivileges(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), n(3), l(3));
        case kColumns: return SQLColumns(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), n(3), l(3));
        case kForeignKeys:
          return SQLForeignKeys(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), n(3), l(3), n(4), l(4),
                                n(5), l(5));
        case kPrimaryKeys: return SQLPrimaryKeys(stmt_, n(0), l(0), n(1), l(1), n(2), l(2));
        case kProcedureColumns:
          return SQLProcedureColumns(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), n(3), l(3));
        case kProcedures: return SQLProcedures(stmt_, n(0), l(0), n(1), l(1), n(2), l(2));
        case kSpecialColumns:
          return SQLSpecialColumns(stmt_, options[0], n(0), l(0), n(1), l(1), n(2), l(2),
                                   options[1], options[2]);
        case kStatistics:
          return SQLStatistics(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), options[0], options[1]);
        case kTablePrivileges: return SQLTablePrivileges(stmt_, n(0), l(0), n(1), l(1), n(2), l(2));
        case kTables: return SQLTables(stmt_, n(0), l(0), n(1), l(1), n(2), l(2), n(3), l(3));
      }
      return SQL_ERROR;
    }
    WideNames w;
    auto m = [&](int i) { return w.Get(i, names[i]); };
    switch (fn) {
      case kColumnPrivileges:
        return SQLColumnPrivilegesW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), m(3), l(3));
      case kColumns: return SQLColumnsW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), m(3), l(3));
      case kForeignKeys:
        return SQLForeignKeysW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), m(3), l(3), m(4), l(4),
                               m(5), l(5));
      case kPrimaryKeys: return SQLPrimaryKeysW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2));
      case kProcedureColumns:
        return SQLProcedureColumnsW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), m(3), l(3));
      case kProcedures: return SQLProceduresW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2));
      case kSpecialColumns:
        return SQLSpecialColumnsW(stmt_, options[0], m(0), l(0), m(1), l(1), m(2), l(2),
                                  options[1], options[2]);
      case kStatistics:
        return SQLStatisticsW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), options[0], options[1]);
      case kTablePrivileges: return SQLTablePrivilegesW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2));
      case kTables: return SQLTablesW(stmt_, m(0), l(0), m(1), l(1), m(2), l(2), m(3), l(3));
    }
    return SQL_ERROR;
  }

  // The arguments the last call of fn's agent operation received; "<NULL>"
  // for a NULL argument.
  static std::vector<std::string> Sent(Fn fn, int extra = 0) {
    std::vector<std::string> out;
    for (int i = 0; i < NameCount(fn) + extra; ++i) {
      char buffer[128] = {};
      const int n = TestAgent_LastCatalogArg(AgentOp(fn), i, buffer, sizeof buffer);
      out.push_back(n == -1 ? "<NULL>" : n < -1 ? "<none>" : buffer);
    }
    return out;
  }

  static std::vector<Name> AllNull(Fn fn) {
    return std::vector<Name>(static_cast<size_t>(NameCount(fn)), Name{nullptr, SQL_NTS});
  }
};

INSTANTIATE_TEST_SUITE_P(Entries, CatalogTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param ? std::string("Wide") : std::string("Narrow");
                         });

using Args = std::vector<std::string>;

// NULL names: "%" where the function reads the name as an "any" pattern,
// NULL (no restriction) elsewhere; a required name is refused.
TEST_P(CatalogTest, NullNamesByFunction) {
  const struct {
    Fn fn;
    bool refused;
    Args sent;
  } cases[] = {
      {kColumns, false, {"<NULL>", "%", "%", "%"}},
      {kProcedureColumns, false, {"<NULL>", "%", "%", "%"}},
      {kProcedures, false, {"<NULL>", "%", "%"}},
      {kTablePrivileges, false, {"<NULL>", "%", "%"}},
      {kTables, false, {"<NULL>", "%", "%", ""}},
      {kColumnPrivileges, true, {}},
      {kPrimaryKeys, true, {}},
      {kSpecialColumns, true, {}},
      {kStatistics, true, {}},
      {kForeignKeys, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(AgentOp(c.fn));
    const int before = TestAgent_Calls(AgentOp(c.fn));
    if (c.refused) {
      EXPECT_EQ(Run(c.fn, AllNull(c.fn)), SQL_ERROR);
      EXPECT_EQ(Rec(stmt_)->error, KX_ERR_BAD_ARGUMENT);
      EXPECT_EQ(TestAgent_Calls(AgentOp(c.fn)), before);
    } else {
      EXPECT_EQ(Run(c.fn, AllNull(c.fn)), SQL_SUCCESS);
      EXPECT_EQ(Sent(c.fn), c.sent);
    }
  }
}

// With the required names given, the other NULLs reach the agent as NULL,
// "" as "", and every text without its enclosing quotes.
TEST_P(CatalogTest, NamesReachTheAgentAsGiven) {
  const struct {
    Fn fn;
    std::vector<Name> names;
    std::vector<SQLUSMALLINT> options;
    Args sent;
  } cases[] = {
      // A pattern argument is matched as it stands, quotes and all.
      {kColumns, {{"", SQL_NTS}, {"", 0}, {"\"My Table\"", SQL_NTS}, {"'", SQL_NTS}},
       {}, {"", "", "\"My Table\"", "'"}},
      {kColumns, {{"CATALOG", 3}, {kNull, 0}, {"T", SQL_NTS}, {"C%", SQL_NTS}},
       {}, {"CAT", "%", "T", "C%"}},
      {kColumnPrivileges, {{kNull, 0}, {kNull, 0}, {"T", SQL_NTS}, {kNull, 0}},
       {}, {"<NULL>", "<NULL>", "T", "%"}},
      {kPrimaryKeys, {{kNull, 0}, {"", SQL_NTS}, {"'orders'", SQL_NTS}},
       {}, {"<NULL>", "", "orders"}},
      {kForeignKeys, {{kNull, 0}, {kNull, 0}, {"P", SQL_NTS}, {kNull, 0}, {kNull, 0}, {kNull, 0}},
       {}, {"<NULL>", "<NULL>", "P", "<NULL>", "<NULL>", "<NULL>"}},
      {kForeignKeys, {{kNull, 0}, {kNull, 0}, {kNull, 0}, {"c", 1}, {"s", 1}, {"F", 1}},
       {}, {"<NULL>", "<NULL>", "<NULL>", "c", "s", "F"}},
      {kProcedures, {{kNull, 0}, {"", SQL_NTS}, {"P\"", SQL_NTS}}, {}, {"<NULL>", "", "P\""}},
      {kSpecialColumns, {{kNull, 0}, {kNull, 0}, {"T", SQL_NTS}}, {SQL_ROWVER, SQL_SCOPE_SESSION,
       SQL_NO_NULLS}, {"<NULL>", "<NULL>", "T", "2", "2", "0"}},
      {kStatistics, {{kNull, 0}, {kNull, 0}, {"T", SQL_NTS}}, {SQL_INDEX_ALL, SQL_ENSURE},
       {"<NULL>", "<NULL>", "T", "1", "1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(AgentOp(c.fn));
    ASSERT_EQ(Run(c.fn, c.names, c.options), SQL_SUCCESS);
    const int extra = static_cast<int>(c.sent.size()) - NameCount(c.fn);
    EXPECT_EQ(Sent(c.fn, extra), c.sent);
  }
}

TEST_P(CatalogTest, BadLengthsAreRefusedExceptBySQLTables) {
  for (Fn fn : {kColumnPrivileges, kColumns, kForeignKeys, kPrimaryKeys, kProcedureColumns,
                kProcedures, kSpecialColumns, kStatistics, kTablePrivileges}) {
    SCOPED_TRACE(AgentOp(fn));
    for (int bad = 0; bad < NameCount(fn); ++bad) {
      std::vector<Name> names(static_cast<size_t>(NameCount(fn)), Name{"T", SQL_NTS});
      names[static_cast<size_t>(bad)].length = -5;
      const int before = TestAgent_Calls(AgentOp(fn));
      EXPECT_EQ(Run(fn, names), SQL_ERROR);
      EXPECT_EQ(Rec(stmt_)->error, KX_ERR_BAD_ARGUMENT);
      EXPECT_EQ(TestAgent_Calls(AgentOp(fn)), before);
    }
  }
  // SQLTables reads such a name up to its terminator.
  ASSERT_EQ(Run(kTables, {{"C", -5}, {"S", -7}, {"T", -5}, {"TABLE", -5}}), SQL_SUCCESS);
  EXPECT_EQ(Sent(kTables), (Args{"C", "S", "T", "'TABLE'"}));
}

TEST_P(CatalogTest, TableTypesAndTheConnectionOptions) {
  ConnRecord* conn = ConnRec(dbc_);
  const uint16_t saved = conn->flags;
  const struct {
    uint16_t flags;
    const char* types;
    const char* sent;
  } cases[] = {
      {0, "TABLE, VIEW", "'TABLE','VIEW'"},
      {0, " 'TABLE' , 'VIEW' ", "'TABLE','VIEW'"},
      {0, "%;junk", "%"},
      {0, "", ""},
      {CF_IV, "TABLE", "'TABLE','VIEW'"},
      {CF_IV, "'TABLE','VIEW'", "'TABLE','VIEW'"},
      {CF_IV, "table", "'table'"},
      {CF_IV, "SYSTEM TABLE", "'SYSTEM TABLE'"},
      {CF_IA, "TABLE, VIEW", ""},
      {CF_IV | CF_IA, "TABLE", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.types);
    conn->flags = static_cast<uint16_t>((saved & ~(CF_IV | CF_IA)) | c.flags);
    ASSERT_EQ(Run(kTables, {{kNull, 0}, {kNull, 0}, {kNull, 0}, {c.types, SQL_NTS}}), SQL_SUCCESS);
    EXPECT_EQ(Sent(kTables)[3], c.sent);
  }
  conn->flags = saved;
}

TEST_P(CatalogTest, CatalogCallReplacesWhatTheStatementHeld) {
  OpenResult(stmt_, "A:4");
  const int closes = TestAgent_Calls("CloseCursor");
  ASSERT_EQ(Run(kTables, {{kNull, 0}, {kNull, 0}, {"T%", SQL_NTS}, {kNull, 0}}), SQL_SUCCESS);
  EXPECT_EQ(TestAgent_Calls("CloseCursor"), closes + 1);
  StmtRecord* st = Rec(stmt_);
  EXPECT_EQ(st->state, STMT_PREPARED);
  EXPECT_NE(st->flags & SF_EXECUTED, 0);
  EXPECT_EQ(st->flags & SF_PREPARED, 0);
  // The catalog result is described and read like any other.
  TestAgent_SetResult("TABLE_CAT:12,TABLE_SCHEM:12,TABLE_NAME:12,TABLE_TYPE:12,REMARKS:12", "");
  SQLSMALLINT n = 0;
  EXPECT_EQ(SQLNumResultCols(stmt_, &n), SQL_SUCCESS);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(SQLCloseCursor(stmt_), SQL_SUCCESS);
}

TEST_P(CatalogTest, AgentFailureBringsItsMessageAndLeavesTheStatementClosed) {
  OpenResult(stmt_, "A:4");
  TestAgent_FailNext("DDColumns", 15, "42S02", "no such table");
  EXPECT_EQ(Run(kColumns, {{kNull, 0}, {kNull, 0}, {"T", SQL_NTS}, {kNull, 0}}), SQL_ERROR);
  std::string text;
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_, &text), "42S02");
  EXPECT_NE(text.find("no such table"), std::string::npos);
  EXPECT_EQ(Rec(stmt_)->state, STMT_ALLOCATED);
  // A refused argument closes the statement all the same.
  OpenResult(stmt_, "A:4");
  EXPECT_EQ(Run(kPrimaryKeys, {{kNull, 0}, {kNull, 0}, {kNull, 0}}), SQL_ERROR);
  EXPECT_EQ(Rec(stmt_)->state, STMT_ALLOCATED);
}

TEST(TableTypeList, QuoteAndFind) {
  const struct {
    const char* in;
    const char* out;
  } quoted[] = {
      {"TABLE", "'TABLE'"},
      {"TABLE,VIEW", "'TABLE','VIEW'"},
      {"  TABLE  ,\tVIEW\t", "'TABLE','VIEW'"},
      {"'TABLE','VIEW'", "'TABLE','VIEW'"},
      {"A,,B", "'A','','B'"},
      {",", "'',''"},
      {"\"T\"", "'\"T\"'"},
      {"SYSTEM TABLE", "'SYSTEM TABLE'"},
      {"%", "%"},
      {"%TABLE", "%"},
      {"", ""},
  };
  for (const auto& c : quoted) {
    char* out = TableTypeQuote(c.in);
    ASSERT_NE(out, nullptr) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
    std::free(out);
  }
  EXPECT_EQ(TableTypeQuote(nullptr), nullptr);

  const struct {
    const char* list;
    const char* item;
    int position;
  } found[] = {
      {"'TABLE','VIEW'", "'TABLE'", 1},
      {"'TABLE', 'VIEW'", "'VIEW'", 2},
      {"'TABLES','VIEW'", "'TABLE'", 0},
      {"'table'", "'TABLE'", 0},
      {"", "'TABLE'", 0},
      {"'A',,'TABLE'", "'TABLE'", 3},
  };
  for (const auto& c : found) {
    EXPECT_EQ(TableTypeFind(c.list, c.item), c.position) << c.list << " / " << c.item;
  }
  EXPECT_EQ(TableTypeFind(nullptr, "'TABLE'"), 0);
  EXPECT_EQ(TableTypeFind("'TABLE'", nullptr), 0);
}

}  // namespace
}  // namespace kx::testing
