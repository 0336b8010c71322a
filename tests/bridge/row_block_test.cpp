// Block reads: a whole block of an ordinary result read in one call into
// Java must give exactly what reading value by value gives, for every
// element type, NULLs, text with a NUL inside and non-ASCII text; a failure
// in the middle of a block keeps the rows before it. Rows read ahead on a
// thread of the VM give the very blocks, failures and ends of reading each
// block when asked, and no read-ahead outlives its result.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <thread>

#include "agent_fixture.h"
#include "drv_jdbc/j_fetch.h"
#include "drv_jdbc/j_serv.h"
#include "drv_jdbc/j_setters.h"
#include "util/errcodes.h"

namespace kxtest {
namespace {

using namespace kx;

// Restores block reads and read-ahead at the end of a test.
struct BlockReads {
  ~BlockReads() {
    JDB_SetRowBlockReads(true);
    JDB_SetReadAhead(true);
  }
};

// A static long-answering method of the reader class: read-aheads running
// ("running") and bytes read ahead not yet taken ("queued") in the VM.
int64_t ReaderCount(const char* name, const char* sig) {
  JNIEnv* env = JVM_AttachThread();
  jclass cls = JC_DefineRowBlockClass(env);
  if (cls == nullptr) return -1;
  jmethodID m = env->GetStaticMethodID(cls, name, sig);
  int64_t n = -1;
  if (m != nullptr) {
    n = sig[2] == 'I' ? env->CallStaticIntMethod(cls, m) : env->CallStaticLongMethod(cls, m);
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  env->DeleteLocalRef(cls);
  return n;
}

// No read-ahead left running, and no rows left read ahead.
void ExpectNoReadAheadLeft() {
  EXPECT_EQ(0, ReaderCount("running", "()I"));
  EXPECT_EQ(0, ReaderCount("queued", "()J"));
}

// What a caller sees of one block: its status, its first column's values and
// the SQLSTATE of its failure.
struct Seen {
  int rc;
  std::vector<int32_t> ids;
  std::string state;
  bool operator==(const Seen& o) const { return rc == o.rc && ids == o.ids && state == o.state; }
};

std::ostream& operator<<(std::ostream& out, const Seen& b) {
  out << "{rc " << b.rc << ", " << b.ids.size() << " rows";
  if (!b.ids.empty()) out << " " << b.ids.front() << ".." << b.ids.back();
  return out << (b.state.empty() ? "" : ", ") << b.state << "}";
}

std::string StateOf(const std::string& msgs) {
  const size_t at = msgs.find("[SQLSTATE:");
  return at == std::string::npos ? std::string() : msgs.substr(at + 10, 5);
}

// Up to `blocks` blocks of perBlock rows of an executed statement (an integer
// first column), a failed block going on to the next as an application's
// next fetch would; two failures in a row end it.
std::vector<Seen> ReadBlocks(AgentSession& a, AgentHandle q, uint16_t perBlock, int blocks = 100000) {
  std::vector<Seen> seen;
  for (int i = 0; i < blocks; ++i) {
    if (seen.size() >= 2 && seen[seen.size() - 1].rc != 0 && seen[seen.size() - 2].rc != 0) break;
    Block blk;
    Seen b;
    b.rc = a.ops->DRV_FetchBlock(q, perBlock, &blk.rb);
    for (int r = 0; r < blk.rb.rowCount; ++r) b.ids.push_back(blk.Get<int32_t>(0, r));
    if (b.rc != 0) b.state = StateOf(AgentMessages(a.ops, q));
    const bool over = b.rc == 0 && b.ids.empty();
    seen.push_back(std::move(b));
    if (over) break;
  }
  return seen;
}

// Every block of a query, read with block reads on or off.
std::vector<std::vector<unsigned char>> ReadAll(AgentSession& a, const std::string& sql,
                                                uint16_t perBlock, bool blocks,
                                                std::vector<int>* sizes,
                                                std::vector<uint32_t>* types) {
  JDB_SetRowBlockReads(blocks);
  std::vector<std::vector<unsigned char>> cells;
  AgentHandle q = a.Stmt();
  EXPECT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
  EXPECT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
  for (int guard = 0; guard < 100; ++guard) {
    Block blk;
    EXPECT_EQ(0, a.ops->DRV_FetchBlock(q, perBlock, &blk.rb)) << AgentMessages(a.ops, q);
    sizes->push_back(blk.rb.rowCount);
    if (blk.rb.rowCount <= 0) break;
    types->clear();
    for (int c = 0; c < blk.rb.colCount; ++c) {
      const RowBufferColumn& col = blk.rb.columns[c];
      types->push_back(col.type);
      for (int r = 0; r < blk.rb.rowCount; ++r) {
        // Indicator, then the element's bytes (a NULL's element too: the
        // reader must leave it as the value-by-value road does).
        std::vector<unsigned char> cell(sizeof(int64_t) + col.width);
        const int64_t ind = col.indicators[r];
        std::memcpy(cell.data(), &ind, sizeof ind);
        if (RB_IsPtrType(col.type) && ind == RB_IND_DATA) {
          // A long value's element points at its own block: its bytes count.
          const RBPtrValue v = RB_GetPtrValue(blk.At(c, r));
          const auto* p = static_cast<const unsigned char*>(v.block);
          cell.resize(sizeof ind);
          cell.insert(cell.end(), p, p + RB_PtrBytes(col.type, v.length));
        } else {
          std::memcpy(cell.data() + sizeof ind, blk.At(c, r), col.width);
        }
        cells.push_back(std::move(cell));
      }
    }
  }
  a.ops->DRV_FreeStmt(q);
  return cells;
}

// Every cell of the block road is the value-by-value road's (both read by
// ReadAll, the same number of cells); the first few that differ are named.
void ExpectSameCells(const std::vector<std::vector<unsigned char>>& byValue,
                     const std::vector<std::vector<unsigned char>>& byBlock) {
  ASSERT_EQ(byValue.size(), byBlock.size());
  int shown = 0;
  for (size_t i = 0; i < byBlock.size() && shown < 10; ++i) {
    if (byValue[i] == byBlock[i]) continue;
    ++shown;
    ADD_FAILURE() << "cell " << i << " (block-major, column by column) differs between the roads";
  }
}

class RowBlockH2 : public ::testing::TestWithParam<bool> {};

TEST_P(RowBlockH2, EveryElementTypeMatchesTheValueByValueRoad) {
  BlockReads restore;
  const bool wide = GetParam();
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2(wide ? "rowblock_w" : "rowblock_n", wide)) << AgentMessages(a.ops, a.server);
  const std::string t = Unique("t_block");
  a.Exec("CREATE TABLE " + t +
         " (id INT, b BOOLEAN, ti TINYINT, si SMALLINT, bi BIGINT, r REAL, d DOUBLE, dt DATE,"
         " tm TIME, ts TIMESTAMP, c CHAR(5), v VARCHAR(12), n NUMERIC(12,2), bin BINARY(4),"
         " vb VARBINARY(6))");
  a.Exec("INSERT INTO " + t +
         " VALUES (1, TRUE, -7, -300, 9000000000, 1.5, -2.25e100, DATE '2024-02-29',"
         " TIME '23:59:58', TIMESTAMP '1999-12-31 23:59:59.123456789', 'ab', 'x' || CHAR(0) || 'y',"
         " 1234567890.12, X'01020304', X'FFEE')");
  a.Exec("INSERT INTO " + t + " (id) VALUES (2)");
  a.Exec("INSERT INTO " + t +
         " VALUES (3, FALSE, 127, 32767, -1, -0.0, 0.1, DATE '0001-01-01', TIME '00:00:00',"
         " TIMESTAMP '2038-01-19 03:14:08', 'Ωμέγ', '日本語\xF0\x9F\x98\x80', -0.5, X'00000000',"
         " X'')");
  for (int id = 4; id <= 7; ++id) {
    a.Exec("INSERT INTO " + t + " VALUES (" + std::to_string(id) +
           ", TRUE, 1, 2, 3, 4, 5, DATE '2000-01-01', TIME '01:02:03', TIMESTAMP '2000-01-01 01:02:03',"
           " 'k', 'row " + std::to_string(id) + "', 6.5, X'AA', X'BB')");
  }
  const std::string sql = "SELECT * FROM " + t + " ORDER BY id";
  std::vector<int> blockSizes, plainSizes;
  std::vector<uint32_t> blockTypes, plainTypes;
  auto byBlock = ReadAll(a, sql, 3, true, &blockSizes, &blockTypes);
  auto byValue = ReadAll(a, sql, 3, false, &plainSizes, &plainTypes);
  EXPECT_EQ((std::vector<int>{3, 3, 1, 0}), blockSizes);
  EXPECT_EQ(plainSizes, blockSizes);
  EXPECT_EQ(plainTypes, blockTypes);
  ASSERT_EQ(byValue.size(), byBlock.size());
  ASSERT_EQ(15u * 7u, byBlock.size());
  ExpectSameCells(byValue, byBlock);
}

// Values longer than the packed buffer starts with: the buffer grows in the
// middle of a block, and every value still matches the other road.
TEST_P(RowBlockH2, LongValuesGrowTheBlockAndMatchTheValueByValueRoad) {
  BlockReads restore;
  const bool wide = GetParam();
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2(wide ? "rowblock_lw" : "rowblock_ln", wide)) << AgentMessages(a.ops, a.server);
  const std::string t = Unique("t_block_long");
  a.Exec("CREATE TABLE " + t + " (id INT, v VARCHAR(40000), b VARBINARY(30000))");
  a.Exec("INSERT INTO " + t + " SELECT X, CASE MOD(X, 4) WHEN 1 THEN NULL WHEN 2 THEN '' ELSE"
         " REPEAT('\u00e9' || X, 9000) END, CASE WHEN MOD(X, 4) = 1 THEN NULL ELSE"
         " CAST(REPEAT('ab', 14000) AS VARBINARY(30000)) END FROM SYSTEM_RANGE(1, 7)");
  const std::string sql = "SELECT * FROM " + t + " ORDER BY id";
  std::vector<int> blockSizes, plainSizes;
  std::vector<uint32_t> blockTypes, plainTypes;
  auto byBlock = ReadAll(a, sql, 4, true, &blockSizes, &blockTypes);
  auto byValue = ReadAll(a, sql, 4, false, &plainSizes, &plainTypes);
  EXPECT_EQ((std::vector<int>{4, 3, 0}), blockSizes);
  EXPECT_EQ(plainTypes, blockTypes);
  ASSERT_EQ(byValue.size(), byBlock.size());
  ASSERT_EQ(3u * 7u, byBlock.size());
  ExpectSameCells(byValue, byBlock);
}

INSTANTIATE_TEST_SUITE_P(WideAndNarrow, RowBlockH2, ::testing::Values(true, false));

class RowBlockPgForms : public ::testing::TestWithParam<bool> {};

TEST(RowBlock, FailureInTheMiddleOfABlockKeepsTheRowsBeforeIt) {
  BlockReads restore;
  AgentSession a;
  // Lazy execution: H2 computes each row at next(), so the third row fails
  // while the block is being read.
  const std::string props =
      "URL={jdbc:h2:mem:" + Unique("rowblock_fail") + ";DB_CLOSE_DELAY=-1;LAZY_QUERY_EXECUTION=TRUE}";
  ASSERT_EQ(0, a.Connect(props)) << AgentMessages(a.ops, a.server);
  for (bool blocks : {true, false}) {
    JDB_SetRowBlockReads(blocks);
    AgentHandle q = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(q, "SELECT CAST(10 / (X - 3) AS INT) FROM SYSTEM_RANGE(1, 5)"))
        << AgentMessages(a.ops, q);
    ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
    // The rows before the failure come first, the failure with the next
    // block: an application stopping at the error has had them all.
    Block blk;
    EXPECT_EQ(0, a.ops->DRV_FetchBlock(q, 5, &blk.rb)) << "blocks=" << blocks;
    ASSERT_EQ(2, blk.rb.rowCount) << "blocks=" << blocks;
    EXPECT_EQ(-5, blk.Get<int32_t>(0, 0));
    EXPECT_EQ(-10, blk.Get<int32_t>(0, 1));
    Block next;
    EXPECT_NE(0, a.ops->DRV_FetchBlock(q, 5, &next.rb)) << "blocks=" << blocks;
    EXPECT_EQ(0, next.rb.rowCount) << "blocks=" << blocks;
    EXPECT_NE(std::string::npos, AgentMessages(a.ops, q).find("22012")) << AgentMessages(a.ops, q);
    a.ops->DRV_FreeStmt(q);
  }
}

// A double's decimal text, read without the JDK's parser, is the double the
// JDK makes of it, bit for bit: the shortest texts of random doubles, random
// digits with random exponents, integers exactly halfway between two doubles
// and their neighbours, the edges of the range; text it does not settle
// (another form, too many digits, beyond the normal range, a tie) is handed
// back for the JDK, and text the JDK refuses is never taken.
TEST(RowBlock, DecimalTextToDoubleIsTheJdksDouble) {
  AgentSession a;
  ASSERT_EQ(0, a.ConnectH2("rowblock_double")) << AgentMessages(a.ops, a.server);
  JNIEnv* env = JVM_AttachThread();
  ASSERT_NE(nullptr, env);
  jclass block = JC_DefineRowBlockClass(env);
  ASSERT_NE(nullptr, block);
  jmethodID ours = env->GetStaticMethodID(block, "decimalToDouble", "([B)D");
  jclass jdkDouble = env->FindClass("java/lang/Double");
  ASSERT_NE(nullptr, jdkDouble);
  jmethodID jdk = env->GetStaticMethodID(jdkDouble, "parseDouble", "(Ljava/lang/String;)D");
  ASSERT_NE(nullptr, ours);
  ASSERT_NE(nullptr, jdk);

  std::vector<std::string> texts = {
      "0", "-0", "0.0", "-0.000", "00012", "1", "-1", "0.1", "0.3", "1e23", "1E+23", "1e-23", "1e+300",
      "142857.14285714287", "8.98846567431158e307", "1.7976931348623157e308", "1.7976931348623158e308",
      "1.7976931348623159e308", "-1.7976931348623157e308", "2.2250738585072014e-308", "2.2250738585072011e-308",
      "4.9e-324", "5e-324", "1e-400", "1e400", "9007199254740993", "9007199254740992", "9007199254740991",
      "9007199254740995", "18014398509481986", "123456789012345678901", "1234567890123456789",
      "9999999999999999999", "0.00000000000000000000000000001", ".5", "5.", "-", "", ".", "e5", "1e", "1e+", "1e-",
      "NaN", "-NaN", "Infinity", "-Infinity", "1,5", " 1", "1 ", "0x1p3", "1d", "1f", "+1", "--1", "1e5.5",
      "1e99999999999", "1e-99999999999", "12345678901234567e-330", "123e-340", "1.5e308", "2e308"};
  std::mt19937_64 random(20261211);
  char buf[64];
  for (int k = 0; k < 20000; ++k) {
    // Shortest round-trip text of a random finite double, as PostgreSQL
    // writes a double, and the 15- and 17-digit forms.
    double d;
    do {
      const uint64_t bits = random();
      std::memcpy(&d, &bits, sizeof d);
    } while (!std::isfinite(d));
    const auto end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    texts.emplace_back(buf, end);
    std::snprintf(buf, sizeof buf, k % 2 == 0 ? "%.17g" : "%.15e", d);
    texts.emplace_back(buf);
  }
  for (int k = 0; k < 20000; ++k) {
    // Random digits, a point somewhere and an exponent.
    const int count = 1 + static_cast<int>(random() % 19);
    std::string t = random() % 2 == 0 ? "-" : "";
    const int point = static_cast<int>(random() % (count + 1));
    for (int j = 0; j < count; ++j) {
      if (j == point) t += '.';
      t += static_cast<char>('0' + (j == 0 ? 1 + random() % 9 : random() % 10));
    }
    t += "e" + std::to_string(static_cast<int>(random() % 660) - 340);
    texts.push_back(t);
  }
  for (int k = 0; k < 2000; ++k) {
    // An odd multiple of half a unit in the last place: a tie, then its
    // neighbours.
    const uint64_t m = (uint64_t{1} << 52) + random() % (uint64_t{1} << 52);
    const int e = 1 + static_cast<int>(random() % 10);
    const uint64_t tie = (2 * m + 1) << (e - 1);
    for (uint64_t v : {tie, tie - 1, tie + 1}) texts.push_back(std::to_string(v));
  }

  size_t taken = 0;
  for (const std::string& t : texts) {
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(t.size()));
    ASSERT_NE(nullptr, bytes);
    env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(t.size()), reinterpret_cast<const jbyte*>(t.data()));
    const double got = env->CallStaticDoubleMethod(block, ours, bytes);
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    ASSERT_FALSE(env->ExceptionCheck()) << t;
    jstring text = env->NewStringUTF(t.c_str());
    const double want = env->CallStaticDoubleMethod(jdkDouble, jdk, text);
    const bool refused = env->ExceptionCheck();
    if (refused) env->ExceptionClear();
    env->DeleteLocalRef(bytes);
    env->DeleteLocalRef(text);
    if (std::isnan(got)) continue;  // handed back to the JDK
    ++taken;
    ASSERT_FALSE(refused) << "'" << t << "' is no double, yet was read as " << got;
    uint64_t gotBits, wantBits;
    std::memcpy(&gotBits, &got, 8);
    std::memcpy(&wantBits, &want, 8);
    ASSERT_EQ(wantBits, gotBits) << "'" << t << "': " << got << " where the JDK reads " << want;
  }
  // The road is the usual one, not the exception.
  EXPECT_GT(taken, texts.size() * 9 / 10);
  env->DeleteLocalRef(jdkDouble);
  env->DeleteLocalRef(block);
}

// PostgreSQL's driver hands the text the server sent to the block reader as
// it is: ASCII text, decimals and timestamps in the server's plain form are
// packed from those bytes, and each must be what the getters give, cut to
// the same room; other text (non-ASCII, a zone, an era, a form the server
// writes otherwise) and the same query once the driver reads it in binary
// form (after a few executions) go through the getters and match as well.
TEST_P(RowBlockPgForms, TextFormValuesMatchTheValueByValueRoad) {
  BlockReads restore;
  const bool wide = GetParam();
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg(wide));
  const std::string t = Unique(wide ? "t_block_pgw" : "t_block_pgn");
  a.Exec("CREATE TABLE " + t +
         " (id INT, v VARCHAR(12), c CHAR(5), n NUMERIC(30,10), ts TIMESTAMP, tz TIMESTAMPTZ,"
         " d DATE, tm TIME, f DOUBLE PRECISION, tx VARCHAR(200), bl BOOLEAN, ttz TIMETZ)");
  a.Exec("INSERT INTO " + t + " VALUES"
         " (1, 'plain', 'ab', 12345678901234567890.0123456789, '2024-02-29 23:59:59', '2024-01-01 10:00+02',"
         " '2024-01-01', '10:11:12', 1.5, 'x', TRUE, '10:11:12+02'),"
         " (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
         " (3, 'caf\u00e9 \u65e5', '\u03a9', 'NaN', '0099-01-01 00:00:00.5', '1999-12-31 23:59:59.999999-08',"
         " '0001-01-01', '23:59:59.999999', -0.0, repeat('long ', 30), FALSE, '23:59:59.5-08'),"
         " (4, 'exactly12chr', 'abcde', -0.0000000001, '2000-01-01 01:02:03.123', '2000-06-01 00:00+00',"
         " '9999-12-31', '00:00:00.000001', 1e300, '', TRUE, '00:00:00+00'),"
         " (5, '', '', 0, '1970-01-01 00:00:00.000001', '1970-01-01 00:00+00', '1970-01-01', '12:00',"
         " 142857.14285714287, 'last', FALSE, NULL)");
  const std::string sql = "SELECT *, CAST(ts AS VARCHAR(40)), CAST(n AS VARCHAR(10)) FROM " + t + " ORDER BY id";
  std::vector<int> plainSizes;
  std::vector<uint32_t> plainTypes;
  auto byValue = ReadAll(a, sql, 2, false, &plainSizes, &plainTypes);
  ASSERT_EQ(14u * 5u, byValue.size());
  // The driver turns to binary form once a query ran often enough.
  for (int round = 0; round < 7; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<int> blockSizes;
    std::vector<uint32_t> blockTypes;
    auto byBlock = ReadAll(a, sql, 2, true, &blockSizes, &blockTypes);
    EXPECT_EQ(plainSizes, blockSizes);
    EXPECT_EQ(plainTypes, blockTypes);
    ExpectSameCells(byValue, byBlock);
  }
}

INSTANTIATE_TEST_SUITE_P(WideAndNarrow, RowBlockPgForms, ::testing::Values(true, false));

// Doubles as PostgreSQL writes them (the shortest text that reads back
// exactly), across the whole range, read into blocks from their text: each
// is the double the getter gives.
TEST(RowBlockPg, DoublesFromTheirTextMatchTheValueByValueRoad) {
  BlockReads restore;
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  const std::string sql =
      "SELECT g, g / 7.0::float8, 1.0::float8 / g, exp((g % 1400) / 2.0 - 350)::float8,"
      " power(10::float8, (g % 600) - 300) * (g % 97 - 48), sqrt(g::float8), CAST(g / 3.0 AS real),"
      " CASE g % 50 WHEN 0 THEN 'NaN'::float8 WHEN 1 THEN '-Infinity'::float8 WHEN 2 THEN NULL"
      " WHEN 3 THEN '-0'::float8 WHEN 4 THEN 5e-324::float8 ELSE 2.2250738585072014e-308::float8 * g END"
      " FROM generate_series(1, 6000) AS g ORDER BY g";
  std::vector<int> blockSizes, plainSizes;
  std::vector<uint32_t> blockTypes, plainTypes;
  auto byValue = ReadAll(a, sql, 1000, false, &plainSizes, &plainTypes);
  auto byBlock = ReadAll(a, sql, 1000, true, &blockSizes, &blockTypes);
  EXPECT_EQ(plainSizes, blockSizes);
  ASSERT_EQ(byValue.size(), byBlock.size());
  ASSERT_EQ(8u * 6000u, byBlock.size());
  ExpectSameCells(byValue, byBlock);
}

// PostgreSQL's 'infinity' reaches Java as the year 292278994, which no ODBC
// date can hold: that row is refused with 22008 (its year used to arrive cut
// to 16 bits) and the rows around it are delivered, on both roads.
TEST(RowBlockPg, YearsBeyondAnOdbcDateRefuseTheirRowOnly) {
  BlockReads restore;
  AgentSession a;
  ASSERT_TRUE(a.ConnectPg());
  const std::string sql =
      "SELECT id, ts, d FROM (VALUES (1, TIMESTAMP '2024-01-01 10:00', DATE '2024-01-01'),"
      " (2, TIMESTAMP 'infinity', DATE '2024-01-02'), (3, TIMESTAMP '2024-01-03', DATE '-infinity'),"
      " (4, TIMESTAMP '2024-01-04 23:59:59.5', DATE '2024-01-04')) AS v(id, ts, d) ORDER BY id";
  for (bool blocks : {true, false}) {
    JDB_SetRowBlockReads(blocks);
    AgentHandle q = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
    ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
    std::vector<int32_t> ids;
    int refusals = 0;
    for (int guard = 0; guard < 10; ++guard) {
      Block blk;
      const int rc = a.ops->DRV_FetchBlock(q, 10, &blk.rb);
      for (int r = 0; r < blk.rb.rowCount; ++r) {
        ids.push_back(blk.Get<int32_t>(0, r));
        const JDateTime ts = blk.Get<JDateTime>(1, r);
        EXPECT_GE(ts.year, 2024);
        EXPECT_LE(ts.year, 2024);
      }
      if (rc != 0) {
        ++refusals;
        EXPECT_NE(std::string::npos, AgentMessages(a.ops, q).find("22008")) << "blocks=" << blocks;
        continue;
      }
      if (blk.rb.rowCount == 0) break;
    }
    EXPECT_EQ((std::vector<int32_t>{1, 4}), ids) << "blocks=" << blocks;
    EXPECT_EQ(2, refusals) << "blocks=" << blocks;
    a.ops->DRV_FreeStmt(q);
  }
}

// A result read ahead gives block for block what reading each block when it
// is asked for gives: the rows, a failure at its row with the rows before it
// delivered and the rows after it in the next blocks, the end in the block
// after the last full one.
TEST(RowBlockAhead, BlocksFailuresAndEndMatchReadingEachBlockWhenAsked) {
  BlockReads restore;
  AgentSession a;
  // Lazy execution: H2 computes each row at next(), so the failures come
  // while the rows are read ahead.
  const std::string props =
      "URL={jdbc:h2:mem:" + Unique("rowblock_ahead") + ";DB_CLOSE_DELAY=-1;LAZY_QUERY_EXECUTION=TRUE}";
  ASSERT_EQ(0, a.Connect(props)) << AgentMessages(a.ops, a.server);
  struct Case {
    const char* sql;
    uint16_t perBlock;
  };
  const Case cases[] = {
      // Failures in the middle of blocks, far ahead of the first block.
      {"SELECT CAST(X + 0 * (1 / MOD(X, 2500)) AS INT) FROM SYSTEM_RANGE(1, 9000)", 60},
      // A failure right after a full block: the next block brings it alone.
      {"SELECT CAST(X + 0 * (1 / MOD(X, 2461)) AS INT) FROM SYSTEM_RANGE(1, 6000)", 60},
      // The last block full: the end comes in an empty block.
      {"SELECT CAST(X AS INT) FROM SYSTEM_RANGE(1, 6000)", 60},
      // The end in the middle of a block; one block of rows.
      {"SELECT CAST(X AS INT) FROM SYSTEM_RANGE(1, 6001)", 100},
      {"SELECT CAST(X AS INT) FROM SYSTEM_RANGE(1, 7)", 7},
  };
  for (const Case& c : cases) {
    std::vector<Seen> byRoad[2];
    for (bool ahead : {false, true}) {
      JDB_SetReadAhead(ahead);
      AgentHandle q = a.Stmt();
      ASSERT_EQ(0, a.ops->DRV_Prepare(q, c.sql)) << AgentMessages(a.ops, q);
      ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
      byRoad[ahead] = ReadBlocks(a, q, c.perBlock);
      a.ops->DRV_FreeStmt(q);
    }
    EXPECT_EQ(byRoad[0], byRoad[1]) << c.sql;
    ExpectNoReadAheadLeft();
  }
  // The first case has failed at rows 2500, 5000 and 7500 and delivered
  // every other row.
  JDB_SetReadAhead(true);
  AgentHandle q = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, cases[0].sql)) << AgentMessages(a.ops, q);
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
  std::vector<int32_t> ids;
  int failures = 0;
  for (const Seen& b : ReadBlocks(a, q, cases[0].perBlock)) {
    ids.insert(ids.end(), b.ids.begin(), b.ids.end());
    if (b.rc != 0) {
      ++failures;
      EXPECT_EQ("22012", b.state);
      EXPECT_EQ(2500 * failures - 1, ids.back());
    }
  }
  EXPECT_EQ(3, failures);
  EXPECT_EQ(9000u - 3u, ids.size());
  a.ops->DRV_FreeStmt(q);
}

// PostgreSQL inside a transaction: the rows stream round trip by round trip
// while they are read ahead; a failure on the server comes at the same row as
// without read-ahead; a row limit is never read past.
TEST(RowBlockAheadPg, StreamedRowsFailuresAndRowLimitsMatchReadingEachBlockWhenAsked) {
  BlockReads restore;
  AgentSession a;
  a.connOptions.noac = 1;
  ASSERT_TRUE(a.ConnectPg());
  struct Case {
    const char* sql;
    int32_t maxRows;
  };
  const Case cases[] = {
      {"SELECT g FROM generate_series(1, 50000) AS g", 0},
      {"SELECT CAST(g + 0 * (1 / (g - 30000)) AS INT) FROM generate_series(1, 50000) AS g", 0},
      {"SELECT g FROM generate_series(1, 50000) AS g", 150},
      {"SELECT g FROM generate_series(1, 50000) AS g", 20000},
  };
  for (const Case& c : cases) {
    std::vector<Seen> byRoad[2];
    for (bool ahead : {false, true}) {
      JDB_SetReadAhead(ahead);
      AgentHandle q = a.Stmt();
      if (c.maxRows > 0) {
        ASSERT_EQ(0, a.ops->DRV_SetProperty(q, AP_STMT_MAX_ROWS, &c.maxRows));
      }
      ASSERT_EQ(0, a.ops->DRV_Prepare(q, c.sql)) << AgentMessages(a.ops, q);
      ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
      byRoad[ahead] = ReadBlocks(a, q, 60);
      a.ops->DRV_FreeStmt(q);
      // A failed transaction is rolled back for the next case.
      ASSERT_EQ(0, a.ops->DRV_Rollback(a.conn)) << AgentMessages(a.ops, a.conn);
    }
    EXPECT_EQ(byRoad[0], byRoad[1]) << c.sql;
    size_t rows = 0;
    for (const Seen& b : byRoad[1]) rows += b.ids.size();
    if (c.maxRows > 0) {
      EXPECT_EQ(static_cast<size_t>(c.maxRows), rows) << c.sql;
    }
    ExpectNoReadAheadLeft();
  }
}

// Calls on the connection while a result is read ahead: another statement's
// work, a close in the middle of the result, a cancel from another thread.
// Each result stays whole and in order, the connection stays usable and no
// read-ahead is left running.
TEST(RowBlockAheadPg, OtherCallsCloseAndCancelMeetARunningReadAhead) {
  BlockReads restore;
  AgentSession a;
  a.connOptions.noac = 1;
  ASSERT_TRUE(a.ConnectPg());
  const char* sql = "SELECT g FROM generate_series(1, 200000) AS g";
  AgentHandle first = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(first, sql)) << AgentMessages(a.ops, first);
  ASSERT_EQ(0, a.ops->DRV_Execute(first)) << AgentMessages(a.ops, first);
  std::vector<Seen> head = ReadBlocks(a, first, 60, 3);
  // Another statement on the connection, read whole, while the first one's
  // rows are read ahead.
  AgentHandle second = a.Stmt();
  ASSERT_EQ(0, a.ops->DRV_Prepare(second, "SELECT g FROM generate_series(1, 20000) AS g"))
      << AgentMessages(a.ops, second);
  ASSERT_EQ(0, a.ops->DRV_Execute(second)) << AgentMessages(a.ops, second);
  int32_t expect = 1;
  for (const Seen& b : ReadBlocks(a, second, 100)) {
    ASSERT_EQ(0, b.rc) << b;
    for (int32_t id : b.ids) ASSERT_EQ(expect++, id);
  }
  EXPECT_EQ(20001, expect);
  // The first goes on where it was, the cancel of a fetch (which the
  // database does not stop) beside it.
  std::vector<Seen> rest;
  std::thread canceller([&] { EXPECT_EQ(0, a.ops->DRV_Cancel(first)); });
  rest = ReadBlocks(a, first, 60, 1000);
  canceller.join();
  expect = 1;
  for (const auto* part : {&head, &rest}) {
    for (const Seen& b : *part) {
      ASSERT_EQ(0, b.rc) << b;
      for (int32_t id : b.ids) ASSERT_EQ(expect++, id);
    }
  }
  EXPECT_EQ(1 + 60 * 1003, expect);
  // Closed in the middle: the read-ahead stops with it; the statement and the
  // connection work on.
  EXPECT_EQ(0, a.ops->DRV_CloseCursor(first)) << AgentMessages(a.ops, first);
  ExpectNoReadAheadLeft();
  ASSERT_EQ(0, a.ops->DRV_Prepare(first, "SELECT g FROM generate_series(7, 9) AS g")) << AgentMessages(a.ops, first);
  ASSERT_EQ(0, a.ops->DRV_Execute(first)) << AgentMessages(a.ops, first);
  std::vector<Seen> again = ReadBlocks(a, first, 60);
  ASSERT_EQ(2u, again.size());
  EXPECT_EQ((std::vector<int32_t>{7, 8, 9}), again[0].ids);
  // Freed, and the connection ended, in the middle of results read ahead.
  ASSERT_EQ(0, a.ops->DRV_Prepare(first, sql)) << AgentMessages(a.ops, first);
  ASSERT_EQ(0, a.ops->DRV_Execute(first)) << AgentMessages(a.ops, first);
  ASSERT_EQ(0, a.ops->DRV_Prepare(second, sql)) << AgentMessages(a.ops, second);
  ASSERT_EQ(0, a.ops->DRV_Execute(second)) << AgentMessages(a.ops, second);
  EXPECT_EQ(2u, ReadBlocks(a, first, 60, 2).size());
  EXPECT_EQ(2u, ReadBlocks(a, second, 60, 2).size());
  EXPECT_EQ(0, a.ops->DRV_FreeStmt(first));
  EXPECT_EQ(0, a.ops->DRV_Disconnect(a.conn));
  a.conn = 0;
  ExpectNoReadAheadLeft();
}

// Many results open at once, each left after its first block: the rows
// read ahead of them all stay within the VM's bound (32 MB and a segment),
// results past it are read as asked, and every result is whole and in order.
TEST(RowBlockAheadPg, ManyOpenResultsShareOneBoundOfRowsReadAhead) {
  BlockReads restore;
  AgentSession a;
  a.connOptions.noac = 1;
  ASSERT_TRUE(a.ConnectPg());
  constexpr int kResults = 12, kRows = 200000;
  const std::string sql = "SELECT g, CAST(repeat('x', 30) AS VARCHAR(40)) FROM generate_series(1, " +
                          std::to_string(kRows) + ") AS g";
  std::vector<AgentHandle> open;
  std::vector<std::vector<Seen>> heads;
  for (int i = 0; i < kResults; ++i) {
    AgentHandle q = a.Stmt();
    ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
    ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
    heads.push_back(ReadBlocks(a, q, 60, 1));
    open.push_back(q);
    // Until the read-ahead rests (its own bound or the VM's).
    for (int wait = 0; wait < 6000 && ReaderCount("running", "()I") != 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(0, ReaderCount("running", "()I"));
  }
  const int64_t queued = ReaderCount("queued", "()J");
  EXPECT_GE(queued, int64_t{32} << 20);
  EXPECT_LE(queued, (int64_t{32} << 20) + (int64_t{128} << 10));
  for (int i = 0; i < kResults; ++i) {
    int32_t expect = 1;
    for (const auto& part : {heads[i], ReadBlocks(a, open[i], 500)}) {
      for (const Seen& b : part) {
        ASSERT_EQ(0, b.rc) << b;
        for (int32_t id : b.ids) ASSERT_EQ(expect++, id);
      }
    }
    EXPECT_EQ(kRows + 1, expect) << "result " << i;
    a.ops->DRV_FreeStmt(open[i]);
  }
  ExpectNoReadAheadLeft();
}

// A locking read is not read ahead: a row another transaction holds would
// keep a read-ahead waiting, and with it the next call on the connection,
// which goes through as it always did. Once the lock goes, every row comes.
TEST(RowBlockAheadPg, ALockingReadIsNotReadAhead) {
  AgentSession a, b;
  a.connOptions.noac = 1;
  b.connOptions.noac = 1;
  ASSERT_TRUE(a.ConnectPg());
  ASSERT_TRUE(b.ConnectPg());
  const std::string t = Unique("ahead_lock");
  a.Exec("CREATE TABLE " + t + " (id INT)");
  a.Exec("INSERT INTO " + t + " SELECT g FROM generate_series(1, 5000) AS g");
  // Were the read-ahead to wait after all, it would fail here, not hang.
  a.Exec("SET lock_timeout = '20s'");
  ASSERT_EQ(0, a.ops->DRV_Commit(a.conn)) << AgentMessages(a.ops, a.conn);
  b.Exec("UPDATE " + t + " SET id = id WHERE id = 3000");  // held until b ends
  AgentHandle q = a.Stmt();
  const std::string sql = "SELECT id FROM " + t + " ORDER BY id FOR UPDATE";
  ASSERT_EQ(0, a.ops->DRV_Prepare(q, sql.c_str())) << AgentMessages(a.ops, q);
  ASSERT_EQ(0, a.ops->DRV_Execute(q)) << AgentMessages(a.ops, q);
  std::vector<Seen> head = ReadBlocks(a, q, 60, 2);
  EXPECT_EQ(0, ReaderCount("running", "()I"));
  a.Exec("SELECT 1");  // another call on the connection goes through
  ASSERT_EQ(0, b.ops->DRV_Rollback(b.conn)) << AgentMessages(b.ops, b.conn);
  int32_t expect = 1;
  for (const auto& part : {head, ReadBlocks(a, q, 60)}) {
    for (const Seen& blk : part) {
      ASSERT_EQ(0, blk.rc) << blk;
      for (int32_t id : blk.ids) ASSERT_EQ(expect++, id);
    }
  }
  EXPECT_EQ(5001, expect);
  a.ops->DRV_FreeStmt(q);
  ASSERT_EQ(0, a.ops->DRV_Rollback(a.conn)) << AgentMessages(a.ops, a.conn);
  a.Exec("DROP TABLE " + t);
  ASSERT_EQ(0, a.ops->DRV_Commit(a.conn)) << AgentMessages(a.ops, a.conn);
}

}  // namespace
}  // namespace kxtest
