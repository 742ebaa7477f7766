#include "platform/main_thread.h"

namespace {

// A call between the threads usually completes within microseconds; waiting that long without
// going to sleep saves the two context switches of a sleep and a wake-up per call, which would
// otherwise cost more than most calls themselves.
template <typename Done>
bool SpinBriefly(Done done) {
  for (int i = 0; i < 1000; ++i) {  // some tens of microseconds
    if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  return done();
}

}  // namespace

namespace hm {

MainThreadQueue::MainThreadQueue(std::function<void()> wake)
    : main_thread_(std::this_thread::get_id()), wake_(std::move(wake)) {}

void MainThreadQueue::RunOnMainThread(FunctionRef<void()> call) {
  if (IsMainThread()) {
    call();
    return;
  }
  Pending pending(call);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(&pending);
    queued_.store(queue_.size(), std::memory_order_release);
  }
  posted_.notify_all();
  if (wake_) wake_();
  if (SpinBriefly([&] { return pending.done.load(std::memory_order_acquire); })) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return pending.done.load(std::memory_order_acquire); });
}

int MainThreadQueue::ServePending() {
  int served = 0;
  while (true) {
    Pending* pending = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return served;
      pending = queue_.front();
      queue_.pop_front();
      queued_.store(queue_.size(), std::memory_order_release);
    }
    ++serving_depth_;
    pending->call();
    --serving_depth_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending->done.store(true, std::memory_order_release);
    }
    // `pending` may end as soon as its worker sees `done`; only members are used from here.
    finished_.notify_all();
    ++served;
  }
}

void MainThreadQueue::ServeUntil(FunctionRef<bool()> done, std::chrono::milliseconds poll) {
  while (true) {
    ServePending();
    if (done()) return;
    if (SpinBriefly([this] { return queued_.load(std::memory_order_acquire) > 0; })) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, poll, [&] { return !queue_.empty(); });
  }
}

}  // namespace hm
