#include "agent/connect.h"

#include <cstdlib>

namespace kx {

ConnectBlock* ConnectBlockFree(ConnectBlock* block) {
  if (block == nullptr) return nullptr;
  char** owned[] = {&block->host,      &block->options,   &block->serverType, &block->dbPath,
                    &block->dataSource, &block->dbOptions, &block->user,       &block->password,
                    &block->afterTimeout, &block->appName};
  for (char** p : owned) {
    std::free(*p);
    *p = nullptr;
  }
  return block;
}

}  // namespace kx
