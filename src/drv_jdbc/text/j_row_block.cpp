#include "drv_jdbc/text/j_row_block.h"

#include <cstring>

namespace kx {

namespace {

template <typename T>
void Put(unsigned char* element, T value) {
  std::memcpy(element, &value, sizeof value);
}

void PutLength(unsigned char* e, uint32_t head, uint32_t n) {
  if (head == 1) Put(e, static_cast<uint8_t>(n));
  else if (head == 2) Put(e, static_cast<uint16_t>(n));
  else if (head == 4) Put(e, n);
}

// A forward reader over the packed bytes that never reads past the end.
class Reader {
 public:
  Reader(const unsigned char* data, size_t size) : p_(data), left_(size) {}
  bool Take(size_t n, const unsigned char** at) {
    if (n > left_) return false;
    *at = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  template <typename T>
  bool Read(T* v) {
    const unsigned char* at = nullptr;
    if (!Take(sizeof(T), &at)) return false;
    std::memcpy(v, at, sizeof(T));
    return true;
  }
  size_t left() const { return left_; }

 private:
  const unsigned char* p_;
  size_t left_;
};

// Three 16-bit fields of a date or a time into the element's first six bytes.
bool DateLike(Reader* in, bool isNull, unsigned char* e) {
  uint16_t f[3] = {0, 0, 0};
  if (!isNull && !(in->Read(&f[0]) && in->Read(&f[1]) && in->Read(&f[2]))) return false;
  std::memcpy(e, f, sizeof f);
  return true;
}

// A time and its nanoseconds into a time element that keeps a fraction.
bool TimeFraction(Reader* in, bool isNull, const RowBufferColumn* col, unsigned char* e) {
  if (!RB_TimeHasFraction(col) || !DateLike(in, isNull, e)) return false;
  uint32_t nanos = 0;
  if (!isNull && !in->Read(&nanos)) return false;
  Put(e + RB_TIME_WIDTH, nanos);
  return true;
}

bool Timestamp(Reader* in, bool isNull, unsigned char* e) {
  uint16_t f[6] = {0, 0, 0, 0, 0, 0};
  uint32_t nanos = 0;
  if (!isNull) {
    for (uint16_t& v : f) {
      if (!in->Read(&v)) return false;
    }
    if (!in->Read(&nanos)) return false;
  }
  // SQL_TIMESTAMP_STRUCT: six 16-bit fields, then the fraction.
  std::memcpy(e, f, sizeof f);
  Put(e + sizeof f, nanos);
  return true;
}

// Text, bytes or wide text: a count, then count units of unit bytes, placed
// after the element's length prefix; terminated (terminator units of zero)
// or, for binary, padded with zeros to the element's end.
bool Counted(Reader* in, bool isNull, const RowBufferColumn* col, unsigned char* e, size_t unit,
             size_t terminator) {
  const uint32_t head = RB_LengthPrefixBytes(col->type);
  uint32_t n = 0;
  const unsigned char* bytes = nullptr;
  if (!isNull) {
    if (!in->Read(&n)) return false;
    const uint64_t need = uint64_t{head} + uint64_t{n} * unit + terminator;
    if (need > col->width) return false;
    if (!in->Take(size_t{n} * unit, &bytes)) return false;
  }
  if (uint64_t{head} + terminator > col->width) return false;
  const size_t size = size_t{n} * unit;
  if (size > 0) std::memcpy(e + head, bytes, size);
  if (terminator > 0) std::memset(e + head + size, 0, terminator);
  else std::memset(e + head + size, 0, col->width - head - size);
  PutLength(e, head, n);
  return true;
}

// A fixed-size value placed as it arrives.
template <typename T>
bool AsArrived(Reader* in, unsigned char* e) {
  T v = 0;
  if (!in->Read(&v)) return false;
  Put(e, v);
  return true;
}

// A value that arrives wider than an unsigned element: whole when the element
// is the signed type it arrives as, else its low bits.
template <typename Wide, typename Low>
bool LowBits(Reader* in, unsigned char* e, bool whole) {
  Wide v = 0;
  if (!in->Read(&v)) return false;
  if (whole) Put(e, v);
  else Put(e, static_cast<Low>(v));
  return true;
}

bool DecodeValue(Reader* in, int32_t kind, RowBufferColumn* col, int32_t r) {
  uint8_t flag = 0;
  if (!in->Read(&flag) || flag > 1) return false;
  const bool isNull = flag == 1;
  unsigned char* e = RB_Element(col, static_cast<size_t>(r));
  bool ok = true;
  switch (kind) {
    case kRowBlockBoolean: {
      uint8_t v = 0;
      ok = in->Read(&v);
      if (ok) Put(e, static_cast<uint8_t>(v != 0 ? 1 : 0));
      break;
    }
    case kRowBlockByte:
      ok = AsArrived<int8_t>(in, e);
      break;
    case kRowBlockShort:
      // An unsigned tinyint arrives as a short.
      ok = LowBits<int16_t, uint8_t>(in, e, col->type == RBT_SSHORT);
      break;
    case kRowBlockInt:
      // An unsigned short arrives as an int.
      ok = LowBits<int32_t, uint16_t>(in, e, col->type == RBT_SLONG);
      break;
    case kRowBlockFloat:
      ok = AsArrived<uint32_t>(in, e);
      break;
    case kRowBlockDouble:
      ok = AsArrived<uint64_t>(in, e);
      break;
    case kRowBlockDate:
    case kRowBlockTime:
      ok = DateLike(in, isNull, e);
      break;
    case kRowBlockTimeFraction:
      ok = TimeFraction(in, isNull, col, e);
      break;
    case kRowBlockTimestamp:
      ok = Timestamp(in, isNull, e);
      break;
    case kRowBlockText:
      ok = Counted(in, isNull, col, e, 1, 1);
      break;
    case kRowBlockBytes:
      ok = Counted(in, isNull, col, e, 1, 0);
      break;
    case kRowBlockWide:
      ok = Counted(in, isNull, col, e, 2, 2);
      break;
    default:
      return false;
  }
  if (!ok) return false;
  col->indicators[r] = isNull ? RB_IND_NULL : RB_IND_DATA;
  return true;
}

}  // namespace

bool JDB_PlainDecimalText(const char* text, size_t n, std::string* out) {
  size_t i = 0;
  while (i < n && text[i] == ' ') ++i;
  std::string sign;
  if (i < n && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') sign = "-";
    ++i;
  }
  std::string digits;
  int64_t point = -1;  // digits before the decimal point
  for (; i < n && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'); ++i) {
    if (text[i] == '.') {
      if (point >= 0) return false;
      point = static_cast<int64_t>(digits.size());
    } else {
      digits += text[i];
    }
  }
  if (digits.empty() || i >= n || (text[i] != 'E' && text[i] != 'e')) return false;
  if (point < 0) point = static_cast<int64_t>(digits.size());
  ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t exponent = 0;
  size_t expDigits = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++expDigits) {
    exponent = exponent * 10 + (text[i] - '0');
    if (exponent > 100000) return false;  // no plain form worth writing
  }
  while (i < n && text[i] == ' ') ++i;
  if (expDigits == 0 || i != n) return false;
  const int64_t at = point + (negative ? -exponent : exponent);  // new place of the point
  std::string plain;
  if (at <= 0) {
    plain = "0." + std::string(static_cast<size_t>(-at), '0') + digits;
  } else if (at >= static_cast<int64_t>(digits.size())) {
    plain = digits + std::string(static_cast<size_t>(at) - digits.size(), '0');
  } else {
    plain = digits.substr(0, static_cast<size_t>(at)) + "." + digits.substr(static_cast<size_t>(at));
  }
  // One zero before the point at most.
  size_t lead = 0;
  while (lead + 1 < plain.size() && plain[lead] == '0' && plain[lead + 1] != '.') ++lead;
  *out = sign + plain.substr(lead);
  return true;
}

bool JDB_RowBlockKind(const RowBufferColumn& col, bool wideText, int32_t* kind, int32_t* room) {
  const int64_t w = col.width;
  const int64_t head = RB_LengthPrefixBytes(col.type);
  *room = 0;
  switch (col.type) {
    case RBT_BIT: *kind = kRowBlockBoolean; return true;
    case RBT_STINYINT: *kind = kRowBlockByte; return true;
    case RBT_SSHORT: case RBT_UTINYINT: *kind = kRowBlockShort; return true;
    case RBT_SLONG: case RBT_USHORT: *kind = kRowBlockInt; return true;
    case RBT_FLOAT: *kind = kRowBlockFloat; return true;
    case RBT_DOUBLE: *kind = kRowBlockDouble; return true;
    case RBT_DATE: *kind = kRowBlockDate; return true;
    case RBT_TIME: *kind = RB_TimeHasFraction(&col) ? kRowBlockTimeFraction : kRowBlockTime; return true;
    case RBT_TIMESTAMP: *kind = kRowBlockTimestamp; return true;
    case RBT_CHAR: case RBT_CHAR_NTS:
    case RBT_CHAR_LEN1: case RBT_CHAR_LEN2: case RBT_CHAR_LEN4:
      // Room for the text and its terminator.
      if (w - head < 1 || w > INT32_MAX) return false;
      *kind = kRowBlockText;
      *room = static_cast<int32_t>(w - head - 1);
      return true;
    case RBT_BINARY:
    case RBT_BINARY_LEN1: case RBT_BINARY_LEN2: case RBT_BINARY_LEN4:
      if (w - head < 0 || w > INT32_MAX) return false;
      *kind = kRowBlockBytes;
      *room = static_cast<int32_t>(w - head);
      return true;
    case RBT_WCHAR: case RBT_WCHAR_NTS: case RBT_WCHAR_LEN4:
      if (!wideText || (w - head) / 2 < 1 || w > INT32_MAX) return false;
      *kind = kRowBlockWide;
      *room = static_cast<int32_t>((w - head) / 2 - 1);
      return true;
    default:
      return false;
  }
}

bool JDB_DecodeRowBlock(const unsigned char* data, size_t size, const int32_t* kinds, int32_t rows,
                        RowBuffer* out, int32_t* decoded) {
  *decoded = 0;
  if (rows < 0 || rows > out->rowCapacity || (data == nullptr && size > 0)) return false;
  Reader in(data, size);
  const int cols = out->colCount;
  for (int32_t r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (!DecodeValue(&in, kinds[c], &out->columns[c], r)) return false;
    }
    *decoded = r + 1;
  }
  return in.left() == 0;
}

}  // namespace kx
