// The conversions around a wide export's call.
#include "odbc/wide_entry.h"

#include <cstring>
#include <mutex>

#include "odbc/handle_layer.h"
#include "util/text_conv.h"

namespace kx {

namespace {

// Room given to the handler when the caller passes no buffer (or no room):
// enough to learn the length of any ordinary text in characters.
constexpr int64_t kProbeUnits = 1024;

}  // namespace

WideIn::WideIn(const SQLWCHAR* text, int64_t length) : text_(text), length_(length) {
  if (text == nullptr) return;
  const auto* units = reinterpret_cast<const char16_t*>(text);
  // Any other negative length is the handler's to judge (length() passes it
  // on); the text is read up to its terminator, as the narrow entry would.
  copy_ = Ucs2ToUtf8DupN(units, length < 0 ? TEXT_NTS : length);
}

WideOut::WideOut(SQLWCHAR* buffer, int64_t capacity, int64_t limit, Room room)
    : caller_(buffer), callerCapacity_(capacity), limit_(limit) {
  if (capacity < 0) {
    // A negative capacity reaches the handler unchanged, which refuses it.
    tempCapacity_ = capacity;
    return;
  }
  const int64_t units = (buffer == nullptr || capacity == 0) ? kProbeUnits : capacity;
  int64_t bytes = 4 * units;
  if (room == kWholeRoom || bytes > limit) bytes = limit;
  temp_ = static_cast<char*>(calloc(static_cast<size_t>(bytes) + 1, 1));
  if (temp_ == nullptr) {
    failed_ = true;
    return;
  }
  tempCapacity_ = bytes;
}

int64_t WideOut::Finish(int64_t handlerLength, bool* cut) {
  *cut = false;
  if (temp_ == nullptr) return handlerLength;
  temp_[tempCapacity_] = '\0';
  int64_t units = static_cast<int64_t>(Utf8CharCount(temp_, TEXT_NTS));
  // When the handler had to cut its own copy the whole text is longer than
  // what came back; its byte length bounds the characters from above, which
  // is what a caller sizing a buffer needs.
  if (handlerLength > static_cast<int64_t>(strlen(temp_))) units = handlerLength;
  if (caller_ != nullptr && callerCapacity_ > 0) {
    Utf8ToUcs2CopyN(reinterpret_cast<char16_t*>(caller_), temp_,
                    static_cast<size_t>(callerCapacity_));
    if (units >= callerCapacity_) *cut = true;
  } else if (caller_ != nullptr && callerCapacity_ == 0 && units > 0) {
    *cut = true;  // no room at all: nothing written, the cut is reported
  }
  return units;
}

bool WideOut::Regrow(int64_t handlerLength) {
  if (temp_ == nullptr || tempCapacity_ >= limit_) return false;
  temp_[tempCapacity_] = '\0';
  if (handlerLength <= static_cast<int64_t>(strlen(temp_))) return false;
  // Room for the whole text and its terminator.
  const int64_t bytes = handlerLength < limit_ ? handlerLength + 1 : limit_;
  char* grown = static_cast<char*>(calloc(static_cast<size_t>(bytes) + 1, 1));
  if (grown == nullptr) return false;  // the cut copy still answers, its length an upper bound
  free(temp_);
  temp_ = grown;
  tempCapacity_ = bytes;
  return true;
}

void SetHandleError(uint32_t kind, SQLHANDLE handle, int32_t code) {
  std::lock_guard<std::recursive_mutex> lock(HandleLock());
  HandleHead* head = LookupHandle(kind, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)));
  if (head != nullptr) head->error = code;
}

}  // namespace kx
