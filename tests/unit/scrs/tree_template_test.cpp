// Arrays, search tree, tree walks and the template language.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scrs/sql_tree.h"
#include "scrs_test_util.h"
#include "util/mem_pool.h"

namespace kx::test {
namespace {

std::string Expand(const std::string& tmpl, std::vector<const char*> args) {
  std::vector<std::string> copies;
  std::vector<char*> argv;
  copies.reserve(args.size());
  for (const char* a : args) {
    if (a) {
      copies.emplace_back(a);
      argv.push_back(copies.back().data());
    } else {
      argv.push_back(nullptr);
    }
  }
  MemPool pool{};
  mpl_init(&pool);
  TPL_Expand(&pool, tmpl.c_str(), argv.data(), static_cast<int>(argv.size()));
  std::string out = mpl_finish(&pool);
  mpl_free_all(&pool);
  return out;
}

const std::string A1 = "\xFF\x01\x01", A2 = "\xFF\x01\x02", A3 = "\xFF\x01\x03";
const std::string IF_MATCHALL_1 = std::string("\xFF\x02\x01\x01\x01");
const std::string ELSE_1 = "\xFF\x04\x01", END_1 = "\xFF\x05\x01";

TEST(Template, ArgumentCodes) {
  EXPECT_EQ(Expand(A1 + " = " + A2, {"a", nullptr}), "a = ");
  EXPECT_EQ(Expand(A3, {"a", "b"}), "NULL");
  EXPECT_EQ(Expand(std::string("x\xFF\x01") + std::string(1, '\0'), {"a"}), "x");
  EXPECT_EQ(Expand("\xFF\x09zz", {}), "zz");  // an unknown code byte vanishes
  EXPECT_EQ(Expand("\xFF", {}), "");         // a code cut by the end stops cleanly
}

TEST(Template, ConditionalGroups) {
  const std::string group = IF_MATCHALL_1 + "ALL" + ELSE_1 + "SOME" + END_1 + ".";
  EXPECT_EQ(Expand(group, {"%"}), "ALL.");
  EXPECT_EQ(Expand(group, {"  "}), "ALL.");
  EXPECT_EQ(Expand(group, {nullptr}), "ALL.");
  EXPECT_EQ(Expand(group, {"x"}), "SOME.");
  // else-if: wildcard test on argument 1
  const std::string chain = IF_MATCHALL_1 + "ALL" + std::string("\xFF\x03\x01\x03\x01") + "LIKE" + ELSE_1 + "EQ" + END_1;
  EXPECT_EQ(Expand(chain, {"a%"}), "LIKE");
  EXPECT_EQ(Expand(chain, {"ab"}), "EQ");
  // a group whose end is missing stops at the template's end
  EXPECT_EQ(Expand(IF_MATCHALL_1 + "ALL", {"x"}), "");
}

TEST(Template, MatchAllAndWildcards) {
  EXPECT_EQ(TPL_IsMatchAll(" %"), 0);
  EXPECT_EQ(TPL_IsMatchAll(""), 1);
  EXPECT_EQ(TPL_IsMatchAll("%"), 1);
  char t1[] = "a\\_b";
  EXPECT_EQ(TPL_HasLikeWildcard(t1), 0);
  EXPECT_STREQ(t1, "a_b");
  char t2[] = "a\\_b%";
  EXPECT_EQ(TPL_HasLikeWildcard(t2), 1);
  EXPECT_STREQ(t2, "a\\_b%");
  char t3[] = "%x";
  EXPECT_EQ(TPL_HasLikeWildcard(t3), 1);
}

TEST(Arr, GrowthKeepsOrderAndSizesMustMatch) {
  EXPECT_EQ(ARR_New(0), nullptr);
  ARR* a = ARR_New(sizeof(int));
  for (int i = 0; i < 11; i++) ASSERT_EQ(ARR_Append(a, &i), 1);
  EXPECT_EQ(a->capacity, 20u);
  for (int i = 0; i < 11; i++) EXPECT_EQ(*static_cast<int*>(ARR_At(a, i)), i);
  ARR* b = ARR_New(sizeof(long));
  EXPECT_EQ(ARR_AppendAll(b, a), 0);
  EXPECT_EQ(b->count, 0u);
  EXPECT_EQ(ARR_AppendAll(a, a), 1);  // onto itself: the storage grows while read
  ASSERT_EQ(a->count, 22u);
  EXPECT_EQ(*static_cast<int*>(ARR_At(a, 21)), 10);
  EXPECT_EQ(ARR_RemoveAt(a, 0, nullptr), 1);
  EXPECT_EQ(*static_cast<int*>(ARR_At(a, 0)), 1);
  EXPECT_EQ(ARR_RemoveAt(a, 21, nullptr), 0);
  ARR_Free(&a, nullptr);
  ARR_Free(&b, nullptr);
  EXPECT_EQ(a, nullptr);
}

int CmpInt(const void* item, const void* key) { return *static_cast<const int*>(key) - *static_cast<const int*>(item); }
int MakeInt(void** item, const void* key) {
  int* p = static_cast<int*>(malloc(sizeof(int)));
  *p = *static_cast<const int*>(key);
  *item = p;
  return 1;
}
void NoDestroy(void*) {}
std::vector<int> g_walked;
void Collect(void* item) { g_walked.push_back(*static_cast<int*>(item)); }

TEST(Bst, InsertFindWalkFree) {
  EXPECT_EQ(BST_New(CmpInt, nullptr, NoDestroy), nullptr);
  BST* t = BST_New(CmpInt, MakeInt, NoDestroy);
  // An ascending run makes a degenerate tree; walk and free must not recurse.
  for (int i = 0; i < 20000; i++) ASSERT_NE(BST_FindOrInsert(t, &i), nullptr);
  int k = 7;
  EXPECT_EQ(BST_FindOrInsert(t, &k), BST_Find(t, &k));
  EXPECT_EQ(t->count, 20000);
  int missing = -1;
  EXPECT_EQ(BST_Find(t, &missing), nullptr);
  g_walked.clear();
  BST_Walk(t, Collect);
  ASSERT_EQ(g_walked.size(), 20000u);
  EXPECT_EQ(g_walked.front(), 0);
  EXPECT_EQ(g_walked.back(), 19999);
  BST_Free(t);
}

int StopAtFirstChild(SQL_NODE* n, int, void* user) {
  static_cast<std::vector<std::string>*>(user)->push_back(n->text);
  return strcmp(n->text, "b") != 0;
}

TEST(Tree, VisitStopsAtARefusingNodeAndItsLaterSiblings) {
  SQL_NODE* root = TREE_NewNode(SQLN_SELLIST, "", 3, TREE_NewLeaf(SQLN_COLNAME, "b"),
                                TREE_NewLeaf(SQLN_COLNAME, "c"), TREE_NewLeaf(SQLN_COLNAME, "d"));
  TREE_SetText(root, "a");
  std::vector<std::string> seen;
  TREE_Visit(root, StopAtFirstChild, 0, &seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
  SQL_NODE* var = root;
  EXPECT_EQ(TREE_FindFirst(SQLN_SELLIST, &var), root);
  var = root;
  EXPECT_EQ(TREE_FindFirst(SQLN_COLNAME, &var), root->child);
  TREE_Free(&root, tree_FreeNodeText);
  EXPECT_EQ(root, nullptr);
}

TEST(Tree, RegenerationIsRepeatableAndUpdatesEveryStoredNode) {
  SQL_NODE* root = TREE_NewNode(SQLN_COMPARE, (A1 + " = " + A2).c_str(), 2, TREE_NewLeaf(SQLN_COLNAME, "a"),
                                TREE_NewNode(SQLN_ADDEXPR, ("(" + A1 + ")").c_str(), 1, TREE_NewLeaf(SQLN_PARAM, "?")));
  ASSERT_EQ(TREE_Regenerate(root), 1);
  EXPECT_STREQ(root->text, "a = (?)");
  EXPECT_STREQ(root->child->next->text, "(?)");
  ASSERT_EQ(TREE_Regenerate(root), 1);
  EXPECT_STREQ(root->text, "a = (?)");
  EXPECT_EQ(TREE_Regenerate(nullptr), 0);
  TREE_Free(&root, tree_FreeNodeText);
}

TEST(Tree, DeepTreesAreWalkedAndFreedWithoutRecursion) {
  // A chain deeper than any C stack would take recursively.
  SQL_NODE* n = TREE_NewLeaf(SQLN_COLNAME, "x");
  for (int i = 0; i < 300000; i++) n = TREE_NewNode(SQLN_PRIMARY, "\xFF\x01\x01", 1, n);
  SQL_NODE* var = n;
  EXPECT_NE(TREE_FindFirst(SQLN_COLNAME, &var), nullptr);
  TREE_Free(&n, tree_FreeNodeText);
}

}  // namespace
}  // namespace kx::test
