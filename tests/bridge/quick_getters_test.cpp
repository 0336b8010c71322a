// Getters with a quick road must answer exactly what the plain road gives.
// The timestamp getter reads java.time's LocalDateTime where the driver
// gives it: its fields are proleptic Gregorian, whatever the value
// (fractions, early and late years, the calendar switch, NULL), and a year an
// ODBC timestamp cannot hold (before Christ, beyond 16 bits) is refused with
// 22008. A column the driver cannot give that way (PostgreSQL's timestamptz)
// takes the java.sql.Timestamp road, which reads the fields in one call where
// it can: they must be the very ones the Date accessors give, called one by
// one on the same value. The narrow text getter copies ASCII text without
// making the platform bytes; any text, cut or whole, must come out as those
// bytes would.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bridge_support.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_msg.h"

using namespace kx;
using kxtest::Conn;
using kxtest::Jni;
using kxtest::LocalFrame;
using kxtest::Stmt;

namespace {

enum Backend { kH2, kPg };

struct Fields {
  int16_t y = 0;
  uint16_t mo = 0, d = 0, h = 0, mi = 0, s = 0;
  uint32_t f = 0;
  bool operator==(const Fields&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Fields& v) {
  return os << v.y << '-' << v.mo << '-' << v.d << ' ' << v.h << ':' << v.mi << ':' << v.s << '.'
            << v.f;
}

// The accessor-by-accessor answer, straight through JNI.
bool Reference(jobject rs, int col, Fields* out, bool* isNull) {
  JNIEnv* env = Jni();
  jclass rsClass = env->FindClass("java/sql/ResultSet");
  jclass date = env->FindClass("java/util/Date");
  jclass stamp = env->FindClass("java/sql/Timestamp");
  if (rsClass == nullptr || date == nullptr || stamp == nullptr) return false;
  jmethodID get = env->GetMethodID(rsClass, "getTimestamp", "(I)Ljava/sql/Timestamp;");
  jobject v = env->CallObjectMethod(rs, get, col);
  if (env->ExceptionCheck()) return false;
  *isNull = v == nullptr;
  if (v != nullptr) {
    auto call = [&](jclass c, const char* name) {
      return env->CallIntMethod(v, env->GetMethodID(c, name, "()I"));
    };
    out->y = static_cast<int16_t>((call(date, "getYear") & 0xFFFF) + 1900);
    out->mo = static_cast<uint16_t>((call(date, "getMonth") & 0xFFFF) + 1);
    out->d = static_cast<uint16_t>(call(date, "getDate") & 0xFFFF);
    out->h = static_cast<uint16_t>(call(date, "getHours") & 0xFFFF);
    out->mi = static_cast<uint16_t>(call(date, "getMinutes") & 0xFFFF);
    out->s = static_cast<uint16_t>(call(date, "getSeconds") & 0xFFFF);
    out->f = static_cast<uint32_t>(call(stamp, "getNanos"));
    env->DeleteLocalRef(v);
  }
  env->DeleteLocalRef(rsClass);
  env->DeleteLocalRef(date);
  env->DeleteLocalRef(stamp);
  return !env->ExceptionCheck();
}

// The proleptic Gregorian answer: LocalDateTime's fields, straight through
// JNI; *inRange false for a year an ODBC timestamp cannot hold.
bool ReferenceLocal(jobject rs, int col, Fields* out, bool* isNull, bool* inRange) {
  JNIEnv* env = Jni();
  jclass rsClass = env->FindClass("java/sql/ResultSet");
  jclass local = env->FindClass("java/time/LocalDateTime");
  if (rsClass == nullptr || local == nullptr) return false;
  jmethodID get = env->GetMethodID(rsClass, "getObject", "(ILjava/lang/Class;)Ljava/lang/Object;");
  jobject v = env->CallObjectMethod(rs, get, col, local);
  if (env->ExceptionCheck()) return false;
  *isNull = v == nullptr;
  *inRange = true;
  if (v != nullptr) {
    auto call = [&](const char* name) { return env->CallIntMethod(v, env->GetMethodID(local, name, "()I")); };
    const jint year = call("getYear");
    *inRange = year >= 1 && year <= 32767;
    out->y = static_cast<int16_t>(year);
    out->mo = static_cast<uint16_t>(call("getMonthValue"));
    out->d = static_cast<uint16_t>(call("getDayOfMonth"));
    out->h = static_cast<uint16_t>(call("getHour"));
    out->mi = static_cast<uint16_t>(call("getMinute"));
    out->s = static_cast<uint16_t>(call("getSecond"));
    out->f = static_cast<uint32_t>(call("getNano"));
    env->DeleteLocalRef(v);
  }
  env->DeleteLocalRef(rsClass);
  env->DeleteLocalRef(local);
  return !env->ExceptionCheck();
}

class QuickGetters : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Jni());
    if (GetParam() == kH2) {
      ASSERT_EQ(0, conn_.Open(kxtest::H2Props(kxtest::Unique("stamp")))) << conn_.Messages();
    } else {
      std::string props, user, password;
      ASSERT_TRUE(kxtest::PgProps(&props, &user, &password));
      ASSERT_EQ(0, conn_.Open(props, user.c_str(), password.c_str())) << conn_.Messages();
    }
    table_ = kxtest::Unique("kx_stamps");
    conn_.Exec("CREATE TABLE " + table_ + " (id INT, ts TIMESTAMP(" +
               (GetParam() == kH2 ? "9" : "6") + "), tz TIMESTAMP(" +
               (GetParam() == kH2 ? "9" : "6") + ") WITH TIME ZONE)");
  }
  void TearDown() override {
    if (conn_.conn() != nullptr && !table_.empty()) conn_.Exec("DROP TABLE " + table_);
  }

  Conn conn_;
  std::string table_;
};

TEST_P(QuickGetters, FieldsAreProlepticGregorianOrTheDateAccessorsForEveryValue) {
  LocalFrame frame(64);
  const bool h2 = GetParam() == kH2;
  std::vector<std::string> values = {
      "2024-01-01 00:00:00",        "2024-02-29 23:59:59.999999", "1999-12-31 23:59:58.5",
      "2001-02-03 04:05:06.000001", "2001-02-03 04:05:06.1",      "1900-01-01 00:00:00",
      "1970-01-01 00:00:00.010203", "0999-06-07 08:09:10.25",     "0001-01-01 00:00:00",
      "1582-10-10 12:00:00",        "1582-10-04 12:00:00",        "9999-12-31 23:59:59.999999"};
  if (h2) {
    values.push_back("2001-02-03 04:05:06.123456789");
    values.push_back("2001-02-03 04:05:06.000000001");
  }
  int id = 0;
  for (const std::string& v : values) {
    conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) + ", TIMESTAMP '" +
               v + "')");
  }
  // Past year 9999 and before Christ each database spells its own way.
  if (h2) {
    conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) +
               ", TIMESTAMP '12345-06-07 08:09:10.5')");
    conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) +
               ", TIMESTAMP '-0044-03-15 12:00:00')");
  } else {
    conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) +
               ", TIMESTAMP '12345-06-07 08:09:10.5')");
    conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) +
               ", TIMESTAMP '0044-03-15 12:00:00 BC')");
  }
  conn_.Exec("INSERT INTO " + table_ + " (id, ts) VALUES (" + std::to_string(++id) + ", NULL)");
  conn_.Exec("UPDATE " + table_ + " SET tz = ts");

  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT id, ts, tz FROM " + table_ + " ORDER BY id"));
  jobject rs = sel.ExecuteQuery();
  ASSERT_NE(nullptr, rs);
  int rows = 0;
  uint8_t more = 0;
  while (JC_ResultSet_next(&sel.rec, rs, &more) == 0 && more != 0) {
    ++rows;
    SCOPED_TRACE(rows);
    Fields want, got;
    bool wantNull = false, inRange = true;
    ASSERT_TRUE(ReferenceLocal(rs, 2, &want, &wantNull, &inRange));
    got.y = 77;  // a NULL clears every field
    const int status = JC_ResultSet_getTimestamp(&sel.rec, rs, 2, &got.y, &got.mo, &got.d,
                                                 &got.h, &got.mi, &got.s, &got.f);
    if (!inRange) {
      EXPECT_EQ(60, status) << want;  // 22008
      JDB_MsgFreeList(&sel.rec.msgs);
    } else {
      ASSERT_EQ(0, status) << sel.Messages();
      uint8_t isNull = 0;
      ASSERT_EQ(0, JC_ResultSet_wasNull(&sel.rec, rs, &isNull));
      EXPECT_EQ(wantNull, isNull != 0);
      EXPECT_EQ(want, got);
    }
    if (h2) continue;
    // PostgreSQL gives timestamptz only as java.sql.Timestamp.
    want = Fields{};
    ASSERT_TRUE(Reference(rs, 3, &want, &wantNull));
    got = Fields{};
    got.y = 77;
    const int tzStatus = JC_ResultSet_getTimestamp(&sel.rec, rs, 3, &got.y, &got.mo, &got.d,
                                                   &got.h, &got.mi, &got.s, &got.f);
    if (!wantNull && want.y < 1) {
      EXPECT_EQ(60, tzStatus);
      JDB_MsgFreeList(&sel.rec.msgs);
      continue;
    }
    ASSERT_EQ(0, tzStatus) << sel.Messages();
    EXPECT_EQ(want, got);
    EXPECT_FALSE(Jni()->ExceptionCheck());
  }
  EXPECT_EQ(id, rows);
  ASSERT_FALSE(Jni()->ExceptionCheck());
}

// The platform bytes of column col, straight through JNI, as a narrow
// getter with room for capacity bytes hands them over.
bool ReferenceText(jobject rs, int col, int32_t capacity, std::string* text, int32_t* length,
                   bool* isNull) {
  JNIEnv* env = Jni();
  jclass rsClass = env->FindClass("java/sql/ResultSet");
  jclass strClass = env->FindClass("java/lang/String");
  if (rsClass == nullptr || strClass == nullptr) return false;
  jobject v = env->CallObjectMethod(
      rs, env->GetMethodID(rsClass, "getString", "(I)Ljava/lang/String;"), col);
  if (env->ExceptionCheck()) return false;
  *isNull = v == nullptr;
  std::string all;
  if (v != nullptr) {
    auto bytes = static_cast<jbyteArray>(
        env->CallObjectMethod(v, env->GetMethodID(strClass, "getBytes", "()[B")));
    all.resize(static_cast<size_t>(env->GetArrayLength(bytes)));
    env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(all.size()),
                            reinterpret_cast<jbyte*>(all.data()));
    env->DeleteLocalRef(bytes);
    env->DeleteLocalRef(v);
  }
  size_t n = capacity > 0 ? std::min(all.size(), static_cast<size_t>(capacity - 1)) : 0;
  n = std::min(n, all.find('\0') == std::string::npos ? n : all.find('\0'));
  *text = all.substr(0, n);
  *length = capacity > 0 ? static_cast<int32_t>(n) : static_cast<int32_t>(all.size());
  env->DeleteLocalRef(rsClass);
  env->DeleteLocalRef(strClass);
  return !env->ExceptionCheck();
}

TEST_P(QuickGetters, NarrowTextMatchesThePlatformBytes) {
  LocalFrame frame(64);
  conn_.Exec("CREATE TABLE " + table_ + "_t (id INT, txt VARCHAR(1000))");
  const std::vector<std::string> values = {
      "", "a", "row number 12345", "12345.67", "caf\xC3\xA9", "\xE2\x82\xAC 5",
      "a\xF0\x9F\x98\x80z", std::string(255, 'x'), std::string(256, 'y'),
      std::string(257, 'z'), std::string(300, 'q') + "\xC3\xA9", "tab\there\nnew line ~\x7F"};
  int id = 0;
  for (const std::string& v : values) {
    std::string quoted;
    for (char c : v) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    conn_.Exec("INSERT INTO " + table_ + "_t VALUES (" + std::to_string(++id) + ", '" + quoted +
               "')");
  }
  conn_.Exec("INSERT INTO " + table_ + "_t VALUES (" + std::to_string(++id) + ", NULL)");
  Stmt sel(conn_);
  ASSERT_EQ(0, sel.Prepare("SELECT id, txt FROM " + table_ + "_t ORDER BY id"));
  jobject rs = sel.ExecuteQuery();
  ASSERT_NE(nullptr, rs);
  int rows = 0;
  uint8_t more = 0;
  while (JC_ResultSet_next(&sel.rec, rs, &more) == 0 && more != 0) {
    ++rows;
    for (int32_t capacity : {0, 1, 2, 5, 41, 256, 257, 1200}) {
      SCOPED_TRACE(::testing::Message() << "row " << rows << " capacity " << capacity);
      std::string want;
      int32_t wantLength = -1;
      bool wantNull = false;
      ASSERT_TRUE(ReferenceText(rs, 2, capacity, &want, &wantLength, &wantNull));
      std::vector<char> buf(static_cast<size_t>(capacity) + 1, '#');
      int32_t length = -1;
      ASSERT_EQ(0, JC_ResultSet_getString(&sel.rec, rs, 2, buf.data(), &length, capacity));
      EXPECT_EQ(wantLength, length);
      if (capacity > 0) {
        EXPECT_EQ(want, std::string(buf.data()));
      }
      uint8_t isNull = 0;
      ASSERT_EQ(0, JC_ResultSet_wasNull(&sel.rec, rs, &isNull));
      EXPECT_EQ(wantNull, isNull != 0);
    }
  }
  EXPECT_EQ(id, rows);
  conn_.Exec("DROP TABLE " + table_ + "_t");
  ASSERT_FALSE(Jni()->ExceptionCheck());
}

INSTANTIATE_TEST_SUITE_P(Db, QuickGetters, ::testing::Values(kH2, kPg),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return info.param == kH2 ? "H2" : "PostgreSQL";
                         });

}  // namespace
