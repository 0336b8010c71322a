// What a wide (UTF-16) export does around its call: input text becomes a
// terminated UTF-8 copy passed with SQL_NTS, and each text output gets a
// temporary UTF-8 buffer that is converted back into the caller's UTF-16
// buffer after the call. A text that does not fit is cut and terminated, the
// length reported is that of the whole text in characters, and the entry
// answers SQL_SUCCESS_WITH_INFO with 01004 on the handle.
#pragma once

#include <sql.h>
#include <sqlucode.h>

#include <cstdint>
#include <cstdlib>


namespace kx {

// A UTF-8 copy of 16-bit input text (length in units, or SQL_NTS). A NULL
// text stays NULL. ok() is false when the copy could not be made.
class WideIn {
 public:
  WideIn(const SQLWCHAR* text, int64_t length);
  ~WideIn() { free(copy_); }
  WideIn(const WideIn&) = delete;
  WideIn& operator=(const WideIn&) = delete;
  bool ok() const { return text_ == nullptr || copy_ != nullptr; }
  const char* get() const { return copy_; }
  SQLCHAR* sql() const { return reinterpret_cast<SQLCHAR*>(copy_); }
  // The length to pass with the copy: SQL_NTS, or the caller's length when
  // there is no text or the length is invalid (so that the handler refuses it).
  int64_t length() const {
    return text_ != nullptr && (length_ == SQL_NTS || length_ >= 0) ? SQL_NTS : length_;
  }

 private:
  const SQLWCHAR* text_;
  int64_t length_;
  char* copy_ = nullptr;
};

// One text output of a wide entry. capacity counts the caller's SQLWCHARs;
// limit is the largest capacity the handler's argument can carry (the entry
// clamps to it instead of letting 4n wrap). The temporary buffer is zeroed.
// The length an entry reports counts the characters of the whole text,
// whatever the caller's room: an entry whose call can be repeated calls
// again when Regrow says the handler had to cut its copy; an entry whose
// call must not run twice (a connect, a diagnostic that is consumed) asks
// for whole room (up to limit) from the start.
class WideOut {
 public:
  enum Room { kCallerRoom, kWholeRoom };
  WideOut(SQLWCHAR* buffer, int64_t capacity, int64_t limit, Room room = kCallerRoom);
  ~WideOut() { free(temp_); }
  WideOut(const WideOut&) = delete;
  WideOut& operator=(const WideOut&) = delete;
  bool ok() const { return !failed_; }
  // What to hand the handler.
  char* buffer() const { return temp_; }
  SQLCHAR* sql() const { return reinterpret_cast<SQLCHAR*>(temp_); }
  int64_t capacity() const { return tempCapacity_; }
  // After the call: converts the handler's text (handlerLength: the byte
  // length it reported, or -1 when none) into the caller's buffer. Returns
  // the length in characters to report and sets cut when the caller's buffer
  // was too small. Only call for SQL_SUCCESS and SQL_SUCCESS_WITH_INFO.
  int64_t Finish(int64_t handlerLength, bool* cut);
  // After a successful call: true when the handler reported more bytes than
  // it could write and the temporary buffer has now grown to hold them all
  // (the entry then calls again with buffer() and capacity()).
  bool Regrow(int64_t handlerLength);

 private:
  SQLWCHAR* caller_;
  int64_t callerCapacity_;
  int64_t limit_;
  char* temp_ = nullptr;
  int64_t tempCapacity_ = 0;
  bool failed_ = false;
};

// Leaves an internal error code on a handle after its call (the wide entries'
// 01004); nothing when the handle is no longer valid.
void SetHandleError(uint32_t kind, SQLHANDLE handle, int32_t code);

inline SQLSMALLINT ClampSmall(int64_t v) {
  return static_cast<SQLSMALLINT>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline SQLINTEGER ClampInt(int64_t v) {
  return static_cast<SQLINTEGER>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

}  // namespace kx
