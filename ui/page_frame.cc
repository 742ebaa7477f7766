#include "ui/page_frame.h"

#include <QGridLayout>

namespace hm::ui {

TfrHMFrame::TfrHMFrame(TfmHMMain& main, QWidget* body) : QWidget(body), main_(main) {
  setVisible(false);
}

void TfrHMFrame::VisibleChanged(bool) {}

TfrHMFrame* TfrHMFrame::ShowFrame(TfrHMFrame* instance, const PageFactory& create,
                                  TfmHMMain& main, QWidget* body, scan::TRegScanner* scanner,
                                  bool show) {
  if (instance == nullptr) {
    if (!create) return nullptr;
    instance = create(main, body);
    if (instance == nullptr) return nullptr;
    instance->setParent(body);
    // Every page shares the one cell of the body's grid; only the visible one takes room.
    auto* grid = qobject_cast<QGridLayout*>(body->layout());
    if (grid == nullptr) {
      grid = new QGridLayout(body);
      grid->setContentsMargins(0, 0, 0, 0);
    }
    grid->addWidget(instance, 0, 0);
  }
  instance->scanner_ = scanner;
  instance->setVisible(show);
  instance->VisibleChanged(show);
  return instance;
}

}  // namespace hm::ui
