#include "convert_harness.h"

#include <cstring>

#include "odbc/exec/convert_binary.h"
#include "odbc/exec/convert_datetime.h"
#include "odbc/exec/convert_number.h"
#include "odbc/exec/convert_text.h"

namespace kx::test {

namespace {

constexpr size_t kCanary = 16;

// memcpy that accepts the NULL data() of an empty vector.
void Copy(void* dst, const void* src, size_t n) {
  if (n > 0) std::memcpy(dst, src, n);
}

template <class T>
void Put(std::vector<unsigned char>& v, size_t at, T x) {
  std::memcpy(v.data() + at, &x, sizeof x);
}

template <class T>
T Get(const unsigned char* p) {
  T x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

}  // namespace

void Element::FixPointer() {
  RBPtrValue pv;
  std::memcpy(&pv, bytes.data(), sizeof pv);
  pv.block = heap.empty() ? nullptr : heap.data();
  std::memcpy(bytes.data(), &pv, sizeof pv);
}

Element NarrowElement(uint32_t type, const std::string& text) {
  Element e;
  e.type = type;
  const size_t n = text.size();
  switch (type) {
    case RBT_CHAR:
      e.bytes.assign(text.begin(), text.end());
      break;
    case RBT_CHAR_PTR:
      e.bytes.assign(16, 0);
      e.heap.assign(text.begin(), text.end());
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      e.FixPointer();
      break;
    case RBT_CHAR_NTS:
      e.bytes.assign(text.begin(), text.end());
      e.bytes.push_back(0);
      break;
    case RBT_CHAR_LEN1:
      e.bytes.assign(1 + n, 0);
      e.bytes[0] = static_cast<unsigned char>(n);
      Copy(e.bytes.data() + 1, text.data(), n);
      break;
    case RBT_CHAR_LEN2:
      e.bytes.assign(2 + n + (n % 2), 0);
      Put<uint16_t>(e.bytes, 0, static_cast<uint16_t>(n));
      Copy(e.bytes.data() + 2, text.data(), n);
      break;
    case RBT_CHAR_LEN4:
      e.bytes.assign(4 + n + 3, 0);
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      Copy(e.bytes.data() + 4, text.data(), n);
      break;
    default:
      break;
  }
  return e;
}

Element WideElement(uint32_t type, const std::u16string& text) {
  Element e;
  e.type = type;
  const size_t n = text.size();
  switch (type) {
    case RBT_WCHAR:
      e.bytes.resize(2 * n);
      Copy(e.bytes.data(), text.data(), 2 * n);
      break;
    case RBT_WCHAR_NTS:
      e.bytes.assign(2 * n + 2, 0);
      Copy(e.bytes.data(), text.data(), 2 * n);
      break;
    case RBT_WCHAR_PTR:
      e.bytes.assign(16, 0);
      e.heap.resize(2 * n);
      Copy(e.heap.data(), text.data(), 2 * n);
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      e.FixPointer();
      break;
    case RBT_WCHAR_LEN4:
      e.bytes.assign(4 + 2 * n + 2, 0);
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      Copy(e.bytes.data() + 4, text.data(), 2 * n);
      break;
    default:
      break;
  }
  return e;
}

Element BinaryElement(uint32_t type, const std::vector<unsigned char>& data) {
  Element e;
  e.type = type;
  const size_t n = data.size();
  switch (type) {
    case RBT_BINARY:
      e.bytes = data;
      break;
    case RBT_BINARY_PTR:
      e.bytes.assign(16, 0);
      e.heap = data;
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      e.FixPointer();
      break;
    case RBT_BINARY_LEN1:
      e.bytes.assign(1 + n, 0);
      e.bytes[0] = static_cast<unsigned char>(n);
      Copy(e.bytes.data() + 1, data.data(), n);
      break;
    case RBT_BINARY_LEN2:
      e.bytes.assign(2 + n + 1, 0);
      Put<uint16_t>(e.bytes, 0, static_cast<uint16_t>(n));
      Copy(e.bytes.data() + 2, data.data(), n);
      break;
    case RBT_BINARY_LEN4:
      e.bytes.assign(4 + n + 3, 0);
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(n));
      Copy(e.bytes.data() + 4, data.data(), n);
      break;
    default:
      break;
  }
  return e;
}

Element IntegerElement(uint32_t type, int64_t v) {
  Element e;
  e.type = type;
  switch (type) {
    case RBT_BIT:
    case RBT_STINYINT:
    case RBT_UTINYINT:
      e.bytes.assign(1, static_cast<unsigned char>(v));
      break;
    case RBT_SSHORT:
    case RBT_USHORT:
      e.bytes.assign(2, 0);
      Put<uint16_t>(e.bytes, 0, static_cast<uint16_t>(v));
      break;
    default:
      e.bytes.assign(4, 0);
      Put<uint32_t>(e.bytes, 0, static_cast<uint32_t>(v));
      break;
  }
  return e;
}

Element FloatElement(float v) {
  Element e;
  e.type = RBT_FLOAT;
  e.bytes.assign(4, 0);
  Put(e.bytes, 0, v);
  return e;
}

Element DoubleElement(double v) {
  Element e;
  e.type = RBT_DOUBLE;
  e.bytes.assign(8, 0);
  Put(e.bytes, 0, v);
  return e;
}

Element DateElement(int16_t y, uint16_t m, uint16_t d) {
  Element e;
  e.type = RBT_DATE;
  e.bytes.assign(6, 0);
  Put(e.bytes, 0, SQL_DATE_STRUCT{y, m, d});
  return e;
}

Element TimeElement(uint16_t h, uint16_t m, uint16_t s) {
  Element e;
  e.type = RBT_TIME;
  e.bytes.assign(6, 0);
  Put(e.bytes, 0, SQL_TIME_STRUCT{h, m, s});
  return e;
}

Element TimeElement(uint16_t h, uint16_t m, uint16_t s, uint32_t fraction) {
  Element e;
  e.type = RBT_TIME;
  e.bytes.assign(RB_TIME_FRACTION_WIDTH, 0);
  Put(e.bytes, 0, SQL_TIME_STRUCT{h, m, s});
  Put(e.bytes, RB_TIME_WIDTH, fraction);
  return e;
}

Element TimestampElement(int16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                         uint32_t fraction) {
  Element e;
  e.type = RBT_TIMESTAMP;
  e.bytes.assign(16, 0);
  Put(e.bytes, 0, SQL_TIMESTAMP_STRUCT{y, mo, d, h, mi, s, fraction});
  return e;
}

SourceView ViewOf(const Element& e) {
  const unsigned char* p = e.bytes.data();
  const uint64_t w = e.bytes.size();
  switch (e.type) {
    case RBT_CHAR: return {p, w, SourceView::TEXT};
    case RBT_CHAR_PTR:
    case RBT_BINARY_PTR:
    case RBT_WCHAR_PTR: {
      RBPtrValue pv;
      std::memcpy(&pv, p, sizeof pv);
      const auto* block = static_cast<const unsigned char*>(pv.block);
      if (e.type == RBT_CHAR_PTR) return {block, pv.length, SourceView::TEXT};
      if (e.type == RBT_BINARY_PTR) return {block, pv.length, SourceView::BINARY};
      return {block, 2ull * pv.length, SourceView::WIDE};
    }
    case RBT_CHAR_NTS: return {p, std::strlen(reinterpret_cast<const char*>(p)), SourceView::TEXT};
    case RBT_CHAR_LEN1: return {p + 1, p[0], SourceView::TEXT};
    case RBT_CHAR_LEN2: return {p + 2, Get<uint16_t>(p), SourceView::TEXT};
    case RBT_CHAR_LEN4: return {p + 4, Get<uint32_t>(p), SourceView::TEXT};
    case RBT_BINARY: return {p, w, SourceView::BINARY};
    case RBT_BINARY_LEN1: return {p + 1, p[0], SourceView::BINARY};
    case RBT_BINARY_LEN2: return {p + 2, Get<uint16_t>(p), SourceView::BINARY};
    case RBT_BINARY_LEN4: return {p + 4, Get<uint32_t>(p), SourceView::BINARY};
    case RBT_WCHAR: return {p, w, SourceView::WIDE};
    case RBT_WCHAR_NTS: {
      uint64_t n = 0;
      while (Get<char16_t>(p + 2 * n) != 0) ++n;
      return {p, 2 * n, SourceView::WIDE};
    }
    case RBT_WCHAR_LEN4: return {p + 4, 2ull * Get<uint32_t>(p), SourceView::WIDE};
    default: return {p, w, SourceView::OTHER};
  }
}

namespace {

struct Frame {
  std::vector<unsigned char> mem;
  size_t capacity;
  explicit Frame(size_t cap) : mem(2 * kCanary + cap, kFill), capacity(cap) {}
  void* target() { return mem.data() + kCanary; }
  void Collect(Outcome* o) const {
    o->target.assign(mem.begin() + kCanary, mem.begin() + static_cast<long>(kCanary + capacity));
    for (size_t i = 0; i < kCanary; ++i) {
      if (mem[i] != kFill || mem[kCanary + capacity + i] != kFill) o->canariesIntact = false;
    }
  }
};

}  // namespace

Outcome DeliverView(const SourceView& v, int64_t total, const Request& r, uint32_t* split) {
  Frame f(r.capacity);
  Outcome o;
  o.outLen = kUntouched;
  const auto* text = reinterpret_cast<const char*>(v.data);
  if (v.path == SourceView::TEXT) {
    o.rc = ConvertCHAR(text, v.length, total, r.cType, f.target(), r.bufferLength, &o.outLen, &o.err,
                       r.scale, r.precision, &o.consumed, split);
  } else if (v.path == SourceView::WIDE) {
    o.rc = ConvertWCHAR(reinterpret_cast<const char16_t*>(v.data), v.length, total, r.cType, f.target(),
                        r.bufferLength, &o.outLen, &o.err, r.scale, r.precision, &o.consumed, split);
  } else {
    o.rc = ConvertBINARY(v.data, v.length, total, r.cType, f.target(), r.bufferLength, &o.outLen, &o.err,
                         &o.consumed);
  }
  f.Collect(&o);
  return o;
}

Outcome Deliver(const Element& e, const Request& r) {
  const SourceView v = ViewOf(e);
  if (v.path != SourceView::OTHER) return DeliverView(v, static_cast<int64_t>(v.length), r);
  Frame f(r.capacity);
  Outcome o;
  o.outLen = kUntouched;
  const unsigned char* p = e.bytes.data();
  void* t = f.target();
  switch (e.type) {
    case RBT_BIT:
    case RBT_UTINYINT:
      o.rc = ConvertBYTE(p[0], 0, r.cType, t, r.bufferLength, &o.outLen, &o.err, r.scale, r.precision);
      break;
    case RBT_STINYINT:
      o.rc = ConvertBYTE(p[0], 1, r.cType, t, r.bufferLength, &o.outLen, &o.err, r.scale, r.precision);
      break;
    case RBT_SSHORT:
    case RBT_USHORT:
      o.rc = ConvertSHORT(Get<uint16_t>(p), e.type == RBT_SSHORT, r.cType, t, r.bufferLength, &o.outLen,
                          &o.err, r.scale, r.precision);
      break;
    case RBT_SLONG:
    case RBT_ULONG:
      o.rc = ConvertLONG(Get<uint32_t>(p), e.type == RBT_SLONG, r.cType, t, r.bufferLength, &o.outLen,
                         &o.err, r.scale, r.precision);
      break;
    case RBT_FLOAT:
      o.rc = ConvertFLOAT(Get<float>(p), r.cType, t, r.bufferLength, &o.outLen, &o.err, r.scale, r.precision);
      break;
    case RBT_DOUBLE:
      o.rc = ConvertDOUBLE(Get<double>(p), r.cType, t, r.bufferLength, &o.outLen, &o.err, r.scale,
                           r.precision);
      break;
    case RBT_DATE:
      o.rc = ConvertDATE(reinterpret_cast<const SQL_DATE_STRUCT*>(p), r.cType, t, r.bufferLength, &o.outLen,
                         &o.err);
      break;
    case RBT_TIME:
      // As the column reader: only an element that keeps a fraction shows digits.
      if (e.bytes.size() >= RB_TIME_FRACTION_WIDTH) {
        o.rc = ConvertTIME(reinterpret_cast<const SQL_TIME_STRUCT*>(p), Get<uint32_t>(p + RB_TIME_WIDTH),
                           r.fractionDigits, r.cType, t, r.bufferLength, &o.outLen, &o.err);
      } else {
        o.rc = ConvertTIME(reinterpret_cast<const SQL_TIME_STRUCT*>(p), 0, 0, r.cType, t, r.bufferLength,
                           &o.outLen, &o.err);
      }
      break;
    case RBT_TIMESTAMP:
      o.rc = ConvertTIMESTAMP(reinterpret_cast<const SQL_TIMESTAMP_STRUCT*>(p), r.cType, t, r.bufferLength,
                              &o.outLen, r.fractionDigits, &o.err);
      break;
    default:
      break;
  }
  f.Collect(&o);
  return o;
}

std::vector<unsigned char> WideBytes(const std::u16string& s, bool terminate) {
  std::vector<unsigned char> v(2 * s.size() + (terminate ? 2 : 0), 0);
  Copy(v.data(), s.data(), 2 * s.size());
  return v;
}

std::vector<unsigned char> NarrowBytes(const std::string& s, bool terminate) {
  std::vector<unsigned char> v(s.begin(), s.end());
  if (terminate) v.push_back(0);
  return v;
}

}  // namespace kx::test
