// The worker thread of one XA-opened connection and the channel that hands it
// one request at a time from any number of posting threads.
//
// The worker is only ever stopped by asking it: the stopper takes the channel
// (so a request in flight runs to its end), posts the stop, and joins the
// thread, which detaches itself from the Java VM as it ends. Nothing here
// waits with a time limit, and nothing waits for a worker that has ended.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace kx {

// One routed call: a function and its argument, run on the worker.
struct XaRequest {
  int (*fn)(void* arg);
  void* arg;
};

// The hand-over between posters and the worker, guarded by its lock.
struct XaChannel {
  std::mutex lock;
  std::condition_variable changed;  // every state change below is announced
  XaRequest* current = nullptr;     // the request being handed over
  bool taken = false;               // a poster (or the stopper) holds the channel
  bool ready = false;               // current waits for the worker
  bool done = false;                // the worker has finished current
  bool stop = false;                // the worker is asked to end
  std::thread::id holder;           // the thread that holds the channel idle, if any
};

// What the worker thread shares with the posters; it lives as long as
// either still uses it.
struct XaWorkerCore {
  XaChannel channel;
  std::atomic<bool> alive{false};  // true from start until the thread body ends
  std::thread::id id;              // the worker thread's id, set before it runs
};

struct XaWorker {
  std::shared_ptr<XaWorkerCore> core;
  std::thread thread;
};

// Starts the worker's thread. False when the thread cannot be made: the
// worker then exists but every request is refused.
bool XaWorker_Start(XaWorker* worker);
// Stops the worker cooperatively and joins its thread; a request in flight
// finishes first (the caller may hold the channel already). Posters still
// waiting for the channel are refused. Safe on a worker that never started or
// has stopped already.
void XaWorker_Stop(XaWorker* worker);
// Takes the channel as a poster would (waiting out a request in flight) and
// keeps it: the worker stays idle and later posters wait, until
// XaWorker_Release gives it back or XaWorker_Stop, called by the same
// thread, ends the worker (the waiting posters are then refused). On the
// worker's own thread (inside one of its requests) it takes nothing.
void XaWorker_Hold(XaWorker* worker);
void XaWorker_Release(XaWorker* worker);
// Runs fn(arg) on the worker and waits for it. 1 when it ran, 0 when it could
// not be handed over (the worker is not alive or stopped meanwhile). Called on
// the worker's own thread (a routed operation calling back into the layer),
// it runs fn at once.
int XaWorker_Run(XaWorker* worker, int (*fn)(void*), void* arg);
// 1 while the worker's thread runs.
int XaWorker_IsAlive(const XaWorker* worker);
// Worker threads of the process whose body has not ended.
int XaWorker_Running();

}  // namespace kx
