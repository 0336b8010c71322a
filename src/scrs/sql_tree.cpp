// Arrays, search tree, parse-tree nodes, walks and regeneration.
//
// Parse trees can be as deep as a statement is long (a list of N items is N
// nested list nodes), so every walk and every free here keeps its own stack
// instead of recursing.
#include "scrs/sql_tree.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "scrs/sql_template.h"

namespace kx {

// ---- ARR --------------------------------------------------------------------------

ARR* ARR_New(uint64_t size) {
  if (size == 0) return nullptr;
  ARR* arr = static_cast<ARR*>(calloc(1, sizeof(ARR)));
  if (!arr) return nullptr;
  arr->elements = calloc(10, size);
  if (!arr->elements) {
    free(arr);
    return nullptr;
  }
  arr->capacity = 10;
  arr->size = size;
  return arr;
}

void ARR_Free(ARR** parr, ArrDestroyFn destroy) {
  if (!parr || !*parr) return;
  ARR* arr = *parr;
  if (arr->elements) {
    if (destroy) {
      for (uint32_t i = 0; i < arr->count; i++) destroy(static_cast<char*>(arr->elements) + i * arr->size);
    }
    free(arr->elements);
  }
  free(arr);
  *parr = nullptr;
}

int ARR_Grow(ARR* arr) {
  if (!arr || !arr->elements) return 0;
  // Steps of 10 for small lists; half the capacity beyond that, so a list of
  // thousands of large records is not copied over and over.
  uint64_t step = arr->capacity / 2 > 10 ? arr->capacity / 2 : 10;
  uint64_t newCap = uint64_t{arr->capacity} + step;
  if (newCap > UINT32_MAX || newCap > SIZE_MAX / arr->size) return 0;
  void* fresh = realloc(arr->elements, newCap * arr->size);
  if (!fresh) return 0;
  memset(static_cast<char*>(fresh) + arr->capacity * arr->size, 0, (newCap - arr->capacity) * arr->size);
  arr->elements = fresh;
  arr->capacity = static_cast<uint32_t>(newCap);
  return 1;
}

int ARR_Append(ARR* arr, const void* element) {
  if (!arr || !element) return 0;
  if (arr->count >= arr->capacity && !ARR_Grow(arr)) return 0;
  memcpy(static_cast<char*>(arr->elements) + arr->count * arr->size, element, arr->size);
  arr->count++;
  return 1;
}

int ARR_AppendAll(ARR* dst, const ARR* src) {
  if (!dst || !src || dst->size != src->size) return 0;
  uint32_t n = src->count;  // dst may be src: append only what was there
  // Room first, so that src's storage does not move while it is read.
  while (dst->capacity - dst->count < n) {
    if (!ARR_Grow(dst)) break;
  }
  for (uint32_t i = 0; i < n; i++) {
    if (dst == src && dst->count >= dst->capacity) return 0;
    if (!ARR_Append(dst, static_cast<const char*>(src->elements) + i * src->size)) return 0;
  }
  return 1;
}

int ARR_RemoveAt(ARR* arr, uint32_t i, ArrDestroyFn destroy) {
  if (!arr || i >= arr->count) return 0;
  char* base = static_cast<char*>(arr->elements);
  if (destroy) destroy(base + i * arr->size);
  memmove(base + i * arr->size, base + (i + 1) * arr->size, (arr->count - i - 1) * arr->size);
  arr->count--;
  memset(base + arr->count * arr->size, 0, arr->size);
  return 1;
}

void* ARR_At(const ARR* arr, uint32_t i) {
  if (!arr || i >= arr->count) return nullptr;
  return static_cast<char*>(arr->elements) + i * arr->size;
}

// ---- BST --------------------------------------------------------------------------

BST* BST_New(BstCompareFn compare, BstCreateFn create, BstDestroyFn destroy) {
  if (!compare || !create || !destroy) return nullptr;
  BST* bst = static_cast<BST*>(calloc(1, sizeof(BST)));
  if (!bst) return nullptr;
  bst->compare = compare;
  bst->create = create;
  bst->destroy = destroy;
  return bst;
}

BST_NODE* BST_Find(BST* bst, const void* key) {
  if (!bst) return nullptr;
  BST_NODE* n = bst->root;
  while (n) {
    int c = bst->compare(n->item, key);
    if (c == 0) return n;
    n = c < 0 ? n->left : n->right;
  }
  return nullptr;
}

BST_NODE* BST_FindOrInsert(BST* bst, const void* key) {
  if (!bst) return nullptr;
  BST_NODE** link = &bst->root;
  while (*link) {
    int c = bst->compare((*link)->item, key);
    if (c == 0) return *link;
    link = c < 0 ? &(*link)->left : &(*link)->right;
  }
  BST_NODE* node = static_cast<BST_NODE*>(calloc(1, sizeof(BST_NODE)));
  if (!node) return nullptr;
  if (!bst->create(&node->item, key)) {
    free(node);
    return nullptr;
  }
  node->owner = bst;
  *link = node;
  bst->count++;
  return node;
}

void BST_Walk(BST* bst, void (*fn)(void* item)) {
  if (!bst || !fn) return;
  std::vector<BST_NODE*> stack;
  BST_NODE* n = bst->root;
  try {
    while (n || !stack.empty()) {
      while (n) {
        stack.push_back(n);
        n = n->left;
      }
      n = stack.back();
      stack.pop_back();
      fn(n->item);
      n = n->right;
    }
  } catch (const std::bad_alloc&) {
    // An in-order walk that cannot keep its stack ends early.
  }
}

void BST_Free(BST* bst) {
  if (!bst) return;
  // Rotate left children up so the tree becomes a right-leaning list that can
  // be freed in a loop, without any extra memory.
  BST_NODE* n = bst->root;
  while (n) {
    if (n->left) {
      BST_NODE* l = n->left;
      n->left = l->right;
      l->right = n;
      n = l;
    } else {
      BST_NODE* r = n->right;
      bst->destroy(n->item);
      free(n->item);
      free(n);
      bst->count--;
      n = r;
    }
  }
  free(bst);
}

// ---- nodes ------------------------------------------------------------------------

namespace {

char* dupText(const char* text) {
  if (!text) text = "";
  size_t len = strlen(text);
  char* p = static_cast<char*>(malloc(len + 1));
  if (p) memcpy(p, text, len + 1);
  return p;
}

}  // namespace

SQL_NODE* TREE_NewLeaf(int kind, const char* text) {
  SQL_NODE* n = static_cast<SQL_NODE*>(calloc(1, sizeof(SQL_NODE)));
  if (!n) return nullptr;
  n->kind = kind;
  n->text = dupText(text);
  if (!n->text) {
    free(n);
    return nullptr;
  }
  return n;
}

SQL_NODE* TREE_NewNode(int kind, const char* tmpl, int n, ...) {
  if (n < 1 || n > TREE_MAX_CHILDREN) return nullptr;
  SQL_NODE* kids[TREE_MAX_CHILDREN];
  va_list ap;
  va_start(ap, n);
  for (int i = 0; i < n; i++) kids[i] = va_arg(ap, SQL_NODE*);
  va_end(ap);
  SQL_NODE* node = static_cast<SQL_NODE*>(calloc(1, sizeof(SQL_NODE)));
  if (!node) return nullptr;
  node->text = dupText("");
  node->tmpl = dupText(tmpl);
  if (!node->text || !node->tmpl) {
    free(node->text);
    free(node->tmpl);
    free(node);
    return nullptr;
  }
  node->kind = kind;
  node->nchild = n;
  node->child = kids[0];
  for (int i = 0; i < n; i++) {
    if (kids[i]) kids[i]->next = i + 1 < n ? kids[i + 1] : nullptr;
  }
  return node;
}

SQL_NODE* TREE_NewNode1(int kind, const char* tmpl, SQL_NODE* child) {
  return TREE_NewNode(kind, tmpl, 1, child);
}

void tree_FreeNodeText(SQL_NODE* node) {
  if (!node) return;
  free(node->text);
  free(node->tmpl);
  node->text = nullptr;
  node->tmpl = nullptr;
}

void TREE_Free(SQL_NODE** pnode, TreeDestroyFn destroy) {
  if (!pnode || !*pnode) return;
  // Splice each node's children in front of its siblings: a single chain that
  // is consumed front to back, so any depth is freed without a stack.
  SQL_NODE* n = *pnode;
  *pnode = nullptr;
  while (n) {
    if (n->child) {
      SQL_NODE* last = n->child;
      while (last->next) last = last->next;
      last->next = n->next;
      n->next = n->child;
      n->child = nullptr;
    }
    SQL_NODE* following = n->next;
    if (destroy) destroy(n);
    free(n);
    n = following;
  }
}

void TREE_DropChildren(SQL_NODE* node) {
  if (!node) return;
  TREE_Free(&node->child, tree_FreeNodeText);
  free(node->tmpl);
  node->tmpl = nullptr;
  node->nchild = 0;
}

SQL_NODE* TREE_Child(const SQL_NODE* node, int i) {
  if (!node || i < 0 || i >= node->nchild) return nullptr;
  SQL_NODE* c = node->child;
  while (c && i-- > 0) c = c->next;
  return c;
}

int TREE_SetText(SQL_NODE* node, const char* text) {
  if (!node) return 0;
  char* p = dupText(text);
  if (!p) return 0;
  free(node->text);
  node->text = p;
  return 1;
}

// ---- walks ------------------------------------------------------------------------

namespace {

// Preorder over node, its subtree and its later siblings; a zero from the
// visitor skips the node's children and its later siblings. Returns false
// when the walk could not keep its stack.
template <typename Fn>
bool walk(SQL_NODE* start, Fn&& fn) {
  try {
    std::vector<SQL_NODE*> stack;
    stack.push_back(start);
    while (!stack.empty()) {
      SQL_NODE* n = stack.back();
      stack.pop_back();
      if (!n || !fn(n)) continue;
      if (n->next) stack.push_back(n->next);
      if (n->child) stack.push_back(n->child);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

void TREE_Visit(SQL_NODE* node, TreeVisitFn cb, int kind, void* user) {
  if (!node || !cb) return;
  walk(node, [&](SQL_NODE* n) { return cb(n, kind, user) != 0; });
}

void TREE_VisitExcl(SQL_NODE* node, TreeVisitExclFn cb, int wanted, int excluded, void* user) {
  if (!node || !cb) return;
  walk(node, [&](SQL_NODE* n) { return cb(n, wanted, excluded, user) != 0; });
}

void TREE_VisitChildren(SQL_NODE* node, TreeVisitFn cb, int kind, void* user) {
  if (!node || !cb) return;
  if (cb(node, kind, user)) TREE_Visit(node->child, cb, kind, user);
}

int tree_CollectKindCb(SQL_NODE* node, int kind, void* user) {
  if (!node || !user) return 0;
  if (node->kind == kind) return ARR_Append(static_cast<ARR*>(user), &node);
  return 1;
}

int tree_CollectKindExclCb(SQL_NODE* node, int wanted, int excluded, void* user) {
  if (!node || !user) return 0;
  if (node->kind == excluded) return 0;
  if (node->kind == wanted) return ARR_Append(static_cast<ARR*>(user), &node);
  return 1;
}

int tree_FindKindCb(SQL_NODE* node, int kind, void* user) {
  if (!node || !user) return 0;
  SQL_NODE** found = static_cast<SQL_NODE**>(user);
  if (*found) return 0;
  if (node->kind == kind) {
    *found = node;
    return 0;
  }
  return 1;
}

int tree_FindKindExclCb(SQL_NODE* node, int wanted, int excluded, void* user) {
  if (!node || !user) return 0;
  SQL_NODE** found = static_cast<SQL_NODE**>(user);
  if (*found) return 0;
  if (node->kind == excluded) return 0;
  if (node->kind == wanted) {
    *found = node;
    return 0;
  }
  return 1;
}

SQL_NODE* TREE_FindFirst(int kind, SQL_NODE** var) {
  if (!var) return nullptr;
  SQL_NODE* start = *var;
  *var = nullptr;
  SQL_NODE* found = nullptr;
  // Stops as soon as the node is found (the visitor then refuses everything).
  walk(start, [&](SQL_NODE* n) {
    if (found) return false;
    if (n->kind == kind) {
      found = n;
      return false;
    }
    return true;
  });
  *var = found;
  return found;
}

SQL_NODE* TREE_FirstFrom(SQL_NODE* node, int kind) {
  SQL_NODE* var = node;
  return TREE_FindFirst(kind, &var);
}

SQL_NODE* TREE_FirstWithin(SQL_NODE* node, int kind) {
  if (!node) return nullptr;
  if (node->kind == kind) return node;
  return TREE_FirstFrom(node->child, kind);
}

int TREE_CollectFrom(int kind, SQL_NODE* node, ARR* arr) {
  if (!node || !arr || !node->child) return 1;
  bool ok = true;
  bool walked = walk(node->child, [&](SQL_NODE* n) {
    if (!ok) return false;
    if (n->kind == kind && !ARR_Append(arr, &n)) ok = false;
    return ok;
  });
  return ok && walked ? 1 : 0;
}

int TREE_CollectExclFrom(int wanted, int excluded, SQL_NODE* node, ARR* arr) {
  if (!node || !arr || !node->child) return 1;
  bool ok = true;
  bool walked = walk(node->child, [&](SQL_NODE* n) {
    if (!ok || n->kind == excluded) return false;
    if (n->kind == wanted && !ARR_Append(arr, &n)) ok = false;
    return ok;
  });
  return ok && walked ? 1 : 0;
}

// ---- regeneration -----------------------------------------------------------------

namespace {

bool startsWithArg(const char* tmpl, int n) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(tmpl);
  return t && t[0] == TPL_ESC && t[1] == TPL_ARG && t[2] == n;
}

bool endsWithArg(const char* tmpl, int n) {
  size_t len = tmpl ? strlen(tmpl) : 0;
  if (len < 3) return false;
  const unsigned char* t = reinterpret_cast<const unsigned char*>(tmpl) + len - 3;
  return t[0] == TPL_ESC && t[1] == TPL_ARG && t[2] == n;
}

// A node that continues a list or chain of its own kind (the first child of
// "{1}, {2}", the last child of a right-recursive list) adds nothing a caller
// looks at: its text is handed to its parent instead of being kept, so a long
// list regenerates in linear time and memory.
bool continuesChain(const SQL_NODE* parent, const SQL_NODE* node, int index) {
  if (!parent || node->nchild == 0 || node->kind != parent->kind) return false;
  if (index == 0 && startsWithArg(parent->tmpl, 1)) return true;
  return index == parent->nchild - 1 && index > 0 && endsWithArg(parent->tmpl, index + 1);
}

struct Frame {
  SQL_NODE* node;
  SQL_NODE* nextChild;
  int visited;
  size_t valBase;
};

struct Pending {
  SQL_NODE* node;
  char* text;
};

}  // namespace

int TREE_Regenerate(SQL_NODE* root) {
  if (!root) return 0;
  std::lock_guard<std::recursive_mutex> guard(scsql_RegenLock());
  std::vector<Pending> pending;
  bool ok = true;
  try {
    std::vector<Frame> stack;
    std::vector<std::string> vals;
    size_t stored = 0;
    stack.push_back({root, root->nchild ? root->child : nullptr, 0, 0});
    while (!stack.empty() && ok) {
      Frame& f = stack.back();
      SQL_NODE* n = f.node;
      if (n->nchild == 0) {
        vals.emplace_back(n->text ? n->text : "");
        stack.pop_back();
        continue;
      }
      if (f.nextChild && f.visited < n->nchild) {
        SQL_NODE* c = f.nextChild;
        f.nextChild = c->next;
        f.visited++;
        size_t base = vals.size();
        stack.push_back({c, c->nchild ? c->child : nullptr, 0, base});
        continue;
      }
      // Every child has its text: expand this node's template.
      size_t base = f.valBase;
      int argc = f.visited;
      const Frame* parentFrame = stack.size() > 1 ? &stack[stack.size() - 2] : nullptr;
      int index = parentFrame ? parentFrame->visited - 1 : 0;
      std::string out;
      std::vector<char*> argv(static_cast<size_t>(argc));
      for (int i = 0; i < argc; i++) argv[i] = vals[base + i].data();
      const char* tmpl = n->tmpl ? n->tmpl : "";
      if (argc > 0 && startsWithArg(tmpl, 1) && n->child && continuesChain(n, n->child, 0)) {
        out = std::move(vals[base]);
        argv[0] = nullptr;
        tpl_ExpandTo(out, tmpl + 3, argv.data(), argc);
      } else {
        tpl_ExpandTo(out, tmpl, argv.data(), argc);
      }
      vals.resize(base);
      SQL_NODE* parent = parentFrame ? parentFrame->node : nullptr;
      bool keep = !continuesChain(parent, n, index);
      char* copy = dupText(keep ? out.c_str() : "");
      if (!copy) throw std::bad_alloc();
      pending.push_back({n, copy});
      if (keep) {
        stored += out.size();
        if (stored > TREE_TEXT_BUDGET) ok = false;
      }
      n->done = argc;
      stack.pop_back();
      vals.push_back(std::move(out));
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    for (Pending& p : pending) free(p.text);
    return 0;
  }
  for (Pending& p : pending) {
    free(p.node->text);
    p.node->text = p.text;
  }
  return 1;
}

// ---- locks ------------------------------------------------------------------------

std::recursive_mutex& scsql_ParserMutex() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

std::recursive_mutex& scsql_RegenLock() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

}  // namespace kx
