#include "ui/main_thread_bridge.h"

#include <QCoreApplication>
#include <QEvent>

namespace hm::ui {
namespace {

const QEvent::Type kServeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

QtMainThreadQueue::QtMainThreadQueue(QObject* parent)
    : QObject(parent), queue_([this] { Wake(); }) {}

QtMainThreadQueue::~QtMainThreadQueue() = default;

void QtMainThreadQueue::Wake() {
  if (wake_posted_.exchange(true)) return;
  QCoreApplication::postEvent(this, new QEvent(kServeEvent));
}

bool QtMainThreadQueue::event(QEvent* event) {
  if (event->type() != kServeEvent) return QObject::event(event);
  Serve();
  return true;
}

void QtMainThreadQueue::Serve() {
  // Cleared before serving: a call queued while we serve posts again, so none is left waiting.
  wake_posted_.store(false);
  queue_.ServePending();
}

}  // namespace hm::ui
