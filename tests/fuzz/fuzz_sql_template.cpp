// Any template bytes and arguments through the expander, and any statement
// through the placeholder splice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scrs/sql_analysis.h"
#include "scrs/sql_tree.h"
#include "util/mem_pool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Input: template NUL arg1 NUL arg2 ... (missing parts are empty).
  std::string in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t nul = in.find('\0', start);
    parts.push_back(in.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
    if (nul == std::string::npos || parts.size() > 12) break;
    start = nul + 1;
  }
  std::vector<char*> args;
  for (size_t i = 1; i < parts.size(); i++) args.push_back(parts[i].empty() ? nullptr : parts[i].data());
  kx::MemPool pool{};
  kx::mpl_init(&pool);
  kx::TPL_Expand(&pool, parts[0].c_str(), args.data(), static_cast<int>(args.size()));
  char* out = kx::mpl_finish(&pool);
  if (!out) __builtin_trap();
  kx::mpl_free_all(&pool);

  char* spliced = nullptr;
  const char* ins = parts.size() > 1 ? parts[1].c_str() : "";
  if (kx::SCR_ExpandPlaceholder(parts[0].c_str(), ins, &spliced) == 0) {
    // Exactly the placeholder was replaced; every other byte is the statement's.
    const std::string& st = parts[0];
    size_t at = st.find(kx::SCR_PLACEHOLDER);
    std::string want = st.substr(0, at) + ins + st.substr(at + kx::SCR_PLACEHOLDER_LEN);
    if (want != spliced) __builtin_trap();
    free(spliced);
  }
  return 0;
}
