#include "util/interval_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "util/errcodes.h"

namespace kx {

namespace {

using Int128 = __int128;

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;
// Beyond this the sum of a text's parts is no interval any database keeps;
// it also keeps the 128-bit sums far from their limit.
constexpr Int128 kAccumulatorLimit = static_cast<Int128>(1) << 120;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Unsigned digits at the front of s; false without a digit. *overflow when
// they pass 64 bits.
bool TakeDigits(std::string_view* s, uint64_t* value, bool* overflow) {
  size_t i = 0;
  uint64_t v = 0;
  while (i < s->size() && IsDigit((*s)[i])) {
    const auto d = static_cast<uint64_t>((*s)[i] - '0');
    if (v > (UINT64_MAX - d) / 10) *overflow = true;
    v = v * 10 + d;
    ++i;
  }
  if (i == 0) return false;
  s->remove_prefix(i);
  *value = v;
  return true;
}

// A fraction's digits after the point, as nanoseconds (digits past the
// ninth are cut). False when no digit follows the point.
bool TakeFraction(std::string_view* s, int64_t* nanos) {
  size_t i = 0;
  int64_t v = 0;
  int kept = 0;
  while (i < s->size() && IsDigit((*s)[i])) {
    if (kept < 9) {
      v = v * 10 + ((*s)[i] - '0');
      ++kept;
    }
    ++i;
  }
  if (i == 0) return false;
  for (; kept < 9; ++kept) v *= 10;
  s->remove_prefix(i);
  *nanos = v;
  return true;
}

int TakeSign(std::string_view* s) {
  if (!s->empty() && ((*s)[0] == '+' || (*s)[0] == '-')) {
    const int sign = (*s)[0] == '-' ? -1 : 1;
    s->remove_prefix(1);
    return sign;
  }
  return 0;
}

// Sums of a value being read: months, days and nanoseconds of the time part.
struct Acc {
  Int128 months = 0;
  Int128 days = 0;
  Int128 nanos = 0;
  bool overflow = false;

  void Add(Int128* to, Int128 v) {
    *to += v;
    if (*to > kAccumulatorLimit || *to < -kAccumulatorLimit) overflow = true;
  }
};

IntervalRead Finish(const Acc& a, IntervalParts* out) {
  if (a.overflow) return IntervalRead::Overflow;
  const Int128 seconds = a.nanos / kNanosPerSecond;
  const Int128 limit = INT64_MAX;
  if (a.months > limit || a.months < -limit || a.days > limit || a.days < -limit || seconds > limit ||
      seconds < -limit) {
    return IntervalRead::Overflow;
  }
  out->months = static_cast<int64_t>(a.months);
  out->days = static_cast<int64_t>(a.days);
  out->seconds = static_cast<int64_t>(seconds);
  out->nanos = static_cast<int32_t>(a.nanos % kNanosPerSecond);
  return IntervalRead::Ok;
}

bool IsDayTimeField(uint8_t f) { return f >= IVF_DAY && f <= IVF_SECOND; }

Int128 NanosOfField(uint8_t f) {
  switch (f) {
    case IVF_DAY: return static_cast<Int128>(kSecondsPerDay) * kNanosPerSecond;
    case IVF_HOUR: return static_cast<Int128>(3600) * kNanosPerSecond;
    case IVF_MINUTE: return static_cast<Int128>(60) * kNanosPerSecond;
    default: return kNanosPerSecond;
  }
}

// Adds n units of field f (and a seconds fraction) with a sign.
void AddField(Acc* a, uint8_t f, uint64_t n, int64_t fractionNanos, int sign) {
  const Int128 s = sign < 0 ? -1 : 1;
  switch (f) {
    case IVF_YEAR: a->Add(&a->months, s * static_cast<Int128>(n) * 12); break;
    case IVF_MONTH: a->Add(&a->months, s * static_cast<Int128>(n)); break;
    case IVF_DAY: a->Add(&a->days, s * static_cast<Int128>(n)); break;
    default:
      a->Add(&a->nanos, s * (static_cast<Int128>(n) * NanosOfField(f) + fractionNanos));
      break;
  }
}

// The value part of a literal, by its qualifier's fields:
// "Y-M", "D H:M:S.f", "H:M", "S.f" and so on, with an optional sign.
IntervalRead ReadBody(std::string_view s, IntervalQualifier q, IntervalParts* out) {
  s = Trim(s);
  const int sign = TakeSign(&s);
  s = Trim(s);
  Acc a;
  bool overflow = false;
  const bool yearMonth = q.leading == IVF_YEAR || q.leading == IVF_MONTH;
  for (uint8_t f = q.leading; f <= q.trailing; ++f) {
    if (f != q.leading) {
      // The separator before a trailing field.
      if (f == IVF_MONTH) {
        if (s.empty() || s[0] != '-') return IntervalRead::Invalid;
        s.remove_prefix(1);
      } else if (f == IVF_HOUR) {
        if (s.empty() || !IsSpace(s[0])) return IntervalRead::Invalid;
        s = Trim(s);
      } else {
        if (s.empty() || s[0] != ':') return IntervalRead::Invalid;
        s.remove_prefix(1);
      }
    }
    uint64_t v = 0;
    if (!TakeDigits(&s, &v, &overflow)) return IntervalRead::Invalid;
    int64_t fraction = 0;
    if (f == IVF_SECOND && !s.empty() && s[0] == '.') {
      s.remove_prefix(1);
      if (!s.empty() && IsDigit(s[0]) && !TakeFraction(&s, &fraction)) return IntervalRead::Invalid;
    }
    // Trailing fields stay within their range; the leading one is open.
    if (f != q.leading) {
      const uint64_t limit = f == IVF_MONTH ? 12 : f == IVF_HOUR ? 24 : 60;
      if (v >= limit) return IntervalRead::Invalid;
    }
    AddField(&a, f, v, fraction, sign);
  }
  if (!s.empty() || (yearMonth && q.trailing > IVF_MONTH)) return IntervalRead::Invalid;
  if (overflow) return IntervalRead::Overflow;
  return Finish(a, out);
}

bool FieldWord(std::string_view w, uint8_t* f) {
  static constexpr struct {
    const char* name;
    uint8_t field;
  } kFields[] = {{"YEAR", IVF_YEAR},   {"MONTH", IVF_MONTH},   {"DAY", IVF_DAY},
                 {"HOUR", IVF_HOUR}, {"MINUTE", IVF_MINUTE}, {"SECOND", IVF_SECOND}};
  for (const auto& k : kFields) {
    if (SameWord(w, k.name)) {
      *f = k.field;
      return true;
    }
  }
  return false;
}

std::string_view TakeWord(std::string_view* s) {
  *s = Trim(*s);
  size_t i = 0;
  while (i < s->size() && IsAlpha((*s)[i])) ++i;
  std::string_view w = s->substr(0, i);
  s->remove_prefix(i);
  return w;
}

// A precision in parentheses after a field ("(6)", "(2, 3)"), when there is one.
bool SkipPrecision(std::string_view* s) {
  *s = Trim(*s);
  if (s->empty() || (*s)[0] != '(') return true;
  const size_t close = s->find(')');
  if (close == std::string_view::npos) return false;
  for (size_t i = 1; i < close; ++i) {
    const char c = (*s)[i];
    if (!IsDigit(c) && c != ',' && !IsSpace(c)) return false;
  }
  s->remove_prefix(close + 1);
  return true;
}

bool ReadQualifier(std::string_view s, IntervalQualifier* q) {
  uint8_t lead = IVF_NONE;
  if (!FieldWord(TakeWord(&s), &lead) || !SkipPrecision(&s)) return false;
  uint8_t trail = lead;
  std::string_view w = TakeWord(&s);
  if (!w.empty()) {
    if (!SameWord(w, "TO") || !FieldWord(TakeWord(&s), &trail) || !SkipPrecision(&s)) return false;
  }
  if (!Trim(s).empty()) return false;
  q->leading = lead;
  q->trailing = trail;
  return IntervalCodeOf(*q) != 0;
}

// "INTERVAL [sign] 'value' qualifier".
IntervalRead ReadLiteral(std::string_view s, IntervalParts* out) {
  s = Trim(s);
  const int outer = TakeSign(&s);
  s = Trim(s);
  if (s.empty() || s[0] != '\'') return IntervalRead::Invalid;
  const size_t close = s.find('\'', 1);
  if (close == std::string_view::npos) return IntervalRead::Invalid;
  IntervalQualifier q;
  if (!ReadQualifier(s.substr(close + 1), &q)) return IntervalRead::Invalid;
  const IntervalRead r = ReadBody(s.substr(1, close - 1), q, out);
  if (r == IntervalRead::Ok && outer < 0) {
    out->months = -out->months;
    out->days = -out->days;
    out->seconds = -out->seconds;
    out->nanos = -out->nanos;
  }
  return r;
}

// ISO 8601 with designators: "P1Y2M3W4DT5H6M7.5S", each number with its
// own sign, as PostgreSQL writes it.
IntervalRead ReadIso(std::string_view s, IntervalParts* out) {
  s.remove_prefix(1);  // the P
  Acc a;
  bool overflow = false;
  bool time = false;
  bool any = false;
  while (!s.empty()) {
    if (s[0] == 'T' || s[0] == 't') {
      if (time) return IntervalRead::Invalid;
      time = true;
      s.remove_prefix(1);
      continue;
    }
    const int sign = TakeSign(&s);
    uint64_t v = 0;
    if (!TakeDigits(&s, &v, &overflow)) return IntervalRead::Invalid;
    int64_t fraction = 0;
    if (!s.empty() && (s[0] == '.' || s[0] == ',')) {
      s.remove_prefix(1);
      if (!TakeFraction(&s, &fraction)) return IntervalRead::Invalid;
    }
    if (s.empty()) return IntervalRead::Invalid;
    const char d = static_cast<char>(Lower(s[0]));
    s.remove_prefix(1);
    uint8_t f = IVF_NONE;
    uint64_t times = 1;
    if (!time) {
      if (d == 'y') f = IVF_YEAR;
      else if (d == 'm') f = IVF_MONTH;
      else if (d == 'w') f = IVF_DAY, times = 7;
      else if (d == 'd') f = IVF_DAY;
    } else {
      if (d == 'h') f = IVF_HOUR;
      else if (d == 'm') f = IVF_MINUTE;
      else if (d == 's') f = IVF_SECOND;
    }
    if (f == IVF_NONE || (fraction != 0 && f != IVF_SECOND)) return IntervalRead::Invalid;
    AddField(&a, f, v * times, fraction, sign);
    any = true;
  }
  if (!any) return IntervalRead::Invalid;
  if (overflow) return IntervalRead::Overflow;
  return Finish(a, out);
}

// The unit words PostgreSQL reads and writes: the field and how many of it
// one unit is (a week is 7 days; milli- and microseconds are fractions).
struct Unit {
  const char* name;
  uint8_t field;
  uint64_t times;
  int64_t nanos;  // for units below a second: nanoseconds per unit
};
constexpr Unit kUnits[] = {
    {"year", IVF_YEAR, 1, 0},           {"years", IVF_YEAR, 1, 0},        {"yr", IVF_YEAR, 1, 0},
    {"yrs", IVF_YEAR, 1, 0},            {"y", IVF_YEAR, 1, 0},            {"decade", IVF_YEAR, 10, 0},
    {"decades", IVF_YEAR, 10, 0},       {"century", IVF_YEAR, 100, 0},    {"centuries", IVF_YEAR, 100, 0},
    {"millennium", IVF_YEAR, 1000, 0},  {"millennia", IVF_YEAR, 1000, 0}, {"mon", IVF_MONTH, 1, 0},
    {"mons", IVF_MONTH, 1, 0},          {"month", IVF_MONTH, 1, 0},       {"months", IVF_MONTH, 1, 0},
    {"week", IVF_DAY, 7, 0},            {"weeks", IVF_DAY, 7, 0},         {"w", IVF_DAY, 7, 0},
    {"day", IVF_DAY, 1, 0},             {"days", IVF_DAY, 1, 0},          {"d", IVF_DAY, 1, 0},
    {"hour", IVF_HOUR, 1, 0},           {"hours", IVF_HOUR, 1, 0},        {"hr", IVF_HOUR, 1, 0},
    {"hrs", IVF_HOUR, 1, 0},            {"h", IVF_HOUR, 1, 0},            {"minute", IVF_MINUTE, 1, 0},
    {"minutes", IVF_MINUTE, 1, 0},      {"min", IVF_MINUTE, 1, 0},        {"mins", IVF_MINUTE, 1, 0},
    {"m", IVF_MINUTE, 1, 0},            {"second", IVF_SECOND, 1, 0},     {"seconds", IVF_SECOND, 1, 0},
    {"sec", IVF_SECOND, 1, 0},          {"secs", IVF_SECOND, 1, 0},       {"s", IVF_SECOND, 1, 0},
    {"millisecond", IVF_SECOND, 0, 1000000}, {"milliseconds", IVF_SECOND, 0, 1000000},
    {"ms", IVF_SECOND, 0, 1000000},     {"msec", IVF_SECOND, 0, 1000000}, {"msecs", IVF_SECOND, 0, 1000000},
    {"microsecond", IVF_SECOND, 0, 1000}, {"microseconds", IVF_SECOND, 0, 1000},
    {"us", IVF_SECOND, 0, 1000},        {"usec", IVF_SECOND, 0, 1000},    {"usecs", IVF_SECOND, 0, 1000},
};

const Unit* FindUnit(std::string_view w) {
  for (const Unit& u : kUnits) {
    if (SameWord(w, u.name)) return &u;
  }
  return nullptr;
}

// A time of day as PostgreSQL writes an interval's time part: "H:MM",
// "H:MM:SS" with an optional fraction.
bool ReadTimeToken(std::string_view t, bool* overflow, Acc* a, int sign) {
  uint64_t h = 0, m = 0, sec = 0;
  int64_t fraction = 0;
  if (!TakeDigits(&t, &h, overflow) || t.empty() || t[0] != ':') return false;
  t.remove_prefix(1);
  if (!TakeDigits(&t, &m, overflow) || m >= 60) return false;
  if (!t.empty() && t[0] == ':') {
    t.remove_prefix(1);
    if (!TakeDigits(&t, &sec, overflow) || sec >= 60) return false;
    if (!t.empty() && t[0] == '.') {
      t.remove_prefix(1);
      if (!t.empty() && !TakeFraction(&t, &fraction)) return false;
    }
  }
  if (!t.empty()) return false;
  AddField(a, IVF_HOUR, h, 0, sign);
  AddField(a, IVF_MINUTE, m, 0, sign);
  AddField(a, IVF_SECOND, sec, fraction, sign);
  return true;
}

bool IsTimeToken(std::string_view t) { return t.find(':') != std::string_view::npos; }

// "Y-M" (the sign taken off already).
bool IsYearMonthToken(std::string_view t) {
  const size_t dash = t.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 >= t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (i != dash && !IsDigit(t[i])) return false;
  }
  return true;
}

// PostgreSQL's postgres, postgres_verbose and sql_standard styles, and a
// bare value for a single-field hint.
IntervalRead ReadWords(std::string_view s, IntervalQualifier hint, IntervalParts* out) {
  if (!s.empty() && s[0] == '@') s.remove_prefix(1);
  std::string_view tokens[64];
  size_t count = 0;
  while (true) {
    s = Trim(s);
    if (s.empty()) break;
    size_t i = 0;
    while (i < s.size() && !IsSpace(s[i])) ++i;
    if (count == std::size(tokens)) return IntervalRead::Invalid;
    tokens[count++] = s.substr(0, i);
    s.remove_prefix(i);
  }
  if (count == 0) return IntervalRead::Invalid;
  bool ago = false;
  if (count > 1 && SameWord(tokens[count - 1], "ago")) {
    ago = true;
    --count;
  }
  Acc a;
  bool overflow = false;
  // In the SQL standard's form a leading sign stands for the fields after
  // it that have none ("-1 2:03:04" is all negative).
  int carried = 0;
  for (size_t k = 0; k < count; ++k) {
    std::string_view t = tokens[k];
    int sign = TakeSign(&t);
    if (t.empty()) return IntervalRead::Invalid;
    if (IsTimeToken(t)) {
      if (sign == 0) sign = carried;
      else if (carried == 0) carried = sign;
      if (!ReadTimeToken(t, &overflow, &a, sign)) return IntervalRead::Invalid;
      continue;
    }
    if (IsYearMonthToken(t)) {
      if (sign == 0) sign = carried;
      else if (carried == 0) carried = sign;
      uint64_t y = 0, m = 0;
      TakeDigits(&t, &y, &overflow);
      t.remove_prefix(1);
      TakeDigits(&t, &m, &overflow);
      if (m >= 12) return IntervalRead::Invalid;
      AddField(&a, IVF_YEAR, y, 0, sign);
      AddField(&a, IVF_MONTH, m, 0, sign);
      continue;
    }
    uint64_t v = 0;
    if (!TakeDigits(&t, &v, &overflow)) return IntervalRead::Invalid;
    int64_t fraction = 0;
    if (!t.empty() && t[0] == '.') {
      t.remove_prefix(1);
      if (!t.empty() && !TakeFraction(&t, &fraction)) return IntervalRead::Invalid;
    }
    std::string_view unitWord = t;  // "5days" as well as "5 days"
    if (unitWord.empty() && k + 1 < count && IsAlpha(tokens[k + 1][0])) unitWord = tokens[++k];
    if (!unitWord.empty()) {
      const Unit* u = FindUnit(unitWord);
      if (u == nullptr) return IntervalRead::Invalid;
      if (u->times == 0) {
        // Milli- and microseconds: the whole number and its fraction in
        // nanoseconds.
        const Int128 whole = static_cast<Int128>(v) * u->nanos;
        const Int128 part = static_cast<Int128>(fraction) * u->nanos / kNanosPerSecond;
        a.Add(&a.nanos, (sign < 0 ? -1 : 1) * (whole + part));
      } else {
        if (fraction != 0 && u->field != IVF_SECOND) return IntervalRead::Invalid;
        AddField(&a, u->field, v * u->times, fraction, sign);
      }
      continue;
    }
    // A bare number: the days before a time part in the SQL standard's
    // form, or the whole value of a single field.
    if (k + 1 < count && IsTimeToken(tokens[k + 1]) && fraction == 0) {
      if (sign == 0) sign = carried;
      else if (carried == 0) carried = sign;
      AddField(&a, IVF_DAY, v, 0, sign);
      continue;
    }
    if (count == 1 && hint.leading != IVF_NONE && hint.leading == hint.trailing &&
        (fraction == 0 || hint.leading == IVF_SECOND)) {
      AddField(&a, hint.leading, v, fraction, sign);
      continue;
    }
    return IntervalRead::Invalid;
  }
  if (overflow || a.overflow) return IntervalRead::Overflow;
  if (ago) {
    a.months = -a.months;
    a.days = -a.days;
    a.nanos = -a.nanos;
  }
  return Finish(a, out);
}

uint64_t Magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

int64_t Pow10(int p) {
  int64_t v = 1;
  for (int i = 0; i < p; ++i) v *= 10;
  return v;
}

int ClampPrecision(int precision) { return precision < 0 ? 6 : precision > 9 ? 9 : precision; }

const char* FieldName(uint8_t f) {
  switch (f) {
    case IVF_YEAR: return "YEAR";
    case IVF_MONTH: return "MONTH";
    case IVF_DAY: return "DAY";
    case IVF_HOUR: return "HOUR";
    case IVF_MINUTE: return "MINUTE";
    default: return "SECOND";
  }
}

// Appends with snprintf's rules; the length stays within the buffer.
struct Writer {
  char* out;
  size_t cap;
  size_t len = 0;
  bool ok = true;

  // Checked as printf's formats are (the object is the first argument).
  __attribute__((format(printf, 2, 3))) void Put(const char* format, ...) {
    if (!ok) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out + len, cap - len, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= cap - len) {
      ok = false;
      return;
    }
    len += static_cast<size_t>(n);
  }
};

// The value fields of a valid structure, in field order, and the fraction
// digits (without trailing zeros) of its seconds.
void WriteBody(const SQL_INTERVAL_STRUCT& s, IntervalQualifier q, int precision, Writer* w) {
  if (s.interval_sign == SQL_TRUE) w->Put("-");
  const auto& ym = s.intval.year_month;
  const auto& ds = s.intval.day_second;
  for (uint8_t f = q.leading; f <= q.trailing; ++f) {
    unsigned long v = 0;
    switch (f) {
      case IVF_YEAR: v = ym.year; break;
      case IVF_MONTH: v = ym.month; break;
      case IVF_DAY: v = ds.day; break;
      case IVF_HOUR: v = ds.hour; break;
      case IVF_MINUTE: v = ds.minute; break;
      default: v = ds.second; break;
    }
    if (f == q.leading) {
      w->Put("%lu", v);
    } else {
      w->Put(f == IVF_MONTH ? "-%02lu" : f == IVF_HOUR ? " %02lu" : ":%02lu", v);
    }
    if (f == IVF_SECOND && precision > 0 && ds.fraction != 0) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%0*lu", precision, static_cast<unsigned long>(ds.fraction));
      size_t n = std::strlen(digits);
      while (n > 1 && digits[n - 1] == '0') --n;
      digits[n] = '\0';
      w->Put(".%s", digits);
    }
  }
}

}  // namespace

IntervalQualifier IntervalQualifierOf(int code) {
  switch (code) {
    case SQL_IS_YEAR: return {IVF_YEAR, IVF_YEAR};
    case SQL_IS_MONTH: return {IVF_MONTH, IVF_MONTH};
    case SQL_IS_DAY: return {IVF_DAY, IVF_DAY};
    case SQL_IS_HOUR: return {IVF_HOUR, IVF_HOUR};
    case SQL_IS_MINUTE: return {IVF_MINUTE, IVF_MINUTE};
    case SQL_IS_SECOND: return {IVF_SECOND, IVF_SECOND};
    case SQL_IS_YEAR_TO_MONTH: return {IVF_YEAR, IVF_MONTH};
    case SQL_IS_DAY_TO_HOUR: return {IVF_DAY, IVF_HOUR};
    case SQL_IS_DAY_TO_MINUTE: return {IVF_DAY, IVF_MINUTE};
    case SQL_IS_DAY_TO_SECOND: return {IVF_DAY, IVF_SECOND};
    case SQL_IS_HOUR_TO_MINUTE: return {IVF_HOUR, IVF_MINUTE};
    case SQL_IS_HOUR_TO_SECOND: return {IVF_HOUR, IVF_SECOND};
    case SQL_IS_MINUTE_TO_SECOND: return {IVF_MINUTE, IVF_SECOND};
    default: return {};
  }
}

int IntervalCodeOf(IntervalQualifier q) {
  for (int code = SQL_IS_YEAR; code <= SQL_IS_MINUTE_TO_SECOND; ++code) {
    const IntervalQualifier c = IntervalQualifierOf(code);
    if (c.leading == q.leading && c.trailing == q.trailing) return code;
  }
  return 0;
}

int IntervalCodeOfTypeName(const char* name) {
  if (name == nullptr) return 0;
  std::string_view s = Trim(name);
  if (s.size() <= 8 || !SameWord(s.substr(0, 8), "INTERVAL") || !IsSpace(s[8])) return 0;
  IntervalQualifier q;
  return ReadQualifier(s.substr(8), &q) ? IntervalCodeOf(q) : 0;
}

bool IsYearMonthInterval(int code) {
  return code == SQL_IS_YEAR || code == SQL_IS_MONTH || code == SQL_IS_YEAR_TO_MONTH;
}

IntervalRead ReadIntervalText(const char* text, size_t n, IntervalQualifier hint, IntervalParts* out) {
  *out = IntervalParts{};
  std::string_view s = Trim(std::string_view(text, n));
  while (!s.empty() && s.back() == '\0') s = Trim(s.substr(0, s.size() - 1));
  if (s.size() >= 2 && s.front() == '{' && s.back() == '}') s = Trim(s.substr(1, s.size() - 2));
  if (s.empty()) return IntervalRead::Invalid;
  if (s.size() > 8 && SameWord(s.substr(0, 8), "INTERVAL") && !IsAlpha(s[8])) {
    return ReadLiteral(s.substr(8), out);
  }
  if (hint.leading != IVF_NONE && IntervalCodeOf(hint) != 0) {
    IntervalParts body;
    const IntervalRead r = ReadBody(s, hint, &body);
    if (r != IntervalRead::Invalid) {
      *out = body;
      return r;
    }
  }
  if (s[0] == 'P' || s[0] == 'p') return ReadIso(s, out);
  return ReadWords(s, hint, out);
}

int IntervalPartsToStruct(const IntervalParts& v, int code, int precision, SQL_INTERVAL_STRUCT* out,
                          bool* truncated) {
  *truncated = false;
  std::memset(out, 0, sizeof *out);
  const IntervalQualifier q = IntervalQualifierOf(code);
  if (q.leading == IVF_NONE) return KX_ERR_RESTRICTED_TYPE;
  out->interval_type = static_cast<SQLINTERVAL>(code);
  if (!IsDayTimeField(q.leading)) {
    const uint64_t mag = Magnitude(v.months);
    uint64_t year = 0, month = 0;
    if (q.leading == IVF_YEAR) {
      year = mag / 12;
      if (q.trailing == IVF_MONTH) month = mag % 12;
      else if (mag % 12 != 0) *truncated = true;
    } else {
      month = mag;
    }
    if (year > UINT32_MAX || month > UINT32_MAX) return KX_ERR_INTERVAL_OVERFLOW;
    if (v.days != 0 || v.seconds != 0 || v.nanos != 0) *truncated = true;
    out->interval_sign = v.months < 0 ? SQL_TRUE : SQL_FALSE;
    out->intval.year_month.year = static_cast<SQLUINTEGER>(year);
    out->intval.year_month.month = static_cast<SQLUINTEGER>(month);
    return 0;
  }
  if (v.months != 0) return KX_ERR_INTERVAL_OVERFLOW;
  const Int128 total =
      (static_cast<Int128>(v.days) * kSecondsPerDay + v.seconds) * kNanosPerSecond + v.nanos;
  const bool negative = total < 0;
  auto rest = static_cast<unsigned __int128>(negative ? -total : total);
  SQLUINTEGER fields[IVF_SECOND + 1] = {};
  for (uint8_t f = q.leading; f <= q.trailing; ++f) {
    const auto unit = static_cast<unsigned __int128>(NanosOfField(f));
    const unsigned __int128 n = rest / unit;
    rest %= unit;
    if (n > UINT32_MAX) return KX_ERR_INTERVAL_OVERFLOW;
    fields[f] = static_cast<SQLUINTEGER>(n);
  }
  SQLUINTEGER fraction = 0;
  if (q.trailing == IVF_SECOND) {
    const int p = ClampPrecision(precision);
    const int64_t scale = Pow10(9 - p);
    fraction = static_cast<SQLUINTEGER>(static_cast<int64_t>(rest) / scale);
    if (static_cast<int64_t>(rest) % scale != 0) *truncated = true;
  } else if (rest != 0) {
    *truncated = true;
  }
  out->interval_sign = negative ? SQL_TRUE : SQL_FALSE;
  auto& ds = out->intval.day_second;
  ds.day = fields[IVF_DAY];
  ds.hour = fields[IVF_HOUR];
  ds.minute = fields[IVF_MINUTE];
  ds.second = fields[IVF_SECOND];
  ds.fraction = fraction;
  return 0;
}

int IntervalTypeOf(const SQL_INTERVAL_STRUCT& s) {
  static_assert(sizeof s.interval_type == sizeof(int32_t));
  int32_t code = 0;
  std::memcpy(&code, &s.interval_type, sizeof code);
  return code;
}

bool IntervalStructToParts(const SQL_INTERVAL_STRUCT& s, int precision, IntervalParts* out) {
  *out = IntervalParts{};
  const IntervalQualifier q = IntervalQualifierOf(IntervalTypeOf(s));
  if (q.leading == IVF_NONE) return false;
  const bool negative = s.interval_sign == SQL_TRUE;
  if (!IsDayTimeField(q.leading)) {
    const auto& ym = s.intval.year_month;
    if (q.leading == IVF_YEAR && q.trailing == IVF_MONTH && ym.month >= 12) return false;
    uint64_t months = q.leading == IVF_YEAR ? uint64_t{ym.year} * 12 : ym.month;
    if (q.leading == IVF_YEAR && q.trailing == IVF_MONTH) months += ym.month;
    out->months = negative ? -static_cast<int64_t>(months) : static_cast<int64_t>(months);
    return true;
  }
  const auto& ds = s.intval.day_second;
  const int p = ClampPrecision(precision);
  // Trailing fields within their range; the leading one open.
  if ((q.leading < IVF_HOUR && q.trailing >= IVF_HOUR && ds.hour >= 24) ||
      (q.leading < IVF_MINUTE && q.trailing >= IVF_MINUTE && ds.minute >= 60) ||
      (q.leading < IVF_SECOND && q.trailing >= IVF_SECOND && ds.second >= 60)) {
    return false;
  }
  if (q.trailing == IVF_SECOND && ds.fraction >= static_cast<uint64_t>(Pow10(p))) return false;
  int64_t days = 0, seconds = 0;
  for (uint8_t f = q.leading; f <= q.trailing; ++f) {
    switch (f) {
      case IVF_DAY: days = ds.day; break;
      case IVF_HOUR: seconds += int64_t{ds.hour} * 3600; break;
      case IVF_MINUTE: seconds += int64_t{ds.minute} * 60; break;
      default: seconds += ds.second; break;
    }
  }
  const auto nanos = static_cast<int32_t>(q.trailing == IVF_SECOND ? ds.fraction * Pow10(9 - p) : 0);
  out->days = negative ? -days : days;
  out->seconds = negative ? -seconds : seconds;
  out->nanos = negative ? -nanos : nanos;
  return true;
}

size_t IntervalStructToLiteral(const SQL_INTERVAL_STRUCT& s, int precision, char* out, size_t cap) {
  IntervalParts ignored;
  if (cap == 0 || !IntervalStructToParts(s, precision, &ignored)) return 0;
  const IntervalQualifier q = IntervalQualifierOf(IntervalTypeOf(s));
  Writer w{out, cap};
  w.Put("INTERVAL '");
  WriteBody(s, q, ClampPrecision(precision), &w);
  w.Put("' %s", FieldName(q.leading));
  if (q.trailing != q.leading) w.Put(" TO %s", FieldName(q.trailing));
  return w.ok ? w.len : 0;
}

size_t IntervalStructToNumber(const SQL_INTERVAL_STRUCT& s, int precision, char* out, size_t cap) {
  IntervalParts ignored;
  if (cap == 0 || !IntervalStructToParts(s, precision, &ignored)) return 0;
  const IntervalQualifier q = IntervalQualifierOf(IntervalTypeOf(s));
  if (q.leading != q.trailing) return 0;
  Writer w{out, cap};
  WriteBody(s, q, ClampPrecision(precision), &w);
  return w.ok ? w.len : 0;
}

size_t IntervalPartsToUnitText(const IntervalParts& v, char* out, size_t cap) {
  Writer w{out, cap};
  auto part = [&](int64_t n, const char* unit) {
    if (n == 0) return;
    w.Put("%s%s%llu %s", w.len > 0 ? " " : "", n < 0 ? "-" : "+",
          static_cast<unsigned long long>(Magnitude(n)), unit);
  };
  part(v.months / 12, "years");
  part(v.months % 12, "months");
  part(v.days, "days");
  part(v.seconds / 3600, "hours");
  part(v.seconds % 3600 / 60, "minutes");
  const int64_t sec = v.seconds % 60;
  if (sec != 0 || v.nanos != 0 || w.len == 0) {
    const bool negative = sec < 0 || v.nanos < 0;
    w.Put("%s%s%llu", w.len > 0 ? " " : "", negative ? "-" : "+",
          static_cast<unsigned long long>(Magnitude(sec)));
    if (v.nanos != 0) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%09u", static_cast<unsigned>(v.nanos < 0 ? -v.nanos : v.nanos));
      size_t n = 9;
      while (n > 1 && digits[n - 1] == '0') --n;
      digits[n] = '\0';
      w.Put(".%s", digits);
    }
    w.Put(" seconds");
  }
  return w.ok ? w.len : 0;
}

}  // namespace kx
