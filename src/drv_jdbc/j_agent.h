// The agent's operation table and what every agent operation shares: handle
// lookup, thread attachment and the JNI local frame that is popped on every
// path.
#pragma once

#include <jni.h>

#include <cstdint>

#include "agent/agent.h"
#include "drv_jdbc/j_records.h"

namespace kx {

// The agent's own table (49 operations); JDB_Register installs it.
const AgentOps* JDB_AgentOps();
// Fills the binding with the agent's own flags and table. 0; it does not fail.
int JDB_Register(AgentBinding* binding);
// Set to 1 at load; while 0 the agent refuses statement allocation.
extern int32_t JDB_BrokerKnown;

// Slots of this file.
int32_t DRV_GetMessages(AgentHandle h, AgentMsgBlock* out);           // 2
int32_t GetOpTable(AgentHandle conn, OpTable* table);                 // 23
int32_t JDB_NotCapable(AgentHandle stmt, uint16_t a, uint16_t b, void* p);  // 14
int32_t DRV_Cancel(AgentHandle stmt);                                 // 53
// Not in the table: the cursor layer calls it after storing a SetPos request.
int32_t JDB_NoOp(AgentHandle stmt);

// Records of a handle, or null when the handle is unknown.
JConn* JDB_FindConn(AgentHandle h);
JStmt* JDB_FindStmt(AgentHandle h);

// Local frame capacities: most operations, and the ones that walk results.
constexpr jint JDB_FRAME_SMALL = 64;
constexpr jint JDB_FRAME_LARGE = 256;

// A JNI local frame for one agent operation: every local reference made while
// it lives is released when it ends, whichever way the operation returns.
class JFrame {
 public:
  JFrame(JNIEnv* env, jint capacity);
  ~JFrame();
  JFrame(const JFrame&) = delete;
  JFrame& operator=(const JFrame&) = delete;
  // False when the VM refused the frame (out of memory); nothing is pending then.
  bool ok() const { return pushed_; }

 private:
  JNIEnv* env_;
  bool pushed_;
};

}  // namespace kx
