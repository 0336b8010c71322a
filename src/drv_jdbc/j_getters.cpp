#include "drv_jdbc/j_getters.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_msg.h"
#include "drv_jdbc/j_wrap_util.h"
#include "util/errcodes.h"
#include "util/log.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// The getters of one interface, looked up once.
struct Getters {
  const char* traceName;
  JMethod getBoolean, getByte, getShort, getInt, getLong, getFloat, getDouble, getString,
      getBytes, getDate, getTime, getTimestamp, wasNull, getObjectAs;
};

#define KX_GETTERS(Iface, Trace)                                                  \
  Getters {                                                                       \
    Trace, {Iface, "getBoolean", "(I)Z"}, {Iface, "getByte", "(I)B"},             \
        {Iface, "getShort", "(I)S"}, {Iface, "getInt", "(I)I"},                   \
        {Iface, "getLong", "(I)J"}, {Iface, "getFloat", "(I)F"},                  \
        {Iface, "getDouble", "(I)D"}, {Iface, "getString", "(I)Ljava/lang/String;"}, \
        {Iface, "getBytes", "(I)[B"}, {Iface, "getDate", "(I)Ljava/sql/Date;"},   \
        {Iface, "getTime", "(I)Ljava/sql/Time;"},                                 \
        {Iface, "getTimestamp", "(I)Ljava/sql/Timestamp;"}, {Iface, "wasNull", "()Z"}, \
        {Iface, "getObject", "(ILjava/lang/Class;)Ljava/lang/Object;"}                \
  }

Getters gRs = KX_GETTERS("java/sql/ResultSet", "ResultSet");
Getters gCs = KX_GETTERS("java/sql/CallableStatement", "CallableStatement");
#undef KX_GETTERS

JMethod mRegisterOut{"java/sql/CallableStatement", "registerOutParameter", "(II)V"};
JMethod mCursorName{"java/sql/ResultSet", "getCursorName", "()Ljava/lang/String;"};
JMethod mRsMetaData{"java/sql/ResultSet", "getMetaData", "()Ljava/sql/ResultSetMetaData;"};
JMethod mRsClose{"java/sql/ResultSet", "close", "()V"};
JMethod mRsSetFetchSize{"java/sql/ResultSet", "setFetchSize", "(I)V"};
JMethod mRsNext{"java/sql/ResultSet", "next", "()Z"};

// The deprecated field accessors of java.util.Date give the fields in the
// VM's default time zone, the zone the value objects were made in.
JMethod mYear{"java/util/Date", "getYear", "()I"};
JMethod mMonth{"java/util/Date", "getMonth", "()I"};
JMethod mDay{"java/util/Date", "getDate", "()I"};
JMethod mHours{"java/util/Date", "getHours", "()I"};
JMethod mMinutes{"java/util/Date", "getMinutes", "()I"};
JMethod mSeconds{"java/util/Date", "getSeconds", "()I"};
JMethod mNanos{"java/sql/Timestamp", "getNanos", "()I"};

// Dates and timestamps are read as java.time values where the driver gives
// them: their fields are in the proleptic Gregorian calendar of ODBC and SQL,
// where java.util.Date switches to the Julian calendar before 1582 (year 1
// arrived two days off, BC years as AD).
JMethod mLocalYear{"java/time/LocalDate", "getYear", "()I"};
JMethod mLocalMonth{"java/time/LocalDate", "getMonthValue", "()I"};
JMethod mLocalDay{"java/time/LocalDate", "getDayOfMonth", "()I"};
JMethod mStampYear{"java/time/LocalDateTime", "getYear", "()I"};
JMethod mStampMonth{"java/time/LocalDateTime", "getMonthValue", "()I"};
JMethod mStampDay{"java/time/LocalDateTime", "getDayOfMonth", "()I"};
JMethod mStampHour{"java/time/LocalDateTime", "getHour", "()I"};
JMethod mStampMinute{"java/time/LocalDateTime", "getMinute", "()I"};
JMethod mStampSecond{"java/time/LocalDateTime", "getSecond", "()I"};
JMethod mStampNano{"java/time/LocalDateTime", "getNano", "()I"};
// A time's fraction of a second: java.time's nanoseconds, or the
// milliseconds java.sql.Time keeps.
JMethod mTimeHour{"java/time/LocalTime", "getHour", "()I"};
JMethod mTimeMinute{"java/time/LocalTime", "getMinute", "()I"};
JMethod mTimeSecond{"java/time/LocalTime", "getSecond", "()I"};
JMethod mTimeNano{"java/time/LocalTime", "getNano", "()I"};
JMethod mMillis{"java/util/Date", "getTime", "()J"};

int Check(JStmt* s) { return CheckException(s->jni, s->unicodeClient, &s->msgs); }

void NoMemory(JStmt* s) {
  LogAt(LOG_ERROR, __FILE__, __LINE__, "Memory allocation failure");
  JDB_MsgAddText(&s->msgs, "Memory allocation failure", KX_ERR_NOMEM);
}

// Value call of a getter returning an object; status of CheckException on failure.
int GetObject(JStmt* s, jobject obj, JMethod& m, int32_t index, jobject* out) {
  *out = nullptr;
  s->valuePresent = 0;
  if (JC_CallObject(s->jni, obj, m, out, static_cast<jint>(index)) != 0) return Check(s);
  // A getter answers null for SQL NULL and only then.
  s->valuePresent = *out != nullptr ? 1 : 0;
  return 0;
}

JMethod mPlatformBytes{"java/lang/String", "getBytes", "()[B"};

// Whether the VM's platform charset gives every ASCII character as its own
// single byte (UTF-8 and the 8-bit sets do; UTF-16 does not). Asked once, by
// encoding the 128 characters: 1 yes, 2 no.
std::atomic<int> gAsciiIsPlatform{0};

bool AsciiIsPlatform(JNIEnv* env) {
  int known = gAsciiIsPlatform.load(std::memory_order_acquire);
  if (known != 0) return known == 1;
  jchar all[128];
  for (int i = 0; i < 128; ++i) all[i] = static_cast<jchar>(i);
  bool same = false;
  jstring probe = env->NewString(all, 128);
  jobject bytes = nullptr;
  if (probe != nullptr && !env->ExceptionCheck() &&
      JC_CallObject(env, probe, mPlatformBytes, &bytes) == 0 && bytes != nullptr &&
      env->GetArrayLength(static_cast<jbyteArray>(bytes)) == 128) {
    jbyte got[128];
    env->GetByteArrayRegion(static_cast<jbyteArray>(bytes), 0, 128, got);
    same = !env->ExceptionCheck();
    for (int i = 0; same && i < 128; ++i) same = got[i] == i;
  }
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    same = false;
    if (bytes != nullptr) env->DeleteLocalRef(bytes);
    if (probe != nullptr) env->DeleteLocalRef(probe);
    return false;  // asked again next time
  }
  if (bytes != nullptr) env->DeleteLocalRef(bytes);
  if (probe != nullptr) env->DeleteLocalRef(probe);
  gAsciiIsPlatform.store(same ? 1 : 2, std::memory_order_release);
  return same;
}

// Narrow text of a String that is pure ASCII, straight from its characters
// (what the platform bytes would be, without making them). False: not ASCII
// or too long for the quick look; nothing written, nothing pending.
bool CopyAsciiFixed(JNIEnv* env, jstring str, char* buffer, int32_t capacity, int32_t* copied,
                    int32_t* full) {
  jchar units[256];
  const jsize n = env->GetStringLength(str);
  if (n > static_cast<jsize>(sizeof units / sizeof units[0]) || !AsciiIsPlatform(env)) return false;
  env->GetStringRegion(str, 0, n, units);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return false;
  }
  for (jsize i = 0; i < n; ++i) {
    if (units[i] >= 0x80) return false;
  }
  *full = n;
  *copied = 0;
  if (capacity > 0 && buffer != nullptr) {
    jsize m = n < capacity - 1 ? n : capacity - 1;
    // A NUL inside the text ends the copy: the caller sees C text.
    jsize i = 0;
    for (; i < m && units[i] != 0; ++i) buffer[i] = static_cast<char>(units[i]);
    buffer[i] = '\0';
    *copied = i;
  }
  return true;
}

int FixedText(JStmt* s, jobject obj, Getters& g, int32_t index, char* buffer, int32_t* length,
              int32_t capacity) {
  JW_Trace("%s.getString", g.traceName);
  jobject str = nullptr;
  if (int status = GetObject(s, obj, g.getString, index, &str); status != 0) return status;
  int32_t copied = 0, full = 0;
  if (str != nullptr &&
      CopyAsciiFixed(s->jni, static_cast<jstring>(str), buffer, capacity, &copied, &full)) {
    JW_Delete(s->jni, str);
    if (length != nullptr) *length = capacity > 0 ? copied : full;
    return 0;
  }
  // Narrow text always crosses as the VM's platform bytes.
  int status = JW_CopyFixed(s->jni, static_cast<jstring>(str), JC_MODE_PLATFORM, buffer,
                            capacity > 0 ? static_cast<size_t>(capacity) : 0, &copied, &full);
  JW_Delete(s->jni, str);
  if (status == 0 && length != nullptr) *length = capacity > 0 ? copied : full;
  return status;
}

int GrowText(JStmt* s, jobject obj, Getters& g, int32_t index, JGrowBuf* out, bool releaseFirst) {
  JW_Trace(releaseFirst ? "%s.getStringLong" : "%s.getString", g.traceName);
  jobject str = nullptr;
  if (int status = GetObject(s, obj, g.getString, index, &str); status != 0) return status;
  if (str == nullptr) {
    out->size = 0;
    return 0;
  }
  JStringHolder view;
  if (JC_GetStringChars(s->jni, static_cast<jstring>(str), &view, JC_MODE_PLATFORM) != 0) {
    JC_ClearException(s->jni);
    JW_Delete(s->jni, str);
    NoMemory(s);
    return KX_ERR_NOMEM;
  }
  if (releaseFirst && out->data != nullptr) {
    std::free(out->data);
    out->data = nullptr;
    out->size = 0;
  }
  void* block = std::calloc(static_cast<size_t>(view.length) + 1, 1);
  if (block == nullptr) {
    JC_ReleaseStringChars(s->jni, &view);
    JW_Delete(s->jni, str);
    NoMemory(s);
    return KX_ERR_NOMEM;
  }
  if (view.length > 0) std::memcpy(block, view.chars, static_cast<size_t>(view.length));
  out->data = block;
  out->size = static_cast<uint32_t>(view.length);
  JC_ReleaseStringChars(s->jni, &view);
  JW_Delete(s->jni, str);
  return 0;
}

int FixedWide(JStmt* s, jobject obj, Getters& g, int32_t index, char16_t* buffer, int32_t* count,
              int32_t capacity) {
  JW_Trace("%s.getString", g.traceName);
  jobject str = nullptr;
  if (int status = GetObject(s, obj, g.getString, index, &str); status != 0) return status;
  JNIEnv* env = s->jni;
  if (str == nullptr) {
    for (int32_t i = 0; i + 1 < capacity; ++i) buffer[i] = 0;
    if (count != nullptr) *count = 0;
    return 0;
  }
  jsize units = env->GetStringLength(static_cast<jstring>(str));
  if (capacity <= 0 || buffer == nullptr) {
    if (count != nullptr) *count = units;  // the caller asked for the length
    env->DeleteLocalRef(str);
    return 0;
  }
  jsize n = units < capacity - 1 ? units : capacity - 1;
  if (n > 0) {
    env->GetStringRegion(static_cast<jstring>(str), 0, n, reinterpret_cast<jchar*>(buffer));
    if (int status = Check(s); status != 0) {
      env->DeleteLocalRef(str);
      return status;
    }
    // A cut copy never ends in half a surrogate pair.
    if (n < units && buffer[n - 1] >= 0xD800 && buffer[n - 1] <= 0xDBFF) --n;
  }
  buffer[n] = 0;
  if (count != nullptr) *count = n;
  env->DeleteLocalRef(str);
  return 0;
}

int GrowWide(JStmt* s, jobject obj, Getters& g, int32_t index, JGrowBuf* out, bool releaseFirst) {
  JW_Trace(releaseFirst ? "%s.getStringLong" : "%s.getString", g.traceName);
  jobject str = nullptr;
  if (int status = GetObject(s, obj, g.getString, index, &str); status != 0) return status;
  if (str == nullptr) {
    out->size = 0;
    return 0;
  }
  JNIEnv* env = s->jni;
  if (releaseFirst && out->data != nullptr) {
    std::free(out->data);
    out->data = nullptr;
    out->size = 0;
  }
  jsize units = env->GetStringLength(static_cast<jstring>(str));
  auto* block = static_cast<char16_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(char16_t)));
  if (block == nullptr) {
    env->DeleteLocalRef(str);
    NoMemory(s);
    return KX_ERR_NOMEM;
  }
  env->GetStringRegion(static_cast<jstring>(str), 0, units, reinterpret_cast<jchar*>(block));
  if (int status = Check(s); status != 0) {
    std::free(block);
    env->DeleteLocalRef(str);
    return status;
  }
  out->data = block;
  out->size = static_cast<uint32_t>(units);
  env->DeleteLocalRef(str);
  return 0;
}

int FixedBytes(JStmt* s, jobject obj, Getters& g, int32_t index, void* buffer, int32_t* length,
               int32_t capacity) {
  JW_Trace("%s.getBytes", g.traceName);
  jobject array = nullptr;
  if (int status = GetObject(s, obj, g.getBytes, index, &array); status != 0) return status;
  JNIEnv* env = s->jni;
  jsize n = 0;
  if (array != nullptr) {
    jsize len = env->GetArrayLength(static_cast<jbyteArray>(array));
    n = len < capacity ? len : (capacity > 0 ? capacity : 0);
    if (n > 0) {
      env->GetByteArrayRegion(static_cast<jbyteArray>(array), 0, n, static_cast<jbyte*>(buffer));
      if (int status = Check(s); status != 0) {
        env->DeleteLocalRef(array);
        return status;
      }
    }
    env->DeleteLocalRef(array);
  }
  if (length != nullptr) *length = n;
  if (capacity > n) std::memset(static_cast<char*>(buffer) + n, 0, static_cast<size_t>(capacity - n));
  return 0;
}

int GrowBytes(JStmt* s, jobject obj, Getters& g, int32_t index, JGrowBuf* out, bool releaseFirst) {
  JW_Trace(releaseFirst ? "%s.getBytesLong" : "%s.getBytes", g.traceName);
  jobject array = nullptr;
  if (int status = GetObject(s, obj, g.getBytes, index, &array); status != 0) return status;
  if (array == nullptr) {
    out->size = 0;
    return 0;
  }
  JNIEnv* env = s->jni;
  jsize n = env->GetArrayLength(static_cast<jbyteArray>(array));
  if (releaseFirst && out->data != nullptr) {
    std::free(out->data);
    out->data = nullptr;
    out->size = 0;
  }
  void* block = std::calloc(n > 0 ? static_cast<size_t>(n) : 1, 1);
  if (block == nullptr) {
    env->DeleteLocalRef(array);
    NoMemory(s);
    return KX_ERR_NOMEM;
  }
  if (n > 0) {
    env->GetByteArrayRegion(static_cast<jbyteArray>(array), 0, n, static_cast<jbyte*>(block));
    if (int status = Check(s); status != 0) {
      std::free(block);
      out->data = nullptr;
      env->DeleteLocalRef(array);
      return status;
    }
  }
  out->data = block;
  out->size = static_cast<uint32_t>(n);
  env->DeleteLocalRef(array);
  return 0;
}

// Split date, time and timestamp: one accessor after the other; the first
// failure ends the chain with the fields before it written.
struct Field {
  JMethod* m;
  int kind;  // 0 year, 1 month, 2 plain 16-bit, 3 nanos
  void* out;
};

void PutField(const Field& f, jint v) {
  if (f.out == nullptr) return;
  switch (f.kind) {
    case 0: *static_cast<int16_t*>(f.out) = static_cast<int16_t>((v & 0xFFFF) + 1900); break;
    case 1: *static_cast<uint16_t*>(f.out) = static_cast<uint16_t>((v & 0xFFFF) + 1); break;
    case 2: *static_cast<uint16_t*>(f.out) = static_cast<uint16_t>(v & 0xFFFF); break;
    default: *static_cast<uint32_t*>(f.out) = static_cast<uint32_t>(v); break;
  }
}

JMethod mStampText{"java/sql/Timestamp", "toString", "()Ljava/lang/String;"};

// Digits of text[at, at + n) as a number; false when one is not a digit.
bool Digits(const char16_t* text, int at, int n, int64_t* out) {
  int64_t v = 0;
  for (int i = at; i < at + n; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
  }
  *out = v;
  return true;
}

// The seven fields of a java.sql.Timestamp from one call instead of seven:
// its toString is built from the very accessors the field-by-field path
// calls (same zone, same nanos), as "yyyy-mm-dd hh:mm:ss.f" with 1 to 9
// fraction digits. Only for that exact class (a subclass may print another
// way) and only for text of exactly that shape; false leaves the fields to
// the accessors, with nothing pending.
bool StampFromText(JStmt* s, jobject value, Field* fields, bool* overflow) {
  JNIEnv* env = s->jni;
  jclass stamp = mStampText.klass.load(std::memory_order_acquire);
  if (stamp == nullptr) stamp = JC_ClassOf(env, mStampText);
  if (stamp == nullptr) {
    env->ExceptionClear();
    return false;
  }
  jclass own = env->GetObjectClass(value);
  if (own == nullptr) return false;
  const bool exact = env->IsSameObject(own, stamp);
  env->DeleteLocalRef(own);
  if (!exact) return false;
  jobject text = nullptr;
  if (JC_CallObject(env, value, mStampText, &text) != 0 || text == nullptr) {
    env->ExceptionClear();
    if (text != nullptr) env->DeleteLocalRef(text);
    return false;
  }
  char16_t buf[40];
  const jsize len = env->GetStringLength(static_cast<jstring>(text));
  bool ok = len >= 21 && len <= static_cast<jsize>(sizeof buf / sizeof buf[0]);
  if (ok) {
    env->GetStringRegion(static_cast<jstring>(text), 0, len, reinterpret_cast<jchar*>(buf));
    ok = !env->ExceptionCheck();
    env->ExceptionClear();
  }
  env->DeleteLocalRef(text);
  if (!ok) return false;
  // The year takes four digits or more; the rest is fixed up to the fraction.
  int dash = 0;
  while (dash < len && buf[dash] != u'-') ++dash;
  if (dash < 4 || dash > 10 || len - dash < 17) return false;
  const char16_t* t = buf + dash;  // "-mm-dd hh:mm:ss.f..."
  if (t[3] != u'-' || t[6] != u' ' || t[9] != u':' || t[12] != u':' || t[15] != u'.') {
    return false;
  }
  const int fracDigits = static_cast<int>(len - dash - 16);
  if (fracDigits < 1 || fracDigits > 9) return false;
  int64_t year, month, day, hour, minute, second, frac;
  if (!Digits(buf, 0, dash, &year) || !Digits(t, 1, 2, &month) || !Digits(t, 4, 2, &day) ||
      !Digits(t, 7, 2, &hour) || !Digits(t, 10, 2, &minute) || !Digits(t, 13, 2, &second) ||
      !Digits(t, 16, fracDigits, &frac)) {
    return false;
  }
  for (int i = fracDigits; i < 9; ++i) frac *= 10;
  // The values the accessors would have answered (getYear counts from 1900,
  // getMonth from 0).
  const jint answers[7] = {static_cast<jint>(year - 1900), static_cast<jint>(month - 1),
                           static_cast<jint>(day),         static_cast<jint>(hour),
                           static_cast<jint>(minute),      static_cast<jint>(second),
                           static_cast<jint>(frac)};
  if (year < 1 || year > INT16_MAX) {
    *overflow = true;
    return true;
  }
  for (int i = 0; i < 7; ++i) PutField(fields[i], answers[i]);
  return true;
}

// The fields of a NULL value.
void ClearFields(Field* fields, int n) {
  for (int i = 0; i < n; ++i) {
    if (fields[i].out == nullptr) continue;
    if (fields[i].kind == 3) *static_cast<uint32_t*>(fields[i].out) = 0;
    else *static_cast<uint16_t*>(fields[i].out) = 0;
  }
}

// A getYear answer (years since 1900) whose year an ODBC date cannot hold:
// a BC year (java.util.Date gives 4713 BC as -4712), or one beyond 16 bits
// (PostgreSQL's 'infinity' arrives as year 292278994).
bool YearOverflows(jint sinceEpochYear) {
  const int64_t year = int64_t{sinceEpochYear} + 1900;
  return year < 1 || year > INT16_MAX;
}

int DateOverflow(JStmt* s) {
  JDB_MsgAddCode(&s->msgs, KX_ERR_DATE_OVERFLOW);
  return KX_ERR_DATE_OVERFLOW;
}

// Whether column index of the result set obj is read through java.util.Date:
// its driver refused a java.time value for it before (PostgreSQL's
// timestamptz). Remembered per result set, so that a refusal costs one
// exception, not one a value; the block reader keeps the same memory.
bool LegacyTemporal(JStmt* s, jobject obj, int32_t index) {
  if (s->legacyTemporalOf == nullptr || !s->jni->IsSameObject(s->legacyTemporalOf, obj)) {
    return false;
  }
  return index >= 1 && index <= 64 && (s->legacyTemporalCols & (uint64_t{1} << (index - 1))) != 0;
}

void MarkLegacyTemporal(JStmt* s, jobject obj, int32_t index) {
  if (index < 1 || index > 64) return;
  if (s->legacyTemporalOf == nullptr || !s->jni->IsSameObject(s->legacyTemporalOf, obj)) {
    if (s->legacyTemporalOf != nullptr) s->jni->DeleteWeakGlobalRef(s->legacyTemporalOf);
    s->legacyTemporalOf = s->jni->NewWeakGlobalRef(obj);
    s->legacyTemporalCols = 0;
    if (s->legacyTemporalOf == nullptr) {
      s->jni->ExceptionClear();
      return;
    }
  }
  s->legacyTemporalCols |= uint64_t{1} << (index - 1);
}

// A year (proleptic Gregorian) an ODBC date cannot hold: before year 1 (a
// BC date; the structure has no era) or beyond its 16 bits (PostgreSQL's
// 'infinity' arrives as year +999999999).
bool YearOutOfRange(int64_t year) { return year < 1 || year > INT16_MAX; }

// The java.time road of a date (n 3), a time with its fraction (n 4) or a
// timestamp (n 7): 1 when the driver cannot give the value that way (nothing
// pending, the caller takes the java.util.Date road), else the status with
// the fields written.
int SplitLocal(JStmt* s, jobject obj, Getters& g, int32_t index, Field* fields, int n) {
  JMethod* const dateParts[] = {&mLocalYear, &mLocalMonth, &mLocalDay};
  JMethod* const timeParts[] = {&mTimeHour, &mTimeMinute, &mTimeSecond, &mTimeNano};
  JMethod* const stampParts[] = {&mStampYear,   &mStampMonth,  &mStampDay, &mStampHour,
                                 &mStampMinute, &mStampSecond, &mStampNano};
  JMethod* const* parts = n == 3 ? dateParts : n == 4 ? timeParts : stampParts;
  const bool dated = n != 4;
  JNIEnv* env = s->jni;
  if (LegacyTemporal(s, obj, index)) return 1;
  jclass want = JC_ClassOf(env, *parts[0]);
  if (want == nullptr) {
    env->ExceptionClear();
    return 1;
  }
  jobject value = nullptr;
  s->valuePresent = 0;
  if (JC_CallObject(env, obj, g.getObjectAs, &value, static_cast<jint>(index), want) != 0) {
    // Refused (an older driver, or a type it does not convert): a real
    // failure comes back from the java.util.Date getter.
    env->ExceptionClear();
    if (value != nullptr) env->DeleteLocalRef(value);
    MarkLegacyTemporal(s, obj, index);
    return 1;
  }
  s->valuePresent = value != nullptr ? 1 : 0;
  if (value == nullptr) {
    ClearFields(fields, n);
    return 0;
  }
  int status = 0;
  for (int i = 0; i < n && status == 0; ++i) {
    jint v = 0;
    if (JC_CallInt(env, value, *parts[i], &v) != 0) {
      status = Check(s);
      if (status == 0) status = KX_ERR_GENERAL;
      break;
    }
    if (dated && i == 0 && YearOutOfRange(v)) {
      status = DateOverflow(s);
      break;
    }
    // In the accessors' terms: years from 1900, months from 0.
    if (dated && i == 0) v -= 1900;
    if (dated && i == 1) v -= 1;
    PutField(fields[i], v);
  }
  env->DeleteLocalRef(value);
  return status;
}

int Split(JStmt* s, jobject obj, JMethod& getter, int32_t index, const char* trace,
          Field* fields, int n, Getters* g = nullptr) {
  JW_Trace("%s", trace);
  if (g != nullptr) {
    if (int status = SplitLocal(s, obj, *g, index, fields, n); status != 1) return status;
  }
  jobject value = nullptr;
  if (int status = GetObject(s, obj, getter, index, &value); status != 0) return status;
  if (value == nullptr) {
    ClearFields(fields, n);
    return 0;
  }
  bool overflow = false;
  if (n == 7 && StampFromText(s, value, fields, &overflow)) {
    s->jni->DeleteLocalRef(value);
    return overflow ? DateOverflow(s) : 0;
  }
  int status = 0;
  for (int i = 0; i < n && status == 0; ++i) {
    jint v = 0;
    if (fields[i].m == &mMillis) {
      // The fraction java.sql.Time keeps: its milliseconds, as nanoseconds.
      jlong ms = 0;
      if (JC_CallLong(s->jni, value, mMillis, &ms) != 0) {
        status = Check(s);
        if (status == 0) status = KX_ERR_GENERAL;
        break;
      }
      if (fields[i].out != nullptr) *static_cast<uint32_t*>(fields[i].out) = static_cast<uint32_t>((ms % 1000 + 1000) % 1000) * 1000000u;
      continue;
    }
    if (JC_CallInt(s->jni, value, *fields[i].m, &v) != 0) {
      status = Check(s);
      if (status == 0) status = KX_ERR_GENERAL;
      break;
    }
    if (fields[i].kind == 0 && YearOverflows(v)) {
      status = DateOverflow(s);
      break;
    }
    if (fields[i].out == nullptr) continue;
    switch (fields[i].kind) {
      case 0: *static_cast<int16_t*>(fields[i].out) = static_cast<int16_t>((v & 0xFFFF) + 1900); break;
      case 1: *static_cast<uint16_t*>(fields[i].out) = static_cast<uint16_t>((v & 0xFFFF) + 1); break;
      case 2: *static_cast<uint16_t*>(fields[i].out) = static_cast<uint16_t>(v & 0xFFFF); break;
      default: *static_cast<uint32_t*>(fields[i].out) = static_cast<uint32_t>(v); break;
    }
  }
  s->jni->DeleteLocalRef(value);
  return status;
}

char gTrace[2][3][40] = {{"ResultSet.getDate", "ResultSet.getTime", "ResultSet.getTimestamp"},
                         {"CallableStatement.getDate", "CallableStatement.getTime",
                          "CallableStatement.getTimestamp"}};

int GetDate(JStmt* s, jobject obj, Getters& g, int which, int32_t index, int16_t* y, uint16_t* m,
            uint16_t* d) {
  Field f[] = {{&mYear, 0, y}, {&mMonth, 1, m}, {&mDay, 2, d}};
  return Split(s, obj, g.getDate, index, gTrace[which][0], f, 3, &g);
}
// With frac, the time's fraction too, through java.time where the driver
// gives it; without, the seconds alone, as java.sql.Time gives them.
int GetTime(JStmt* s, jobject obj, Getters& g, int which, int32_t index, uint16_t* h,
            uint16_t* mi, uint16_t* sec, uint32_t* frac) {
  Field f[] = {{&mHours, 2, h}, {&mMinutes, 2, mi}, {&mSeconds, 2, sec}, {&mMillis, 3, frac}};
  return Split(s, obj, g.getTime, index, gTrace[which][1], f, frac != nullptr ? 4 : 3,
               frac != nullptr ? &g : nullptr);
}
int GetTimestamp(JStmt* s, jobject obj, Getters& g, int which, int32_t index, int16_t* y,
                 uint16_t* mo, uint16_t* d, uint16_t* h, uint16_t* mi, uint16_t* sec,
                 uint32_t* frac) {
  Field f[] = {{&mYear, 0, y},    {&mMonth, 1, mo},   {&mDay, 2, d},     {&mHours, 2, h},
               {&mMinutes, 2, mi}, {&mSeconds, 2, sec}, {&mNanos, 3, frac}};
  return Split(s, obj, g.getTimestamp, index, gTrace[which][2], f, 7, &g);
}

}  // namespace

// ---- scalars -----------------------------------------------------------------------

#define KX_SCALAR(Prefix, G, Name, CType, JType, Call, Convert)                        \
  int JC_##Prefix##_##Name(JStmt* s, jobject obj, int32_t index, CType* out) {         \
    JW_Trace("%s." #Name, G.traceName);                                              \
    JType v{};                                                                        \
    if (Call(s->jni, obj, G.Name, &v, static_cast<jint>(index)) != 0) return Check(s); \
    if (out != nullptr) *out = Convert;                                               \
    return 0;                                                                         \
  }
#define KX_SCALARS(Prefix, G)                                                         \
  KX_SCALAR(Prefix, G, getBoolean, uint8_t, jboolean, JC_CallBoolean, static_cast<uint8_t>(v ? 1 : 0)) \
  KX_SCALAR(Prefix, G, getByte, int8_t, jbyte, JC_CallByte, static_cast<int8_t>(v))   \
  KX_SCALAR(Prefix, G, getShort, int16_t, jshort, JC_CallShort, static_cast<int16_t>(v)) \
  KX_SCALAR(Prefix, G, getInt, int32_t, jint, JC_CallInt, static_cast<int32_t>(v))    \
  KX_SCALAR(Prefix, G, getFloat, float, jfloat, JC_CallFloat, static_cast<float>(v))  \
  KX_SCALAR(Prefix, G, getDouble, double, jdouble, JC_CallDouble, static_cast<double>(v))
KX_SCALARS(ResultSet, gRs)
KX_SCALARS(CallableStatement, gCs)
KX_SCALAR(CallableStatement, gCs, getLong, int64_t, jlong, JC_CallLong, static_cast<int64_t>(v))
#undef KX_SCALARS
#undef KX_SCALAR

// ---- text, binary, date and time -----------------------------------------------------

#define KX_SHAPES(Prefix, G, Which, ReleaseFirst)                                     \
  int JC_##Prefix##_getString(JStmt* s, jobject o, int32_t i, char* b, int32_t* l,          \
                              int32_t c) {                                                 \
    return FixedText(s, o, G, i, b, l, c);                                                 \
  }                                                                                        \
  int JC_##Prefix##_getStringLong(JStmt* s, jobject o, int32_t i, JGrowBuf* out) {          \
    return GrowText(s, o, G, i, out, ReleaseFirst);                                        \
  }                                                                                        \
  int JC_##Prefix##_getStringW(JStmt* s, jobject o, int32_t i, char16_t* b, int32_t* n,     \
                               int32_t c) {                                                \
    return FixedWide(s, o, G, i, b, n, c);                                                 \
  }                                                                                        \
  int JC_##Prefix##_getStringLongW(JStmt* s, jobject o, int32_t i, JGrowBuf* out) {         \
    return GrowWide(s, o, G, i, out, ReleaseFirst);                                        \
  }                                                                                        \
  int JC_##Prefix##_getBytes(JStmt* s, jobject o, int32_t i, void* b, int32_t* l,           \
                             int32_t c) {                                                  \
    return FixedBytes(s, o, G, i, b, l, c);                                                \
  }                                                                                        \
  int JC_##Prefix##_getBytesLong(JStmt* s, jobject o, int32_t i, JGrowBuf* out) {           \
    return GrowBytes(s, o, G, i, out, ReleaseFirst);                                       \
  }                                                                                        \
  int JC_##Prefix##_getDate(JStmt* s, jobject o, int32_t i, int16_t* y, uint16_t* m,        \
                            uint16_t* d) {                                                 \
    return GetDate(s, o, G, Which, i, y, m, d);                                            \
  }                                                                                        \
  int JC_##Prefix##_getTime(JStmt* s, jobject o, int32_t i, uint16_t* h, uint16_t* mi,      \
                            uint16_t* sec, uint32_t* f) {                                  \
    return GetTime(s, o, G, Which, i, h, mi, sec, f);                                      \
  }                                                                                        \
  int JC_##Prefix##_getTimestamp(JStmt* s, jobject o, int32_t i, int16_t* y, uint16_t* mo,  \
                                 uint16_t* d, uint16_t* h, uint16_t* mi, uint16_t* sec,      \
                                 uint32_t* f) {                                            \
    return GetTimestamp(s, o, G, Which, i, y, mo, d, h, mi, sec, f);                       \
  }                                                                                        \
  int JC_##Prefix##_wasNull(JStmt* s, jobject o, uint8_t* out) {                            \
    JW_Trace("%s.wasNull", G.traceName);                                                   \
    jboolean v = JNI_FALSE;                                                                \
    if (JC_CallBoolean(s->jni, o, G.wasNull, &v) != 0) return Check(s);                    \
    if (out != nullptr) *out = v ? 1 : 0;                                                  \
    return 0;                                                                              \
  }
KX_SHAPES(ResultSet, gRs, 0, false)
KX_SHAPES(CallableStatement, gCs, 1, true)
#undef KX_SHAPES

namespace {
JMethod mCsGetBigDecimal{"java/sql/CallableStatement", "getBigDecimal", "(I)Ljava/math/BigDecimal;"};
JMethod mToPlainString{"java/math/BigDecimal", "toPlainString", "()Ljava/lang/String;"};
}  // namespace

int JC_CallableStatement_getDecimalText(JStmt* s, jobject cs, int32_t index, std::string* out, bool* isNull) {
  JW_Trace("CallableStatement.getBigDecimal");
  out->clear();
  *isNull = true;
  jobject dec = nullptr;
  if (int status = GetObject(s, cs, mCsGetBigDecimal, index, &dec); status != 0) return status;
  if (dec == nullptr) return 0;
  jobject str = nullptr;
  const int rc = JC_CallObject(s->jni, dec, mToPlainString, &str);
  JW_Delete(s->jni, dec);
  if (rc != 0) return Check(s);
  if (str == nullptr) return 0;
  JNIEnv* env = s->jni;
  const jsize n = env->GetStringLength(static_cast<jstring>(str));
  int status = 0;
  try {
    std::u16string units(static_cast<size_t>(n), u'\0');
    env->GetStringRegion(static_cast<jstring>(str), 0, n, reinterpret_cast<jchar*>(units.data()));
    status = Check(s);
    // A number's plain text is ASCII: digits, a sign, a point.
    for (size_t i = 0; status == 0 && i < units.size(); ++i) *out += static_cast<char>(units[i] & 0x7F);
    if (status == 0) *isNull = false;
  } catch (const std::bad_alloc&) {
    NoMemory(s);
    status = KX_ERR_NOMEM;
  }
  JW_Delete(env, str);
  return status;
}

int JC_CallableStatement_registerOutParameter(JStmt* s, jobject cs, int32_t index,
                                              int32_t jdbcType) {
  JW_Trace("CallableStatement.registerOutParameter()");
  if (JC_CallVoid(s->jni, cs, mRegisterOut, static_cast<jint>(index),
                  static_cast<jint>(jdbcType)) != 0) {
    return Check(s);
  }
  return 0;
}

int JC_ResultSet_getCursorName(JStmt* s, jobject rs, char* buffer, uint32_t capacity,
                               uint16_t* length) {
  JW_Trace("ResultSet.getCursorName");
  jobject str = nullptr;
  if (JC_CallObject(s->jni, rs, mCursorName, &str) != 0) return Check(s);
  char* text = str != nullptr ? JC_StringToC(s->jni, static_cast<jstring>(str), s->unicodeClient)
                              : static_cast<char*>(std::calloc(1, 1));
  JC_ClearException(s->jni);
  JW_Delete(s->jni, str);
  // A name that does not fit comes back cut on a character boundary, with 19.
  uint16_t copied = 0;
  int rc = StrCopyOut(text, buffer, static_cast<uint16_t>(capacity & 0xFFFF), &copied);
  std::free(text);
  if (length != nullptr) *length = copied;
  return rc == 0 ? 0 : 19;
}

int JC_ResultSet_getMetaData(JStmt* s, jobject rs, jobject* out) {
  JW_Trace("ResultSet.getMetaData");
  if (JC_CallObject(s->jni, rs, mRsMetaData, out) != 0) return Check(s);
  return 0;
}

int JC_ResultSet_close(JStmt* s, jobject rs) {
  JW_Trace("ResultSet.close");
  if (JC_CallVoid(s->jni, rs, mRsClose) != 0) return Check(s);
  return 0;
}

void JC_ResultSet_setFetchSize(JStmt* s, jobject rs, int32_t rows) {
  JW_Trace("ResultSet.setFetchSize(%d)", rows);
  if (JC_CallVoid(s->jni, rs, mRsSetFetchSize, static_cast<jint>(rows)) != 0) JC_ClearException(s->jni);
}

int JC_ResultSet_next(JStmt* s, jobject rs, uint8_t* out) {
  JW_Trace("ResultSet.next");
  jboolean v = JNI_FALSE;
  if (JC_CallBoolean(s->jni, rs, mRsNext, &v) != 0) return Check(s);
  if (out != nullptr) *out = v ? 1 : 0;
  return 0;
}

}  // namespace kx
