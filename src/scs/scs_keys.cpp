// Key columns and keyset queries. A keyset-driven cursor identifies each row
// of its result by the values of key columns of the query's tables: this file
// finds those columns through the agent's catalog functions (remembered per
// connection), builds the statements the engines send (the keyset query, the
// by-key query and their key predicates) from the analysed statement, turns
// key rows into parameter rows, and fills the key set.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sqlext.h>

#include "scs/scs_cursor.h"
#include "util/errcodes.h"
#include "util/hash_table.h"
#include "util/log.h"
#include "util/md5.h"
#include "util/str_util.h"

namespace kx {

namespace {

const AgentBinding& Agent() { return *SCS_AgentBinding(); }

// Replaces the analysis's statement by its regenerated text with the
// placeholder expanded into insert.
int Expand(SCR_ANALYSIS* a, const std::string& insert) {
  if (a->root == nullptr || a->root->text == nullptr) return KX_ERR_GENERAL;
  char* out = nullptr;
  const int rc = SCR_ExpandPlaceholder(a->root->text, insert.c_str(), &out);
  if (rc != 0) return rc;
  std::free(a->sql);
  a->sql = out;
  return 0;
}

std::string KeyList(const KS_REC* ks, char quote) {
  std::string list;
  for (int32_t i = 0; i < KS_KeyCount(ks); ++i) {
    if (i > 0) list += ", ";
    list += SCS_QualifiedColName(ks->tableCount, KS_KeyCol(ks, i), quote);
  }
  return list;
}

// ---- key-column discovery ------------------------------------------------------------

// What the catalog says about one column of a table.
struct ColumnFacts {
  std::string name;  // catalog spelling, unquoted
  int16_t sqlType = 0;
  int32_t size = 0;
  int16_t digits = 0;
  bool notNull = false;
};

struct TableArgs {
  std::string qualifier, owner, table;
};

TableArgs ArgsOf(const ScsCursor* c, const SCR_TABLEREF* ref) {
  const char quote = SCS_IdentRules(c).quote;
  TableArgs t{scs_p_UnquotedRef(ref->qualifier, quote), scs_p_UnquotedRef(ref->owner, quote),
              scs_p_UnquotedRef(ref->table, quote)};
  return t;
}

const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

int ReadColumns(ScsCursor* c, const TableArgs& t, std::vector<ColumnFacts>* out) {
  RowBuffer rows{};
  const std::string owner = t.owner.empty() ? "%" : SCS_PatternArg(c, t.owner);
  const std::string table = SCS_PatternArg(c, t.table);
  int rc = scs_p_CatalogRows(c, "KS_GetKeyColDescs: DRV_DDColumns", &rows, [&](AgentHandle h) {
    return AgentCall(Agent(), &AgentOps::DRV_DDColumns, h, OrNull(t.qualifier), owner.c_str(), table.c_str(), "%");
  });
  if (rc != 0) return rc;
  const bool exact = scs_p_CatalogRowsNamed(&rows, SCS_COLUMNS_SCHEM, SCS_COLUMNS_TABLE, t.owner, t.table);
  for (int32_t r = 0; r < rows.rowCount && rc == 0; ++r) {
    if (exact && !scs_p_CatalogRowNames(&rows, r, SCS_COLUMNS_SCHEM, SCS_COLUMNS_TABLE, t.owner, t.table)) continue;
    ColumnFacts f;
    bool isNull = true;
    rc = scs_p_CatalogStrGet(&rows, r, SCS_COLUMNS_NAME, &f.name, &isNull);
    int64_t v = 0;
    if (scs_p_CatalogIntGet(&rows, r, SCS_COLUMNS_TYPE, &v)) f.sqlType = static_cast<int16_t>(v);
    if (scs_p_CatalogIntGet(&rows, r, SCS_COLUMNS_SIZE, &v)) f.size = static_cast<int32_t>(v);
    if (scs_p_CatalogIntGet(&rows, r, SCS_COLUMNS_DIGITS, &v) &&
        (f.sqlType == SQL_NUMERIC || f.sqlType == SQL_DECIMAL)) {
      f.digits = static_cast<int16_t>(v);
    }
    f.notNull = scs_p_CatalogIntGet(&rows, r, SCS_COLUMNS_NULLABLE, &v) && v == SQL_NO_NULLS;
    if (rc == 0) out->push_back(f);
  }
  RB_Free(&rows);
  return rc;
}

const ColumnFacts* FindColumn(const std::vector<ColumnFacts>& cols, const std::string& name) {
  for (const ColumnFacts& f : cols) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

// The working key record of a table: names come later.
SCS_COLDESC KeyTemplate(const SCR_TABLEREF* ref) {
  SCS_COLDESC d{};
  auto put = [](char* dst, const char* src) {
    const char* text = src != nullptr ? src : "";
    const size_t n = std::strlen(text);
    StrCopyBytes(dst, text, n < SCS_NAME_LEN ? n : SCS_NAME_LEN - 1);
  };
  put(d.table, ref->table);
  put(d.alias, ref->alias);
  put(d.owner, ref->owner);
  put(d.qualifier, ref->qualifier);
  d.kind = SCS_COL_COLUMN;
  return d;
}

int SpelledName(ScsCursor* c, const std::string& name, bool pseudo, SCS_COLDESC* d) {
  const char quote = SCS_IdentRules(c).quote;
  const std::string spelled = pseudo ? name : SCS_QuoteName(name, quote);
  if (spelled.size() >= SCS_NAME_LEN) {
    SCS_PostMsg(c, ("Key column name too long to quote: " + name).c_str(), "S1000");
    return KX_ERR_GENERAL;
  }
  StrCopyBytes(d->name, spelled.data(), spelled.size());
  return 0;
}

// Best row identifier: the columns with their types. An empty answer is no key.
int FromSpecialColumns(ScsCursor* c, const SCR_TABLEREF* ref, std::vector<SCS_COLDESC>* keys) {
  const TableArgs t = ArgsOf(c, ref);
  RowBuffer rows{};
  int rc = scs_p_CatalogRows(c, "KS_GetKeyColDescs_SpCols: DRV_DDSpecialColumns", &rows, [&](AgentHandle h) {
    return AgentCall(Agent(), &AgentOps::DRV_DDSpecialColumns, h, OrNull(t.qualifier), OrNull(t.owner),
                     t.table.c_str(), static_cast<uint16_t>(SQL_BEST_ROWID), static_cast<uint16_t>(SQL_SCOPE_CURROW),
                     static_cast<uint16_t>(SQL_NO_NULLS));
  });
  if (rc != 0) return rc;
  for (int32_t r = 0; r < rows.rowCount && rc == 0; ++r) {
    std::string name;
    bool isNull = true;
    rc = scs_p_CatalogStrGet(&rows, r, SCS_SPECIAL_NAME, &name, &isNull);
    if (rc != 0 || isNull || name.empty()) continue;
    SCS_COLDESC d = KeyTemplate(ref);
    int64_t v = 0;
    const bool pseudo = scs_p_CatalogIntGet(&rows, r, SCS_SPECIAL_PSEUDO, &v) && v == SQL_PC_PSEUDO;
    rc = SpelledName(c, name, pseudo, &d);
    if (scs_p_CatalogIntGet(&rows, r, SCS_SPECIAL_TYPE, &v)) d.sqlType = static_cast<int16_t>(v);
    if (scs_p_CatalogIntGet(&rows, r, SCS_SPECIAL_SIZE, &v)) d.columnSize = static_cast<int32_t>(v);
    if (scs_p_CatalogIntGet(&rows, r, SCS_SPECIAL_DIGITS, &v) &&
        (d.sqlType == SQL_NUMERIC || d.sqlType == SQL_DECIMAL)) {
      d.digits = static_cast<int16_t>(v);
    }
    if (rc == 0) keys->push_back(d);
  }
  RB_Free(&rows);
  if (rc != 0) keys->clear();
  return rc;
}

// Completes a key made of named columns from the table's column facts; a
// column that may hold NULL makes no key (k = ? never finds a NULL).
bool CompleteKey(ScsCursor* c, const SCR_TABLEREF* ref, const std::vector<std::string>& names,
                 const std::vector<ColumnFacts>& cols, std::vector<SCS_COLDESC>* keys, int* rc) {
  std::vector<SCS_COLDESC> out;
  for (const std::string& n : names) {
    const ColumnFacts* f = FindColumn(cols, n);
    if (f == nullptr || !f->notNull) return false;
    SCS_COLDESC d = KeyTemplate(ref);
    *rc = SpelledName(c, n, false, &d);
    if (*rc != 0) return false;
    d.sqlType = f->sqlType;
    d.columnSize = f->size;
    d.digits = f->digits;
    out.push_back(d);
  }
  if (out.empty()) return false;
  *keys = out;
  return true;
}

// The first unique index whose columns are all NOT NULL.
int FromStatistics(ScsCursor* c, const SCR_TABLEREF* ref, const std::vector<ColumnFacts>& cols,
                   std::vector<SCS_COLDESC>* keys) {
  const TableArgs t = ArgsOf(c, ref);
  RowBuffer rows{};
  int rc = scs_p_CatalogRows(c, "KS_GetKeyColDescs_Stats: DRV_DDStatistics", &rows, [&](AgentHandle h) {
    return AgentCall(Agent(), &AgentOps::DRV_DDStatistics, h, OrNull(t.qualifier), OrNull(t.owner), t.table.c_str(),
                     static_cast<uint16_t>(SQL_INDEX_UNIQUE), static_cast<uint16_t>(SQL_ENSURE));
  });
  if (rc != 0) return rc;
  std::vector<std::string> index;
  std::string indexName;
  bool done = false;
  for (int32_t r = 0; r <= rows.rowCount && rc == 0 && !done; ++r) {
    std::string name, iname;
    bool nameNull = true, inameNull = true;
    int64_t ordinal = 0;
    bool starts = r == rows.rowCount;  // the end closes the last index
    if (r < rows.rowCount) {
      rc = scs_p_CatalogStrGet(&rows, r, SCS_STATS_COLUMN_NAME, &name, &nameNull);
      if (rc == 0) rc = scs_p_CatalogStrGet(&rows, r, SCS_STATS_INDEX_NAME, &iname, &inameNull);
      if (rc != 0 || nameNull) continue;  // the table's own statistics row
      const bool hasOrdinal = scs_p_CatalogIntGet(&rows, r, SCS_STATS_ORDINAL, &ordinal);
      starts = (hasOrdinal && ordinal == 1) || iname != indexName;
    }
    if (starts && !index.empty()) {
      done = CompleteKey(c, ref, index, cols, keys, &rc);
      index.clear();
    }
    if (r < rows.rowCount && !done) {
      indexName = iname;
      index.push_back(name);
    }
  }
  RB_Free(&rows);
  return rc;
}

int FromPrimaryKeys(ScsCursor* c, const SCR_TABLEREF* ref, const std::vector<ColumnFacts>& cols,
                    std::vector<SCS_COLDESC>* keys) {
  const TableArgs t = ArgsOf(c, ref);
  RowBuffer rows{};
  int rc = scs_p_CatalogRows(c, "KS_GetKeyColDescs_PKeys: DRV_DDPrimaryKeys", &rows, [&](AgentHandle h) {
    return AgentCall(Agent(), &AgentOps::DRV_DDPrimaryKeys, h, OrNull(t.qualifier), OrNull(t.owner), t.table.c_str());
  });
  if (rc != 0) return rc;
  std::vector<std::string> names;
  for (int32_t r = 0; r < rows.rowCount && rc == 0; ++r) {
    std::string name;
    bool isNull = true;
    rc = scs_p_CatalogStrGet(&rows, r, SCS_PKEYS_COLUMN_NAME, &name, &isNull);
    if (rc == 0 && !isNull && !name.empty()) names.push_back(name);
  }
  RB_Free(&rows);
  if (rc == 0 && !names.empty()) CompleteKey(c, ref, names, cols, keys, &rc);
  return rc;
}

// The key of one table: best row identifier, else the first unique index
// of NOT NULL columns, else the primary key. A source the agent lacks (43)
// counts as one that found nothing.
int TableKey(ScsCursor* c, const SCR_TABLEREF* ref, std::vector<SCS_COLDESC>* keys) {
  keys->clear();
  int rc = FromSpecialColumns(c, ref, keys);
  if (rc != 0 && rc != KX_ERR_NOT_CAPABLE) return rc;
  if (!keys->empty()) return 0;
  std::vector<ColumnFacts> cols;
  rc = ReadColumns(c, ArgsOf(c, ref), &cols);
  if (rc != 0) return rc;
  rc = FromStatistics(c, ref, cols, keys);
  if (rc != 0 && rc != KX_ERR_NOT_CAPABLE) return rc;
  if (!keys->empty()) return 0;
  rc = FromPrimaryKeys(c, ref, cols, keys);
  if (rc != 0 && rc != KX_ERR_NOT_CAPABLE) return rc;
  return 0;
}

}  // namespace

// ---- the key set -------------------------------------------------------------------------

int KS_New(KS_REC** out) {
  if (out == nullptr) return KX_ERR_GENERAL;
  auto* ks = static_cast<KS_REC*>(std::calloc(1, sizeof(KS_REC)));
  auto* keys = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (ks == nullptr || keys == nullptr) {
    std::free(ks);
    std::free(keys);
    return KX_ERR_NOMEM;
  }
  ks->keys = keys;
  DSC_Init(&ks->cache);
  *out = ks;
  return 0;
}

void KS_Close(KS_REC* ks) {
  if (ks == nullptr) return;
  RB_Free(ks->keys);
  std::free(ks->status);
  ks->status = nullptr;
  ks->statusCount = 0;
  DSC_Close(&ks->cache);
}

void KS_Reset(KS_REC* ks) {
  if (ks == nullptr) return;
  KS_Close(ks);
  ARR_Free(&ks->keyCols, nullptr);
  ks->tableCount = 0;
}

void KS_Free(KS_REC** ks) {
  if (ks == nullptr || *ks == nullptr) return;
  KS_Reset(*ks);
  std::free((*ks)->keys);
  std::free(*ks);
  *ks = nullptr;
}

void KS_CacheKey(ARR* refs, uint8_t digest[16]) {
  // Each part carries its length: "ab"."c" and "a"."bc" are other tables.
  MD5Context ctx;
  MD5Init(&ctx);
  for (uint32_t i = 0; refs != nullptr && i < refs->count; ++i) {
    const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(refs, i));
    for (const char* part : {ref->qualifier, ref->owner, ref->table}) {
      const uint32_t n = static_cast<uint32_t>(part != nullptr ? std::strlen(part) : 0);
      const uint8_t prefix[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 24)};
      MD5Update(&ctx, prefix, 4);
      if (n > 0) MD5Update(&ctx, part, n);
    }
  }
  MD5Final(digest, &ctx);
}

void KS_TableCacheKey(const SCR_TABLEREF* ref, uint8_t digest[16]) {
  MD5Context ctx;
  MD5Init(&ctx);
  for (const char* part : {ref->qualifier, ref->owner, ref->table}) {
    const uint32_t n = static_cast<uint32_t>(part != nullptr ? std::strlen(part) : 0);
    const uint8_t prefix[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 24)};
    MD5Update(&ctx, prefix, 4);
    if (n > 0) MD5Update(&ctx, part, n);
  }
  MD5Final(digest, &ctx);
}

int KS_GetKeyColDescs(ScsCursor* c, ARR* refs) {
  if (c == nullptr || c->keyset == nullptr || refs == nullptr) return KX_ERR_GENERAL;
  KS_REC* ks = c->keyset;
  ks->tableCount = static_cast<uint8_t>(refs->count & 0xFF);
  ARR_Free(&ks->keyCols, nullptr);
  ks->keyCols = ARR_New(sizeof(SCS_COLDESC));
  if (ks->keyCols == nullptr) return KX_ERR_NOMEM;
  HashTable* cache = c->connInfo != nullptr ? c->connInfo->keyColCache : nullptr;
  for (uint32_t i = 0; i < refs->count; ++i) {
    const auto* ref = static_cast<const SCR_TABLEREF*>(ARR_At(refs, i));
    // The cache holds a table's key columns as the table has them: the
    // alias is the statement's, so each statement names its own (the same
    // table under other aliases, or twice in one join).
    uint8_t key[16];
    KS_TableCacheKey(ref, key);
    std::vector<SCS_COLDESC> keys;
    const HashNode* hit = cache != nullptr ? HashFindNode(cache, key) : nullptr;
    if (hit != nullptr) {
      const ARR* cached = reinterpret_cast<const ARR*>(static_cast<uintptr_t>(hit->value));
      for (uint32_t k = 0; k < cached->count; ++k) keys.push_back(*static_cast<const SCS_COLDESC*>(ARR_At(cached, k)));
    } else {
      const int rc = TableKey(c, ref, &keys);
      if (rc != 0) return rc;
      // Every table of the statement needs a key, or a row cannot be found again.
      if (keys.empty()) {
        LogDebug("KS_GetKeyColDescs: no key for table %s", ref->table);
        return KX_ERR_NO_KEY_COLUMNS;
      }
      if (cache != nullptr) {
        ARR* copy = ARR_New(sizeof(SCS_COLDESC));
        bool ok = copy != nullptr;
        for (SCS_COLDESC d : keys) {
          if (!ok) break;
          d.alias[0] = '\0';
          d.orderMark = 0;
          ok = ARR_Append(copy, &d) != 0;
        }
        if (!ok || HashSet(cache, key, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy))) == nullptr) {
          ARR_Free(&copy, nullptr);
          return KX_ERR_NOMEM;
        }
      }
    }
    for (SCS_COLDESC& d : keys) {
      const char* alias = ref->alias != nullptr ? ref->alias : "";
      const size_t n = std::strlen(alias);
      std::memset(d.alias, 0, sizeof d.alias);
      StrCopyBytes(d.alias, alias, n < SCS_NAME_LEN ? n : SCS_NAME_LEN - 1);
      d.orderMark = 0;
      if (!ARR_Append(ks->keyCols, &d)) return KX_ERR_NOMEM;
    }
  }
  return 0;
}

// ---- query builders ------------------------------------------------------------------------

int KS_SetSelListKeys(SCR_ANALYSIS* a, const KS_REC* ks, char quote) {
  if (a == nullptr || KS_KeyCount(ks) == 0) return KX_ERR_GENERAL;
  const int rc = SCR_SetSelListPlaceholder(a);
  if (rc != 0) return rc;
  return Expand(a, KeyList(ks, quote));
}

int KS_AppendKeysToSelList(SCR_ANALYSIS* a, const KS_REC* ks, char quote) {
  if (a == nullptr || KS_KeyCount(ks) == 0) return KX_ERR_GENERAL;
  const char* list = SCR_SelListText(a);
  if (list == nullptr) return KX_ERR_GENERAL;
  const std::string insert = std::string(list) + ", " + KeyList(ks, quote);
  const int rc = SCR_SetSelListPlaceholder(a);
  if (rc != 0) return rc;
  return Expand(a, insert);
}

int KS_AddKeyOrderBy(SCR_ANALYSIS* a, const KS_REC* ks, char quote, uint16_t existingItems, uint16_t maxItems) {
  if (a == nullptr || KS_KeyCount(ks) == 0) return KX_ERR_GENERAL;
  const int rc = SCR_SetOrderByPlaceholder(a);
  if (rc != 0) return rc;
  const bool hasOrderBy = (a->flags & SCRF_ORDERBY) != 0;
  std::string text = hasOrderBy ? "" : " ORDER BY ";
  int added = 0;
  for (int32_t i = 0; i < KS_KeyCount(ks); ++i) {
    const SCS_COLDESC* k = KS_KeyCol(ks, i);
    if (k->orderMark != 0) continue;  // the statement orders by it already
    if (maxItems != 0 && existingItems + added >= maxItems) break;
    if ((hasOrderBy && existingItems > 0) || added > 0) text += ", ";
    text += SCS_QualifiedColName(ks->tableCount, k, quote);
    ++added;
  }
  return Expand(a, text);
}

std::string KS_KeyMatchText(const std::vector<std::string>& cols, int32_t groups, bool rowValues) {
  std::string text;
  if (cols.empty() || groups <= 0) return text;
  // One statement matches a whole rowset's keys: an IN list lets the
  // database look each key up in its index, where OR-ed equalities make it
  // plan (and often scan for) every group on its own.
  if (cols.size() == 1 || rowValues) {
    std::string one;
    for (size_t i = 0; i < cols.size(); ++i) one += i > 0 ? ", ?" : "?";
    if (cols.size() == 1) {
      text = cols[0];
    } else {
      one = "(" + one + ")";
      text = "(";
      for (size_t i = 0; i < cols.size(); ++i) text += (i > 0 ? ", " : "") + cols[i];
      text += ")";
    }
    text.reserve(text.size() + 6 + static_cast<size_t>(groups) * (one.size() + 2));
    text += " IN (";
    for (int32_t g = 0; g < groups; ++g) {
      if (g > 0) text += ", ";
      text += one;
    }
    text += ")";
    return text;
  }
  std::string one;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i > 0) one += " AND ";
    one += cols[i] + " = ?";
  }
  for (int32_t g = 0; g < groups; ++g) {
    if (g > 0) text += " OR ";
    text += one;
  }
  return text;
}

int KS_MakeKeyWhere(SCR_ANALYSIS* a, const KS_REC* ks, char quote, int32_t groups, bool rowValues) {
  if (a == nullptr || KS_KeyCount(ks) == 0 || groups <= 0) return KX_ERR_GENERAL;
  const int rc = SCR_SetWherePlaceholder(a);
  if (rc != 0) return rc;
  std::vector<std::string> cols;
  for (int32_t i = 0; i < KS_KeyCount(ks); ++i) cols.push_back(SCS_QualifiedColName(ks->tableCount, KS_KeyCol(ks, i), quote));
  std::string text = (a->flags & SCRF_WHERE) != 0 ? "" : " WHERE ";
  text += "( " + KS_KeyMatchText(cols, groups, rowValues) + " )";
  return Expand(a, text);
}

int scs_p_ElementsToParams(const RowBuffer* src, const std::vector<std::pair<int32_t, uint16_t>>& cells,
                           RowBuffer** out) {
  if (out == nullptr) return KX_ERR_GENERAL;
  *out = nullptr;
  if (src == nullptr || cells.empty() || cells.size() > 0xFFFF) return KX_ERR_GENERAL;
  for (const auto& cell : cells) {
    if (cell.first < 0 || cell.first >= src->rowCount || cell.second >= src->colCount) return KX_ERR_GENERAL;
  }
  auto* rb = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (rb == nullptr) return KX_ERR_NOMEM;
  const uint16_t columns = static_cast<uint16_t>(cells.size());
  int rc = RB_InitColumns(rb, columns);
  if (rc == 0) {
    for (uint16_t i = 0; i < columns; ++i) {
      rb->columns[i].type = src->columns[cells[i].second].type;
      rb->columns[i].width = src->columns[cells[i].second].width;
    }
    rb->colCount = columns;
    rc = RB_AllocRows(rb, 1);
  }
  // Each value is copied element by element: no length is measured beyond
  // the element, and a value without a terminator stays as it is.
  for (uint16_t i = 0; rc == 0 && i < columns; ++i) {
    const RowBufferColumn& from = src->columns[cells[i].second];
    RowBufferColumn& to = rb->columns[i];
    to.indicators[0] = from.indicators[cells[i].first];
    const unsigned char* e = RB_Element(&from, static_cast<size_t>(cells[i].first));
    if (RB_IsPtrType(from.type)) {
      RBPtrValue v = RB_GetPtrValue(e);
      if (v.block != nullptr) {
        const size_t bytes = RB_PtrBytes(from.type, v.length);
        void* copy = std::malloc(bytes > 0 ? bytes : 1);
        if (copy == nullptr) {
          rc = KX_ERR_NOMEM;
          break;
        }
        std::memcpy(copy, v.block, bytes);
        v.block = copy;
      }
      RB_SetPtrValue(to.data, v);
    } else {
      std::memcpy(to.data, e, from.width);
    }
  }
  if (rc != 0) {
    scs_p_FreeRows(rb);
    return rc;
  }
  rb->rowCount = 1;
  *out = rb;
  return 0;
}

int KS_KeyRowsToParams(const RowBuffer* keys, uint16_t keyCols, int32_t first, int32_t groups, int32_t n,
                       RowBuffer** out) {
  if (out == nullptr) return KX_ERR_GENERAL;
  *out = nullptr;
  if (keys == nullptr || keyCols == 0 || keyCols > keys->colCount || groups <= 0 || n <= 0 || n > groups ||
      first < 0 || first + n > keys->rowCount || int64_t{groups} * keyCols > 0xFFFF) {
    return KX_ERR_GENERAL;
  }
  std::vector<std::pair<int32_t, uint16_t>> cells;
  for (int32_t g = 0; g < groups; ++g) {
    // The last key fills the groups the batch has no keys for.
    const int32_t row = first + (g < n ? g : n - 1);
    for (uint16_t k = 0; k < keyCols; ++k) cells.emplace_back(row, k);
  }
  return scs_p_ElementsToParams(keys, cells, out);
}

// ---- key blocks of a mixed cursor --------------------------------------------------------

int scs_p_OrderKeyColsGet(ScsCursor* c) {
  KS_REC* ks = c->keyset;
  const int32_t k = KS_KeyCount(ks);
  if (k == 0) return KX_ERR_GENERAL;
  const char quote = SCS_IdentRules(c).quote;
  c->ordering.clear();
  std::vector<bool> matched(static_cast<size_t>(k), false);
  int32_t keysMatched = 0;
  uint16_t valueColumn = static_cast<uint16_t>(k);
  for (uint32_t i = 0; c->orderBy != nullptr && i < c->orderBy->count && keysMatched < k; ++i) {
    const auto* item = static_cast<const SCS_ORDERBYITEM*>(ARR_At(c->orderBy, i));
    SeekPos pos;
    pos.text = item->text;
    pos.desc = item->desc != 0;
    for (int32_t key = 0; key < k; ++key) {
      if (KS_KeyCol(ks, key)->orderMark == i + 1 && !matched[static_cast<size_t>(key)]) {
        pos.isKey = true;
        pos.column = static_cast<uint16_t>(key);
        matched[static_cast<size_t>(key)] = true;
        ++keysMatched;
        break;
      }
    }
    if (!pos.isKey) pos.column = valueColumn++;
    c->ordering.push_back(pos);
  }
  for (int32_t key = 0; key < k; ++key) {
    if (matched[static_cast<size_t>(key)]) continue;
    SeekPos pos;
    pos.text = SCS_QualifiedColName(ks->tableCount, KS_KeyCol(ks, key), quote);
    pos.isKey = true;
    pos.column = static_cast<uint16_t>(key);
    c->ordering.push_back(pos);
  }
  return 0;
}

namespace {

// Whether NULLs come after every other value in the scan's direction.
bool NullsFollow(uint16_t direction, bool desc, uint16_t collation) {
  bool follow;
  switch (collation) {
    case SQL_NC_HIGH: follow = !desc; break;
    case SQL_NC_LOW: follow = desc; break;
    case SQL_NC_START: follow = false; break;
    default: follow = true; break;
  }
  return direction == KS_PRIOR ? !follow : follow;
}

bool IsNullCell(const RowBuffer* rows, int32_t row, uint16_t col) {
  return rows->columns[col].indicators != nullptr && rows->columns[col].indicators[row] == RB_IND_NULL;
}

}  // namespace

int KS_MakeSeekWhere(SCR_ANALYSIS* a, const std::vector<SeekPos>& ordering, uint16_t nullCollation,
                     uint16_t direction, bool inclusive, const RowBuffer* rows, int32_t boundary,
                     std::vector<std::pair<int32_t, uint16_t>>* cells) {
  if (a == nullptr || rows == nullptr || cells == nullptr || ordering.empty() ||
      (direction != KS_NEXT && direction != KS_PRIOR) || boundary < 0 || boundary >= rows->rowCount) {
    return KX_ERR_GENERAL;
  }
  for (const SeekPos& p : ordering) {
    if (p.column >= rows->colCount) return KX_ERR_GENERAL;
  }
  const int rc = SCR_SetWherePlaceholder(a);
  if (rc != 0) return rc;
  cells->clear();
  // The row comparison (c1, .., cN) beyond (v1, .., vN), one OR term per
  // length g: the first g - 1 columns equal to their values, column g beyond.
  std::vector<std::string> terms;
  const size_t n = ordering.size();
  for (size_t g = 1; g <= n; ++g) {
    std::string text;
    std::vector<std::pair<int32_t, uint16_t>> used;
    for (size_t p = 0; p + 1 < g; ++p) {
      const SeekPos& pos = ordering[p];
      if (!pos.isKey && IsNullCell(rows, boundary, pos.column)) {
        text += pos.text + " IS NULL AND ";
      } else {
        text += pos.text + " = ? AND ";
        used.emplace_back(boundary, pos.column);
      }
    }
    const SeekPos& last = ordering[g - 1];
    const bool forward = direction == KS_NEXT;
    std::string op = forward != last.desc ? ">" : "<";
    if (inclusive && g == n) op += "=";
    const bool isNull = !last.isKey && IsNullCell(rows, boundary, last.column);
    const bool follow = !last.isKey && NullsFollow(direction, last.desc, nullCollation);
    if (!isNull && follow) {
      text += "(" + last.text + " " + op + " ? OR " + last.text + " IS NULL)";
      used.emplace_back(boundary, last.column);
    } else if (!isNull) {
      text += last.text + " " + op + " ?";
      used.emplace_back(boundary, last.column);
    } else if (!follow) {
      text += last.text + " IS NOT NULL";
    } else {
      continue;  // no later row can be told apart by a NULL that sorts last
    }
    terms.push_back(text);
    cells->insert(cells->end(), used.begin(), used.end());
  }
  std::string insert = (a->flags & SCRF_WHERE) != 0 ? "( " : " WHERE ( ";
  for (size_t t = 0; t < terms.size(); ++t) {
    if (t > 0) insert += " OR ";
    insert += terms[t];
  }
  insert += " )";
  return Expand(a, insert);
}

int KS_BuildKeyBlockQuery(ScsCursor* c, uint16_t direction, bool inclusive, const RowBuffer* rows,
                          int32_t boundary, std::vector<std::pair<int32_t, uint16_t>>* cells) {
  KS_REC* ks = c->keyset;
  if (KS_KeyCount(ks) == 0 || cells == nullptr) return KX_ERR_GENERAL;
  cells->clear();
  const char quote = SCS_IdentRules(c).quote;
  const uint16_t maxOrder = c->connInfo != nullptr ? c->connInfo->maxOrderByCols : 0;
  const uint16_t nulls = c->connInfo != nullptr ? c->connInfo->nullCollation : 0;
  const uint16_t existing = static_cast<uint16_t>(c->orderBy != nullptr ? c->orderBy->count : 0);
  SCR_ANALYSIS* a = &c->keysetAn;
  int rc = scs_p_Analyse(a, c->text);
  if (rc == 0) rc = KS_AddKeyOrderBy(a, ks, quote, existing, maxOrder);
  if (rc == 0) rc = scs_p_Analyse(a, a->sql);
  if (rc == 0 && (direction == KS_NEXT || direction == KS_PRIOR)) {
    rc = KS_MakeSeekWhere(a, c->ordering, nulls, direction, inclusive, rows, boundary, cells);
    if (rc == 0) rc = scs_p_Analyse(a, a->sql);
  }
  if (rc != 0) return rc;
  // The keys, then the values of the ordering's other columns: the window's
  // rows are the boundaries of the next seek.
  std::string list = KeyList(ks, quote);
  for (const SeekPos& p : c->ordering) {
    if (!p.isKey) list += ", " + p.text;
  }
  rc = SCR_SetSelListPlaceholder(a);
  if (rc == 0) rc = Expand(a, list);
  if (rc != 0 || (direction != KS_PRIOR && direction != KS_LAST)) return rc;
  // Backwards: the keys arrive from the far end.
  rc = scs_p_Analyse(a, a->sql);
  if (rc == 0) rc = SCR_OrderByReverse(a);
  if (rc != 0) return rc;
  char* text = strdup(a->root->text);
  if (text == nullptr) return KX_ERR_NOMEM;
  std::free(a->sql);
  a->sql = text;
  return 0;
}

int scs_p_Analyse(SCR_ANALYSIS* a, const char* text) {
  // The parser keeps its own copy: the text may be the analysis's own.
  std::string copy = text != nullptr ? text : "";
  const int rc = SCR_AnalyseSQL(a, copy.c_str(), 0, 0);
  if (rc != 0 || a->kind <= 0) {
    LogDebug("SCR_AnalyseSQL failed: %s", copy.c_str());
    if (a->errMsg != nullptr) LogDebug("%s", a->errMsg);
    if (a->sql != nullptr) LogDebug("%s", a->sql);
    return rc != 0 ? rc : KX_ERR_SYNTAX;
  }
  return 0;
}

// One row of the application's kept parameters (a parameter array's first).
int scs_p_KeptParamRow(ScsCursor* c, RowBuffer** out) {
  *out = nullptr;
  if ((c->flags & SCSF_PARAMS_KEPT) == 0 || c->keptParams == nullptr || c->keptParams->rowCount == 0) return 0;
  int rc = RB_CloneEmpty(out, c->keptParams, 1);
  if (rc == 0) rc = RB_CopyRow(*out, c->keptParams, 0, 0, false);
  if (rc != 0 && *out != nullptr) {
    scs_p_FreeRows(*out);
    *out = nullptr;
  }
  return rc;
}

int KS_GetKeySet_KSD(ScsCursor* c) {
  KS_REC* ks = c->keyset;
  if (ks == nullptr || KS_KeyCount(ks) == 0) return KX_ERR_GENERAL;
  const char quote = SCS_IdentRules(c).quote;
  const uint16_t maxOrder = c->connInfo != nullptr ? c->connInfo->maxOrderByCols : 0;
  const uint16_t existing = static_cast<uint16_t>(c->orderBy != nullptr ? c->orderBy->count : 0);
  int rc = scs_p_Analyse(&c->keysetAn, c->text);
  if (rc == 0) rc = KS_AddKeyOrderBy(&c->keysetAn, ks, quote, existing, maxOrder);
  if (rc == 0) rc = scs_p_Analyse(&c->keysetAn, c->keysetAn.sql);
  if (rc == 0) rc = KS_SetSelListKeys(&c->keysetAn, ks, quote);
  if (rc != 0) return rc;
  rc = scs_p_PrepareOnKeysetStmt(c, "KS_GetKeySet_KSD", c->keysetAn.sql);
  if (rc != 0) return rc;
  // The statement's row limit is the keyset's: the cursor has a row for
  // each key and no more. The keyset statement serves other work after this
  // read, so its own limit comes back afterwards.
  auto limitOf = [](AgentHandle h) {
    int32_t v = 0;
    return scs_p_AskStmtInt(h, AP_STMT_MAX_ROWS, &v) == 0 ? v : 0;
  };
  const int32_t most = limitOf(c->stmt);
  const int32_t own = limitOf(c->keysetStmt);
  const bool limited = most > 0 && most != own;
  if (limited) {
    AgentCall(Agent(), &AgentOps::DRV_SetProperty, c->keysetStmt, AP_STMT_MAX_ROWS, static_cast<const void*>(&most));
  }
  rc = scs_p_ExecuteKeysetStmt(c);
  int32_t total = 0;
  const bool ran = rc == 0;
  if (ran) {
    KS_Close(ks);
    rc = DSC_Fill(&ks->cache, SCS_AgentBinding(), c->keysetStmt, ks->keys, &total);
    AgentCall(Agent(), &AgentOps::DRV_CloseCursor, c->keysetStmt);
  }
  if (limited) {
    AgentCall(Agent(), &AgentOps::DRV_SetProperty, c->keysetStmt, AP_STMT_MAX_ROWS, static_cast<const void*>(&own));
  }
  if (!ran) return rc;
  if (rc != 0) {
    LogError("KS_GetKeySet_KSD: Could not fill dataset cache");
    SCS_PostCacheFailure(c, &ks->cache);
    KS_Close(ks);
    return rc;
  }
  c->rowCount = total;
  ks->windowStart = ks->cache.state == DSC_SPILLED ? -1 : 0;
  ks->status = static_cast<int16_t*>(std::calloc(static_cast<size_t>(total > 0 ? total : 1), sizeof(int16_t)));
  if (ks->status == nullptr) {
    KS_Close(ks);
    return KX_ERR_NOMEM;
  }
  ks->statusCount = total;
  return 0;
}

}  // namespace kx
