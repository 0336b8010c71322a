// Helpers of the parser tests: token and tree dumps, regeneration by text.
#pragma once

#include <string>

#include "scrs/sql_analysis.h"
#include "scrs/sql_parser.h"
#include "scrs/sql_tree.h"

namespace kx::test {

// "IDENT:a , ..." for the tokens of a statement, ending at the end or at the
// first refused character ("ERROR").
std::string Tokens(const std::string& sql);

// Kinds of a tree: "SELECT(QUERYSPEC(TOP(SETQUANT) ...) ORDERBYSLOT)".
std::string Kinds(const SQL_NODE* node);
const char* KindName(int kind);

// Makes template bytes readable: {n} for an argument, "#" for the placeholder.
std::string Show(const std::string& bytes);

// Analyses and returns the regenerated text (placeholders shown as "#"), or
// "<code> <errMsg> | <error text>" on failure.
std::string Regen(const std::string& sql);

// Parses into a tree dump, or "<code>" on failure.
std::string Tree(const std::string& sql);

// A statement's top-level subtree dump below a node of the kind (first found).
std::string TreeOf(const std::string& sql, int kind);

}  // namespace kx::test
