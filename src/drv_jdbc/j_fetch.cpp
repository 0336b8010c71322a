#include "drv_jdbc/j_fetch.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "agent/build_flavor.h"
#include "drv_jdbc/j_agent.h"
#include "drv_jdbc/j_catalog.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_exec.h"
#include "drv_jdbc/j_getters.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_params.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "drv_jdbc/j_stream.h"
#include "drv_jdbc/j_typelist.h"
#include "drv_jdbc/j_typemap.h"
#include "util/text_conv.h"
#include "drv_jdbc/j_wrap_util.h"
#include "drv_jdbc/text/j_row_block.h"
#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

// A column described as a long type: its values are read whole, one row of
// them per round trip.
bool DescribedLong(int16_t sqlType) {
  return sqlType == SQL_LONGVARCHAR || sqlType == SQL_LONGVARBINARY || sqlType == SQL_WLONGVARCHAR;
}

// The getters of one source of values: a ResultSet column or a
// CallableStatement output parameter.
struct Source {
  int (*getString)(JStmt*, jobject, int32_t, char*, int32_t*, int32_t);
  int (*getStringLong)(JStmt*, jobject, int32_t, JGrowBuf*);
  int (*getStringW)(JStmt*, jobject, int32_t, char16_t*, int32_t*, int32_t);
  int (*getStringLongW)(JStmt*, jobject, int32_t, JGrowBuf*);
  int (*getBytes)(JStmt*, jobject, int32_t, void*, int32_t*, int32_t);
  int (*getBytesLong)(JStmt*, jobject, int32_t, JGrowBuf*);
  int (*getBoolean)(JStmt*, jobject, int32_t, uint8_t*);
  int (*getByte)(JStmt*, jobject, int32_t, int8_t*);
  int (*getShort)(JStmt*, jobject, int32_t, int16_t*);
  int (*getInt)(JStmt*, jobject, int32_t, int32_t*);
  int (*getLong)(JStmt*, jobject, int32_t, int64_t*);  // null: not offered
  int (*getFloat)(JStmt*, jobject, int32_t, float*);
  int (*getDouble)(JStmt*, jobject, int32_t, double*);
  int (*getDate)(JStmt*, jobject, int32_t, int16_t*, uint16_t*, uint16_t*);
  int (*getTime)(JStmt*, jobject, int32_t, uint16_t*, uint16_t*, uint16_t*, uint32_t*);
  int (*getTimestamp)(JStmt*, jobject, int32_t, int16_t*, uint16_t*, uint16_t*, uint16_t*,
                      uint16_t*, uint16_t*, uint32_t*);
  int (*wasNull)(JStmt*, jobject, uint8_t*);
};

const Source kResultSet = {
    JC_ResultSet_getString,  JC_ResultSet_getStringLong,  JC_ResultSet_getStringW,
    JC_ResultSet_getStringLongW, JC_ResultSet_getBytes,   JC_ResultSet_getBytesLong,
    JC_ResultSet_getBoolean, JC_ResultSet_getByte,        JC_ResultSet_getShort,
    JC_ResultSet_getInt,     nullptr,                     JC_ResultSet_getFloat,
    JC_ResultSet_getDouble,  JC_ResultSet_getDate,        JC_ResultSet_getTime,
    JC_ResultSet_getTimestamp, JC_ResultSet_wasNull};

const Source kCallable = {
    JC_CallableStatement_getString,   JC_CallableStatement_getStringLong,
    JC_CallableStatement_getStringW,  JC_CallableStatement_getStringLongW,
    JC_CallableStatement_getBytes,    JC_CallableStatement_getBytesLong,
    JC_CallableStatement_getBoolean,  JC_CallableStatement_getByte,
    JC_CallableStatement_getShort,    JC_CallableStatement_getInt,
    JC_CallableStatement_getLong,     JC_CallableStatement_getFloat,
    JC_CallableStatement_getDouble,   JC_CallableStatement_getDate,
    JC_CallableStatement_getTime,     JC_CallableStatement_getTimestamp,
    JC_CallableStatement_wasNull};

template <typename T>
void Put(unsigned char* element, T value) {
  std::memcpy(element, &value, sizeof value);
}

void PutPtr(unsigned char* element, const JGrowBuf& buf) {
  RB_SetPtrValue(element, RBPtrValue{buf.size, buf.data});
}

void PutLength(unsigned char* e, uint32_t head, uint32_t n) {
  if (head == 1) Put(e, static_cast<uint8_t>(n));
  else if (head == 2) Put(e, static_cast<uint16_t>(n));
  else if (head == 4) Put(e, n);
}

uint32_t Load16(const unsigned char* e) {
  uint16_t v;
  std::memcpy(&v, e, 2);
  return v;
}
uint32_t Load32(const unsigned char* e) {
  uint32_t v;
  std::memcpy(&v, e, 4);
  return v;
}

// Whether result column c (0-based) is of a decimal type.
bool IsDecimalJdbcType(const JStmt* s, int c) {
  const int16_t t = s->colJdbcTypes != nullptr && c < s->colCount ? s->colJdbcTypes[c] : 0;
  return t == JT_NUMERIC || t == JT_DECIMAL;
}

// ASCII text as the value of a long text element (narrow or wide), the
// block it held before released.
int PutPtrAscii(const RowBufferColumn* col, unsigned char* e, const std::string& text) {
  const size_t unit = col->type == RBT_WCHAR_PTR ? 2 : 1;
  auto* block = static_cast<unsigned char*>(std::malloc((text.size() + 1) * unit));
  if (block == nullptr) return KX_ERR_NOMEM;
  for (size_t k = 0; k <= text.size(); ++k) {
    const char16_t u = k < text.size() ? static_cast<char16_t>(text[k]) : 0;
    if (unit == 2) {
      std::memcpy(block + 2 * k, &u, 2);
    } else {
      block[k] = static_cast<unsigned char>(u);
    }
  }
  std::free(RB_GetPtrValue(e).block);
  RB_SetPtrValue(e, RBPtrValue{static_cast<uint32_t>(text.size()), block});
  return 0;
}

// The text of a decimal value just read into row r, written out without an
// exponent (PostgreSQL's driver gives one once it transfers a prepared
// statement's numbers in binary). Cut to the element as any text is.
int PlainDecimalElement(RowBufferColumn* col, int32_t r) {
  if (col->indicators[r] == RB_IND_NULL) return 0;
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  const uint32_t w = col->width;
  const uint32_t head = RB_LengthPrefixBytes(col->type);
  std::string text;
  switch (col->type) {
    case RBT_CHAR: case RBT_CHAR_NTS:
      text.assign(reinterpret_cast<const char*>(e), strnlen(reinterpret_cast<const char*>(e), w));
      break;
    case RBT_CHAR_LEN1: case RBT_CHAR_LEN2: case RBT_CHAR_LEN4: {
      uint32_t n = head == 1 ? e[0] : head == 2 ? Load16(e) : Load32(e);
      text.assign(reinterpret_cast<const char*>(e + head), std::min(n, w - head));
      break;
    }
    case RBT_WCHAR: case RBT_WCHAR_NTS: case RBT_WCHAR_LEN4: {
      const uint32_t room = (w - head) / 2;
      const uint32_t n = col->type == RBT_WCHAR_LEN4 ? std::min(Load32(e), room) : room;
      for (uint32_t k = 0; k < n; ++k) {
        char16_t u;
        std::memcpy(&u, e + head + 2 * k, 2);
        if (u == 0 && col->type != RBT_WCHAR_LEN4) break;
        if (u > 0x7F) return 0;  // not a number's text
        text += static_cast<char>(u);
      }
      break;
    }
    case RBT_CHAR_PTR: case RBT_WCHAR_PTR: {
      const RBPtrValue v = RB_GetPtrValue(e);
      if (v.block == nullptr || v.length > 4096) return 0;  // no number's text
      for (uint32_t k = 0; k < v.length; ++k) {
        char16_t u;
        if (col->type == RBT_WCHAR_PTR) {
          std::memcpy(&u, static_cast<const unsigned char*>(v.block) + 2 * k, 2);
        } else {
          u = static_cast<unsigned char>(static_cast<const char*>(v.block)[k]);
        }
        if (u > 0x7F) return 0;
        text += static_cast<char>(u);
      }
      break;
    }
    default:
      return 0;
  }
  std::string plain;
  if (!JDB_PlainDecimalText(text.data(), text.size(), &plain)) return 0;
  if (col->type == RBT_CHAR_PTR || col->type == RBT_WCHAR_PTR) return PutPtrAscii(col, e, plain);
  // A plain form longer than the element (1E+309 where the column was
  // described with one digit) would be cut into another number: the exact
  // text with its exponent stays instead.
  const bool wideElement = col->type != RBT_CHAR && col->type != RBT_CHAR_NTS &&
                           col->type != RBT_CHAR_LEN1 && col->type != RBT_CHAR_LEN2 &&
                           col->type != RBT_CHAR_LEN4;
  const bool terminated = col->type == RBT_CHAR || col->type == RBT_CHAR_NTS ||
                          col->type == RBT_WCHAR || col->type == RBT_WCHAR_NTS;
  const size_t units = (w - head) / (wideElement ? 2 : 1);
  if (plain.size() + (terminated ? 1 : 0) > units) return 0;
  switch (col->type) {
    case RBT_CHAR: case RBT_CHAR_NTS: {
      const size_t n = std::min<size_t>(plain.size(), w > 0 ? w - 1 : 0);
      std::memcpy(e, plain.data(), n);
      std::memset(e + n, 0, w - n);
      break;
    }
    case RBT_CHAR_LEN1: case RBT_CHAR_LEN2: case RBT_CHAR_LEN4: {
      const auto n = static_cast<uint32_t>(std::min<size_t>(plain.size(), w - head));
      std::memcpy(e + head, plain.data(), n);
      PutLength(e, head, n);
      break;
    }
    default: {
      const uint32_t room = (w - head) / 2;
      const auto n = static_cast<uint32_t>(
          std::min<size_t>(plain.size(), col->type == RBT_WCHAR_LEN4 ? room : (room > 0 ? room - 1 : 0)));
      for (uint32_t k = 0; k < room; ++k) {
        const char16_t u = k < n ? static_cast<char16_t>(plain[k]) : 0;
        std::memcpy(e + head + 2 * k, &u, 2);
      }
      if (col->type == RBT_WCHAR_LEN4) Put(e, n);
      break;
    }
  }
  return 0;
}

// Reads one value with the getter of the column's storage type into row r,
// then sets the row's indicator from wasNull. -1: the storage type has no
// getter here.
int ReadValue(JStmt* s, const Source& src, jobject obj, int32_t index, RowBufferColumn* col,
              int32_t r) {
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  const int32_t w = static_cast<int32_t>(col->width);
  int status = 0;
  const bool wide = UnicodeBuild();
  s->valuePresent = 0;
  switch (col->type) {
    case RBT_CHAR:
    case RBT_CHAR_NTS: {
      int32_t len = 0;
      status = src.getString(s, obj, index, reinterpret_cast<char*>(e), &len, w);
      break;
    }
    case RBT_CHAR_LEN1:
    case RBT_CHAR_LEN2:
    case RBT_CHAR_LEN4: {
      const int32_t head = static_cast<int32_t>(RB_LengthPrefixBytes(col->type));
      int32_t len = 0;
      status = src.getString(s, obj, index, reinterpret_cast<char*>(e + head), &len, w - head);
      if (status == 0) PutLength(e, static_cast<uint32_t>(head), static_cast<uint32_t>(len));
      break;
    }
    case RBT_CHAR_PTR: {
      JGrowBuf buf{0, nullptr};
      status = src.getStringLong(s, obj, index, &buf);
      if (status == 0) PutPtr(e, buf);
      break;
    }
    case RBT_BIT: {
      uint8_t v = 0;
      status = src.getBoolean(s, obj, index, &v);
      if (status == 0) Put(e, static_cast<uint8_t>(v != 0 ? 1 : 0));
      break;
    }
    case RBT_STINYINT: {
      int8_t v = 0;
      status = src.getByte(s, obj, index, &v);
      if (status == 0) Put(e, v);
      break;
    }
    case RBT_SSHORT:
    case RBT_UTINYINT: {
      int16_t v = 0;
      if (s->catalogKind != 0 && col->type == RBT_SSHORT) {
        // A catalog answer's SMALLINT may hold more than 16 bits (PostgreSQL
        // gives an interval column with fields but no precision the
        // DECIMAL_DIGITS 65535, which getShort refuses): read whole and held
        // within the SMALLINT the answer has.
        int32_t whole = 0;
        status = src.getInt(s, obj, index, &whole);
        if (status == 0) Put(e, static_cast<int16_t>(std::clamp<int32_t>(whole, INT16_MIN, INT16_MAX)));
        break;
      }
      status = src.getShort(s, obj, index, &v);
      if (status == 0) {
        if (col->type == RBT_SSHORT) Put(e, v);
        else Put(e, static_cast<uint8_t>(v & 0xFF));
      }
      break;
    }
    case RBT_SLONG:
    case RBT_USHORT: {
      int32_t v = 0;
      status = src.getInt(s, obj, index, &v);
      if (status == 0) {
        if (col->type == RBT_SLONG) Put(e, v);
        else Put(e, static_cast<uint16_t>(v & 0xFFFF));
      }
      break;
    }
    case RBT_ULONG: {
      if (src.getLong == nullptr) return -1;
      int64_t v = 0;
      status = src.getLong(s, obj, index, &v);
      if (status == 0) Put(e, static_cast<uint32_t>(v & 0xFFFFFFFF));
      break;
    }
    case RBT_FLOAT: {
      float v = 0;
      status = src.getFloat(s, obj, index, &v);
      if (status == 0) Put(e, v);
      break;
    }
    case RBT_DOUBLE: {
      double v = 0;
      status = src.getDouble(s, obj, index, &v);
      if (status == 0) Put(e, v);
      break;
    }
    case RBT_DATE: {
      int16_t y = 0;
      uint16_t m = 0, d = 0;
      status = src.getDate(s, obj, index, &y, &m, &d);
      if (status == 0) {
        Put(e, y);
        Put(e + 2, m);
        Put(e + 4, d);
      }
      break;
    }
    case RBT_TIME: {
      uint16_t h = 0, mi = 0, se = 0;
      uint32_t nanos = 0;
      const bool fraction = RB_TimeHasFraction(col);
      status = src.getTime(s, obj, index, &h, &mi, &se, fraction ? &nanos : nullptr);
      if (status == 0) {
        Put(e, h);
        Put(e + 2, mi);
        Put(e + 4, se);
        if (fraction) Put(e + RB_TIME_WIDTH, nanos);
      }
      break;
    }
    case RBT_TIMESTAMP: {
      JDateTime t{};
      status = src.getTimestamp(s, obj, index, &t.year, &t.month, &t.day, &t.hour, &t.minute,
                                &t.second, &t.fraction);
      if (status == 0) std::memcpy(e, &t, sizeof t);
      break;
    }
    case RBT_BINARY: {
      int32_t len = 0;
      status = src.getBytes(s, obj, index, e, &len, w);
      break;
    }
    case RBT_BINARY_LEN1:
    case RBT_BINARY_LEN2:
    case RBT_BINARY_LEN4: {
      const int32_t head = static_cast<int32_t>(RB_LengthPrefixBytes(col->type));
      int32_t len = 0;
      status = src.getBytes(s, obj, index, e + head, &len, w - head);
      if (status == 0) PutLength(e, static_cast<uint32_t>(head), static_cast<uint32_t>(len));
      break;
    }
    case RBT_BINARY_PTR: {
      JGrowBuf buf{0, nullptr};
      status = src.getBytesLong(s, obj, index, &buf);
      if (status == 0) PutPtr(e, buf);
      break;
    }
    case RBT_WCHAR:
    case RBT_WCHAR_NTS: {
      if (!wide) return -1;
      int32_t n = 0;
      status = src.getStringW(s, obj, index, reinterpret_cast<char16_t*>(e), &n, w / 2);
      break;
    }
    case RBT_WCHAR_LEN4: {
      if (!wide) return -1;
      int32_t n = 0;
      status = src.getStringW(s, obj, index, reinterpret_cast<char16_t*>(e + 4), &n, (w - 4) / 2);
      if (status == 0) Put(e, static_cast<uint32_t>(n));
      break;
    }
    case RBT_WCHAR_PTR: {
      if (!wide) return -1;
      JGrowBuf buf{0, nullptr};
      status = src.getStringLongW(s, obj, index, &buf);
      if (status == 0) PutPtr(e, buf);
      break;
    }
    default:
      return -1;
  }
  if (status != 0) return status;
  // An object getter that answered an object has told us already: no NULL.
  if (s->valuePresent != 0) {
    col->indicators[r] = RB_IND_DATA;
    return 0;
  }
  uint8_t isNull = 0;
  status = src.wasNull(s, obj, &isNull);
  if (status != 0) return status;
  col->indicators[r] = isNull ? RB_IND_NULL : RB_IND_DATA;
  return 0;
}

// ---- whole blocks in one call --------------------------------------------------------
//
// An ordinary result is read a block at a time by the support class
// quillmar/support/RowBlock: one call into Java reads every row and value of
// the block and packs them into one byte array, which is decoded here in
// place (see drv_jdbc/text/j_row_block.h). The values are the ones ReadValue
// gets from the single getters (the class follows the same rules); results
// with catalog fix-ups, long values or an element type the class does not
// know take the value-by-value road. The class reads the following rows
// ahead on a thread of its own while the caller works through a block (see
// JDB_SetReadAhead); a statement whose rows are read ahead is listed on its
// connection, and every other call on the connection pauses it first.

int Check(JStmt* s) { return CheckException(s->jni, s->unicodeClient, &s->msgs); }

// Status of a block the class did not take: the caller reads value by value.
constexpr int kBlockNotTaken = -1;

struct RowBlockApi {
  jclass cls = nullptr;  // global
  jmethodID ctor = nullptr, fill = nullptr, pause = nullptr, discard = nullptr, drain = nullptr;
  jfieldID buf = nullptr, used = nullptr, end = nullptr, failure = nullptr, reading = nullptr;
};

std::mutex gBlockLock;
RowBlockApi gBlockApi;
int gBlockState = 0;  // 0 not tried yet, 1 ready, 2 unavailable in this VM

// The class and its members, looked up once; null when the VM cannot have it
// (then every result is read value by value). Leaves nothing pending.
const RowBlockApi* BlockApi(JNIEnv* env) {
  std::lock_guard<std::mutex> guard(gBlockLock);
  if (gBlockState != 0) return gBlockState == 1 ? &gBlockApi : nullptr;
  gBlockState = 2;
  jclass local = JC_DefineRowBlockClass(env);
  if (local == nullptr) {
    LogAt(LOG_WARNING, __FILE__, __LINE__, "Can't define the row block class; rows are read one by one");
    return nullptr;
  }
  RowBlockApi a;
  a.ctor = env->GetMethodID(local, "<init>", "()V");
  a.fill = env->GetMethodID(local, "fill", "(Ljava/sql/ResultSet;[III)I");
  a.pause = env->GetMethodID(local, "pause", "()V");
  a.discard = env->GetMethodID(local, "discard", "()V");
  a.drain = env->GetMethodID(local, "drain", "(Ljava/sql/ResultSet;[I)V");
  a.reading = env->GetFieldID(local, "reading", "Z");
  a.buf = env->GetFieldID(local, "buf", "[B");
  a.used = env->GetFieldID(local, "used", "I");
  a.end = env->GetFieldID(local, "end", "Z");
  a.failure = env->GetFieldID(local, "failure", "Ljava/lang/Throwable;");
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    env->DeleteLocalRef(local);
    LogAt(LOG_WARNING, __FILE__, __LINE__, "The row block class lacks a member; rows are read one by one");
    return nullptr;
  }
  a.cls = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  if (a.cls == nullptr) return nullptr;
  gBlockApi = a;
  gBlockState = 1;
  return &gBlockApi;
}

// Decodes the packed rows the class left in its array. False with the
// exception pending (none when the array is shorter than its use says, or the
// bytes do not decode).
bool DecodeBlock(JNIEnv* env, jobject block, const RowBlockApi* api, const std::vector<int32_t>& kinds,
                 int32_t rows, RowBuffer* out, int32_t* decoded) {
  *decoded = 0;
  const jint used = env->GetIntField(block, api->used);
  jobject array = env->GetObjectField(block, api->buf);
  if (array == nullptr || used < 0) {
    if (array != nullptr) env->DeleteLocalRef(array);
    return false;
  }
  bool ok = env->GetArrayLength(static_cast<jarray>(array)) >= used;
  if (ok) {
    // Nothing calls into Java between here and the release: the decoding
    // reads the array where it lies.
    void* bytes = env->GetPrimitiveArrayCritical(static_cast<jarray>(array), nullptr);
    ok = bytes != nullptr;
    if (ok) {
      ok = JDB_DecodeRowBlock(static_cast<const unsigned char*>(bytes), static_cast<size_t>(used),
                              kinds.data(), rows, out, decoded);
      env->ReleasePrimitiveArrayCritical(static_cast<jarray>(array), bytes, JNI_ABORT);
    }
  }
  env->DeleteLocalRef(array);
  return ok;
}

std::atomic<bool> gReadAhead{true};
std::atomic<bool> g_rowBlockReads{true};

// The loaded class, or null when no block has been read in this VM (then no
// read-ahead runs either).
const RowBlockApi* LoadedBlockApi() {
  std::lock_guard<std::mutex> guard(gBlockLock);
  return gBlockState == 1 ? &gBlockApi : nullptr;
}

// Lists s among the connection's statements that read ahead.
void ListReadAhead(JStmt* s) {
  JConn* c = s->conn;
  if (c == nullptr || s->readAheadListed) return;
  std::lock_guard<std::mutex> guard(c->readAheadLock);
  try {
    c->readAheads.push_back(s);
  } catch (const std::bad_alloc&) {
    return;  // unlisted, it would not be paused: the caller stops it instead
  }
  s->readAheadListed = true;
  c->readAheadCount.store(static_cast<int32_t>(c->readAheads.size()));
}

// Takes s off its connection's list. The caller holds the list's lock.
void UnlistLocked(JStmt* s) {
  JConn* c = s->conn;
  auto& v = c->readAheads;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != s) continue;
    v[i] = v.back();
    v.pop_back();
    break;
  }
  s->readAheadListed = false;
  c->readAheadCount.store(static_cast<int32_t>(v.size()));
}

// Calls pause or discard on s's reader; leaves nothing pending.
void CallReader(JNIEnv* env, JStmt* s, jmethodID m) {
  if (s->rowBlock == nullptr) return;
  env->CallVoidMethod(s->rowBlock, m);
  if (env->ExceptionCheck()) env->ExceptionClear();
}

// The packed layout of the rows of out's shape (two ints a column: kind and
// room) and each column's kind; kBlockNotTaken when a column must be read
// value by value.
int BlockLayout(const JStmt* s, const RowBuffer& out, std::vector<jint>* layout, std::vector<int32_t>* kinds) {
  const int cols = out.colCount;
  try {
    layout->resize(static_cast<size_t>(2 * cols));
    kinds->resize(static_cast<size_t>(cols));
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  for (int c = 0; c < cols; ++c) {
    int32_t& kind = (*kinds)[static_cast<size_t>(c)];
    if (!JDB_RowBlockKind(out.columns[c], UnicodeBuild(), &kind, &(*layout)[static_cast<size_t>(2 * c + 1)])) {
      return kBlockNotTaken;
    }
    (*layout)[static_cast<size_t>(2 * c)] = kind;
    if ((kind == kRowBlockText || kind == kRowBlockWide) && IsDecimalJdbcType(s, c)) {
      (*layout)[static_cast<size_t>(2 * c)] |= kRowBlockDecimalFlag;
    }
  }
  return 0;
}

// The statement's block reader, made at its first use.
int EnsureReader(JStmt* s, const RowBlockApi* api) {
  if (s->rowBlock != nullptr) return 0;
  JNIEnv* env = s->jni;
  jobject local = env->NewObject(api->cls, api->ctor);
  if (local != nullptr) s->rowBlock = env->NewGlobalRef(local);
  if (local != nullptr) env->DeleteLocalRef(local);
  if (s->rowBlock == nullptr) return Check(s) != 0 ? KX_ERR_GENERAL : KX_ERR_NOMEM;
  return 0;
}

// The rows of the described columns as the fetches lay them out, with their
// packed layout: kBlockNotTaken when they are read value by value (a long
// column, a catalog result, an element kind the class does not pack).
int DescribedLayout(JStmt* s, std::vector<jint>* layout, std::vector<int32_t>* kinds) {
  if (!g_rowBlockReads.load(std::memory_order_relaxed) || s->catalogKind != 0 || s->redirectCol >= 0 ||
      s->columnCap >= 0 || s->colCount == 0) {
    return kBlockNotTaken;
  }
  for (uint16_t i = 0; i < s->colCount; ++i) {
    if (DescribedLong(s->colJdbcTypes != nullptr ? s->colJdbcTypes[i] : 0)) return kBlockNotTaken;
  }
  RowBuffer shape{};
  int status = RB_FromColDescs(s->cols, s->colCount, 1, &shape);
  if (status == 0) status = BlockLayout(s, shape, layout, kinds);
  RB_Free(&shape);
  return status;
}

// Reads up to n rows of the open result set into out (laid out already) with
// one call into Java; *got: the rows read. kBlockNotTaken when the result
// must be read value by value (nothing read, nothing pending).
int ReadBlock(JStmt* s, RowBuffer* out, int32_t n, int32_t* got) {
  *got = 0;
  JNIEnv* env = s->jni;
  const int cols = out->colCount;
  if (cols <= 0 || s->resultSet == nullptr) return kBlockNotTaken;
  std::vector<jint> layout;
  std::vector<int32_t> kinds;
  if (int status = BlockLayout(s, *out, &layout, &kinds); status != 0) return status;
  const RowBlockApi* api = BlockApi(env);
  if (api == nullptr) return kBlockNotTaken;
  if (int status = EnsureReader(s, api); status != 0) return status;
  jintArray shape = env->NewIntArray(2 * cols);
  if (shape == nullptr) return Check(s) != 0 ? KX_ERR_GENERAL : KX_ERR_NOMEM;
  env->SetIntArrayRegion(shape, 0, 2 * cols, layout.data());
  // The rows that may be read ahead of this block: up to the statement's
  // row limit, or without bound.
  jint ahead = -1;
  if (!gReadAhead.load(std::memory_order_relaxed) || (s->parsed.flags & (PSQL_LOCKS_ROWS | PSQL_CALL)) != 0) {
    // Nor for rows that may wait for another transaction's locks (a locking
    // read, a procedure): a read-ahead waiting there would hold up the next
    // call on the connection, which would otherwise go through.
    ahead = 0;
  } else if (s->maxRows > 0) {
    ahead = std::max<int64_t>(0, int64_t{s->maxRows} - s->rowsFetched - n);
  }
  JW_Trace("RowBlock.fill(%d rows, %d ahead)", n, ahead);
  const jint rows =
      env->ExceptionCheck() ? 0 : env->CallIntMethod(s->rowBlock, api->fill, s->resultSet, shape, n, ahead);
  env->DeleteLocalRef(shape);
  // A read-ahead the call started is listed (or stopped) whatever the call
  // answered.
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown != nullptr) env->ExceptionClear();
  if (env->GetBooleanField(s->rowBlock, api->reading)) {
    ListReadAhead(s);
    if (!s->readAheadListed) CallReader(env, s, api->pause);
  }
  if (thrown != nullptr) {
    env->Throw(thrown);
    env->DeleteLocalRef(thrown);
    return Check(s);
  }
  if (rows < 0 || rows > n) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "A row block answered %d rows for %d", rows, n);
    return KX_ERR_GENERAL;
  }
  int32_t decoded = 0;
  if (!DecodeBlock(env, s->rowBlock, api, kinds, rows, out, &decoded)) {
    *got = decoded;
    if (env->ExceptionCheck()) return Check(s);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "A row block's bytes do not decode as its %d rows", rows);
    return KX_ERR_GENERAL;
  }
  *got = rows;
  if (env->GetBooleanField(s->rowBlock, api->end)) s->flags |= JS_END;
  jobject failure = env->GetObjectField(s->rowBlock, api->failure);
  if (failure == nullptr) return 0;
  // What Java threw while reading the row after the complete ones: posted
  // as if the getter had thrown it here.
  env->Throw(static_cast<jthrowable>(failure));
  env->DeleteLocalRef(failure);
  const int status = Check(s);
  return status != 0 ? status : KX_ERR_GENERAL;
}

// Integer cells of catalog rows, whatever integer storage the driver chose.
bool GetInt(const RowBufferColumn* col, int32_t r, int32_t* out) {
  const unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  switch (col->type) {
    case RBT_BIT: case RBT_UTINYINT: *out = *e; return true;
    case RBT_STINYINT: *out = static_cast<int8_t>(*e); return true;
    case RBT_SSHORT: { int16_t v; std::memcpy(&v, e, 2); *out = v; return true; }
    case RBT_USHORT: { uint16_t v; std::memcpy(&v, e, 2); *out = v; return true; }
    case RBT_SLONG: case RBT_ULONG: { int32_t v; std::memcpy(&v, e, 4); *out = v; return true; }
    case RBT_CHAR_NTS: *out = std::atoi(reinterpret_cast<const char*>(e)); return true;
    default: return false;
  }
}

void SetInt(RowBufferColumn* col, int32_t r, int32_t v) {
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  switch (col->type) {
    case RBT_BIT: case RBT_UTINYINT: case RBT_STINYINT: *e = static_cast<unsigned char>(v); break;
    case RBT_SSHORT: case RBT_USHORT: Put(e, static_cast<int16_t>(v)); break;
    case RBT_SLONG: case RBT_ULONG: Put(e, v); break;
    case RBT_CHAR_NTS:
      if (col->width > 11) std::snprintf(reinterpret_cast<char*>(e), col->width, "%d", v);
      break;
    default: return;
  }
  col->indicators[r] = RB_IND_DATA;
}

void SetText(RowBufferColumn* col, int32_t r, const char* text) {
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  size_t n = std::strlen(text);
  switch (col->type) {
    case RBT_CHAR_NTS:
      if (col->width <= n) return;
      std::memcpy(e, text, n + 1);
      break;
    case RBT_WCHAR_NTS:
      if (col->width < 2 * (n + 1)) return;
      for (size_t i = 0; i <= n; ++i) Put(e + 2 * i, static_cast<char16_t>(text[i]));
      break;
    case RBT_CHAR_PTR:
    case RBT_WCHAR_PTR: {
      bool w = col->type == RBT_WCHAR_PTR;
      void* block = std::calloc(n + 1, w ? 2 : 1);
      if (block == nullptr) return;
      for (size_t i = 0; i < n; ++i) {
        if (w) static_cast<char16_t*>(block)[i] = static_cast<char16_t>(text[i]);
        else static_cast<char*>(block)[i] = text[i];
      }
      RBPtrValue old = RB_GetPtrValue(e);
      std::free(old.block);
      RB_SetPtrValue(e, RBPtrValue{static_cast<uint32_t>(n), block});
      break;
    }
    default: return;
  }
  col->indicators[r] = RB_IND_DATA;
}

// Text of a cell as narrow bytes (procedure names), empty when not text.
std::string CellText(const RowBufferColumn* col, int32_t r) {
  if (col->indicators[r] != RB_IND_DATA) return {};
  const unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  switch (col->type) {
    case RBT_CHAR_NTS: return std::string(reinterpret_cast<const char*>(e));
    case RBT_CHAR_PTR: {
      RBPtrValue v = RB_GetPtrValue(e);
      return v.block != nullptr ? std::string(static_cast<const char*>(v.block), v.length) : "";
    }
    case RBT_WCHAR_NTS: case RBT_WCHAR_PTR: {
      const char16_t* p;
      size_t n;
      if (col->type == RBT_WCHAR_PTR) {
        RBPtrValue v = RB_GetPtrValue(e);
        p = static_cast<const char16_t*>(v.block);
        n = v.block != nullptr ? v.length : 0;
      } else {
        p = reinterpret_cast<const char16_t*>(e);
        n = 0;
        while (n < col->width / 2 && p[n] != 0) ++n;
      }
      return std::string(reinterpret_cast<const char*>(p), n * 2);
    }
    default: return {};
  }
}

void NullCell(RowBuffer* out, int c, int32_t r) {
  if (c >= 1 && c <= out->colCount) out->columns[c - 1].indicators[r] = RB_IND_NULL;
}

// SQL_DATA_TYPE and SQL_DATETIME_SUB of a catalog row, derived from its
// DATA_TYPE as ODBC defines them (JDBC leaves both unused, so a driver may
// deliver NULL where ODBC never has one). Columns are 1-based; the type is
// read after its fix-up, so that BOOLEAN gives BIT here too.
void FillVerboseType(RowBuffer* out, int typeCol, int verboseCol, int subCol, int32_t r) {
  if (typeCol < 1 || typeCol > out->colCount) return;
  const RowBufferColumn* type = &out->columns[typeCol - 1];
  int32_t t = 0;
  if (type->indicators[r] != RB_IND_DATA || !GetInt(type, r, &t)) return;
  if (verboseCol >= 1 && verboseCol <= out->colCount) {
    SetInt(&out->columns[verboseCol - 1], r, JDB_SqlDataTypeOf(t));
  }
  if (subCol >= 1 && subCol <= out->colCount) {
    const int32_t sub = JDB_DatetimeSubOf(t);
    if (sub < 0) out->columns[subCol - 1].indicators[r] = RB_IND_NULL;
    else SetInt(&out->columns[subCol - 1], r, sub);
  }
}

// ORDINAL_POSITION of a procedure column: JDBC's own (column 18 of its
// result: parameters from 1, the return value 0); a driver without it gets
// the position among the procedure's rows, the return value still 0.
int32_t ProcColumnOrdinal(JStmt* s, bool isReturn) {
  const int32_t counted = isReturn ? 0 : ++s->ordinal;
  if (s->resultSet == nullptr) return counted;
  int32_t v = 0;
  uint8_t isNull = 0;
  if (JC_ResultSet_getInt(s, s->resultSet, 18, &v) != 0 ||
      JC_ResultSet_wasNull(s, s->resultSet, &isNull) != 0) {
    JC_ClearException(s->jni);
    JDB_MsgFreeList(&s->msgs);
    return counted;
  }
  if (isNull != 0) return counted;
  return isReturn ? 0 : v;
}

// Runs after the type fix of the row, so the derived columns follow the
// DATA_TYPE the application sees.
void FillProcColumnsOdbc3(JStmt* s, RowBuffer* out, int32_t r) {
  if (out->colCount < 9) return;
  std::string name = CellText(&out->columns[2], r);
  if (s->procName == nullptr || name != s->procName) {
    std::free(s->procName);
    s->procName = strdup(name.c_str());
    s->ordinal = 0;
  }
  int32_t t = 0, b = 0, kind = 0;
  GetInt(&out->columns[5], r, &t);
  bool haveB = out->columns[8].indicators[r] == RB_IND_DATA && GetInt(&out->columns[8], r, &b);
  // COLUMN_TYPE SQL_RETURN_VALUE: the procedure's return value.
  const bool isReturn = out->columns[4].indicators[r] == RB_IND_DATA &&
                        GetInt(&out->columns[4], r, &kind) && kind == SQL_RETURN_VALUE;
  const int n = out->colCount < s->colCount ? out->colCount : s->colCount;
  // SQL_DATA_TYPE and SQL_DATETIME_SUB: columns 15 and 16 of the result,
  // where the result reaches them.
  constexpr int kSqlDataTypeCol = 15, kDatetimeSubCol = 16;
  FillVerboseType(out, 6, n >= kSqlDataTypeCol ? kSqlDataTypeCol : 0,
                  n >= kDatetimeSubCol ? kDatetimeSubCol : 0, r);
  for (int c = 14; c <= 19 && c <= n; ++c) {
    RowBufferColumn* col = &out->columns[c - 1];
    switch (c) {
      case 14: col->indicators[r] = RB_IND_NULL; break;
      case 17: {
        int32_t len = JDB_CharOctetLength(t, b);
        if (len < 0 || !haveB) col->indicators[r] = RB_IND_NULL;
        else SetInt(col, r, len);
        break;
      }
      case 18: SetInt(col, r, ProcColumnOrdinal(s, isReturn)); break;
      case 19: SetText(col, r, ""); break;
      default: break;
    }
  }
}

// An ODBC 3 application knows the dates by their ODBC 3 codes, as its
// column descriptions give them; ODBC 2 applications, and the connection's
// own type map (read at connect, before the version is known), keep 9 to 11.
void DateTypesForVersion(const JStmt* s, RowBuffer* out, int typeCol, int32_t r) {
  if (s->conn->odbcVersion < 3 || typeCol < 1 || typeCol > out->colCount) return;
  RowBufferColumn* col = &out->columns[typeCol - 1];
  int32_t t = 0;
  if (col->indicators[r] == RB_IND_DATA && GetInt(col, r, &t) && t >= 9 && t <= 11) {
    SetInt(col, r, t + 82);
  }
}

// COLUMN_SIZE of a date, time or timestamp row as ODBC defines it: the
// characters of its text, 10 for a date, 8 for a time and 19 for a
// timestamp, plus the point and the fraction digits. JDBC drivers give other
// numbers (PostgreSQL: 13 for a date, 29 for any timestamp, and in its type
// list 6, the fraction digits), and an application that sizes its
// parameters from them cuts fractions away. digitsCol: DECIMAL_DIGITS (the
// fraction digits) of a column row; maxScaleCol: MAXIMUM_SCALE of a type
// row, which also receives the fraction digits when the driver left it 0.
// Columns are 1-based, 0 for none; runs after the type fix-up (the ODBC 2
// codes SQL_DATE, SQL_TIME, SQL_TIMESTAMP).
void FixDatetimeSize(RowBuffer* out, int typeCol, int sizeCol, int digitsCol, int maxScaleCol,
                     int32_t r) {
  auto cell = [out, r](int c, int32_t* v) {
    return c >= 1 && c <= out->colCount && out->columns[c - 1].indicators[r] == RB_IND_DATA &&
           GetInt(&out->columns[c - 1], r, v);
  };
  int32_t t = 0;
  if (!cell(typeCol, &t) || t < SQL_DATE || t > SQL_TIMESTAMP || sizeCol < 1 ||
      sizeCol > out->colCount) {
    return;
  }
  // Characters of the value without fraction: yyyy-mm-dd, hh:mm:ss, both.
  const int32_t base = t == SQL_DATE ? 10 : t == SQL_TIME ? 8 : 19;
  int32_t digits = 0;
  if (t != SQL_DATE) {
    int32_t v = 0;
    if (digitsCol != 0) {
      if (cell(digitsCol, &v) && v > 0) digits = v;
    } else if (maxScaleCol != 0 && cell(maxScaleCol, &v) && v > 0) {
      digits = v;
    } else if (cell(sizeCol, &v) && v > 0) {
      // A type row's size is either the fraction digits or the full length.
      digits = v < base ? v : v > base + 1 ? v - base - 1 : 0;
    }
    if (digits > 9) digits = 9;
    int32_t scale = 0;
    if (maxScaleCol != 0 && digits > 0 && !(cell(maxScaleCol, &scale) && scale > 0)) {
      SetInt(&out->columns[maxScaleCol - 1], r, digits);
    }
  }
  SetInt(&out->columns[sizeCol - 1], r, digits > 0 ? base + 1 + digits : base);
}

// A column of a distinct type (a PostgreSQL domain) holds values of the
// type it is made from, which JDBC gives as SOURCE_DATA_TYPE (column 22 of
// its column list): DATA_TYPE becomes that type.
void BaseTypeOfDistinct(JStmt* s, RowBuffer* out, int32_t r) {
  constexpr int kTypeCol = 5, kSourceTypeCol = 22;
  int32_t t = 0;
  if (out->colCount < kTypeCol || out->columns[kTypeCol - 1].indicators[r] != RB_IND_DATA ||
      !GetInt(&out->columns[kTypeCol - 1], r, &t) || t != JT_DISTINCT || s->resultSet == nullptr) {
    return;
  }
  int32_t base = 0;
  uint8_t isNull = 0;
  if (JC_ResultSet_getInt(s, s->resultSet, kSourceTypeCol, &base) != 0 ||
      JC_ResultSet_wasNull(s, s->resultSet, &isNull) != 0) {
    JC_ClearException(s->jni);
    JDB_MsgFreeList(&s->msgs);  // no base type known: the type stays as it is
    return;
  }
  if (isNull == 0 && base != 0) SetInt(&out->columns[kTypeCol - 1], r, base);
}

void DropCatalogNames(const JStmt* s, RowBuffer* out, int32_t r);

void FixRow(JStmt* s, RowBuffer* out, int32_t r) {
  const AgentConnOptions& o = s->conn->opts;
  const int32_t kind = s->catalogKind;
  switch (kind) {
    case JDB_CAT_PROCCOLUMNS:
      JDB_FixCatalogType(o.jet, out, CatalogTypeCols{6, 7, 8, 9, 10, 11, 0}, r, s->conn);
      FixDatetimeSize(out, 6, 8, 10, 0, r);
      FillProcColumnsOdbc3(s, out, r);
      break;
    case JDB_CAT_STATISTICS: {
      int32_t type = 0;
      if (s->resultSet != nullptr && JC_ResultSet_getInt(s, s->resultSet, 7, &type) == 0 &&
          out->colCount >= 4) {
        RowBufferColumn* nonUnique = &out->columns[3];
        if (type == 0) nonUnique->indicators[r] = RB_IND_NULL;
        else if (nonUnique->indicators[r] == RB_IND_NULL) SetInt(nonUnique, r, 1);
      } else {
        JC_ClearException(s->jni);
        JDB_MsgFreeList(&s->msgs);  // a row whose TYPE cannot be read keeps its NON_UNIQUE
      }
      break;
    }
    case JDB_CAT_COLUMNS:
      BaseTypeOfDistinct(s, out, r);
      JDB_FixCatalogType(o.jet, out, CatalogTypeCols{5, 6, 7, 8, 9, 10, 16}, r, s->conn);
      FixDatetimeSize(out, 5, 7, 9, 0, r);
      FillVerboseType(out, 5, 14, 15, r);
      break;
    case JDB_CAT_SPECIALCOLUMNS:
      JDB_FixCatalogType(o.jet, out, CatalogTypeCols{3, 4, 5, 6, 7, 0, 0}, r, s->conn);
      FixDatetimeSize(out, 3, 5, 7, 0, r);
      break;
    default:
      break;
  }
  const int typeCol = kind == JDB_CAT_TYPEINFO         ? 2
                      : kind == JDB_CAT_PROCCOLUMNS    ? 6
                      : kind == JDB_CAT_COLUMNS        ? 5
                      : kind == JDB_CAT_SPECIALCOLUMNS ? 3
                                                       : 0;
  DateTypesForVersion(s, out, typeCol, r);
  DropCatalogNames(s, out, r);
}

// The catalog and schema columns the connection leaves empty (J_DCAT,
// J_DSCH). The enumerations of catalogs, schemas and table types list
// names, which stay.
void DropCatalogNames(const JStmt* s, RowBuffer* out, int32_t r) {
  const AgentConnOptions& o = s->conn->opts;
  const int32_t kind = s->catalogKind;
  const bool enumeration = kind == JDB_CAT_TABLES && (s->redirectCol >= 0 || s->columnCap >= 0);
  int catalogCols[2] = {0, 0};
  switch (kind) {
    case JDB_CAT_TABLES: case JDB_CAT_STATISTICS: case JDB_CAT_COLUMNS:
    case JDB_CAT_PRIMARYKEYS: case JDB_CAT_PROCEDURES: case JDB_CAT_PROCCOLUMNS:
    case JDB_CAT_TABLEPRIVILEGES: case JDB_CAT_COLUMNPRIVILEGES:
      catalogCols[0] = 1;
      break;
    case JDB_CAT_FOREIGNKEYS:
      catalogCols[0] = 1;  // the primary key's table
      catalogCols[1] = 5;  // the foreign key's table
      break;
    default:
      break;
  }
  if (enumeration) return;
  for (const int c : catalogCols) {
    if (c == 0) continue;
    if (o.jDcat != 0) NullCell(out, c, r);
    if (o.jDsch != 0) NullCell(out, c + 1, r);
  }
}


// One cell of a type-list row into row r of col: text into the text
// columns (cut to their width), numbers into the others.
void PutTypeListCell(RowBufferColumn* col, int32_t r, const TypeListCell& cell) {
  if (cell.isNull) {
    col->indicators[r] = RB_IND_NULL;
    return;
  }
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  switch (col->type) {
    case RBT_CHAR_NTS: {
      if (col->width == 0) return;
      size_t n = cell.text.size() < col->width - 1 ? cell.text.size() : col->width - 1;
      // Cut on a character boundary.
      while (n > 0 && n < cell.text.size() &&
             (static_cast<unsigned char>(cell.text[n]) & 0xC0) == 0x80) {
        --n;
      }
      std::memcpy(e, cell.text.data(), n);
      e[n] = '\0';
      break;
    }
    case RBT_WCHAR_NTS: {
      const size_t room = col->width / 2;
      if (room == 0) return;
      std::u16string units(room, u'\0');
      Utf8ToUcs2CopyN(units.data(), cell.text.c_str(), room);
      std::memcpy(e, units.data(), room * 2);
      break;
    }
    default:
      SetInt(col, r, cell.number);
      return;
  }
  col->indicators[r] = RB_IND_DATA;
}

// Up to n rows read whole when the result was opened: the type list, the
// routines.
int32_t FetchTypeList(JStmt* s, RowBuffer* out, int32_t n) {
  int32_t delivered = 0;
  while (delivered < n && s->typeRowNext < s->typeRows.size()) {
    const TypeListRow& row = s->typeRows[s->typeRowNext++];
    for (int c = 0; c < out->colCount && c < TL_COLUMNS; ++c) {
      PutTypeListCell(&out->columns[c], delivered, row[c]);
    }
    if (s->catalogKind == JDB_CAT_TYPEINFO) {
      FixDatetimeSize(out, 2, 3, 0, 15, delivered);
      FillVerboseType(out, 2, 16, 17, delivered);
      DateTypesForVersion(s, out, 2, delivered);
    } else {
      DropCatalogNames(s, out, delivered);
    }
    ++delivered;
  }
  if (s->typeRowNext >= s->typeRows.size()) s->flags |= JS_END;
  out->rowCount = delivered;
  s->rowsFetched += delivered;
  return 0;
}

}  // namespace

namespace {
bool IsIntervalType(int32_t t) {
  return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
}
}  // namespace

int32_t JDB_SqlDataTypeOf(int32_t t) {
  switch (t) {
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
      return SQL_DATETIME;
    default:
      return IsIntervalType(t) ? SQL_INTERVAL : t;
  }
}

int32_t JDB_DatetimeSubOf(int32_t t) {
  switch (t) {
    case SQL_DATE: case SQL_TYPE_DATE: return SQL_CODE_DATE;
    case SQL_TIME: case SQL_TYPE_TIME: return SQL_CODE_TIME;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return SQL_CODE_TIMESTAMP;
    // The interval subcodes are the type codes less SQL_INTERVAL_YEAR - SQL_CODE_YEAR.
    default: return IsIntervalType(t) ? t - (SQL_INTERVAL_YEAR - SQL_CODE_YEAR) : -1;
  }
}

int32_t JDB_CharOctetLength(int32_t t, int32_t b) {
  switch (t) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_LONGVARCHAR: case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return b;
    default:
      return -1;
  }
}

namespace {

// The ASCII text of a narrow or wide text cell (anything else as '?'), for
// comparing type names.
std::string CellAscii(const RowBuffer* out, int c, int32_t r) {
  if (c < 1 || c > out->colCount) return {};
  const RowBufferColumn* col = &out->columns[c - 1];
  std::string raw = CellText(col, r);
  if (col->type != RBT_WCHAR_NTS && col->type != RBT_WCHAR_PTR) return raw;
  std::string ascii;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    char16_t u;
    std::memcpy(&u, raw.data() + i, 2);
    ascii += u < 0x80 ? static_cast<char>(u) : '?';
  }
  return ascii;
}

bool CellPresent(const RowBuffer* out, int c) { return c >= 1 && c <= out->colCount; }

// The types whose columns have decimal digits: the exact numbers (their
// scale) and the types with seconds (their fraction digits).
bool HasDecimalDigits(int32_t t) {
  switch (t) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
    case SQL_INTERVAL_SECOND: case SQL_INTERVAL_DAY_TO_SECOND: case SQL_INTERVAL_HOUR_TO_SECOND:
    case SQL_INTERVAL_MINUTE_TO_SECOND:
      return true;
    default:
      return false;
  }
}

}  // namespace

int32_t JDB_TransferOctetLength(int32_t t, int32_t size) {
  switch (t) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return size > 0 ? size : -1;
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
      return size <= 0 ? -1 : size > INT32_MAX / 2 ? INT32_MAX : 2 * size;
    // Exact decimals and BIGINT go to applications as text: the digits,
    // the sign and the point.
    case SQL_NUMERIC: case SQL_DECIMAL:
      return size <= 0 ? -1 : size > INT32_MAX - 2 ? INT32_MAX : size + 2;
    case SQL_BIGINT: return 20;
    case SQL_BIT: case SQL_TINYINT: return 1;
    case SQL_SMALLINT: return static_cast<int32_t>(sizeof(SQLSMALLINT));
    case SQL_INTEGER: return static_cast<int32_t>(sizeof(SQLINTEGER));
    case SQL_REAL: return static_cast<int32_t>(sizeof(SQLREAL));
    case SQL_FLOAT: case SQL_DOUBLE: return static_cast<int32_t>(sizeof(SQLDOUBLE));
    case SQL_DATE: case SQL_TYPE_DATE: return static_cast<int32_t>(sizeof(SQL_DATE_STRUCT));
    case SQL_TIME: case SQL_TYPE_TIME: return static_cast<int32_t>(sizeof(SQL_TIME_STRUCT));
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP:
      return static_cast<int32_t>(sizeof(SQL_TIMESTAMP_STRUCT));
    case SQL_GUID: return static_cast<int32_t>(sizeof(SQLGUID));
    default:
      return IsIntervalType(t) ? static_cast<int32_t>(sizeof(SQL_INTERVAL_STRUCT)) : -1;
  }
}

void JDB_FixCatalogType(int32_t jet, RowBuffer* out, const CatalogTypeCols& cols, int32_t r,
                        const JConn* c) {
  if (!CellPresent(out, cols.type)) return;
  RowBufferColumn* col = &out->columns[cols.type - 1];
  int32_t t = 0;
  if (col->indicators[r] != RB_IND_DATA || !GetInt(col, r, &t)) return;
  auto setInt = [out, r](int c, int32_t v) {
    if (CellPresent(out, c)) SetInt(&out->columns[c - 1], r, v);
  };
  auto setNull = [out, r](int c) {
    if (CellPresent(out, c)) out->columns[c - 1].indicators[r] = RB_IND_NULL;
  };
  const std::string name = CellAscii(out, cols.name, r);
  if (JDB_IsUuidTypeName(name.c_str())) {
    // A UUID, as its result columns are described: a GUID of 36 characters,
    // kept in a 16-byte structure.
    SetInt(col, r, SQL_GUID);
    setInt(cols.size, JDB_GUID_SIZE);
    setInt(cols.bufferLength, static_cast<int32_t>(sizeof(SQLGUID)));
    setNull(cols.digits);
    setNull(cols.radix);
    setNull(cols.octetLength);
    return;
  }
  int32_t to = JDB_OdbcTypeOfJdbc(t, jet);
  if (t == JT_BIGINT && to == SQL_NUMERIC) {
    if (CellPresent(out, cols.name)) SetText(&out->columns[cols.name - 1], r, "NUMERIC");
    setInt(cols.size, JDB_BIGINT_AS_NUMERIC_SIZE);
  }
  int32_t size = 0;
  const bool haveSize = CellPresent(out, cols.size) &&
                        out->columns[cols.size - 1].indicators[r] == RB_IND_DATA &&
                        GetInt(&out->columns[cols.size - 1], r, &size);
  if (const int32_t known = JDB_KnownTextSize(name.c_str());
      known > 0 && to == SQL_VARCHAR && (!haveSize || size <= 0 || size > static_cast<int32_t>(JDB_LONG_LIMIT))) {
    setInt(cols.size, known);
    setInt(cols.octetLength, known);
    size = known;
  }
  // Types ODBC has no code for (arrays, json, intervals, row identifiers)
  // and strings of bits: as their result columns are described.
  if (to == SQL_UNKNOWN_TYPE || (t == JT_BIT && haveSize && size > 1)) {
    int32_t digits = 0;
    if (CellPresent(out, cols.digits) && out->columns[cols.digits - 1].indicators[r] == RB_IND_DATA) {
      GetInt(&out->columns[cols.digits - 1], r, &digits);
    }
    AgentColDesc d{};
    JDB_DescribeType(c, 0, t, 0, digits, haveSize ? size : 0, name.c_str(), &d);
    to = d.sqlType;
    size = to == SQL_LONGVARCHAR || to == SQL_LONGVARBINARY ? INT32_MAX : d.columnSize;
    setInt(cols.size, size);
    setNull(cols.octetLength);  // JDBC's is that of its own idea of the type
    if (d.decimalDigits > 0) setInt(cols.digits, d.decimalDigits);
  }
  // Without a longest value (a PostgreSQL text or varchar parameter), or
  // wider than a fixed element takes: long, as such a result column is
  // described.
  const bool sized = CellPresent(out, cols.size) &&
                     out->columns[cols.size - 1].indicators[r] == RB_IND_DATA && size > 0;
  if ((to == SQL_CHAR || to == SQL_VARCHAR || to == SQL_BINARY || to == SQL_VARBINARY) &&
      CellPresent(out, cols.size) && !sized) {
    to = to == SQL_CHAR || to == SQL_VARCHAR ? SQL_LONGVARCHAR : SQL_LONGVARBINARY;
    size = INT32_MAX;
    setInt(cols.size, size);
  }
  if (size > static_cast<int32_t>(JDB_LONG_LIMIT)) {
    if (to == SQL_CHAR || to == SQL_VARCHAR) to = SQL_LONGVARCHAR;
    else if (to == SQL_BINARY || to == SQL_VARBINARY) to = SQL_LONGVARBINARY;
  }
  if (const int32_t fixed = JDB_FixedColumnSize(to); fixed > 0) {
    setInt(cols.size, fixed);
    size = fixed;
  }
  // An exact number declared without a precision (PostgreSQL's numeric)
  // holds as many digits as the type allows.
  if ((to == SQL_NUMERIC || to == SQL_DECIMAL) && (!haveSize || size <= 0) && c != nullptr &&
      c->maxDecimalPrecision > 0) {
    size = c->maxDecimalPrecision;
    setInt(cols.size, size);
  }
  // What ODBC defines for the type, NULL where a column does not apply to it.
  if (!HasDecimalDigits(to)) {
    setNull(cols.digits);
  } else if (JDB_FixedColumnSize(to) > 0) {
    setInt(cols.digits, 0);
  }
  if (JDB_IsNumberType(to)) setInt(cols.radix, 10);
  else setNull(cols.radix);
  const int32_t octets = JDB_TransferOctetLength(to, size);
  if (octets < 0) setNull(cols.bufferLength);
  else setInt(cols.bufferLength, octets);
  if (JDB_CharOctetLength(to, 0) < 0) {
    setNull(cols.octetLength);
  } else if (CellPresent(out, cols.octetLength) &&
             out->columns[cols.octetLength - 1].indicators[r] != RB_IND_DATA && octets >= 0) {
    setInt(cols.octetLength, octets);
  }
  if (to != t) SetInt(col, r, to);
}

namespace {

// A result of narrow rows reads more of them per round trip: as many as
// JDB_FETCH_BYTES of their Java objects take (each value's element width,
// an upper bound of its bytes, with the objects around it), within
// JDB_FETCH_ROWS and JDB_FETCH_ROWS_MAX. A long column leaves the first
// size alone.
void SizeRoundTrips(JStmt* s, const RowBuffer& out) {
  s->resultSized = 1;
  int64_t width = JDB_FETCH_ROW_OVERHEAD;
  for (uint16_t i = 0; i < out.colCount; ++i) {
    const int16_t t = s->colJdbcTypes != nullptr && i < s->colCount ? s->colJdbcTypes[i] : 0;
    if (DescribedLong(t) || RB_IsPtrType(out.columns[i].type)) return;
    width += JDB_FETCH_VALUE_OVERHEAD + out.columns[i].width;
  }
  const int64_t rows = std::min<int64_t>(JDB_FETCH_BYTES / width, JDB_FETCH_ROWS_MAX);
  if (rows > JDB_FETCH_ROWS) JC_ResultSet_setFetchSize(s, s->resultSet, static_cast<int32_t>(rows));
}
}  // namespace

void JDB_SetRowBlockReads(bool on) { g_rowBlockReads.store(on, std::memory_order_relaxed); }

void JDB_SetReadAhead(bool on) { gReadAhead.store(on, std::memory_order_relaxed); }

void JDB_PauseReadAheads(AgentHandle h, bool keepOwn) {
  JStmt* own = JDB_FindStmt(h);
  JConn* c = own != nullptr ? own->conn : JDB_FindConn(h);
  if (c == nullptr || c->readAheadCount.load() == 0) return;
  const RowBlockApi* api = LoadedBlockApi();
  JNIEnv* env = api != nullptr ? JVM_AttachThread() : nullptr;
  std::lock_guard<std::mutex> guard(c->readAheadLock);
  for (size_t i = c->readAheads.size(); i-- > 0;) {
    JStmt* s = c->readAheads[i];
    if (keepOwn && s == own) continue;
    if (env != nullptr) CallReader(env, s, api->pause);
    UnlistLocked(s);
  }
}

void JDB_DropReadAhead(JStmt* s) {
  if (s->rowBlock == nullptr) return;
  const RowBlockApi* api = LoadedBlockApi();
  JNIEnv* env = api != nullptr ? JVM_AttachThread() : nullptr;
  if (env != nullptr) CallReader(env, s, api->discard);
  if (s->readAheadListed) {
    std::lock_guard<std::mutex> guard(s->conn->readAheadLock);
    UnlistLocked(s);
  }
}

bool JDB_RowsDrainable(JStmt* s) {
  std::vector<jint> layout;
  std::vector<int32_t> kinds;
  return DescribedLayout(s, &layout, &kinds) == 0 && BlockApi(s->jni) != nullptr;
}

int JDB_DrainRows(JStmt* s) {
  if (s->resultSet == nullptr || (s->flags & JS_END) != 0) return 0;
  std::vector<jint> layout;
  std::vector<int32_t> kinds;
  if (int status = DescribedLayout(s, &layout, &kinds); status != 0) {
    return status == kBlockNotTaken ? KX_ERR_GENERAL : status;
  }
  JNIEnv* env = s->jni;
  const RowBlockApi* api = BlockApi(env);
  if (api == nullptr) return KX_ERR_GENERAL;
  if (int status = EnsureReader(s, api); status != 0) return status;
  const jsize n = static_cast<jsize>(layout.size());
  jintArray shape = env->NewIntArray(n);
  if (shape == nullptr) return Check(s) != 0 ? KX_ERR_GENERAL : KX_ERR_NOMEM;
  env->SetIntArrayRegion(shape, 0, n, layout.data());
  JW_Trace("RowBlock.drain");
  if (!env->ExceptionCheck()) {
    env->CallVoidMethod(s->rowBlock, api->drain, s->resultSet, shape);
  }
  env->DeleteLocalRef(shape);
  if (s->readAheadListed) {
    std::lock_guard<std::mutex> guard(s->conn->readAheadLock);
    UnlistLocked(s);
  }
  return env->ExceptionCheck() ? Check(s) : 0;
}

namespace {

// Whether the last message posted on s has the SQLSTATE.
bool LastStateIs(const JStmt* s, const char* state) {
  const AgentMsg* last = nullptr;
  for (const AgentMsg* m = s->msgs.head; m != nullptr; m = m->next) last = m;
  return last != nullptr && last->sqlstate != nullptr && std::strcmp(last->sqlstate, state) == 0;
}

// A block of a result read inside the agent's own transaction: once the
// result has no more rows to give (its end, the row limit) the transaction
// ends. So it does at a failure of the database's, which ends the result
// there (its transaction is lost); a value the block refused (a date out of
// ODBC's range, 22008) leaves the rows after it to be read.
int32_t StreamAfterBlock(JStmt* s, int32_t status, bool limitReached) {
  if (s->conn->streaming != s) return status;
  if (status != 0 && !LastStateIs(s, "22008")) {
    s->flags |= JS_END;
    JDB_StreamEnd(s, true);
  } else if ((s->flags & JS_END) != 0 || limitReached) {
    JDB_StreamEnd(s, false);
  }
  return status;
}

}  // namespace

void JDB_DropDeferredFailure(JStmt* s) {
  s->deferredStatus = 0;
  JDB_MsgFreeList(&s->deferredMsgs);
}

namespace {

// Keeps a failure that came after rows of the block for the next block.
int32_t DeferFailure(JStmt* s, int32_t status) {
  JDB_DropDeferredFailure(s);
  s->deferredStatus = status;
  s->deferredMsgs = s->msgs;
  s->msgs = AgentMsgList{};
  return 0;
}

// The failure kept for this block: no rows, the failure's status and messages.
int32_t TakeDeferredFailure(JStmt* s, RowBuffer* out) {
  const int32_t status = s->deferredStatus;
  s->deferredStatus = 0;
  JDB_MsgFreeList(&s->msgs);
  s->msgs = s->deferredMsgs;
  s->deferredMsgs = AgentMsgList{};
  const int init = RB_InitColumns(out, 0);
  return init != 0 ? init : status;
}

int32_t FetchBlockNow(JStmt* s, uint16_t wanted, RowBuffer* out);

}  // namespace

int32_t DRV_FetchBlock(AgentHandle h, uint16_t wanted, RowBuffer* out) {
  JStmt* s = nullptr;
  if (int status = JDB_StmtEnter(h, &s); status != 0) return status;
  if (out == nullptr) return KX_ERR_BAD_ARGUMENT;
  if (s->deferredStatus != 0) return TakeDeferredFailure(s, out);
  const int32_t rowsBefore = s->rowsFetched;
  const int32_t status = FetchBlockNow(s, wanted, out);
  if (status != 0 && (s->flags & JS_CALL) == 0 && s->rowsFetched > rowsBefore) return DeferFailure(s, status);
  return status;
}

namespace {

int32_t FetchBlockNow(JStmt* s, uint16_t wanted, RowBuffer* out) {
  if ((s->flags & JS_RESULTS) == 0) return KX_ERR_SEQUENCE;
  JFrame frame(s->jni, JDB_FRAME_LARGE);
  if (!frame.ok()) return KX_ERR_NOMEM;
  if ((s->flags & JS_CALL) != 0 && wanted == 0) {
    JDB_PauseReadAheads(s->handle, false);  // the output parameters come from the statement itself
    int status = fetchCallProc(s, out);
    s->flags |= JS_END;
    return status;
  }
  int32_t n = wanted;
  if (s->maxRows > 0 && s->maxRows - s->rowsFetched < n) {
    n = s->maxRows - s->rowsFetched;
    if (n < 0) n = 0;
  }
  if (n == 0 || (s->flags & JS_END) != 0) {
    return StreamAfterBlock(s, RB_InitColumns(out, 0), s->maxRows > 0 && s->rowsFetched >= s->maxRows);
  }
  for (uint16_t i = 0; i < s->colCount; ++i) {
    int16_t t = s->colJdbcTypes != nullptr ? s->colJdbcTypes[i] : 0;
    // Long values are read whole: one row of them at a time.
    if (DescribedLong(t)) n = 1;
  }
  if (int status = RB_FromColDescs(s->cols, s->colCount, n, out); status != 0) return status;
  if (s->resultSized == 0 && s->resultSet != nullptr) SizeRoundTrips(s, *out);
  if (s->redirectCol >= 0 && s->redirectCol >= out->colCount) {
    LogAt(LOG_ERROR, __FILE__, __LINE__, "The redirectCol is more than count of Columns");
    return KX_ERR_GENERAL;
  }
  if (s->catalogKind == JDB_CAT_TYPEINFO || s->catalogKind == JDB_CAT_PROCEDURES) {
    return FetchTypeList(s, out, n);
  }
  if (g_rowBlockReads.load(std::memory_order_relaxed) && s->catalogKind == 0 && s->redirectCol < 0 && s->columnCap < 0 &&
      s->resultSet != nullptr) {
    int32_t got = 0;
    const int rc = ReadBlock(s, out, n, &got);
    if (rc != kBlockNotTaken) {
      out->rowCount = got;
      s->rowsFetched += got;
      return StreamAfterBlock(s, rc, s->maxRows > 0 && s->rowsFetched >= s->maxRows);
    }
  }
  int toRead = s->redirectCol >= 0 ? 1 : out->colCount;
  int32_t delivered = 0;
  int status = 0;
  while (delivered < n) {
    if (s->resultSet == nullptr ||
        (s->catalogKind == JDB_CAT_STATISTICS && s->conn->opts.jSstoff != 0)) {
      s->flags |= JS_END;
      break;
    }
    uint8_t more = 0;
    status = JC_ResultSet_next(s, s->resultSet, &more);
    if (status != 0) break;
    if (!more) {
      s->flags |= JS_END;
      break;
    }
    if (s->columnCap >= 0) toRead = s->columnCap < out->colCount ? s->columnCap : out->colCount;
    for (int c = 1; c <= toRead && status == 0; ++c) {
      int target = s->redirectCol >= 0 ? s->redirectCol : c - 1;
      int rc = ReadValue(s, kResultSet, s->resultSet, c, &out->columns[target], delivered);
      if (rc == 0 && s->catalogKind == 0 && IsDecimalJdbcType(s, c - 1)) {
        rc = PlainDecimalElement(&out->columns[target], delivered);
      }
      if (rc < 0) {
        LogAt(LOG_ERROR, __FILE__, __LINE__, "Unknown storage type %u in a fetch",
              out->columns[target].type);
        status = KX_ERR_GENERAL;
      } else {
        status = rc;
      }
    }
    if (status != 0) break;
    if (s->catalogKind != 0) FixRow(s, out, delivered);
    ++delivered;
  }
  out->rowCount = delivered;
  s->rowsFetched += delivered;
  return StreamAfterBlock(s, status, s->maxRows > 0 && s->rowsFetched >= s->maxRows);
}

}  // namespace

uint32_t JDB_OutputStorageOf(int32_t jdbcType) {
  switch (jdbcType) {
    case JT_INTEGER: return RBT_SLONG;
    case JT_SMALLINT: case JT_TINYINT: return RBT_SSHORT;
    case JT_REAL: return RBT_FLOAT;
    case JT_FLOAT: case JT_DOUBLE: return RBT_DOUBLE;
    case JT_BIT: case JT_BOOLEAN: return RBT_BIT;
    case JT_DATE: return RBT_DATE;
    case JT_TIME: return RBT_TIME;
    case JT_TIMESTAMP: return RBT_TIMESTAMP;
    default: return RBT_NONE;
  }
}

int JDB_CopyParamRows(const JStmt* s, RowBuffer* out, const RowBuffer* src) {
  const uint16_t n = src->colCount;
  if (int status = RB_InitColumns(out, n); status != 0) return status;
  for (uint16_t p = 0; p < n; ++p) {
    const RowBufferColumn& from = src->columns[p];
    RowBufferColumn& to = out->columns[p];
    to.type = from.type;
    to.width = from.width;
    if (JDB_ParamDirection(s, p) == 1) continue;
    // The output is read with the getter of the type it was registered as
    // (a JDBC driver may refuse any other: PostgreSQL's 2200G); the core
    // converts that value to the application's C type.
    if (const uint32_t fixed = JDB_OutputStorageOf(JDB_OutputJdbcType(s, p)); fixed != RBT_NONE) {
      to.type = fixed;
      to.width = RB_ElementSize(fixed, 0);
      continue;
    }
    // An output value may be longer than what went in: long storage.
    switch (from.type) {
      case RBT_CHAR: case RBT_CHAR_NTS: case RBT_CHAR_LEN1: case RBT_CHAR_LEN2:
      case RBT_CHAR_LEN4:
        to.type = RBT_CHAR_PTR;
        break;
      case RBT_BINARY: case RBT_BINARY_LEN1: case RBT_BINARY_LEN2: case RBT_BINARY_LEN4:
        to.type = RBT_BINARY_PTR;
        break;
      case RBT_WCHAR: case RBT_WCHAR_NTS: case RBT_WCHAR_LEN4:
        to.type = RBT_WCHAR_PTR;
        break;
      default:
        break;
    }
    if (to.type != from.type) to.width = sizeof(RBPtrValue);
  }
  out->colCount = n;
  const int32_t rows = src->rowCount;
  if (int status = RB_AllocRows(out, rows); status != 0) {
    RB_Free(out);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "Memory allocation failure");
    return status;
  }
  for (uint16_t p = 0; p < n; ++p) {
    const RowBufferColumn& from = src->columns[p];
    RowBufferColumn& to = out->columns[p];
    for (int32_t r = 0; r < rows; ++r) to.indicators[r] = from.indicators[r];
    if (to.type == from.type && !RB_IsPtrType(from.type)) {
      if (rows > 0) std::memcpy(to.data, from.data, size_t{from.width} * static_cast<size_t>(rows));
      continue;
    }
    if (to.type != from.type) {
      // Output column: input values are not carried over; the output is read into row 0.
      continue;
    }
    for (int32_t r = 0; r < rows; ++r) {
      RBPtrValue v = RB_GetPtrValue(RB_Element(&from, static_cast<size_t>(r)));
      if (v.block == nullptr) continue;
      size_t bytes = RB_PtrBytes(from.type, v.length);
      void* copy = std::malloc(bytes + 2);
      if (copy == nullptr) {
        RB_Free(out);
        LogAt(LOG_ERROR, __FILE__, __LINE__, "Memory allocation failure");
        return KX_ERR_NOMEM;
      }
      std::memcpy(copy, v.block, bytes);
      std::memset(static_cast<char*>(copy) + bytes, 0, 2);
      RB_SetPtrValue(RB_Element(&to, static_cast<size_t>(r)), RBPtrValue{v.length, copy});
    }
  }
  out->rowCount = rows;
  return 0;
}

// A decimal output into text storage: read as the number it was registered
// as, written out in plain form. -1: not such an output (read as any other).
int ReadDecimalOutput(JStmt* s, int p, RowBufferColumn* col) {
  const int32_t jdbcType = JDB_OutputJdbcType(s, p);
  if ((jdbcType != JT_NUMERIC && jdbcType != JT_DECIMAL) ||
      (col->type != RBT_CHAR_PTR && col->type != RBT_WCHAR_PTR)) {
    return -1;
  }
  std::string text;
  bool isNull = true;
  if (int status = JC_CallableStatement_getDecimalText(s, s->stmt, p + 1, &text, &isNull); status != 0) {
    return status;
  }
  col->indicators[0] = isNull ? RB_IND_NULL : RB_IND_DATA;
  if (isNull) return 0;
  return PutPtrAscii(col, RB_Element(col, 0), text);
}

int fetchCallProc(JStmt* s, RowBuffer* out) {
  if (s->paramRows == nullptr) return RB_InitColumns(out, 0);
  if (int status = JDB_CopyParamRows(s, out, s->paramRows); status != 0) return status;
  if (out->rowCount == 0) return 0;
  for (uint16_t p = 0; p < out->colCount; ++p) {
    if (JDB_ParamDirection(s, p) == 1) continue;
    int rc = ReadDecimalOutput(s, p, &out->columns[p]);
    if (rc < 0) {
      rc = ReadValue(s, kCallable, s->stmt, p + 1, &out->columns[p], 0);
      const int32_t t = JDB_ParamSqlType(s, p);
      if (rc == 0 && (t == SQL_NUMERIC || t == SQL_DECIMAL)) rc = PlainDecimalElement(&out->columns[p], 0);
    }
    if (rc < 0) {
      LogAt(LOG_ERROR, __FILE__, __LINE__, "Unknown type = %u in fetchCallProc",
            out->columns[p].type);
      return KX_ERR_GENERAL;
    }
    if (rc != 0) return rc;
  }
  s->flags |= JS_OUT_DELIVERED;
  return 0;
}

}  // namespace kx
