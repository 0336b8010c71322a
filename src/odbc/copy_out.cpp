#include "odbc/copy_out.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "util/errcodes.h"
#include "util/text_conv.h"

namespace kx {

namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char16_t UnitAt(const void* base, uint64_t index) {
  char16_t u;
  std::memcpy(&u, static_cast<const unsigned char*>(base) + 2 * index, 2);
  return u;
}

// Decodes UTF-8 into at most maxUnits UTF-16 units, whole characters only.
// dst (bytes, any alignment) may be NULL to count. An invalid sequence becomes
// U+FFFD for its first byte and decoding goes on, so every byte of the value
// can be delivered. Returns the units; *used receives the bytes consumed.
uint64_t DecodeNarrow(const char* src, uint64_t srcLen, unsigned char* dst, uint64_t maxUnits,
                      uint64_t* used) {
  char16_t chunk[512];
  uint64_t units = 0;
  uint64_t pos = 0;
  while (pos < srcLen && units < maxUnits) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(maxUnits - units, std::size(chunk)));
    size_t got = 0;
    size_t n = Utf8ToUcs2Counted(src + pos, chunk, static_cast<size_t>(srcLen - pos), want, &got);
    if (dst != nullptr && n > 0) std::memcpy(dst + 2 * units, chunk, 2 * n);
    units += n;
    pos += got;
    if (got > 0) continue;
    // Nothing taken at pos: a character that needs more room than is left,
    // or an invalid sequence.
    char16_t probe[2];
    size_t probeGot = 0;
    Utf8ToUcs2Counted(src + pos, probe, static_cast<size_t>(srcLen - pos), 2, &probeGot);
    if (probeGot > 0) break;
    if (dst != nullptr) {
      const char16_t replacement = 0xFFFD;
      std::memcpy(dst + 2 * units, &replacement, 2);
    }
    ++units;
    ++pos;
  }
  *used = pos;
  return units;
}

int16_t Finish(int32_t* err) {
  return *err == KX_ERR_DATA_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The steps every copy-out shares before anything is written. Returns true
// when the caller goes on to write; otherwise *rc holds the result.
// needed: the converted whole source plus terminator, in target bytes.
// cut: set when only part of the source may be written.
bool Prepare(uint64_t needed, int64_t pieceLen, int64_t totalLen, int32_t mayCut, void* target,
             int64_t targetLen, int32_t* err, bool* cut, int16_t* rc) {
  *cut = false;
  if (target == nullptr) {
    *rc = Finish(err);
    return false;
  }
  if (targetLen == 0) {
    *err = KX_ERR_DATA_TRUNCATED;
    *rc = SQL_SUCCESS_WITH_INFO;
    return false;
  }
  if (needed > static_cast<uint64_t>(targetLen)) {
    if (!mayCut) {
      *err = KX_ERR_NUMERIC_RANGE;
      *rc = SQL_ERROR;
      return false;
    }
    *err = KX_ERR_DATA_TRUNCATED;
    *cut = true;
  } else if (totalLen != SQL_NO_TOTAL && totalLen > pieceLen) {
    *err = KX_ERR_DATA_TRUNCATED;  // this piece fits, but the value goes on
  }
  return true;
}

// Length of the whole value in the target's unit, for a conversion whose
// expansion is not known beyond the source at hand.
int64_t ConvertedTotal(uint64_t srcLen, int64_t totalLen, uint64_t convertedLen) {
  if (totalLen == SQL_NO_TOTAL) return SQL_NO_TOTAL;
  if (totalLen > 0 && static_cast<uint64_t>(totalLen) > srcLen) return SQL_NO_TOTAL;
  return static_cast<int64_t>(convertedLen);
}

// Length of the whole value when no conversion changes it: the total when
// known, else the source length (a stray negative total is no length).
int64_t WholeLength(uint64_t srcLen, int64_t totalLen) {
  if (totalLen > 0 || totalLen == SQL_NO_TOTAL) return totalLen;
  return static_cast<int64_t>(srcLen);
}

bool RefuseLength(int64_t targetLen, int32_t* err, uint64_t* consumed, int16_t* rc) {
  if (consumed != nullptr) *consumed = 0;
  if (targetLen >= 0) return false;
  *err = KX_ERR_BAD_LENGTH;
  *rc = SQL_ERROR;
  return true;
}

}  // namespace

int16_t CopyOutNarrow(const void* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                      int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                      int64_t* outLen, int32_t* err, uint64_t* consumed) {
  int16_t rc;
  if (RefuseLength(targetLen, err, consumed, &rc)) return rc;
  if (outLen != nullptr) *outLen = WholeLength(srcLen, totalLen);
  const uint64_t term = terminate ? 1 : 0;
  bool cut;
  if (!Prepare(srcLen + term, pieceLen, totalLen, mayCut, target, targetLen, err, &cut, &rc)) {
    return rc;
  }
  const uint64_t count = cut ? static_cast<uint64_t>(targetLen) - term : srcLen;
  auto* out = static_cast<unsigned char*>(target);
  if (count > 0) std::memcpy(out, src, count);
  if (term) out[count] = 0;
  if (consumed != nullptr) *consumed = count;
  return Finish(err);
}

int16_t CopyOutWide(const void* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                    int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                    int64_t* outLen, int32_t* err, uint64_t* consumed) {
  int16_t rc;
  if (RefuseLength(targetLen, err, consumed, &rc)) return rc;
  if (outLen != nullptr) *outLen = WholeLength(srcLen, totalLen);
  const uint64_t term = terminate ? 2 : 0;
  bool cut;
  if (!Prepare(srcLen + term, pieceLen, totalLen, mayCut, target, targetLen, err, &cut, &rc)) {
    return rc;
  }
  uint64_t count = srcLen;
  if (cut) {
    if (static_cast<uint64_t>(targetLen) < term) return Finish(err);  // no room for the terminator
    count = (static_cast<uint64_t>(targetLen) - term) & ~uint64_t{1};
    // Keep a surrogate pair whole: the next piece starts with its high half.
    // Where the high half is all that fits, a caller reading in pieces gets
    // it now and the low half next time rather than nothing ever.
    if (count >= 2 && count + 2 <= srcLen && IsHighSurrogate(UnitAt(src, count / 2 - 1)) &&
        IsLowSurrogate(UnitAt(src, count / 2)) && (count > 2 || consumed == nullptr)) {
      count -= 2;
    }
  }
  auto* out = static_cast<unsigned char*>(target);
  if (count > 0) std::memcpy(out, src, count);
  if (term) out[count] = out[count + 1] = 0;
  if (consumed != nullptr) *consumed = count;
  return Finish(err);
}

namespace {

// CopyOutWideToNarrow for a caller reading in pieces (split given).
int16_t WideToNarrowPieces(const char16_t* src, uint64_t srcLen, int64_t pieceLen,
                            int64_t totalLen, int32_t terminate, int32_t mayCut, void* target,
                            int64_t targetLen, int64_t* outLen, int32_t* err, uint64_t* consumed,
                            uint32_t* split) {
  int16_t rc;
  if (RefuseLength(targetLen, err, consumed, &rc)) return rc;
  const uint64_t bytes = srcLen == 0 ? 0 : Ucs2Utf8Len(src, static_cast<int64_t>(srcLen));
  // Bytes of the first character an earlier call already delivered.
  uint64_t done = split != nullptr ? *split : 0;
  if (done >= bytes) done = 0;
  if (split != nullptr) *split = 0;
  if (outLen != nullptr) {
    const int64_t whole = ConvertedTotal(srcLen, totalLen, bytes);
    *outLen = whole == SQL_NO_TOTAL ? whole : whole - static_cast<int64_t>(done);
  }
  const uint64_t term = terminate ? 1 : 0;
  bool cut;
  if (!Prepare(bytes - done + term, pieceLen, totalLen, mayCut, target, targetLen, err, &cut, &rc)) {
    return rc;
  }
  const uint64_t room = cut ? static_cast<uint64_t>(targetLen) - term : bytes - done;
  auto* out = static_cast<char*>(target);
  size_t units = 0;
  size_t written = 0;
  if (srcLen > 0 && room > 0 && split != nullptr) {
    // The first character on its own, when an earlier call began it or when
    // it is longer than the room: the part that fits goes out now.
    char first[8];
    size_t firstUnits = 0;
    const size_t pairUnits =
        srcLen >= 2 && IsHighSurrogate(src[0]) && IsLowSurrogate(src[1]) ? 2 : 1;
    const size_t firstLen = Ucs2ToUtf8N(src, first, pairUnits, sizeof first, &firstUnits);
    if (firstUnits > 0 && (done > 0 || firstLen > room)) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(firstLen - done, room));
      std::memcpy(out, first + done, take);
      written = take;
      if (done + take < firstLen) {
        *split = static_cast<uint32_t>(done + take);
      } else {
        units = firstUnits;
      }
    }
  }
  if (srcLen > units && room > written && (split == nullptr || *split == 0)) {
    size_t more = 0;
    written += Ucs2ToUtf8N(src + units, out + written, static_cast<size_t>(srcLen - units),
                           static_cast<size_t>(room - written), &more);
    units += more;
  }
  if (term) out[written] = 0;
  if (consumed != nullptr) *consumed = units;
  return Finish(err);
}

}  // namespace

int16_t CopyOutWideToNarrow(const char16_t* src, uint64_t srcLen, int64_t pieceLen,
                            int64_t totalLen, int32_t terminate, int32_t mayCut, void* target,
                            int64_t targetLen, int64_t* outLen, int32_t* err, uint64_t* consumed,
                            uint32_t* split) {
  // A caller reading in pieces may need a character delivered across calls.
  if (split != nullptr) {
    return WideToNarrowPieces(src, srcLen, pieceLen, totalLen, terminate, mayCut, target, targetLen, outLen, err,
                              consumed, split);
  }
  int16_t rc;
  if (RefuseLength(targetLen, err, consumed, &rc)) return rc;
  const uint64_t term = terminate ? 1 : 0;
  auto* out = static_cast<char*>(target);
  size_t units = 0;
  size_t written = 0;
  uint64_t bytes;
  if (out != nullptr && mayCut && static_cast<uint64_t>(targetLen) > term) {
    // Text that may be cut is converted straight into the target, which
    // takes as much as fits whatever the whole length turns out to be; only
    // a rest that does not fit is measured on top. (Measuring first would
    // encode every value twice.)
    const uint64_t room = static_cast<uint64_t>(targetLen) - term;
    if (srcLen > 0) {
      written = Ucs2ToUtf8N(src, out, static_cast<size_t>(srcLen), static_cast<size_t>(room), &units);
    }
    bytes = written + (units < srcLen ? Ucs2Utf8Len(src + units, static_cast<int64_t>(srcLen - units)) : 0);
  } else {
    bytes = srcLen == 0 ? 0 : Ucs2Utf8Len(src, static_cast<int64_t>(srcLen));
  }
  if (outLen != nullptr) *outLen = ConvertedTotal(srcLen, totalLen, bytes);
  bool cut;
  if (!Prepare(bytes + term, pieceLen, totalLen, mayCut, target, targetLen, err, &cut, &rc)) {
    return rc;
  }
  if (written == 0 && units == 0) {
    const uint64_t room = cut ? static_cast<uint64_t>(targetLen) - term : bytes;
    if (srcLen > 0 && room > 0) {
      written = Ucs2ToUtf8N(src, out, static_cast<size_t>(srcLen), static_cast<size_t>(room), &units);
    }
  }
  if (term) out[written] = 0;
  if (consumed != nullptr) *consumed = units;
  return Finish(err);
}

uint64_t NarrowToWideUnits(const char* src, uint64_t srcLen) {
  uint64_t used = 0;
  return DecodeNarrow(src, srcLen, nullptr, UINT64_MAX, &used);
}

int16_t CopyOutNarrowToWide(const char* src, uint64_t srcLen, int64_t pieceLen, int64_t totalLen,
                            int32_t terminate, int32_t mayCut, void* target, int64_t targetLen,
                            int64_t* outLen, int32_t* err, uint64_t* consumed, uint32_t* split) {
  int16_t rc;
  if (RefuseLength(targetLen, err, consumed, &rc)) return rc;
  const uint64_t units = NarrowToWideUnits(src, srcLen);
  // Units of the first character (a surrogate pair) an earlier call already
  // delivered.
  uint64_t done = split != nullptr ? *split : 0;
  if (done >= units) done = 0;
  if (split != nullptr) *split = 0;
  if (outLen != nullptr) {
    const int64_t whole = ConvertedTotal(srcLen, totalLen, 2 * units);
    *outLen = whole == SQL_NO_TOTAL ? whole : whole - static_cast<int64_t>(2 * done);
  }
  const uint64_t term = terminate ? 2 : 0;
  bool cut;
  if (!Prepare(2 * (units - done) + term, pieceLen, totalLen, mayCut, target, targetLen, err, &cut,
               &rc)) {
    return rc;
  }
  if (cut && static_cast<uint64_t>(targetLen) < term) return Finish(err);  // no room for the terminator
  const uint64_t roomUnits = cut ? (static_cast<uint64_t>(targetLen) - term) / 2 : units - done;
  auto* out = static_cast<unsigned char*>(target);
  uint64_t used = 0;
  uint64_t written = 0;
  bool partial = false;
  if (srcLen > 0 && roomUnits > 0 && split != nullptr) {
    // The first character on its own, when an earlier call began it or when
    // it needs more units than the room: the part that fits goes out now.
    unsigned char first[4];
    uint64_t firstBytes = 0;
    uint64_t firstUnits = DecodeNarrow(src, srcLen, first, 1, &firstBytes);
    if (firstUnits == 0) firstUnits = DecodeNarrow(src, srcLen, first, 2, &firstBytes);
    if (firstUnits > 0 && (done > 0 || firstUnits > roomUnits)) {
      const uint64_t take = std::min<uint64_t>(firstUnits - done, roomUnits);
      std::memcpy(out, first + 2 * done, 2 * take);
      written = take;
      if (done + take < firstUnits) {
        *split = static_cast<uint32_t>(done + take);
        partial = true;
      } else {
        used = firstBytes;
      }
    }
  }
  if (!partial && srcLen > used && roomUnits > written) {
    uint64_t more = 0;
    written += DecodeNarrow(src + used, srcLen - used, out + 2 * written, roomUnits - written, &more);
    used += more;
  }
  if (term) out[2 * written] = out[2 * written + 1] = 0;
  if (consumed != nullptr) *consumed = used;
  return Finish(err);
}

uint8_t HexDigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

void HexDecode(uint8_t* target, const char* text, uint64_t length) {
  for (uint64_t i = 0; i < length / 2; ++i) {
    target[i] = static_cast<uint8_t>(16 * HexDigitValue(static_cast<uint8_t>(text[2 * i])) +
                                     HexDigitValue(static_cast<uint8_t>(text[2 * i + 1])));
  }
}

}  // namespace kx
