#include "controls/program_style.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyleFactory>
#include <QToolTip>

namespace hm::controls {

TProgramStyle::TProgramStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

int TProgramStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* data) const {
  switch (hint) {
    case SH_ToolTip_WakeUpDelay: return kHintPauseMs;
    case SH_ToolTip_FallAsleepDelay: return kHintHideMs;
    default: return QProxyStyle::styleHint(hint, option, widget, data);
  }
}

bool ListHintFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip) return false;
  auto* viewport = qobject_cast<QWidget*>(watched);
  auto* view = viewport ? qobject_cast<QAbstractItemView*>(viewport->parentWidget()) : nullptr;
  if (view == nullptr || view->viewport() != viewport) return false;
  auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = view->indexAt(help->pos());
  if (!index.isValid()) {
    QToolTip::hideText();
    return true;
  }
  if (index.data(Qt::ToolTipRole).isValid()) return false;  // the item's own hint
  const QString text = index.data(Qt::DisplayRole).toString();
  if (text.isEmpty()) {
    QToolTip::hideText();
    return true;
  }
  const QRect item = view->visualRect(index);
  QToolTip::showText(viewport->mapToGlobal(item.topLeft() - QPoint(1, 0)), text, viewport, item,
                     kHintHideMs);
  return true;
}

void InstallProgramStyle(QApplication& app) {
  QApplication::setStyle(new TProgramStyle());
  app.installEventFilter(new ListHintFilter(&app));
}

}  // namespace hm::controls
