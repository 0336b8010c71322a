// The published names of result codes, for the traces: one table per kind of
// code and one lookup for all of them.
#pragma once

#include <cstddef>

namespace kx {

template <typename Code>
struct CodeName {
  Code code;
  const char* name;
};

// The name the table gives code, else unknown.
template <typename Code, size_t N>
const char* CodeNameOf(const CodeName<Code> (&table)[N], Code code, const char* unknown) {
  for (const CodeName<Code>& n : table) {
    if (n.code == code) return n.name;
  }
  return unknown;
}

}  // namespace kx
