#include "xa/dtc_rm.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "agent/agent_xa.h"
#include "odbc/trace.h"
#include "util/str_util.h"
#include "xa/code_names.h"

namespace kx {

namespace {

// ---- trace --------------------------------------------------------------------------

bool DtcTracing() { return TraceOn() && TraceStream(TRACE_XA) != nullptr; }

void DtcTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DtcTrace(const char* format, ...) {
  if (!DtcTracing()) return;
  char line[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  XaTracePrintf(1, "%s", line);
}

HRESULT DtcTraceHr(HRESULT hr) {
  if (DtcTracing()) {
    DtcTrace("%s: Returned HRESULT: %#.8lx(%s)", FAILED(hr) ? "Call failure >>>" : "Call success    ",
             static_cast<unsigned long>(static_cast<uint32_t>(hr)), DtcHResultName(hr));
  }
  return hr;
}

ULONG DtcTraceCount(ULONG n) {
  DtcTrace("Call returned: %lu", static_cast<unsigned long>(n));
  return n;
}

void DtcTraceOpen() {
  if (TraceStream(TRACE_XA) == nullptr) TraceOpen(TRACE_XA);
  if (!DtcTracing()) return;
  XaTracePrintf(0, "** Quillmar OLE Transactions Interface: Trace file **");
  char stamp[200] = "";
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr) {
    strftime(stamp, sizeof stamp, "** Started on %a %b %d, %H:%M **", &local);
  }
  XaTracePrintf(0, "%s", stamp);
}

// ---- process-wide state -----------------------------------------------------------

class COdbcResourceDispenser;

constexpr size_t kDriverNameSize = 160;

struct DtcGlobal {
  std::mutex lock;                              // the list, the driver name, the library
  std::vector<COdbcResourceDispenser*> list;    // every live dispenser, in creation order
  char driverName[kDriverNameSize] = "";        // filled once
  std::string libraryPath;                      // the manager library loaded, "" when none
  DtcGetTransactionManagerFn getter = nullptr;  // its getter
  std::atomic<bool> initialised{false};
  std::atomic<int> nextRmid{0};
};

DtcGlobal& Global() {
  static DtcGlobal* global = new DtcGlobal;  // never destroyed: unload may still use it
  return *global;
}

void CopyCut(const char* text, char* out, size_t size) {
  if (out == nullptr || size == 0) return;
  std::snprintf(out, size, "%s", text != nullptr ? text : "");
}

// The data source of a connect string that starts with "DSN=": the value up
// to the next ';', or the braced value (braces inside it balanced, as the
// core writes them). "" for none. False when it does not fit or a brace is
// left open.
bool DsnOfConnectText(const char* text, char* out, size_t size) {
  if (text == nullptr || std::strncmp(text, "DSN=", 4) != 0 || size == 0) return false;
  const char* p = text + 4;
  const char* end;
  if (*p == '{') {
    int depth = 0;
    for (end = p; *end != '\0'; ++end) {
      if (*end == '{') ++depth;
      if (*end == '}' && --depth == 0) break;
    }
    if (*end != '}') return false;
    ++p;
  } else {
    end = p + std::strcspn(p, ";");
  }
  const size_t n = static_cast<size_t>(end - p);
  if (n >= size) return false;
  std::memcpy(out, p, n);
  out[n] = '\0';
  return true;
}

// The driver's own file name (case kept), from the library that holds this
// code. False when it cannot be found or does not fit.
bool DriverFileName(char* out, size_t size) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DtcInit), &info) == 0 || info.dli_fname == nullptr) {
    return false;
  }
  const char* slash = std::strrchr(info.dli_fname, '/');
  const char* name = slash != nullptr ? slash + 1 : info.dli_fname;
  const size_t n = std::strlen(name);
  if (n == 0 || n >= size) return false;
  std::memcpy(out, name, n + 1);
  return true;
}

// The transaction manager through the getter of the library the environment
// names. The library stays loaded for the rest of the process: the manager's
// objects live in it.
HRESULT GetTransactionManager(IUnknown** out, std::string* why) {
  const char* path = std::getenv(kDtcLibraryVariable);
  if (path == nullptr || *path == '\0') {
    *why = std::string("transaction manager not available (XACT_E_TMNOTAVAILABLE): the environment "
                       "variable ") + kDtcLibraryVariable + " names no transaction manager library";
    return XACT_E_TMNOTAVAILABLE;
  }
  DtcGetTransactionManagerFn getter = nullptr;
  {
    DtcGlobal& g = Global();
    std::lock_guard<std::mutex> hold(g.lock);
    if (g.getter == nullptr || g.libraryPath != path) {
      void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
      if (library == nullptr) {
        const char* error = dlerror();
        *why = std::string("transaction manager not available (XACT_E_TMNOTAVAILABLE): cannot load ") +
               path + ": " + (error != nullptr ? error : "unknown error");
        return XACT_E_TMNOTAVAILABLE;
      }
      auto found = reinterpret_cast<DtcGetTransactionManagerFn>(dlsym(library, kDtcGetterName));
      if (found == nullptr) {
        *why = std::string("transaction manager not available (XACT_E_TMNOTAVAILABLE): ") + path +
               " does not export " + kDtcGetterName;
        return XACT_E_TMNOTAVAILABLE;
      }
      g.getter = found;
      g.libraryPath = path;
    }
    getter = g.getter;
  }
  void* manager = nullptr;
  const HRESULT hr = getter(nullptr, nullptr, IID_IUnknown, 0, 0, nullptr, &manager);
  if (FAILED(hr) || manager == nullptr) {
    *why = std::string("transaction manager not available: the manager answered ") + DtcHResultName(hr);
    return FAILED(hr) ? hr : XACT_E_TMNOTAVAILABLE;
  }
  *out = static_cast<IUnknown*>(manager);
  return S_OK;
}

// ---- the dispenser ------------------------------------------------------------------

// The dispenser's face towards the manager; shares the dispenser's count.
class CImpITransactionResourceAsync final : public ITransactionResourceAsync {
 public:
  explicit CImpITransactionResourceAsync(COdbcResourceDispenser* outer) : outer_(outer) {}
  HRESULT QueryInterface(REFIID riid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT PrepareRequest(ComBool fRetaining, DWORD grfRM, ComBool fWantMoniker, ComBool fSinglePhase) override;
  HRESULT CommitRequest(DWORD grfRM, XACTUOW* pNewUOW) override;
  HRESULT AbortRequest(BOID* pboidReason, ComBool fRetaining, XACTUOW* pNewUOW) override;
  HRESULT TMDown() override;
  virtual ~CImpITransactionResourceAsync() = default;

 private:
  COdbcResourceDispenser* outer_;
};

class COdbcResourceDispenser final : public IOdbcResourceDispenser {
 public:
  COdbcResourceDispenser(void* transaction, AgentHandle conn, AgentBinding* binding,
                         CallGate* gate, char* connectText);
  ~COdbcResourceDispenser() override;

  HRESULT QueryInterface(REFIID riid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT RMConnect() override;
  HRESULT RMEnlist() override;
  HRESULT GetDispenser(IOdbcResourceDispenser** out) override;

  HRESULT Prepare(ComBool fSinglePhase);
  HRESULT Commit();
  HRESULT Abort();
  HRESULT Down();
  // Unload: rolls back a branch not yet prepared (a prepared one stays in
  // doubt), closes XA and lets go of the connection for good.
  void Kill();

  bool InProgress() const { return !dead_.load() && cRef_.load() > 1; }
  int State() {
    std::lock_guard<std::recursive_mutex> own(lock_);
    return state_;
  }
  int Rmid() {
    std::lock_guard<std::recursive_mutex> own(lock_);
    return rmid_;
  }
  void Reason(char* out, size_t size) {
    std::lock_guard<std::mutex> hold(reasonLock_);
    CopyCut(reason_, out, size);
  }

 private:
  HRESULT Failed(HRESULT hr, const std::string& why) {
    std::lock_guard<std::mutex> hold(reasonLock_);
    CopyCut(why.c_str(), reason_, sizeof reason_);
    return hr;
  }
  // One agent XA operation on the connection, through its binding (the XA
  // routing layer on top runs it on the connection's worker).
  template <typename Fn, typename... A>
  int Xa(Fn AgentOps::*slot, A... args) {
    const AgentOps* ops = binding_ != nullptr ? binding_->ops : nullptr;
    if (ops == nullptr || ops->*slot == nullptr) return XAER_RMERR;
    return (ops->*slot)(hConnect_, args...);
  }
  int XaBranch(int32_t (*AgentOps::*slot)(AgentHandle, XID*, int, long), long flags) {
    return Xa(slot, &xid_, rmid_, flags);
  }
  void HoldGate() {
    if (holdsGate_ || gate_ == nullptr) return;
    gate_->Hold();
    holdsGate_ = true;
  }
  // The gate is left exactly once, whoever ends the prepared state.
  void OpenGate() {
    if (!holdsGate_) return;
    holdsGate_ = false;
    if (gate_ != nullptr) gate_->Open();
  }
  // Ends an active branch successfully (it is then ended); XA_OK when none is
  // active.
  int EndActiveBranch() {
    if (state_ != DTC_RM_ACTIVE) return XA_OK;
    const int r = XaBranch(&AgentOps::DRV_XaEnd, TMSUCCESS);
    if (r == XA_OK) state_ = DTC_RM_ENDED;
    return r;
  }
  // Without an outcome to wait for: an active branch ends as failed and any
  // open branch is rolled back (no branch left). XA_OK when none was open.
  int AbandonBranch() {
    if (state_ == DTC_RM_ACTIVE) XaBranch(&AgentOps::DRV_XaEnd, TMFAIL);
    if (state_ != DTC_RM_ACTIVE && state_ != DTC_RM_ENDED && state_ != DTC_RM_PREPARED) {
      return XA_OK;
    }
    state_ = DTC_RM_IDLE;
    return XaBranch(&AgentOps::DRV_XaRollback, TMNOFLAGS);
  }
  // The state a finished commit or rollback leaves: kept as heuristic when
  // the database decided the outcome itself, else no branch.
  static int32_t AfterOutcome(int r) {
    return r >= XA_HEURMIX && r <= XA_HEURHAZ ? DTC_RM_HEURISTIC : DTC_RM_IDLE;
  }
  void CloseXa() {
    if (opened_ == 0) return;
    Xa(&AgentOps::DRV_XaClose, static_cast<const char*>(xaInfo_), rmid_, TMNOFLAGS);
    opened_ = 0;
  }

  std::atomic<int32_t> cRef_{0};
  std::recursive_mutex lock_;  // each method that works on the connection runs under it
  CImpITransactionResourceAsync inner_;
  CallGate* gate_;
  char* connectText_;  // owned; carries the password
  AgentHandle hConnect_;
  AgentBinding* binding_;
  int32_t rmid_ = 0;
  int32_t opened_ = 0;
  char xaInfo_[256] = "";
  int32_t state_ = DTC_RM_IDLE;
  ITransaction* transaction_;
  DWORD cookie_ = 0;
  XID xid_{};
  IDtcToXaHelperSinglePipe* pipe_ = nullptr;
  ITransactionEnlistmentAsync* enlistment_ = nullptr;
  bool holdsGate_ = false;
  std::atomic<bool> dead_{false};
  std::mutex reasonLock_;
  char reason_[512] = "";
};

COdbcResourceDispenser::COdbcResourceDispenser(void* transaction, AgentHandle conn,
                                               AgentBinding* binding, CallGate* gate,
                                               char* connectText)
    : inner_(this),
      gate_(gate),
      connectText_(connectText),
      hConnect_(conn),
      binding_(binding),
      transaction_(static_cast<ITransaction*>(transaction)) {
  DtcTrace("COdbcResourceDispenser::COdbcResourceDispenser()");
}

COdbcResourceDispenser::~COdbcResourceDispenser() {
  DtcTrace("COdbcResourceDispenser::~COdbcResourceDispenser()");
  if (!dead_.load()) {
    if (state_ == DTC_RM_ACTIVE) XaBranch(&AgentOps::DRV_XaEnd, TMFAIL);
    OpenGate();
    CloseXa();
  }
  if (cookie_ != 0 && pipe_ != nullptr) pipe_->ReleaseRMCookie(cookie_, 1);
  cookie_ = 0;
  if (pipe_ != nullptr) pipe_->Release();
  if (enlistment_ != nullptr) enlistment_->Release();
  StrWipeText(connectText_);
  std::free(connectText_);
}

HRESULT COdbcResourceDispenser::QueryInterface(REFIID riid, void** out) {
  DtcTrace("COdbcResourceDispense::QueryInterface()");
  if (out == nullptr) return DtcTraceHr(E_INVALIDARG);
  *out = nullptr;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *out = static_cast<IOdbcResourceDispenser*>(this);
  } else if (IsEqualIID(riid, IID_ITransactionResourceAsync)) {
    *out = static_cast<ITransactionResourceAsync*>(&inner_);
  }
  if (*out == nullptr) return DtcTraceHr(E_NOINTERFACE);
  AddRef();
  return DtcTraceHr(S_OK);
}

ULONG COdbcResourceDispenser::AddRef() {
  DtcTrace("COdbcResourceDispenser::AddRef(), this=%p, m_hConnect=%lX, m_cRef=%d",
           static_cast<void*>(this), static_cast<unsigned long>(hConnect_), cRef_.load() + 1);
  const int32_t n = cRef_.fetch_add(1) + 1;
  return DtcTraceCount(static_cast<ULONG>(n));
}

ULONG COdbcResourceDispenser::Release() {
  DtcTrace("COdbcResourceDispenser::Release(), this=%p, m_hConnect=%lX, m_cRef=%d",
           static_cast<void*>(this), static_cast<unsigned long>(hConnect_), cRef_.load() - 1);
  const int32_t n = cRef_.fetch_sub(1) - 1;
  if (n > 0) return DtcTraceCount(static_cast<ULONG>(n));
  {
    DtcGlobal& g = Global();
    std::lock_guard<std::mutex> hold(g.lock);
    auto it = std::find(g.list.begin(), g.list.end(), this);
    if (it != g.list.end()) g.list.erase(it);
  }
  // Deleted outside the global lock: the destructor calls the manager, which
  // may call back.
  delete this;
  return DtcTraceCount(0);
}

HRESULT COdbcResourceDispenser::GetDispenser(IOdbcResourceDispenser** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = this;
  return S_OK;
}

HRESULT COdbcResourceDispenser::RMConnect() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("COdbcResourceDispenser::RMConnect()");
  if (dead_.load()) return DtcTraceHr(Failed(E_UNEXPECTED, "the driver is being unloaded"));
  IUnknown* manager = nullptr;
  std::string why;
  HRESULT hr;
  try {
    hr = GetTransactionManager(&manager, &why);
  } catch (const std::bad_alloc&) {
    return DtcTraceHr(Failed(E_OUTOFMEMORY, "memory allocation failure"));
  }
  if (FAILED(hr)) return DtcTraceHr(Failed(hr, why));

  IDtcToXaHelperSinglePipe* pipe = nullptr;
  hr = manager->QueryInterface(IID_IDtcToXaHelperSinglePipe, reinterpret_cast<void**>(&pipe));
  if (FAILED(hr) || pipe == nullptr) {
    if (!FAILED(hr)) hr = E_NOINTERFACE;
    Failed(hr, std::string("the transaction manager has no XA helper: ") + DtcHResultName(hr));
  } else {
    // Ids are unique in the process: two enlistments never share one.
    rmid_ = Global().nextRmid.fetch_add(1) + 1;
    char dsn[256];
    char driverName[kDriverNameSize] = "";
    // A connection made without a data source has no XaInfo.
    if (!DsnOfConnectText(connectText_, dsn, sizeof dsn) ||
        (dsn[0] != '\0' && !XaGetDsnXaInfo(dsn, xaInfo_, sizeof xaInfo_))) {
      hr = Failed(E_ZNT_XAINFO_FAILED, "the data source's XaInfo value cannot be read");
    } else if (Xa(&AgentOps::DRV_XaOpen, XA_OPEN_THREADED, static_cast<const char*>(xaInfo_),
                  rmid_, TMNOFLAGS) != XA_OK) {
      hr = Failed(E_ZNT_XA_FAILED, "the database refused to open XA on the connection");
    } else {
      opened_ = 1;
      {
        DtcGlobal& g = Global();
        std::lock_guard<std::mutex> hold(g.lock);
        if (g.driverName[0] == '\0') DriverFileName(g.driverName, sizeof g.driverName);
        CopyCut(g.driverName, driverName, sizeof driverName);
      }
      if (driverName[0] == '\0') {
        hr = Failed(E_FAIL, "the driver's file name cannot be found");
      } else {
        hr = pipe->XARMCreate(connectText_, driverName, &cookie_);
        if (FAILED(hr)) {
          Failed(hr, std::string("the transaction manager refused the resource manager: ") +
                         DtcHResultName(hr));
        }
      }
    }
    if (FAILED(hr)) {
      pipe->Release();
    } else {
      pipe_ = pipe;
    }
  }
  manager->Release();
  return DtcTraceHr(hr);
}

HRESULT COdbcResourceDispenser::RMEnlist() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("COdbcResourceDispenser::RMEnlist()");
  if (dead_.load()) return DtcTraceHr(Failed(E_UNEXPECTED, "the driver is being unloaded"));
  if (pipe_ == nullptr) return DtcTraceHr(Failed(E_UNEXPECTED, "the resource manager is not connected"));
  HRESULT hr = pipe_->ConvertTridToXID(transaction_, cookie_, &xid_);
  if (FAILED(hr)) {
    return DtcTraceHr(Failed(hr, std::string("the transaction manager gave no branch identifier: ") +
                                     DtcHResultName(hr)));
  }
  if (XaBranch(&AgentOps::DRV_XaStart, TMNOFLAGS) != XA_OK) {
    return DtcTraceHr(Failed(E_ZNT_XA_FAILED, "the database refused to start the transaction branch"));
  }
  state_ = DTC_RM_ACTIVE;
  hr = pipe_->EnlistWithRM(cookie_, transaction_, &inner_, &enlistment_);
  if (FAILED(hr)) {
    Failed(hr, std::string("the transaction manager refused the enlistment: ") + DtcHResultName(hr));
  }
  return DtcTraceHr(hr);
}

HRESULT COdbcResourceDispenser::Prepare(ComBool fSinglePhase) {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("CImpITransactionResourceAsync::PrepareRequest(fSinglePhase=%d)", fSinglePhase);
  HRESULT hr = E_FAIL;
  if (!dead_.load()) {
    // The gate closes before the branch ends, so that no call of the
    // application's runs between the end of the branch and its outcome.
    HoldGate();
    int r = EndActiveBranch();
    if (r == XA_OK) {
      r = XaBranch(&AgentOps::DRV_XaPrepare, TMNOFLAGS);
      if (r == XA_OK) {
        state_ = DTC_RM_PREPARED;
      } else if (r == XAER_RMERR) {
        state_ = DTC_RM_ENDED;
      } else {
        state_ = DTC_RM_IDLE;
      }
    }
    if (state_ != DTC_RM_PREPARED) OpenGate();
    hr = r == XA_OK ? S_OK : r == XA_RDONLY ? XACT_S_READONLY : E_FAIL;
  }
  if (enlistment_ != nullptr) enlistment_->PrepareRequestDone(hr, nullptr, nullptr);
  return DtcTraceHr(hr);
}

HRESULT COdbcResourceDispenser::Commit() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("CImpITransactionResourceAsync::CommitRequest()");
  HRESULT hr = E_FAIL;
  if (!dead_.load()) {
    const int r = XaBranch(&AgentOps::DRV_XaCommit, TMNOFLAGS);
    OpenGate();
    state_ = r == XA_RETRY ? DTC_RM_PREPARED : AfterOutcome(r);
    if (r == XA_OK) hr = S_OK;
  }
  if (enlistment_ != nullptr) enlistment_->CommitRequestDone(hr);
  return DtcTraceHr(hr);
}

HRESULT COdbcResourceDispenser::Abort() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("CImpITransactionResourceAsync::AbortRequest()");
  // A dead dispenser rolled its branch back at unload already.
  HRESULT hr = S_OK;
  if (!dead_.load()) {
    int r = EndActiveBranch();
    if (r == XA_OK) r = XaBranch(&AgentOps::DRV_XaRollback, TMNOFLAGS);
    OpenGate();
    state_ = AfterOutcome(r);
    if (r != XA_OK) hr = E_FAIL;
  }
  if (enlistment_ != nullptr) enlistment_->AbortRequestDone(hr);
  return DtcTraceHr(hr);
}

HRESULT COdbcResourceDispenser::Down() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  DtcTrace("CImpITransactionResourceAsync::TMDown()");
  if (dead_.load()) return DtcTraceHr(S_OK);
  // Without its manager the branch has no outcome to wait for: it is rolled
  // back, and a prepared one no longer holds the application's calls.
  const int r = AbandonBranch();
  OpenGate();
  return DtcTraceHr(r == XA_OK ? S_OK : E_FAIL);
}

void COdbcResourceDispenser::Kill() {
  std::lock_guard<std::recursive_mutex> own(lock_);
  if (dead_.load()) return;
  // A prepared branch belongs to the manager, which may have decided on
  // commit already: it stays in doubt in the database, for the manager's
  // recovery (through GetXaSwitch) to finish. Any branch short of prepared
  // has no outcome yet and is rolled back.
  if (state_ == DTC_RM_PREPARED) {
    DtcTrace("The prepared transaction branch is left in doubt for recovery");
  } else {
    AbandonBranch();
  }
  state_ = DTC_RM_IDLE;
  OpenGate();
  CloseXa();
  dead_.store(true);
}

// ---- the inner object ---------------------------------------------------------------

HRESULT CImpITransactionResourceAsync::QueryInterface(REFIID riid, void** out) {
  return outer_->QueryInterface(riid, out);
}
ULONG CImpITransactionResourceAsync::AddRef() { return outer_->AddRef(); }
ULONG CImpITransactionResourceAsync::Release() { return outer_->Release(); }
HRESULT CImpITransactionResourceAsync::PrepareRequest(ComBool, DWORD, ComBool, ComBool fSinglePhase) {
  return outer_->Prepare(fSinglePhase);
}
HRESULT CImpITransactionResourceAsync::CommitRequest(DWORD, XACTUOW*) { return outer_->Commit(); }
HRESULT CImpITransactionResourceAsync::AbortRequest(BOID*, ComBool, XACTUOW*) { return outer_->Abort(); }
HRESULT CImpITransactionResourceAsync::TMDown() { return outer_->Down(); }

// ---- handles ------------------------------------------------------------------------

// The live dispenser a handle names, else nullptr. The caller holds a
// reference, so the dispenser cannot go while it is used.
COdbcResourceDispenser* Find(void* handle) {
  if (handle == nullptr) return nullptr;
  DtcGlobal& g = Global();
  std::lock_guard<std::mutex> hold(g.lock);
  for (COdbcResourceDispenser* d : g.list) {
    if (static_cast<void*>(static_cast<IOdbcResourceDispenser*>(d)) == handle) return d;
  }
  return nullptr;
}

constexpr CodeName<HRESULT> kHrNames[] = {
    {S_OK, "S_OK"},
    {XACT_S_ASYNC, "XACT_S_ASYNC"},
    {XACT_S_READONLY, "XACT_S_READONLY"},
    {XACT_S_ABORTING, "XACT_S_ABORTING"},
    {XACT_S_SINGLEPHASE, "XACT_S_SINGLEPHASE"},
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_ABORT, "E_ABORT"},
    {E_FAIL, "E_FAIL"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {XACT_E_CANTRETAIN, "XACT_E_CANTRETAIN"},
    {XACT_E_COMMITFAILED, "XACT_E_COMMITFAILED"},
    {XACT_E_ISOLATIONLEVEL, "XACT_E_ISOLATIONLEVEL"},
    {XACT_E_NOISORETAIN, "XACT_E_NOISORETAIN"},
    {XACT_E_NOTRANSACTION, "XACT_E_NOTRANSACTION"},
    {XACT_E_NOTSUPPORTED, "XACT_E_NOTSUPPORTED"},
    {XACT_E_XTIONEXISTS, "XACT_E_XTIONEXISTS"},
    {XACT_E_INDOUBT, "XACT_E_INDOUBT"},
    {XACT_E_NOTIMEOUT, "XACT_E_NOTIMEOUT"},
    {XACT_E_ALREADYINPROGRESS, "XACT_E_ALREADYINPROGRESS"},
    {XACT_E_ABORTED, "XACT_E_ABORTED"},
    {XACT_E_LOGFULL, "XACT_E_LOGFULL"},
    {XACT_E_TMNOTAVAILABLE, "XACT_E_TMNOTAVAILABLE"},
    {XACT_E_CONNECTION_DOWN, "XACT_E_CONNECTION_DOWN"},
    {XACT_E_CONNECTION_DENIED, "XACT_E_CONNECTION_DENIED"},
    {XACT_E_NOTSINGLEPHASE, "XACT_E_NOTSINGLEPHASE"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_ZNT_DSN2HNDL_FAIL, "E_ZNT_DSN2HNDL_FAIL"},
};

}  // namespace

const char* DtcHResultName(HRESULT hr) { return CodeNameOf(kHrNames, hr, "Unknown!"); }

int16_t DtcInit() {
  DtcGlobal& g = Global();
  if (g.initialised.load()) return 0;
  std::lock_guard<std::mutex> hold(g.lock);
  if (g.initialised.load()) return 0;
  XaSwitchInit();
  DtcTraceOpen();
  g.initialised.store(true);
  return 0;
}

void DtcTerm() {
  DtcGlobal& g = Global();
  std::vector<COdbcResourceDispenser*> alive;
  {
    std::lock_guard<std::mutex> hold(g.lock);
    if (!g.initialised.load()) return;
    alive = g.list;
    // Each dispenser keeps a reference of ours until it is dead, so that a
    // release meanwhile cannot delete it under our hands.
    for (COdbcResourceDispenser* d : alive) d->AddRef();
  }
  for (COdbcResourceDispenser* d : alive) {
    d->Kill();
    d->Release();
  }
  g.initialised.store(false);
}

void* DtcNewDispenser(void* transaction, AgentHandle server, AgentHandle conn,
                      AgentBinding* binding, std::recursive_mutex* dtcLock, CallGate* gate,
                      const char* connectText) {
  if (connectText == nullptr) return nullptr;
  char* text = strdup(connectText);
  if (text == nullptr) return nullptr;
  // The connection's own lock is not needed: the XA calls run on its worker.
  static_cast<void>(server);
  static_cast<void>(dtcLock);
  auto* d = new (std::nothrow) COdbcResourceDispenser(transaction, conn, binding, gate, text);
  if (d == nullptr) {
    StrWipeText(text);
    std::free(text);
    return nullptr;
  }
  {
    DtcGlobal& g = Global();
    std::lock_guard<std::mutex> hold(g.lock);
    try {
      g.list.push_back(d);
    } catch (const std::bad_alloc&) {
      delete d;
      return nullptr;
    }
  }
  d->AddRef();
  IOdbcResourceDispenser* handle = nullptr;
  d->GetDispenser(&handle);
  return handle;
}

int DtcRelease(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr ? static_cast<int>(d->Release()) : -1;
}

int16_t DtcRMConnect(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr && !FAILED(d->RMConnect()) ? 0 : -1;
}

int16_t DtcRMEnlist(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr && !FAILED(d->RMEnlist()) ? 0 : -1;
}

HRESULT DtcFromHandle(void* handle, IOdbcResourceDispenser** out) {
  if (handle == nullptr || out == nullptr) return E_INVALIDARG;
  *out = static_cast<IOdbcResourceDispenser*>(handle);
  return S_OK;
}

int DtcInProgress(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr && d->InProgress() ? 1 : 0;
}

void DtcReason(void* handle, char* out, size_t size) {
  if (out == nullptr || size == 0) return;
  out[0] = '\0';
  if (handle == nullptr) {
    CopyCut("the resource manager cannot be created (memory allocation failure)", out, size);
    return;
  }
  if (COdbcResourceDispenser* d = Find(handle); d != nullptr) d->Reason(out, size);
}

const DtcOps& DtcOpsTable() {
  static const DtcOps ops{DtcInit,      DtcTerm,     DtcNewDispenser, DtcRMConnect,
                          DtcRMEnlist,  DtcRelease,  DtcInProgress,   DtcReason};
  return ops;
}

int DtcStateOf(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr ? d->State() : -1;
}

int DtcRmidOf(void* handle) {
  COdbcResourceDispenser* d = Find(handle);
  return d != nullptr ? d->Rmid() : -1;
}

int DtcLiveDispensers() {
  DtcGlobal& g = Global();
  std::lock_guard<std::mutex> hold(g.lock);
  return static_cast<int>(g.list.size());
}

}  // namespace kx

extern "C" kx::HRESULT GetXaSwitch(uint32_t flags, kx::xa_switch_t** out) {
  static_cast<void>(flags);
  if (kx::DtcInit() != 0) return kx::E_FAIL;
  kx::DtcTrace("GetXaSwitch()");
  if (out == nullptr) return kx::DtcTraceHr(kx::E_INVALIDARG);
  *out = znt_xa_switch();
  return kx::DtcTraceHr(kx::S_OK);
}
