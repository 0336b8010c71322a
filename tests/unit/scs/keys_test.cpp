// The keyset queries as the layer sends them, built from analysed statements
// and key columns; parameter rows made of key rows; rows placed by the key
// they carry; identifiers normalised without ever being cut; the key-column
// cache key of tables whose names run together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sqlext.h>

#include "scs/scs_cursor.h"
#include "util/errcodes.h"

namespace kx {
namespace {

SCS_COLDESC Key(const char* name, const char* table = "t", const char* alias = "") {
  SCS_COLDESC d{};
  std::strcpy(d.name, name);
  std::strcpy(d.table, table);
  std::strcpy(d.alias, alias);
  d.kind = SCS_COL_COLUMN;
  d.sqlType = 4;
  return d;
}

struct KeySet {
  KS_REC* ks = nullptr;
  KeySet(std::vector<SCS_COLDESC> keys, uint8_t tables) {
    EXPECT_EQ(KS_New(&ks), 0);
    ks->keyCols = ARR_New(sizeof(SCS_COLDESC));
    for (SCS_COLDESC& k : keys) ARR_Append(ks->keyCols, &k);
    ks->tableCount = tables;
  }
  ~KeySet() { KS_Free(&ks); }
};

struct Analysis {
  SCR_ANALYSIS a{};
  explicit Analysis(const std::string& sql) {
    SCR_InitAnalysis(&a);
    EXPECT_EQ(SCR_AnalyseSQL(&a, sql.c_str(), 0, 0), 0) << sql;
  }
  ~Analysis() { SCR_FreeAnalysis(&a); }
  // The rewritten text analysed again, as the builders chain.
  void Again() {
    const std::string text = a.sql;
    EXPECT_EQ(SCR_AnalyseSQL(&a, text.c_str(), 0, 0), 0) << text;
  }
};

// Collapses runs of blanks: the regenerated text's spacing is not the point.
std::string Squeeze(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += *p;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

TEST(KeysetQueries, KeysetQuerySelectsTheKeysInTheStatementsOrder) {
  struct Case {
    std::string sql;
    std::vector<SCS_COLDESC> keys;
    uint8_t tables;
    std::string expect;
  };
  SCS_COLDESC marked = Key("a");
  marked.orderMark = 1;  // the statement orders by this key already
  const Case cases[] = {
      {"SELECT a, b FROM t WHERE c > 1", {Key("k1")}, 1, "SELECT k1 FROM t WHERE c > 1 ORDER BY k1"},
      {"SELECT a, b FROM t WHERE c > 1 ORDER BY a DESC", {Key("k1"), Key("k2")}, 1,
       "SELECT k1, k2 FROM t WHERE c > 1 ORDER BY a DESC, k1 , k2"},
      {"SELECT a FROM t ORDER BY a", {marked, Key("k")}, 1, "SELECT a, k FROM t ORDER BY a , k"},
      {"SELECT x.a, y.b FROM t x, u y WHERE x.id = y.id", {Key("\"ID\"", "T", "x"), Key("\"ID\"", "U", "y")}, 2,
       "SELECT x.\"ID\", y.\"ID\" FROM t x, u y WHERE x.id = y.id ORDER BY x.\"ID\" , y.\"ID\""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sql);
    KeySet ks(k.keys, k.tables);
    Analysis an(k.sql);
    const uint16_t existing = (an.a.flags & SCRF_ORDERBY) != 0 ? 1 : 0;
    ASSERT_EQ(KS_AddKeyOrderBy(&an.a, ks.ks, '"', existing, 0), 0);
    an.Again();
    ASSERT_EQ(KS_SetSelListKeys(&an.a, ks.ks, '"'), 0);
    EXPECT_EQ(Squeeze(an.a.sql), Squeeze(k.expect.c_str()));
  }
}

TEST(KeysetQueries, TheOrderByLimitStopsAddingKeys) {
  KeySet ks({Key("k1"), Key("k2"), Key("k3")}, 1);
  Analysis an("SELECT a FROM t ORDER BY a");
  ASSERT_EQ(KS_AddKeyOrderBy(&an.a, ks.ks, '"', 1, 3), 0);
  EXPECT_EQ(Squeeze(an.a.sql), "SELECT a FROM t ORDER BY a , k1, k2");
}

TEST(KeysetQueries, ByKeyQueryPutsTheKeyPredicateFirstAndTheKeysLast) {
  struct Case {
    std::string sql;
    std::vector<SCS_COLDESC> keys;
    int32_t groups;
    bool rowValues;
    std::string expect;
  };
  // One statement a rowset: an IN list of the keys, a row-value IN list for
  // compound keys where the database compares row values, else OR-ed groups.
  const Case cases[] = {
      {"SELECT a, b FROM t", {Key("k")}, 3, false, "SELECT a, b, k FROM t WHERE ( k IN (?, ?, ?) )"},
      {"SELECT a, b FROM t", {Key("k")}, 1, true, "SELECT a, b, k FROM t WHERE ( k IN (?) )"},
      {"SELECT * FROM t WHERE c > ? ORDER BY a", {Key("k")}, 2, false,
       "SELECT *, k FROM t WHERE ( k IN (?, ?) ) AND (c > ?) ORDER BY a"},
      {"SELECT * FROM t WHERE c > ? ORDER BY a", {Key("k1"), Key("k2")}, 2, false,
       "SELECT *, k1, k2 FROM t WHERE ( k1 = ? AND k2 = ? OR k1 = ? AND k2 = ? ) AND (c > ?) ORDER BY a"},
      {"SELECT * FROM t WHERE c > ? ORDER BY a", {Key("k1"), Key("k2")}, 2, true,
       "SELECT *, k1, k2 FROM t WHERE ( (k1, k2) IN ((?, ?), (?, ?)) ) AND (c > ?) ORDER BY a"},
      {"SELECT a FROM t", {Key("k1"), Key("k2"), Key("k3")}, 1, true,
       "SELECT a, k1, k2, k3 FROM t WHERE ( (k1, k2, k3) IN ((?, ?, ?)) )"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sql + (k.rowValues ? " (row values)" : ""));
    KeySet ks(k.keys, 1);
    Analysis an(k.sql);
    // As the by-key read builds it: the key predicate last, since the
    // parser does not read row values.
    ASSERT_EQ(KS_AppendKeysToSelList(&an.a, ks.ks, '"'), 0);
    an.Again();
    ASSERT_EQ(KS_MakeKeyWhere(&an.a, ks.ks, '"', k.groups, k.rowValues), 0);
    EXPECT_EQ(Squeeze(an.a.sql), Squeeze(k.expect.c_str()));
  }
}

// The markers of a key match take the keys group after group, as the
// parameter row of a batch holds them.
TEST(KeysetQueries, KeyMatchTakesTheKeysGroupAfterGroup) {
  EXPECT_EQ(KS_KeyMatchText({"x.\"ID\""}, 2, false), "x.\"ID\" IN (?, ?)");
  EXPECT_EQ(KS_KeyMatchText({"a", "b"}, 3, true), "(a, b) IN ((?, ?), (?, ?), (?, ?))");
  EXPECT_EQ(KS_KeyMatchText({"a", "b"}, 2, false), "a = ? AND b = ? OR a = ? AND b = ?");
  EXPECT_EQ(KS_KeyMatchText({}, 2, true), "");
  EXPECT_EQ(KS_KeyMatchText({"a"}, 0, true), "");
}

TEST(KeysetQueries, DistinctIsToldApart) {
  Analysis distinct("SELECT DISTINCT a FROM t");
  Analysis plain("SELECT a FROM t WHERE b IN (SELECT DISTINCT c FROM u)");
  EXPECT_TRUE(SCR_IsDistinct(&distinct.a));
  EXPECT_FALSE(SCR_IsDistinct(&plain.a));
}

TEST(KeysetQueries, MarkersBeforeTheWhereClauseAreToldApart) {
  struct Case {
    const char* sql;
    bool before;
  };
  const Case cases[] = {
      {"SELECT a, ? FROM t WHERE b = ?", true},
      {"SELECT a FROM t x INNER JOIN u y ON x.id = y.id AND y.c = ? WHERE b = 1", true},
      {"SELECT a FROM t WHERE b = ? ORDER BY a", false},
      {"SELECT a FROM t", false},
  };
  for (const Case& k : cases) {
    Analysis an(k.sql);
    EXPECT_EQ(SCR_ParamsBeforeWhere(&an.a), k.before) << k.sql;
  }
}

// A key rows buffer: one int column and one fixed-width text column without
// terminators.
struct Keys {
  RowBuffer rb{};
  explicit Keys(int rows) {
    RB_InitColumns(&rb, 2);
    rb.columns[0].type = RBT_SLONG;
    rb.columns[0].width = 4;
    rb.columns[1].type = RBT_CHAR_NTS;
    rb.columns[1].width = 4;  // exactly filled: no terminator inside the element
    rb.colCount = 2;
    RB_AllocRows(&rb, rows);
    for (int r = 0; r < rows; ++r) {
      const int32_t v = 100 + r;
      std::memcpy(RB_Element(&rb.columns[0], r), &v, 4);
      std::memcpy(RB_Element(&rb.columns[1], r), "abcd", 4);
      RB_Element(&rb.columns[1], r)[3] = static_cast<unsigned char>('0' + r);
      rb.columns[0].indicators[r] = RB_IND_DATA;
      rb.columns[1].indicators[r] = RB_IND_DATA;
    }
    rb.rowCount = rows;
  }
  ~Keys() { RB_Free(&rb); }
};

TEST(KeysetParams, KeyRowsBecomeOneParameterRowAndTheLastKeyFillsTheBatch) {
  Keys keys(5);
  RowBuffer* out = nullptr;
  ASSERT_EQ(KS_KeyRowsToParams(&keys.rb, 2, 2, 4, 2, &out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->rowCount, 1);
  ASSERT_EQ(out->colCount, 8);
  const int32_t expect[] = {102, 103, 103, 103};
  for (int g = 0; g < 4; ++g) {
    int32_t v = 0;
    std::memcpy(&v, RB_Element(&out->columns[2 * g], 0), 4);
    EXPECT_EQ(v, expect[g]);
    // The text stays within its element: four bytes, no read beyond.
    EXPECT_EQ(out->columns[2 * g + 1].width, 4u);
    EXPECT_EQ(std::memcmp(RB_Element(&out->columns[2 * g + 1], 0), g == 0 ? "abc2" : "abc3", 4), 0);
  }
  RB_Free(out);
  std::free(out);
  // More keys than groups, or keys beyond the rows, are refused.
  EXPECT_EQ(KS_KeyRowsToParams(&keys.rb, 2, 0, 2, 3, &out), KX_ERR_GENERAL);
  EXPECT_EQ(KS_KeyRowsToParams(&keys.rb, 2, 4, 2, 2, &out), KX_ERR_GENERAL);
  EXPECT_EQ(out, nullptr);
}

TEST(KeysetRows, RowsArePlacedByTheirKeysAndMissingKeysShowDeleted) {
  Keys keys(4);
  // Rows read by key: a value column and the two key columns, in another
  // order than the keys (another user changed the ordering column) or in
  // theirs, some rows missing or none.
  const std::vector<std::vector<int>> orders = {{3, 0, 2}, {0, 1, 2, 3}, {1, 0, 2, 3}, {0, 1, 3}};
  for (const std::vector<int>& order : orders) {
    const int n = static_cast<int>(order.size());
    SCOPED_TRACE(::testing::Message() << "rows " << n << " first " << order[0]);
    RowBuffer rows{};
    RB_InitColumns(&rows, 3);
    rows.columns[0] = {RBT_SLONG, 4, nullptr, nullptr};
    rows.columns[1] = keys.rb.columns[0];
    rows.columns[1].indicators = nullptr;
    rows.columns[1].data = nullptr;
    rows.columns[2] = keys.rb.columns[1];
    rows.columns[2].indicators = nullptr;
    rows.columns[2].data = nullptr;
    rows.colCount = 3;
    ASSERT_EQ(RB_AllocRows(&rows, n), 0);
    for (int i = 0; i < n; ++i) {
      const int32_t value = 1000 + order[i];
      std::memcpy(RB_Element(&rows.columns[0], i), &value, 4);
      std::memcpy(RB_Element(&rows.columns[1], i), RB_Element(&keys.rb.columns[0], order[i]), 4);
      std::memcpy(RB_Element(&rows.columns[2], i), RB_Element(&keys.rb.columns[1], order[i]), 4);
      for (int c = 0; c < 3; ++c) rows.columns[c].indicators[i] = RB_IND_DATA;
    }
    rows.rowCount = n;
    int16_t status[4] = {0, 0, 0, 0};
    RowBuffer* placed = nullptr;
    ASSERT_EQ(SCS_MarkMissingRows(&rows, &keys.rb, 0, 0, 4, 2, status, &placed), 0);
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(placed->colCount, 1);  // the key columns are the layer's own
    ASSERT_EQ(placed->rowCount, 4);
    for (int j = 0; j < 4; ++j) {
      SCOPED_TRACE(j);
      if (std::find(order.begin(), order.end(), j) == order.end()) {
        EXPECT_EQ(status[j], SCS_ROW_DELETED);
        EXPECT_EQ(placed->columns[0].indicators[j], RB_IND_NULL);
        continue;
      }
      EXPECT_EQ(status[j], SCS_ROW_SUCCESS);
      EXPECT_EQ(placed->columns[0].indicators[j], RB_IND_DATA);
      int32_t v = 0;
      std::memcpy(&v, RB_Element(&placed->columns[0], j), 4);
      EXPECT_EQ(v, 1000 + j);
    }
    RB_Free(placed);
    std::free(placed);
    RB_Free(&rows);
  }
}

// Seek predicates: the row comparison (a, k) beyond the boundary (a, k),
// with NULLs of the non-key column where the database sorts them.
TEST(KeysetQueries, SeekPredicatesFollowTheOrderAndTheNulls) {
  RowBuffer rows{};
  RB_InitColumns(&rows, 2);
  rows.columns[0].type = RBT_SLONG;  // k, the key
  rows.columns[0].width = 4;
  rows.columns[1].type = RBT_SLONG;  // a, ordered by, may be NULL
  rows.columns[1].width = 4;
  rows.colCount = 2;
  ASSERT_EQ(RB_AllocRows(&rows, 2), 0);
  for (int r = 0; r < 2; ++r) rows.columns[0].indicators[r] = RB_IND_DATA;
  rows.columns[1].indicators[0] = RB_IND_DATA;  // row 0: a = value; row 1: a NULL
  rows.rowCount = 2;
  struct Case {
    bool desc;
    uint16_t collation;
    uint16_t direction;
    bool inclusive;
    int32_t boundary;
    std::string where;
    size_t markers;
  };
  const Case cases[] = {
      {false, SQL_NC_HIGH, KS_NEXT, false, 0, "WHERE ( (a > ? OR a IS NULL) OR a = ? AND k > ? )", 3},
      {false, SQL_NC_LOW, KS_NEXT, false, 0, "WHERE ( a > ? OR a = ? AND k > ? )", 3},
      {true, SQL_NC_HIGH, KS_NEXT, false, 0, "WHERE ( a < ? OR a = ? AND k > ? )", 3},
      {false, SQL_NC_HIGH, KS_PRIOR, true, 0, "WHERE ( a < ? OR a = ? AND k <= ? )", 3},
      // A NULL boundary: nothing is beyond it in a's own order when NULLs
      // sort last; every value is when they sort first.
      {false, SQL_NC_HIGH, KS_NEXT, false, 1, "WHERE ( a IS NULL AND k > ? )", 1},
      {false, SQL_NC_LOW, KS_NEXT, false, 1, "WHERE ( a IS NOT NULL OR a IS NULL AND k > ? )", 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.where);
    std::vector<SeekPos> ordering(2);
    ordering[0].text = "a";
    ordering[0].desc = k.desc;
    ordering[0].column = 1;
    ordering[1].text = "k";
    ordering[1].isKey = true;
    ordering[1].column = 0;
    Analysis an("SELECT a FROM t");
    std::vector<std::pair<int32_t, uint16_t>> cells;
    ASSERT_EQ(KS_MakeSeekWhere(&an.a, ordering, k.collation, k.direction, k.inclusive, &rows, k.boundary, &cells), 0);
    EXPECT_EQ(Squeeze(an.a.sql), "SELECT a FROM t " + k.where);
    EXPECT_EQ(cells.size(), k.markers);
    for (const auto& cell : cells) EXPECT_EQ(cell.first, k.boundary);
  }
  RB_Free(&rows);
}

TEST(KeyColumnCache, TablesWhoseNamesRunTogetherHaveTheirOwnEntries) {
  auto key = [](const char* owner, const char* table) {
    ARR* refs = ARR_New(sizeof(SCR_TABLEREF));
    SCR_TABLEREF r{strdup(""), strdup(owner), strdup(table), strdup("")};
    ARR_Append(refs, &r);
    std::vector<uint8_t> digest(16);
    KS_CacheKey(refs, digest.data());
    ARR_Free(&refs, SCR_FreeTableRef);
    return digest;
  };
  EXPECT_NE(key("ab", "c"), key("a", "bc"));
  EXPECT_EQ(key("a", "bc"), key("a", "bc"));
}

TEST(Identifiers, NormalisedNamesAreNeverCut) {
  ScsIdentRules upper;  // H2: unquoted names upper-cased, quoted ones kept
  upper.quote = '"';
  upper.identCase = 1;
  upper.quotedCase = 3;
  char name[SCS_NAME_LEN] = "id";
  ASSERT_EQ(scs_p_NormaliseIdent(name, upper, true), 0);
  EXPECT_STREQ(name, "\"ID\"");
  std::strcpy(name, "\"Mixed\"");
  ASSERT_EQ(scs_p_NormaliseIdent(name, upper, true), 0);
  EXPECT_STREQ(name, "\"Mixed\"");
  // 507 characters fit the buffer but not with their quotes.
  const std::string longName(507, 'z');
  std::strcpy(name, longName.c_str());
  EXPECT_EQ(scs_p_NormaliseIdent(name, upper, true), KX_ERR_GENERAL);
  EXPECT_EQ(std::string(name), longName);
  EXPECT_EQ(scs_p_IdentEqual("id", "\"ID\"", upper), 1);
  EXPECT_EQ(scs_p_IdentEqual("id", "\"id\"", upper), 0);
}

// A catalog name quoted for generated SQL names exactly that object: a quote
// inside it is written twice, and without a quote character it stays bare.
TEST(Identifiers, CatalogNamesAreQuotedWhole) {
  EXPECT_EQ(SCS_QuoteName("Mixed Case", '"'), "\"Mixed Case\"");
  EXPECT_EQ(SCS_QuoteName("a\"b", '"'), "\"a\"\"b\"");
  EXPECT_EQ(SCS_QuoteName("plain", 0), "plain");
  // Taking the quotes off gives the catalog name back, doubled quotes read once.
  for (const char* name : {"a\"b", "\"", "x\"\"y\"", "Mixed Case"}) {
    EXPECT_EQ(SCS_UnquoteName(SCS_QuoteName(name, '"'), '"'), name);
  }
  EXPECT_EQ(SCS_UnquoteName("bare", '"'), "bare");
  EXPECT_EQ(SCS_UnquoteName("\"a\"\"b\"", 0), "\"a\"\"b\"");
}

// Row digests tell apart rows whose values run together the same way, and a
// NULL from an empty value; the hex form fits what the caller gives it.
TEST(RowDigest, ValuesAreMarkedAndLengthPrefixed) {
  struct Row {
    const char* a;  // nullptr: NULL
    const char* b;
  };
  const Row rows[] = {{"ab", "c"}, {"a", "bc"}, {"", "abc"}, {nullptr, "abc"}, {"abc", ""}, {"abc", nullptr},
                      {"ab", "c"}};
  RowBuffer rb{};
  ASSERT_EQ(RB_InitColumns(&rb, 2), 0);
  for (int i = 0; i < 2; ++i) {
    rb.columns[i].type = RBT_CHAR_NTS;
    rb.columns[i].width = 8;
  }
  rb.colCount = 2;
  const int n = static_cast<int>(sizeof rows / sizeof rows[0]);
  ASSERT_EQ(RB_AllocRows(&rb, n), 0);
  for (int r = 0; r < n; ++r) {
    const char* v[2] = {rows[r].a, rows[r].b};
    for (int c = 0; c < 2; ++c) {
      if (v[c] == nullptr) continue;  // fresh storage is NULL
      std::strcpy(reinterpret_cast<char*>(RB_Element(&rb.columns[c], r)), v[c]);
      rb.columns[c].indicators[r] = RB_IND_DATA;
    }
  }
  rb.rowCount = n;
  std::vector<std::string> seen;
  for (int r = 0; r < n; ++r) {
    uint8_t d[16];
    ASSERT_EQ(RVC_RowDigest(&rb, r, 2, d), 0);
    char hex[33];
    size_t length = 0;
    RVC_DigestToHex(d, 16, hex, sizeof hex, &length);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(std::strlen(hex), 32u);
    seen.emplace_back(hex);
  }
  for (int i = 0; i + 1 < n; ++i) {
    for (int j = i + 1; j + 1 < n; ++j) EXPECT_NE(seen[i], seen[j]) << i << " " << j;
  }
  EXPECT_EQ(seen.front(), seen.back());  // the same values, the same digest
  // A short buffer takes whole bytes only.
  const uint8_t bytes[3] = {0xAB, 0x01, 0xFF};
  char small[6];
  size_t length = 0;
  RVC_DigestToHex(bytes, 3, small, sizeof small, &length);
  EXPECT_EQ(std::string(small), "AB01");
  EXPECT_EQ(length, 4u);
  uint8_t d[16];
  EXPECT_NE(RVC_RowDigest(&rb, n, 2, d), 0);  // no such row
  RB_Free(&rb);
}

}  // namespace
}  // namespace kx
