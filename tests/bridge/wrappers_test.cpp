// Every setter and getter shape round-tripping through H2 and PostgreSQL:
// scalars, text in both widths, long values through streams, binary, dates
// and times, NULLs, and what fixed buffers do with longer values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_conn_stmt.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_setters.h"

using namespace kx;
using kxtest::Conn;
using kxtest::Jni;
using kxtest::LocalFrame;
using kxtest::Stmt;

namespace {

// java.sql.Types codes used here.
constexpr int kTypesSmallint = 5, kTypesInteger = 4, kTypesBigint = -5, kTypesReal = 7,
              kTypesDouble = 8, kTypesDecimal = 3, kTypesBoolean = 16, kTypesVarchar = 12,
              kTypesLongVarchar = -1, kTypesVarbinary = -3, kTypesLongVarbinary = -4,
              kTypesDate = 91, kTypesTime = 92, kTypesTimestamp = 93;

enum Backend { kH2, kPg };

struct Db {
  Backend backend;
  const char* longText;
  const char* binary;
  const char* longBinary;
  const char* timestamp;
  uint32_t nanosKept;  // the fraction the database keeps of 123456789
};

const Db kDbs[] = {
    {kH2, "CLOB", "VARBINARY(100)", "BLOB", "TIMESTAMP(9)", 123456789},
    {kPg, "TEXT", "BYTEA", "BYTEA", "TIMESTAMP(6)", 123457000},  // rounded to microseconds
};

void PrintTo(const Db& db, std::ostream* os) { *os << (db.backend == kH2 ? "H2" : "PostgreSQL"); }

class Wrappers : public ::testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Jni());
    if (GetParam().backend == kH2) {
      ASSERT_EQ(0, conn_.Open(kxtest::H2Props(kxtest::Unique("wrap")))) << conn_.Messages();
    } else {
      std::string props, user, password;
      ASSERT_TRUE(kxtest::PgProps(&props, &user, &password));
      ASSERT_EQ(0, conn_.Open(props, user.c_str(), password.c_str())) << conn_.Messages();
    }
    table_ = kxtest::Unique("kx_types");
    const Db& db = GetParam();
    conn_.Exec("CREATE TABLE " + table_ +
               " (id INT, c_small SMALLINT, c_byte SMALLINT, c_int INT, c_big BIGINT,"
               " c_real REAL, c_dbl DOUBLE PRECISION, c_dec DECIMAL(20,5), c_bool BOOLEAN,"
               " c_txt VARCHAR(300), c_long " + db.longText + ", c_bin " + db.binary +
               ", c_lbin " + db.longBinary + ", c_date DATE, c_time TIME, c_ts " + db.timestamp +
               ")");
  }
  void TearDown() override {
    if (conn_.conn() != nullptr && !table_.empty()) conn_.Exec("DROP TABLE " + table_);
  }

  Conn conn_;
  std::string table_;
};

std::string LongText() {
  // 40000 characters with supplementary ones and accents: as characters, not bytes.
  std::string s;
  for (int i = 0; i < 10000; ++i) s += "a\xF0\x9F\x98\x80\xC3\xA9z";
  return s;
}

std::vector<unsigned char> LongBinary() {
  std::vector<unsigned char> v(70000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>(i * 7);
  return v;
}

TEST_P(Wrappers, EverySetterAndGetterShapeRoundTrips) {
  LocalFrame frame(64);
  Stmt ins(conn_);
  ASSERT_EQ(0, ins.Prepare("INSERT INTO " + table_ +
                           " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"))
      << ins.Messages();
  JStmt* s = &ins.rec;
  jobject ps = ins.ps();
  const std::string longText = LongText();
  const std::vector<unsigned char> longBin = LongBinary();
  const unsigned char bin[4] = {0x00, 0xFF, 0x10, 0x80};
  JDateTime date{2024, 2, 29, 0, 0, 0, 0};
  JDateTime time{0, 0, 0, 13, 45, 59, 0};
  JDateTime ts{1999, 12, 31, 23, 59, 58, 123456789};

  EXPECT_EQ(0, JC_PreparedStatement_setInt(s, ps, 1, 1));
  EXPECT_EQ(0, JC_PreparedStatement_setShort(s, ps, 2, 70000));  // sent as 4464
  EXPECT_EQ(0, JC_PreparedStatement_setByte(s, ps, 3, 200));     // sent as -56
  EXPECT_EQ(0, JC_PreparedStatement_setInt(s, ps, 4, -2147483647));
  EXPECT_EQ(0, JC_PreparedStatement_setLong(s, ps, 5, int64_t{1} << 62));
  EXPECT_EQ(0, JC_PreparedStatement_setFloat(s, ps, 6, 1.5f));
  EXPECT_EQ(0, JC_PreparedStatement_setDouble(s, ps, 7, -2.25e100));
  EXPECT_EQ(0, JC_PreparedStatement_setBigDecimal(s, ps, 8, "12345.67891xyz", 11, 1));
  EXPECT_EQ(0, JC_PreparedStatement_setBoolean(s, ps, 9, 0x101));  // low byte: true
  EXPECT_EQ(0, JC_PreparedStatement_setString(s, ps, 10, "h\xC3\xA9llo \xF0\x9F\x98\x80\0tail",
                                              17, 1));  // up to the NUL
  EXPECT_EQ(0, JC_PreparedStatement_setCharacterStream(s, ps, 11, longText.data(),
                                                       static_cast<int32_t>(longText.size()), 1));
  EXPECT_EQ(0, JC_PreparedStatement_setBytes(s, ps, 12, bin, 4));
  EXPECT_EQ(0, JC_PreparedStatement_setBinaryStream(s, ps, 13, longBin.data(),
                                                    static_cast<int32_t>(longBin.size())));
  EXPECT_EQ(0, JC_PreparedStatement_setDate(s, ps, 14, &date));
  EXPECT_EQ(0, JC_PreparedStatement_setTime(s, ps, 15, &time));
  EXPECT_EQ(0, JC_PreparedStatement_setTimestamp(s, ps, 16, &ts));
  uint8_t hasRs = 1;
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, ps, &hasRs)) << ins.Messages();
  EXPECT_EQ(0, hasRs);
  EXPECT_EQ(1, conn_.rec.asciiStreamMode) << "the character stream was refused";
  EXPECT_EQ(1, conn_.rec.binaryStreamMode) << "the binary stream was refused";

  // Row 2: every column NULL.
  EXPECT_EQ(0, JC_PreparedStatement_clearParameters(s, ps));
  const int nullTypes[] = {kTypesInteger,  kTypesSmallint,   kTypesSmallint,    kTypesInteger,
                           kTypesBigint,   kTypesReal,       kTypesDouble,      kTypesDecimal,
                           kTypesBoolean,  kTypesVarchar,    kTypesLongVarchar, kTypesVarbinary,
                           kTypesLongVarbinary, kTypesDate,  kTypesTime,        kTypesTimestamp};
  EXPECT_EQ(0, JC_PreparedStatement_setInt(s, ps, 1, 2));
  for (int i = 2; i <= 16; ++i) {
    EXPECT_EQ(0, JC_PreparedStatement_setNull(s, ps, i, nullTypes[i - 1])) << i << ins.Messages();
  }
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, ps, &hasRs)) << ins.Messages();

  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT * FROM " + table_ + " ORDER BY id")) << sel.Messages();
  JStmt* q = &sel.rec;
  jobject rs = sel.ExecuteQuery();
  ASSERT_NE(nullptr, rs) << sel.Messages();
  uint8_t more = 0, isNull = 9;
  ASSERT_EQ(0, JC_ResultSet_next(q, rs, &more));
  ASSERT_EQ(1, more);

  int16_t sh = 0;
  EXPECT_EQ(0, JC_ResultSet_getShort(q, rs, 2, &sh));
  EXPECT_EQ(4464, sh);
  int8_t by = 0;
  EXPECT_EQ(0, JC_ResultSet_getByte(q, rs, 3, &by));
  EXPECT_EQ(-56, by);
  int32_t in = 0;
  EXPECT_EQ(0, JC_ResultSet_getInt(q, rs, 4, &in));
  EXPECT_EQ(-2147483647, in);
  char buf[64];
  int32_t len = 0;
  EXPECT_EQ(0, JC_ResultSet_getString(q, rs, 5, buf, &len, sizeof buf));
  EXPECT_STREQ("4611686018427387904", buf);
  float fl = 0;
  EXPECT_EQ(0, JC_ResultSet_getFloat(q, rs, 6, &fl));
  EXPECT_FLOAT_EQ(1.5f, fl);
  double db = 0;
  EXPECT_EQ(0, JC_ResultSet_getDouble(q, rs, 7, &db));
  EXPECT_DOUBLE_EQ(-2.25e100, db);
  EXPECT_EQ(0, JC_ResultSet_getString(q, rs, 8, buf, &len, sizeof buf));
  EXPECT_STREQ("12345.67891", buf);
  uint8_t bo = 0;
  EXPECT_EQ(0, JC_ResultSet_getBoolean(q, rs, 9, &bo));
  EXPECT_EQ(1, bo);
  EXPECT_EQ(0, JC_ResultSet_getString(q, rs, 10, buf, &len, sizeof buf));
  EXPECT_STREQ("h\xC3\xA9llo \xF0\x9F\x98\x80", buf);
  EXPECT_EQ(11, len);
  char16_t wide[16];
  int32_t units = 0;
  EXPECT_EQ(0, JC_ResultSet_getStringW(q, rs, 10, wide, &units, 16));
  EXPECT_EQ(8, units);
  EXPECT_EQ(u"h\u00e9llo \U0001F600", std::u16string(wide, units));
  EXPECT_EQ(0, wide[units]);

  JGrowBuf grow{};
  EXPECT_EQ(0, JC_ResultSet_getStringLong(q, rs, 11, &grow));
  ASSERT_EQ(longText.size(), grow.size);
  EXPECT_EQ(0, std::memcmp(longText.data(), grow.data, grow.size));
  EXPECT_EQ(0, static_cast<char*>(grow.data)[grow.size]);
  std::free(grow.data);
  grow = {};
  EXPECT_EQ(0, JC_ResultSet_getStringLongW(q, rs, 11, &grow));
  EXPECT_EQ(50000u, grow.size);  // 4 BMP characters and one pair, 10000 times
  EXPECT_EQ(0xD83D, static_cast<char16_t*>(grow.data)[1]);
  std::free(grow.data);

  unsigned char bytes[10];
  std::memset(bytes, 0xEE, sizeof bytes);
  EXPECT_EQ(0, JC_ResultSet_getBytes(q, rs, 12, bytes, &len, sizeof bytes));
  EXPECT_EQ(4, len);
  EXPECT_EQ(0, std::memcmp(bin, bytes, 4));
  for (int i = 4; i < 10; ++i) EXPECT_EQ(0, bytes[i]) << i;
  grow = {};
  EXPECT_EQ(0, JC_ResultSet_getBytesLong(q, rs, 13, &grow));
  ASSERT_EQ(longBin.size(), grow.size);
  EXPECT_EQ(0, std::memcmp(longBin.data(), grow.data, grow.size));
  std::free(grow.data);

  int16_t y = 0;
  uint16_t mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  uint32_t frac = 0;
  EXPECT_EQ(0, JC_ResultSet_getDate(q, rs, 14, &y, &mo, &d));
  EXPECT_EQ(2024, y);
  EXPECT_EQ(2, mo);
  EXPECT_EQ(29, d);
  EXPECT_EQ(0, JC_ResultSet_getTime(q, rs, 15, &h, &mi, &sec));
  EXPECT_EQ(13, h);
  EXPECT_EQ(45, mi);
  EXPECT_EQ(59, sec);
  EXPECT_EQ(0, JC_ResultSet_getTimestamp(q, rs, 16, &y, &mo, &d, &h, &mi, &sec, &frac));
  EXPECT_EQ(1999, y);
  EXPECT_EQ(12, mo);
  EXPECT_EQ(31, d);
  EXPECT_EQ(23, h);
  EXPECT_EQ(59, mi);
  EXPECT_EQ(58, sec);
  EXPECT_EQ(GetParam().nanosKept, frac);
  EXPECT_EQ(0, JC_ResultSet_wasNull(q, rs, &isNull));
  EXPECT_EQ(0, isNull);

  // Row 2: NULLs in every shape.
  ASSERT_EQ(0, JC_ResultSet_next(q, rs, &more));
  ASSERT_EQ(1, more);
  for (int col = 2; col <= 16; ++col) {
    SCOPED_TRACE(col);
    isNull = 0;
    EXPECT_EQ(0, JC_ResultSet_getString(q, rs, col, buf, &len, sizeof buf));
    EXPECT_STREQ("", buf);
    EXPECT_EQ(0, len);
    EXPECT_EQ(0, JC_ResultSet_wasNull(q, rs, &isNull));
    EXPECT_EQ(1, isNull);
  }
  grow = {0, reinterpret_cast<void*>(0x1)};
  EXPECT_EQ(0, JC_ResultSet_getStringLong(q, rs, 11, &grow));
  EXPECT_EQ(0u, grow.size);
  EXPECT_EQ(reinterpret_cast<void*>(0x1), grow.data);  // untouched
  grow = {};
  EXPECT_EQ(0, JC_ResultSet_getBytesLong(q, rs, 13, &grow));
  EXPECT_EQ(0u, grow.size);
  y = 1, mo = 1, d = 1;
  EXPECT_EQ(0, JC_ResultSet_getDate(q, rs, 14, &y, &mo, &d));
  EXPECT_EQ(0, y + mo + d);
  units = 5;
  EXPECT_EQ(0, JC_ResultSet_getStringW(q, rs, 10, wide, &units, 16));
  EXPECT_EQ(0, units);
  EXPECT_EQ(0, wide[0]);

  ASSERT_EQ(0, JC_ResultSet_next(q, rs, &more));
  EXPECT_EQ(0, more);
  EXPECT_EQ(0, JC_ResultSet_close(q, rs));
  EXPECT_EQ(nullptr, q->msgs.head) << sel.Messages();
}

TEST_P(Wrappers, FixedBuffersCutLongValues) {
  LocalFrame frame(64);
  conn_.Exec("INSERT INTO " + table_ + " (id, c_txt, c_bin) VALUES (1, 'abcdefgh', NULL)");
  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT c_txt FROM " + table_)) << sel.Messages();
  jobject rs = sel.ExecuteQuery();
  ASSERT_NE(nullptr, rs);
  uint8_t more = 0;
  ASSERT_EQ(0, JC_ResultSet_next(&sel.rec, rs, &more));
  char buf[6];
  int32_t len = 0;
  EXPECT_EQ(0, JC_ResultSet_getString(&sel.rec, rs, 1, buf, &len, 6));
  EXPECT_STREQ("abcde", buf);
  EXPECT_EQ(5, len);
  // Capacity 0: nothing written, the whole length reported.
  EXPECT_EQ(0, JC_ResultSet_getString(&sel.rec, rs, 1, nullptr, &len, 0));
  EXPECT_EQ(8, len);
  char16_t wide[4];
  int32_t units = 0;
  EXPECT_EQ(0, JC_ResultSet_getStringW(&sel.rec, rs, 1, wide, &units, 4));
  EXPECT_EQ(3, units);
  EXPECT_EQ(u"abc", std::u16string(wide));
}

TEST_P(Wrappers, ManyGetterCallsInOneSmallFrameLeakNothing) {
  // A fetch calls getters per column and row inside one frame: -Xcheck:jni
  // reports a frame that outgrows its capacity.
  LocalFrame frame(16);
  conn_.Exec("INSERT INTO " + table_ +
             " (id, c_txt, c_dec, c_date, c_ts) VALUES (1, 'x\xC3\xA9', 1.5, DATE '2001-02-03',"
             " TIMESTAMP '2001-02-03 04:05:06')");
  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT c_txt, c_dec, c_date, c_ts, c_bin FROM " + table_));
  jobject rs = sel.ExecuteQuery();
  uint8_t more = 0;
  ASSERT_EQ(0, JC_ResultSet_next(&sel.rec, rs, &more));
  for (int i = 0; i < 100; ++i) {
    char buf[32];
    int32_t len = 0;
    char16_t wide[32];
    JGrowBuf g{};
    int16_t y;
    uint16_t m, d, h, mi, s;
    uint32_t f;
    uint8_t n;
    ASSERT_EQ(0, JC_ResultSet_getString(&sel.rec, rs, 1, buf, &len, sizeof buf));
    ASSERT_EQ(0, JC_ResultSet_getStringW(&sel.rec, rs, 1, wide, &len, 32));
    ASSERT_EQ(0, JC_ResultSet_getStringLong(&sel.rec, rs, 1, &g));
    std::free(g.data);
    g = {};
    ASSERT_EQ(0, JC_ResultSet_getStringLongW(&sel.rec, rs, 2, &g));
    std::free(g.data);
    ASSERT_EQ(0, JC_ResultSet_getDate(&sel.rec, rs, 3, &y, &m, &d));
    ASSERT_EQ(0, JC_ResultSet_getTimestamp(&sel.rec, rs, 4, &y, &m, &d, &h, &mi, &s, &f));
    ASSERT_EQ(0, JC_ResultSet_getBytes(&sel.rec, rs, 5, buf, &len, sizeof buf));
    ASSERT_EQ(0, JC_ResultSet_wasNull(&sel.rec, rs, &n));
    jobject md = nullptr;
    ASSERT_EQ(0, JC_ResultSet_getMetaData(&sel.rec, rs, &md));
    Jni()->DeleteLocalRef(md);
  }
  // The setters too.
  Stmt ins(conn_);
  ASSERT_EQ(0, ins.Prepare("INSERT INTO " + table_ + " (id, c_txt, c_long, c_bin, c_lbin, c_dec,"
                           " c_ts) VALUES (?,?,?,?,?,?,?)"));
  JDateTime ts{2000, 1, 31, 1, 2, 3, 4};
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(0, JC_PreparedStatement_setInt(&ins.rec, ins.ps(), 1, i));
    ASSERT_EQ(0, JC_PreparedStatement_setString(&ins.rec, ins.ps(), 2, "abc", 3, i % 2));
    ASSERT_EQ(0, JC_PreparedStatement_setCharacterStream(&ins.rec, ins.ps(), 3, "long", 4, 1));
    ASSERT_EQ(0, JC_PreparedStatement_setBytes(&ins.rec, ins.ps(), 4, "ab", 2));
    ASSERT_EQ(0, JC_PreparedStatement_setBinaryStream(&ins.rec, ins.ps(), 5, "cd", 2));
    ASSERT_EQ(0, JC_PreparedStatement_setBigDecimal(&ins.rec, ins.ps(), 6, "2.5", 3, 0));
    ASSERT_EQ(0, JC_PreparedStatement_setTimestamp(&ins.rec, ins.ps(), 7, &ts));
    JC_PreparedStatement_clearParameters(&ins.rec, ins.ps());
  }
}

TEST_P(Wrappers, FailuresBecomeMessagesWithTheDriversState) {
  LocalFrame frame(64);
  Stmt st(conn_);
  // A syntax error: the fixed status 68 and the driver's SQLSTATE (H2 finds
  // it at prepare, PostgreSQL at execute).
  int rc = st.Prepare("SELEKT nothing");
  if (rc == 0) {
    uint8_t hasRs = 0;
    rc = JC_PreparedStatement_execute(&st.rec, st.ps(), &hasRs);
    EXPECT_NE(0, rc);
  } else {
    EXPECT_EQ(68, rc);
    EXPECT_EQ(nullptr, st.ps());
  }
  ASSERT_NE(nullptr, st.rec.msgs.head);
  EXPECT_EQ(0, std::strncmp("42", st.rec.msgs.head->sqlstate, 2)) << st.Messages();
  JDB_MsgFreeList(&st.rec.msgs);
  // A text that is no number.
  ASSERT_EQ(0, st.Prepare("SELECT c_dec FROM " + table_ + " WHERE c_dec = ?"));
  EXPECT_EQ(15, JC_PreparedStatement_setBigDecimal(&st.rec, st.ps(), 1, "12x", 3, 1));
  ASSERT_NE(nullptr, st.rec.msgs.head);
  EXPECT_NE(nullptr, std::strstr(st.rec.msgs.head->text, "NumberFormatException"));
  JDB_MsgFreeList(&st.rec.msgs);
  // Index out of range.
  EXPECT_NE(0, JC_PreparedStatement_setInt(&st.rec, st.ps(), 5, 1));
  EXPECT_NE(nullptr, st.rec.msgs.head);
  // A null object: 15 and S1000, never a crash.
  JDB_MsgFreeList(&st.rec.msgs);
  EXPECT_EQ(15, JC_PreparedStatement_setInt(&st.rec, nullptr, 1, 1));
  ASSERT_NE(nullptr, st.rec.msgs.head);
  EXPECT_STREQ("S1000", st.rec.msgs.head->sqlstate);
  JDB_MsgFreeList(&st.rec.msgs);
  EXPECT_EQ(0, JC_PreparedStatement_clearParameters(&st.rec, nullptr));
  EXPECT_EQ(nullptr, st.rec.msgs.head);
  uint8_t rs = 0;
  EXPECT_EQ(68, JC_Statement_execute(&st.rec, st.ps(), "DROP TABLE no_such_table_kx", &rs));
  EXPECT_FALSE(Jni()->ExceptionCheck());
}

TEST_P(Wrappers, ConnectionAndStatementCalls) {
  LocalFrame frame(64);
  JConn* c = &conn_.rec;
  uint8_t on = 9;
  EXPECT_EQ(0, JC_Connection_setAutoCommit(c, conn_.conn(), 256));  // low byte 0: off
  EXPECT_EQ(0, JC_Connection_getAutoCommit(c, conn_.conn(), &on));
  EXPECT_EQ(0, on);
  conn_.Exec("INSERT INTO " + table_ + " (id) VALUES (7)");
  EXPECT_EQ(0, JC_Connection_rollback(c, conn_.conn()));
  conn_.Exec("INSERT INTO " + table_ + " (id) VALUES (8)");
  EXPECT_EQ(0, JC_Connection_commit(c, conn_.conn()));
  EXPECT_EQ(0, JC_Connection_setAutoCommit(c, conn_.conn(), 1));
  int32_t level = 0;
  EXPECT_EQ(0, JC_Connection_getTransactionIsolation(c, conn_.conn(), &level));
  EXPECT_GT(level, 0);
  char* native = nullptr;
  EXPECT_EQ(0, JC_Connection_nativeSQL(c, conn_.conn(), "SELECT 1", &native));
  ASSERT_NE(nullptr, native);
  EXPECT_STREQ("SELECT 1", native);
  std::free(native);

  Stmt st(conn_);
  EXPECT_EQ(0, JC_Connection_createStatementForStmt(&st.rec, conn_.conn()));
  ASSERT_NE(nullptr, st.rec.stmt);
  uint8_t hasRs = 9;
  EXPECT_EQ(0, JC_Statement_execute(&st.rec, st.rec.stmt,
                                    ("UPDATE " + table_ + " SET id = 9").c_str(), &hasRs));
  EXPECT_EQ(0, hasRs);
  int32_t count = -5;
  EXPECT_EQ(0, JC_Statement_getUpdateCount(&st.rec, st.rec.stmt, &count));
  EXPECT_EQ(1, count);
  uint8_t more = 9;
  EXPECT_EQ(0, JC_Statement_getMoreResults(&st.rec, st.rec.stmt, &more));
  EXPECT_EQ(0, more);
  EXPECT_EQ(0, JC_Statement_setQueryTimeout(&st.rec, st.rec.stmt, 30));
  int32_t timeout = 0;
  EXPECT_EQ(0, JC_Statement_getQueryTimeout(&st.rec, st.rec.stmt, &timeout));
  EXPECT_EQ(30, timeout);
  // The stand-in's statements are vendor statements with a serial.
  int32_t serial = -1;
  EXPECT_EQ(0, JC_Statement_getSerial(&st.rec, st.rec.stmt, &serial));
  EXPECT_EQ(0, serial);
  EXPECT_EQ(nullptr, st.rec.msgs.head) << st.Messages();
}

TEST_P(Wrappers, CursorName) {
  LocalFrame frame(64);
  conn_.Exec("INSERT INTO " + table_ + " (id) VALUES (1)");
  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT id FROM " + table_));
  jobject rs = sel.ExecuteQuery();
  ASSERT_NE(nullptr, rs);
  char buf[4] = "zzz";
  uint16_t len = 99;
  int rc = JC_ResultSet_getCursorName(&sel.rec, rs, buf, 0x10004, &len);
  if (GetParam().backend == kH2) {
    // H2 has no cursor names: the driver's exception becomes the message.
    EXPECT_NE(0, rc);
    EXPECT_NE(nullptr, sel.rec.msgs.head);
  } else {
    // PostgreSQL answers null: the empty name.
    EXPECT_EQ(0, rc);
    EXPECT_STREQ("", buf);
    EXPECT_EQ(0, len);
  }
}

INSTANTIATE_TEST_SUITE_P(Db, Wrappers, ::testing::ValuesIn(kDbs),
                         [](const ::testing::TestParamInfo<Db>& info) {
                           return info.param.backend == kH2 ? "H2" : "PostgreSQL";
                         });

}  // namespace
