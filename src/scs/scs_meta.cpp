// Table and column metadata for the cursor model and the query builders: the
// identifier rules of the data source, the resolution of a SELECT's tables in
// the catalog, the columns of those tables, the select list with its
// wildcards expanded, and column names as generated SQL writes them. All
// catalog work runs on the cursor's keyset statement, straight to the agent,
// so the application's statement and result are never touched.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sqlext.h>

#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/log.h"
#include "util/str_util.h"
#include "util/text_conv.h"
#include "util/unicase.h"

namespace kx {

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

constexpr size_t kNameMax = SCS_NAME_LEN - 1;  // bytes of a name without its terminator
constexpr uint16_t kCatalogBlock = 10;

void CopyName(char* dst, const std::string& src) {
  const size_t n = src.size() < kNameMax ? src.size() : kNameMax;
  StrCopyBytes(dst, src.data(), Utf8CharBoundary(src.data(), n));
}

void Fold(std::string* text, int32_t mode, bool unicode, bool mixedUpper) {
  const bool upper = mode == SQL_IC_UPPER || (mixedUpper && mode == SQL_IC_MIXED);
  const bool lower = mode == SQL_IC_LOWER;
  if (!upper && !lower) return;
  if (unicode) {
    std::string buffer = *text;
    buffer.push_back('\0');
    buffer.resize(buffer.size() * 2 + 8, '\0');  // room for forms that grow
    if (upper) {
      Utf8Upper(buffer.data(), buffer.size());
    } else {
      Utf8Lower(buffer.data(), buffer.size());
    }
    *text = buffer.c_str();
    return;
  }
  for (char& ch : *text) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (u >= 0x80) continue;  // only ASCII letters have a case byte-wise
    ch = static_cast<char>(upper ? std::toupper(u) : std::tolower(u));
  }
}

// A name as the data source holds it: unquoted and folded by the rule for
// quoted or for plain names; *quoted, when asked, says which it was.
std::string FoldedName(const std::string& name, const ScsIdentRules& r, bool mixedUpper, bool* quoted = nullptr) {
  std::string s = name;
  const bool isQuoted = SCS_IsQuotedName(s, r.quote);
  if (isQuoted) {
    s = SCS_UnquoteName(s, r.quote);
    Fold(&s, r.quotedCase, r.unicode != 0, mixedUpper);
  } else {
    Fold(&s, r.identCase, r.unicode != 0, mixedUpper);
  }
  if (quoted != nullptr) *quoted = isQuoted;
  return s;
}

// Owner or table of a reference as the catalog is asked for it.
std::string CatalogArg(const char* name, const ScsIdentRules& r) {
  return FoldedName(name != nullptr ? name : "", r, false);
}

void SetRefText(char** field, const std::string& value, int* rc) {
  char* copy = strdup(value.c_str());
  if (copy == nullptr) {
    *rc = KX_ERR_NOMEM;
    return;
  }
  std::free(*field);
  *field = copy;
}

// The connection's current schema (Connection.getSchema()), "" when unknown.
std::string CurrentSchema(const ScsCursor* c) {
  char text[SCS_NAME_LEN] = {};
  uint16_t length = 0;
  if (AgentCall(Agent(), &AgentOps::DRV_GetProperty, c->conn, AP_CONN_SCHEMA, static_cast<void*>(text),
                static_cast<uint16_t>(sizeof text), &length) != 0) {
    return "";
  }
  text[sizeof text - 1] = '\0';
  return text;
}

int FreeColDescList(ARR** list) {
  ARR_Free(list, nullptr);
  return 0;
}

}  // namespace

ScsIdentRules SCS_IdentRules(const ScsCursor* c) {
  ScsIdentRules r;
  if (c != nullptr && c->connInfo != nullptr) {
    r.quote = c->connInfo->identQuote;
    r.identCase = c->connInfo->identCase;
    r.quotedCase = c->connInfo->quotedIdentCase;
    r.unicode = c->connInfo->unicodeClient;
  }
  return r;
}

bool SCS_IsQuotedName(const std::string& name, char quote) {
  return StrIsQuoted(name.data(), name.size(), quote);
}

std::string SCS_UnquoteName(const std::string& name, char quote) {
  std::string out(StrUnquoteTo(nullptr, 0, name.data(), name.size(), quote), '\0');
  StrUnquoteTo(out.data(), out.size() + 1, name.data(), name.size(), quote);
  return out;
}

std::string scs_p_UnquotedRef(const char* name, char quote) {
  return SCS_UnquoteName(name != nullptr ? name : "", quote);
}

std::string SCS_QuoteName(const std::string& name, char quote) {
  std::string out(StrQuoteTo(nullptr, 0, name.data(), name.size(), quote), '\0');
  StrQuoteTo(out.data(), out.size() + 1, name.data(), name.size(), quote);
  return out;
}

int scs_p_NormaliseIdent(char* name, const ScsIdentRules& r, bool requote) {
  if (name == nullptr || name[0] == '\0') return 0;
  bool quoted = false;
  std::string s = FoldedName(name, r, false, &quoted);
  bool addQuotes = false;
  if (r.quote != 0 && requote) {
    // Quotes on an unquoted name are left off where they would change how
    // the data source folds it.
    const bool changesFolding = (r.identCase == SQL_IC_SENSITIVE && r.quotedCase != SQL_IC_SENSITIVE) ||
                                (r.identCase == SQL_IC_LOWER && r.quotedCase == SQL_IC_UPPER) ||
                                (r.identCase == SQL_IC_UPPER && r.quotedCase == SQL_IC_LOWER);
    addQuotes = quoted || !changesFolding;
  }
  if (addQuotes) s = SCS_QuoteName(s, r.quote);
  // A name is never cut: cut, it would name another column.
  if (s.size() > kNameMax) return KX_ERR_GENERAL;
  StrCopyBytes(name, s.data(), s.size());
  return 0;
}

int scs_p_IdentEqual(const char* a, const char* b, const ScsIdentRules& r) {
  if (a == nullptr || b == nullptr || a[0] == '\0' || b[0] == '\0') return 0;
  return FoldedName(a, r, true) == FoldedName(b, r, true) ? 1 : 0;
}

int scs_p_CatalogStrGet(const RowBuffer* rb, int32_t row, uint16_t col, std::string* out, bool* isNull) {
  out->clear();
  *isNull = true;
  if (rb == nullptr || col >= rb->colCount || row < 0 || row >= rb->rowCount) return KX_ERR_GENERAL;
  const RowBufferColumn* c = &rb->columns[col];
  if (c->indicators != nullptr && c->indicators[row] == RB_IND_NULL) return 0;
  const unsigned char* e = RB_Element(c, static_cast<size_t>(row));
  const char* narrow = nullptr;
  const char16_t* wide = nullptr;
  size_t n = 0;
  auto bounded = [](const unsigned char* p, size_t cap) {
    size_t k = 0;
    while (k < cap && p[k] != 0) ++k;
    return k;
  };
  auto boundedWide = [](const unsigned char* p, size_t units) {
    size_t k = 0;
    for (; k < units; ++k) {
      char16_t u;
      std::memcpy(&u, p + 2 * k, 2);
      if (u == 0) break;
    }
    return k;
  };
  switch (c->type) {
    case RBT_CHAR: narrow = reinterpret_cast<const char*>(e); n = c->width; break;
    case RBT_CHAR_NTS: narrow = reinterpret_cast<const char*>(e); n = bounded(e, c->width); break;
    case RBT_CHAR_PTR: {
      const RBPtrValue v = RB_GetPtrValue(e);
      narrow = static_cast<const char*>(v.block);
      n = v.block != nullptr ? v.length : 0;
      break;
    }
    case RBT_CHAR_LEN1: case RBT_CHAR_LEN2: case RBT_CHAR_LEN4: {
      const uint32_t prefix = RB_LengthPrefixBytes(c->type);
      const uint32_t len = RB_LoadLengthPrefix(e, prefix);
      narrow = reinterpret_cast<const char*>(e + prefix);
      n = len <= c->width - prefix ? len : c->width - prefix;
      break;
    }
    case RBT_WCHAR: wide = reinterpret_cast<const char16_t*>(e); n = c->width / 2; break;
    case RBT_WCHAR_NTS: wide = reinterpret_cast<const char16_t*>(e); n = boundedWide(e, c->width / 2); break;
    case RBT_WCHAR_PTR: {
      const RBPtrValue v = RB_GetPtrValue(e);
      wide = static_cast<const char16_t*>(v.block);
      n = v.block != nullptr ? v.length : 0;
      break;
    }
    case RBT_WCHAR_LEN4: {
      const uint32_t len = RB_LoadLengthPrefix(e, 4);
      wide = reinterpret_cast<const char16_t*>(e + 4);
      const size_t room = (c->width - 4) / 2;
      n = len <= room ? len : room;
      break;
    }
    default:
      return KX_ERR_GENERAL;
  }
  *isNull = false;
  if (narrow != nullptr) {
    if (n > kNameMax) n = Utf8CharBoundary(narrow, kNameMax);
    out->assign(narrow, n);
  } else if (wide != nullptr) {
    // The units may sit unaligned inside the element: copy them first.
    std::u16string units(n, u'\0');
    std::memcpy(units.data(), wide, n * 2);
    char buffer[SCS_NAME_LEN];
    size_t used = 0;
    const size_t bytes = Ucs2ToUtf8N(units.data(), buffer, n, kNameMax, &used);
    out->assign(buffer, bytes);
  }
  return 0;
}

bool scs_p_CatalogIntGet(const RowBuffer* rb, int32_t row, uint16_t col, int64_t* out) {
  *out = 0;
  if (rb == nullptr || col >= rb->colCount || row < 0 || row >= rb->rowCount) return false;
  const RowBufferColumn* c = &rb->columns[col];
  if (c->indicators != nullptr && c->indicators[row] == RB_IND_NULL) return false;
  const unsigned char* e = RB_Element(c, static_cast<size_t>(row));
  switch (c->type) {
    case RBT_BIT: case RBT_UTINYINT: *out = *e; return true;
    case RBT_STINYINT: *out = static_cast<int8_t>(*e); return true;
    case RBT_SSHORT: { int16_t v; std::memcpy(&v, e, 2); *out = v; return true; }
    case RBT_USHORT: { uint16_t v; std::memcpy(&v, e, 2); *out = v; return true; }
    case RBT_SLONG: { int32_t v; std::memcpy(&v, e, 4); *out = v; return true; }
    case RBT_ULONG: { uint32_t v; std::memcpy(&v, e, 4); *out = v; return true; }
    case RBT_DOUBLE: { double v; std::memcpy(&v, e, 8); *out = static_cast<int64_t>(v); return true; }
    default: break;
  }
  std::string text;
  bool isNull = true;
  if (scs_p_CatalogStrGet(rb, row, col, &text, &isNull) != 0 || isNull) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return false;
  *out = v;
  return true;
}

int scs_p_CatalogRows(ScsCursor* c, const char* what, RowBuffer* out,
                      const std::function<int32_t(AgentHandle)>& call) {
  if (scs_p_UseKeysetStmt(c) != 0) return KX_ERR_GENERAL;
  RB_Free(out);
  int32_t rc = call(c->keysetStmt);
  if (rc != 0) {
    LogError("%s failed.", what);
    return rc;
  }
  for (;;) {
    RowBuffer block{};
    rc = AgentCall(Agent(), &AgentOps::DRV_FetchBlock, c->keysetStmt, kCatalogBlock, &block);
    if (rc != 0) {
      RB_Free(&block);
      LogError("%s: Couldn't fetch the catalog rows.", what);
      break;
    }
    const int32_t got = block.rowCount;
    if (out->colCount == 0) {
      *out = block;
    } else {
      if (got > 0) rc = RB_Append(out, &block);
      RB_Free(&block);
      if (rc != 0) break;
    }
    if (got < kCatalogBlock) break;
  }
  AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->keysetStmt);
  if (rc != 0) RB_Free(out);
  return rc;
}

std::string SCS_PatternArg(const ScsCursor* c, const std::string& name) {
  const std::string escape = c != nullptr && c->connInfo != nullptr ? c->connInfo->searchEscape : "";
  if (escape.empty()) return name;
  std::string out;
  out.reserve(name.size() + 4);
  for (size_t i = 0; i < name.size(); ++i) {
    if (name.compare(i, escape.size(), escape) == 0) {
      out += escape + escape;
      i += escape.size() - 1;
      continue;
    }
    if (name[i] == '_' || name[i] == '%') out += escape;
    out += name[i];
  }
  return out;
}

bool scs_p_CatalogRowNames(const RowBuffer* rows, int32_t row, uint16_t schemCol, uint16_t nameCol,
                           const std::string& owner, const std::string& table) {
  std::string name, schem;
  bool nameNull = true, schemNull = true;
  if (scs_p_CatalogStrGet(rows, row, nameCol, &name, &nameNull) != 0 || nameNull || name != table) return false;
  if (owner.empty()) return true;
  return scs_p_CatalogStrGet(rows, row, schemCol, &schem, &schemNull) == 0 && !schemNull && schem == owner;
}

bool scs_p_CatalogRowsNamed(const RowBuffer* rows, uint16_t schemCol, uint16_t nameCol, const std::string& owner,
                            const std::string& table) {
  for (int32_t k = 0; k < rows->rowCount; ++k) {
    if (scs_p_CatalogRowNames(rows, k, schemCol, nameCol, owner, table)) return true;
  }
  return false;
}

int scs_p_GetTblDescs(ScsCursor* c, ARR* refs) {
  if (c == nullptr || refs == nullptr) return KX_ERR_GENERAL;
  const ScsIdentRules r = SCS_IdentRules(c);
  for (uint32_t i = 0; i < refs->count; ++i) {
    auto* ref = static_cast<SCR_TABLEREF*>(ARR_At(refs, i));
    const std::string table = CatalogArg(ref->table, r);
    const bool ownerGiven = ref->owner != nullptr && ref->owner[0] != '\0';
    // An unqualified name resolves through the schema search path: when the
    // catalog knows the table in several schemas, the connection's current
    // schema names the one meant, and after it the user's own.
    std::vector<std::string> owners;
    owners.push_back(ownerGiven ? CatalogArg(ref->owner, r) : "%");
    if (!ownerGiven) {
      const std::string schema = CurrentSchema(c);
      if (!schema.empty()) owners.push_back(schema);
      if (c->connInfo != nullptr && !c->connInfo->userName.empty()) {
        owners.push_back(CatalogArg(c->connInfo->userName.c_str(), r));
      }
    }
    bool resolved = false;
    for (size_t attempt = 0; attempt < owners.size() && !resolved; ++attempt) {
      if (attempt > 0) {
        LogError("Trying %s as owner qualifier.", owners[attempt].c_str());
      }
      RowBuffer rows{};
      const char* qualifier = ref->qualifier != nullptr && ref->qualifier[0] != '\0' ? ref->qualifier : nullptr;
      const std::string owner = owners[attempt];
      // Names, not patterns: kx_a finds kx_a, never kxxa as well.
      const std::string ownerArg = owner == "%" ? owner : SCS_PatternArg(c, owner);
      const std::string tableArg = SCS_PatternArg(c, table);
      int rc = scs_p_CatalogRows(c, "scs_p_GetTblDescs: DRV_DDTables", &rows, [&](AgentHandle h) {
        return AgentCall(Agent(), &AgentOps::DRV_DDTables, h, qualifier, ownerArg.c_str(), tableArg.c_str(), "");
      });
      if (rc != 0) return rc;
      // The rows of exactly that name (a data source without a pattern
      // escape matches others too); the first of them is the one read.
      int32_t found = 0, at = -1;
      for (int32_t k = 0; k < rows.rowCount; ++k) {
        if (!scs_p_CatalogRowNames(&rows, k, SCS_TABLES_SCHEM, SCS_TABLES_NAME, owner == "%" ? "" : owner, table)) {
          continue;
        }
        if (at < 0) at = k;
        ++found;
      }
      if (found == 0 && rows.rowCount > 0) {
        // A catalog that spells the name otherwise than asked: its answer.
        found = rows.rowCount;
        at = 0;
      }
      if (found == 0) {
        RB_Free(&rows);
        if (attempt > 0) continue;  // no such table in that schema: try the next
        LogError("scs_p_GetTblDescs: Table %s does not exist.", table.c_str());
        SCS_PostMsg(c, ("Table or view not found: " + table).c_str(), "42S02");
        return KX_ERR_TABLE_NOT_FOUND;
      }
      if (found > 1) {
        RB_Free(&rows);
        LogError("scs_p_GetTblDescs: Duplicate table name (%s).\n\tRequire owner qualifier to resolve.",
                 table.c_str());
        continue;
      }
      std::string cat, schem, name;
      bool catNull = true, schemNull = true, nameNull = true;
      rc = scs_p_CatalogStrGet(&rows, at, SCS_TABLES_CAT, &cat, &catNull);
      if (rc == 0) rc = scs_p_CatalogStrGet(&rows, at, SCS_TABLES_SCHEM, &schem, &schemNull);
      if (rc == 0) rc = scs_p_CatalogStrGet(&rows, at, SCS_TABLES_NAME, &name, &nameNull);
      RB_Free(&rows);
      if (rc != 0) return rc;
      if (!catNull && !cat.empty()) SetRefText(&ref->qualifier, cat, &rc);
      if (rc == 0 && !schemNull && !schem.empty()) SetRefText(&ref->owner, schem, &rc);
      if (rc == 0) SetRefText(&ref->table, name, &rc);
      if (rc != 0) return rc;
      resolved = true;
    }
    if (!resolved) return KX_ERR_DUPLICATE_TABLE_NAME;
  }
  return 0;
}

int scs_p_GetTblColDescs(ScsCursor* c, ARR* refs, bool skipLong, ARR* out) {
  if (c == nullptr || refs == nullptr || out == nullptr) return KX_ERR_GENERAL;
  const ScsIdentRules r = SCS_IdentRules(c);
  for (uint32_t i = 0; i < refs->count; ++i) {
    const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(refs, i));
    const std::string qualifier = scs_p_UnquotedRef(ref->qualifier, r.quote);
    std::string owner = scs_p_UnquotedRef(ref->owner, r.quote);
    std::string table = scs_p_UnquotedRef(ref->table, r.quote);
    const std::string ownerArg = owner.empty() ? "%" : SCS_PatternArg(c, owner);
    const std::string tableArg = table.empty() ? "%" : SCS_PatternArg(c, table);
    RowBuffer rows{};
    int rc = scs_p_CatalogRows(c, "scs_p_GetTblColDescs: DRV_DDColumns", &rows, [&](AgentHandle h) {
      return AgentCall(Agent(), &AgentOps::DRV_DDColumns, h, qualifier.empty() ? nullptr : qualifier.c_str(),
                       ownerArg.c_str(), tableArg.c_str(), "%");
    });
    if (rc != 0) return rc;
    if (rows.rowCount == 0) {
      RB_Free(&rows);
      return KX_ERR_GENERAL;
    }
    // Only the columns of that table, never those of a table whose name the
    // pattern matches as well (unless the catalog spells the name otherwise).
    const bool exact = !table.empty() && scs_p_CatalogRowsNamed(&rows, SCS_COLUMNS_SCHEM, SCS_COLUMNS_TABLE, owner, table);
    for (int32_t row = 0; row < rows.rowCount && rc == 0; ++row) {
      if (exact && !scs_p_CatalogRowNames(&rows, row, SCS_COLUMNS_SCHEM, SCS_COLUMNS_TABLE, owner, table)) continue;
      int64_t type = 0, size = 0, digits = 0;
      scs_p_CatalogIntGet(&rows, row, SCS_COLUMNS_TYPE, &type);
      if (skipLong && (type == SQL_WLONGVARCHAR || type == SQL_LONGVARBINARY || type == SQL_LONGVARCHAR)) continue;
      scs_p_CatalogIntGet(&rows, row, SCS_COLUMNS_SIZE, &size);
      scs_p_CatalogIntGet(&rows, row, SCS_COLUMNS_DIGITS, &digits);
      std::string name;
      bool isNull = true;
      rc = scs_p_CatalogStrGet(&rows, row, SCS_COLUMNS_NAME, &name, &isNull);
      if (rc != 0) break;
      SCS_COLDESC d{};
      const std::string spelled = SCS_QuoteName(name, r.quote);
      if (spelled.size() > kNameMax) {
        SCS_PostMsg(c, ("Column name too long to quote: " + name).c_str(), "S1000");
        rc = KX_ERR_GENERAL;
        break;
      }
      CopyName(d.name, spelled);
      CopyName(d.table, ref->table != nullptr ? ref->table : "");
      CopyName(d.alias, ref->alias != nullptr ? ref->alias : "");
      CopyName(d.owner, ref->owner != nullptr ? ref->owner : "");
      CopyName(d.qualifier, ref->qualifier != nullptr ? ref->qualifier : "");
      d.sqlType = static_cast<int16_t>(type);
      d.columnSize = static_cast<int32_t>(size);
      d.digits = (type == SQL_NUMERIC || type == SQL_DECIMAL) ? static_cast<int16_t>(digits) : 0;
      d.kind = SCS_COL_COLUMN;
      if (!ARR_Append(out, &d)) rc = KX_ERR_NOMEM;
    }
    RB_Free(&rows);
    if (rc != 0) return rc;
  }
  return 0;
}

int scs_p_SelectColsGet(ScsCursor* c, ARR** out) {
  *out = nullptr;
  ARR* items = ARR_New(sizeof(SCS_COLDESC));
  ARR* cols = ARR_New(sizeof(SCS_COLDESC));
  if (items == nullptr || cols == nullptr) {
    ARR_Free(&items, nullptr);
    ARR_Free(&cols, nullptr);
    return KX_ERR_NOMEM;
  }
  int rc = SCR_SelListGet(&c->main, items);
  const ScsIdentRules r = SCS_IdentRules(c);
  for (uint32_t i = 0; rc == 0 && i < items->count; ++i) {
    auto* item = static_cast<SCS_COLDESC*>(ARR_At(items, i));
    switch (item->kind) {
      case SCS_COL_STAR:
        rc = scs_p_GetTblColDescs(c, c->tableRefs, false, cols);
        if (rc != 0) LogDebug("scs_p_SelectColsGet failed");
        break;
      case SCS_COL_TABSTAR: {
        ARR* one = ARR_New(sizeof(SCR_TABLEREF));
        if (one == nullptr) {
          rc = KX_ERR_NOMEM;
          break;
        }
        const SCR_TABLEREF* match = nullptr;
        for (uint32_t k = 0; k < c->tableRefs->count && match == nullptr; ++k) {
          const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(c->tableRefs, k));
          if ((ref->alias[0] != '\0' && scs_p_IdentEqual(ref->alias, item->table, r)) ||
              scs_p_IdentEqual(ref->table, item->table, r)) {
            match = ref;
          }
        }
        if (match == nullptr) {
          LogDebug("scs_p_SelectColsGet: Unable to find descriptor for table/alias %s", item->table);
          rc = KX_ERR_GENERAL;
        } else {
          SCR_TABLEREF view = *match;  // borrowed texts: the list does not own them
          rc = ARR_Append(one, &view) ? 0 : KX_ERR_NOMEM;
          if (rc == 0) rc = scs_p_GetTblColDescs(c, one, false, cols);
        }
        FreeColDescList(&one);
        break;
      }
      case SCS_COL_EXPR: case SCS_COL_COLUMN:
        rc = ARR_Append(cols, item) ? 0 : KX_ERR_NOMEM;
        break;
      default:
        rc = KX_ERR_GENERAL;
        break;
    }
  }
  ARR_Free(&items, nullptr);
  if (rc != 0) {
    ARR_Free(&cols, nullptr);
    return rc;
  }
  *out = cols;
  return 0;
}

std::string SCS_QualifiedColName(uint8_t tableCount, const SCS_COLDESC* col, char quote) {
  std::string name = col->name;
  if (tableCount <= 1) return name;
  std::string prefix;
  if (col->alias[0] != '\0') {
    prefix = col->alias;
  } else if (col->owner[0] != '\0') {
    prefix = SCS_QuoteName(col->owner, quote) + "." + SCS_QuoteName(col->table, quote);
  } else if (col->table[0] != '\0') {
    prefix = SCS_QuoteName(col->table, quote);
  }
  return prefix.empty() ? name : prefix + "." + name;
}

void scs_p_ColDescToParamDesc(const SCS_COLDESC* col, SCS_PARAMDESC* out) {
  out->sqlType = col->sqlType;
  out->columnSize = static_cast<uint32_t>(col->columnSize > 0 ? col->columnSize : 0);
  out->decimalDigits = col->digits;
  out->direction = SQL_PARAM_INPUT;
  switch (col->sqlType) {
    case SQL_INTEGER: out->cType = SQL_C_LONG; break;
    case SQL_SMALLINT: out->cType = SQL_C_SHORT; break;
    case SQL_FLOAT: case SQL_DOUBLE: out->cType = SQL_C_DOUBLE; break;
    case SQL_REAL: out->cType = SQL_C_FLOAT; break;
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_DATE: case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      out->cType = col->sqlType;
      break;
    case SQL_WLONGVARCHAR: case SQL_WVARCHAR: case SQL_WCHAR: out->cType = SQL_C_WCHAR; break;
    case SQL_BIT: out->cType = SQL_C_BIT; break;
    case SQL_TINYINT: out->cType = SQL_C_TINYINT; break;
    case SQL_LONGVARBINARY: case SQL_VARBINARY: case SQL_BINARY: out->cType = SQL_C_BINARY; break;
    default: out->cType = SQL_C_CHAR; break;
  }
}

}  // namespace kx
