// Every storage type of the row buffer against every C type: result,
// SQLSTATE row, exact bytes, reported length, canaries around the target and
// an untouched target on error, in the "C" locale and in a comma-decimal one.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "locale_guard.h"
#include "odbc/ctypes.h"
#include "util/errcodes.h"

namespace kx::test {
namespace {

const int32_t kAllCTypes[] = {
    SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY, SQL_C_BIT, SQL_C_TINYINT, SQL_C_STINYINT, SQL_C_UTINYINT,
    SQL_C_SHORT, SQL_C_SSHORT, SQL_C_USHORT, SQL_C_LONG, SQL_C_SLONG, SQL_C_ULONG, SQL_C_SBIGINT,
    SQL_C_UBIGINT, SQL_C_FLOAT, SQL_C_DOUBLE, SQL_C_NUMERIC, SQL_C_GUID, SQL_C_DATE, SQL_C_TIME,
    SQL_C_TIMESTAMP, SQL_C_TYPE_DATE, SQL_C_TYPE_TIME, SQL_C_TYPE_TIMESTAMP, KX_C_SBIGINT_AS_BINARY,
    9999 /* not a C type */};

struct Expect {
  int16_t rc = SQL_SUCCESS;
  int32_t err = 0;
  std::vector<unsigned char> bytes;  // written at the start of the target
  int64_t outLen = kUntouched;
};

Expect Error(int32_t err) { return Expect{SQL_ERROR, err, {}, kUntouched}; }

template <class T>
std::vector<unsigned char> Raw(T v, size_t n = sizeof(T)) {
  std::vector<unsigned char> b(n);
  std::memcpy(b.data(), &v, n);
  return b;
}

Expect Fixed(std::vector<unsigned char> b) {
  const int64_t n = static_cast<int64_t>(b.size());
  return Expect{SQL_SUCCESS, 0, std::move(b), n};
}

// A fixed-size value with a nonzero part dropped (01S07).
Expect Truncated(std::vector<unsigned char> b) {
  const int64_t n = static_cast<int64_t>(b.size());
  return Expect{SQL_SUCCESS_WITH_INFO, KX_ERR_FRACTIONAL_TRUNCATION, std::move(b), n};
}

Expect Text(const std::string& s, int32_t cType) {
  if (cType == SQL_C_WCHAR) {
    std::u16string w(s.begin(), s.end());
    return Expect{SQL_SUCCESS, 0, WideBytes(w, true), static_cast<int64_t>(2 * w.size())};
  }
  return Expect{SQL_SUCCESS, 0, NarrowBytes(s, true), static_cast<int64_t>(s.size())};
}

bool IsDateTime(int32_t c) {
  return c == SQL_C_DATE || c == SQL_C_TIME || c == SQL_C_TIMESTAMP || c == SQL_C_TYPE_DATE ||
         c == SQL_C_TYPE_TIME || c == SQL_C_TYPE_TIMESTAMP;
}

// Integer C types: range and width.
bool IntRange(int32_t c, long double* lo, long double* hi, size_t* width) {
  switch (c) {
    case SQL_C_BIT: *lo = 0; *hi = 1; *width = 1; return true;
    case SQL_C_TINYINT: case SQL_C_STINYINT: *lo = -128; *hi = 127; *width = 1; return true;
    case SQL_C_UTINYINT: *lo = 0; *hi = 255; *width = 1; return true;
    case SQL_C_SHORT: case SQL_C_SSHORT: *lo = -32768; *hi = 32767; *width = 2; return true;
    case SQL_C_USHORT: *lo = 0; *hi = 65535; *width = 2; return true;
    case SQL_C_LONG: case SQL_C_SLONG: *lo = -2147483648.0L; *hi = 2147483647; *width = 4; return true;
    case SQL_C_ULONG: *lo = 0; *hi = 4294967295.0L; *width = 4; return true;
    case SQL_C_SBIGINT: case KX_C_SBIGINT_AS_BINARY: *lo = -9.3e18L; *hi = 9.3e18L; *width = 8; return true;
    case SQL_C_UBIGINT: *lo = 0; *hi = 1.8e19L; *width = 8; return true;
    default: return false;
  }
}

std::vector<unsigned char> Numeric(int64_t v, uint8_t precision) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = precision;
  n.scale = 0;
  n.sign = v < 0 ? 0 : 1;
  uint64_t m = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  std::memcpy(n.val, &m, 8);
  return Raw(n);
}

// What a numeric source holding v delivers. sourceBytes: its raw bytes for
// SQL_C_BINARY; numericPrecision: the precision of SQL_C_NUMERIC at 0.
Expect NumberOracle(int64_t v, int32_t c, const std::vector<unsigned char>& sourceBytes,
                    uint8_t numericPrecision, bool narrowText, bool wideText) {
  long double lo, hi;
  size_t width;
  if (IntRange(c, &lo, &hi, &width)) {
    if (v < lo || v > hi) return Error(KX_ERR_NUMERIC_RANGE);
    return Fixed(Raw(v, width));
  }
  switch (c) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
      return Text(std::to_string(v), c);
    case SQL_C_BINARY: {
      const int64_t n = static_cast<int64_t>(sourceBytes.size());
      return Expect{SQL_SUCCESS, 0, sourceBytes, n};
    }
    case SQL_C_FLOAT: return Fixed(Raw(static_cast<float>(v)));
    case SQL_C_DOUBLE: return Fixed(Raw(static_cast<double>(v)));
    case SQL_C_NUMERIC: return Fixed(Numeric(v, numericPrecision));
    case SQL_C_GUID:
      if (narrowText) return Error(KX_ERR_STRING_LENGTH_MISMATCH);
      return Error(KX_ERR_RESTRICTED_TYPE);
    default:
      // A number's text is no date or time.
      if (IsDateTime(c) && (narrowText || wideText)) return Error(KX_ERR_BAD_CAST_VALUE);
      return Error(KX_ERR_RESTRICTED_TYPE);
  }
}

struct Case {
  std::string name;
  Element element;
  std::function<Expect(int32_t)> oracle;
};

std::vector<Case> AllSources() {
  std::vector<Case> cases;
  for (int64_t v : {int64_t{1}, int64_t{100}, int64_t{-5}}) {
    const std::string t = std::to_string(v);
    const uint8_t digits = static_cast<uint8_t>(v < 0 ? t.size() - 1 : t.size());
    for (uint32_t type : {RBT_CHAR, RBT_CHAR_PTR, RBT_CHAR_NTS, RBT_CHAR_LEN1, RBT_CHAR_LEN2, RBT_CHAR_LEN4}) {
      cases.push_back({"narrow text type " + std::to_string(type) + " '" + t + "'", NarrowElement(type, t),
                       [=](int32_t c) { return NumberOracle(v, c, NarrowBytes(t, false), digits, true, false); }});
    }
    const std::u16string w(t.begin(), t.end());
    for (uint32_t type : {RBT_WCHAR, RBT_WCHAR_NTS, RBT_WCHAR_PTR, RBT_WCHAR_LEN4}) {
      cases.push_back({"wide text type " + std::to_string(type) + " '" + t + "'", WideElement(type, w),
                       [=](int32_t c) { return NumberOracle(v, c, WideBytes(w, false), digits, false, true); }});
    }
    struct IntSource {
      uint32_t type;
      bool isSigned;
      size_t width;
      uint8_t precision;
    };
    for (IntSource s : {IntSource{RBT_BIT, false, 1, 3}, IntSource{RBT_UTINYINT, false, 1, 3},
                        IntSource{RBT_STINYINT, true, 1, 3}, IntSource{RBT_SSHORT, true, 2, 5},
                        IntSource{RBT_USHORT, false, 2, 5}, IntSource{RBT_SLONG, true, 4, 10},
                        IntSource{RBT_ULONG, false, 4, 10}}) {
      if (v < 0 && !s.isSigned) continue;
      if (s.type == RBT_BIT && v != 1) continue;
      cases.push_back({"integer type " + std::to_string(s.type) + " " + t, IntegerElement(s.type, v),
                       [=](int32_t c) { return NumberOracle(v, c, Raw(v, s.width), s.precision, false, false); }});
    }
    cases.push_back({"float " + t, FloatElement(static_cast<float>(v)), [=](int32_t c) {
                       return NumberOracle(v, c, Raw(static_cast<float>(v)), 7, false, false);
                     }});
    cases.push_back({"double " + t, DoubleElement(static_cast<double>(v)), [=](int32_t c) {
                       return NumberOracle(v, c, Raw(static_cast<double>(v)), 15, false, false);
                     }});
  }
  const std::vector<unsigned char> bin = {0x01, 0xAB};
  for (uint32_t type : {RBT_BINARY, RBT_BINARY_PTR, RBT_BINARY_LEN1, RBT_BINARY_LEN2, RBT_BINARY_LEN4}) {
    cases.push_back({"binary type " + std::to_string(type), BinaryElement(type, bin), [=](int32_t c) {
                       if (c == SQL_C_CHAR || c == SQL_C_WCHAR) return Text("01AB", c);
                       if (c == SQL_C_BINARY) return Expect{SQL_SUCCESS, 0, bin, 2};
                       return Error(KX_ERR_RESTRICTED_TYPE);
                     }});
  }
  const SQL_DATE_STRUCT date{2024, 2, 29};
  const SQL_TIME_STRUCT time{13, 45, 30};
  const SQL_TIMESTAMP_STRUCT stamp{2024, 2, 29, 13, 45, 30, 500000000};
  cases.push_back({"date", DateElement(2024, 2, 29), [=](int32_t c) {
                     if (c == SQL_C_CHAR || c == SQL_C_WCHAR) return Text("2024-02-29", c);
                     if (c == SQL_C_BINARY || c == SQL_C_DATE || c == SQL_C_TYPE_DATE) return Fixed(Raw(date));
                     if (c == SQL_C_TIMESTAMP || c == SQL_C_TYPE_TIMESTAMP) {
                       return Fixed(Raw(SQL_TIMESTAMP_STRUCT{2024, 2, 29, 0, 0, 0, 0}));
                     }
                     return Error(KX_ERR_RESTRICTED_TYPE);
                   }});
  cases.push_back({"time", TimeElement(13, 45, 30), [=](int32_t c) {
                     if (c == SQL_C_CHAR || c == SQL_C_WCHAR) return Text("13:45:30", c);
                     if (c == SQL_C_BINARY || c == SQL_C_TIME || c == SQL_C_TYPE_TIME) return Fixed(Raw(time));
                     if (c == SQL_C_TIMESTAMP || c == SQL_C_TYPE_TIMESTAMP) {
                       // Today's date, where the application runs.
                       const std::time_t now = std::time(nullptr);
                       std::tm local{};
                       localtime_r(&now, &local);
                       return Fixed(Raw(SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(local.tm_year + 1900),
                                                             static_cast<SQLUSMALLINT>(local.tm_mon + 1),
                                                             static_cast<SQLUSMALLINT>(local.tm_mday), 13, 45, 30, 0}));
                     }
                     return Error(KX_ERR_RESTRICTED_TYPE);
                   }});
  cases.push_back({"timestamp", TimestampElement(2024, 2, 29, 13, 45, 30, 500000000), [=](int32_t c) {
                     if (c == SQL_C_CHAR || c == SQL_C_WCHAR) return Text("2024-02-29 13:45:30.500", c);
                     if (c == SQL_C_BINARY || c == SQL_C_TIMESTAMP || c == SQL_C_TYPE_TIMESTAMP) {
                       return Fixed(Raw(stamp));
                     }
                     // The time of day and the fraction are lost: 01S07.
                     if (c == SQL_C_DATE || c == SQL_C_TYPE_DATE) return Truncated(Raw(date));
                     if (c == SQL_C_TIME || c == SQL_C_TYPE_TIME) return Truncated(Raw(time));
                     return Error(KX_ERR_RESTRICTED_TYPE);
                   }});
  return cases;
}

void CheckOutcome(const Outcome& o, const Expect& x, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(o.rc, x.rc);
  EXPECT_EQ(o.err, x.err);
  EXPECT_EQ(o.outLen, x.outLen);
  EXPECT_TRUE(o.canariesIntact);
  ASSERT_LE(x.bytes.size(), o.target.size());
  std::vector<unsigned char> want = x.bytes;
  want.resize(o.target.size(), kFill);  // nothing written beyond the value
  EXPECT_EQ(o.target, want);
}

class ConversionMatrix : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      std::string why;
      const std::string name = UseCommaDecimalLocale(&why);
      ASSERT_FALSE(name.empty()) << why;
      RecordProperty("locale", name);
    }
  }
  void TearDown() override { UseCLocale(); }
};

TEST_P(ConversionMatrix, EveryStorageTypeToEveryCType) {
  for (const Case& src : AllSources()) {
    for (int32_t c : kAllCTypes) {
      const int16_t fixed = CTypeSize(static_cast<int16_t>(c));
      Request r{c, 0, 0, 0, 0, 3};
      if (c == KX_C_SBIGINT_AS_BINARY) {
        r.bufferLength = 8;
        r.capacity = 8;
      } else if (fixed > 0) {
        r.capacity = static_cast<size_t>(fixed);  // buffer length 0, as applications pass it
      } else {
        r.bufferLength = 64;
        r.capacity = 64;
      }
      CheckOutcome(Deliver(src.element, r), src.oracle(c), src.name + " to " + CTypeToName(c) + " (" +
                                                               std::to_string(c) + ")");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, ConversionMatrix, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CommaDecimal" : "C"; });

}  // namespace
}  // namespace kx::test
