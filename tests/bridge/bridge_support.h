// What the bridge tests share: the agent environment over the stand-in jar
// directory, connection and statement records on H2 or PostgreSQL, a local
// frame per test, and small SQL helpers.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "agent/xid.h"
#include "drv_jdbc/j_common.h"
#include "drv_jdbc/j_records.h"

namespace kxtest {

// Opens the agent environment once per process (jar directory: the stand-in).
kx::JEnv* Env();
JNIEnv* Jni();

// A JNI local frame for the scope of a test: references made inside are freed
// when it ends, and -Xcheck:jni reports any wrapper that leaks past its capacity.
class LocalFrame {
 public:
  explicit LocalFrame(int capacity = 32);
  ~LocalFrame();
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;
};

// A connection record with the environment's loader, ready for _getConnection.
struct Conn {
  kx::JConn rec{};
  Conn();
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;
  // Connects through the stand-in data source; 0 or the status. Keeps a
  // global reference to the Connection and its metadata.
  int Open(const std::string& properties, const char* user = "", const char* password = "");
  jobject conn() const { return rec.conn; }
  // Runs SQL on a connection-level statement; fails the test on error.
  void Exec(const std::string& sql);
  std::string Messages() const;
};

// A statement record on a connection; prepare sets its Java statement.
struct Stmt {
  kx::JStmt rec{};
  explicit Stmt(Conn& c);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  int Prepare(const std::string& sql);
  int PrepareCall(const std::string& sql);
  jobject ps() const { return rec.stmt; }
  // Executes the prepared statement and returns its result set (local ref) or null.
  jobject ExecuteQuery();
  std::string Messages() const;
};

// Property lists for the two databases.
std::string H2Props(const std::string& name);
// Fails the calling test (never skips) when the server's settings are missing.
bool PgProps(std::string* props, std::string* user, std::string* password);

// A name unique to this process, for tables.
std::string Unique(const char* stem);

// A class of the test classes directory (kxprobe.*), through a loader of its own.
jclass ProbeClass(const char* name);
// Global reference to the loader over the test classes.
jobject ProbeLoader();
jobject NewProbe(const char* name);

// A transaction identifier from its format and its two parts.
kx::XID MakeXid(long format, const std::string& gtrid, const std::string& bqual);

// Text of all messages on a list, "[state:native] text" each.
std::string Describe(const kx::AgentMsgList& list);

}  // namespace kxtest
