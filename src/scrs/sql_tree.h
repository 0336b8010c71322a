// Containers of the SQL parser and its users, the parse tree with its walks,
// the byte-coded templates that regenerate a statement from its tree, and the
// locks the parser shares across the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace kx {

struct MemPool;

// ---- growable array (elements stored by value) --------------------------------
struct ARR {
  uint32_t count;     // elements in use
  uint32_t capacity;  // room; grows by 10
  void* elements;     // capacity zero-filled slots of size bytes
  uint64_t size;      // element size in bytes
};

using ArrDestroyFn = void (*)(void* element);

ARR* ARR_New(uint64_t size);
void ARR_Free(ARR** arr, ArrDestroyFn destroy);
int ARR_Grow(ARR* arr);
int ARR_Append(ARR* arr, const void* element);
int ARR_AppendAll(ARR* dst, const ARR* src);
int ARR_RemoveAt(ARR* arr, uint32_t i, ArrDestroyFn destroy);
// Address of element i (no bounds check beyond count; NULL when out of range).
void* ARR_At(const ARR* arr, uint32_t i);

// ---- unbalanced binary search tree ----------------------------------------------
struct BST;
using BstCompareFn = int (*)(const void* item, const void* key);
using BstCreateFn = int (*)(void** item, const void* key);
using BstDestroyFn = void (*)(void* item);

struct BST_NODE {
  BST_NODE* left;
  BST_NODE* right;
  BST* owner;
  void* item;
};

struct BST {
  BST_NODE* root;
  BstCompareFn compare;
  BstCreateFn create;
  BstDestroyFn destroy;
  int32_t count;
};

BST* BST_New(BstCompareFn compare, BstCreateFn create, BstDestroyFn destroy);
BST_NODE* BST_FindOrInsert(BST* bst, const void* key);
BST_NODE* BST_Find(BST* bst, const void* key);
void BST_Walk(BST* bst, void (*fn)(void* item));
void BST_Free(BST* bst);

// ---- parse tree -------------------------------------------------------------------
enum SqlNodeKind : int32_t {
  SQLN_OTHER = 0, SQLN_AGGNAME = 1, SQLN_ANYALL = 2, SQLN_FNARGS = 3, SQLN_ASSIGN = 4,
  SQLN_ASSIGNLIST = 5, SQLN_BETWEEN = 6, SQLN_HEXLIT = 7, SQLN_BOOLLIT = 8, SQLN_COLALIAS = 9,
  SQLN_COLNAME = 10, SQLN_COLREF = 11, SQLN_COLLIST = 12, SQLN_COMPOP = 13, SQLN_COMPARE = 14,
  SQLN_CORRNAME = 15, SQLN_CURSORNAME = 16, SQLN_DATELIT = 17, SQLN_DELETEPOS = 18,
  SQLN_DELETE = 19, SQLN_PARAM = 20, SQLN_ESCAPE = 21, SQLN_EXISTS = 22, SQLN_ADDEXPR = 23,
  SQLN_UNARY = 24, SQLN_FNNAME = 25, SQLN_IN = 26, SQLN_INNER = 27, SQLN_INSERT = 28,
  SQLN_TABLEEXPR = 29, SQLN_JOINTYPE = 30, SQLN_LIKE = 31, SQLN_LITERAL = 32, SQLN_ISNULL = 33,
  SQLN_DATEESC = 34, SQLN_DTESC = 35, SQLN_ESCOPEN = 36, SQLN_ESCCLOSE = 37, SQLN_OJESC = 38,
  SQLN_FNESC = 39, SQLN_TIMEESC = 40, SQLN_TSESC = 41, SQLN_SETQUANT = 42, SQLN_AS = 43,
  SQLN_ORDERDIR = 44, SQLN_INSCOLS = 45, SQLN_TABLEREF = 46, SQLN_GROUPBY = 47,
  SQLN_HAVING = 48, SQLN_LIKEESC = 49, SQLN_ORDERBYSLOT = 50, SQLN_OUTER = 51,
  SQLN_UNIONSLOT = 52, SQLN_TOP = 53, SQLN_WHERESLOT = 54, SQLN_ORDERBY = 55,
  SQLN_OUTERTYPE = 56, SQLN_MIDNAME = 57, SQLN_PATTERN = 58, SQLN_PREDICATE = 59,
  SQLN_PRIMARY = 60, SQLN_CALLESC = 61, SQLN_JOIN = 62, SQLN_PREFIXNAME = 63, SQLN_ATNAME = 64,
  SQLN_QUANTCMP = 66, SQLN_FNCALL = 67, SQLN_COND = 68, SQLN_CASE = 69, SQLN_WHENLIST = 70,
  SQLN_WHEN = 71, SQLN_QUERYSPEC = 72, SQLN_SELLIST = 73, SQLN_SELECT = 74, SQLN_SELITEM = 75,
  SQLN_AGGREGATE = 76, SQLN_SCASE = 77, SQLN_SWHENLIST = 78, SQLN_SWHEN = 79,
  SQLN_ORDERITEM = 80, SQLN_ORDERLIST = 81, SQLN_OUTERCMP = 84, SQLN_SUBQUERY = 85,
  SQLN_FROMPART = 86, SQLN_TABNAME = 87, SQLN_TABLE = 88, SQLN_TABPRIMARY = 89,
  SQLN_TABLIST = 90, SQLN_MULEXPR = 91, SQLN_TIMELIT = 92, SQLN_TSLIT = 93, SQLN_UNION = 94,
  SQLN_INTLIT = 95, SQLN_UPDATEPOS = 96, SQLN_UPDATE = 97, SQLN_VALUE = 98,
  SQLN_VALUELIST = 99, SQLN_INSSOURCE = 100, SQLN_WHERE = 101,
};

// Texts and templates are malloc'd and owned by the node.
struct SQL_NODE {
  SQL_NODE* child;  // first child
  SQL_NODE* next;   // next sibling
  int32_t kind;     // SqlNodeKind
  int32_t nchild;   // 0 for a leaf
  int32_t done;     // regeneration work counter
  char* text;       // leaf value, or an inner node's regenerated text
  char* tmpl;       // byte-coded template of an inner node, NULL for a leaf
};

constexpr int TREE_MAX_CHILDREN = 10;

using TreeDestroyFn = void (*)(SQL_NODE* node);
using TreeVisitFn = int (*)(SQL_NODE* node, int kind, void* user);
using TreeVisitExclFn = int (*)(SQL_NODE* node, int wanted, int excluded, void* user);

SQL_NODE* TREE_NewLeaf(int kind, const char* text);
SQL_NODE* TREE_NewNode(int kind, const char* tmpl, int n, ...);
SQL_NODE* TREE_NewNode1(int kind, const char* tmpl, SQL_NODE* child);
// Frees the node, its descendants and its chain of later siblings (iteratively).
void TREE_Free(SQL_NODE** node, TreeDestroyFn destroy);
void tree_FreeNodeText(SQL_NODE* node);
// Frees only the children of a node and makes it a leaf with its current text.
void TREE_DropChildren(SQL_NODE* node);
// Child i (0-based) of a node, NULL when absent.
SQL_NODE* TREE_Child(const SQL_NODE* node, int i);
// Replaces a node's text by a copy; 0 when memory runs out (text unchanged).
int TREE_SetText(SQL_NODE* node, const char* text);

void TREE_Visit(SQL_NODE* node, TreeVisitFn cb, int kind, void* user);
void TREE_VisitExcl(SQL_NODE* node, TreeVisitExclFn cb, int wanted, int excluded, void* user);
void TREE_VisitChildren(SQL_NODE* node, TreeVisitFn cb, int kind, void* user);

int tree_CollectKindCb(SQL_NODE* node, int kind, void* user);
int tree_CollectKindExclCb(SQL_NODE* node, int wanted, int excluded, void* user);
int tree_FindKindCb(SQL_NODE* node, int kind, void* user);
int tree_FindKindExclCb(SQL_NODE* node, int wanted, int excluded, void* user);

SQL_NODE* TREE_FindFirst(int kind, SQL_NODE** var);
// The first node of the kind from node: node itself, its subtree, then its later siblings.
SQL_NODE* TREE_FirstFrom(SQL_NODE* node, int kind);
// The first node of the kind within node and its descendants only.
SQL_NODE* TREE_FirstWithin(SQL_NODE* node, int kind);
// Appends matching descendants; 1 on success, 0 when an append failed.
int TREE_CollectFrom(int kind, SQL_NODE* node, ARR* arr);
int TREE_CollectExclFrom(int wanted, int excluded, SQL_NODE* node, ARR* arr);

// Rebuilds every inner node's text from its template and its children's texts.
// Returns 1, or 0 (texts unchanged) for a null root, no memory, or a tree whose
// texts would exceed TREE_TEXT_BUDGET bytes in total.
int TREE_Regenerate(SQL_NODE* root);
constexpr size_t TREE_TEXT_BUDGET = size_t{64} << 20;

// ---- templates ----------------------------------------------------------------------
constexpr unsigned char TPL_ESC = 0xFF;
constexpr unsigned char TPL_ARG = 0x01;
constexpr unsigned char TPL_IF = 0x02;
constexpr unsigned char TPL_ELSEIF = 0x03;
constexpr unsigned char TPL_ELSE = 0x04;
constexpr unsigned char TPL_END = 0x05;
constexpr int TPL_TEST_MATCHALL = 1;
constexpr int TPL_TEST_NOT_MATCHALL = 2;
constexpr int TPL_TEST_WILDCARD = 3;
constexpr int TPL_TEST_NO_WILDCARD = 4;

// Marks the place where the cursor layer inserts text into a rewritten statement.
inline constexpr char SCR_PLACEHOLDER[] = "\x01\x01\x01";
constexpr size_t SCR_PLACEHOLDER_LEN = 3;

int TPL_Expand(MemPool* pool, const char* tmpl, char** args, int argc);
int TPL_IsMatchAll(const char* text);
int TPL_HasLikeWildcard(char* text);

// ---- process-wide locks of the parser ---------------------------------------------
// Created on first use and never destroyed, so they outlive every user.
std::recursive_mutex& scsql_ParserMutex();
std::recursive_mutex& scsql_RegenLock();

}  // namespace kx
