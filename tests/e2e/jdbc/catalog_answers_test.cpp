// What the catalog functions and SQLGetInfo answer where ODBC is plain
// about the answer: the arguments (empty schema names, patterns taken as
// they stand, SQL_ATTR_METADATA_ID), the columns that do not apply to a type
// (NULL), a real ODBC type in every DATA_TYPE, the type list's sizes and
// rows, the connect keywords that leave catalog and schema columns empty,
// and SQL_DBMS_VER's form. Each case runs on both builds, on H2 and on
// PostgreSQL.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

using Row = std::vector<std::string>;

SQLCHAR* Text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

class CatalogAnswers : public RoadTest {
 protected:
  // Identifiers as the database stores unquoted ones.
  std::string Id(std::string s) const {
    for (char& c : s) {
      c = static_cast<char>(GetParam().postgres ? std::tolower(c) : std::toupper(c));
    }
    return s;
  }
  // Every row of the open result of st as text ("~" for NULL); closes the cursor.
  static std::vector<Row> Rows(SQLHSTMT st) {
    std::vector<Row> rows;
    SQLSMALLINT n = 0;
    SQLNumResultCols(st, &n);
    SQLRETURN rc;
    while ((rc = SQLFetch(st)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      Row row;
      for (SQLUSMALLINT i = 1; i <= n; ++i) {
        char value[512] = {0};
        SQLLEN indicator = 0;
        SQLGetData(st, i, SQL_C_CHAR, value, sizeof value, &indicator);
        row.push_back(indicator == SQL_NULL_DATA ? "~" : value);
      }
      rows.push_back(row);
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << Diag(SQL_HANDLE_STMT, st);
    SQLFreeStmt(st, SQL_CLOSE);
    return rows;
  }
  std::vector<Row> Rows() { return Rows(stmt_); }
  // SQLColumns rows of a table, by column name.
  std::map<std::string, Row> ColumnsOf(const std::string& table) {
    std::map<std::string, Row> byName;
    EXPECT_TRUE(SQL_SUCCEEDED(
        SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0)))
        << Diag(SQL_HANDLE_STMT, stmt_);
    for (Row& r : Rows()) byName[r[3]] = r;
    return byName;
  }
  // The narrow code of the type a result column is described by.
  static SQLSMALLINT Narrow(SQLSMALLINT t) {
    switch (t) {
      case SQL_WCHAR: return SQL_CHAR;
      case SQL_WVARCHAR: return SQL_VARCHAR;
      case SQL_WLONGVARCHAR: return SQL_LONGVARCHAR;
      default: return t;
    }
  }
  // The types the columns of a query are described by, in their narrow codes.
  std::vector<SQLSMALLINT> Described(const std::string& sql) {
    std::vector<SQLSMALLINT> types;
    EXPECT_TRUE(SQL_SUCCEEDED(ExecDirect(stmt_, sql))) << sql << Diag(SQL_HANDLE_STMT, stmt_);
    SQLSMALLINT n = 0;
    SQLNumResultCols(stmt_, &n);
    for (SQLUSMALLINT c = 1; c <= n; ++c) {
      SQLSMALLINT type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt_, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable);
      types.push_back(Narrow(type));
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return types;
  }
};

// Column positions of an SQLColumns row (0-based).
enum ColumnsCol {
  kColName = 3, kDataType = 4, kTypeName = 5, kColumnSize = 6, kBufferLength = 7,
  kDecimalDigits = 8, kRadix = 9, kOctetLength = 15,
};

// SQL_DBMS_VER reads ##.##.#### (major, minor, release) and may go on with
// the database's own text; PostgreSQL 15.18 is 15.18.0000.
TEST_P(CatalogAnswers, DbmsVersionHasOdbcForm) {
  char version[256] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc_, SQL_DBMS_VER, version, sizeof version, &length));
  const std::string v = version;
  EXPECT_TRUE(std::regex_match(v, std::regex(R"(\d\d\.\d\d\.\d{4}( .+)?)"))) << v;
  if (GetParam().postgres) {
    const std::string own = Scalar("SHOW server_version");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(own, m, std::regex(R"(^(\d+)\.(\d+))"))) << own;
    char expected[32];
    std::snprintf(expected, sizeof expected, "%02d.%02d.0000", std::stoi(m[1]), std::stoi(m[2]));
    EXPECT_EQ(0u, v.find(expected)) << v;
  }
}

// SQL_ATTR_METADATA_ID is read as SQL_FALSE and may be set so, on the
// statement and on the connection; SQL_TRUE (identifier arguments) is an
// optional feature the driver does not offer.
TEST_P(CatalogAnswers, MetadataIdReadsFalseAndTrueIsNotOffered) {
  SQLULEN value = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetStmtAttr(stmt_, SQL_ATTR_METADATA_ID, &value, 0, nullptr))
      << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(static_cast<SQLULEN>(SQL_FALSE), value);
  EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt_, SQL_ATTR_METADATA_ID,
                                        reinterpret_cast<SQLPOINTER>(SQL_FALSE), 0))
      << Diag(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(SQL_ERROR, SQLSetStmtAttr(stmt_, SQL_ATTR_METADATA_ID,
                                      reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0));
  EXPECT_EQ("HYC00", State(SQL_HANDLE_STMT, stmt_));

  SQLUINTEGER connValue = 99;
  EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc_, SQL_ATTR_METADATA_ID, &connValue, 0, nullptr))
      << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_FALSE), connValue);
  EXPECT_EQ(SQL_SUCCESS, SQLSetConnectAttr(dbc_, SQL_ATTR_METADATA_ID,
                                           reinterpret_cast<SQLPOINTER>(SQL_FALSE), 0))
      << Diag(SQL_HANDLE_DBC, dbc_);
  EXPECT_EQ(SQL_ERROR, SQLSetConnectAttr(dbc_, SQL_ATTR_METADATA_ID,
                                         reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0));
  EXPECT_EQ("HYC00", State(SQL_HANDLE_DBC, dbc_));
  // The catalog functions work as before.
  const std::string table = Id(Table("mdid", "id INTEGER PRIMARY KEY"));
  ResetStmt();
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(table), SQL_NTS, nullptr, 0));
  EXPECT_EQ(1u, Rows().size());
}

// An empty schema name asks for the objects without a schema, of which
// both databases have none: never for "any schema", so same-named tables of
// several schemas are not merged. A NULL schema is no restriction.
TEST_P(CatalogAnswers, EmptySchemaNameMatchesObjectsWithoutSchema) {
  const std::string table = Id(Table("nosch", "id INTEGER PRIMARY KEY, v INTEGER"));
  ResetStmt();
  const SQLCHAR empty[] = "";
  SQLCHAR* none = const_cast<SQLCHAR*>(empty);
  struct Case {
    const char* what;
    std::function<SQLRETURN(SQLCHAR*)> call;
  };
  const std::vector<Case> cases = {
      {"SQLTables", [&](SQLCHAR* s) {
         return SQLTables(stmt_, nullptr, 0, s, SQL_NTS, Text(table), SQL_NTS, nullptr, 0);
       }},
      {"SQLColumns", [&](SQLCHAR* s) {
         return SQLColumns(stmt_, nullptr, 0, s, SQL_NTS, Text(table), SQL_NTS, nullptr, 0);
       }},
      {"SQLPrimaryKeys", [&](SQLCHAR* s) {
         return SQLPrimaryKeys(stmt_, nullptr, 0, s, SQL_NTS, Text(table), SQL_NTS);
       }},
      {"SQLStatistics", [&](SQLCHAR* s) {
         return SQLStatistics(stmt_, nullptr, 0, s, SQL_NTS, Text(table), SQL_NTS, SQL_INDEX_ALL,
                              SQL_QUICK);
       }},
      {"SQLSpecialColumns", [&](SQLCHAR* s) {
         return SQLSpecialColumns(stmt_, SQL_BEST_ROWID, nullptr, 0, s, SQL_NTS, Text(table),
                                  SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KX_STMT_OK(c.call(nullptr));
    EXPECT_FALSE(Rows().empty());
    KX_STMT_OK(c.call(none));
    EXPECT_TRUE(Rows().empty());
  }
}

// Pattern arguments are matched as they stand: a quoted name is not
// unquoted (so a table whose name holds the quotes is found by them), while
// an ordinary argument (SQLPrimaryKeys' table) may still be written quoted.
TEST_P(CatalogAnswers, QuotedPatternArgumentsAreLiteral) {
  const std::string mixed = "MiXed_" + UniqueName("q");
  Exec("CREATE TABLE \"" + mixed + "\" (id INTEGER PRIMARY KEY)");
  tables_.push_back("\"" + mixed + "\"");
  const std::string quotedName = "\"" + UniqueName("Qt") + "\"";  // the quotes are the name's own
  Exec("CREATE TABLE \"\"" + quotedName.substr(0, quotedName.size() - 1) + "\"\"\" (c INTEGER)");
  tables_.push_back("\"\"" + quotedName.substr(0, quotedName.size() - 1) + "\"\"\"");
  ResetStmt();
  const std::string quotedMixed = "\"" + mixed + "\"";

  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(quotedMixed), SQL_NTS, Text("%"),
                        SQL_NTS));
  EXPECT_TRUE(Rows().empty());
  KX_STMT_OK(SQLTables(stmt_, nullptr, 0, nullptr, 0, Text(quotedMixed), SQL_NTS, nullptr, 0));
  EXPECT_TRUE(Rows().empty());
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(mixed), SQL_NTS, Text("%"), SQL_NTS));
  std::vector<Row> rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(mixed, rows[0][2]);

  KX_STMT_OK(SQLTables(stmt_, nullptr, 0, nullptr, 0, Text(quotedName), SQL_NTS, nullptr, 0));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(quotedName, rows[0][2]);
  KX_STMT_OK(SQLColumns(stmt_, nullptr, 0, nullptr, 0, Text(quotedName), SQL_NTS, nullptr, 0));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(Id("c"), rows[0][3]);

  KX_STMT_OK(SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, Text(quotedMixed), SQL_NTS));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(mixed, rows[0][2]);
}

// SQLColumns: DECIMAL_DIGITS only for exact numbers and types with
// seconds, NUM_PREC_RADIX only for numbers, CHAR_OCTET_LENGTH only for
// character and binary types; BUFFER_LENGTH the bytes of the default C
// type; an unconstrained numeric has a size; and every DATA_TYPE is a real
// ODBC type, the one a result column of the type is described by.
TEST_P(CatalogAnswers, ColumnsLeaveInapplicableAttributesNull) {
  const bool pg = GetParam().postgres;
  std::string domain;
  if (pg) {
    domain = UniqueName("dom");
    Exec("CREATE DOMAIN " + domain + " AS varchar(10)");
  }
  const std::string table = Id(Table(
      "nulls", std::string("c CHAR(5), v VARCHAR(20), n NUMERIC(10,2), nu NUMERIC, i INTEGER, "
                           "d DATE, ts TIMESTAMP, b BOOLEAN, f DOUBLE PRECISION, ") +
                   (pg ? "by BYTEA, t TEXT, arr INTEGER[], j JSON, vb VARBIT(5), iv INTERVAL, "
                         "dm " + domain
                       : "by VARBINARY(10), t CLOB, arr INTEGER ARRAY, j JSON, "
                         "iv INTERVAL DAY TO SECOND")));
  ResetStmt();
  std::map<std::string, Row> cols = ColumnsOf(table);
  ASSERT_EQ(pg ? 16u : 14u, cols.size());
  auto at = [&](const char* name) { return cols[Id(name)]; };
  struct Expect {
    const char* name;
    const char* digits;  // "~" NULL, "*" any value
    const char* radix;
    bool octets;         // CHAR_OCTET_LENGTH present
    const char* buffer;  // BUFFER_LENGTH, "*" any value but NULL
  };
  std::vector<Expect> expect = {
      {"c", "~", "~", true, "5"},     {"v", "~", "~", true, "20"},
      {"n", "2", "10", false, "12"},  {"nu", "*", "10", false, "*"},
      {"i", "0", "10", false, "4"},   {"d", "~", "~", false, "6"},
      {"ts", "*", "~", false, "16"},  {"b", "~", "~", false, "1"},
      {"f", "~", "10", false, "8"},   {"by", "~", "~", true, "*"},
      {"t", "~", "~", true, "*"},     {"arr", "~", "~", true, "*"},
      {"j", "~", "~", true, "*"},
  };
  if (pg) expect.push_back({"vb", "~", "~", true, "5"});
  for (const Expect& e : expect) {
    const Row r = at(e.name);
    SCOPED_TRACE(std::string(e.name) + " " + r[kTypeName]);
    ASSERT_FALSE(r.empty());
    if (std::string(e.digits) != "*") {
      EXPECT_EQ(e.digits, r[kDecimalDigits]);
    }
    EXPECT_EQ(e.radix, r[kRadix]);
    EXPECT_EQ(e.octets, r[kOctetLength] != "~");
    if (std::string(e.buffer) == "*") {
      EXPECT_NE("~", r[kBufferLength]);
    } else {
      EXPECT_EQ(e.buffer, r[kBufferLength]);
    }
  }
  EXPECT_NE("0", at("nu")[kColumnSize]);
  EXPECT_NE("~", at("nu")[kColumnSize]);

  // Every DATA_TYPE is the code a result column of the type is described by.
  std::vector<std::string> names;
  std::string select;
  for (const auto& [name, row] : cols) {
    names.push_back(name);
    select += (select.empty() ? "" : ", ") + name;
  }
  const std::vector<SQLSMALLINT> described = Described("SELECT " + select + " FROM " + table);
  ASSERT_EQ(names.size(), described.size());
  for (size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE(names[k] + " " + cols[names[k]][kTypeName]);
    EXPECT_NE("0", cols[names[k]][kDataType]);
    EXPECT_EQ(std::to_string(described[k]), cols[names[k]][kDataType]);
  }
  if (pg) {
    EXPECT_EQ(std::to_string(SQL_VARCHAR), at("dm")[kDataType]);  // the domain's base type
    Exec("DROP TABLE " + table);
    tables_.clear();
    Exec("DROP DOMAIN " + domain);
  }
}

// PostgreSQL's bit(n) of more than one bit is a string of bits, not an ODBC
// BIT (one bit): character data in the column list, in the descriptions and
// in the type list; bit(1) stays a BIT.
TEST_P(CatalogAnswers, BitStringsAreCharacterData) {
  if (!GetParam().postgres) {
    // H2 has no bit strings: its BIT row is the one-bit boolean.
    KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_BIT));
    for (const Row& r : Rows()) EXPECT_EQ("1", r[2]) << r[0];
    return;
  }
  const std::string table = Table("bits", "b8 BIT(8), b1 BIT(1), vb VARBIT(20)");
  ResetStmt();
  std::map<std::string, Row> cols = ColumnsOf(table);
  ASSERT_EQ(3u, cols.size());
  EXPECT_EQ(std::to_string(SQL_VARCHAR), cols["b8"][kDataType]);
  EXPECT_EQ("8", cols["b8"][kColumnSize]);
  EXPECT_EQ(std::to_string(SQL_BIT), cols["b1"][kDataType]);
  EXPECT_EQ(std::to_string(SQL_VARCHAR), cols["vb"][kDataType]);
  EXPECT_EQ((std::vector<SQLSMALLINT>{SQL_VARCHAR, SQL_BIT, SQL_VARCHAR}),
            Described("SELECT b8, b1, vb FROM " + table));

  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_BIT));
  std::vector<Row> bits = Rows();
  ASSERT_FALSE(bits.empty());
  EXPECT_EQ("bool", bits[0][0]);
  for (const Row& r : bits) EXPECT_EQ("1", r[2]) << r[0];
  const SQLSMALLINT varchar = GetParam().unicode ? SQL_WVARCHAR : SQL_VARCHAR;
  KX_STMT_OK(SQLGetTypeInfo(stmt_, varchar));
  bool listed = false;
  std::vector<Row> text = Rows();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ("varchar", text[0][0]);
  for (const Row& r : text) listed = listed || r[0] == "bit";
  EXPECT_TRUE(listed);
}

// The type list: AUTO_UNIQUE_VALUE only for numbers (NULL for the rest);
// under a character code only the types a column of any text can be made
// of (never a PostgreSQL enum); and the VARCHAR sizes are sizes a column is
// still described as VARCHAR with.
TEST_P(CatalogAnswers, TypeListRowsAreUsableForTheirCode) {
  const bool pg = GetParam().postgres, wide = GetParam().unicode;
  std::string enumType;
  if (pg) {
    enumType = UniqueName("mood");
    Exec("CREATE TYPE " + enumType + " AS ENUM ('sad', 'happy')");
  }
  KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES));
  const std::vector<Row> all = Rows();
  ASSERT_GT(all.size(), 10u);
  auto numeric = [](int t) {
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT ||
           t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE || t == SQL_NUMERIC ||
           t == SQL_DECIMAL;
  };
  for (const Row& r : all) {
    SCOPED_TRACE(r[0] + " " + r[1]);
    if (!numeric(std::stoi(r[1]))) {
      EXPECT_EQ("~", r[11]);
    } else {
      EXPECT_NE("~", r[11]);
    }
    EXPECT_NE(enumType, r[0]);
  }
  if (pg) {
    KX_STMT_OK(SQLGetTypeInfo(stmt_, SQL_LONGVARCHAR));
    const std::vector<Row> longText = Rows();
    ASSERT_FALSE(longText.empty());
    EXPECT_EQ("text", longText[0][0]);
    Exec("DROP TYPE " + enumType);
  }

  // A column made from the first VARCHAR (and WVARCHAR) row's name and size
  // is described by that code.
  for (const SQLSMALLINT code : {static_cast<SQLSMALLINT>(SQL_VARCHAR),
                                 static_cast<SQLSMALLINT>(wide ? SQL_WVARCHAR : SQL_VARCHAR)}) {
    SCOPED_TRACE(code);
    ResetStmt();
    KX_STMT_OK(SQLGetTypeInfo(stmt_, code));
    const std::vector<Row> rows = Rows();
    ASSERT_FALSE(rows.empty());
    const std::string table =
        Table("vsize", "v " + rows[0][0] + "(" + rows[0][2] + ")");
    ResetStmt();
    KX_STMT_OK(ExecDirect(stmt_, "SELECT v FROM " + table));
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    KX_STMT_OK(SQLDescribeCol(stmt_, 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable));
    EXPECT_EQ(wide ? SQL_WVARCHAR : SQL_VARCHAR, type);
    EXPECT_EQ(std::stoul(rows[0][2]), size);
    ResetStmt();
  }
}

// SQLSpecialColumns and SQLProcedureColumns give real ODBC types too
// (PostgreSQL's ctid row version, interval and text parameters), with the
// buffer and octet lengths of text parameters; SQLProcedures lists the
// functions SQLProcedureColumns describes (H2: a Java method as a function).
TEST_P(CatalogAnswers, RoutinesAndRowVersionsHaveOdbcTypes) {
  const bool pg = GetParam().postgres;
  const std::string table = Table("rowver", pg ? "id INTEGER PRIMARY KEY, iv INTERVAL"
                                               : "id INTEGER PRIMARY KEY");
  ResetStmt();
  KX_STMT_OK(SQLSpecialColumns(stmt_, SQL_ROWVER, nullptr, 0, nullptr, 0, Text(Id(table)),
                               SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE));
  std::vector<Row> rows = Rows();
  EXPECT_EQ(pg, !rows.empty());  // H2 has no row-version column
  for (const Row& r : rows) {
    SCOPED_TRACE(r[1]);
    EXPECT_NE("0", r[2]);
    EXPECT_NE("~", r[5]);  // BUFFER_LENGTH
  }
  const std::string fn = Id(UniqueName("fn"));
  Exec(pg ? "CREATE FUNCTION " + fn +
                "(a VARCHAR, b TEXT, c INTERVAL, d INTEGER) RETURNS TEXT AS $$ SELECT a $$ "
                "LANGUAGE sql"
          : "CREATE ALIAS " + fn + " FOR 'java.lang.String.valueOf(java.lang.Object)'");
  ResetStmt();
  KX_STMT_OK(SQLProcedures(stmt_, nullptr, 0, nullptr, 0, Text(fn), SQL_NTS));
  rows = Rows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(fn, rows[0][2]);
  EXPECT_EQ(std::to_string(SQL_PT_FUNCTION), rows[0][7]);

  KX_STMT_OK(SQLProcedureColumns(stmt_, nullptr, 0, nullptr, 0, Text(fn), SQL_NTS, nullptr, 0));
  rows = Rows();
  ASSERT_EQ(pg ? 5u : 2u, rows.size());  // the return value and the parameters
  for (const Row& r : rows) {
    SCOPED_TRACE(r[3] + " " + r[6]);
    EXPECT_NE("0", r[5]);
    EXPECT_NE("~", r[8]);  // BUFFER_LENGTH
    const int t = std::stoi(r[5]);
    const bool text = t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR;
    EXPECT_EQ(text, r[16] != "~");  // CHAR_OCTET_LENGTH
  }
  Exec((pg ? "DROP FUNCTION " : "DROP ALIAS ") + fn);
}

// J_DSCH and J_DCAT leave the schema and catalog columns of every catalog
// result empty, while the enumerations of schemas and catalogs still list
// their names.
TEST_P(CatalogAnswers, DropKeywordsLeaveNamesOfEnumerations) {
  const std::string parent = Id(Table("kpar", "id INTEGER PRIMARY KEY"));
  const std::string child = Id(Table("kchi", "id INTEGER PRIMARY KEY, p INTEGER REFERENCES " +
                                                 parent + "(id)"));
  std::reverse(tables_.begin(), tables_.end());  // the child goes first
  const bool pg = GetParam().postgres;
  const std::string fn = Id(UniqueName("kfn"));
  Exec(pg ? "CREATE FUNCTION " + fn + "(a INTEGER) RETURNS INTEGER AS $$ SELECT a $$ LANGUAGE sql"
          : "CREATE ALIAS " + fn + " FOR 'java.lang.Math.abs(int)'");
  SQLHDBC plain = Other();
  SQLHDBC dropped = Other("J_DSCH=1;J_DCAT=1");
  SQLHSTMT ps = SQL_NULL_HSTMT, ds = SQL_NULL_HSTMT;
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, plain, &ps));
  ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dropped, &ds));

  // The enumerations: the same names either way.
  for (const bool schemas : {true, false}) {
    std::vector<std::vector<Row>> both;
    for (SQLHSTMT st : {ps, ds}) {
      KX_OK(schemas ? SQLTables(st, Text(""), SQL_NTS, Text("%"), SQL_NTS, Text(""), SQL_NTS,
                                nullptr, 0)
                    : SQLTables(st, Text("%"), SQL_NTS, Text(""), SQL_NTS, Text(""), SQL_NTS,
                                nullptr, 0),
            SQL_HANDLE_STMT, st);
      both.push_back(Rows(st));
    }
    SCOPED_TRACE(schemas ? "schemas" : "catalogs");
    ASSERT_FALSE(both[0].empty());
    EXPECT_EQ(both[0], both[1]);
    for (const Row& r : both[1]) EXPECT_NE("~", r[schemas ? 1 : 0]);
  }

  // Every other result: the columns are empty with the keywords (and the
  // schema columns are filled without them).
  struct Case {
    const char* what;
    std::function<SQLRETURN(SQLHSTMT)> call;
    std::vector<int> catalogCols;  // each followed by its schema column
  };
  std::vector<Case> cases = {
      {"SQLTables", [&](SQLHSTMT st) {
         return SQLTables(st, nullptr, 0, nullptr, 0, Text(parent), SQL_NTS, nullptr, 0);
       }, {0}},
      {"SQLColumns", [&](SQLHSTMT st) {
         return SQLColumns(st, nullptr, 0, nullptr, 0, Text(parent), SQL_NTS, nullptr, 0);
       }, {0}},
      {"SQLPrimaryKeys", [&](SQLHSTMT st) {
         return SQLPrimaryKeys(st, nullptr, 0, nullptr, 0, Text(parent), SQL_NTS);
       }, {0}},
      {"SQLForeignKeys", [&](SQLHSTMT st) {
         return SQLForeignKeys(st, nullptr, 0, nullptr, 0, Text(parent), SQL_NTS, nullptr, 0,
                               nullptr, 0, Text(child), SQL_NTS);
       }, {0, 4}},
      {"SQLStatistics", [&](SQLHSTMT st) {
         return SQLStatistics(st, nullptr, 0, nullptr, 0, Text(parent), SQL_NTS, SQL_INDEX_ALL,
                              SQL_QUICK);
       }, {0}},
  };
  cases.push_back({"SQLProcedures", [&](SQLHSTMT st) {
                     return SQLProcedures(st, nullptr, 0, nullptr, 0, Text(fn), SQL_NTS);
                   }, {0}});
  cases.push_back({"SQLProcedureColumns", [&](SQLHSTMT st) {
                     return SQLProcedureColumns(st, nullptr, 0, nullptr, 0, Text(fn), SQL_NTS,
                                                nullptr, 0);
                   }, {0}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KX_OK(c.call(ps), SQL_HANDLE_STMT, ps);
    const std::vector<Row> filled = Rows(ps);
    ASSERT_FALSE(filled.empty());
    for (int col : c.catalogCols) EXPECT_NE("~", filled[0][col + 1]);
    KX_OK(c.call(ds), SQL_HANDLE_STMT, ds);
    const std::vector<Row> emptied = Rows(ds);
    ASSERT_EQ(filled.size(), emptied.size());
    for (const Row& r : emptied) {
      for (int col : c.catalogCols) {
        EXPECT_EQ("~", r[col]);
        EXPECT_EQ("~", r[col + 1]);
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, ps);
  SQLFreeHandle(SQL_HANDLE_STMT, ds);
  Drop(plain);
  Drop(dropped);
  Exec((pg ? "DROP FUNCTION " : "DROP ALIAS ") + fn);
}

INSTANTIATE_TEST_SUITE_P(Road, CatalogAnswers, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
