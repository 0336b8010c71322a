// Every catalog function and every SQLGetInfo answer through the driver
// manager with the real driver, on H2 and PostgreSQL in both builds: the
// ODBC 3 result layouts (names and SQL types of the columns) and the rows for
// a small schema the test creates: a parent table with a two-column primary
// key and an index, a child table referencing it, a view and (PostgreSQL) a
// procedure with IN and INOUT parameters.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Row = std::vector<std::string>;

SQLCHAR* Text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

// Expected layouts: "NAME:k" per column, k = c (character), s (SMALLINT),
// i (INTEGER), ? (type left to the driver).
const char* const kTablesLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,TABLE_TYPE:c,REMARKS:c";
const char* const kColumnsLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,COLUMN_NAME:c,DATA_TYPE:s,TYPE_NAME:c,"
    "COLUMN_SIZE:i,BUFFER_LENGTH:i,DECIMAL_DIGITS:s,NUM_PREC_RADIX:s,NULLABLE:s,REMARKS:c,"
    "COLUMN_DEF:c,SQL_DATA_TYPE:s,SQL_DATETIME_SUB:s,CHAR_OCTET_LENGTH:i,ORDINAL_POSITION:i,"
    "IS_NULLABLE:c";
const char* const kPrimaryKeysLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,COLUMN_NAME:c,KEY_SEQ:s,PK_NAME:c";
const char* const kForeignKeysLayout =
    "PKTABLE_CAT:c,PKTABLE_SCHEM:c,PKTABLE_NAME:c,PKCOLUMN_NAME:c,FKTABLE_CAT:c,"
    "FKTABLE_SCHEM:c,FKTABLE_NAME:c,FKCOLUMN_NAME:c,KEY_SEQ:s,UPDATE_RULE:s,DELETE_RULE:s,"
    "FK_NAME:c,PK_NAME:c,DEFERRABILITY:s";
const char* const kStatisticsLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,NON_UNIQUE:s,INDEX_QUALIFIER:c,INDEX_NAME:c,"
    "TYPE:s,ORDINAL_POSITION:s,COLUMN_NAME:c,ASC_OR_DESC:c,CARDINALITY:i,PAGES:i,"
    "FILTER_CONDITION:c";
const char* const kSpecialColumnsLayout =
    "SCOPE:s,COLUMN_NAME:c,DATA_TYPE:s,TYPE_NAME:c,COLUMN_SIZE:i,BUFFER_LENGTH:i,"
    "DECIMAL_DIGITS:s,PSEUDO_COLUMN:s";
const char* const kProceduresLayout =
    "PROCEDURE_CAT:c,PROCEDURE_SCHEM:c,PROCEDURE_NAME:c,NUM_INPUT_PARAMS:?,"
    "NUM_OUTPUT_PARAMS:?,NUM_RESULT_SETS:?,REMARKS:c,PROCEDURE_TYPE:s";
const char* const kProcedureColumnsLayout =
    "PROCEDURE_CAT:c,PROCEDURE_SCHEM:c,PROCEDURE_NAME:c,COLUMN_NAME:c,COLUMN_TYPE:s,"
    "DATA_TYPE:s,TYPE_NAME:c,COLUMN_SIZE:i,BUFFER_LENGTH:i,DECIMAL_DIGITS:s,NUM_PREC_RADIX:s,"
    "NULLABLE:s,REMARKS:c,COLUMN_DEF:c,SQL_DATA_TYPE:s,SQL_DATETIME_SUB:s,CHAR_OCTET_LENGTH:i,"
    "ORDINAL_POSITION:i,IS_NULLABLE:c";
const char* const kTablePrivilegesLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,GRANTOR:c,GRANTEE:c,PRIVILEGE:c,IS_GRANTABLE:c";
const char* const kColumnPrivilegesLayout =
    "TABLE_CAT:c,TABLE_SCHEM:c,TABLE_NAME:c,COLUMN_NAME:c,GRANTOR:c,GRANTEE:c,PRIVILEGE:c,"
    "IS_GRANTABLE:c";
const char* const kTypeInfoLayout =
    "TYPE_NAME:c,DATA_TYPE:s,COLUMN_SIZE:i,LITERAL_PREFIX:c,LITERAL_SUFFIX:c,CREATE_PARAMS:c,"
    "NULLABLE:s,CASE_SENSITIVE:s,SEARCHABLE:s,UNSIGNED_ATTRIBUTE:s,FIXED_PREC_SCALE:s,"
    "AUTO_UNIQUE_VALUE:s,LOCAL_TYPE_NAME:c,MINIMUM_SCALE:s,MAXIMUM_SCALE:s,SQL_DATA_TYPE:s,"
    "SQL_DATETIME_SUB:s,NUM_PREC_RADIX:i,INTERVAL_PRECISION:s";

char Kind(SQLSMALLINT type) {
  switch (type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
      return 'c';
    case SQL_SMALLINT:
      return 's';
    case SQL_INTEGER:
      return 'i';
    default:
      return 'x';
  }
}

class CatalogLayouts : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    if (HasFatalFailure()) return;
    base_ = Id(UniqueName("cl"));
    parent_ = base_ + Id("_p");
    child_ = base_ + Id("_c");
    view_ = base_ + Id("_v");
    Exec("CREATE TABLE " + parent_ +
         " (a INTEGER NOT NULL, b VARCHAR(10) NOT NULL, name VARCHAR(20), PRIMARY KEY (a, b))");
    created_.push_back("TABLE " + parent_);
    Exec("CREATE INDEX " + base_ + Id("_ix") + " ON " + parent_ + " (name)");
    Exec("CREATE TABLE " + child_ + " (id INTEGER PRIMARY KEY, pa INTEGER, pb VARCHAR(10), made DATE, " +
         "CONSTRAINT " + base_ + Id("_fk") + " FOREIGN KEY (pa, pb) REFERENCES " + parent_ +
         " (a, b))");
    created_.push_back("TABLE " + child_);
    Exec("CREATE VIEW " + view_ + " AS SELECT a, name FROM " + parent_);
    created_.push_back("VIEW " + view_);
    if (GetParam().postgres) {
      proc_ = base_ + "_proc";
      Exec("CREATE PROCEDURE " + proc_ +
           " (IN x INTEGER, INOUT y INTEGER) LANGUAGE plpgsql AS $$ BEGIN y := x + y; END $$");
      created_.push_back("PROCEDURE " + proc_);
    }
    ResetStmt();
  }
  void TearDown() override {
    if (stmt_ != SQL_NULL_HSTMT) {
      for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
        ResetStmt();
        ExecDirect(stmt_, "DROP " + *it);
      }
    }
    RoadTest::TearDown();
  }

  // Identifiers as the database stores unquoted ones.
  std::string Id(std::string s) const {
    for (char& c : s) {
      c = static_cast<char>(GetParam().postgres ? std::tolower(c) : std::toupper(c));
    }
    return s;
  }
  // The open result's layout, in the form of the k*Layout strings.
  std::string Layout(const char* expected) {
    std::string out;
    SQLSMALLINT n = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt_, &n));
    for (SQLUSMALLINT i = 1; i <= n; ++i) {
      SQLCHAR name[64] = {0};
      SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt_, i, name, sizeof name, &length, &type, &size, &digits, &nullable);
      const std::string n1 = reinterpret_cast<char*>(name);
      // Columns whose type the layout leaves open are shown as expected.
      const std::string probe = n1 + ":?";
      const bool open = std::strstr(expected, probe.c_str()) != nullptr;
      out += (i > 1 ? "," : "") + n1 + ":" + (open ? '?' : Kind(type));
    }
    return out;
  }
  // Every row of the open result as text ("~" for NULL); closes the cursor.
  std::vector<Row> Rows() {
    std::vector<Row> rows;
    SQLSMALLINT n = 0;
    SQLNumResultCols(stmt_, &n);
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      Row row;
      for (SQLUSMALLINT i = 1; i <= n; ++i) {
        char value[512] = {0};
        SQLLEN indicator = 0;
        SQLGetData(stmt_, i, SQL_C_CHAR, value, sizeof value, &indicator);
        row.push_back(indicator == SQL_NULL_DATA ? "~" : value);
      }
      rows.push_back(row);
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << Diag(SQL_HANDLE_STMT, stmt_);
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return rows;
  }
  // Column c of every row, joined with "|".
  static std::string Col(const std::vector<Row>& rows, size_t c) {
    std::string out;
    for (const Row& r : rows) out += (out.empty() ? "" : "|") + r.at(c);
    return out;
  }
  std::string Schema() const { return Id("public"); }
  // H2 reports its user tables as "BASE TABLE".
  std::string TableType() const { return GetParam().postgres ? "TABLE" : "BASE TABLE"; }

  std::string base_, parent_, child_, view_, proc_;
  std::vector<std::string> created_;
};

// One catalog call: its layout and the check of its rows.
struct CatalogCase {
  const char* name;
  const char* layout;
  std::function<SQLRETURN(CatalogLayouts&)> call;
  std::function<void(CatalogLayouts&, const std::vector<Row>&)> check;
};

class CatalogLayoutsTest : public CatalogLayouts {
 protected:
  void Run(const CatalogCase& c) {
    SCOPED_TRACE(c.name);
    ResetStmt();
    SQLRETURN rc = c.call(*this);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    EXPECT_EQ(c.layout, Layout(c.layout));
    std::vector<Row> rows = Rows();
    if (c.check) c.check(*this, rows);
  }

 public:
  SQLRETURN Tables(const char* cat, const char* schem, const std::string& table, const char* type) {
    return SQLTables(stmt_, cat ? Text(cat) : nullptr, cat ? SQL_NTS : 0,
                     schem ? Text(schem) : nullptr, schem ? SQL_NTS : 0, Text(table), SQL_NTS,
                     type ? Text(type) : nullptr, type ? SQL_NTS : 0);
  }
  SQLHSTMT Stmt() const { return stmt_; }
  const std::string& Base() const { return base_; }
  const std::string& Parent() const { return parent_; }
  const std::string& Child() const { return child_; }
  const std::string& View() const { return view_; }
  const std::string& Proc() const { return proc_; }
  std::string Type() const { return TableType(); }
  std::string Sch() const { return Schema(); }
  std::string I(const char* s) const { return Id(s); }
  bool Pg() const { return GetParam().postgres; }
  static std::string Col(const std::vector<Row>& rows, size_t c) { return CatalogLayouts::Col(rows, c); }
};

std::vector<CatalogCase> Cases() {
  using T = CatalogLayoutsTest;
  auto S = [](CatalogLayouts& f) { return static_cast<T&>(f).Stmt(); };
  return {
      {"tables TABLE,VIEW", kTablesLayout,
       [](CatalogLayouts& f) {
         return static_cast<T&>(f).Tables(nullptr, nullptr, static_cast<T&>(f).Base() + "%",
                                          "'TABLE','VIEW'");
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.Child() + "|" + t.Parent() + "|" + t.View(), T::Col(rows, 2));
         EXPECT_EQ(t.Type() + "|" + t.Type() + "|VIEW", T::Col(rows, 3));
         for (const Row& r : rows) EXPECT_EQ(t.Sch(), r[1]);
       }},
      {"tables TABLE", kTablesLayout,
       [](CatalogLayouts& f) {
         return static_cast<T&>(f).Tables(nullptr, nullptr, static_cast<T&>(f).Base() + "%", "TABLE");
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.Child() + "|" + t.Parent(), T::Col(rows, 2));
       }},
      {"tables VIEW unquoted with blanks", kTablesLayout,
       [](CatalogLayouts& f) {
         return static_cast<T&>(f).Tables(nullptr, nullptr, static_cast<T&>(f).Base() + "%", " VIEW ");
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         EXPECT_EQ(static_cast<T&>(f).View(), T::Col(rows, 2));
       }},
      {"tables all types", kTablesLayout,
       [](CatalogLayouts& f) {
         return static_cast<T&>(f).Tables(nullptr, nullptr, static_cast<T&>(f).Base() + "%", nullptr);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         // PostgreSQL lists the indexes among its table types as well.
         T& t = static_cast<T&>(f);
         std::string types;
         for (const Row& r : rows) {
           if (t.Pg() && r[3] == "INDEX") continue;
           types += (types.empty() ? "" : "|") + r[2] + ":" + r[3];
         }
         EXPECT_EQ(t.Child() + ":" + t.Type() + "|" + t.Parent() + ":" + t.Type() + "|" + t.View() +
                       ":VIEW",
                   types);
         if (!t.Pg()) {
           EXPECT_EQ(3u, rows.size());
         }
       }},
      {"catalogs", kTablesLayout,
       [](CatalogLayouts& f) { return static_cast<T&>(f).Tables("%", "", "", ""); },
       [](CatalogLayouts&, const std::vector<Row>& rows) {
         ASSERT_FALSE(rows.empty());
         for (const Row& r : rows) {
           EXPECT_NE("~", r[0]);
           EXPECT_EQ("~|~|~|~", r[1] + "|" + r[2] + "|" + r[3] + "|" + r[4]);
         }
       }},
      {"schemas", kTablesLayout,
       [](CatalogLayouts& f) { return static_cast<T&>(f).Tables("", "%", "", ""); },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         const std::string all = T::Col(rows, 1);
         EXPECT_NE(std::string::npos, ("|" + all + "|").find("|" + static_cast<T&>(f).Sch() + "|"))
             << all;
         for (const Row& r : rows) EXPECT_EQ("~|~|~", r[2] + "|" + r[3] + "|" + r[4]);
       }},
      {"table types", kTablesLayout,
       [](CatalogLayouts& f) { return static_cast<T&>(f).Tables("", "", "", "%"); },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         const std::string all = "|" + T::Col(rows, 3) + "|";
         EXPECT_NE(std::string::npos, all.find("|" + static_cast<T&>(f).Type() + "|")) << all;
         EXPECT_NE(std::string::npos, all.find("|VIEW|")) << all;
         for (const Row& r : rows) EXPECT_EQ("~|~|~|~", r[0] + "|" + r[1] + "|" + r[2] + "|" + r[4]);
       }},
      {"columns", kColumnsLayout,
       [S](CatalogLayouts& f) {
         T& t = static_cast<T&>(f);
         return SQLColumns(S(f), nullptr, 0, nullptr, 0, Text(t.Parent()), SQL_NTS, nullptr, 0);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.I("a") + "|" + t.I("b") + "|" + t.I("name"), T::Col(rows, 3));
         EXPECT_EQ("4|12|12", T::Col(rows, 4));
         EXPECT_EQ("1|2|3", T::Col(rows, 16));
         EXPECT_EQ("0|0|1", T::Col(rows, 10));
         EXPECT_EQ("NO|NO|YES", T::Col(rows, 17));
         EXPECT_EQ("10", rows.at(1)[6]);
       }},
      {"columns of dates", kColumnsLayout,
       [S](CatalogLayouts& f) {
         T& t = static_cast<T&>(f);
         return SQLColumns(S(f), nullptr, 0, nullptr, 0, Text(t.Child()), SQL_NTS,
                           Text(t.I("made")), SQL_NTS);
       },
       [](CatalogLayouts&, const std::vector<Row>& rows) {
         // An ODBC 3 application sees the type its column descriptions give.
         ASSERT_EQ(1u, rows.size());
         EXPECT_EQ(std::to_string(SQL_TYPE_DATE), rows[0][4]);
         EXPECT_EQ(std::to_string(SQL_DATETIME), rows[0][13]);
         EXPECT_EQ(std::to_string(SQL_CODE_DATE), rows[0][14]);
       }},
      {"type info of dates", kTypeInfoLayout,
       [S](CatalogLayouts& f) { return SQLGetTypeInfo(S(f), SQL_TYPE_DATE); },
       [](CatalogLayouts&, const std::vector<Row>& rows) {
         ASSERT_FALSE(rows.empty());
         for (const Row& r : rows) EXPECT_EQ(std::to_string(SQL_TYPE_DATE), r[1]) << r[0];
       }},
      {"primary keys", kPrimaryKeysLayout,
       [S](CatalogLayouts& f) {
         return SQLPrimaryKeys(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()), SQL_NTS);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.I("a") + "|" + t.I("b"), T::Col(rows, 3));
         EXPECT_EQ("1|2", T::Col(rows, 4));
       }},
      {"foreign keys of the child", kForeignKeysLayout,
       [S](CatalogLayouts& f) {
         return SQLForeignKeys(S(f), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                               Text(static_cast<T&>(f).Child()), SQL_NTS);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.Parent() + "|" + t.Parent(), T::Col(rows, 2));
         EXPECT_EQ(t.I("a") + "|" + t.I("b"), T::Col(rows, 3));
         EXPECT_EQ(t.I("pa") + "|" + t.I("pb"), T::Col(rows, 7));
         EXPECT_EQ("1|2", T::Col(rows, 8));
         EXPECT_EQ(t.Base() + t.I("_fk") + "|" + t.Base() + t.I("_fk"), T::Col(rows, 11));
       }},
      {"foreign keys to the parent", kForeignKeysLayout,
       [S](CatalogLayouts& f) {
         return SQLForeignKeys(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()),
                               SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.Child() + "|" + t.Child(), T::Col(rows, 6));
         EXPECT_EQ("1|2", T::Col(rows, 8));
       }},
      {"statistics", kStatisticsLayout,
       [S](CatalogLayouts& f) {
         return SQLStatistics(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()),
                              SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         bool named = false, keyA = false;
         for (const Row& r : rows) {
           if (r[3] == "~") continue;  // a table statistics row
           named = named || (r[5] == t.Base() + t.I("_ix") && r[8] == t.I("name") && r[3] == "1");
           keyA = keyA || (r[8] == t.I("a") && r[3] == "0" && r[7] == "1");
         }
         EXPECT_TRUE(named);
         EXPECT_TRUE(keyA);
       }},
      {"statistics unique only", kStatisticsLayout,
       [S](CatalogLayouts& f) {
         return SQLStatistics(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()),
                              SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK);
       },
       [](CatalogLayouts&, const std::vector<Row>& rows) {
         ASSERT_FALSE(rows.empty());
         for (const Row& r : rows) EXPECT_NE("1", r[3]);
       }},
      {"special columns", kSpecialColumnsLayout,
       [S](CatalogLayouts& f) {
         return SQLSpecialColumns(S(f), SQL_BEST_ROWID, nullptr, 0, nullptr, 0,
                                  Text(static_cast<T&>(f).Parent()), SQL_NTS, SQL_SCOPE_SESSION,
                                  SQL_NULLABLE);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         EXPECT_EQ(t.I("a") + "|" + t.I("b"), T::Col(rows, 1));
         EXPECT_EQ("4|12", T::Col(rows, 2));
         EXPECT_EQ(std::to_string(SQL_PC_NOT_PSEUDO) + "|" + std::to_string(SQL_PC_NOT_PSEUDO),
                   T::Col(rows, 7));
       }},
      {"procedures", kProceduresLayout,
       [S](CatalogLayouts& f) {
         return SQLProcedures(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Base() + "%"), SQL_NTS);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         if (!t.Pg()) return;
         ASSERT_EQ(1u, rows.size());
         EXPECT_EQ(t.Proc(), rows[0][2]);
       }},
      {"procedure columns", kProcedureColumnsLayout,
       [S](CatalogLayouts& f) {
         return SQLProcedureColumns(S(f), nullptr, 0, nullptr, 0,
                                    Text(static_cast<T&>(f).Base() + "%"), SQL_NTS, nullptr, 0);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         if (!t.Pg()) return;
         ASSERT_EQ(2u, rows.size());
         EXPECT_EQ("x|y", T::Col(rows, 3));
         EXPECT_EQ(std::to_string(SQL_PARAM_INPUT) + "|" + std::to_string(SQL_PARAM_INPUT_OUTPUT),
                   T::Col(rows, 4));
         EXPECT_EQ("4|4", T::Col(rows, 5));
         EXPECT_EQ("1|2", T::Col(rows, 17));
       }},
      {"table privileges", kTablePrivilegesLayout,
       [S](CatalogLayouts& f) {
         return SQLTablePrivileges(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()), SQL_NTS);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         // H2 reports no privileges of a table's owner.
         if (!t.Pg()) return;
         const std::string all = "|" + T::Col(rows, 5) + "|";
         EXPECT_NE(std::string::npos, all.find("|SELECT|")) << all;
         for (const Row& r : rows) EXPECT_EQ(t.Parent(), r[2]);
         for (const Row& r : rows) EXPECT_NE("~", r[4]);
       }},
      {"column privileges", kColumnPrivilegesLayout,
       [S](CatalogLayouts& f) {
         return SQLColumnPrivileges(S(f), nullptr, 0, nullptr, 0, Text(static_cast<T&>(f).Parent()),
                                    SQL_NTS, Text("%"), SQL_NTS);
       },
       [](CatalogLayouts& f, const std::vector<Row>& rows) {
         T& t = static_cast<T&>(f);
         for (const Row& r : rows) EXPECT_EQ(t.Parent(), r[2]);
         if (!t.Pg()) return;
         std::set<std::string> columns, privileges;
         for (const Row& r : rows) columns.insert(r[3]), privileges.insert(r[6]);
         EXPECT_EQ((std::set<std::string>{"a", "b", "name"}), columns);
         EXPECT_EQ(1u, privileges.count("SELECT"));
       }},
      {"type info", kTypeInfoLayout,
       [S](CatalogLayouts& f) { return SQLGetTypeInfo(S(f), SQL_ALL_TYPES); },
       [](CatalogLayouts&, const std::vector<Row>& rows) {
         ASSERT_GT(rows.size(), 5u);
         for (const Row& r : rows) EXPECT_NE("~", r[0] + r[1]);
       }},
  };
}

TEST_P(CatalogLayoutsTest, EveryCatalogFunction) {
  for (const CatalogCase& c : Cases()) Run(c);
}

INSTANTIATE_TEST_SUITE_P(Road, CatalogLayoutsTest, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

// Info types whose answer is a character string; the handle-valued ones
// (SQL_DRIVER_HDBC and the like) are the driver manager's business.
const std::set<int> kStringInfo = {
    SQL_ACCESSIBLE_PROCEDURES, SQL_ACCESSIBLE_TABLES, SQL_CATALOG_NAME,
    SQL_CATALOG_NAME_SEPARATOR, SQL_CATALOG_TERM, SQL_COLLATION_SEQ, SQL_COLUMN_ALIAS,
    SQL_DATA_SOURCE_NAME, SQL_DATA_SOURCE_READ_ONLY, SQL_DATABASE_NAME, SQL_DBMS_NAME,
    SQL_DBMS_VER, SQL_DESCRIBE_PARAMETER, SQL_DM_VER, SQL_DRIVER_NAME, SQL_DRIVER_ODBC_VER,
    SQL_DRIVER_VER, SQL_EXPRESSIONS_IN_ORDERBY, SQL_IDENTIFIER_QUOTE_CHAR, SQL_INTEGRITY,
    SQL_KEYWORDS, SQL_LIKE_ESCAPE_CLAUSE, SQL_MAX_ROW_SIZE_INCLUDES_LONG, SQL_MULT_RESULT_SETS,
    SQL_MULTIPLE_ACTIVE_TXN, SQL_NEED_LONG_DATA_LEN, SQL_ODBC_VER, SQL_ORDER_BY_COLUMNS_IN_SELECT,
    SQL_OUTER_JOINS, SQL_PROCEDURE_TERM, SQL_PROCEDURES, SQL_ROW_UPDATES, SQL_SCHEMA_TERM,
    SQL_SEARCH_PATTERN_ESCAPE, SQL_SERVER_NAME, SQL_SPECIAL_CHARACTERS, SQL_TABLE_TERM,
    SQL_USER_NAME, SQL_XOPEN_CLI_YEAR};
const std::set<int> kShortInfo = {
    SQL_ACTIVE_ENVIRONMENTS, SQL_CATALOG_LOCATION, SQL_CONCAT_NULL_BEHAVIOR,
    SQL_CORRELATION_NAME, SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CURSOR_ROLLBACK_BEHAVIOR,
    SQL_FILE_USAGE, SQL_GROUP_BY, SQL_IDENTIFIER_CASE, SQL_MAX_CATALOG_NAME_LEN,
    SQL_MAX_COLUMN_NAME_LEN, SQL_MAX_COLUMNS_IN_GROUP_BY, SQL_MAX_COLUMNS_IN_INDEX,
    SQL_MAX_COLUMNS_IN_ORDER_BY, SQL_MAX_COLUMNS_IN_SELECT, SQL_MAX_COLUMNS_IN_TABLE,
    SQL_MAX_CONCURRENT_ACTIVITIES, SQL_MAX_CURSOR_NAME_LEN, SQL_MAX_DRIVER_CONNECTIONS,
    SQL_MAX_IDENTIFIER_LEN, SQL_MAX_PROCEDURE_NAME_LEN, SQL_MAX_SCHEMA_NAME_LEN,
    SQL_MAX_TABLE_NAME_LEN, SQL_MAX_TABLES_IN_SELECT, SQL_MAX_USER_NAME_LEN,
    SQL_NON_NULLABLE_COLUMNS, SQL_NULL_COLLATION, SQL_QUOTED_IDENTIFIER_CASE, SQL_TXN_CAPABLE,
    SQL_ODBC_API_CONFORMANCE, SQL_ODBC_SQL_CONFORMANCE, SQL_ODBC_SAG_CLI_CONFORMANCE};
const std::set<int> kHandleInfo = {SQL_DRIVER_HDBC, SQL_DRIVER_HENV, SQL_DRIVER_HSTMT,
                                   SQL_DRIVER_HLIB, SQL_DRIVER_HDESC};

// An ODBC 2 application keeps the ODBC 2 date codes in catalog rows, as in
// its column descriptions.
TEST_P(CatalogLayoutsTest, Odbc2ApplicationSeesOdbc2DateCodes) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc));
  ASSERT_TRUE(SQL_SUCCEEDED(Connect(dbc))) << Diag(SQL_HANDLE_DBC, dbc);
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st));
  const std::string table = Id(UniqueName("cd"));
  ASSERT_TRUE(SQL_SUCCEEDED(ExecDirect(st, "CREATE TABLE " + table + " (made DATE)")))
      << Diag(SQL_HANDLE_STMT, st);
  SQLSMALLINT type = 0;
  SQLLEN indicator = 0;
  EXPECT_TRUE(SQL_SUCCEEDED(
      SQLColumns(st, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0)));
  EXPECT_EQ(SQL_SUCCESS, SQLFetch(st)) << Diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(SQL_SUCCESS, SQLGetData(st, 5, SQL_C_SSHORT, &type, 0, &indicator));
  EXPECT_EQ(SQL_DATE, type);
  SQLFreeStmt(st, SQL_CLOSE);
  EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(st, "DROP TABLE " + table))) << Diag(SQL_HANDLE_STMT, st);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

using InfoTest = RoadTest;

// Every info type of ODBC 3 either answers with a value of its size (a
// terminated string of the length reported, or 2 or 4 bytes) or is refused
// with HY096; the driver knows at least the well-known ones.
TEST_P(InfoTest, EveryInfoTypeAnswersWithItsSizeOrHY096) {
  std::vector<int> types;
  for (int t = 0; t <= 200; ++t) types.push_back(t);
  for (int t = 10000; t <= 10025; ++t) types.push_back(t);
  int answered = 0;
  for (int t : types) {
    if (kHandleInfo.count(t) != 0) continue;
    SCOPED_TRACE("info type " + std::to_string(t));
    unsigned char buf[8192];
    std::memset(buf, 0xAB, sizeof buf);
    SQLSMALLINT length = -1;
    SQLRETURN rc;
    const bool wide = GetParam().unicode;
    if (wide) {
      rc = SQLGetInfoW(dbc_, static_cast<SQLUSMALLINT>(t), buf, 4096, &length);
    } else {
      rc = SQLGetInfo(dbc_, static_cast<SQLUSMALLINT>(t), buf, 4096, &length);
    }
    if (rc == SQL_ERROR) {
      const std::string state = State(SQL_HANDLE_DBC, dbc_);
      EXPECT_TRUE(state == "HY096" || state == "HYC00") << Diag(SQL_HANDLE_DBC, dbc_);
      EXPECT_EQ(0u, kStringInfo.count(t) + kShortInfo.count(t)) << "well-known type refused";
      continue;
    }
    ASSERT_EQ(SQL_SUCCESS, rc) << Diag(SQL_HANDLE_DBC, dbc_);
    ++answered;
    if (kStringInfo.count(t) != 0) {
      ASSERT_GE(length, 0);
      if (wide) {
        ASSERT_EQ(0, length % 2);
        const char16_t* w = reinterpret_cast<const char16_t*>(buf);
        EXPECT_EQ(u'\0', w[length / 2]);
        EXPECT_EQ(std::u16string(w).size(), static_cast<size_t>(length / 2));
      } else {
        EXPECT_EQ('\0', buf[length]);
        EXPECT_EQ(std::strlen(reinterpret_cast<char*>(buf)), static_cast<size_t>(length));
      }
    } else {
      const int size = kShortInfo.count(t) != 0 ? 2 : 4;
      EXPECT_EQ(size, length);
      EXPECT_EQ(0xAB, buf[size]) << "wrote past its value";
    }
  }
  EXPECT_GT(answered, 100);
}

INSTANTIATE_TEST_SUITE_P(Road, InfoTest, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
