// QtMainThreadQueue: the main-thread call queue of the desktop program.
//
// Worker threads (the scan thread, later the monitor and cleaner workers) block in
// MainThreadQueue::RunOnMainThread() until the GUI thread has run their call. The queue's wake
// hook posts an event to this object, which lives in the GUI thread; when Qt's event loop
// delivers it, every call waiting by then is served, in order. (A plain posted event hands over
// through Qt's event queue lock alone, which thread checkers can follow.) While a post is outstanding further
// wakes post nothing, so a busy worker cannot flood the event queue.
//
// Create it on the GUI thread, after the QApplication. Destroy it only after every worker that
// uses the queue has ended (the scanner's destructor stops its worker).
#pragma once

#include <QObject>
#include <atomic>

#include "platform/main_thread.h"

namespace hm::ui {

class QtMainThreadQueue : public QObject {
  Q_OBJECT

 public:
  explicit QtMainThreadQueue(QObject* parent = nullptr);
  ~QtMainThreadQueue() override;

  MainThreadQueue& queue() { return queue_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void Wake();
  void Serve();

  std::atomic<bool> wake_posted_{false};
  MainThreadQueue queue_;  // after wake_posted_: its hook uses it
};

}  // namespace hm::ui
