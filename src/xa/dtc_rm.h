// The DTC-style resource manager: when an application enlists a connection in
// a transaction manager's transaction (SQL_ATTR_ENLIST_IN_DTC), one resource
// dispenser carries the manager's two-phase commit out as XA calls on the
// connection's own agent connection. The dispenser opens XA on the connection
// with a worker thread (all its agent work then runs there), registers the
// driver with the manager's XA helper, maps the transaction onto an XID and
// enlists; prepare, commit, abort and the manager's going down arrive on the
// manager's threads. Between a successful prepare and the outcome the
// connection's call gate is held, so the application's calls on it wait.
//
// The core reaches this through the table DtcOpsTable (installed by the
// driver's entry point); the flat functions below are that table's entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "odbc/dtc_seam.h"
#include "xa/dtc_iface.h"
#include "xa/xa_switch.h"

namespace kx {

// The dispenser as the core and the manager's helper see it.
class IOdbcResourceDispenser {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual ~IOdbcResourceDispenser() = default;
  virtual HRESULT RMConnect() = 0;
  virtual HRESULT RMEnlist() = 0;
  virtual HRESULT GetDispenser(IOdbcResourceDispenser** out) = 0;
};

// Where a dispenser's transaction branch stands.
enum DtcRmState : int32_t {
  DTC_RM_IDLE = 0,       // no branch (also after a finished transaction)
  DTC_RM_ACTIVE = 1,     // xa_start done
  DTC_RM_ENDED = 2,      // xa_end done
  DTC_RM_PREPARED = 3,   // xa_prepare done: the connection's call gate is held
  DTC_RM_HEURISTIC = 5,  // the database decided the outcome itself
};

// The driver's own results besides the published ones.
constexpr HRESULT E_ZNT_XA_FAILED = static_cast<HRESULT>(0x80044001u);     // xa_open or xa_start failed
constexpr HRESULT E_ZNT_DSN2HNDL_FAIL = static_cast<HRESULT>(0x80044002u);
constexpr HRESULT E_ZNT_XAINFO_FAILED = static_cast<HRESULT>(0x80044006u);  // XaInfo unreadable

// Once per process: the XA switch is filled and the trace opened. 0.
int16_t DtcInit();
// Unload: every dispenser still alive is marked dead, its branch rolled back
// unless it is prepared (a prepared branch stays in doubt for the manager's
// recovery) and XA closed on its connection; a dead dispenser touches its
// connection no more and is deleted when its last reference goes.
void DtcTerm();
// A dispenser with one reference for the caller, or nullptr.
void* DtcNewDispenser(void* transaction, AgentHandle server, AgentHandle conn,
                      AgentBinding* binding, std::recursive_mutex* dtcLock, CallGate* gate,
                      const char* connectText);
// Release through the handle: the references left; -1 for a NULL or unknown handle.
int DtcRelease(void* handle);
// 0 when the method's result is not negative; -1 otherwise and for a NULL or
// unknown handle.
int16_t DtcRMConnect(void* handle);
int16_t DtcRMEnlist(void* handle);
// E_INVALIDARG for a NULL handle or out, else *out = the dispenser and S_OK.
HRESULT DtcFromHandle(void* handle, IOdbcResourceDispenser** out);
// 1 while anyone besides the core holds the dispenser (the manager, until
// the transaction is finished); 0 for a dead or unknown one.
int DtcInProgress(void* handle);
// Why the dispenser's last step failed ("" when none).
void DtcReason(void* handle, char* out, size_t size);

// The table the driver's entry point installs in the core.
const DtcOps& DtcOpsTable();

// The published name of a result, "E_ZNT_DSN2HNDL_FAIL" for the driver's own,
// "Unknown!" for any other value.
const char* DtcHResultName(HRESULT hr);

// Tests: a dispenser's state (-1 for an unknown handle), its XA resource-
// manager id, and the dispensers alive in the process.
int DtcStateOf(void* handle);
int DtcRmidOf(void* handle);
int DtcLiveDispensers();

}  // namespace kx

// For a transaction manager that loads the driver as an XA library: the
// driver's XA switch. The flags are not used. E_INVALIDARG for a NULL out.
extern "C" kx::HRESULT GetXaSwitch(uint32_t flags, kx::xa_switch_t** out);
