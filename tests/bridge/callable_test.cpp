// CallableStatement output parameters, the vendor serial, and what a
// wall-clock time in a daylight-saving gap of the VM's time zone becomes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

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

constexpr int kTypesInteger = 4, kTypesVarchar = 12, kTypesBigint = -5, kTypesDate = 91,
              kTypesTimestamp = 93, kTypesVarbinary = -3, kTypesDouble = 8;

TEST(Callable, OutputParametersInEveryShape) {
  Conn c;
  ASSERT_EQ(0, c.Open(kxtest::H2Props("callable"))) << c.Messages();
  LocalFrame frame(64);
  Stmt st(c);
  JStmt* s = &st.rec;

  ASSERT_EQ(0, st.PrepareCall("{? = call ABS(?)}")) << st.Messages();
  EXPECT_EQ(0, JC_CallableStatement_registerOutParameter(s, st.ps(), 1, kTypesInteger));
  EXPECT_EQ(0, JC_PreparedStatement_setInt(s, st.ps(), 2, -42));
  uint8_t hasRs = 0;
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, st.ps(), &hasRs)) << st.Messages();
  int32_t i = 0;
  EXPECT_EQ(0, JC_CallableStatement_getInt(s, st.ps(), 1, &i));
  EXPECT_EQ(42, i);
  int64_t l = 0;
  EXPECT_EQ(0, JC_CallableStatement_getLong(s, st.ps(), 1, &l));
  EXPECT_EQ(42, l);
  int16_t sh = 0;
  EXPECT_EQ(0, JC_CallableStatement_getShort(s, st.ps(), 1, &sh));
  EXPECT_EQ(42, sh);
  int8_t by = 0;
  EXPECT_EQ(0, JC_CallableStatement_getByte(s, st.ps(), 1, &by));
  EXPECT_EQ(42, by);
  double d = 0;
  EXPECT_EQ(0, JC_CallableStatement_getDouble(s, st.ps(), 1, &d));
  EXPECT_DOUBLE_EQ(42.0, d);
  float f = 0;
  EXPECT_EQ(0, JC_CallableStatement_getFloat(s, st.ps(), 1, &f));
  EXPECT_FLOAT_EQ(42.0f, f);
  uint8_t isNull = 9;
  EXPECT_EQ(0, JC_CallableStatement_wasNull(s, st.ps(), &isNull));
  EXPECT_EQ(0, isNull);

  ASSERT_EQ(0, st.PrepareCall("{? = call CONCAT(?, '\xF0\x9F\x98\x80')}")) << st.Messages();
  EXPECT_EQ(0, JC_CallableStatement_registerOutParameter(s, st.ps(), 1, kTypesVarchar));
  EXPECT_EQ(0, JC_PreparedStatement_setString(s, st.ps(), 2, "abc", 3, 1));
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, st.ps(), &hasRs)) << st.Messages();
  char buf[16];
  int32_t len = 0;
  EXPECT_EQ(0, JC_CallableStatement_getString(s, st.ps(), 1, buf, &len, sizeof buf));
  EXPECT_STREQ("abc\xF0\x9F\x98\x80", buf);
  char16_t wide[8];
  EXPECT_EQ(0, JC_CallableStatement_getStringW(s, st.ps(), 1, wide, &len, 8));
  EXPECT_EQ(5, len);
  // The long forms free what the record held before (an input value's block).
  JGrowBuf g{3, std::calloc(4, 1)};
  EXPECT_EQ(0, JC_CallableStatement_getStringLong(s, st.ps(), 1, &g));
  EXPECT_EQ(7u, g.size);
  EXPECT_EQ(0, JC_CallableStatement_getStringLong(s, st.ps(), 1, &g));
  EXPECT_STREQ("abc\xF0\x9F\x98\x80", static_cast<char*>(g.data));
  EXPECT_EQ(0, JC_CallableStatement_getStringLongW(s, st.ps(), 1, &g));
  EXPECT_EQ(5u, g.size);
  std::free(g.data);

  ASSERT_EQ(0, st.PrepareCall("{? = call DATEADD(DAY, 1, CAST(? AS TIMESTAMP(9)))}")) << st.Messages();
  EXPECT_EQ(0, JC_CallableStatement_registerOutParameter(s, st.ps(), 1, kTypesTimestamp));
  JDateTime ts{2024, 2, 28, 10, 11, 12, 500000000};
  EXPECT_EQ(0, JC_PreparedStatement_setTimestamp(s, st.ps(), 2, &ts));
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, st.ps(), &hasRs)) << st.Messages();
  int16_t y = 0;
  uint16_t mo = 0, day = 0, h = 0, mi = 0, sec = 0;
  uint32_t frac = 0;
  EXPECT_EQ(0, JC_CallableStatement_getTimestamp(s, st.ps(), 1, &y, &mo, &day, &h, &mi, &sec,
                                                 &frac));
  EXPECT_EQ(2024, y);
  EXPECT_EQ(2, mo);
  EXPECT_EQ(29, day);
  EXPECT_EQ(10, h);
  EXPECT_EQ(500000000u, frac);
  EXPECT_EQ(0, JC_CallableStatement_getDate(s, st.ps(), 1, &y, &mo, &day));
  EXPECT_EQ(29, day);
  EXPECT_EQ(0, JC_CallableStatement_getTime(s, st.ps(), 1, &h, &mi, &sec));
  EXPECT_EQ(12, sec);

  ASSERT_EQ(0, st.PrepareCall("{? = call CAST(? AS VARBINARY)}")) << st.Messages();
  EXPECT_EQ(0, JC_CallableStatement_registerOutParameter(s, st.ps(), 1, kTypesVarbinary));
  EXPECT_EQ(0, JC_PreparedStatement_setBytes(s, st.ps(), 2, "\x01\x02\x03", 3));
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, st.ps(), &hasRs)) << st.Messages();
  unsigned char bytes[4];
  EXPECT_EQ(0, JC_CallableStatement_getBytes(s, st.ps(), 1, bytes, &len, sizeof bytes));
  EXPECT_EQ(3, len);
  g = {1, std::calloc(1, 1)};
  EXPECT_EQ(0, JC_CallableStatement_getBytesLong(s, st.ps(), 1, &g));
  EXPECT_EQ(3u, g.size);
  EXPECT_EQ(0, std::memcmp("\x01\x02\x03", g.data, 3));
  std::free(g.data);

  ASSERT_EQ(0, st.PrepareCall("{? = call NULLIF(1, 1)}")) << st.Messages();
  EXPECT_EQ(0, JC_CallableStatement_registerOutParameter(s, st.ps(), 1, kTypesInteger));
  ASSERT_EQ(0, JC_PreparedStatement_execute(s, st.ps(), &hasRs)) << st.Messages();
  uint8_t boolean = 9;
  EXPECT_EQ(0, JC_CallableStatement_getBoolean(s, st.ps(), 1, &boolean));
  EXPECT_EQ(0, JC_CallableStatement_wasNull(s, st.ps(), &isNull));
  EXPECT_EQ(1, isNull);
  (void)kTypesBigint;
  (void)kTypesDate;
  (void)kTypesDouble;
  EXPECT_EQ(nullptr, s->msgs.head) << st.Messages();
}

TEST(Serial, OnlyVendorStatementsAreAskedForTheirSerial) {
  Conn c;
  ASSERT_EQ(0, c.Open(kxtest::H2Props("serial"))) << c.Messages();
  c.Exec("CREATE TABLE KX_SERIAL (ID INT AUTO_INCREMENT PRIMARY KEY, V INT)");
  LocalFrame frame(64);
  Stmt st(c);
  ASSERT_EQ(0, JC_Connection_createStatementForStmt(&st.rec, c.conn()));
  uint8_t hasRs = 0;
  ASSERT_EQ(0, JC_Statement_execute(&st.rec, st.rec.stmt, "INSERT INTO KX_SERIAL (V) VALUES (5)",
                                    &hasRs));
  ASSERT_EQ(0, JC_Statement_execute(&st.rec, st.rec.stmt, "INSERT INTO KX_SERIAL (V) VALUES (6)",
                                    &hasRs));
  int32_t serial = -1;
  EXPECT_EQ(0, JC_Statement_getSerial(&st.rec, st.rec.stmt, &serial)) << st.Messages();
  EXPECT_EQ(2, serial);

  // Any other statement class answers 0 without a call, a message or an exception.
  jobject other = kxtest::NewProbe("kxprobe/Probe");
  serial = -1;
  EXPECT_EQ(0, JC_Statement_getSerial(&st.rec, other, &serial));
  EXPECT_EQ(0, serial);
  EXPECT_EQ(nullptr, st.rec.msgs.head);
  EXPECT_FALSE(Jni()->ExceptionCheck());

  // A driver without the vendor class: 15, no message, nothing pending.
  Conn plain;
  plain.rec.loader = nullptr;  // the VM's own class path has no vendor classes
  Stmt ps(plain);
  EXPECT_EQ(15, JC_Statement_getSerial(&ps.rec, st.rec.stmt, &serial));
  EXPECT_EQ(nullptr, ps.rec.msgs.head);
  EXPECT_FALSE(Jni()->ExceptionCheck());
}

// The VM's default time zone for the scope of a test.
class DefaultZone {
 public:
  explicit DefaultZone(const char* id) { Set(id); }
  ~DefaultZone() { Set("UTC"); }
  DefaultZone(const DefaultZone&) = delete;
  DefaultZone& operator=(const DefaultZone&) = delete;

 private:
  static void Set(const char* id) {
    JNIEnv* env = Jni();
    LocalFrame frame;
    jclass tz = env->FindClass("java/util/TimeZone");
    ASSERT_FALSE(env->ExceptionCheck());
    jmethodID get = env->GetStaticMethodID(tz, "getTimeZone", "(Ljava/lang/String;)Ljava/util/TimeZone;");
    ASSERT_FALSE(env->ExceptionCheck());
    jmethodID set = env->GetStaticMethodID(tz, "setDefault", "(Ljava/util/TimeZone;)V");
    ASSERT_FALSE(env->ExceptionCheck());
    jstring name = env->NewStringUTF(id);
    ASSERT_FALSE(env->ExceptionCheck());
    jobject zone = env->CallStaticObjectMethod(tz, get, name);
    ASSERT_FALSE(env->ExceptionCheck());
    env->CallStaticVoidMethod(tz, set, zone);
    ASSERT_FALSE(env->ExceptionCheck());
  }
};

// Reads back the one timestamp of KX_DST through getTimestamp.
void ReadBack(Conn& c, uint16_t* day, uint16_t* hour, uint16_t* minute) {
  Stmt sel(c);
  ASSERT_EQ(0, sel.Prepare("SELECT TS FROM KX_DST"));
  jobject rs = sel.ExecuteQuery();
  uint8_t more = 0;
  ASSERT_EQ(0, JC_ResultSet_next(&sel.rec, rs, &more));
  ASSERT_EQ(1, more);
  int16_t y = 0;
  uint16_t mo = 0, s = 0;
  uint32_t f = 0;
  EXPECT_EQ(0, JC_ResultSet_getTimestamp(&sel.rec, rs, 1, &y, &mo, day, hour, minute, &s, &f));
  EXPECT_EQ(2024, y);
  EXPECT_EQ(3, mo);
}

void Store(Conn& c, const JDateTime& value) {
  c.Exec("DELETE FROM KX_DST");
  Stmt ins(c);
  ASSERT_EQ(0, ins.Prepare("INSERT INTO KX_DST VALUES (?)"));
  ASSERT_EQ(0, JC_PreparedStatement_setTimestamp(&ins.rec, ins.ps(), 1, &value));
  uint8_t hasRs = 0;
  ASSERT_EQ(0, JC_PreparedStatement_execute(&ins.rec, ins.ps(), &hasRs)) << ins.Messages();
}

// A timestamp has no zone: it travels as java.time's LocalDateTime, so a
// wall-clock time that a daylight-saving gap skips in the VM's zone keeps its
// fields (java.sql.Timestamp moved it an hour forward).
TEST(TimeZone, WallClockTimeInADaylightSavingGapKeepsItsFields) {
  Conn c;
  ASSERT_EQ(0, c.Open(kxtest::H2Props("dst"))) << c.Messages();
  c.Exec("CREATE TABLE KX_DST (TS TIMESTAMP)");
  LocalFrame frame(64);
  // 02:30 on 10 March 2024 does not exist in New York (02:00 -> 03:00).
  const JDateTime gap{2024, 3, 10, 2, 30, 0, 0};
  uint16_t day = 0, hour = 0, minute = 0;
  {
    DefaultZone zone("America/New_York");
    Store(c, gap);
    ReadBack(c, &day, &hour, &minute);
    EXPECT_EQ(10, day);
    EXPECT_EQ(2, hour);
    EXPECT_EQ(30, minute);
  }
  // In UTC, the suite's zone, there is no gap either.
  Store(c, gap);
  ReadBack(c, &day, &hour, &minute);
  EXPECT_EQ(10, day);
  EXPECT_EQ(2, hour);
  EXPECT_EQ(30, minute);
}

}  // namespace

namespace {

// A refused stream is not an error: the value goes whole, and so does every
// later long value of that connection.
TEST(Streams, RefusedStreamFallsBackForTheRestOfTheConnection) {
  JNIEnv* env = Jni();
  ASSERT_NE(nullptr, env);
  LocalFrame frame(64);
  jclass cls = kxtest::ProbeClass("kxprobe/RefusingStatement");
  ASSERT_NE(nullptr, cls);
  jmethodID create = env->GetStaticMethodID(cls, "create", "()Ljava/sql/PreparedStatement;");
  ASSERT_FALSE(env->ExceptionCheck());
  jobject ps = env->CallStaticObjectMethod(cls, create);
  ASSERT_FALSE(env->ExceptionCheck());
  Conn c;  // not connected: only its stream modes are used
  Stmt st(c);
  const std::string text(5000, 'x');
  const std::string bytes(3000, '\x01');
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(0, JC_PreparedStatement_setCharacterStream(&st.rec, ps, 1, text.data(), 5000, 1));
    EXPECT_EQ(0, JC_PreparedStatement_setBinaryStream(&st.rec, ps, 2, bytes.data(), 3000));
  }
  EXPECT_EQ(0, c.rec.asciiStreamMode);
  EXPECT_EQ(0, c.rec.binaryStreamMode);
  EXPECT_EQ(nullptr, st.rec.msgs.head) << st.Messages();
  jmethodID calls = env->GetStaticMethodID(cls, "calls", "(Ljava/sql/PreparedStatement;)Ljava/lang/String;");
  ASSERT_FALSE(env->ExceptionCheck());
  auto log = static_cast<jstring>(env->CallStaticObjectMethod(cls, calls, ps));
  ASSERT_FALSE(env->ExceptionCheck());
  char* c_log = JC_StringToC(env, log, JC_MODE_UTF8);
  EXPECT_STREQ(
      "refused setCharacterStream;setString(1,5000);refused setBinaryStream;setBytes(2,3000);"
      "setString(1,5000);setBytes(2,3000);",
      c_log);
  std::free(c_log);
}

}  // namespace
