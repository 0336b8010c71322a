#include "xa/xa_worker.h"

#include <system_error>

#include "util/log.h"

namespace kx {

namespace {

std::atomic<int> g_running{0};

// The thread body: one request at a time until asked to stop. A stop wins
// over a request that is ready at the same moment; the stopper holds the
// channel, so none can be.
void WorkerMain(std::shared_ptr<XaWorkerCore> core) {
  XaChannel& ch = core->channel;
  std::unique_lock<std::mutex> hold(ch.lock);
  for (;;) {
    ch.changed.wait(hold, [&] { return ch.ready || ch.stop; });
    if (ch.stop) break;
    XaRequest* request = ch.current;
    ch.ready = false;
    hold.unlock();
    request->fn(request->arg);
    hold.lock();
    ch.done = true;
    ch.changed.notify_all();
  }
  core->alive.store(false, std::memory_order_release);
  g_running.fetch_sub(1, std::memory_order_acq_rel);
  ch.changed.notify_all();
  // The thread's Java VM attachment, if an operation made one, ends with the
  // thread (the attachment's thread-local guard detaches it).
}

}  // namespace

bool XaWorker_Start(XaWorker* worker) {
  worker->core = std::make_shared<XaWorkerCore>();
  worker->core->alive.store(true, std::memory_order_release);
  g_running.fetch_add(1, std::memory_order_acq_rel);
  try {
    worker->thread = std::thread(WorkerMain, worker->core);
  } catch (const std::system_error&) {
    worker->core->alive.store(false, std::memory_order_release);
    g_running.fetch_sub(1, std::memory_order_acq_rel);
    LogAt(LOG_ERROR, __FILE__, __LINE__, "XA worker thread could not be started");
    return false;
  }
  std::lock_guard<std::mutex> hold(worker->core->channel.lock);
  worker->core->id = worker->thread.get_id();
  return true;
}

void XaWorker_Stop(XaWorker* worker) {
  if (!worker->thread.joinable()) return;
  XaChannel& ch = worker->core->channel;
  if (std::this_thread::get_id() == worker->thread.get_id()) {
    // Asked from inside one of its own requests: it cannot join itself. The
    // thread ends once that request returns, and keeps the state it needs.
    std::lock_guard<std::mutex> hold(ch.lock);
    ch.stop = true;
    ch.changed.notify_all();
    worker->thread.detach();
    return;
  }
  {
    std::unique_lock<std::mutex> hold(ch.lock);
    const auto me = std::this_thread::get_id();
    ch.changed.wait(hold, [&] {
      return !ch.taken || ch.holder == me || !worker->core->alive.load(std::memory_order_acquire);
    });
    ch.taken = true;
    ch.holder = me;
    ch.stop = true;
    ch.changed.notify_all();
  }
  worker->thread.join();
  std::lock_guard<std::mutex> hold(ch.lock);
  ch.taken = false;
  ch.holder = std::thread::id();
  ch.changed.notify_all();
}

void XaWorker_Hold(XaWorker* worker) {
  if (worker->core == nullptr) return;
  XaChannel& ch = worker->core->channel;
  std::unique_lock<std::mutex> hold(ch.lock);
  // From inside one of its own requests the channel is taken by that
  // request already, and nothing else can be handed over meanwhile.
  if (std::this_thread::get_id() == worker->core->id) return;
  ch.changed.wait(hold, [&] {
    return !ch.taken || !worker->core->alive.load(std::memory_order_acquire);
  });
  ch.taken = true;
  ch.holder = std::this_thread::get_id();
}

void XaWorker_Release(XaWorker* worker) {
  if (worker->core == nullptr) return;
  XaChannel& ch = worker->core->channel;
  std::lock_guard<std::mutex> hold(ch.lock);
  if (ch.holder != std::this_thread::get_id()) return;
  ch.taken = false;
  ch.holder = std::thread::id();
  ch.changed.notify_all();
}

int XaWorker_Run(XaWorker* worker, int (*fn)(void*), void* arg) {
  std::shared_ptr<XaWorkerCore> core = worker->core;  // outlives a concurrent stop
  if (core == nullptr) return 0;
  XaChannel& ch = core->channel;
  std::unique_lock<std::mutex> hold(ch.lock);
  auto alive = [&] { return core->alive.load(std::memory_order_acquire); };
  if (!alive()) return 0;
  if (std::this_thread::get_id() == core->id) {
    hold.unlock();
    fn(arg);
    return 1;
  }
  ch.changed.wait(hold, [&] { return !ch.taken || !alive(); });
  if (!alive() || ch.stop) return 0;
  XaRequest request{fn, arg};
  ch.taken = true;
  ch.current = &request;
  ch.done = false;
  ch.ready = true;
  ch.changed.notify_all();
  ch.changed.wait(hold, [&] { return ch.done || !alive(); });
  const bool ran = ch.done;
  ch.current = nullptr;
  ch.ready = false;
  ch.done = false;
  ch.taken = false;
  ch.changed.notify_all();
  return ran ? 1 : 0;
}

int XaWorker_Running() { return g_running.load(std::memory_order_acquire); }

int XaWorker_IsAlive(const XaWorker* worker) {
  return worker->core != nullptr && worker->core->alive.load(std::memory_order_acquire) ? 1 : 0;
}

}  // namespace kx
