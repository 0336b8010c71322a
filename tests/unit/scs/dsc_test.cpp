// The dataset cache against a fake block source: every storage type survives
// a spill and reload exactly, windows land where they are asked for, the
// files are private and nameless, and a full disk ends the fill with an
// error instead of a short result.
#include "scs/scs_dsc.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/errcodes.h"

namespace kx {
namespace {

// ---- a fake agent statement that yields `rows` rows of every storage type ----

struct Source {
  int32_t rows = 0;
  int32_t next = 0;
  int32_t longRowEvery = 0;  // every n-th row carries 100 KB values (0 none)
  int calls = 0;
};
Source g_source;

struct Col {
  uint32_t type;
  uint32_t size;  // declared size
};
const Col kCols[] = {
    {RBT_SLONG, 4},        {RBT_CHAR, 3},       {RBT_BIT, 1},         {RBT_STINYINT, 1},
    {RBT_SSHORT, 2},       {RBT_UTINYINT, 1},   {RBT_USHORT, 2},      {RBT_ULONG, 4},
    {RBT_FLOAT, 4},        {RBT_DOUBLE, 8},     {RBT_DATE, 6},        {RBT_TIME, 6},
    {RBT_TIMESTAMP, 16},   {RBT_BINARY, 4},     {RBT_CHAR_PTR, 0},    {RBT_BINARY_PTR, 0},
    {RBT_CHAR_NTS, 12},    {RBT_CHAR_LEN1, 20}, {RBT_CHAR_LEN2, 300}, {RBT_CHAR_LEN4, 40},
    {RBT_BINARY_LEN1, 9},  {RBT_BINARY_LEN2, 9}, {RBT_BINARY_LEN4, 9}, {RBT_WCHAR, 3},
    {RBT_WCHAR_NTS, 6},    {RBT_WCHAR_PTR, 0},  {RBT_WCHAR_LEN4, 7},  {RBT_NONE, 1},
};
constexpr uint16_t kColCount = sizeof kCols / sizeof kCols[0];

// The text of row r, column k: its length varies with the row, and is 0 for
// some rows (empty, not NULL).
std::string TextOf(int32_t r, uint16_t k, size_t max) {
  std::string s = std::to_string(r * 31 + k);
  size_t len = static_cast<size_t>((r + k) % 7);
  while (s.size() < len) s += static_cast<char>('a' + (r + s.size()) % 26);
  s.resize(std::min(len, max));
  return s;
}

bool IsNull(int32_t r, uint16_t k) { return (r + k) % 11 == 0; }

bool IsLong(int32_t r) { return g_source.longRowEvery > 0 && r % g_source.longRowEvery == 3; }

void FillValue(RowBuffer* rb, uint16_t k, int32_t row, int32_t r) {
  RowBufferColumn& col = rb->columns[k];
  unsigned char* e = RB_Element(&col, static_cast<size_t>(row));
  if (IsNull(r, k)) {
    col.indicators[row] = RB_IND_NULL;
    return;
  }
  col.indicators[row] = RB_IND_DATA;
  const uint32_t type = col.type;
  if (RB_IsPtrType(type)) {
    const size_t n = IsLong(r) ? 100000 + static_cast<size_t>(k) : TextOf(r, k, 50).size();
    const size_t unit = type == RBT_WCHAR_PTR ? 2 : 1;
    auto* block = static_cast<unsigned char*>(std::calloc(1, n * unit + 2));
    for (size_t i = 0; i < n * unit; ++i) block[i] = static_cast<unsigned char>('A' + (r + i) % 26);
    RB_SetPtrValue(e, RBPtrValue{static_cast<uint32_t>(n), n > 0 ? block : nullptr});
    if (n == 0) std::free(block);
    return;
  }
  uint32_t prefix = 0, unit = 1;
  switch (type) {
    case RBT_CHAR_LEN1: case RBT_BINARY_LEN1: prefix = 1; break;
    case RBT_CHAR_LEN2: case RBT_BINARY_LEN2: prefix = 2; break;
    case RBT_CHAR_LEN4: case RBT_BINARY_LEN4: prefix = 4; break;
    case RBT_WCHAR_LEN4: prefix = 4; unit = 2; break;
    default: break;
  }
  if (prefix > 0) {
    const std::string t = TextOf(r, k, (col.width - prefix) / unit);
    const uint32_t n = static_cast<uint32_t>(t.size());
    if (prefix == 1) e[0] = static_cast<unsigned char>(n);
    if (prefix == 2) { const uint16_t v = static_cast<uint16_t>(n); std::memcpy(e, &v, 2); }
    if (prefix == 4) std::memcpy(e, &n, 4);
    for (uint32_t i = 0; i < n * unit; ++i) e[prefix + i] = static_cast<unsigned char>(t[i / unit]);
    return;
  }
  // Fixed-width and terminated types: bytes made from the row.
  for (uint32_t i = 0; i < col.width; ++i) e[i] = static_cast<unsigned char>((r * 7 + k * 13 + i) & 0xFF);
}

int32_t FakeFetchBlock(AgentHandle, uint16_t want, RowBuffer* out) {
  ++g_source.calls;
  RB_Free(out);
  const int32_t n = std::min<int32_t>(want, g_source.rows - g_source.next);
  EXPECT_EQ(RB_InitColumns(out, kColCount), 0);
  for (uint16_t k = 0; k < kColCount; ++k) {
    out->columns[k].type = kCols[k].type;
    out->columns[k].width = RB_ElementSize(kCols[k].type, kCols[k].size);
  }
  out->colCount = kColCount;
  EXPECT_EQ(RB_AllocRows(out, std::max(n, 0)), 0);
  for (int32_t i = 0; i < n; ++i) {
    for (uint16_t k = 0; k < kColCount; ++k) FillValue(out, k, i, g_source.next + i);
  }
  out->rowCount = std::max(n, 0);
  g_source.next += std::max(n, 0);
  return 0;
}

AgentOps g_ops{};
AgentBinding g_binding{0, &g_ops};

// Row i of a buffer holds the values of result row r, element by element.
void ExpectRow(RowBuffer* rb, int32_t i, int32_t r) {
  RowBuffer* one = nullptr;
  ASSERT_EQ(RB_CloneEmpty(&one, rb, 1), 0);
  for (uint16_t k = 0; k < kColCount; ++k) FillValue(one, k, 0, r);
  one->rowCount = 1;
  for (uint16_t k = 0; k < kColCount; ++k) {
    const RowBufferColumn& got = rb->columns[k];
    const RowBufferColumn& want = one->columns[k];
    ASSERT_EQ(got.indicators[i], want.indicators[0]) << "row " << r << " column " << k;
    if (want.indicators[0] != RB_IND_DATA) continue;
    const unsigned char* g = RB_Element(&got, static_cast<size_t>(i));
    const unsigned char* w = RB_Element(&want, 0);
    if (RB_IsPtrType(got.type)) {
      const RBPtrValue gv = RB_GetPtrValue(g), wv = RB_GetPtrValue(w);
      ASSERT_EQ(gv.length, wv.length) << "row " << r << " column " << k;
      const size_t bytes = RB_PtrBytes(got.type, gv.length);
      if (bytes > 0) {
        ASSERT_EQ(std::memcmp(gv.block, wv.block, bytes), 0) << "row " << r << " column " << k;
      }
    } else if (got.type != RBT_NONE) {
      // Whole elements: the bytes after a length-prefixed value are zero on
      // both sides.
      ASSERT_EQ(std::memcmp(g, w, got.width), 0) << "row " << r << " column " << k;
    }
  }
  RB_Free(one);
  std::free(one);
}

class DatasetCache : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ops.DRV_FetchBlock = FakeFetchBlock;
    g_source = Source{};
    DSC_Init(&cache_);
  }
  void TearDown() override {
    DSC_Close(&cache_);
    RB_Free(&rows_);
  }
  int Fill(int32_t rows, int32_t* total) {
    g_source.rows = rows;
    return DSC_Fill(&cache_, &g_binding, 7, &rows_, total);
  }
  DSC cache_{};
  RowBuffer rows_{};
};

TEST_F(DatasetCache, ResultsUpToTheLimitStayInMemoryAndLargerOnesSpill) {
  struct Case {
    int32_t rows;
    int32_t state;
    int32_t resident;
  };
  const Case cases[] = {
      {0, DSC_MEMORY, 0},
      {1, DSC_MEMORY, 1},
      {DSC_FILL_BLOCK, DSC_MEMORY, DSC_FILL_BLOCK},
      {DSC_FILL_BLOCK + 1, DSC_MEMORY, DSC_FILL_BLOCK + 1},
      {DSC_RESIDENT_ROWS, DSC_MEMORY, DSC_RESIDENT_ROWS},
      {DSC_RESIDENT_ROWS + 1, DSC_SPILLED, 0},
      {12000, DSC_SPILLED, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    SetUp();
    int32_t total = -5;
    ASSERT_EQ(Fill(c.rows, &total), 0) << DSC_LastError(&cache_);
    EXPECT_EQ(total, c.rows);
    EXPECT_EQ(cache_.state, c.state);
    EXPECT_EQ(rows_.rowCount, c.resident);
    for (int32_t r = 0; r < rows_.rowCount; ++r) ExpectRow(&rows_, r, r);
    TearDown();
  }
}

TEST_F(DatasetCache, SpilledRowsOfEveryStorageTypeReadBackExactlyInAnyWindow) {
  g_source.longRowEvery = 997;
  int32_t total = 0;
  ASSERT_EQ(Fill(12000, &total), 0) << DSC_LastError(&cache_);
  ASSERT_EQ(cache_.state, DSC_SPILLED);
  RowBuffer resident{};
  int32_t start = -1;
  // Forwards, backwards, the ends, and a request larger than half the window.
  const std::pair<int32_t, int32_t> reads[] = {{0, 20},    {20, 20},   {11980, 20}, {11999, 1},
                                               {5000, 20}, {4990, 20}, {0, 4000},   {7000, 4000},
                                               {11500, 600}};
  for (auto [first, count] : reads) {
    SCOPED_TRACE(first);
    ASSERT_EQ(DSC_LoadWindow(&cache_, first, count, &start, &resident), 0) << DSC_LastError(&cache_);
    ASSERT_LE(start, first);
    ASSERT_GE(start + resident.rowCount, std::min(first + count, 12000));
    for (int32_t r = first; r < std::min(first + count, 12000); ++r) ExpectRow(&resident, r - start, r);
  }
  EXPECT_GE(cache_.window, 8000u);  // grew to twice the largest request
  // A walk forwards through every row, as a cursor read to its end makes it.
  for (int32_t first = 0; first < 12000; first += 700) {
    SCOPED_TRACE(first);
    const int32_t count = std::min(700, 12000 - first);
    ASSERT_EQ(DSC_LoadWindow(&cache_, first, count, &start, &resident), 0) << DSC_LastError(&cache_);
    ASSERT_LE(start, first);
    ASSERT_GE(start + resident.rowCount, first + count);
    for (int32_t r = first; r < first + count; ++r) ExpectRow(&resident, r - start, r);
  }
  RB_Free(&resident);
}

TEST_F(DatasetCache, ReadingFromBeyondTheLastRowFails) {
  ASSERT_EQ(Fill(DSC_RESIDENT_ROWS + 10, nullptr), 0);
  RowBuffer resident{};
  int32_t start = -1;
  ASSERT_EQ(DSC_LoadWindow(&cache_, DSC_RESIDENT_ROWS + 9, 1, &start, &resident), 0);
  ExpectRow(&resident, DSC_RESIDENT_ROWS + 9 - start, DSC_RESIDENT_ROWS + 9);
  start = -1;
  cache_.window = 10;
  EXPECT_EQ(DSC_LoadWindow(&cache_, DSC_RESIDENT_ROWS + 20, 1, &start, &resident), KX_ERR_GENERAL);
  RB_Free(&resident);
}

// Open descriptors of this process that name the directory (or are files
// without a name, as O_TMPFILE makes them).
std::vector<std::string> OpenFilesIn(const std::string& dir) {
  std::vector<std::string> found;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
    char target[512] = {};
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target).rfind(dir + "/", 0) == 0) found.emplace_back(target);
  }
  if (d != nullptr) closedir(d);
  return found;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  if (d != nullptr) closedir(d);
  return names;
}

struct TempDir {
  std::string path;
  std::string saved;
  bool had = false;
  TempDir() {
    char tpl[] = "/tmp/kx_dsc_XXXXXX";
    path = mkdtemp(tpl);
    if (const char* t = std::getenv("TMPDIR")) {
      had = true;
      saved = t;
    }
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~TempDir() {
    if (had) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
    rmdir(path.c_str());
  }
};

TEST_F(DatasetCache, FilesAreNamelessPrivateAndGoneAfterClose) {
  TempDir dir;
  DSC second;
  DSC_Init(&second);
  RowBuffer other{};
  ASSERT_EQ(Fill(DSC_RESIDENT_ROWS + 1, nullptr), 0) << DSC_LastError(&cache_);
  g_source.next = 0;
  ASSERT_EQ(DSC_Fill(&second, &g_binding, 8, &other, nullptr), 0);
  EXPECT_TRUE(Names(dir.path).empty()) << "a cache file has a name";
  const std::vector<std::string> open = OpenFilesIn(dir.path);
  EXPECT_EQ(open.size(), 4u);  // two caches, two files each, none shared
  for (const std::string& f : open) EXPECT_NE(f.find("(deleted)"), std::string::npos) << f;
  struct stat st {};
  ASSERT_EQ(fstat(fileno(cache_.data), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(fcntl(fileno(cache_.data), F_GETFD) & FD_CLOEXEC, 0);
  DSC_Close(&cache_);
  DSC_Close(&second);
  EXPECT_TRUE(OpenFilesIn(dir.path).empty());
  EXPECT_EQ(cache_.state, DSC_MEMORY);
  RB_Free(&other);
}

TEST_F(DatasetCache, TemporaryDirectoryThatCannotBeUsedFailsTheFill) {
  const std::string saved = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", "/nonexistent/kx", 1);
  int32_t total = -1;
  EXPECT_EQ(Fill(DSC_RESIDENT_ROWS + 1, &total), KX_ERR_GENERAL);
  EXPECT_NE(std::string(DSC_LastError(&cache_)).find("/nonexistent/kx"), std::string::npos);
  EXPECT_EQ(rows_.rowCount, 0);
  if (saved.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", saved.c_str(), 1);
}

// A full disk: a tiny tmpfs as the temporary directory when the test may
// mount one, else a file-size limit that makes the writes fail the same way.
TEST_F(DatasetCache, FullDiskDuringTheSpillIsAnErrorNeverAShortResult) {
  TempDir dir;
  const bool mounted = geteuid() == 0 && mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=256k") == 0;
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  sighandler_t previous = SIG_DFL;
  if (!mounted) {
    previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  }
  int32_t total = 0;
  const int rc = Fill(40000, &total);
  if (mounted) {
    DSC_Close(&cache_);
    umount(dir.path.c_str());
  } else {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
  }
  EXPECT_EQ(rc, KX_ERR_GENERAL);
  EXPECT_NE(cache_.lastErrno, 0);
  EXPECT_NE(std::string(DSC_LastError(&cache_)).find(mounted ? "No space left" : "too large"),
            std::string::npos)
      << DSC_LastError(&cache_);
  EXPECT_LT(g_source.next, 40000) << "the fill went on reading after the failure";
}

// ---- the static snapshot --------------------------------------------------------------

class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ops.DRV_FetchBlock = FakeFetchBlock;
    g_source = Source{};
    ASSERT_EQ(SS_New(&ss_), 0);
  }
  void TearDown() override {
    if (out_ != nullptr) {
      RB_Free(out_);
      std::free(out_);
    }
    SS_Free(&ss_);
    EXPECT_EQ(ss_, nullptr);
  }
  SS_REC* ss_ = nullptr;
  RowBuffer* out_ = nullptr;
};

TEST_F(Snapshot, SequentialReadsEndWithAShortBufferThenAnEmptyOne) {
  g_source.rows = 45;
  int32_t total = 0;
  ASSERT_EQ(SS_GetRsltSet(ss_, &g_binding, 1, &total), 0);
  EXPECT_EQ(total, 45);
  for (int32_t expect : {20, 20, 5, 0, 0}) {
    ASSERT_EQ(SS_GetRows(ss_, SS_SEQUENTIAL, 20, &out_), 0);
    ASSERT_EQ(out_->rowCount, expect);
  }
}

TEST_F(Snapshot, ReadsAtAnExplicitRowInMemoryAndSpilled) {
  for (int32_t rows : {4990, 12000}) {
    SCOPED_TRACE(rows);
    g_source = Source{};
    g_source.rows = rows;
    int32_t total = 0;
    ASSERT_EQ(SS_GetRsltSet(ss_, &g_binding, 1, &total), 0);
    EXPECT_EQ(ss_->cache.state, rows > DSC_RESIDENT_ROWS ? DSC_SPILLED : DSC_MEMORY);
    for (int32_t first : {4985, 0, rows - 20, rows - 3, 7000 % rows}) {
      ASSERT_EQ(SS_GetRows(ss_, first, 20, &out_), 0);
      ASSERT_EQ(out_->rowCount, std::min(20, rows - first));
      for (int32_t i = 0; i < out_->rowCount; ++i) ExpectRow(out_, i, first + i);
    }
  }
}

}  // namespace
}  // namespace kx
