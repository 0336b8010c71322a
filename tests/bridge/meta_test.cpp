// Metadata wrappers: result-set descriptions, information getters by name,
// catalog queries with their argument rules, and the table-type list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_meta.h"
#include "drv_jdbc/j_setters.h"

using namespace kx;
using kxtest::Conn;
using kxtest::Jni;
using kxtest::LocalFrame;
using kxtest::Stmt;

namespace {

// The values of one column of a catalog result, as text.
std::vector<std::string> Column(JStmt* s, jobject rs, int col) {
  std::vector<std::string> out;
  uint8_t more = 0;
  while (rs != nullptr && JC_ResultSet_next(s, rs, &more) == 0 && more) {
    char buf[256];
    int32_t len = 0;
    EXPECT_EQ(0, JC_ResultSet_getString(s, rs, col, buf, &len, sizeof buf));
    out.emplace_back(buf);
  }
  if (rs != nullptr) JC_ResultSet_close(s, rs);
  return out;
}

bool Contains(const std::vector<std::string>& v, const std::string& x) {
  for (const std::string& e : v) {
    if (e == x) return true;
  }
  return false;
}

std::vector<std::string> TypeArray(JStmt* s, const char* list, int* status) {
  std::string text = list;
  jobjectArray array = nullptr;
  *status = JC_MakeTableTypeArray(s, text.data(), &array);
  std::vector<std::string> out;
  if (array == nullptr) return out;
  JNIEnv* env = Jni();
  jsize n = env->GetArrayLength(array);
  for (jsize i = 0; i < n; ++i) {
    jobject e = env->GetObjectArrayElement(array, i);
    char* c = JC_StringToC(env, static_cast<jstring>(e), JC_MODE_UTF8);
    out.emplace_back(c != nullptr ? c : "<null>");
    std::free(c);
    env->DeleteLocalRef(e);
  }
  env->DeleteLocalRef(array);
  return out;
}

class Meta : public ::testing::Test {
 protected:
  void SetUp() override {
    // An in-memory database of its own per test.
    static int counter = 0;
    db_ = "META" + std::to_string(++counter);
    ASSERT_EQ(0, conn_.Open(kxtest::H2Props(db_))) << conn_.Messages();
    conn_.Exec("CREATE TABLE KX_META (ID INT PRIMARY KEY, NAME VARCHAR(20) NOT NULL, "
               "AMOUNT DECIMAL(9,2))");
    conn_.Exec("CREATE UNIQUE INDEX KX_META_NAME ON KX_META(NAME)");
  }
  Conn conn_;
  std::string db_;
};

TEST_F(Meta, TableTypeListBecomesAnArrayOfStrings) {
  LocalFrame frame;
  Stmt st(conn_);
  struct Case {
    const char* list;
    std::vector<std::string> items;
  } cases[] = {
      {"TABLE,VIEW", {"TABLE", "VIEW"}},
      {"'TABLE','VIEW'", {"TABLE", "VIEW"}},
      {"TABLE, VIEW", {"TABLE", " VIEW"}},
      {"'TABLE', 'VIEW'", {"TABLE", " 'VIEW"}},
      {",", {"", ""}},
      {"\"TABLE\"", {"TABLE"}},
      {",TABLE", {"", "TABLE"}},  // nothing is read before the list
      {"'", {""}},
  };
  for (const Case& c : cases) {
    int status = -1;
    EXPECT_EQ(c.items, TypeArray(&st.rec, c.list, &status)) << c.list;
    EXPECT_EQ(0, status);
  }
  int status = -1;
  EXPECT_TRUE(TypeArray(&st.rec, "", &status).empty());
  EXPECT_EQ(0, status);
}

TEST_F(Meta, CatalogQueriesPassNullAsNullAndEmptyAsEmpty) {
  LocalFrame frame(64);
  Stmt st(conn_);
  JStmt* s = &st.rec;
  jobject rs = nullptr;
  // NULL leaves an argument out: every table, every column.
  char none[] = "";
  ASSERT_EQ(0, JC_DatabaseMetaData_getTables(s, conn_.rec.meta, nullptr, nullptr, nullptr, none,
                                             &rs))
      << st.Messages();
  EXPECT_TRUE(Contains(Column(s, rs, 3), "KX_META"));
  char types[] = "'TABLE','VIEW'";
  ASSERT_EQ(0, JC_DatabaseMetaData_getTables(s, conn_.rec.meta, nullptr, nullptr, "KX_%", types,
                                             &rs));
  EXPECT_EQ(std::vector<std::string>{"KX_META"}, Column(s, rs, 3));
  ASSERT_EQ(0, JC_DatabaseMetaData_getColumns(s, conn_.rec.meta, nullptr, nullptr, "KX_META",
                                              nullptr, &rs));
  EXPECT_EQ((std::vector<std::string>{"ID", "NAME", "AMOUNT"}), Column(s, rs, 4));
  ASSERT_EQ(0, JC_DatabaseMetaData_getColumns(s, conn_.rec.meta, nullptr, nullptr, "KX_META",
                                              "NA%", &rs));
  EXPECT_EQ(std::vector<std::string>{"NAME"}, Column(s, rs, 4));
  // An nullptr pattern reaches Java as the nullptr String: it matches only an
  // nullptr name, so nothing here.
  ASSERT_EQ(0, JC_DatabaseMetaData_getTables(s, conn_.rec.meta, nullptr, nullptr, "", none, &rs));
  EXPECT_TRUE(Column(s, rs, 3).empty());
  ASSERT_EQ(0, JC_DatabaseMetaData_getColumns(s, conn_.rec.meta, nullptr, nullptr, "KX_META", "",
                                              &rs));
  EXPECT_TRUE(Column(s, rs, 4).empty());
  ASSERT_EQ(0, JC_DatabaseMetaData_getProcedureColumns(s, conn_.rec.meta, nullptr, nullptr, "",
                                                       nullptr, &rs));
  EXPECT_TRUE(Column(s, rs, 3).empty());
  ASSERT_EQ(0, JC_DatabaseMetaData_getPrimaryKeys(s, conn_.rec.meta, nullptr, nullptr, "KX_META",
                                                  &rs));
  EXPECT_EQ(std::vector<std::string>{"ID"}, Column(s, rs, 4));
  ASSERT_EQ(0, JC_DatabaseMetaData_getIndexInfo(s, conn_.rec.meta, nullptr, nullptr, "KX_META", 1,
                                                0, &rs));
  EXPECT_TRUE(Contains(Column(s, rs, 6), "KX_META_NAME"));
  ASSERT_EQ(0, JC_DatabaseMetaData_getBestRowIdentifier(s, conn_.rec.meta, nullptr, nullptr,
                                                        "KX_META", 2, 1, &rs));
  Column(s, rs, 2);
  ASSERT_EQ(0, JC_DatabaseMetaData_getTypeInfo(s, conn_.rec.meta, &rs));
  EXPECT_TRUE(Contains(Column(s, rs, 1), "INTEGER"));
  ASSERT_EQ(0, JC_DatabaseMetaData_getTableTypes(s, conn_.rec.meta, &rs));
  EXPECT_FALSE(Column(s, rs, 1).empty());
  ASSERT_EQ(0, JC_DatabaseMetaData_getSchemas(s, conn_.rec.meta, &rs));
  EXPECT_TRUE(Contains(Column(s, rs, 1), "PUBLIC"));
  ASSERT_EQ(0, JC_DatabaseMetaData_getCatalogs(s, conn_.rec.meta, &rs));
  EXPECT_EQ(std::vector<std::string>{db_}, Column(s, rs, 1));
  ASSERT_EQ(0,
            JC_DatabaseMetaData_getProcedures(s, conn_.rec.meta, nullptr, nullptr, nullptr, &rs));
  Column(s, rs, 3);
  ASSERT_EQ(0, JC_DatabaseMetaData_getProcedureColumns(s, conn_.rec.meta, nullptr, nullptr, nullptr,
                                                       nullptr, &rs));
  Column(s, rs, 3);
  ASSERT_EQ(0, JC_DatabaseMetaData_getTablePrivileges(s, conn_.rec.meta, nullptr, nullptr,
                                                      "KX_META", &rs));
  Column(s, rs, 3);
  ASSERT_EQ(0, JC_DatabaseMetaData_getColumnPrivileges(s, conn_.rec.meta, nullptr, nullptr,
                                                       "KX_META", nullptr, &rs));
  Column(s, rs, 3);
  ASSERT_EQ(0, JC_DatabaseMetaData_getVersionColumns(s, conn_.rec.meta, nullptr, nullptr,
                                                     "KX_META", &rs));
  Column(s, rs, 2);
  ASSERT_EQ(0, JC_DatabaseMetaData_getImportedKeys(s, conn_.rec.meta, nullptr, nullptr,
                                                   "KX_META", &rs));
  EXPECT_TRUE(Column(s, rs, 3).empty());
  ASSERT_EQ(0, JC_DatabaseMetaData_getExportedKeys(s, conn_.rec.meta, nullptr, nullptr,
                                                   "KX_META", &rs));
  EXPECT_TRUE(Column(s, rs, 3).empty());
  EXPECT_EQ(nullptr, s->msgs.head) << st.Messages();
}

TEST_F(Meta, ResultSetMetaDataDescribesColumns) {
  LocalFrame frame(64);
  Stmt st(conn_);
  ASSERT_EQ(0, st.Prepare("SELECT ID, NAME AS \"Nom \xC3\xA9\", AMOUNT FROM KX_META"));
  jobject md = nullptr;
  ASSERT_EQ(0, JC_PreparedStatement_getMetaData(&st.rec, st.ps(), &md));
  ASSERT_NE(nullptr, md);
  JStmt* s = &st.rec;
  int32_t n = 0, type = 0, precision = 0, scale = 0, nullable = 0, size = 0;
  EXPECT_EQ(0, JC_ResultSetMetaData_getColumnCount(s, md, &n));
  EXPECT_EQ(3, n);
  EXPECT_EQ(0, JC_ResultSetMetaData_getColumnType(s, md, 3, &type));
  EXPECT_EQ(3, type);  // DECIMAL
  EXPECT_EQ(0, JC_ResultSetMetaData_getPrecision(s, md, 3, &precision));
  EXPECT_EQ(9, precision);
  EXPECT_EQ(0, JC_ResultSetMetaData_getScale(s, md, 3, &scale));
  EXPECT_EQ(2, scale);
  EXPECT_EQ(0, JC_ResultSetMetaData_isNullable(s, md, 2, &nullable));
  EXPECT_EQ(0, nullable);
  EXPECT_EQ(0, JC_ResultSetMetaData_getColumnDisplaySize(s, md, 2, &size));
  EXPECT_EQ(20, size);
  uint8_t flag = 9;
  EXPECT_EQ(0, JC_ResultSetMetaData_isCaseSensitive(s, md, 2, &flag));
  EXPECT_EQ(0, JC_ResultSetMetaData_isAutoIncrement(s, md, 1, &flag));
  EXPECT_EQ(0, flag);
  EXPECT_EQ(0, JC_ResultSetMetaData_isSearchable(s, md, 1, &flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(0, JC_ResultSetMetaData_isReadOnly(s, md, 1, &flag));
  EXPECT_EQ(0, JC_ResultSetMetaData_isWritable(s, md, 1, &flag));
  char* label = nullptr;
  EXPECT_EQ(0, JC_ResultSetMetaData_getColumnLabel(s, md, 2, &label));
  EXPECT_STREQ("Nom \xC3\xA9", label);
  std::free(label);
  EXPECT_NE(0, JC_ResultSetMetaData_getColumnType(s, md, 9, &type));  // no such column
  EXPECT_NE(nullptr, s->msgs.head);
}

TEST_F(Meta, InformationGettersByMethodName) {
  LocalFrame frame;
  JConn* c = &conn_.rec;
  char name[8];
  EXPECT_EQ(0, JC_DatabaseMetaData_getStringInfo(c, c->meta, "getDatabaseProductName", name,
                                                 sizeof name));
  EXPECT_STREQ("H2", name);
  char keywords[4096];
  EXPECT_EQ(0, JC_DatabaseMetaData_getStringInfo(c, c->meta, "getSQLKeywords", keywords,
                                                 sizeof keywords));
  EXPECT_GT(std::strlen(keywords), 10u);
  char small[4];
  EXPECT_EQ(0, JC_DatabaseMetaData_getStringInfo(c, c->meta, "getSQLKeywords", small, 4));
  EXPECT_EQ(3u, std::strlen(small));
  EXPECT_EQ(0, std::strncmp(keywords, small, 3));
  uint8_t b = 9;
  EXPECT_EQ(0, JC_DatabaseMetaData_getBoolInfo(c, c->meta, "supportsOuterJoins", &b));
  EXPECT_EQ(1, b);
  int32_t n = -1;
  EXPECT_EQ(0, JC_DatabaseMetaData_getIntInfo(c, c->meta, "getDefaultTransactionIsolation", &n));
  EXPECT_GT(n, 0);
  EXPECT_EQ(0, JC_DatabaseMetaData_supportsConvert(c, c->meta, &b, 4, 12));
  EXPECT_EQ(0, JC_DatabaseMetaData_supportsTransactionIsolationLevel(c, c->meta, &b, 2));
  EXPECT_EQ(1, b);
  EXPECT_EQ(15, JC_DatabaseMetaData_getIntInfo(c, c->meta, "noSuchMethod", &n));
  ASSERT_NE(nullptr, c->msgs.head);
  EXPECT_NE(nullptr, std::strstr(c->msgs.head->text, "NoSuchMethodError"));
}

TEST(MetaPostgreSql, NullArgumentsFindTablesAndColumns) {
  std::string props, user, password;
  ASSERT_TRUE(kxtest::PgProps(&props, &user, &password));
  Conn conn;
  ASSERT_EQ(0, conn.Open(props, user.c_str(), password.c_str())) << conn.Messages();
  std::string table = kxtest::Unique("kx_meta");
  conn.Exec("CREATE TABLE " + table + " (a INT, b TEXT)");
  {
    LocalFrame frame(64);
    Stmt st(conn);
    jobject rs = nullptr;
    char none[] = "";
    ASSERT_EQ(0, JC_DatabaseMetaData_getTables(&st.rec, conn.rec.meta, nullptr, nullptr, nullptr,
                                               none, &rs));
    EXPECT_TRUE(Contains(Column(&st.rec, rs, 3), table));
    ASSERT_EQ(0, JC_DatabaseMetaData_getColumns(&st.rec, conn.rec.meta, nullptr, nullptr,
                                                table.c_str(), nullptr, &rs));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Column(&st.rec, rs, 4));
  }
  conn.Exec("DROP TABLE " + table);
}

}  // namespace
