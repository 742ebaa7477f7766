#include "ui/main_thread_bridge.h"

#include <QMetaObject>

namespace hm::ui {

QtMainThreadQueue::QtMainThreadQueue(QObject* parent)
    : QObject(parent), queue_([this] { Wake(); }) {}

QtMainThreadQueue::~QtMainThreadQueue() = default;

void QtMainThreadQueue::Wake() {
  if (wake_posted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, &QtMainThreadQueue::Serve, Qt::QueuedConnection);
}

void QtMainThreadQueue::Serve() {
  // Cleared before serving: a call queued while we serve posts again, so none is left waiting.
  wake_posted_.store(false);
  queue_.ServePending();
}

}  // namespace hm::ui
