// Any bytes through the scanner: it ends, and never reads outside the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "scrs/sql_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly size bytes, so a read past the end is caught.
  std::unique_ptr<char[]> text(new char[size ? size : 1]);
  if (size) memcpy(text.get(), data, size);
  kx::SqlParseCtx ctx{};
  kx::scsql_ParseStart(&ctx, text.get(), size);
  if (!kx::scsql_InternBegin(&ctx)) return 0;
  for (size_t n = 0; n <= size + 1; n++) {
    const kx::SQL_TOKVAL* val = nullptr;
    int code = kx::scsql_NextToken(&ctx, &val);
    if (code == kx::SQLT_END || code == kx::SQLT_LEXERROR) break;
    if (n == size + 1) __builtin_trap();  // every token consumes input
  }
  kx::scsql_ParseEnd(&ctx);
  return 0;
}
