#include "test_tm.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace kx;

namespace {

class Transaction;

// QueryInterface of an object with one interface besides IUnknown.
template <typename T>
HRESULT QueryOwn(T* self, REFIID own, REFIID riid, void** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, own)) return E_NOINTERFACE;
  self->AddRef();
  *out = self;
  return S_OK;
}

// One enlisted resource of a transaction: the manager's enlistment object,
// which the resource reports each phase's outcome to.
class Branch final : public ITransactionEnlistmentAsync {
 public:
  Branch(ITransactionResourceAsync* resource, DWORD cookie) : resource_(resource), cookie_(cookie) {
    resource_->AddRef();
  }
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return QueryOwn(this, IID_ITransactionEnlistmentAsync, riid, out);
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG Release() override {
    const int n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT PrepareRequestDone(HRESULT hr, IMoniker*, BOID*) override { return Done(&prepared_, hr); }
  HRESULT CommitRequestDone(HRESULT hr) override { return Done(&committed_, hr); }
  HRESULT AbortRequestDone(HRESULT hr) override { return Done(&aborted_, hr); }

  // One outcome: set once its callback arrived.
  struct Outcome {
    bool done = false;
    HRESULT hr = E_UNEXPECTED;
  };
  // Waits for the callback of an outcome and returns its result.
  HRESULT Wait(Outcome Branch::*which) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return (this->*which).done; });
    return (this->*which).hr;
  }
  void Reset(Outcome Branch::*which) {
    std::lock_guard<std::mutex> hold(lock_);
    this->*which = Outcome{};
  }
  // Drops the resource: the transaction is finished for it.
  void Finish() {
    if (resource_ != nullptr) resource_->Release();
    resource_ = nullptr;
  }
  ITransactionResourceAsync* resource() const { return resource_; }
  DWORD cookie() const { return cookie_; }

  Outcome prepared_, committed_, aborted_;

 private:
  ~Branch() { Finish(); }
  HRESULT Done(Outcome* outcome, HRESULT hr) {
    std::lock_guard<std::mutex> hold(lock_);
    outcome->done = true;
    outcome->hr = hr;
    changed_.notify_all();
    return S_OK;
  }
  std::atomic<int> refs_{1};
  ITransactionResourceAsync* resource_;
  DWORD cookie_;
  std::mutex lock_;
  std::condition_variable changed_;
};

class Transaction final : public ITransaction {
 public:
  Transaction() {
    static std::atomic<uint32_t> counter{0};
    const uint32_t n = ++counter;
    std::memset(id_, 0, sizeof id_);
    std::memcpy(id_, "KXTM", 4);
    std::memcpy(id_ + 4, &n, sizeof n);
    const uint64_t stamp = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::memcpy(id_ + 8, &stamp, sizeof stamp);
  }
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return QueryOwn(this, IID_ITransaction, riid, out);
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG Release() override {
    const int n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  void Add(Branch* b) {
    std::lock_guard<std::mutex> hold(lock_);
    branches_.push_back(b);
  }
  std::vector<Branch*> Branches() {
    std::lock_guard<std::mutex> hold(lock_);
    return branches_;
  }
  // The transaction is finished: every enlisted resource is let go.
  void Finish() {
    std::vector<Branch*> gone;
    {
      std::lock_guard<std::mutex> hold(lock_);
      gone.swap(branches_);
    }
    for (Branch* b : gone) {
      b->Finish();
      b->Release();
    }
  }
  const uint8_t* id() const { return id_; }

 private:
  ~Transaction() { Finish(); }
  std::atomic<int> refs_{1};
  uint8_t id_[16];
  std::mutex lock_;
  std::vector<Branch*> branches_;
};

// Runs request on every branch, each on a thread of its own, and waits for
// their callbacks. The first failing result, else the first result.
template <typename Request>
HRESULT Phase(const std::vector<Branch*>& branches, Branch::Outcome Branch::*which, Request request,
              std::vector<HRESULT>* each = nullptr) {
  std::vector<std::thread> threads;
  for (Branch* b : branches) {
    b->Reset(which);
    threads.emplace_back([b, request] { request(b->resource()); });
  }
  HRESULT result = S_OK;
  for (Branch* b : branches) {
    const HRESULT hr = b->Wait(which);
    if (each != nullptr) each->push_back(hr);
    if (FAILED(hr) && !FAILED(result)) result = hr;
  }
  for (std::thread& t : threads) t.join();
  return result;
}

// The manager: the getter's object and the XA helper in one.
class Manager final : public IDtcToXaHelperSinglePipe {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return QueryOwn(this, IID_IDtcToXaHelperSinglePipe, riid, out);
  }
  // The manager lives as long as the process.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT XARMCreate(char* dsn, char* clientDll, DWORD* cookie) override {
    if (dsn == nullptr || clientDll == nullptr || cookie == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(lock_);
    lastText_ = dsn;
    lastDll_ = clientDll;
    *cookie = ++nextCookie_;
    cookies_.insert(*cookie);
    return S_OK;
  }
  HRESULT ConvertTridToXID(ITransaction* tx, DWORD cookie, XID* xid) override {
    if (tx == nullptr || xid == nullptr) return E_INVALIDARG;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (cookies_.count(cookie) == 0) return E_INVALIDARG;
    }
    TestTm_Xid(tx, cookie, xid);
    return S_OK;
  }
  HRESULT EnlistWithRM(DWORD cookie, ITransaction* tx, ITransactionResourceAsync* resource,
                       ITransactionEnlistmentAsync** out) override {
    if (tx == nullptr || resource == nullptr || out == nullptr) return E_INVALIDARG;
    auto* b = new Branch(resource, cookie);
    static_cast<Transaction*>(tx)->Add(b);  // the transaction's reference
    b->AddRef();                            // the resource's
    *out = b;
    return S_OK;
  }
  void ReleaseRMCookie(DWORD cookie, ComBool) override {
    std::lock_guard<std::mutex> hold(lock_);
    cookies_.erase(cookie);
  }

  void LastRm(std::string* text, std::string* dll) {
    std::lock_guard<std::mutex> hold(lock_);
    *text = lastText_;
    *dll = lastDll_;
  }
  int LiveCookies() {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(cookies_.size());
  }

 private:
  std::mutex lock_;
  DWORD nextCookie_ = 0;
  std::set<DWORD> cookies_;
  std::string lastText_;
  std::string lastDll_;
};

Manager& TheManager() {
  static Manager* manager = new Manager;  // never destroyed
  return *manager;
}

void Cut(const std::string& text, char* out, size_t size) {
  if (out != nullptr && size > 0) std::snprintf(out, size, "%s", text.c_str());
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DtcGetTransactionManager(char*, char*, REFIID riid,
                                                                         DWORD, uint16_t, void*,
                                                                         void** out) {
  if (out == nullptr) return E_INVALIDARG;
  return TheManager().QueryInterface(riid, out);
}

ITransaction* TestTm_Begin() { return new Transaction; }

void TestTm_Release(ITransaction* tx) {
  if (tx != nullptr) tx->Release();
}

HRESULT TestTm_Commit(ITransaction* tx, void (*betweenPhases)(void*), void* arg) {
  auto* t = static_cast<Transaction*>(tx);
  const std::vector<Branch*> branches = t->Branches();
  std::vector<HRESULT> votes;
  const HRESULT prepared = Phase(branches, &Branch::prepared_, [](ITransactionResourceAsync* r) {
    r->PrepareRequest(0, 0, 0, 0);
  }, &votes);
  if (FAILED(prepared)) {
    Phase(branches, &Branch::aborted_, [](ITransactionResourceAsync* r) {
      r->AbortRequest(nullptr, 0, nullptr);
    });
    t->Finish();
    return XACT_E_ABORTED;
  }
  if (betweenPhases != nullptr) betweenPhases(arg);
  // A read-only branch is finished with its prepare.
  std::vector<Branch*> voters;
  for (size_t i = 0; i < branches.size(); ++i) {
    if (votes[i] != XACT_S_READONLY) voters.push_back(branches[i]);
  }
  const HRESULT committed = Phase(voters, &Branch::committed_, [](ITransactionResourceAsync* r) {
    r->CommitRequest(0, nullptr);
  });
  t->Finish();
  return committed;
}

HRESULT TestTm_Abort(ITransaction* tx) {
  auto* t = static_cast<Transaction*>(tx);
  const HRESULT hr = Phase(t->Branches(), &Branch::aborted_, [](ITransactionResourceAsync* r) {
    r->AbortRequest(nullptr, 0, nullptr);
  });
  t->Finish();
  return hr;
}

HRESULT TestTm_Down(ITransaction* tx) {
  auto* t = static_cast<Transaction*>(tx);
  HRESULT result = S_OK;
  std::mutex lock;
  std::vector<std::thread> threads;
  for (Branch* b : t->Branches()) {
    threads.emplace_back([&, b] {
      const HRESULT hr = b->resource()->TMDown();
      std::lock_guard<std::mutex> hold(lock);
      if (FAILED(hr) && !FAILED(result)) result = hr;
    });
  }
  for (std::thread& th : threads) th.join();
  t->Finish();
  return result;
}

int TestTm_Enlisted(ITransaction* tx) {
  return static_cast<int>(static_cast<Transaction*>(tx)->Branches().size());
}

void TestTm_LastRm(char* connectText, size_t textSize, char* driverName, size_t nameSize) {
  std::string text, dll;
  TheManager().LastRm(&text, &dll);
  Cut(text, connectText, textSize);
  Cut(dll, driverName, nameSize);
}

HRESULT TestTm_XaSwitchName(char* name, size_t size) {
  std::string text, dll;
  TheManager().LastRm(&text, &dll);
  void* library = dlopen(dll.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return E_FAIL;
  using GetXaSwitchFn = HRESULT (*)(uint32_t flags, void** out);
  auto get = reinterpret_cast<GetXaSwitchFn>(dlsym(library, "GetXaSwitch"));
  HRESULT hr = E_FAIL;
  void* sw = nullptr;
  if (get != nullptr) hr = get(0, &sw);
  if (SUCCEEDED(hr) && sw != nullptr) {
    // The switch starts with the resource manager's name (32 bytes).
    char rmName[33] = {0};
    std::memcpy(rmName, sw, 32);
    Cut(rmName, name, size);
  }
  dlclose(library);
  return hr;
}

int TestTm_LiveCookies() { return TheManager().LiveCookies(); }

void TestTm_Xid(ITransaction* tx, DWORD cookie, XID* out) {
  std::memset(out, 0, sizeof *out);
  out->formatID = kTestTmFormatId;
  out->gtrid_length = 16;
  out->bqual_length = 4;
  std::memcpy(out->data, static_cast<Transaction*>(tx)->id(), 16);
  for (int i = 0; i < 4; ++i) out->data[16 + i] = static_cast<char>((cookie >> (24 - 8 * i)) & 0xFF);
}

}  // extern "C"
