// The catalog operations through the agent's table: the ODBC 3 layouts
// (column count, names, SQL types) and the rows for fixture tables on H2 and
// PostgreSQL, the SQLTables enumerations and type-list filter, and type
// information with its filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_catalog.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_records.h"
#include "drv_jdbc/j_typelist.h"
#include "drv_jdbc/j_typemap.h"
#include "util/hash_table.h"

namespace kxtest {
namespace {

using namespace kx;

using Row = std::vector<std::string>;

// A cell as text: numbers in decimal, NULL as "~".
std::string Cell(const Block& b, int col, int row) {
  if (b.IsNull(col, row)) return "~";
  switch (b.rb.columns[col].type) {
    case RBT_SSHORT: return std::to_string(b.Get<int16_t>(col, row));
    case RBT_SLONG: return std::to_string(b.Get<int32_t>(col, row));
    case RBT_BIT: return std::to_string(b.Get<uint8_t>(col, row));
    default: return b.Text(col, row);
  }
}

// Every row of the open result, fetched in small blocks.
std::vector<Row> FetchAll(AgentSession& a, AgentHandle s) {
  std::vector<Row> rows;
  for (int guard = 0; guard < 1000; ++guard) {
    Block b;
    int rc = a.ops->DRV_FetchBlock(s, 7, &b.rb);
    EXPECT_EQ(0, rc) << AgentMessages(a.ops, s);
    if (rc != 0 || b.rb.rowCount == 0) break;
    for (int32_t r = 0; r < b.rb.rowCount; ++r) {
      Row row;
      for (int c = 0; c < b.rb.colCount; ++c) row.push_back(Cell(b, c, r));
      rows.push_back(row);
    }
  }
  return rows;
}

// Names of the described columns, comma-separated, and their SQL types.
std::string Names(AgentSession& a, AgentHandle s, std::vector<int32_t>* types = nullptr) {
  uint16_t n = 0;
  AgentColDesc* cols = nullptr;
  EXPECT_EQ(0, a.ops->DRV_DescribeCols(s, &n, &cols));
  std::string out;
  for (uint16_t i = 0; i < n; ++i) {
    out += (i ? "," : "") + std::string(cols[i].label != nullptr ? cols[i].label : "?");
    EXPECT_STREQ(cols[i].label, cols[i].name);
    if (types != nullptr) types->push_back(cols[i].sqlType);
  }
  RB_FreeColDescs(cols, n);
  return out;
}

// Rows whose column col equals value.
std::vector<Row> Where(const std::vector<Row>& rows, size_t col, const std::string& value) {
  std::vector<Row> out;
  for (const Row& r : rows) {
    if (r.size() > col && r[col] == value) out.push_back(r);
  }
  return out;
}

// One database with a parent and a child table: parent(id primary key, name),
// child(id primary key, pid references parent, note) with an index on note.
class Catalog : public ::testing::TestWithParam<const char*> {
 protected:
  AgentSession a;
  bool pg = false;
  std::string parent, child;

  void SetUp() override {
    pg = std::string(GetParam()) == "pg";
    if (pg) {
      ASSERT_TRUE(a.ConnectPg());
    } else {
      ASSERT_EQ(0, a.ConnectH2("acat")) << AgentMessages(a.ops, a.server);
    }
    parent = Id(Unique("acat_p"));
    child = Id(Unique("acat_c"));
    a.Exec("CREATE TABLE " + parent + " (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL)");
    a.Exec("CREATE TABLE " + child + " (id INTEGER PRIMARY KEY, pid INTEGER REFERENCES " +
           parent + "(id), note VARCHAR(10))");
    a.Exec("CREATE INDEX " + child + "_ix ON " + child + " (note)");
  }
  void TearDown() override {
    if (a.conn == 0) return;
    AgentHandle s = a.Stmt();
    for (const std::string& t : {child, parent}) {
      std::string sql = "DROP TABLE " + t;
      if (a.ops->DRV_Prepare(s, sql.c_str()) == 0) a.ops->DRV_Execute(s);
    }
    a.ops->DRV_FreeStmt(s);
  }
  // Identifiers as the database stores unquoted ones.
  std::string Id(std::string name) const {
    for (char& c : name) c = static_cast<char>(pg ? std::tolower(c) : std::toupper(c));
    return name;
  }
  std::string Schema() const { return pg ? "public" : "PUBLIC"; }
};

TEST_P(Catalog, EveryOperationGivesTheOdbc3Layout) {
  struct Case {
    const char* what;
    std::function<int32_t(AgentHandle)> call;
    const char* names;
  };
  const std::string p = parent, c = child, sch = Schema();
  const Case cases[] = {
      {"SQLGetTypeInfo", [&](AgentHandle s) { return a.ops->DRV_DDTypeInfo(s, 0); },
       "TYPE_NAME,DATA_TYPE,COLUMN_SIZE,LITERAL_PREFIX,LITERAL_SUFFIX,CREATE_PARAMS,NULLABLE,"
       "CASE_SENSITIVE,SEARCHABLE,UNSIGNED_ATTRIBUTE,FIXED_PREC_SCALE,AUTO_UNIQUE_VALUE,"
       "LOCAL_TYPE_NAME,MINIMUM_SCALE,MAXIMUM_SCALE,SQL_DATA_TYPE,SQL_DATETIME_SUB,"
       "NUM_PREC_RADIX,INTERVAL_PRECISION"},
      {"SQLProcedureColumns",
       [&](AgentHandle s) { return a.ops->DRV_DDProcedureColumns(s, "", "", "", ""); },
       "PROCEDURE_CAT,PROCEDURE_SCHEM,PROCEDURE_NAME,COLUMN_NAME,COLUMN_TYPE,DATA_TYPE,"
       "TYPE_NAME,COLUMN_SIZE,BUFFER_LENGTH,DECIMAL_DIGITS,NUM_PREC_RADIX,NULLABLE,REMARKS,"
       "COLUMN_DEF,SQL_DATA_TYPE,SQL_DATETIME_SUB,CHAR_OCTET_LENGTH,ORDINAL_POSITION,IS_NULLABLE"},
      {"SQLTables", [&](AgentHandle s) { return a.ops->DRV_DDTables(s, "", "", "", ""); },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,TABLE_TYPE,REMARKS"},
      {"SQLStatistics",
       [&](AgentHandle s) { return a.ops->DRV_DDStatistics(s, nullptr, nullptr, c.c_str(), 1, 0); },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,NON_UNIQUE,INDEX_QUALIFIER,INDEX_NAME,TYPE,"
       "ORDINAL_POSITION,COLUMN_NAME,ASC_OR_DESC,CARDINALITY,PAGES,FILTER_CONDITION"},
      {"SQLProcedures", [&](AgentHandle s) { return a.ops->DRV_DDProcedures(s, "", "", ""); },
       "PROCEDURE_CAT,PROCEDURE_SCHEM,PROCEDURE_NAME,NUM_INPUT_PARAMS,NUM_OUTPUT_PARAMS,"
       "NUM_RESULT_SETS,REMARKS,PROCEDURE_TYPE"},
      {"SQLColumns",
       [&](AgentHandle s) { return a.ops->DRV_DDColumns(s, nullptr, "%", p.c_str(), "%"); },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,DATA_TYPE,TYPE_NAME,COLUMN_SIZE,"
       "BUFFER_LENGTH,DECIMAL_DIGITS,NUM_PREC_RADIX,NULLABLE,REMARKS,COLUMN_DEF,SQL_DATA_TYPE,"
       "SQL_DATETIME_SUB,CHAR_OCTET_LENGTH,ORDINAL_POSITION,IS_NULLABLE"},
      {"SQLSpecialColumns",
       [&](AgentHandle s) {
         return a.ops->DRV_DDSpecialColumns(s, nullptr, sch.c_str(), p.c_str(), 1, 0, 1);
       },
       "SCOPE,COLUMN_NAME,DATA_TYPE,TYPE_NAME,COLUMN_SIZE,BUFFER_LENGTH,DECIMAL_DIGITS,"
       "PSEUDO_COLUMN"},
      {"SQLPrimaryKeys",
       [&](AgentHandle s) { return a.ops->DRV_DDPrimaryKeys(s, nullptr, sch.c_str(), p.c_str()); },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,KEY_SEQ,PK_NAME"},
      {"SQLForeignKeys",
       [&](AgentHandle s) {
         return a.ops->DRV_DDForeignKeys(s, nullptr, nullptr, "", nullptr, sch.c_str(), c.c_str());
       },
       "PKTABLE_CAT,PKTABLE_SCHEM,PKTABLE_NAME,PKCOLUMN_NAME,FKTABLE_CAT,FKTABLE_SCHEM,"
       "FKTABLE_NAME,FKCOLUMN_NAME,KEY_SEQ,UPDATE_RULE,DELETE_RULE,FK_NAME,PK_NAME,"
       "DEFERRABILITY"},
      {"SQLTablePrivileges",
       [&](AgentHandle s) { return a.ops->DRV_DDTablePrivileges(s, nullptr, "%", p.c_str()); },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,GRANTOR,GRANTEE,PRIVILEGE,IS_GRANTABLE"},
      {"SQLColumnPrivileges",
       [&](AgentHandle s) {
         return a.ops->DRV_DDColumnPrivileges(s, nullptr, sch.c_str(), p.c_str(), "%");
       },
       "TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,GRANTOR,GRANTEE,PRIVILEGE,IS_GRANTABLE"},
  };
  AgentHandle s = a.Stmt();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_EQ(0, k.call(s)) << AgentMessages(a.ops, s);
    std::vector<int32_t> types;
    EXPECT_EQ(k.names, Names(a, s, &types));
    for (int32_t t : types) EXPECT_TRUE(t == -9 || t == 12 || t == 4 || t == 5) << t;
    // Every row comes out with the layout's width, whatever Java delivered.
    const size_t width = std::count(k.names, k.names + std::strlen(k.names), ',') + 1u;
    for (const Row& r : FetchAll(a, s)) ASSERT_EQ(width, r.size());
  }
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, TablesFindsUserTablesByTypeAndEnumerates) {
  AgentHandle s = a.Stmt();
  // H2 calls user tables BASE TABLE; a filter on TABLE still finds them.
  for (const char* types : {"'TABLE'", "TABLE,VIEW", "'table'"}) {
    SCOPED_TRACE(types);
    ASSERT_EQ(0, a.ops->DRV_DDTables(s, nullptr, "%", Id("acat_%").c_str(), types))
        << AgentMessages(a.ops, s);
    std::vector<Row> rows = Where(FetchAll(a, s), 2, parent);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(Schema(), rows[0][1]);
    EXPECT_NE(std::string::npos, rows[0][3].find("TABLE"));
  }
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, nullptr, "%", parent.c_str(), "'VIEW'"));
  EXPECT_TRUE(FetchAll(a, s).empty());

  // "%" as the catalog alone: the catalogs, in TABLE_CAT only.
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, "%", "", "", "'TABLE'")) << AgentMessages(a.ops, s);
  std::vector<Row> cats = FetchAll(a, s);
  ASSERT_FALSE(cats.empty());
  for (const Row& r : cats) {
    EXPECT_NE("~", r[0]);
    EXPECT_EQ((Row{r[0], "~", "~", "~", "~"}), r);
  }
  // "%" as the schema alone: the schemas, in TABLE_SCHEM only.
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, "", "%", "", "")) << AgentMessages(a.ops, s);
  std::vector<Row> schemas = FetchAll(a, s);
  EXPECT_EQ(1u, Where(schemas, 1, Schema()).size());
  for (const Row& r : schemas) EXPECT_EQ((Row{"~", r[1], "~", "~", "~"}), r);
  // "%" as the type list alone: the table types, in TABLE_TYPE only.
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, "", "", "", "%")) << AgentMessages(a.ops, s);
  std::vector<Row> types = FetchAll(a, s);
  EXPECT_EQ(1u, Where(types, 3, pg ? "TABLE" : "BASE TABLE").size());
  EXPECT_EQ(1u, Where(types, 3, "VIEW").size());
  for (const Row& r : types) EXPECT_EQ((Row{"~", "~", "~", r[3], "~"}), r);
  // "%" for the catalog with a table named: an ordinary search in every catalog.
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, "%", "%", parent.c_str(), ""));
  EXPECT_EQ(1u, Where(FetchAll(a, s), 2, parent).size());
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, ColumnsAndKeysDescribeTheFixtureTables) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDColumns(s, nullptr, Schema().c_str(), parent.c_str(), "%"))
      << AgentMessages(a.ops, s);
  std::vector<Row> cols = FetchAll(a, s);
  ASSERT_EQ(2u, cols.size());
  // TABLE_NAME, COLUMN_NAME, DATA_TYPE, COLUMN_SIZE, NULLABLE, ORDINAL_POSITION, IS_NULLABLE
  EXPECT_EQ(parent, cols[0][2]);
  EXPECT_EQ(Id("id"), cols[0][3]);
  EXPECT_EQ("4", cols[0][4]);
  EXPECT_EQ("0", cols[0][10]);
  EXPECT_EQ("1", cols[0][16]);
  EXPECT_EQ(Id("name"), cols[1][3]);
  EXPECT_EQ("12", cols[1][4]);
  EXPECT_EQ("20", cols[1][6]);
  EXPECT_EQ("2", cols[1][16]);
  EXPECT_EQ("NO", cols[1][17]);

  ASSERT_EQ(0, a.ops->DRV_DDPrimaryKeys(s, nullptr, Schema().c_str(), child.c_str()));
  std::vector<Row> pk = FetchAll(a, s);
  ASSERT_EQ(1u, pk.size());
  EXPECT_EQ((std::vector<std::string>{child, Id("id"), "1"}),
            (std::vector<std::string>{pk[0][2], pk[0][3], pk[0][4]}));

  // The child's imported keys, the parent's exported keys, and the pair.
  struct FkCase {
    const char* what;
    std::string pkTable, fkTable;
  };
  for (const FkCase& k : {FkCase{"imported", "", child}, FkCase{"exported", parent, ""},
                          FkCase{"cross", parent, child}}) {
    SCOPED_TRACE(k.what);
    ASSERT_EQ(0, a.ops->DRV_DDForeignKeys(s, nullptr, nullptr, k.pkTable.c_str(), nullptr, nullptr,
                                          k.fkTable.c_str()))
        << AgentMessages(a.ops, s);
    std::vector<Row> fk = FetchAll(a, s);
    ASSERT_EQ(1u, fk.size());
    EXPECT_EQ((std::vector<std::string>{parent, Id("id"), child, Id("pid"), "1"}),
              (std::vector<std::string>{fk[0][2], fk[0][3], fk[0][6], fk[0][7], fk[0][8]}));
  }

  // SQL_BEST_ROWID of the child: its key column.
  ASSERT_EQ(0, a.ops->DRV_DDSpecialColumns(s, nullptr, Schema().c_str(), child.c_str(), 1, 2, 1))
      << AgentMessages(a.ops, s);
  std::vector<Row> best = FetchAll(a, s);
  ASSERT_EQ(1u, best.size());
  EXPECT_EQ(Id("id"), best[0][1]);
  EXPECT_EQ("4", best[0][2]);
  // SQL_ROWVER asks for version columns instead; whatever they are, they come.
  EXPECT_EQ(0, a.ops->DRV_DDSpecialColumns(s, nullptr, Schema().c_str(), child.c_str(), 2, 0, 0))
      << AgentMessages(a.ops, s);
  FetchAll(a, s);
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, ColumnsGiveTheVerboseTypeOfEveryColumn) {
  const std::string table = Id(Unique("acat_t"));
  a.Exec("CREATE TABLE " + table + " (d DATE, t TIME, ts TIMESTAMP, b BOOLEAN, i INTEGER)");
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDColumns(s, nullptr, Schema().c_str(), table.c_str(), "%"))
      << AgentMessages(a.ops, s);
  std::vector<Row> cols = FetchAll(a, s);
  // COLUMN_NAME, DATA_TYPE, SQL_DATA_TYPE, SQL_DATETIME_SUB
  const std::vector<Row> expected = {
      {Id("d"), "9", "9", "1"},   {Id("t"), "10", "9", "2"}, {Id("ts"), "11", "9", "3"},
      {Id("b"), "-7", "-7", "~"}, {Id("i"), "4", "4", "~"},
  };
  ASSERT_EQ(expected.size(), cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(expected[i], (Row{cols[i][3], cols[i][4], cols[i][13], cols[i][14]}));
  }
  a.ops->DRV_FreeStmt(s);
  a.Exec("DROP TABLE " + table);
}

TEST_P(Catalog, NullArgumentsLeaveOutWhatEmptyOnesRestrict) {
  AgentHandle s = a.Stmt();
  // NULL: no restriction; what the core passes for a pattern the
  // application left out is "%".
  for (const char* column : {static_cast<const char*>(nullptr), "%"}) {
    ASSERT_EQ(0, a.ops->DRV_DDColumns(s, nullptr, nullptr, parent.c_str(), column))
        << AgentMessages(a.ops, s);
    EXPECT_EQ(2u, FetchAll(a, s).size());
  }
  ASSERT_EQ(0, a.ops->DRV_DDTables(s, nullptr, nullptr, parent.c_str(), nullptr));
  EXPECT_EQ(1u, Where(FetchAll(a, s), 2, parent).size());
  if (!pg) {
    // An empty pattern reaches the driver as such and matches only an empty
    // name (PostgreSQL's driver reads it as no restriction).
    ASSERT_EQ(0, a.ops->DRV_DDTables(s, nullptr, nullptr, "", ""));
    EXPECT_TRUE(FetchAll(a, s).empty());
    ASSERT_EQ(0, a.ops->DRV_DDColumns(s, nullptr, nullptr, parent.c_str(), ""));
    EXPECT_TRUE(FetchAll(a, s).empty());
  }
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, StatisticsListIndexColumnsWithUniqueness) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDStatistics(s, nullptr, Schema().c_str(), child.c_str(), 1, 1))
      << AgentMessages(a.ops, s);
  std::vector<Row> all = FetchAll(a, s);
  std::vector<Row> note = Where(all, 8, Id("note"));
  ASSERT_EQ(1u, note.size());
  EXPECT_EQ("1", note[0][3]);  // NON_UNIQUE
  EXPECT_EQ("1", note[0][7]);  // ORDINAL_POSITION
  std::vector<Row> id = Where(all, 8, Id("id"));
  ASSERT_EQ(1u, id.size());
  EXPECT_EQ("0", id[0][3]);
  // SQL_INDEX_UNIQUE leaves the note index out.
  ASSERT_EQ(0, a.ops->DRV_DDStatistics(s, nullptr, Schema().c_str(), child.c_str(), 0, 0));
  EXPECT_TRUE(Where(FetchAll(a, s), 8, Id("note")).empty());
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, ProceduresAndTheirColumns) {
  // PostgreSQL's driver lists procedures (not functions) when calls are
  // escaped as CALL; H2 lists its aliases, with a return value.
  const std::string proc = Id(Unique("acat_pr"));
  if (pg) {
    a.Exec("CREATE PROCEDURE " + proc + "(a integer, INOUT b varchar) "
           "LANGUAGE sql AS 'SELECT b'");
  } else {
    a.Exec("CREATE ALIAS " + proc + " FOR 'java.lang.Math.max(int,int)'");
  }
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDProcedures(s, nullptr, "%", proc.c_str())) << AgentMessages(a.ops, s);
  std::vector<Row> procs = FetchAll(a, s);
  ASSERT_EQ(1u, procs.size());
  EXPECT_EQ(proc, procs[0][2]);

  ASSERT_EQ(0, a.ops->DRV_DDProcedureColumns(s, nullptr, "%", proc.c_str(), "%"))
      << AgentMessages(a.ops, s);
  std::vector<Row> cols = FetchAll(a, s);
  ASSERT_EQ(pg ? 2u : 3u, cols.size());
  for (const Row& r : cols) {
    EXPECT_EQ(proc, r[2]);
    EXPECT_EQ("~", r[13]);   // COLUMN_DEF
    EXPECT_EQ(r[5], r[14]);  // SQL_DATA_TYPE of a non-datetime type is DATA_TYPE
    EXPECT_EQ("~", r[15]);   // SQL_DATETIME_SUB
  }
  std::vector<Row> in = Where(cols, 4, "1");  // SQL_PARAM_INPUT
  ASSERT_EQ(pg ? 1u : 2u, in.size());
  EXPECT_EQ("4", in[0][5]);
  // ORDINAL_POSITION: the parameters count from 1 in their declared order.
  std::vector<std::string> ordinals;
  for (const Row& r : cols) {
    if (r[4] != "5") ordinals.push_back(r[17]);
  }
  std::sort(ordinals.begin(), ordinals.end());
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), ordinals);
  if (pg) {
    std::vector<Row> inout = Where(cols, 4, "2");  // SQL_PARAM_INPUT_OUTPUT
    ASSERT_EQ(1u, inout.size());
    // A varchar parameter without a length has no longest value: long text,
    // as a result column of it is described.
    EXPECT_EQ("-1", inout[0][5]);
    EXPECT_EQ("2147483647", inout[0][8]);
    EXPECT_EQ(inout[0][8], inout[0][16]);  // CHAR_OCTET_LENGTH of text: its buffer length
    EXPECT_EQ("1", in[0][17]);
    EXPECT_EQ("2", inout[0][17]);
  } else {
    std::vector<Row> ret = Where(cols, 4, "5");  // SQL_RETURN_VALUE
    ASSERT_EQ(1u, ret.size());
    EXPECT_EQ("4", ret[0][5]);
    EXPECT_EQ("0", ret[0][17]);  // a return value has ordinal 0
  }
  a.ops->DRV_FreeStmt(s);
  a.Exec((pg ? "DROP PROCEDURE " : "DROP ALIAS ") + proc);
}

TEST_P(Catalog, PrivilegesOfTheOwner) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDTablePrivileges(s, nullptr, Schema().c_str(), parent.c_str()))
      << AgentMessages(a.ops, s);
  std::vector<Row> table = FetchAll(a, s);
  ASSERT_EQ(0, a.ops->DRV_DDColumnPrivileges(s, nullptr, Schema().c_str(), parent.c_str(),
                                                Id("name").c_str()))
      << AgentMessages(a.ops, s);
  std::vector<Row> column = FetchAll(a, s);
  if (pg) {
    // The owner holds every privilege on a table it created.
    EXPECT_FALSE(Where(table, 5, "SELECT").empty());
    for (const Row& r : table) EXPECT_EQ(parent, r[2]);
    EXPECT_FALSE(Where(column, 6, "SELECT").empty());
    for (const Row& r : column) EXPECT_EQ(Id("name"), r[3]);
  }
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, TypeInformationFiltersByType) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDTypeInfo(s, 0)) << AgentMessages(a.ops, s);
  std::vector<Row> all = FetchAll(a, s);
  ASSERT_GT(all.size(), 5u);
  for (const Row& r : all) {
    EXPECT_NE("~", r[0]);
    EXPECT_EQ("~", r[18]);  // INTERVAL_PRECISION is never read from Java
    // SQL_DATA_TYPE and SQL_DATETIME_SUB follow the delivered DATA_TYPE.
    const int32_t t = std::stoi(r[1]);
    const int32_t sub = JDB_DatetimeSubOf(t);
    const std::string subText = sub < 0 ? "~" : std::to_string(sub);
    EXPECT_EQ((Row{r[0], std::to_string(JDB_SqlDataTypeOf(t)), subText}),
              (Row{r[0], r[15], r[16]}));
  }
  EXPECT_FALSE(Where(all, 1, "4").empty());
  EXPECT_FALSE(Where(all, 1, "12").empty());

  struct FilterCase {
    int16_t asked;
    const char* delivered;
  };
  // Dates and timestamps answer to both of their codes.
  // BOOLEAN rows answer to SQL_BIT, the code they are delivered as.
  for (const FilterCase& k : {FilterCase{4, "4"}, FilterCase{93, "11"}, FilterCase{11, "11"},
                              FilterCase{91, "9"}, FilterCase{-7, "-7"}}) {
    SCOPED_TRACE(k.asked);
    ASSERT_EQ(0, a.ops->DRV_DDTypeInfo(s, k.asked)) << AgentMessages(a.ops, s);
    std::vector<Row> rows = FetchAll(a, s);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.size(), Where(rows, 1, k.delivered).size());
  }
  a.ops->DRV_FreeStmt(s);
}

TEST_P(Catalog, NarrowAndWideClientsGetTheirTextTypes) {
  AgentHandle s = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_DDStatistics(s, nullptr, nullptr, child.c_str(), 1, 0));
  uint16_t n = 0;
  AgentColDesc* cols = nullptr;
  ASSERT_EQ(0, a.ops->DRV_DescribeCols(s, &n, &cols));
  ASSERT_EQ(13, n);
  EXPECT_EQ(-9, cols[0].sqlType);  // the session is a Unicode client
  EXPECT_EQ(RBT_WCHAR_NTS, cols[0].storageType);
  EXPECT_EQ(128, cols[0].columnSize);
  EXPECT_EQ(12, cols[9].sqlType);  // ASC_OR_DESC stays narrow
  EXPECT_EQ(1, cols[9].columnSize);
  EXPECT_EQ(5, cols[3].sqlType);  // NON_UNIQUE is a SMALLINT, whatever it is stored as
  EXPECT_EQ(RBT_BIT, cols[3].storageType);  // both drivers deliver it as a boolean
  EXPECT_EQ(RBT_SSHORT, cols[6].storageType);  // TYPE is a real SMALLINT
  EXPECT_EQ(0u, cols[2].flags & COLDESC_NULLABLE_MASK);  // TABLE_NAME: no nulls
  EXPECT_EQ(1u, cols[0].flags & COLDESC_NULLABLE_MASK);
  RB_FreeColDescs(cols, n);
  a.ops->DRV_FreeStmt(s);

  // A narrow client on the same kind of database.
  AgentSession narrow;
  if (pg) {
    std::string props, user, password;
    ASSERT_TRUE(PgProps(&props, &user, &password));
    ASSERT_EQ(0, narrow.Connect(props, user, password, false));
  } else {
    ASSERT_EQ(0, narrow.ConnectH2("acat_n", false));
  }
  AgentHandle t = narrow.Stmt();
  ASSERT_EQ(0, narrow.ops->DRV_DDTables(t, "", "", "", ""));
  ASSERT_EQ(0, narrow.ops->DRV_DescribeCols(t, &n, &cols));
  ASSERT_EQ(5, n);
  EXPECT_EQ(12, cols[2].sqlType);
  EXPECT_EQ(RBT_CHAR_NTS, cols[2].storageType);
  EXPECT_EQ(254, cols[4].columnSize);
  RB_FreeColDescs(cols, n);
  narrow.ops->DRV_FreeStmt(t);
}

TEST_P(Catalog, ACatalogCallReplacesThePreviousStatement) {
  AgentHandle s = a.Stmt();
  std::string sql = "SELECT id FROM " + parent;
  ASSERT_EQ(0, a.ops->DRV_Prepare(s, sql.c_str()));
  ASSERT_EQ(0, a.ops->DRV_DDPrimaryKeys(s, nullptr, nullptr, parent.c_str()));
  JStmt* rec = JDB_FindStmt(s);
  ASSERT_NE(nullptr, rec);
  EXPECT_EQ(nullptr, rec->stmt);  // the prepared statement is gone
  EXPECT_EQ(JDB_CAT_PRIMARYKEYS, rec->catalogKind);
  EXPECT_EQ(1u, FetchAll(a, s).size());
  // Closing the cursor ends the catalog result.
  EXPECT_EQ(0, a.ops->DRV_CloseCursor(s));
  Block b;
  EXPECT_EQ(22, a.ops->DRV_FetchBlock(s, 5, &b.rb));
  a.ops->DRV_FreeStmt(s);
  EXPECT_EQ(21, a.ops->DRV_DDTables(s, "", "", "", ""));
  EXPECT_EQ(21, a.ops->DRV_DDTypeInfo(s, 0));
}

TEST_P(Catalog, TheTypeMapNamesEachTypeByItsBestMatch) {
  // JDBC lists the best match of a data type first: PostgreSQL's INTEGER is
  // int4 (not serial), its DOUBLE float8 (not money).
  JConn* c = JDB_FindConn(a.conn);
  ASSERT_NE(nullptr, c);
  // Read at the first look-up, not at connect.
  EXPECT_EQ(nullptr, c->typeMap);
  JDB_TypeMapName(c, 4);
  ASSERT_NE(nullptr, c->typeMap);
  const struct {
    int32_t type;
    const char *pgName, *h2Name;
  } cases[] = {
      {4, "int4", "INTEGER"}, {8, "float8", "DOUBLE PRECISION"}, {-7, "bool", "BOOLEAN"},
      {5, "int2", "SMALLINT"}, {11, "timestamp", "TIMESTAMP"},
      // Text by the general types, never PostgreSQL's identifier type name.
      {12, "varchar", "CHARACTER VARYING"}, {-9, "varchar", "CHARACTER VARYING"},
      {-1, "text", "CHARACTER LARGE OBJECT"}, {1, "bpchar", "CHARACTER"},
      {-4, "bytea", "BINARY LARGE OBJECT"}, {-11, "uuid", "UUID"}, {93, "timestamp", "TIMESTAMP"},
  };
  for (const auto& k : cases) {
    EXPECT_STREQ(pg ? k.pgName : k.h2Name, JDB_TypeMapName(c, k.type)) << k.type;
  }
  EXPECT_STREQ("", JDB_TypeMapName(c, 0));
  EXPECT_STREQ("'", JDB_TypeMapLiteral(c, 12, 0));
  EXPECT_STREQ("'", JDB_TypeMapLiteral(c, 12, 1));
}

INSTANTIATE_TEST_SUITE_P(Db, Catalog, ::testing::Values("h2", "pg"));

TEST(CatalogTypeMap, KeepsTheFirstRowOfATypeAndNeverTypeZero) {
  HashTable* map = HashCreate(100, 2);
  ASSERT_NE(nullptr, map);
  const auto entry = [](const char* name) {
    auto* e = static_cast<TypeInfoEntry*>(std::calloc(1, sizeof(TypeInfoEntry)));
    std::strncpy(e->typeName, name, 60);
    return e;
  };
  EXPECT_EQ(0, JDB_TypeMapOffer(map, 4, entry("int4")));
  EXPECT_EQ(0, JDB_TypeMapOffer(map, 4, entry("serial")));  // freed, not kept
  EXPECT_EQ(0, JDB_TypeMapOffer(map, 0, entry("json")));
  EXPECT_EQ(0, JDB_TypeMapOffer(map, -7, entry("bool")));
  int16_t key = 4;
  auto* kept = reinterpret_cast<TypeInfoEntry*>(HashGet(map, &key));
  ASSERT_NE(nullptr, kept);
  EXPECT_STREQ("int4", kept->typeName);
  key = 0;
  EXPECT_EQ(0u, HashGet(map, &key));
  EXPECT_EQ(2, map->entries);
  EXPECT_EQ(16, JDB_TypeMapOffer(nullptr, 4, entry("x")));
  JDB_TypeMapFree(map);
}

// The type list from JDBC rows given as cells: codes ODBC has none for are
// left out, the general type of a code comes first (not an identity type,
// the longest text), a size the driver gives is its own, a UUID is a GUID
// and a Unicode client gets the character types under the wide codes too.
TEST(CatalogTypeList, OneRowPerTypeBestMatchFirst) {
  auto row = [](const char* name, int32_t type, int32_t size, bool autoInc = false) {
    TypeListRow r;
    r[TL_TYPE_NAME] = TypeListCell{false, 0, name};
    r[TL_DATA_TYPE] = TypeListCell{false, type, ""};
    r[TL_COLUMN_SIZE] = TypeListCell{false, size, ""};
    r[TL_AUTO_UNIQUE_VALUE] = TypeListCell{false, autoInc ? 1 : 0, ""};
    return r;
  };
  const std::vector<TypeListRow> jdbc = {
      row("serial", 4, 10, true), row("int4", 4, 0),     row("name", 12, 0),
      row("text", 12, 0),         row("varchar", 12, 10485760), row("json", 1111, 0),
      row("uuid", 1111, 0),       row("bytea", -2, 0),   row("char", 1, 0),
      row("bpchar", 1, 10485760), row("timestamp", 93, 26), row("double", 8, 53),
      row("TEXT", 12, 100),  // a driver's own size stands: a bounded type of that name
  };
  auto names = [](const std::vector<TypeListRow>& rows) {
    std::vector<std::string> out;
    for (const TypeListRow& r : rows) {
      out.push_back(r[TL_TYPE_NAME].text + ":" + std::to_string(r[TL_DATA_TYPE].number) + ":" +
                    std::to_string(r[TL_COLUMN_SIZE].number));
    }
    return out;
  };
  TypeListOptions narrow;
  EXPECT_EQ((std::vector<std::string>{"uuid:-11:36", "bytea:-4:2147483647", "text:-1:2147483647",
                                      "bpchar:1:60000", "char:1:1", "int4:4:10", "serial:4:10",
                                      "double:8:15", "varchar:12:60000", "TEXT:12:100", "name:12:63",
                                      "timestamp:11:26"}),
            names(JDB_OdbcTypeList(jdbc, narrow)));
  std::vector<TypeListRow> list = JDB_OdbcTypeList(jdbc, narrow);
  EXPECT_EQ("max length", list[8][TL_CREATE_PARAMS].text);
  EXPECT_EQ("length", list[3][TL_CREATE_PARAMS].text);
  EXPECT_TRUE(list[10][TL_CREATE_PARAMS].isNull);  // name takes no length
  EXPECT_EQ(10, list[7][TL_NUM_PREC_RADIX].number);

  // The general type of a code comes first whatever order the JDBC driver
  // lists them in (PostgreSQL's order follows the server's query plan).
  const std::vector<TypeListRow> shuffled = {
      row("bigserial", -5, 19, true), row("oid", -5, 10), row("int8", -5, 19), row("money", 8, 0),
      row("float8", 8, 17),           row("bit", -7, 83886080), row("bool", -7, 1),
      row("timestamptz", 93, 35),     row("timestamp", 93, 29), row("timetz", 92, 21), row("time", 92, 15),
  };
  // A string of bits is a BIT of one bit and, with a length, character data;
  // character types are as long as a column of them is still described so.
  EXPECT_EQ((std::vector<std::string>{"bool:-7:1", "bit:-7:1", "int8:-5:19", "oid:-5:19",
                                      "bigserial:-5:19", "float8:8:15", "money:8:15",
                                      "bit:12:60000", "time:10:15", "timetz:10:21",
                                      "timestamp:11:29", "timestamptz:11:35"}),
            names(JDB_OdbcTypeList(shuffled, narrow)));

  TypeListOptions wide;
  wide.wide = true;
  wide.odbc3 = false;
  const std::vector<std::string> w = names(JDB_OdbcTypeList(jdbc, wide));
  ASSERT_EQ(18u, w.size());
  EXPECT_EQ("uuid:-11:36", w[0]);
  EXPECT_EQ("text:-10:2147483647", w[1]);
  EXPECT_EQ("varchar:-9:60000", w[2]);
  EXPECT_EQ("bpchar:-8:60000", w[5]);
  EXPECT_EQ("timestamp:11:26", w[w.size() - 4]);  // ODBC 2 codes sort before VARCHAR
  wide.filter = -9;
  EXPECT_EQ((std::vector<std::string>{"varchar:-9:60000", "TEXT:-9:100", "name:-9:63"}),
            names(JDB_OdbcTypeList(jdbc, wide)));
}

TEST(CatalogTypeMap, CatalogRowsCompareByTheirOdbcCode) {
  const struct {
    int32_t jdbc, jet, odbc;
  } cases[] = {{16, 0, -7},     {-7, 0, -7},     {91, 0, 9},    {93, 0, 11},   {11, 0, 11},
               {70, 0, 12},     {1111, 0, 0},    {2003, 0, 0},  {2004, 0, -4}, {2005, 0, -1},
               {-5, 0, -5},     {-5, 1, 2},      {4, 1, 4},     {-9, 0, 12},
               {-15, 0, 1},     {-16, 0, -1},    {2011, 0, -1}, {2013, 0, 10},
               {2014, 0, 11},   {-8, 0, 0}};
  for (const auto& k : cases) EXPECT_EQ(k.odbc, JDB_OdbcTypeOfJdbc(k.jdbc, k.jet)) << k.jdbc;
}

TEST(CatalogArgs, TablesSpecialCases) {
  struct Case {
    const char *catalog, *schema, *table, *types;
    uint32_t kind;
  };
  const Case cases[] = {
      {"%", "", "", "", 1},           {"%", nullptr, nullptr, "'TABLE'", 1},
      {"%", "s", "", "", 0},          {"%", "", "t", "", 0},
      {"", "%", "", "", 2},           {"c", "%", "", "", 0},
      {"", "%", "t", "", 0},          {"", "", "", "%", 8},
      {nullptr, nullptr, nullptr, "%", 8}, {"%", "", "", "%", 0},
      {"", "s", "", "%", 0},          {"", "", "%", "", 4},
      {"", "", "", "", 0},            {"%%", "", "", "", 0},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(k.kind, JDB_TablesArgKind(k.catalog, k.schema, k.table, k.types))
        << (k.catalog ? k.catalog : "null") << "|" << (k.schema ? k.schema : "null") << "|"
        << (k.table ? k.table : "null") << "|" << k.types;
  }
}

TEST(CatalogArgs, TypeListsGoToJavaUpperCasedWithBaseTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"'table'", "'TABLE','BASE TABLE'"},
      {"TABLE, VIEW", "TABLE, VIEW,'BASE TABLE'"},
      {"'VIEW'", "'VIEW'"},
      {"'TABLE','BASE TABLE'", "'TABLE','BASE TABLE'"},
      {"'SYSTEM TABLE'", "'SYSTEM TABLE'"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(out, JDB_TableTypesForJava(in)) << in;
  EXPECT_EQ("", JDB_TableTypesForJava(nullptr));
}

}  // namespace
}  // namespace kxtest
