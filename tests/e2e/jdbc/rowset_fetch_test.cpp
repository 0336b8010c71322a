// Rowsets and scrollable cursors through unixODBC: forward-only rowsets of
// many rows with column-wise and row-wise binding, ODBC 2's SQLExtendedFetch,
// a static cursor scrolled in every direction over a result that spills to
// temporary files, SQLSetPos(SQL_POSITION) with SQLGetData on a long column,
// the fallback of keyset-driven and dynamic requests that have no key, and a full disk under
// the cursor's cache.
#include <dirent.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "road.h"

namespace kx::e2e {
namespace {

class Rowsets : public RoadTest {
 protected:
  // A table of n rows: id 0..n-1, name "name <id>", note NULL for every
  // seventh row, and a long text column of 5000 characters and the id.
  std::string Rows(int n) {
    const bool pg = GetParam().postgres;
    std::string table = Table("rowsets", std::string("id INTEGER, name VARCHAR(20), note VARCHAR(40), big ") +
                                             (pg ? "TEXT" : "CLOB"));
    const std::string series = pg ? "generate_series(0, " + std::to_string(n - 1) + ") AS g(x)"
                                  : "SYSTEM_RANGE(0, " + std::to_string(n - 1) + ")";
    Exec("INSERT INTO " + table + " SELECT x, 'name ' || x, CASE WHEN MOD(x, 7) = 0 THEN NULL ELSE 'note ' || x END, " +
         "REPEAT('x', 5000) || x FROM " + series);
    ResetStmt();
    return table;
  }
  void Attr(SQLINTEGER attr, SQLULEN value) {
    KX_STMT_OK(SQLSetStmtAttr(stmt_, attr, reinterpret_cast<SQLPOINTER>(value), 0));
  }
  void Ptr(SQLINTEGER attr, void* value) { KX_STMT_OK(SQLSetStmtAttr(stmt_, attr, value, 0)); }
};

std::string Name(int id) { return "name " + std::to_string(id); }

// Column-wise arrays of one rowset.
struct Columns {
  explicit Columns(size_t n) : id(n), name(n * 21), nameInd(n), note(n * 41), noteInd(n), status(n) {}
  std::vector<SQLINTEGER> id;
  std::vector<char> name;
  std::vector<SQLLEN> nameInd;
  std::vector<char> note;
  std::vector<SQLLEN> noteInd;
  std::vector<SQLUSMALLINT> status;
};

// One row of a row-wise binding.
struct Row {
  SQLINTEGER id;
  SQLLEN idInd;
  char name[21];
  SQLLEN nameInd;
  char note[41];
  SQLLEN noteInd;
};

TEST_P(Rowsets, ForwardOnlyRowsetsOfEverySizeColumnWise) {
  constexpr int kRows = 2503;  // no rowset size divides it: the last rowset is short
  const std::string table = Rows(kRows);
  for (SQLULEN rowset : {1u, 10u, 100u, 1000u}) {
    SCOPED_TRACE(rowset);
    if (rowset == 1000) {
      // Rowsets above 100 are for connections that ask for large rowsets.
      SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
      SQLDisconnect(dbc_);
      KX_OK(Connect(dbc_, "NRSSL=1"), SQL_HANDLE_DBC, dbc_);
      ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
    }
    ResetStmt();
    Columns c(rowset);
    SQLULEN fetched = 0;
    Attr(SQL_ATTR_ROW_ARRAY_SIZE, rowset);
    Ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    Ptr(SQL_ATTR_ROW_STATUS_PTR, c.status.data());
    KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, note FROM " + table + " ORDER BY id"));
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, c.id.data(), 0, nullptr));
    KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, c.name.data(), 21, c.nameInd.data()));
    KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_CHAR, c.note.data(), 41, c.noteInd.data()));
    int expect = 0;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt_)) != SQL_NO_DATA) {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
      ASSERT_EQ(fetched, std::min<SQLULEN>(rowset, kRows - expect));
      for (SQLULEN r = 0; r < rowset; ++r) {
        if (r >= fetched) {
          ASSERT_EQ(c.status[r], SQL_ROW_NOROW);
          continue;
        }
        ASSERT_EQ(c.status[r], SQL_ROW_SUCCESS);
        ASSERT_EQ(c.id[r], expect);
        ASSERT_EQ(std::string(&c.name[r * 21]), Name(expect));
        if (expect % 7 == 0) {
          ASSERT_EQ(c.noteInd[r], SQL_NULL_DATA);
        } else {
          ASSERT_EQ(std::string(&c.note[r * 41]), "note " + std::to_string(expect));
        }
        ++expect;
      }
    }
    EXPECT_EQ(expect, kRows);
    EXPECT_EQ(fetched, 0u);
  }
}

TEST_P(Rowsets, ForwardOnlyRowWiseWithABindOffset) {
  constexpr int kRows = 257;
  const std::string table = Rows(kRows);
  constexpr SQLULEN kRowset = 16;
  // Two sets of rows; the offset moves the binding from the first to the second.
  std::vector<Row> rows(2 * kRowset);
  std::vector<SQLUSMALLINT> status(kRowset);
  SQLLEN offset = 0;
  SQLULEN fetched = 0;
  Attr(SQL_ATTR_ROW_BIND_TYPE, sizeof(Row));
  Attr(SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
  Ptr(SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset);
  Ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
  Ptr(SQL_ATTR_ROW_STATUS_PTR, status.data());
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, note FROM " + table + " ORDER BY id"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].idInd));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].nameInd));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_CHAR, rows[0].note, sizeof rows[0].note, &rows[0].noteInd));
  int expect = 0;
  for (int round = 0;; ++round) {
    offset = (round % 2) * static_cast<SQLLEN>(kRowset * sizeof(Row));
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) break;
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    const Row* base = &rows[(round % 2) * kRowset];
    for (SQLULEN r = 0; r < fetched; ++r, ++expect) {
      ASSERT_EQ(status[r], SQL_ROW_SUCCESS);
      ASSERT_EQ(base[r].id, expect);
      ASSERT_EQ(base[r].nameInd, static_cast<SQLLEN>(Name(expect).size()));
      ASSERT_EQ(std::string(base[r].name), Name(expect));
      ASSERT_EQ(base[r].noteInd == SQL_NULL_DATA, expect % 7 == 0);
    }
  }
  EXPECT_EQ(expect, kRows);
}

TEST_P(Rowsets, RowsetsAboveTheLimitSettleOnAHundred) {
  const std::string table = Rows(250);
  Columns c(1000);
  SQLULEN fetched = 0;
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1000), 0),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S02");
  SQLULEN size = 0;
  KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &size, 0, nullptr));
  EXPECT_EQ(size, 100u);
  Ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id FROM " + table + " ORDER BY id"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, c.id.data(), 0, nullptr));
  KX_STMT_OK(SQLFetch(stmt_));
  EXPECT_EQ(fetched, 100u);
  EXPECT_EQ(c.id[99], 99);
}

TEST_P(Rowsets, ExtendedFetchOfOdbcTwo) {
  const std::string table = Rows(45);
  constexpr SQLULEN kRowset = 20;
  Columns c(kRowset);
  KX_STMT_OK(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, kRowset));
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name FROM " + table + " ORDER BY id"));
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, c.id.data(), 0, nullptr));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, c.name.data(), 21, c.nameInd.data()));
  SQLULEN rows = 0;
  for (SQLULEN expectRows : {20u, 20u, 5u}) {
    KX_STMT_OK(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, c.status.data()));
    ASSERT_EQ(rows, expectRows);
    for (SQLULEN r = 0; r < kRowset; ++r) {
      EXPECT_EQ(c.status[r], r < rows ? SQL_ROW_SUCCESS : SQL_ROW_NOROW);
    }
    EXPECT_EQ(std::string(&c.name[(rows - 1) * 21]), Name(c.id[rows - 1]));
  }
  EXPECT_EQ(c.id[4], 44);
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &rows, c.status.data()), SQL_NO_DATA);
}

// Open descriptors of this process inside a directory.
int OpenFilesIn(const std::string& dir) {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
    char target[512] = {};
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).rfind(dir + "/", 0) == 0) ++n;
  }
  if (d != nullptr) closedir(d);
  return n;
}

int NamesIn(const std::string& dir) {
  int n = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
  }
  if (d != nullptr) closedir(d);
  return n;
}

// The driver's cache files go to a directory of the test's own.
struct PrivateTmp {
  std::string path;
  PrivateTmp() {
    char tpl[] = "/tmp/kx_e2e_cache_XXXXXX";
    path = mkdtemp(tpl);
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~PrivateTmp() {
    unsetenv("TMPDIR");
    rmdir(path.c_str());
  }
};

TEST_P(Rowsets, StaticCursorScrollsEveryWayOverASpilledResult) {
  constexpr int kRows = 12000;
  constexpr SQLULEN kRowset = 20;
  const std::string table = Rows(kRows);
  PrivateTmp tmp;
  Columns c(kRowset);
  SQLULEN fetched = 0;
  Attr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
  Attr(SQL_ATTR_ROW_ARRAY_SIZE, kRowset);
  Ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
  Ptr(SQL_ATTR_ROW_STATUS_PTR, c.status.data());
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, note, big FROM " + table + " ORDER BY id"));
  SQLLEN count = 0;
  KX_STMT_OK(SQLRowCount(stmt_, &count));
  EXPECT_EQ(count, kRows);
  // The result outgrew the memory window: it lives in files without a name.
  EXPECT_EQ(OpenFilesIn(tmp.path), 2);
  EXPECT_EQ(NamesIn(tmp.path), 0);
  KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, c.id.data(), 0, nullptr));
  KX_STMT_OK(SQLBindCol(stmt_, 2, SQL_C_CHAR, c.name.data(), 21, c.nameInd.data()));
  KX_STMT_OK(SQLBindCol(stmt_, 3, SQL_C_CHAR, c.note.data(), 41, c.noteInd.data()));

  struct Step {
    SQLSMALLINT orientation;
    SQLLEN offset;
    SQLRETURN rc;
    int first;  // id of the rowset's first row
    SQLULEN rows;
  };
  const Step steps[] = {
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 0, 20},          {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 20, 20},
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 0, 20},         {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, -1, 0},
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 0, 20},          {SQL_FETCH_LAST, 0, SQL_SUCCESS, 11980, 20},
      {SQL_FETCH_NEXT, 0, SQL_NO_DATA, -1, 0},          {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 11980, 20},
      {SQL_FETCH_ABSOLUTE, 5000, SQL_SUCCESS, 4999, 20}, {SQL_FETCH_ABSOLUTE, -5, SQL_SUCCESS, 11995, 5},
      {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA, -1, 0},      {SQL_FETCH_ABSOLUTE, 13000, SQL_NO_DATA, -1, 0},
      {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 0, 20},         {SQL_FETCH_RELATIVE, 7000, SQL_SUCCESS, 7000, 20},
      {SQL_FETCH_RELATIVE, -3000, SQL_SUCCESS, 4000, 20}, {SQL_FETCH_RELATIVE, 0, SQL_SUCCESS, 4000, 20},
      {SQL_FETCH_ABSOLUTE, 11991, SQL_SUCCESS, 11990, 10}, {SQL_FETCH_RELATIVE, 100, SQL_NO_DATA, -1, 0},
      {SQL_FETCH_RELATIVE, -100000, SQL_NO_DATA, -1, 0}, {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 0, 20},
  };
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << "step " << n++ << " orientation " << s.orientation << " offset " << s.offset);
    const SQLRETURN rc = SQLFetchScroll(stmt_, s.orientation, s.offset);
    ASSERT_EQ(rc, s.rc) << Diag(SQL_HANDLE_STMT, stmt_);
    if (rc == SQL_NO_DATA) continue;
    ASSERT_EQ(fetched, s.rows);
    for (SQLULEN r = 0; r < kRowset; ++r) {
      if (r >= s.rows) {
        ASSERT_EQ(c.status[r], SQL_ROW_NOROW) << r;
        continue;
      }
      const int id = s.first + static_cast<int>(r);
      ASSERT_EQ(c.status[r], SQL_ROW_SUCCESS);
      ASSERT_EQ(c.id[r], id);
      ASSERT_EQ(std::string(&c.name[r * 21]), Name(id));
      ASSERT_EQ(c.noteInd[r] == SQL_NULL_DATA, id % 7 == 0);
    }
    SQLULEN number = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_NUMBER, &number, 0, nullptr));
    EXPECT_EQ(number, static_cast<SQLULEN>(s.first + 1));
  }

  // SQLSetPos positions on a row of the rowset; SQLGetData reads its long
  // column in pieces.
  KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 101));
  KX_STMT_OK(SQLSetPos(stmt_, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE));
  SQLULEN number = 0;
  KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_NUMBER, &number, 0, nullptr));
  EXPECT_EQ(number, 103u);
  std::string big;
  char piece[1000];
  SQLLEN len = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt_, 4, SQL_C_CHAR, piece, sizeof piece, &len)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_STMT, stmt_);
    big += piece;
  }
  EXPECT_EQ(big, std::string(5000, 'x') + "102");
  EXPECT_EQ(SQLSetPos(stmt_, 21, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY107");

  // Closing the cursor closes its files; so does freeing the statement.
  KX_STMT_OK(SQLCloseCursor(stmt_));
  EXPECT_EQ(OpenFilesIn(tmp.path), 0);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, name, note, big FROM " + table + " ORDER BY id"));
  EXPECT_EQ(OpenFilesIn(tmp.path), 2);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
  EXPECT_EQ(OpenFilesIn(tmp.path), 0);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
}

TEST_P(Rowsets, PositioningIsRefusedOnAForwardOnlyCursor) {
  const std::string table = Rows(30);
  Attr(SQL_ATTR_ROW_ARRAY_SIZE, 10);
  SQLULEN fetched = 0;
  Ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
  KX_STMT_OK(ExecDirect(stmt_, "SELECT id, big FROM " + table + " ORDER BY id"));
  KX_STMT_OK(SQLFetch(stmt_));
  // Rows with long values come from the database a few at a time; the
  // rowset is full all the same.
  EXPECT_EQ(fetched, 10u);
  EXPECT_EQ(SQLSetPos(stmt_, 2, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "HY109");
  // SQLGetData reads the rowset's first row.
  SQLINTEGER id = -1;
  KX_STMT_OK(SQLGetData(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr));
  EXPECT_EQ(id, 0);
}

TEST_P(Rowsets, KeysetAndDynamicRequestsWithoutKeysSettleOnStaticReadOnly) {
  const std::string table = Rows(50);  // a table without any key
  for (SQLULEN asked : {SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_DYNAMIC}) {
    SCOPED_TRACE(asked);
    ResetStmt();
    EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(asked), 0), SQL_SUCCESS);
    SQLULEN type = 0;
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    EXPECT_EQ(type, asked);
    // A catalog function has no keys: it scrolls as a static cursor, and says so.
    EXPECT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S02");
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    EXPECT_EQ(type, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_FIRST, 0));
    KX_STMT_OK(SQLCloseCursor(stmt_));
    // The next statement asks for the keyset again; a table without a key
    // cannot give one.
    EXPECT_EQ(ExecDirect(stmt_, "SELECT id FROM " + table + " ORDER BY id"), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S02");
    KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr));
    EXPECT_EQ(type, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    SQLINTEGER id = -1;
    KX_STMT_OK(SQLBindCol(stmt_, 1, SQL_C_SLONG, &id, 0, nullptr));
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_LAST, 0));
    EXPECT_EQ(id, 49);
    KX_STMT_OK(SQLFetchScroll(stmt_, SQL_FETCH_ABSOLUTE, 10));
    EXPECT_EQ(id, 9);
  }
  // Without a key no row can be found again: a request for row versions
  // settles on a static read-only cursor as well.
  ResetStmt();
  EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_ROWVER), 0),
            SQL_SUCCESS);
  Attr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
  EXPECT_EQ(ExecDirect(stmt_, "SELECT id FROM " + table + " ORDER BY id"), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(State(SQL_HANDLE_STMT, stmt_), "01S02");
  SQLULEN concurrency = 0;
  KX_STMT_OK(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr));
  EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
}

TEST_P(Rowsets, InformationMatchesWhatTheCursorsDo) {
  EXPECT_EQ(InfoU32(SQL_SCROLL_OPTIONS),
            static_cast<SQLUINTEGER>(SQL_SO_FORWARD_ONLY | SQL_SO_STATIC | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED |
                                     SQL_SO_DYNAMIC));
  EXPECT_EQ(InfoU32(SQL_SCROLL_CONCURRENCY), static_cast<SQLUINTEGER>(SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK |
                                                                   SQL_SCCO_OPT_ROWVER | SQL_SCCO_OPT_VALUES));
  EXPECT_EQ(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1) & (SQL_CA1_NEXT | SQL_CA1_RELATIVE | SQL_CA1_ABSOLUTE),
            static_cast<SQLUINTEGER>(SQL_CA1_NEXT | SQL_CA1_RELATIVE));
  // Static and keyset-driven cursors scroll, keep bookmarks and change their
  // rows.
  const SQLUINTEGER scroll = SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE | SQL_CA1_BOOKMARK | SQL_CA1_POS_POSITION |
                             SQL_CA1_POS_REFRESH;
  const SQLUINTEGER changes = SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE | SQL_CA1_BULK_ADD |
                              SQL_CA1_BULK_UPDATE_BY_BOOKMARK | SQL_CA1_BULK_DELETE_BY_BOOKMARK |
                              SQL_CA1_BULK_FETCH_BY_BOOKMARK;
  EXPECT_EQ(InfoU32(SQL_KEYSET_CURSOR_ATTRIBUTES1) & (scroll | changes), scroll | changes);
  EXPECT_EQ(InfoU32(SQL_STATIC_CURSOR_ATTRIBUTES1) & (scroll | changes), scroll | changes);
  // All three change their rows under every concurrency.
  const SQLUINTEGER concurrencies = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY |
                                    SQL_CA2_OPT_ROWVER_CONCURRENCY | SQL_CA2_OPT_VALUES_CONCURRENCY;
  EXPECT_EQ(InfoU32(SQL_STATIC_CURSOR_ATTRIBUTES2) & concurrencies, concurrencies);
  EXPECT_EQ(InfoU32(SQL_KEYSET_CURSOR_ATTRIBUTES2) & concurrencies, concurrencies);
  EXPECT_EQ(InfoU32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2) & concurrencies, concurrencies);
  EXPECT_EQ(InfoU32(SQL_POS_OPERATIONS), static_cast<SQLUINTEGER>(SQL_POS_POSITION | SQL_POS_REFRESH | SQL_POS_UPDATE |
                                                               SQL_POS_DELETE | SQL_POS_ADD));
  EXPECT_NE(InfoU32(SQL_GETDATA_EXTENSIONS) & SQL_GD_BLOCK, 0u);
  EXPECT_NE(InfoU32(SQL_FETCH_DIRECTION) & SQL_FD_FETCH_BOOKMARK, 0u);
  EXPECT_EQ(InfoU32(SQL_BOOKMARK_PERSISTENCE), static_cast<SQLUINTEGER>(SQL_BP_SCROLL | SQL_BP_UPDATE | SQL_BP_DELETE));
  EXPECT_EQ(InfoU32(SQL_LOCK_TYPES), static_cast<SQLUINTEGER>(SQL_LCK_NO_CHANGE));
  SQLUSMALLINT exists = 0;
  for (SQLUSMALLINT fn :
       {SQL_API_SQLEXTENDEDFETCH, SQL_API_SQLFETCHSCROLL, SQL_API_SQLSETPOS, SQL_API_SQLBULKOPERATIONS}) {
    KX_OK(SQLGetFunctions(dbc_, fn, &exists), SQL_HANDLE_DBC, dbc_);
    EXPECT_EQ(exists, SQL_TRUE) << fn;
  }
}

// A full disk under the cache: a tiny file system as the temporary directory.
TEST_P(Rowsets, FullDiskDuringTheSpillFailsTheExecution) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root; the unit tests inject the failure";
  const std::string table = Rows(12000);
  PrivateTmp tmp;
  ASSERT_EQ(mount("tmpfs", tmp.path.c_str(), "tmpfs", 0, "size=512k"), 0) << std::strerror(errno);
  Attr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
  const SQLRETURN rc = ExecDirect(stmt_, "SELECT id, name, big FROM " + table + " ORDER BY id");
  const std::string diag = Diag(SQL_HANDLE_STMT, stmt_);
  ResetStmt();
  umount(tmp.path.c_str());
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_EQ(diag.substr(0, 5), "HY000") << diag;
  EXPECT_NE(diag.find("No space left on device"), std::string::npos) << diag;
}

INSTANTIATE_TEST_SUITE_P(Road, Rowsets, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::e2e
