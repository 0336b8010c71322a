// Analysis and rewriting of a parsed statement for the scrollable cursor layer.
//
// The clauses that belong to the outer query are taken from the outer query's
// own nodes (the slots of its FROM part, its own select list), never found by
// a search that would first meet a derived table or a subquery of the same
// shape: a rewrite in the wrong query would change what the statement means.
#include "scrs/sql_analysis.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "scrs/sql_parser.h"
#include "util/errcodes.h"
#include "util/str_util.h"

namespace kx {

namespace {

char* dupN(const char* s, size_t n) {
  char* p = static_cast<char*>(malloc(n + 1));
  if (p) {
    StrCopyBytes(p, s, n);
  }
  return p;
}

char* dup(const char* s) { return s ? dupN(s, strlen(s)) : dupN("", 0); }

// Copies at most cap-1 bytes, cut on a UTF-8 character boundary.
void copyField(char* dst, size_t cap, const char* src) {
  if (!src) src = "";
  size_t n = strlen(src);
  if (n >= cap) {
    n = cap - 1;
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) n--;
  }
  StrCopyBytes(dst, src, n);
}

bool filled(const SQL_NODE* slot) { return slot && slot->tmpl; }

SQL_NODE* selectRoot(SCR_ANALYSIS* a) {
  return a && a->root && a->root->kind == SQLN_SELECT ? a->root : nullptr;
}

SQL_NODE* outerQuerySpec(SCR_ANALYSIS* a) { return scr_ChildOfKind(selectRoot(a), 0, SQLN_QUERYSPEC); }

SQL_NODE* fromPartOf(SQL_NODE* querySpec) { return scr_ChildOfKind(querySpec, 2, SQLN_FROMPART); }

SQL_NODE* outerFromPart(SCR_ANALYSIS* a) { return fromPartOf(outerQuerySpec(a)); }

// The slot holding the statement's ORDER BY: after a UNION the clause lands in
// the last query's FROM part; a second ORDER BY clause in the root's own slot.
SQL_NODE* statementOrderSlot(SCR_ANALYSIS* a) {
  SQL_NODE* root = selectRoot(a);
  SQL_NODE* from = outerFromPart(a);
  if (!from) return nullptr;
  for (;;) {
    SQL_NODE* u = scr_DirectChild(from, SQLN_UNIONSLOT);
    if (!filled(u)) break;
    SQL_NODE* un = scr_ChildOfKind(u, 0, SQLN_UNION);
    SQL_NODE* next = fromPartOf(scr_ChildOfKind(un, 0, SQLN_QUERYSPEC));
    if (!next) break;
    from = next;
  }
  SQL_NODE* slot = scr_DirectChild(from, SQLN_ORDERBYSLOT);
  SQL_NODE* own = scr_ChildOfKind(root, 1, SQLN_ORDERBYSLOT);
  if (!filled(slot) && filled(own)) return own;
  return slot;
}

int regen(SCR_ANALYSIS* a) { return TREE_Regenerate(a->root) ? 0 : KX_ERR_NOMEM; }

// Select items of a select list, without those of subqueries inside it.
int topSelectItems(SQL_NODE* selList, ARR* out) {
  return TREE_CollectExclFrom(SQLN_SELITEM, SQLN_SUBQUERY, selList, out) ? 0 : KX_ERR_NOMEM;
}

// Number of columns the select list names, or -1 when a wildcard hides it.
int selectItemCount(SCR_ANALYSIS* a) {
  SQL_NODE* list = scr_ChildOfKind(outerQuerySpec(a), 1, SQLN_SELLIST);
  if (!list || !list->text || strcmp(list->text, "*") == 0) return -1;
  ARR* items = ARR_New(sizeof(SQL_NODE*));
  if (!items) return -1;
  int count = -1;
  if (topSelectItems(list, items) == 0) {
    count = static_cast<int>(items->count);
    for (uint32_t i = 0; i < items->count; i++) {
      SQL_NODE* item = *static_cast<SQL_NODE**>(ARR_At(items, i));
      if (scr_ChildOfKind(item, 0, SQLN_TABLE)) count = -1;  // t.*
      if (count < 0) break;
    }
  }
  ARR_Free(&items, nullptr);
  return count;
}

// A position of ORDER BY: digits only, within int; else -1.
long parsePosition(const char* text) {
  if (!text || !(*text >= '0' && *text <= '9')) return -1;
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (errno || *end || v > INT_MAX) return -1;
  return v;
}

// Name parts of a column reference: c, t.c or o.t.c.
void splitColRef(SQL_NODE* colref, char* name, char* table, char* owner, size_t cap) {
  name[0] = table[0] = owner[0] = '\0';
  if (!colref) return;
  SQL_NODE* c = scr_DirectChild(colref, SQLN_COLNAME);
  if (c) {
    copyField(name, cap, c->text);
    if (SQL_NODE* t = scr_DirectChild(colref, SQLN_TABNAME)) copyField(table, cap, t->text);
    if (SQL_NODE* o = scr_DirectChild(colref, SQLN_MIDNAME)) copyField(owner, cap, o->text);
    return;
  }
  copyField(name, cap, colref->text);
}

}  // namespace

SQL_NODE* scr_ChildOfKind(SQL_NODE* node, int i, int kind) {
  SQL_NODE* c = TREE_Child(node, i);
  return c && c->kind == kind ? c : nullptr;
}

SQL_NODE* scr_DirectChild(SQL_NODE* node, int kind) {
  if (!node || node->nchild == 0) return nullptr;
  int i = 0;
  for (SQL_NODE* c = node->child; c && i < node->nchild; c = c->next, i++) {
    if (c->kind == kind) return c;
  }
  return nullptr;
}

// ---- life of an analysis ------------------------------------------------------------

void SCR_InitAnalysis(SCR_ANALYSIS* a) {
  a->text = a->sql = a->errMsg = nullptr;
  a->root = nullptr;
  a->kind = -1;
  a->flags = 0;
}

void SCR_FreeAnalysis(SCR_ANALYSIS* a) {
  free(a->text);
  free(a->sql);
  free(a->errMsg);
  a->text = a->sql = a->errMsg = nullptr;
  TREE_Free(&a->root, tree_FreeNodeText);
  a->flags = 0;
  a->kind = -1;
}

int scr_ParseStatement(const char* text, SQL_NODE** root, char** sql, char** errMsg) {
  *root = nullptr;
  *sql = *errMsg = nullptr;
  SqlParseCtx ctx{};
  int rc;
  try {
    rc = scsql_Parse(&ctx, text, strlen(text));
  } catch (const std::bad_alloc&) {
    rc = 2;
  }
  *root = ctx.root;
  ctx.root = nullptr;
  *sql = ctx.errText;
  *errMsg = ctx.errMsg;
  ctx.errText = ctx.errMsg = nullptr;
  scsql_ParseEnd(&ctx);
  if (rc != 0) {
    TREE_Free(root, tree_FreeNodeText);
    return KX_ERR_SYNTAX;
  }
  if (!TREE_Regenerate(*root)) {
    // Out of memory, or nesting so deep that its texts pass the budget.
    TREE_Free(root, tree_FreeNodeText);
    free(*errMsg);
    *errMsg = dup("memory exhausted");
    return KX_ERR_NOMEM;
  }
  return 0;
}

int SCR_AnalyseSQL(SCR_ANALYSIS* a, const char* statement, int skipFlags, int keepCatalog) {
  const char* body = StrSkipSpace(statement ? statement : "");
  SCR_FreeAnalysis(a);
  a->text = dup(body);
  if (!a->text) return KX_ERR_NOMEM;
  a->kind = 0;
  int rc = scr_ParseStatement(a->text, &a->root, &a->sql, &a->errMsg);
  if (rc) return rc;
  a->kind = a->root->kind;
  if (skipFlags || a->kind != SQLN_SELECT) return 0;
  if ((rc = SCR_CheckOrderBy(a, nullptr))) return rc;
  if ((rc = SCR_CheckGroupBy(a))) return rc;
  if ((rc = SCR_CheckUnion(a))) return rc;
  if ((rc = SCR_CheckJoin(a, keepCatalog))) return rc;
  if ((rc = SCR_CheckAggregate(a))) return rc;
  return SCR_CheckOuterJoin(a);
}

// ---- flag checks -------------------------------------------------------------------------

int SCR_CheckOrderBy(SCR_ANALYSIS* a, SQL_NODE** slot) {
  a->flags &= ~SCRF_ORDERBY;
  SQL_NODE* s = statementOrderSlot(a);
  if (!s) return KX_ERR_GENERAL;
  if (filled(s)) a->flags |= SCRF_ORDERBY;
  if (slot) *slot = s;
  return 0;
}

int SCR_CheckGroupBy(SCR_ANALYSIS* a) {
  a->flags &= ~SCRF_GROUPBY;
  SQL_NODE* g = scr_DirectChild(outerFromPart(a), SQLN_GROUPBY);
  if (!g) return KX_ERR_GENERAL;
  if (filled(g)) a->flags |= SCRF_GROUPBY;
  return 0;
}

int SCR_CheckUnion(SCR_ANALYSIS* a) {
  a->flags &= ~SCRF_UNION;
  SQL_NODE* u = scr_DirectChild(outerFromPart(a), SQLN_UNIONSLOT);
  if (!u) return KX_ERR_GENERAL;
  if (filled(u)) a->flags |= SCRF_UNION;
  return 0;
}

int SCR_CheckJoin(SCR_ANALYSIS* a, int keepCatalog) {
  a->flags &= ~SCRF_JOIN;
  ARR* refs = ARR_New(sizeof(SCR_TABLEREF));
  if (!refs) return KX_ERR_NOMEM;
  int rc = SCR_TablesGet(a, refs, keepCatalog);
  if (refs->count >= 2) a->flags |= SCRF_JOIN;
  ARR_Free(&refs, SCR_FreeTableRef);
  return rc;
}

int SCR_CheckAggregate(SCR_ANALYSIS* a) {
  a->flags &= ~SCRF_AGGREGATE;
  SQL_NODE* q = outerQuerySpec(a);
  if (!q) return KX_ERR_GENERAL;
  if (TREE_FirstFrom(q, SQLN_AGGREGATE)) a->flags |= SCRF_AGGREGATE;
  return 0;
}

int SCR_CheckOuterJoin(SCR_ANALYSIS* a) {
  a->flags &= ~SCRF_OUTERJOIN;
  if (!a->root) return KX_ERR_GENERAL;
  if (TREE_FirstFrom(a->root, SQLN_OUTERTYPE)) a->flags |= SCRF_OUTERJOIN;
  return 0;
}

// ---- tables --------------------------------------------------------------------------------

void SCR_FreeTableRef(void* element) {
  SCR_TABLEREF* r = static_cast<SCR_TABLEREF*>(element);
  if (!r) return;
  free(r->qualifier);
  free(r->owner);
  free(r->table);
  free(r->alias);
  r->qualifier = r->owner = r->table = r->alias = nullptr;
}

int SCR_TablesGet(SCR_ANALYSIS* a, ARR* out, int keepCatalog) {
  SQL_NODE* from = outerFromPart(a);
  if (!from || !out) return KX_ERR_GENERAL;
  SQL_NODE* list = scr_DirectChild(from, SQLN_TABLIST);
  if (!list) return 0;  // no FROM
  ARR* refs = ARR_New(sizeof(SQL_NODE*));
  if (!refs) return KX_ERR_NOMEM;
  // A subquery in a join condition reads no table of this query.
  int rc = TREE_CollectExclFrom(SQLN_TABLEREF, SQLN_SUBQUERY, list, refs) ? 0 : KX_ERR_NOMEM;
  if (!rc && refs->count == 0) rc = KX_ERR_GENERAL;
  for (uint32_t i = 0; !rc && i < refs->count; i++) {
    rc = SCR_TableRefSplit(*static_cast<SQL_NODE**>(ARR_At(refs, i)), out, keepCatalog);
  }
  ARR_Free(&refs, nullptr);
  return rc;
}

int SCR_TableRefSplit(SQL_NODE* ref, ARR* out, int keepCatalog) {
  if (!ref || !out) return KX_ERR_GENERAL;
  SQL_NODE* corr = TREE_FirstWithin(ref, SQLN_CORRNAME);
  SQL_NODE* table = TREE_FirstWithin(ref, SQLN_TABLE);
  if (!table || !table->text) return KX_ERR_GENERAL;
  std::string t, qualifier, owner, name;
  try {
    t = table->text;
    auto ownerTable = [&](const std::string& s) {
      size_t dot = s.find('.');
      if (dot == std::string::npos) {
        name = s;
      } else {
        owner = s.substr(0, dot);
        name = s.substr(dot + 1);
      }
    };
    size_t at = t.find('@');
    size_t colon = t.find(':');
    if (at != std::string::npos && colon != std::string::npos && at < colon) {
      // db@server:t and db@server:o.t name the table after the colon.
      if (keepCatalog) qualifier = t.substr(0, colon);
      ownerTable(t.substr(colon + 1));
    } else if (at != std::string::npos) {
      ownerTable(t.substr(0, at));
    } else if (size_t last = t.rfind('.'); last != std::string::npos) {
      name = t.substr(last + 1);
      std::string p = t.substr(0, last);
      size_t cut = p.find('.');
      if (cut == std::string::npos) cut = p.find(':');
      if (cut == std::string::npos) {
        owner = p;
      } else {
        owner = p.substr(cut + 1);
        if (keepCatalog) qualifier = p.substr(0, cut);
      }
    } else if (colon != std::string::npos) {
      name = t.substr(colon + 1);
      if (keepCatalog) qualifier = t.substr(0, colon);
    } else {
      name = t;
    }
  } catch (const std::bad_alloc&) {
    return KX_ERR_NOMEM;
  }
  SCR_TABLEREF r{dup(qualifier.c_str()), dup(owner.c_str()), dup(name.c_str()),
                 dup(corr && corr->text ? corr->text : "")};
  if (!r.qualifier || !r.owner || !r.table || !r.alias || !ARR_Append(out, &r)) {
    SCR_FreeTableRef(&r);
    return KX_ERR_NOMEM;
  }
  return 0;
}

// ---- rewrites --------------------------------------------------------------------------------

const char* SCR_SelListText(SCR_ANALYSIS* a) {
  SQL_NODE* list = scr_ChildOfKind(outerQuerySpec(a), 1, SQLN_SELLIST);
  return list ? list->text : nullptr;
}

bool SCR_ParamsBeforeWhere(SCR_ANALYSIS* a) {
  SQL_NODE* q = outerQuerySpec(a);
  SQL_NODE* list = scr_ChildOfKind(q, 1, SQLN_SELLIST);
  SQL_NODE* head = scr_ChildOfKind(q, 0, SQLN_TOP);
  SQL_NODE* tables = scr_DirectChild(outerFromPart(a), SQLN_TABLIST);
  return (list && TREE_FirstWithin(list, SQLN_PARAM)) || (head && TREE_FirstWithin(head, SQLN_PARAM)) ||
         (tables && TREE_FirstWithin(tables, SQLN_PARAM));
}

bool SCR_IsDistinct(SCR_ANALYSIS* a) {
  SQL_NODE* head = scr_ChildOfKind(outerQuerySpec(a), 0, SQLN_TOP);
  SQL_NODE* quant = head ? scr_DirectChild(head, SQLN_SETQUANT) : nullptr;
  return quant && quant->text && strcmp(quant->text, "DISTINCT") == 0;
}

int SCR_SetSelListPlaceholder(SCR_ANALYSIS* a) {
  SQL_NODE* list = scr_ChildOfKind(outerQuerySpec(a), 1, SQLN_SELLIST);
  if (!list) return KX_ERR_GENERAL;
  if (!TREE_SetText(list, SCR_PLACEHOLDER)) return KX_ERR_NOMEM;
  TREE_DropChildren(list);
  return regen(a);
}

int SCR_SetWherePlaceholder(SCR_ANALYSIS* a) {
  SQL_NODE* slot = scr_DirectChild(outerFromPart(a), SQLN_WHERESLOT);
  if (!slot) return KX_ERR_GENERAL;
  if (filled(slot)) {
    a->flags |= SCRF_WHERE;
    SQL_NODE* where = scr_ChildOfKind(slot, 0, SQLN_WHERE);
    if (!where) return KX_ERR_GENERAL;
    static const char kTmpl[] = "WHERE \x01\x01\x01 AND (\xFF\x01\x01)";
    char* t = dup(kTmpl);
    if (!t) return KX_ERR_NOMEM;
    free(where->tmpl);
    where->tmpl = t;
  } else {
    a->flags &= ~SCRF_WHERE;
    if (!TREE_SetText(slot, SCR_PLACEHOLDER)) return KX_ERR_NOMEM;
  }
  return regen(a);
}

int SCR_SetOrderByPlaceholder(SCR_ANALYSIS* a) {
  SQL_NODE* slot = nullptr;
  int rc = SCR_CheckOrderBy(a, &slot);
  if (rc) return rc;
  if (a->flags & SCRF_ORDERBY) {
    SQL_NODE* ob = scr_ChildOfKind(slot, 0, SQLN_ORDERBY);
    if (!ob || !ob->tmpl) return KX_ERR_GENERAL;
    size_t n = strlen(ob->tmpl);
    char* t = static_cast<char*>(malloc(n + SCR_PLACEHOLDER_LEN + 1));
    if (!t) return KX_ERR_NOMEM;
    memcpy(t, ob->tmpl, n);
    memcpy(t + n, SCR_PLACEHOLDER, SCR_PLACEHOLDER_LEN + 1);
    free(ob->tmpl);
    ob->tmpl = t;
  } else {
    if (!TREE_SetText(slot, SCR_PLACEHOLDER)) return KX_ERR_NOMEM;
  }
  return regen(a);
}

int SCR_OrderByReverse(SCR_ANALYSIS* a) {
  SQL_NODE* slot = statementOrderSlot(a);
  if (!slot) return KX_ERR_GENERAL;
  ARR* items = ARR_New(sizeof(SQL_NODE*));
  if (!items) return KX_ERR_NOMEM;
  int rc = TREE_CollectFrom(SQLN_ORDERITEM, slot, items) ? 0 : KX_ERR_NOMEM;
  for (uint32_t i = 0; !rc && i < items->count; i++) {
    SQL_NODE* item = *static_cast<SQL_NODE**>(ARR_At(items, i));
    SQL_NODE* dir = scr_DirectChild(item, SQLN_ORDERDIR);
    if (!dir) {
      ARR_Free(&items, nullptr);
      return KX_ERR_GENERAL;
    }
    bool desc = dir->text && strstr(dir->text, "DESC");
    if (!TREE_SetText(dir, desc ? "" : "DESC")) rc = KX_ERR_NOMEM;
  }
  uint32_t count = items->count;
  ARR_Free(&items, nullptr);
  if (rc) return rc;
  if ((rc = regen(a))) return rc;
  return count ? 0 : KX_ERR_GENERAL;
}

int SCR_OrderByResolvePositions(SCR_ANALYSIS* a, ARR* items) {
  if (!items) return KX_ERR_GENERAL;
  if (items->count == 0) return 0;
  SQL_NODE* ob = scr_ChildOfKind(statementOrderSlot(a), 0, SQLN_ORDERBY);
  if (!ob) return KX_ERR_GENERAL;
  ARR* nums = ARR_New(sizeof(SQL_NODE*));
  if (!nums) return KX_ERR_NOMEM;
  int rc = TREE_CollectFrom(SQLN_INTLIT, ob, nums) ? 0 : KX_ERR_NOMEM;
  for (uint32_t i = 0; !rc && i < nums->count; i++) {
    SQL_NODE* num = *static_cast<SQL_NODE**>(ARR_At(nums, i));
    long n = parsePosition(num->text);
    const SCS_ORDERBYITEM* found = nullptr;
    for (uint32_t k = 0; n > 0 && k < items->count && !found; k++) {
      const SCS_ORDERBYITEM* it = static_cast<const SCS_ORDERBYITEM*>(ARR_At(items, k));
      if (it->position == n) found = it;
    }
    if (!found) {
      rc = KX_ERR_GENERAL;
    } else if (!TREE_SetText(num, found->text)) {
      rc = KX_ERR_NOMEM;
    }
  }
  ARR_Free(&nums, nullptr);
  return rc ? rc : regen(a);
}

// ---- lists for the cursor layer ------------------------------------------------------------

int SCR_OrderByGet(SCR_ANALYSIS* a, ARR* out) {
  SQL_NODE* slot = statementOrderSlot(a);
  if (!slot || !out) return KX_ERR_GENERAL;
  ARR* items = ARR_New(sizeof(SQL_NODE*));
  if (!items) return KX_ERR_NOMEM;
  int rc = TREE_CollectFrom(SQLN_ORDERITEM, slot, items) ? 0 : KX_ERR_NOMEM;
  if (!rc && items->count == 0) rc = KX_ERR_GENERAL;
  int columns = rc ? -1 : selectItemCount(a);
  SCS_ORDERBYITEM* rec = rc ? nullptr : static_cast<SCS_ORDERBYITEM*>(malloc(sizeof(SCS_ORDERBYITEM)));
  if (!rc && !rec) rc = KX_ERR_NOMEM;
  for (uint32_t i = 0; !rc && i < items->count; i++) {
    SQL_NODE* item = *static_cast<SQL_NODE**>(ARR_At(items, i));
    memset(rec, 0, sizeof *rec);
    SQL_NODE* dir = scr_DirectChild(item, SQLN_ORDERDIR);
    if (!dir) {
      rc = KX_ERR_GENERAL;
      break;
    }
    rec->desc = dir->text && strstr(dir->text, "DESC") ? 1 : 0;
    if (SQL_NODE* num = scr_DirectChild(item, SQLN_INTLIT)) {
      a->flags |= SCRF_ORDERBYPOS;
      long n = parsePosition(num->text);
      // A position outside the select list names no column.
      if (n < 1 || (columns >= 0 && n > columns)) {
        rc = KX_ERR_SYNTAX;
        break;
      }
      rec->position = static_cast<int32_t>(n);
    } else {
      SQL_NODE* col = scr_DirectChild(item, SQLN_COLREF);
      if (!col) {
        rc = KX_ERR_GENERAL;
        break;
      }
      copyField(rec->text, sizeof rec->text, col->text);
      splitColRef(col, rec->column, rec->table, rec->owner, SCS_NAME_LEN);
    }
    if (!ARR_Append(out, rec)) rc = KX_ERR_NOMEM;
  }
  free(rec);
  ARR_Free(&items, nullptr);
  return rc;
}

void SCR_ColumnNameSplit(SQL_NODE* colref, SCS_COLDESC* desc) {
  splitColRef(colref, desc->name, desc->table, desc->owner, SCS_NAME_LEN);
  desc->alias[0] = '\0';
  desc->qualifier[0] = '\0';
}

int SCR_SelListGet(SCR_ANALYSIS* a, ARR* out) {
  SQL_NODE* list = scr_ChildOfKind(outerQuerySpec(a), 1, SQLN_SELLIST);
  if (!list || !out) return KX_ERR_GENERAL;
  SCS_COLDESC* rec = static_cast<SCS_COLDESC*>(calloc(1, sizeof(SCS_COLDESC)));
  if (!rec) return KX_ERR_NOMEM;
  int rc = 0;
  if (list->text && strcmp(list->text, "*") == 0) {
    rec->kind = SCS_COL_STAR;
    rc = ARR_Append(out, rec) ? 0 : KX_ERR_NOMEM;
    free(rec);
    return rc;
  }
  ARR* items = ARR_New(sizeof(SQL_NODE*));
  if (!items) {
    free(rec);
    return KX_ERR_NOMEM;
  }
  rc = topSelectItems(list, items);
  if (!rc && items->count == 0) rc = KX_ERR_GENERAL;
  for (uint32_t i = 0; !rc && i < items->count; i++) {
    SQL_NODE* item = *static_cast<SQL_NODE**>(ARR_At(items, i));
    memset(rec, 0, sizeof *rec);
    if (SQL_NODE* table = scr_ChildOfKind(item, 0, SQLN_TABLE)) {
      rec->kind = SCS_COL_TABSTAR;  // t.*
      copyField(rec->table, sizeof rec->table, table->text);
    } else {
      rec->kind = SCS_COL_EXPR;
      // Only a bare column reference (with or without an alias) is a column:
      // expr -> term -> factor -> primary -> column reference, each the only
      // operand and without a sign or parentheses.
      SQL_NODE* expr = scr_ChildOfKind(item, 0, SQLN_ADDEXPR);
      copyField(rec->name, sizeof rec->name, item->text);
      SQL_NODE* term = expr && expr->nchild == 1 ? scr_ChildOfKind(expr, 0, SQLN_MULEXPR) : nullptr;
      SQL_NODE* factor = term && term->nchild == 1 ? scr_ChildOfKind(term, 0, SQLN_UNARY) : nullptr;
      bool signed_ = !factor || !factor->text || strchr(factor->text, '+') || strchr(factor->text, '-');
      SQL_NODE* prim = !signed_ ? scr_ChildOfKind(factor, 0, SQLN_PRIMARY) : nullptr;
      SQL_NODE* col = prim && prim->text && prim->text[0] != '(' ? scr_ChildOfKind(prim, 0, SQLN_COLREF) : nullptr;
      if (col) {
        rec->kind = SCS_COL_COLUMN;
        SCR_ColumnNameSplit(col, rec);
      }
    }
    if (!ARR_Append(out, rec)) rc = KX_ERR_NOMEM;
  }
  ARR_Free(&items, nullptr);
  free(rec);
  return rc;
}

// ---- placeholder expansion ---------------------------------------------------------------

int SCR_ExpandPlaceholder(const char* statement, const char* insert, char** out) {
  if (!out) return KX_ERR_GENERAL;
  *out = nullptr;
  if (!statement) return KX_ERR_GENERAL;
  const char* at = strstr(statement, SCR_PLACEHOLDER);
  // A second occurrence (the bytes inside the application's own literal)
  // would make the place ambiguous.
  if (!at || strstr(at + SCR_PLACEHOLDER_LEN, SCR_PLACEHOLDER)) return KX_ERR_GENERAL;
  if (!insert) insert = "";
  size_t head = static_cast<size_t>(at - statement);
  size_t ins = strlen(insert);
  size_t tail = strlen(at + SCR_PLACEHOLDER_LEN);
  char* r = static_cast<char*>(malloc(head + ins + tail + 1));
  if (!r) return KX_ERR_NOMEM;
  memcpy(r, statement, head);
  memcpy(r + head, insert, ins);
  memcpy(r + head + ins, at + SCR_PLACEHOLDER_LEN, tail + 1);
  *out = r;
  return 0;
}

}  // namespace kx
