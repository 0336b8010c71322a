#include "scrs_test_util.h"

#include <cstring>
#include <vector>

namespace kx::test {

namespace {

const char* TokenName(int code) {
  switch (code) {
    case SQLT_IDENT: return "IDENT";
    case SQLT_STRING: return "STRING";
    case SQLT_INTNUM: return "INTNUM";
    case SQLT_DECNUM: return "DECNUM";
    case SQLT_FLOATNUM: return "FLOATNUM";
    case SQLT_COMPOP: return "COMPOP";
    case SQLT_AGGNAME: return "AGGNAME";
    case SQLT_ESCAPECLAUSE: return "ESCAPECLAUSE";
    case SQLT_DATELIT: return "DATELIT";
    case SQLT_TIMELIT: return "TIMELIT";
    case SQLT_TSLIT: return "TSLIT";
    case SQLT_HEXNUM: return "HEXNUM";
    case SQLT_OUTEROP: return "OUTEROP";
    case SQLT_CONCAT: return "CONCAT";
    case SQLT_OR: return "OR";
    case SQLT_AND: return "AND";
    case SQLT_NOT: return "NOT";
    case SQLT_OTHERWORD: return "OTHERWORD";
    case SQLT_PARAM: return "PARAM";
    case SQLT_VENDOR_OPEN: return "VENDOR_OPEN";
    case SQLT_VENDOR_CLOSE: return "VENDOR_CLOSE";
    case SQLT_LBRACE: return "LBRACE";
    case SQLT_RBRACE: return "RBRACE";
    case SQLT_CALL_BRACE: return "CALL_BRACE";
    case SQLT_SELECT: return "SELECT";
    case SQLT_UPDATE: return "UPDATE";
    case SQLT_DELETE: return "DELETE";
    case SQLT_INSERT: return "INSERT";
    case SQLT_FROM: return "FROM";
    case SQLT_WHERE: return "WHERE";
    case SQLT_ORDER: return "ORDER";
    case SQLT_BY: return "BY";
    case SQLT_LEFT: return "LEFT";
    case SQLT_RIGHT: return "RIGHT";
    case SQLT_FULL: return "FULL";
    case SQLT_INNER: return "INNER";
    case SQLT_OUTER: return "OUTER";
    case SQLT_JOIN: return "JOIN";
    case SQLT_ON: return "ON";
    case SQLT_FN: return "FN";
    case SQLT_OJ: return "OJ";
    case SQLT_IN: return "IN";
    case SQLT_AS: return "AS";
    case SQLT_NULL: return "NULL";
    case SQLT_END_KW: return "END";
    case SQLT_USER: return "USER";
    default: return nullptr;
  }
}

const char* const kKindNames[] = {
    "OTHER", "AGGNAME", "ANYALL", "FNARGS", "ASSIGN", "ASSIGNLIST", "BETWEEN", "HEXLIT", "BOOLLIT",
    "COLALIAS", "COLNAME", "COLREF", "COLLIST", "COMPOP", "COMPARE", "CORRNAME", "CURSORNAME",
    "DATELIT", "DELETEPOS", "DELETE", "PARAM", "ESCAPE", "EXISTS", "ADDEXPR", "UNARY", "FNNAME",
    "IN", "INNER", "INSERT", "TABLEEXPR", "JOINTYPE", "LIKE", "LITERAL", "ISNULL", "DATEESC",
    "DTESC", "ESCOPEN", "ESCCLOSE", "OJESC", "FNESC", "TIMEESC", "TSESC", "SETQUANT", "AS",
    "ORDERDIR", "INSCOLS", "TABLEREF", "GROUPBY", "HAVING", "LIKEESC", "ORDERBYSLOT", "OUTER",
    "UNIONSLOT", "TOP", "WHERESLOT", "ORDERBY", "OUTERTYPE", "MIDNAME", "PATTERN", "PREDICATE",
    "PRIMARY", "CALLESC", "JOIN", "PREFIXNAME", "ATNAME", "?65", "QUANTCMP", "FNCALL", "COND",
    "CASE", "WHENLIST", "WHEN", "QUERYSPEC", "SELLIST", "SELECT", "SELITEM", "AGGREGATE", "SCASE",
    "SWHENLIST", "SWHEN", "ORDERITEM", "ORDERLIST", "?82", "?83", "OUTERCMP", "SUBQUERY",
    "FROMPART", "TABNAME", "TABLE", "TABPRIMARY", "TABLIST", "MULEXPR", "TIMELIT", "TSLIT",
    "UNION", "INTLIT", "UPDATEPOS", "UPDATE", "VALUE", "VALUELIST", "INSSOURCE", "WHERE"};

void DumpKinds(const SQL_NODE* node, std::string& out) {
  out += KindName(node->kind);
  if (node->nchild == 0) return;
  out += "(";
  int i = 0;
  for (const SQL_NODE* c = node->child; c && i < node->nchild; c = c->next, i++) {
    if (i) out += " ";
    DumpKinds(c, out);
  }
  out += ")";
}

}  // namespace

const char* KindName(int kind) {
  if (kind >= 0 && kind < static_cast<int>(sizeof kKindNames / sizeof kKindNames[0])) return kKindNames[kind];
  return "?";
}

std::string Tokens(const std::string& sql) {
  SqlParseCtx ctx{};
  scsql_ParseStart(&ctx, sql.data(), sql.size());
  scsql_InternBegin(&ctx);
  std::string out;
  for (int guard = 0; guard < 1000; guard++) {
    const SQL_TOKVAL* val = nullptr;
    int code = scsql_NextToken(&ctx, &val);
    if (code == SQLT_END) break;
    if (!out.empty()) out += " ";
    if (code == SQLT_LEXERROR) {
      out += "ERROR";
      break;
    }
    if (code < 256) {
      out += static_cast<char>(code);
    } else if (const char* n = TokenName(code)) {
      out += n;
    } else {
      out += std::to_string(code);
    }
    if (val) out += ":" + std::string(val->text);
  }
  scsql_ParseEnd(&ctx);
  return out;
}

std::string Kinds(const SQL_NODE* node) {
  std::string out;
  if (node) DumpKinds(node, out);
  return out;
}

std::string Show(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i++) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0xFF && i + 2 < bytes.size() && bytes[i + 1] == 1) {
      out += "{" + std::to_string(static_cast<unsigned char>(bytes[i + 2])) + "}";
      i += 2;
    } else if (bytes.compare(i, 3, "\x01\x01\x01") == 0) {
      out += "#";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Regen(const std::string& sql) {
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  int rc = SCR_AnalyseSQL(&a, sql.c_str(), 1, 0);
  std::string out;
  if (rc) {
    out = std::to_string(rc) + " " + (a.errMsg ? a.errMsg : "") + " | " + (a.sql ? a.sql : "");
  } else {
    out = Show(a.root->text);
  }
  SCR_FreeAnalysis(&a);
  return out;
}

std::string Tree(const std::string& sql) {
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  int rc = SCR_AnalyseSQL(&a, sql.c_str(), 1, 0);
  std::string out = rc ? std::to_string(rc) : Kinds(a.root);
  SCR_FreeAnalysis(&a);
  return out;
}

std::string TreeOf(const std::string& sql, int kind) {
  SCR_ANALYSIS a;
  SCR_InitAnalysis(&a);
  int rc = SCR_AnalyseSQL(&a, sql.c_str(), 1, 0);
  std::string out = rc ? std::to_string(rc) : Kinds(TREE_FirstFrom(a.root, kind));
  SCR_FreeAnalysis(&a);
  return out;
}

}  // namespace kx::test
