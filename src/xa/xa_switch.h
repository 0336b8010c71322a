// The driver as an X/Open XA resource manager. A transaction monitor takes the
// switch through the export znt_xa_switch and drives its ten entry points;
// xa_open connects an ODBC connection of the driver's own (the data source
// named by "DSN=" in the monitor's open string), switches it to the database's
// XA connection and ties it to the calling thread under the monitor's
// resource-manager id. The later entry points of that thread find it by the
// id; the application takes its handles with SQLGetXaEnv and SQLGetXaConnect
// to do the branch's SQL work.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>

#include "agent/agent.h"
#include "agent/agent_xa.h"
#include "agent/xid.h"

namespace kx {

// The switch in the LP64 layout a monitor's own xa.h declares.
constexpr size_t RMNAMESZ = 32;
struct xa_switch_t {
  char name[RMNAMESZ];
  long flags;
  long version;
  int (*xa_open_entry)(char* xa_info, int rmid, long flags);
  int (*xa_close_entry)(char* xa_info, int rmid, long flags);
  int (*xa_start_entry)(XID* xid, int rmid, long flags);
  int (*xa_end_entry)(XID* xid, int rmid, long flags);
  int (*xa_rollback_entry)(XID* xid, int rmid, long flags);
  int (*xa_prepare_entry)(XID* xid, int rmid, long flags);
  int (*xa_commit_entry)(XID* xid, int rmid, long flags);
  int (*xa_recover_entry)(XID* xids, long count, int rmid, long flags);
  int (*xa_forget_entry)(XID* xid, int rmid, long flags);
  int (*xa_complete_entry)(int* handle, int* retval, int rmid, long flags);
};
static_assert(sizeof(long) == 8, "the switch layout is the LP64 one");
static_assert(sizeof(xa_switch_t) == 128, "xa_switch_t is 128 bytes");
static_assert(offsetof(xa_switch_t, flags) == 32 && offsetof(xa_switch_t, version) == 40 &&
                  offsetof(xa_switch_t, xa_open_entry) == 48 &&
                  offsetof(xa_switch_t, xa_complete_entry) == 120,
              "xa_switch_t fields at the offsets of xa.h");

// The resource manager's name in the switch.
constexpr const char* kXaRmName = "QUILLMAR";

// The X/Open return codes the entry points pass on besides those of
// agent_xa.h, for their names in the trace.
constexpr int XA_RETRY = 4;
constexpr int XA_HEURMIX = 5;
constexpr int XA_HEURRB = 6;
constexpr int XA_HEURCOM = 7;
constexpr int XA_HEURHAZ = 8;
constexpr int XA_NOMIGRATE = 9;
constexpr int XA_RBROLLBACK = 100;
constexpr int XA_RBDEADLOCK = 102;
constexpr int XA_RBINTEGRITY = 103;
constexpr int XA_RBPROTO = 105;
constexpr int XA_RBTIMEOUT = 106;
constexpr int XA_RBTRANSIENT = 107;
constexpr int XAER_DUPID = -8;
constexpr int XAER_OUTSIDE = -9;

// The X/Open name of a return code; "Unknown" for any other value.
const char* XaRetName(int code);

// Once per process (again after XaSwitchTerm): opens the XA trace file when
// one is configured and fills the switch. 0.
int16_t XaSwitchInit();
// Library unload: ends the XA trace when XaSwitchInit ran.
void XaSwitchTerm();
// What the agent calls when its last environment closes: nothing is left to
// tear down here.
void XaTeardownHook();

// The value of "DSN=" in an open string (case-sensitive, the first one, up
// to the next ';', trailing blanks cut) copied into out. False when there is
// none or out cannot hold it.
bool XaInfoGetDsn(const char* xaInfo, char* out, size_t size);
// The odbc.ini value "XaInfo" of a data source ("" when it has none). False
// when it does not fit into out.
bool XaGetDsnXaInfo(const char* dsn, char* out, size_t size);

// Resource managers open on the calling thread (tests).
int XaAssoc_CountOnThread();

}  // namespace kx

// The exports a monitor and its application use.
extern "C" {
kx::xa_switch_t* znt_xa_switch();
SQLRETURN SQLGetXaEnv(SQLHENV* env);
SQLRETURN SQLGetXaConnect(SQLHDBC* dbc);
}
