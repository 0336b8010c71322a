// A small transaction manager for the tests of the driver's DTC-style
// resource manager: a shared library exporting the getter the driver
// resolves (DtcGetTransactionManager) and, for the test application, the
// functions below that begin and end transactions.
//
// A transaction is a GUID. Its branch identifier for an enlisted resource
// manager has the format id kTestTmFormatId, the GUID as gtrid (16 bytes)
// and the resource manager's cookie as bqual (4 bytes, big-endian). Commit
// runs PrepareRequest on every enlistment, each on a thread of the manager's
// own, waits for all PrepareRequestDone callbacks, then (all prepared) runs
// CommitRequest likewise and waits for CommitRequestDone; a failed prepare
// aborts every enlistment instead. Once a transaction is finished the manager
// lets go of the enlisted resources.
#pragma once

#include <cstddef>

#include "xa/dtc_iface.h"

constexpr long kTestTmFormatId = 0x4B58544D;  // "KXTM"

extern "C" {

// A new transaction with one reference for the caller (TestTm_Release).
kx::ITransaction* TestTm_Begin();
void TestTm_Release(kx::ITransaction* tx);

// Two-phase commit. betweenPhases (may be NULL) runs on the calling thread
// once every enlistment has prepared and before any commits. S_OK when every
// enlistment committed; XACT_E_ABORTED when a prepare failed (all aborted);
// else the first failed commit's result.
kx::HRESULT TestTm_Commit(kx::ITransaction* tx, void (*betweenPhases)(void* arg), void* arg);
// AbortRequest on every enlistment; S_OK or the first failure.
kx::HRESULT TestTm_Abort(kx::ITransaction* tx);
// The manager goes down: TMDown on every enlistment; S_OK or the first failure.
kx::HRESULT TestTm_Down(kx::ITransaction* tx);

// Enlistments of the transaction not yet finished.
int TestTm_Enlisted(kx::ITransaction* tx);
// The text and driver file name of the last XARMCreate (cut, terminated).
void TestTm_LastRm(char* connectText, size_t textSize, char* driverName, size_t nameSize);
// Recovery's first step: finds the driver the last XARMCreate named among the
// loaded libraries and asks its GetXaSwitch for the XA switch; copies the
// switch's resource-manager name (cut, terminated). The HRESULT, or
// E_FAIL when the library or its export cannot be found.
kx::HRESULT TestTm_XaSwitchName(char* name, size_t size);
// Resource-manager cookies handed out and not yet released.
int TestTm_LiveCookies();
// The branch identifier the manager gives for tx and a cookie.
void TestTm_Xid(kx::ITransaction* tx, kx::DWORD cookie, kx::XID* out);

}  // extern "C"
