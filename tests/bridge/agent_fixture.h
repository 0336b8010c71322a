// What the agent tests share: an agent session driven only through the
// agent's operation table (server, connection, statements), parameter blocks
// built as the core builds them, and readers for fetched blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "bridge_support.h"
#include "drv_jdbc/j_agent.h"
#include "util/row_buffer.h"
#include "util/text_conv.h"

namespace kxtest {

// Texts of the messages on an agent handle (DRV_GetMessages), one a line.
inline std::string AgentMessages(const kx::AgentOps* ops, kx::AgentHandle h) {
  kx::AgentMsgBlock block{};
  std::string out;
  if (ops->DRV_GetMessages(h, &block) != 0) return "<no messages: bad handle>";
  for (uint32_t i = 0; i < block.count; ++i) {
    if (block.texts[i] != nullptr) out += std::string(block.texts[i]) + "\n";
    std::free(block.texts[i]);
  }
  std::free(block.texts);
  return out;
}

class AgentSession {
 public:
  const kx::AgentOps* ops = kx::JDB_AgentOps();
  kx::AgentHandle server = 0;
  kx::AgentHandle conn = 0;
  kx::AgentConnOptions connOptions{};  // the connect options the next Connect hands over

  AgentSession() {
    Env();  // the jar directory and the process's VM
    kx::JDB_BrokerKnown = 1;
    kx::AgentServerOptions options{nullptr, nullptr, nullptr};
    EXPECT_EQ(0, ops->DRV_AllocServer(&options, &server));
  }
  ~AgentSession() {
    if (conn != 0) ops->DRV_Disconnect(conn);
    if (server != 0) ops->DRV_FreeServer(server);
    std::free(connOptions.initSql);
    std::free(connOptions.sqlDbmsName);
  }
  AgentSession(const AgentSession&) = delete;
  AgentSession& operator=(const AgentSession&) = delete;

  // Connects with the property list; the Unicode-client prefix when wide.
  int Connect(const std::string& props, const std::string& user = "",
              const std::string& password = "", bool wide = true, int readOnly = 0) {
    std::string options = wide ? std::string("W\x7f\x01\x01", 4) : std::string();
    std::string url = props, u = user, p = password;
    kx::ConnectBlock block{};
    block.options = options.data();
    block.dbOptions = props.empty() ? nullptr : url.data();
    block.readOnly = readOnly;
    block.user = u.data();
    block.password = p.data();
    block.connOptions = &connOptions;
    return ops->DRV_Connect(server, &block, &conn);
  }
  int ConnectH2(const char* stem, bool wide = true, int readOnly = 0) {
    return Connect(H2Props(Unique(stem)), "", "", wide, readOnly);
  }
  bool ConnectPg(bool wide = true) {
    std::string props, user, password;
    if (!PgProps(&props, &user, &password)) return false;
    int rc = Connect(props, user, password, wide);
    EXPECT_EQ(0, rc) << AgentMessages(ops, server);
    return rc == 0;
  }
  kx::AgentHandle Stmt() {
    kx::AgentHandle s = 0;
    EXPECT_EQ(0, ops->DRV_AllocStmt(conn, &s)) << AgentMessages(ops, conn);
    return s;
  }
  // Prepares and executes text without parameters; fails the test on error.
  void Exec(const std::string& sql) {
    kx::AgentHandle s = Stmt();
    int rc = ops->DRV_Prepare(s, sql.c_str());
    if (rc == 0) rc = ops->DRV_Execute(s);
    EXPECT_EQ(0, rc) << sql << "\n" << AgentMessages(ops, s);
    ops->DRV_FreeStmt(s);
  }
};

// A parameter block as the core hands it over (malloc'd header: the agent
// takes it). Columns are added left to right, then rows filled.
class ParamBlock {
 public:
  explicit ParamBlock(uint16_t columns, int32_t rows) : rows_(rows) {
    rb_ = static_cast<kx::RowBuffer*>(std::calloc(1, sizeof(kx::RowBuffer)));
    kx::RB_InitColumns(rb_, columns);
  }
  ~ParamBlock() {
    if (rb_ != nullptr) {
      kx::RB_Free(rb_);
      std::free(rb_);
    }
  }
  // Adds a column of a storage type for the declared size.
  void Column(uint32_t type, uint32_t size) {
    kx::RowBufferColumn& c = rb_->columns[rb_->colCount++];
    c.type = type;
    c.width = kx::RB_ElementSize(type, size);
    if (rb_->colCount == rb_->colCapacity) {
      kx::RB_AllocRows(rb_, rows_);
      rb_->rowCount = rows_;
    }
  }
  unsigned char* At(uint16_t col, int32_t row) {
    rb_->columns[col].indicators[row] = kx::RB_IND_DATA;
    return kx::RB_Element(&rb_->columns[col], static_cast<size_t>(row));
  }
  template <typename T>
  void Set(uint16_t col, int32_t row, T v) {
    std::memcpy(At(col, row), &v, sizeof v);
  }
  void Text(uint16_t col, int32_t row, const std::string& text) {
    std::memcpy(At(col, row), text.c_str(), text.size() + 1);
  }
  void Wide(uint16_t col, int32_t row, const std::u16string& text) {
    std::memcpy(At(col, row), text.c_str(), 2 * (text.size() + 1));
  }
  void Null(uint16_t col, int32_t row) { rb_->columns[col].indicators[row] = kx::RB_IND_NULL; }
  // Hands the block to the agent.
  kx::RowBuffer* Release() {
    kx::RowBuffer* out = rb_;
    rb_ = nullptr;
    return out;
  }

 private:
  kx::RowBuffer* rb_;
  int32_t rows_;
};

// A fetched block, freed at the end of the scope.
struct Block {
  kx::RowBuffer rb{};
  ~Block() { kx::RB_Free(&rb); }
  bool IsNull(int col, int row) const { return rb.columns[col].indicators[row] == kx::RB_IND_NULL; }
  const unsigned char* At(int col, int row) const {
    return kx::RB_Element(&rb.columns[col], static_cast<size_t>(row));
  }
  template <typename T>
  T Get(int col, int row) const {
    T v;
    std::memcpy(&v, At(col, row), sizeof v);
    return v;
  }
  // Text of a narrow or wide text cell as UTF-8.
  std::string Text(int col, int row) const {
    const kx::RowBufferColumn& c = rb.columns[col];
    const unsigned char* e = At(col, row);
    switch (c.type) {
      case kx::RBT_CHAR_NTS: return reinterpret_cast<const char*>(e);
      case kx::RBT_CHAR_PTR: {
        kx::RBPtrValue v = kx::RB_GetPtrValue(e);
        return v.block ? std::string(static_cast<const char*>(v.block), v.length) : "";
      }
      case kx::RBT_WCHAR_NTS: {
        char* u = kx::Ucs2ToUtf8DupN(reinterpret_cast<const char16_t*>(e), -3);
        std::string s = u ? u : "";
        std::free(u);
        return s;
      }
      case kx::RBT_WCHAR_PTR: {
        kx::RBPtrValue v = kx::RB_GetPtrValue(e);
        if (v.block == nullptr) return "";
        char* u = kx::Ucs2ToUtf8DupN(static_cast<const char16_t*>(v.block), v.length);
        std::string s = u ? u : "";
        std::free(u);
        return s;
      }
      case kx::RBT_BINARY_PTR: {
        kx::RBPtrValue v = kx::RB_GetPtrValue(e);
        return v.block ? std::string(static_cast<const char*>(v.block), v.length) : "";
      }
      default: return "<type " + std::to_string(c.type) + ">";
    }
  }
};

}  // namespace kxtest
