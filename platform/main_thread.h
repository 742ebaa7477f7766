// MainThreadQueue: how worker threads have work done on the main thread.
//
// A worker calls RunOnMainThread() and is blocked until the main thread has run the call. The
// main thread runs pending calls in ServePending(), which each front end calls from its own loop:
// the Qt program when the wake-up hook tells its event loop there is work, the command-line tool
// and the tests in their waiting loops. Calls from one worker arrive in the order it made them.
//
// A main thread that waits for a worker to end (a scanner's Stop) keeps serving with
// ServeUntil(), so a worker blocked in a call can always finish: the two never wait for each
// other.
//
// Thread safety: RunOnMainThread() from any thread but the main one; ServePending() and
// ServeUntil() only on the main thread (the thread that created the queue).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/function_ref.h"

namespace hm {

class MainThreadQueue {
 public:
  // `wake` (optional) is called from the posting thread after a call was queued; a GUI uses it
  // to have its event loop call ServePending() soon. It must not block.
  explicit MainThreadQueue(std::function<void()> wake = nullptr);
  MainThreadQueue(const MainThreadQueue&) = delete;
  MainThreadQueue& operator=(const MainThreadQueue&) = delete;

  // Runs `call` on the main thread and returns when it has run. Called on the main thread
  // itself, it runs the call at once.
  void RunOnMainThread(FunctionRef<void()> call);

  // Runs every call queued so far; returns how many ran.
  int ServePending();
  // Serves calls until `done()` is true, waiting at most `poll` between checks.
  void ServeUntil(FunctionRef<bool()> done,
                  std::chrono::milliseconds poll = std::chrono::milliseconds(10));

  bool IsMainThread() const { return std::this_thread::get_id() == main_thread_; }
  // True while the main thread runs a worker's call: a worker is then blocked, so waiting for it
  // here would never end.
  bool InsideCall() const { return serving_depth_ > 0; }

 private:
  struct Pending {
    explicit Pending(FunctionRef<void()> c) : call(c) {}
    FunctionRef<void()> call;
    std::atomic<bool> done{false};
  };

  const std::thread::id main_thread_;
  std::function<void()> wake_;
  std::mutex mutex_;
  std::condition_variable posted_;    // a call was queued
  std::condition_variable finished_;  // a call has run
  std::deque<Pending*> queue_;
  std::atomic<size_t> queued_{0};  // queue_.size(), readable without the mutex
  int serving_depth_ = 0;          // main thread only
};

}  // namespace hm
