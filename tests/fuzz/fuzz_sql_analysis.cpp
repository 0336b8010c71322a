// Any text through the analysis, the list builders, the rewrites and the
// describe queries. An accepted statement's regenerated text must analyse to
// the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scrs/sql_analysis.h"
#include "scrs/sql_paramdesc.h"

namespace {

void Lists(kx::SCR_ANALYSIS* a) {
  kx::ARR* refs = kx::ARR_New(sizeof(kx::SCR_TABLEREF));
  kx::SCR_TablesGet(a, refs, 1);
  kx::ARR_Free(&refs, kx::SCR_FreeTableRef);
  kx::ARR* cols = kx::ARR_New(sizeof(kx::SCS_COLDESC));
  kx::SCR_SelListGet(a, cols);
  kx::ARR_Free(&cols, nullptr);
  kx::ARR* order = kx::ARR_New(sizeof(kx::SCS_ORDERBYITEM));
  kx::SCR_OrderByGet(a, order);
  if (order && order->count) kx::SCR_OrderByResolvePositions(a, order);
  kx::ARR_Free(&order, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();  // the analysis takes a NUL-terminated text

  kx::SCR_ANALYSIS a;
  kx::SCR_InitAnalysis(&a);
  int rc = kx::SCR_AnalyseSQL(&a, text.c_str(), 0, 0);
  if (a.root && (rc == 0 || rc == 15)) {
    std::string once = a.root->text;
    kx::SCR_ANALYSIS b;
    kx::SCR_InitAnalysis(&b);
    int rc2 = kx::SCR_AnalyseSQL(&b, once.c_str(), 0, 0);
    bool dml = a.kind != kx::SQLN_OTHER && a.kind != kx::SQLN_CALLESC;
    if (dml && (rc2 == 68 || !b.root || once != b.root->text || a.kind != b.kind)) __builtin_trap();
    kx::SCR_FreeAnalysis(&b);
    Lists(&a);
    kx::SCR_SetWherePlaceholder(&a);
    kx::SCR_SetOrderByPlaceholder(&a);
    kx::SCR_OrderByReverse(&a);
    kx::SCR_SetSelListPlaceholder(&a);
    if (a.root) {
      char* out = nullptr;
      kx::SCR_ExpandPlaceholder(a.root->text, "k", &out);
      free(out);
    }
  }
  kx::SCR_FreeAnalysis(&a);

  kx::SCR_PARAMINFO p;
  kx::SCR_ParamInfoInit(&p, "NULL");
  kx::SCR_ParamQueriesGet(&p, text.c_str());
  for (int i = 0; i < p.count; i++) {
    if (!p.queries[i]) __builtin_trap();
  }
  if (p.mask && static_cast<int>(strlen(p.mask)) > p.total) __builtin_trap();
  kx::SCR_ParamInfoFree(&p);
  return 0;
}
