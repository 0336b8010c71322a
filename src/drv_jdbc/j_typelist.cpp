#include "drv_jdbc/j_typelist.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <set>
#include <utility>

#include "drv_jdbc/j_desc.h"
#include "drv_jdbc/j_jdbc_types.h"
#include "drv_jdbc/j_typemap.h"
#include "util/interval_text.h"

namespace kx {

namespace {

bool NameIs(const char* name, const char* lower) {
  if (name == nullptr) return false;
  size_t i = 0;
  for (; name[i] != '\0' && lower[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != lower[i]) return false;
  }
  return name[i] == '\0' && lower[i] == '\0';
}

// What some JDBC drivers leave out of their type lists: PostgreSQL gives
// text, name, "char" and uuid no size and uuid no type code. Only a type
// the driver gives no size takes its size from here; a UUID type is a GUID
// whatever the driver says.
struct TypeFact {
  const char* name;  // lower case
  int32_t odbcType;
  int32_t size;
};
constexpr TypeFact kFacts[] = {
    {"uuid", SQL_GUID, JDB_GUID_SIZE},
    {"name", SQL_VARCHAR, 63},  // an identifier, never a general text type
    {"text", SQL_LONGVARCHAR, INT32_MAX},
    {"char", SQL_CHAR, 1},  // PostgreSQL's one-byte "char"
};

const TypeFact* FindFact(const std::string& name) {
  for (const TypeFact& f : kFacts) {
    if (NameIs(name.c_str(), f.name)) return &f;
  }
  return nullptr;
}

// Types that share a code with a general type but serve a narrower purpose:
// a bit string, an object identifier, a currency and the zone-bearing times.
// The JDBC driver's own order cannot be trusted to put them after the
// general type: PostgreSQL's list comes from a catalog query without an
// ORDER BY, and its order changes with the plan the server picks.
constexpr const char* kNarrowNames[] = {"bit", "varbit", "oid", "money", "timetz", "timestamptz"};

bool Narrow(const std::string& name) {
  for (const char* n : kNarrowNames) {
    if (NameIs(name.c_str(), n)) return true;
  }
  return false;
}

// Rank among the types of one code: the general type, then the narrower
// ones, then types fit for columns of their own kind only (serial, identity).
constexpr int kRankGeneral = 0;
constexpr int kRankNarrow = 1;
constexpr int kRankAutoIncrement = 2;

bool Listed(int32_t t) {
  switch (t) {
    case SQL_BIT: case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT:
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE: case SQL_NUMERIC: case SQL_DECIMAL:
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP: case SQL_GUID:
      return true;
    default:
      return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
  }
}

bool TextLike(int32_t t) {
  switch (t) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return true;
    default:
      return false;
  }
}

int32_t WideOf(int32_t t) {
  switch (t) {
    case SQL_CHAR: return SQL_WCHAR;
    case SQL_VARCHAR: return SQL_WVARCHAR;
    case SQL_LONGVARCHAR: return SQL_WLONGVARCHAR;
    default: return 0;
  }
}

// The code a row is sorted by: the one the application sees.
int32_t SortCode(int32_t t, bool odbc3) {
  return odbc3 && t >= SQL_DATE && t <= SQL_TIMESTAMP ? t + (SQL_TYPE_DATE - SQL_DATE) : t;
}

void SetNumber(TypeListCell* c, int32_t v) {
  c->isNull = false;
  c->number = v;
  c->text.clear();
}

void SetText(TypeListCell* c, const char* v) {
  c->isNull = false;
  c->number = 0;
  c->text = v;
}

struct Candidate {
  TypeListRow row;
  int32_t code;
  int demote;        // kRankGeneral, kRankNarrow or kRankAutoIncrement
  int64_t capacity;  // text and binary types: the longest value, -1 unknown
  size_t order;      // JDBC's own order: its best match first
};

}  // namespace

bool JDB_IsNumberType(int32_t t) {
  switch (t) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_REAL:
    case SQL_FLOAT: case SQL_DOUBLE: case SQL_NUMERIC: case SQL_DECIMAL:
      return true;
    default:
      return false;
  }
}


bool JDB_IsUuidTypeName(const char* name) { return NameIs(name, "uuid"); }

int32_t JDB_FixedColumnSize(int32_t t) {
  switch (t) {
    case SQL_TINYINT: return 3;
    case SQL_SMALLINT: return 5;
    case SQL_INTEGER: return 10;
    case SQL_BIGINT: return 19;
    case SQL_REAL: return 7;
    case SQL_FLOAT: case SQL_DOUBLE: return 15;
    default: return 0;
  }
}

bool JDB_IsApproximateType(int32_t t) { return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE; }

int32_t JDB_KnownTextSize(const char* name) {
  for (const TypeFact& f : kFacts) {
    if (f.odbcType == SQL_VARCHAR && NameIs(name, f.name)) return f.size;
  }
  return 0;
}

std::vector<TypeListRow> JDB_OdbcTypeList(const std::vector<TypeListRow>& jdbcRows,
                                          const TypeListOptions& o) {
  std::vector<Candidate> list;
  list.reserve(jdbcRows.size());
  for (size_t i = 0; i < jdbcRows.size(); ++i) {
    const TypeListRow& j = jdbcRows[i];
    if (j[TL_TYPE_NAME].isNull || j[TL_DATA_TYPE].isNull) continue;
    const int32_t jdbcType = j[TL_DATA_TYPE].number;
    const int32_t given = j[TL_COLUMN_SIZE].isNull ? 0 : j[TL_COLUMN_SIZE].number;
    const TypeFact* fact = FindFact(j[TL_TYPE_NAME].text);
    if (fact != nullptr && fact->odbcType != SQL_GUID && given > 0) fact = nullptr;
    int32_t code = fact != nullptr ? fact->odbcType : JDB_OdbcTypeOfJdbc(jdbcType, o.jet ? 1 : 0);
    // An interval type that names its fields (H2's INTERVAL DAY TO SECOND)
    // is that ODBC interval type, as its columns are described.
    const int interval = code == SQL_UNKNOWN_TYPE ? IntervalCodeOfTypeName(j[TL_TYPE_NAME].text.c_str()) : 0;
    if (interval != 0) code = SQL_INTERVAL_YEAR + (interval - SQL_IS_YEAR);
    // ODBC 2 has no interval types.
    if (!Listed(code) || (interval != 0 && !o.odbc3)) continue;
    // A variable type without a longest value (PostgreSQL's bytea) is a long type.
    const bool unbounded = given <= 0 || given == INT32_MAX;
    // A character type without a longest value that no fact names general
    // text is a type of its own kind listed as text (a PostgreSQL enum):
    // a column of it holds its labels only, never what a text column holds.
    if (fact == nullptr && unbounded && (code == SQL_VARCHAR || code == SQL_CHAR)) continue;
    if (fact == nullptr && unbounded) {
      if (code == SQL_VARBINARY || code == SQL_BINARY) code = SQL_LONGVARBINARY;
    }
    // A string of bits (PostgreSQL's bit(n)) is described as character data
    // once it is longer than one bit; a column of one bit is a BIT.
    const bool bitString = jdbcType == JT_BIT && given > 1;
    Candidate c{j, code, Narrow(j[TL_TYPE_NAME].text) ? kRankNarrow : kRankGeneral, -1, i};
    TypeListRow& r = c.row;
    SetNumber(&r[TL_DATA_TYPE], code);
    int32_t size = given;
    if (fact != nullptr) {
      size = fact->size;
    } else if (const int32_t fixed = JDB_FixedColumnSize(code); fixed > 0) {
      // Decimal digits, as ODBC counts them, whatever radix the driver used.
      size = fixed;
      SetNumber(&r[TL_NUM_PREC_RADIX], 10);
    } else if ((code == SQL_LONGVARCHAR || code == SQL_LONGVARBINARY) && unbounded) {
      size = INT32_MAX;
    }
    if (code == SQL_NUMERIC && jdbcType == JT_BIGINT) {  // BIGINT under JET
      SetText(&r[TL_TYPE_NAME], "NUMERIC");
      size = JDB_BIGINT_AS_NUMERIC_SIZE;
    }
    if (interval != 0) {
      // The characters of the longest value (ODBC's column size of an
      // interval) from the leading precision the type allows and its
      // fraction digits, and that leading precision.
      AgentColDesc d{};
      const int32_t maxScale = r[TL_MAXIMUM_SCALE].isNull ? 0 : r[TL_MAXIMUM_SCALE].number;
      JDB_DescribeType(nullptr, 0, jdbcType, 0, maxScale, given, j[TL_TYPE_NAME].text.c_str(), &d);
      size = d.columnSize;
      if (given > 0) SetNumber(&r[TL_INTERVAL_PRECISION], given);
    }
    SetNumber(&r[TL_COLUMN_SIZE], size);
    if (JDB_IsApproximateType(code) || code == SQL_GUID) {
      r[TL_MINIMUM_SCALE] = TypeListCell{};
      r[TL_MAXIMUM_SCALE] = TypeListCell{};
    }
    if (code == SQL_BIT) SetNumber(&r[TL_COLUMN_SIZE], 1);
    // The fixed-width character and binary types as long as a column of them
    // is still described by the code (wider ones are long types).
    if ((code == SQL_CHAR || code == SQL_VARCHAR || code == SQL_BINARY || code == SQL_VARBINARY) &&
        !r[TL_COLUMN_SIZE].isNull && r[TL_COLUMN_SIZE].number > static_cast<int32_t>(JDB_LONG_LIMIT)) {
      SetNumber(&r[TL_COLUMN_SIZE], static_cast<int32_t>(JDB_LONG_LIMIT));
    }
    if (!JDB_IsNumberType(code)) {
      // Attributes of numbers only (PostgreSQL fills them for every type).
      r[TL_UNSIGNED_ATTRIBUTE] = TypeListCell{};
      r[TL_NUM_PREC_RADIX] = TypeListCell{};
      r[TL_AUTO_UNIQUE_VALUE] = TypeListCell{};
      const IntervalQualifier q = IntervalQualifierOf(interval);
      if (code != SQL_TIME && code != SQL_TIMESTAMP && q.trailing != IVF_SECOND) {
        r[TL_MINIMUM_SCALE] = TypeListCell{};
        r[TL_MAXIMUM_SCALE] = TypeListCell{};
      }
    }
    if (code == SQL_GUID) {
      r[TL_CREATE_PARAMS] = TypeListCell{};
      SetNumber(&r[TL_CASE_SENSITIVE], 0);
    }
    // What a column definition takes after the name, where the driver does
    // not say: only types with a longest value take a length.
    if (r[TL_CREATE_PARAMS].isNull && fact == nullptr && given > 0 && !unbounded) {
      switch (code) {
        case SQL_CHAR: case SQL_BINARY: SetText(&r[TL_CREATE_PARAMS], "length"); break;
        case SQL_VARCHAR: case SQL_VARBINARY: SetText(&r[TL_CREATE_PARAMS], "max length"); break;
        case SQL_NUMERIC: case SQL_DECIMAL: SetText(&r[TL_CREATE_PARAMS], "precision,scale"); break;
        default: break;
      }
    }
    if (!r[TL_AUTO_UNIQUE_VALUE].isNull && r[TL_AUTO_UNIQUE_VALUE].number != 0) c.demote = kRankAutoIncrement;
    if (TextLike(code)) c.capacity = size > 0 ? size : -1;
    r[TL_SQL_DATA_TYPE] = TypeListCell{};
    r[TL_SQL_DATETIME_SUB] = TypeListCell{};
    if (interval == 0) r[TL_INTERVAL_PRECISION] = TypeListCell{};
    if (bitString) {
      // Listed as a BIT of one bit and, with a length, as character data.
      Candidate text = c;
      text.code = SQL_VARCHAR;
      text.demote = kRankNarrow;
      text.capacity = -1;
      SetNumber(&text.row[TL_DATA_TYPE], SQL_VARCHAR);
      SetNumber(&text.row[TL_COLUMN_SIZE],
                given > static_cast<int32_t>(JDB_LONG_LIMIT) ? static_cast<int32_t>(JDB_LONG_LIMIT) : given);
      SetText(&text.row[TL_CREATE_PARAMS], "length");
      if (o.wide) {
        Candidate w = text;
        w.code = SQL_WVARCHAR;
        SetNumber(&w.row[TL_DATA_TYPE], w.code);
        list.push_back(std::move(w));
      }
      list.push_back(std::move(text));
    }
    if (o.wide && WideOf(code) != 0) {
      // A Unicode client sees character columns described by their wide
      // codes: the same types are listed under those too.
      Candidate w = c;
      w.code = WideOf(code);
      SetNumber(&w.row[TL_DATA_TYPE], w.code);
      list.push_back(std::move(w));
    }
    list.push_back(std::move(c));
  }
  std::stable_sort(list.begin(), list.end(), [&](const Candidate& a, const Candidate& b) {
    const int32_t ka = SortCode(a.code, o.odbc3), kb = SortCode(b.code, o.odbc3);
    if (ka != kb) return ka < kb;
    if (a.demote != b.demote) return a.demote < b.demote;
    // The type that holds the longest values is the general one (varchar
    // before name, bpchar before "char").
    if (a.capacity != b.capacity) return a.capacity > b.capacity;
    return a.order < b.order;
  });
  std::vector<TypeListRow> out;
  std::set<std::pair<int32_t, std::string>> seen;
  for (Candidate& c : list) {
    if (o.filter != 0 && c.code != o.filter) continue;
    if (!seen.emplace(c.code, c.row[TL_TYPE_NAME].text).second) continue;
    out.push_back(std::move(c.row));
  }
  return out;
}

}  // namespace kx
