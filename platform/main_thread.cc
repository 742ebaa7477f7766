#include "platform/main_thread.h"

namespace hm {

MainThreadQueue::MainThreadQueue(std::function<void()> wake)
    : main_thread_(std::this_thread::get_id()), wake_(std::move(wake)) {}

void MainThreadQueue::RunOnMainThread(FunctionRef<void()> call) {
  if (IsMainThread()) {
    call();
    return;
  }
  Pending pending{call};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(&pending);
  }
  posted_.notify_all();
  if (wake_) wake_();
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return pending.done; });
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
    }
    ++serving_depth_;
    pending->call();
    --serving_depth_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending->done = true;
    }
    finished_.notify_all();
    ++served;
  }
}

void MainThreadQueue::ServeUntil(FunctionRef<bool()> done, std::chrono::milliseconds poll) {
  while (true) {
    ServePending();
    if (done()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, poll, [&] { return !queue_.empty(); });
  }
}

}  // namespace hm
