// XA resource calls: the seven XAResource methods, and the conversion between
// the X/Open XID record and Java Xid objects (quillmar/support/XAXid towards
// Java, the Xid interface for identifiers coming back from recover).
#pragma once

#include <jni.h>

#include <cstdint>

#include "drv_jdbc/j_records.h"
#include "agent/agent_xa.h"
#include "util/str_util.h"

namespace kx {

constexpr int XIDDATASIZE = 128;
constexpr int MAXGTRIDSIZE = 64;
constexpr int MAXBQUALSIZE = 64;

// XID, the X/Open transaction identifier (LP64 layout of xa.h), is the
// foundation's: formatID -1 is the null XID; each length is 1..64.
static_assert(sizeof(XID::data) == XIDDATASIZE, "XID data size");

// The X/Open codes and flags are the agent contract's (agent/agent_xa.h).

// Each returns 0 (prepare: XA_OK or XA_RDONLY) or an X/Open error code: the
// XAException's own code when the driver threw one, else XAER_RMERR; an XID
// with a length outside 0..64 gives XAER_INVAL. Java failures are also posted
// on the connection's messages.
// onePhase: non-zero low byte, or the TMONEPHASE flag, commits in one phase.
int JC_XAResource_commit(JConn* c, const XID* xid, long onePhase);
int JC_XAResource_end(JConn* c, const XID* xid, long flags);
int JC_XAResource_start(JConn* c, const XID* xid, long flags);
int JC_XAResource_forget(JConn* c, const XID* xid);
int JC_XAResource_prepare(JConn* c, const XID* xid);
int JC_XAResource_rollback(JConn* c, const XID* xid);
// Fills c->xaRecover / xaRecoverCount with the identifiers of the scan (an
// earlier cache must have been emptied by the caller).
int JC_XAResource_recover(JConn* c, long flags);

// A local XAXid of the record, or null (exception pending, or bad lengths).
jobject JC_NewXid(JNIEnv* env, jclass xidClass, const XID* xid);
// Reads a Java Xid into the record (lengths cut to 64). 0, or 15.
int JC_XidToC(JNIEnv* env, jobject xid, XID* out);

}  // namespace kx
