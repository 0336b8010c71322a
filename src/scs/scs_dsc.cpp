// The dataset cache and the static snapshot.
//
// File format (private to the process; nothing else ever reads it):
//   data file:  u32 column count, u32 0, i64 total rows, then per column
//               u32 storage type and u32 element width, then the row records;
//   row record: per column an i32 indicator, then only for indicator 0 the
//               value: the element's bytes for fixed-width types, a u32
//               length and that many bytes (16-bit units for wide text) for
//               the length-prefixed and pointer types, nothing for RBT_NONE;
//   index file: one i64 offset into the data file per row, in row order.
#include "scs/scs_dsc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/errcodes.h"
#include "util/log.h"

namespace kx {

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;
constexpr long kHeaderBytes = 16;

const char* TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

void NoteFailure(DSC* c, const char* what, int err) {
  c->lastErrno = err;
  std::snprintf(c->lastError, sizeof c->lastError, "%.160s: %.80s", what, std::strerror(err));
}

// One private, nameless file in the temporary directory, its stream
// buffered in *buffer (kStreamBuffer bytes, the caller's to free after the
// stream closes: the C library sizes a buffer it allocates itself by the
// file system's block, whatever size is asked for).
FILE* OpenTempFile(DSC* c, char** buffer) {
  const char* dir = TempDir();
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without O_TMPFILE: a unique name, unlinked at once.
    std::string path = std::string(dir) + "/kxcacheXXXXXX";
    fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0 && unlink(path.c_str()) != 0) {
      const int err = errno;
      close(fd);
      errno = err;
      fd = -1;
    }
  }
  if (fd < 0) {
    char what[160];
    std::snprintf(what, sizeof what, "could not create a temporary file in %.100s", dir);
    NoteFailure(c, what, errno);
    return nullptr;
  }
  FILE* f = fdopen(fd, "w+b");
  if (f == nullptr) {
    NoteFailure(c, "could not open a temporary file", errno);
    close(fd);
    return nullptr;
  }
  *buffer = static_cast<char*>(std::malloc(kStreamBuffer));
  if (*buffer != nullptr) setvbuf(f, *buffer, _IOFBF, kStreamBuffer);
  return f;
}

void CloseFile(FILE** f, char** buffer) {
  if (*f != nullptr) std::fclose(*f);
  std::free(*buffer);
  *f = nullptr;
  *buffer = nullptr;
}

int OpenFiles(DSC* c) {
  c->data = OpenTempFile(c, &c->dataBuffer);
  if (c->data == nullptr) return KX_ERR_GENERAL;
  c->index = OpenTempFile(c, &c->indexBuffer);
  if (c->index == nullptr) {
    CloseFile(&c->data, &c->dataBuffer);
    return KX_ERR_GENERAL;
  }
  LogDebug("dsc_Open: Opened temporary files for pDSC=%p", static_cast<void*>(c));
  c->state = DSC_OPEN;
  c->total = 0;
  return 0;
}

// Checked stream operations: the first failure is noted and every later
// call does nothing, so a transfer reads straight and checks once.
class Stream {
 public:
  Stream(DSC* cache, FILE* f, const char* name) : c_(cache), f_(f), name_(name) {}
  bool ok() const { return ok_; }
  void Put(const void* p, size_t n) {
    if (!ok_ || n == 0) return;
    if (std::fwrite(p, 1, n, f_) != n) Fail("could not write");
    put_ += n;
  }
  // Bytes put since the stream was made.
  int64_t put() const { return put_; }
  void PutU32(uint32_t v) { Put(&v, 4); }
  void PutI64(int64_t v) { Put(&v, 8); }
  void Get(void* p, size_t n) {
    if (!ok_ || n == 0) return;
    if (std::fread(p, 1, n, f_) != n) Fail(std::feof(f_) ? "came to an early end of" : "could not read");
  }
  uint32_t GetU32() {
    uint32_t v = 0;
    Get(&v, 4);
    return v;
  }
  int64_t GetI64() {
    int64_t v = 0;
    Get(&v, 8);
    return v;
  }
  void Seek(int64_t at, int whence) {
    if (ok_ && fseeko(f_, static_cast<off_t>(at), whence) != 0) Fail("could not seek in");
  }
  int64_t Tell() {
    if (!ok_) return -1;
    const off_t at = ftello(f_);
    if (at < 0) Fail("could not find the position in");
    return at;
  }
  // Writes in place without moving the stream (after a Flush, so that
  // nothing buffered lands over it later).
  void PutAt(int64_t at, const void* p, size_t n) {
    if (!ok_) return;
    const auto* bytes = static_cast<const unsigned char*>(p);
    while (n > 0) {
      errno = 0;
      const ssize_t done = pwrite(fileno(f_), bytes, n, static_cast<off_t>(at));
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return Fail("could not write");
      bytes += done;
      n -= static_cast<size_t>(done);
      at += done;
    }
  }
  void Flush() {
    if (ok_ && std::fflush(f_) != 0) Fail("could not write");
  }
  // A value that does not fit its column: the file is not what was written.
  void Corrupt() { Fail("found a damaged record in"); }

 private:
  void Fail(const char* verb) {
    const int err = errno != 0 ? errno : EIO;
    char what[160];
    std::snprintf(what, sizeof what, "%s the cursor's temporary %s file", verb, name_);
    NoteFailure(c_, what, err);
    ok_ = false;
  }
  DSC* c_;
  FILE* f_;
  const char* name_;
  bool ok_ = true;
  int64_t put_ = 0;
};

uint16_t Load16(const unsigned char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Where a length-prefixed element keeps its length, and how wide one unit of
// its value is; prefix 0 for the types that are not length-prefixed.
struct Prefixed {
  uint32_t prefix;
  uint32_t unit;
};
Prefixed PrefixOf(uint32_t type) {
  switch (type) {
    case RBT_CHAR_LEN1: case RBT_BINARY_LEN1: return {1, 1};
    case RBT_CHAR_LEN2: case RBT_BINARY_LEN2: return {2, 1};
    case RBT_CHAR_LEN4: case RBT_BINARY_LEN4: return {4, 1};
    case RBT_WCHAR_LEN4: return {4, 2};
    default: return {0, 0};
  }
}

// A block of records made in memory, so the file gets one write a block
// rather than one per value. An allocation that fails is remembered and the
// block is then worth nothing.
class Bytes {
 public:
  Bytes() = default;
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() { std::free(p_); }
  bool nomem() const { return nomem_; }
  bool corrupt() const { return corrupt_; }
  bool ok() const { return !nomem_ && !corrupt_; }
  const unsigned char* data() const { return p_; }
  size_t size() const { return n_; }
  void Put(const void* p, size_t n) {
    if (!ok() || n == 0) return;
    if (n > cap_ - n_ && !Grow(n)) return;
    std::memcpy(p_ + n_, p, n);
    n_ += n;
  }
  void PutU32(uint32_t v) { Put(&v, 4); }
  void Corrupt() { corrupt_ = true; }

 private:
  bool Grow(size_t more) {
    if (more > SIZE_MAX / 2 - n_) {
      nomem_ = true;
      return false;
    }
    size_t cap = cap_ == 0 ? 64 * 1024 : cap_;
    while (cap - n_ < more) cap *= 2;
    auto* p = static_cast<unsigned char*>(std::realloc(p_, cap));
    if (p == nullptr) {
      nomem_ = true;
      return false;
    }
    p_ = p;
    cap_ = cap;
    return true;
  }
  unsigned char* p_ = nullptr;
  size_t n_ = 0;
  size_t cap_ = 0;
  bool nomem_ = false;
  bool corrupt_ = false;
};

// Records read back in one piece, taken apart in memory; running past the
// end of the piece means the file is not what was written.
class Reader {
 public:
  Reader(const unsigned char* p, size_t n) : p_(p), end_(p + n) {}
  bool ok() const { return ok_; }
  void Get(void* out, size_t n) {
    if (!ok_ || n == 0) return;
    if (n > static_cast<size_t>(end_ - p_)) {
      ok_ = false;
      return;
    }
    std::memcpy(out, p_, n);
    p_ += n;
  }
  uint32_t GetU32() {
    uint32_t v = 0;
    Get(&v, 4);
    return v;
  }
  void Corrupt() { ok_ = false; }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
  bool ok_ = true;
};

void PutValue(Bytes& s, const RowBufferColumn& col, int32_t row) {
  const unsigned char* e = RB_Element(&col, static_cast<size_t>(row));
  const int16_t ind = col.indicators[row];
  s.PutU32(static_cast<uint32_t>(static_cast<int32_t>(ind)));
  if (ind != RB_IND_DATA || col.type == RBT_NONE) return;
  if (RB_IsPtrType(col.type)) {
    const RBPtrValue v = RB_GetPtrValue(e);
    const size_t bytes = RB_PtrBytes(col.type, v.length);
    if (bytes > 0 && v.block == nullptr) return s.Corrupt();
    s.PutU32(v.length);
    s.Put(v.block, bytes);
    return;
  }
  const Prefixed p = PrefixOf(col.type);
  if (p.prefix == 0) return s.Put(e, col.width);
  const uint32_t n = p.prefix == 1 ? e[0] : p.prefix == 2 ? Load16(e) : Load32(e);
  if (uint64_t{n} * p.unit > col.width - p.prefix) return s.Corrupt();
  s.PutU32(n);
  s.Put(e + p.prefix, size_t{n} * p.unit);
}

// Reads one indicator and value into row `row` of a freshly allocated column.
// *nomem is set when a value's block cannot be had.
void GetValue(Reader& s, RowBufferColumn& col, int32_t row, bool* nomem) {
  unsigned char* e = RB_Element(&col, static_cast<size_t>(row));
  const int32_t ind = static_cast<int32_t>(s.GetU32());
  if (!s.ok()) return;
  col.indicators[row] = static_cast<int16_t>(ind);
  if (ind != RB_IND_DATA || col.type == RBT_NONE) return;
  if (RB_IsPtrType(col.type)) {
    const uint32_t n = s.GetU32();
    if (!s.ok()) return;
    const size_t bytes = RB_PtrBytes(col.type, n);
    // Text gets a terminator after it, as the agent's own blocks have.
    const size_t room = col.type == RBT_BINARY_PTR ? bytes : bytes + (col.type == RBT_WCHAR_PTR ? 2 : 1);
    void* block = nullptr;
    if (room > 0) {
      block = std::calloc(1, room);
      if (block == nullptr) {
        *nomem = true;
        return s.Corrupt();
      }
      s.Get(block, bytes);
    }
    RB_SetPtrValue(e, RBPtrValue{n, block});  // owned by the column from here on
    return;
  }
  const Prefixed p = PrefixOf(col.type);
  if (p.prefix == 0) return s.Get(e, col.width);
  const uint32_t n = s.GetU32();
  if (!s.ok()) return;
  if (uint64_t{n} * p.unit > col.width - p.prefix) return s.Corrupt();
  if (p.prefix == 1) {
    e[0] = static_cast<unsigned char>(n);
  } else if (p.prefix == 2) {
    const uint16_t v = static_cast<uint16_t>(n);
    std::memcpy(e, &v, 2);
  } else {
    std::memcpy(e, &n, 4);
  }
  s.Get(e + p.prefix, size_t{n} * p.unit);
}

bool Writable(const RowBuffer* rows) {
  if (rows->colCount == 0 || rows->columns == nullptr) return false;
  for (uint16_t c = 0; c < rows->colCount; ++c) {
    if (rows->columns[c].type > RBT_MAX) return false;
  }
  return true;
}

// Appends every row of the buffer to the files; the first file writes also
// put the header and column table. The rows reach the files through the
// streams' buffers; FinishRows writes the header's total and flushes them.
int AppendRows(DSC* c, const RowBuffer* rows) {
  if (rows->rowCount <= 0) return 0;
  if (!Writable(rows) || (c->state == DSC_SPILLED && rows->colCount != c->columns)) {
    NoteFailure(c, "rows of another layout for the cursor's temporary file", EINVAL);
    return KX_ERR_GENERAL;
  }
  Stream data(c, c->data, "data");
  Stream index(c, c->index, "index");
  if (c->state != DSC_SPILLED) {
    data.Seek(0, SEEK_SET);
    data.PutU32(rows->colCount);
    data.PutU32(0);
    data.PutI64(0);
    for (uint16_t k = 0; k < rows->colCount; ++k) {
      data.PutU32(rows->columns[k].type);
      data.PutU32(rows->columns[k].width);
    }
    c->columns = rows->colCount;
    c->total = 0;
  }
  // Between blocks both files stay at their ends (the header's total is
  // written in place): a seek, which makes the stream read a block back
  // first, is needed only after a window was read from them.
  if (c->state != DSC_SPILLED || c->moved) {
    data.Seek(0, SEEK_END);
    index.Seek(0, SEEK_END);
  }
  // The block's records are made in memory and go to the file in one write;
  // their positions follow from the file's end and the bytes before them.
  const int64_t end = data.Tell();
  std::vector<int64_t> offsets;
  Bytes block;
  if (data.ok()) {
    offsets.resize(static_cast<size_t>(rows->rowCount));
    for (int32_t r = 0; r < rows->rowCount && block.ok(); ++r) {
      offsets[static_cast<size_t>(r)] = end + static_cast<int64_t>(block.size());
      for (uint16_t k = 0; k < rows->colCount; ++k) PutValue(block, rows->columns[k], r);
    }
    if (block.nomem()) return KX_ERR_NOMEM;
    if (block.corrupt()) data.Corrupt();
  }
  data.Put(block.data(), block.size());
  index.Put(offsets.data(), offsets.size() * sizeof(int64_t));
  if (!data.ok() || !index.ok()) return KX_ERR_GENERAL;
  c->moved = false;
  c->total += rows->rowCount;
  c->state = DSC_SPILLED;
  return 0;
}

// After the last append: the buffered rows go to the files and the header
// gets the total, so that windows can be read from them.
int FinishRows(DSC* c) {
  Stream data(c, c->data, "data");
  Stream index(c, c->index, "index");
  // A full disk shows here at the latest, when the streams' buffers go to
  // the files.
  data.Flush();
  data.PutAt(8, &c->total, sizeof c->total);
  index.Flush();
  return data.ok() && index.ok() ? 0 : KX_ERR_GENERAL;
}

// Replaces the buffer's rows by rows [first, first + count) of the files
// (all remaining rows when count <= 0).
int LoadRows(DSC* c, RowBuffer* rows, int32_t first, int32_t count) {
  if (c->state != DSC_SPILLED) return KX_ERR_GENERAL;
  c->moved = true;
  Stream data(c, c->data, "data");
  Stream index(c, c->index, "index");
  data.Seek(0, SEEK_SET);
  const uint32_t columns = data.GetU32();
  data.GetU32();
  const int64_t total = data.GetI64();
  if (!data.ok()) return KX_ERR_GENERAL;
  if (columns == 0 || columns > 0xFFFF || first < 0 || first > total - 1) return KX_ERR_GENERAL;
  int64_t n = total - first;
  if (count > 0 && n > count) n = count;
  RB_Free(rows);
  int rc = RB_InitColumns(rows, static_cast<uint16_t>(columns));
  if (rc != 0) return rc;
  rows->colCount = static_cast<uint16_t>(columns);
  for (uint32_t k = 0; k < columns; ++k) {
    RowBufferColumn& col = rows->columns[k];
    col.type = data.GetU32();
    col.width = data.GetU32();
    if (!data.ok()) break;
    if (col.type > RBT_MAX || col.width == 0) {
      data.Corrupt();
      break;
    }
    rc = RB_ColumnAlloc(&col, static_cast<int32_t>(n));
    if (rc != 0) break;
  }
  if (rc == 0 && data.ok()) {
    rows->rowCapacity = static_cast<int32_t>(n);
    // The window's records lie together in the file, from the first row's
    // offset to the next row's (or the file's end): one read brings them in.
    index.Seek(static_cast<int64_t>(first) * 8, SEEK_SET);
    const int64_t start = index.GetI64();
    int64_t stop = -1;
    if (first + n < total) {
      index.Seek((first + n) * 8, SEEK_SET);
      stop = index.GetI64();
    } else {
      data.Seek(0, SEEK_END);
      stop = data.Tell();
    }
    if (index.ok() && data.ok() && (start < kHeaderBytes || stop < start ||
                                    static_cast<uint64_t>(stop - start) > SIZE_MAX / 2)) {
      data.Corrupt();
    }
    unsigned char* bytes = nullptr;
    const size_t size = data.ok() && index.ok() ? static_cast<size_t>(stop - start) : 0;
    if (size > 0) {
      bytes = static_cast<unsigned char*>(std::malloc(size));
      if (bytes == nullptr) rc = KX_ERR_NOMEM;
    }
    if (rc == 0 && size > 0) {
      data.Seek(start, SEEK_SET);
      data.Get(bytes, size);
    }
    if (rc == 0 && data.ok() && index.ok()) {
      Reader in(bytes, size);
      bool nomem = false;
      for (int32_t r = 0; r < n && in.ok(); ++r) {
        for (uint32_t k = 0; k < columns && in.ok(); ++k) GetValue(in, rows->columns[k], r, &nomem);
        rows->rowCount = r + 1;
      }
      if (nomem) {
        rc = KX_ERR_NOMEM;
      } else if (!in.ok()) {
        data.Corrupt();
      }
    }
    std::free(bytes);
  }
  if (rc == 0 && (!data.ok() || !index.ok())) rc = KX_ERR_GENERAL;
  if (rc != 0) RB_Free(rows);
  return rc;
}

}  // namespace

void DSC_Init(DSC* cache) {
  *cache = DSC{};
  cache->state = DSC_MEMORY;
  cache->window = DSC_RESIDENT_ROWS;
}

const char* DSC_LastError(const DSC* cache) { return cache != nullptr ? cache->lastError : ""; }

void DSC_Close(DSC* cache) {
  if (cache == nullptr) return;
  if (cache->data != nullptr) {
    LogDebug("DSC_Close: Closed temporary files for pDSC=%p", static_cast<void*>(cache));
  }
  CloseFile(&cache->data, &cache->dataBuffer);
  CloseFile(&cache->index, &cache->indexBuffer);
  cache->state = DSC_MEMORY;
  cache->total = 0;
  cache->columns = 0;
  cache->moved = false;
}

int DSC_Fill(DSC* cache, const AgentBinding* binding, AgentHandle stmt, RowBuffer* rows, int32_t* total) {
  if (cache == nullptr || rows == nullptr || binding == nullptr) return KX_ERR_GENERAL;
  RB_Free(rows);
  cache->lastErrno = 0;
  cache->lastError[0] = '\0';
  int64_t count = 0;
  int result = 0;
  for (;;) {
    RowBuffer block{};
    result = AgentCall(*binding, &AgentOps::DRV_FetchBlock, stmt, DSC_FILL_BLOCK, &block);
    const int32_t got = result == 0 && block.rowCount > 0 ? block.rowCount : 0;
    if (got == 0) {
      RB_Free(&block);
      break;
    }
    if (cache->state == DSC_SPILLED) {
      result = AppendRows(cache, &block);
      RB_Free(&block);
    } else {
      if (rows->colCount == 0) {
        RB_Free(rows);
        *rows = block;  // the first block becomes the buffer
      } else {
        result = RB_Append(rows, &block);
        RB_Free(&block);
      }
      if (result == 0 && rows->rowCount > DSC_RESIDENT_ROWS) {
        if (cache->state == DSC_MEMORY) result = OpenFiles(cache);
        if (result == 0) result = AppendRows(cache, rows);
        RB_Free(rows);
      }
    }
    if (result != 0) break;  // a short result is never success
    count += got;
    if (count > INT32_MAX) {
      NoteFailure(cache, "a result of more rows than a cursor can number", EOVERFLOW);
      result = KX_ERR_GENERAL;
      break;
    }
  }
  if (result == 0 && cache->state == DSC_SPILLED) result = FinishRows(cache);
  if (total != nullptr) *total = static_cast<int32_t>(count);
  return result;
}

int DSC_LoadWindow(DSC* cache, int32_t first, int32_t count, int32_t* windowStart, RowBuffer* resident) {
  if (cache == nullptr || windowStart == nullptr || resident == nullptr || count <= 0 || first < 0) {
    return KX_ERR_GENERAL;
  }
  const int64_t window = cache->window;
  const int64_t start = *windowStart;
  if (start != -1 && first >= start && window >= 2 * int64_t{count} &&
      int64_t{first} + count <= start + window && int64_t{first} + count <= start + resident->rowCount) {
    return 0;
  }
  if (window < 2 * int64_t{count}) cache->window = static_cast<uint32_t>(2 * int64_t{count});
  int64_t fresh = int64_t{first} - (int64_t{cache->window} - count) / 2;
  // A request that runs over the window's end or follows right after it (a
  // cursor walked forwards): the new window starts at the request, so a walk
  // reads each row from the file once.
  const int64_t residentEnd = start + resident->rowCount;
  if (start != -1 && first >= start && first + int64_t{count} > residentEnd && first < residentEnd + count) {
    fresh = first;
  }
  if (fresh < 0) fresh = 0;
  const int rc = LoadRows(cache, resident, static_cast<int32_t>(fresh), static_cast<int32_t>(cache->window));
  if (rc != 0) {
    *windowStart = -1;
    return rc;
  }
  *windowStart = static_cast<int32_t>(fresh);
  return 0;
}

// ---- static snapshot ----------------------------------------------------------------

int SS_New(SS_REC** out) {
  if (out == nullptr) return KX_ERR_GENERAL;
  auto* ss = static_cast<SS_REC*>(std::calloc(1, sizeof(SS_REC)));
  auto* rows = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
  if (ss == nullptr || rows == nullptr) {
    std::free(ss);
    std::free(rows);
    return KX_ERR_NOMEM;
  }
  ss->rows = rows;
  DSC_Init(&ss->cache);
  *out = ss;
  return 0;
}

void SS_Close(SS_REC* ss) {
  if (ss == nullptr) return;
  RB_Free(ss->rows);
  DSC_Close(&ss->cache);
  ss->nextRow = 0;
  ss->windowStart = 0;
}

void SS_Free(SS_REC** ss) {
  if (ss == nullptr || *ss == nullptr) return;
  SS_Close(*ss);
  std::free((*ss)->rows);
  std::free(*ss);
  *ss = nullptr;
}

int SS_GetRsltSet(SS_REC* ss, const AgentBinding* binding, AgentHandle stmt, int32_t* total) {
  if (ss == nullptr) return KX_ERR_GENERAL;
  SS_Close(ss);
  const int rc = DSC_Fill(&ss->cache, binding, stmt, ss->rows, total);
  if (rc != 0) {
    LogError("SS_GetRsltSet: Could not fill dataset cache");
    return rc;
  }
  if (ss->cache.state == DSC_SPILLED) ss->windowStart = -1;
  return 0;
}

int SS_GetRows(SS_REC* ss, int32_t first, int32_t count, RowBuffer** out) {
  if (ss == nullptr || out == nullptr) return KX_ERR_GENERAL;
  const bool fresh = *out == nullptr;
  auto giveUp = [&](int rc) {
    if (*out != nullptr) {
      RB_Free(*out);
      if (fresh) {
        std::free(*out);
        *out = nullptr;
      }
    }
    return rc;
  };
  if (ss->nextRow == SS_AT_END || count <= 0) {
    if (fresh) {
      *out = static_cast<RowBuffer*>(std::calloc(1, sizeof(RowBuffer)));
      if (*out == nullptr) return KX_ERR_NOMEM;
    } else {
      RB_Free(*out);
    }
    return 0;
  }
  const int32_t c = first == SS_SEQUENTIAL ? ss->nextRow : first;
  if (c < 0) return KX_ERR_GENERAL;
  if (ss->cache.state == DSC_SPILLED) {
    const int64_t rest = ss->cache.total - c;
    const int32_t want = rest <= 0 ? 1 : static_cast<int32_t>(std::min<int64_t>(count, rest));
    if (rest > 0) {
      const int rc = DSC_LoadWindow(&ss->cache, c, want, &ss->windowStart, ss->rows);
      if (rc != 0) return rc;
    }
  }
  const int32_t resident = ss->rows->rowCount;
  const int64_t available = ss->windowStart < 0 ? 0 : int64_t{resident} + ss->windowStart - c;
  const int32_t k = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, available)));
  int rc = RB_CloneEmpty(out, ss->rows, k);
  if (rc != 0) return giveUp(rc);
  for (int32_t i = 0; i < k; ++i) {
    rc = RB_CopyRow(*out, ss->rows, i, c + i - ss->windowStart, false);
    if (rc != 0) return giveUp(rc);
  }
  if (first == SS_SEQUENTIAL) {
    ss->nextRow = k == count ? ss->nextRow + count : SS_AT_END;
  } else {
    ss->nextRow = first;
  }
  return 0;
}

}  // namespace kx
