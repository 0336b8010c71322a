// The interfaces between the driver's DTC-style resource manager and a
// transaction manager, in the shape of COM: abstract classes whose first
// three operations are QueryInterface, AddRef and Release, results as 32-bit
// HRESULTs (negative = failure). There is no Microsoft DTC here; a transaction
// manager is a shared library exporting kDtcGetterName, and the library's
// path comes from the environment variable kDtcLibraryVariable.
//
// Who implements what:
//   ITransactionResourceAsync    the driver (one per enlisted connection)
//   ITransactionEnlistmentAsync  the manager (the driver reports outcomes to it)
//   IDtcToXaHelperSinglePipe     the manager (maps transactions onto XA)
//   ITransaction                 the manager; opaque to the driver, which only
//                                passes it back to the manager
#pragma once

#include <cstdint>
#include <cstring>

#include "agent/xid.h"

namespace kx {

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using ComBool = int32_t;  // the published BOOL, a name the ODBC headers take as a macro

struct GUID {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
using IID = GUID;
using REFIID = const IID&;

inline bool IsEqualIID(REFIID a, REFIID b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

// A 16-byte opaque value: the reason of an abort, a unit of work.
struct BOID {
  uint8_t rgb[16];
};
using XACTUOW = BOID;

// ---- results ---------------------------------------------------------------------
constexpr HRESULT S_OK = 0;
constexpr HRESULT XACT_S_ASYNC = 0x0004D000;
constexpr HRESULT XACT_S_READONLY = 0x0004D002;
constexpr HRESULT XACT_S_ABORTING = 0x0004D008;
constexpr HRESULT XACT_S_SINGLEPHASE = 0x0004D009;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT XACT_E_CANTRETAIN = static_cast<HRESULT>(0x8004D001u);
constexpr HRESULT XACT_E_COMMITFAILED = static_cast<HRESULT>(0x8004D002u);
constexpr HRESULT XACT_E_ISOLATIONLEVEL = static_cast<HRESULT>(0x8004D008u);
constexpr HRESULT XACT_E_NOISORETAIN = static_cast<HRESULT>(0x8004D00Bu);
constexpr HRESULT XACT_E_NOTRANSACTION = static_cast<HRESULT>(0x8004D00Eu);
constexpr HRESULT XACT_E_NOTSUPPORTED = static_cast<HRESULT>(0x8004D00Fu);
constexpr HRESULT XACT_E_XTIONEXISTS = static_cast<HRESULT>(0x8004D013u);
constexpr HRESULT XACT_E_INDOUBT = static_cast<HRESULT>(0x8004D016u);
constexpr HRESULT XACT_E_NOTIMEOUT = static_cast<HRESULT>(0x8004D017u);
constexpr HRESULT XACT_E_ALREADYINPROGRESS = static_cast<HRESULT>(0x8004D018u);
constexpr HRESULT XACT_E_ABORTED = static_cast<HRESULT>(0x8004D019u);
constexpr HRESULT XACT_E_LOGFULL = static_cast<HRESULT>(0x8004D01Au);
constexpr HRESULT XACT_E_TMNOTAVAILABLE = static_cast<HRESULT>(0x8004D01Bu);
constexpr HRESULT XACT_E_CONNECTION_DOWN = static_cast<HRESULT>(0x8004D01Cu);
constexpr HRESULT XACT_E_CONNECTION_DENIED = static_cast<HRESULT>(0x8004D01Du);
constexpr HRESULT XACT_E_NOTSINGLEPHASE = static_cast<HRESULT>(0x8004D103u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

// ---- interface identifiers --------------------------------------------------------
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITransactionResourceAsync = {
    0x69E971F0, 0x23CE, 0x11CF, {0xAD, 0x60, 0x00, 0xAA, 0x00, 0xA7, 0x4C, 0xCD}};
constexpr IID IID_IDtcToXaHelperSinglePipe = {
    0x47ED4971, 0x53B3, 0x11D1, {0xBB, 0xB9, 0x00, 0xC0, 0x4F, 0xD6, 0x58, 0xF6}};
constexpr IID IID_ITransactionEnlistmentAsync = {
    0x0FB15081, 0xAF41, 0x11CE, {0xBD, 0x2B, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};
constexpr IID IID_ITransaction = {
    0x0FB15084, 0xAF41, 0x11CE, {0xBD, 0x2B, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};

// ---- interfaces --------------------------------------------------------------------
// An object lives as long as references to it are held; Release of the last
// one deletes it, so nobody deletes through these types.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IMoniker;  // never used: monikers are always NULL here

// A transaction of the manager. The driver never calls it.
class ITransaction : public IUnknown {
 protected:
  ~ITransaction() = default;
};

// The driver's side of one enlistment: the manager drives two-phase commit
// through it, on threads of its own.
class ITransactionResourceAsync : public IUnknown {
 public:
  virtual HRESULT PrepareRequest(ComBool fRetaining, DWORD grfRM, ComBool fWantMoniker,
                                 ComBool fSinglePhase) = 0;
  virtual HRESULT CommitRequest(DWORD grfRM, XACTUOW* pNewUOW) = 0;
  virtual HRESULT AbortRequest(BOID* pboidReason, ComBool fRetaining, XACTUOW* pNewUOW) = 0;
  virtual HRESULT TMDown() = 0;

 protected:
  ~ITransactionResourceAsync() = default;
};

// The manager's side of one enlistment: the driver reports each phase's
// outcome here before its request returns.
class ITransactionEnlistmentAsync : public IUnknown {
 public:
  virtual HRESULT PrepareRequestDone(HRESULT hr, IMoniker* pmk, BOID* pboidReason) = 0;
  virtual HRESULT CommitRequestDone(HRESULT hr) = 0;
  virtual HRESULT AbortRequestDone(HRESULT hr) = 0;

 protected:
  ~ITransactionEnlistmentAsync() = default;
};

// The manager's XA helper: registers the driver as an XA resource manager
// (connect string and the driver's file name, for recovery through
// GetXaSwitch), gives each transaction's branch identifier and enlists.
class IDtcToXaHelperSinglePipe : public IUnknown {
 public:
  virtual HRESULT XARMCreate(char* pszDSN, char* pszClientDll, DWORD* pdwRMCookie) = 0;
  virtual HRESULT ConvertTridToXID(ITransaction* pITransaction, DWORD dwRMCookie, XID* pxid) = 0;
  virtual HRESULT EnlistWithRM(DWORD dwRMCookie, ITransaction* pITransaction,
                               ITransactionResourceAsync* pITransRes,
                               ITransactionEnlistmentAsync** ppITransEnlistment) = 0;
  virtual void ReleaseRMCookie(DWORD dwRMCookie, ComBool fNormal) = 0;

 protected:
  ~IDtcToXaHelperSinglePipe() = default;
};

// The manager library's export: the transaction manager as the interface
// riid asks (the driver asks IUnknown), with no host and no manager name.
using DtcGetTransactionManagerFn = HRESULT (*)(char* host, char* tmName, REFIID riid,
                                               DWORD reserved1, uint16_t reserved2Size,
                                               void* reserved2, void** out);
constexpr const char* kDtcGetterName = "DtcGetTransactionManager";
// The environment variable that names the manager library (a path for dlopen).
constexpr const char* kDtcLibraryVariable = "ZNT_DTC_LIBRARY";

}  // namespace kx
