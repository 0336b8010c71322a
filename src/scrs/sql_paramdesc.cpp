// Describe queries for the parameter markers of a statement.
//
// For each marker the operand it is compared with or assigned to is chosen,
// and one "SELECT items FROM tables WHERE 1=0 " is built per SELECT (each
// part of a UNION on its own) or per UPDATE, DELETE, INSERT. Items are taken from the
// query they belong to: a derived table's or a subquery's clauses are never
// read as the outer query's.
#include "scrs/sql_paramdesc.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "scrs/sql_analysis.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

using Nodes = std::vector<SQL_NODE*>;  // a null entry stands for the default item
using Texts = std::vector<std::string>;

char* dupStr(const std::string& s) {
  char* p = static_cast<char*>(malloc(s.size() + 1));
  if (p) memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// Descendants of a kind in preorder, pruned at the excluded kind.
int collect(SQL_NODE* node, int kind, int excluded, Nodes& out) {
  ARR* arr = ARR_New(sizeof(SQL_NODE*));
  if (!arr) return KX_ERR_NOMEM;
  int ok = excluded < 0 ? TREE_CollectFrom(kind, node, arr) : TREE_CollectExclFrom(kind, excluded, node, arr);
  for (uint32_t i = 0; ok && i < arr->count; i++) out.push_back(*static_cast<SQL_NODE**>(ARR_At(arr, i)));
  ARR_Free(&arr, nullptr);
  return ok ? 0 : KX_ERR_NOMEM;
}

SQL_NODE* fromPartOf(SQL_NODE* querySpec) { return scr_ChildOfKind(querySpec, 2, SQLN_FROMPART); }

// The WHERE clause of a query's FROM part or of a statement's WHERE slot.
SQL_NODE* whereOf(SQL_NODE* node) {
  if (node && node->kind == SQLN_FROMPART) node = scr_DirectChild(node, SQLN_WHERESLOT);
  if (!node || node->kind != SQLN_WHERESLOT) return nullptr;
  return scr_ChildOfKind(node, 0, SQLN_WHERE);
}

// The query specifications of a SELECT or INSERT source along its UNION chain.
int querySpecsGet(SQL_NODE* node, Nodes& list) {
  SQL_NODE* qs = TREE_FirstFrom(node, SQLN_QUERYSPEC);
  if (!qs) return KX_ERR_GENERAL;
  while (qs) {
    list.push_back(qs);
    SQL_NODE* u = scr_DirectChild(fromPartOf(qs), SQLN_UNIONSLOT);
    SQL_NODE* un = u && u->tmpl ? scr_ChildOfKind(u, 0, SQLN_UNION) : nullptr;
    qs = scr_ChildOfKind(un, 0, SQLN_QUERYSPEC);
  }
  return 0;
}

int fromTables(SQL_NODE* node, Texts& tables) {
  SQL_NODE* list = node && node->kind == SQLN_TABLIST ? node : scr_DirectChild(node, SQLN_TABLIST);
  if (!list) return 0;
  Nodes refs;
  // Subqueries in join conditions read no table of this query.
  if (int rc = collect(list, SQLN_TABLEREF, SQLN_SUBQUERY, refs)) return rc;
  if (refs.empty()) return KX_ERR_GENERAL;
  for (SQL_NODE* r : refs) tables.emplace_back(r->text ? r->text : "");
  return 0;
}

int predicateItem(SQL_NODE* pred, Nodes& items) {
  SQL_NODE* p = pred ? pred->child : nullptr;
  if (!p) return KX_ERR_GENERAL;
  SQL_NODE* c0 = TREE_Child(p, 0);
  SQL_NODE* c1 = TREE_Child(p, 1);
  SQL_NODE* c2 = TREE_Child(p, 2);
  auto has = [](SQL_NODE* n) { return scr_pq_HasParam(n) != 0; };
  auto addTimes = [&items](SQL_NODE* item, int times) {
    for (int i = 0; i < times; i++) items.push_back(item);
  };
  switch (p->kind) {
    case SQLN_COMPARE: {
      if (!c0 || !c2) return KX_ERR_GENERAL;
      bool l = has(c0), r = c2->kind != SQLN_SUBQUERY && has(c2);
      if (l && !r) addTimes(c2, 1);
      if (r && !l) addTimes(c0, 1);
      return 0;
    }
    case SQLN_BETWEEN: {
      if (!c0 || !c1 || !c2) return KX_ERR_GENERAL;
      bool h0 = has(c0), h1 = has(c1), h2 = has(c2);
      SQL_NODE* chosen = !h0 ? c0 : !h1 ? c1 : !h2 ? c2 : nullptr;
      if (chosen) addTimes(chosen, int{h0} + int{h1} + int{h2});
      return 0;
    }
    case SQLN_LIKE: {
      if (!c0 || !c1) return KX_ERR_GENERAL;
      bool h0 = has(c0), h1 = has(c1);
      if (h0 && !h1) addTimes(c1, 1);
      if (!h0 && h1) addTimes(c0, 1);
      return 0;
    }
    case SQLN_QUANTCMP: {
      SQL_NODE* sub = TREE_Child(p, 3);
      if (!c0 || !sub) return KX_ERR_GENERAL;
      bool l = has(c0), r = has(sub);
      if (l && !r) addTimes(sub, 1);
      if (r && !l) addTimes(c0, 1);
      return 0;
    }
    case SQLN_IN: {
      if (!c0 || !c1) return KX_ERR_GENERAL;
      if (c1->kind == SQLN_SUBQUERY) {
        if (has(c0)) addTimes(c1, 1);
        return 0;
      }
      Nodes values;
      if (int rc = collect(c1, SQLN_VALUE, -1, values)) return rc;
      if (has(c0)) {
        if (values.empty() || has(values[0])) return KX_ERR_GENERAL;
        addTimes(values[0], 1);
        return 0;
      }
      for (SQL_NODE* v : values) {
        if (has(v)) addTimes(c0, 1);
      }
      return 0;
    }
    case SQLN_ISNULL:
      if (!c0) return KX_ERR_GENERAL;
      if (has(c0)) addTimes(nullptr, 1);
      return 0;
    default:
      return 0;  // EXISTS and outer-join comparisons describe nothing
  }
}

int conditionItems(SQL_NODE* clause, Nodes& items) {
  if (!clause) return 0;
  SQL_NODE* cond = scr_ChildOfKind(clause, 0, SQLN_COND);
  if (!cond) return KX_ERR_GENERAL;
  Nodes preds;
  if (int rc = collect(cond, SQLN_PREDICATE, SQLN_SUBQUERY, preds)) return rc;
  for (SQL_NODE* p : preds) {
    if (int rc = predicateItem(p, items)) return rc;
  }
  return 0;
}

int havingItems(SQL_NODE* fromPart, Nodes& items) {
  SQL_NODE* slot = scr_DirectChild(fromPart, SQLN_HAVING);
  if (!slot || !slot->tmpl || !slot->child) return 0;
  return conditionItems(slot, items);
}

int setItems(SQL_NODE* assignList, Nodes& items) {
  if (!assignList || assignList->kind != SQLN_ASSIGNLIST) return KX_ERR_GENERAL;
  Nodes assigns;
  if (int rc = collect(assignList, SQLN_ASSIGN, -1, assigns)) return rc;
  for (SQL_NODE* a : assigns) {
    SQL_NODE* col = TREE_Child(a, 0);
    if (!col) return KX_ERR_GENERAL;
    SQL_NODE* value = TREE_Child(a, 1);  // "c = NULL" has none
    if (value && scr_pq_HasParam(value)) items.push_back(col);
  }
  return 0;
}

bool equalsNoCase(const char* a, const char* b) {
  for (; *a && *b; a++, b++) {
    char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return !*a && !*b;
}

int build(SCR_PARAMINFO* ctx, const Texts& tables, const Nodes& items, bool qualify) {
  // Without a table the query could not be run; its markers stay undescribed.
  if (tables.empty() || items.empty()) return 0;
  const std::string* q = qualify ? &tables[0] : nullptr;
  std::string s = "SELECT ";
  int described = 0;
  for (size_t i = 0; i < items.size(); i++) {
    if (i) s += ", ";
    SQL_NODE* item = items[i];
    described++;
    if (!item) {
      s += ctx->defaultItem ? ctx->defaultItem : "NULL";
      continue;
    }
    if (item->kind == SQLN_SUBQUERY) {
      // The subquery's own column describes the marker; one with markers of
      // its own cannot be run as part of a describe query.
      s += scr_pq_HasParam(item) ? (ctx->defaultItem ? ctx->defaultItem : "NULL") : item->text;
      continue;
    }
    const std::string* qual =
        q && TREE_FirstWithin(item, SQLN_COLNAME) && !TREE_FirstWithin(item, SQLN_TABNAME) ? q : nullptr;
    SQL_NODE* agg = items.size() > 1 ? TREE_FirstFrom(item->child, SQLN_AGGREGATE) : nullptr;
    if (agg) {
      SQL_NODE* name = TREE_Child(agg, 0);
      SQL_NODE* arg = TREE_Child(agg, 1);
      if (!name || !arg || equalsNoCase(name->text, "COUNT")) {
        s += "1";
      } else {
        s += "(";
        if (qual) s += *qual + ".";
        s += arg->text;
        s += ")";
      }
      continue;
    }
    if (qual) s += *qual + ".";
    s += item->text;
  }
  s += " FROM ";
  for (size_t i = 0; i < tables.size(); i++) {
    if (i) s += ", ";
    s += tables[i];
  }
  s += " WHERE 1=0 ";
  char* copy = dupStr(s);
  if (!copy) return KX_ERR_NOMEM;
  char** grown = static_cast<char**>(realloc(ctx->queries, sizeof(char*) * (static_cast<size_t>(ctx->count) + 1)));
  if (!grown) {
    free(copy);
    return KX_ERR_NOMEM;
  }
  ctx->queries = grown;
  ctx->queries[ctx->count++] = copy;
  ctx->total += described;
  return 0;
}

int querySpecs(SCR_PARAMINFO* ctx, SQL_NODE* node) {
  Nodes specs;
  if (int rc = querySpecsGet(node, specs)) return rc;
  for (SQL_NODE* qs : specs) {
    Texts tables;
    Nodes items;
    SQL_NODE* from = fromPartOf(qs);
    if (!from) return KX_ERR_GENERAL;
    if (int rc = fromTables(from, tables)) return rc;
    int rc = conditionItems(whereOf(from), items);
    if (!rc) rc = havingItems(from, items);
    if (!rc && !items.empty()) rc = build(ctx, tables, items, false);
    if (rc == KX_ERR_NOMEM) return rc;
  }
  return 0;
}

int guarded(int (*fn)(SCR_PARAMINFO*), SCR_PARAMINFO* ctx) {
  try {
    return fn(ctx);
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
}

}  // namespace

int scr_pq_HasParam(SQL_NODE* node) {
  if (!node) return 0;
  if (node->kind == SQLN_PARAM) return 1;
  return TREE_FirstFrom(node->child, SQLN_PARAM) ? 1 : 0;
}

void SCR_ParamInfoInit(SCR_PARAMINFO* ctx, const char* defaultItem) {
  ctx->text = ctx->sql = ctx->errMsg = nullptr;
  ctx->root = nullptr;
  ctx->kind = -1;
  ctx->flags = 0;
  ctx->queries = nullptr;
  ctx->count = 0;
  ctx->total = 0;
  ctx->mask = nullptr;
  ctx->defaultItem = defaultItem;
}

void SCR_ParamInfoFree(SCR_PARAMINFO* ctx) {
  for (int32_t i = 0; i < ctx->count; i++) free(ctx->queries[i]);
  free(ctx->queries);
  ctx->queries = nullptr;
  free(ctx->mask);
  ctx->mask = nullptr;
  free(ctx->text);
  free(ctx->sql);
  free(ctx->errMsg);
  ctx->text = ctx->sql = ctx->errMsg = nullptr;
  TREE_Free(&ctx->root, tree_FreeNodeText);
  ctx->kind = -1;
  ctx->flags = 0;
  ctx->count = 0;
  ctx->total = 0;
}

int scr_pq_Select(SCR_PARAMINFO* ctx) {
  if (!ctx->root) return KX_ERR_GENERAL;
  return querySpecs(ctx, ctx->root);
}

int scr_pq_Delete(SCR_PARAMINFO* ctx) {
  SQL_NODE* target = TREE_Child(ctx->root, 0);
  if (!target) return KX_ERR_GENERAL;
  Texts tables{target->text};
  Nodes items;
  if (int rc = conditionItems(whereOf(TREE_Child(ctx->root, 1)), items)) return rc;
  return build(ctx, tables, items, false);
}

int scr_pq_UpdatePos(SCR_PARAMINFO* ctx) {
  SQL_NODE* target = TREE_Child(ctx->root, 0);
  if (!target) return KX_ERR_GENERAL;
  Texts tables{target->text};
  Nodes items;
  SQL_NODE* set = scr_ChildOfKind(ctx->root, 1, SQLN_ASSIGNLIST);
  if (set) {
    if (int rc = setItems(set, items)) return rc;
  }
  return build(ctx, tables, items, true);
}

int scr_pq_Update(SCR_PARAMINFO* ctx) {
  SQL_NODE* root = ctx->root;
  SQL_NODE* target = TREE_Child(root, 0);
  if (!target) return KX_ERR_GENERAL;
  Texts tables{target->text};
  Nodes items;
  SQL_NODE* set = nullptr;
  SQL_NODE* list = nullptr;
  SQL_NODE* where = nullptr;
  for (int i = 1; i < root->nchild; i++) {
    SQL_NODE* c = TREE_Child(root, i);
    if (!c) return KX_ERR_GENERAL;
    if (c->kind == SQLN_ASSIGNLIST) set = c;
    if (c->kind == SQLN_TABLIST) list = c;
    if (c->kind == SQLN_WHERESLOT) where = c;
  }
  if (!set || !where) return KX_ERR_GENERAL;
  if (list) {
    if (int rc = fromTables(list, tables)) return rc;
  }
  if (int rc = setItems(set, items)) return rc;
  if (int rc = conditionItems(whereOf(where), items)) return rc;
  return build(ctx, tables, items, true);
}

int scr_pq_Insert(SCR_PARAMINFO* ctx) {
  SQL_NODE* root = ctx->root;
  SQL_NODE* target = scr_ChildOfKind(root, 0, SQLN_TABLE);
  SQL_NODE* colSlot = scr_ChildOfKind(root, 1, SQLN_INSCOLS);
  SQL_NODE* source = scr_ChildOfKind(root, 2, SQLN_INSSOURCE);
  if (!target || !colSlot || !source || !source->child) return KX_ERR_GENERAL;
  Texts tables{target->text};
  Nodes columns;
  if (int rc = collect(colSlot, SQLN_COLREF, -1, columns)) return rc;
  Nodes items;
  SQL_NODE* src = source->child;
  if (src->kind == SQLN_VALUELIST) {
    Nodes values;
    if (int rc = collect(src, SQLN_VALUE, -1, values)) return rc;
    if (columns.empty()) {
      std::string mask;
      for (SQL_NODE* v : values) mask += scr_pq_HasParam(v) ? '?' : 'X';
      char* m = dupStr(mask);
      if (!m) return KX_ERR_NOMEM;
      free(ctx->mask);
      ctx->mask = m;
      std::string q = "SELECT * FROM " + tables[0] + " WHERE 1=0 ";
      char* copy = dupStr(q);
      char** grown = copy ? static_cast<char**>(realloc(ctx->queries, sizeof(char*) * (static_cast<size_t>(ctx->count) + 1))) : nullptr;
      if (!grown) {
        free(copy);
        return KX_ERR_NOMEM;
      }
      ctx->queries = grown;
      ctx->queries[ctx->count++] = copy;
      ctx->total += static_cast<int32_t>(mask.size());
      return 0;
    }
    for (size_t i = 0; i < values.size(); i++) {
      if (!scr_pq_HasParam(values[i])) continue;
      if (i >= columns.size()) return KX_ERR_GENERAL;
      items.push_back(columns[i]);
    }
    return build(ctx, tables, items, false);
  }
  if (src->kind == SQLN_QUERYSPEC) {
    // Only the top-level select items line up with the column list.
    SQL_NODE* selList = scr_ChildOfKind(src, 1, SQLN_SELLIST);
    Nodes selItems;
    if (selList) {
      if (int rc = collect(selList, SQLN_SELITEM, SQLN_SUBQUERY, selItems)) return rc;
    }
    for (size_t i = 0; i < selItems.size(); i++) {
      if (!scr_pq_HasParam(selItems[i])) continue;
      if (i >= columns.size()) return KX_ERR_GENERAL;
      items.push_back(columns[i]);
    }
    if (int rc = build(ctx, tables, items, false)) return rc;
    return querySpecs(ctx, src);
  }
  return KX_ERR_GENERAL;
}

int SCR_ParamQueriesGet(SCR_PARAMINFO* ctx, const char* statement) {
  const char* body = StrSkipSpace(statement ? statement : "");
  SCR_ParamInfoFree(ctx);
  size_t n = strlen(body);
  ctx->text = static_cast<char*>(malloc(n + 1));
  if (!ctx->text) return KX_ERR_NOMEM;
  memcpy(ctx->text, body, n + 1);
  ctx->kind = 0;
  int rc = scr_ParseStatement(ctx->text, &ctx->root, &ctx->sql, &ctx->errMsg);
  if (rc) return rc;
  ctx->kind = ctx->root->kind;
  int brc = 0;
  switch (ctx->kind) {
    case SQLN_SELECT: brc = guarded(scr_pq_Select, ctx); break;
    case SQLN_DELETE: brc = guarded(scr_pq_Delete, ctx); break;
    case SQLN_INSERT: brc = guarded(scr_pq_Insert, ctx); break;
    case SQLN_UPDATEPOS: brc = guarded(scr_pq_UpdatePos, ctx); break;
    case SQLN_UPDATE: brc = guarded(scr_pq_Update, ctx); break;
    default: break;
  }
  // A builder's failure leaves fewer queries; the caller checks the totals.
  (void)brc;
  return 0;
}

}  // namespace kx
