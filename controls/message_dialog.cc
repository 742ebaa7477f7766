#include "controls/message_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/picture.h"
#include "controls/skin.h"

namespace hm::controls {
namespace {

MessageAnswerer* g_answerer = nullptr;
QPointer<QWidget> g_main_window;
bool g_open = false;

QString IconResource(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kError: return QStringLiteral(":/controls/resources/icon-error.svg");
    case MessageIcon::kQuestion: return QStringLiteral(":/controls/resources/icon-question.svg");
    case MessageIcon::kWarning: return QStringLiteral(":/controls/resources/icon-warning.svg");
    case MessageIcon::kInformation:
      return QStringLiteral(":/controls/resources/icon-information.svg");
    case MessageIcon::kNone: break;
  }
  return {};
}

// The dialog: a frameless panel with an optional caption row, the icon, the text and the
// buttons. It can be dragged by any point that is not a button.
class MessageDialog : public QDialog {
 public:
  MessageDialog(const MessageRequest& request, const MessageLayout& layout, QWidget* parent)
      : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), layout_(layout) {
    setObjectName(QStringLiteral("hmMessageDialog"));
    setWindowTitle(request.caption.isEmpty() ? QString::fromLatin1(kProgramTitle)
                                             : request.caption);
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    if (!request.caption.isEmpty() && request.caption != QLatin1String(kProgramTitle)) {
      auto* caption = new QLabel(request.caption, this);
      caption->setObjectName(QStringLiteral("hmMessageCaption"));
      caption->setStyleSheet(QStringLiteral(
          "QLabel#hmMessageCaption { color: #e8eef4; font-weight: 600; padding: 8px 14px;"
          " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1d2b3a, stop:1 #121c27);"
          " border-top-left-radius: 6px; border-top-right-radius: 6px; }"));
      outer->addWidget(caption);
    }

    auto* body = new QHBoxLayout();
    body->setContentsMargins(20, 18, 22, 10);
    body->setSpacing(16);
    const QString icon_path = IconResource(layout.icon);
    if (!icon_path.isEmpty()) {
      auto* icon = new QLabel(this);
      icon->setPixmap(RenderPicture(icon_path, QSize(40, 40), devicePixelRatioF()));
      icon->setFixedSize(40, 40);
      body->addWidget(icon, 0, Qt::AlignTop);
    }
    auto* text = new QLabel(DisplayText(request.text), this);
    text->setObjectName(QStringLiteral("hmMessageText"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMinimumWidth(280);
    text->setMaximumWidth(520);
    body->addWidget(text, 1);
    outer->addLayout(body);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(20, 8, 16, 14);
    buttons->setSpacing(8);
    buttons->addStretch(1);
    bool first = true;
    for (int code : layout.buttons) {
      auto* button = new QPushButton(ButtonText(code), this);
      button->setObjectName(QStringLiteral("hmAnswer%1").arg(code));
      button->setMinimumWidth(84);
      button->setAutoDefault(false);
      if (first) {
        button->setProperty("accent", true);
        button->setFocus();
        first = false;
      }
      connect(button, &QPushButton::clicked, this, [this, code] { done(code); });
      buttons->addWidget(button);
    }
    outer->addLayout(buttons);
  }

  void reject() override {
    const int answer = DismissAnswer(layout_);
    if (answer != 0) done(answer);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, skin::kPanelTop);
    fill.setColorAt(1, skin::kPanelBottom);
    painter.setPen(QPen(skin::kPanelBorder, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), skin::kCornerRadius,
                            skin::kCornerRadius);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) drag_offset_ = event->globalPosition().toPoint() - pos();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - drag_offset_);
  }

 private:
  MessageLayout layout_;
  QPoint drag_offset_;
};

int RunDialog(const MessageRequest& request) {
  QWidget* parent = g_main_window;
  if (!parent || !parent->isVisible()) parent = QApplication::activeWindow();
  MessageDialog dialog(request, LayoutOfStyle(request.style), parent);
  dialog.adjustSize();
  if (parent) {
    dialog.move(parent->frameGeometry().center() - dialog.rect().center());
  }
  return dialog.exec();
}

}  // namespace

MessageLayout LayoutOfStyle(int style) {
  MessageLayout layout;
  switch (style & 0xF0) {
    case kStyleError: layout.icon = MessageIcon::kError; break;
    case kStyleQuestion: layout.icon = MessageIcon::kQuestion; break;
    case kStyleWarning: layout.icon = MessageIcon::kWarning; break;
    case kStyleInformation: layout.icon = MessageIcon::kInformation; break;
    default: layout.icon = MessageIcon::kNone; break;
  }
  switch (style & 0x0F) {
    case kStyleOkCancel: layout.buttons = {kIdOk, kIdCancel}; break;
    case kStyleAbortRetryIgnore: layout.buttons = {kIdAbort, kIdRetry, kIdIgnore}; break;
    case kStyleYesNoCancel: layout.buttons = {kIdYes, kIdNo, kIdCancel}; break;
    case kStyleYesNo: layout.buttons = {kIdYes, kIdNo}; break;
    case kStyleRetryCancel: layout.buttons = {kIdRetry, kIdCancel}; break;
    case kStyleRetryCancelIgnore: layout.buttons = {kIdRetry, kIdCancel, kIdIgnore}; break;
    default: layout.buttons = {kIdOk}; break;
  }
  return layout;
}

QString ButtonText(int code) {
  switch (code) {
    case kIdOk: return QStringLiteral("OK");
    case kIdCancel: return QStringLiteral("Cancel");
    case kIdAbort: return QStringLiteral("Abort");
    case kIdRetry: return QStringLiteral("Retry");
    case kIdIgnore: return QStringLiteral("Ignore");
    case kIdYes: return QStringLiteral("Yes");
    case kIdNo: return QStringLiteral("No");
  }
  return {};
}

int DismissAnswer(const MessageLayout& layout) {
  for (int code : layout.buttons) {
    if (code == kIdCancel) return kIdCancel;
  }
  if (layout.buttons.size() == 1 && layout.buttons[0] == kIdOk) return kIdOk;
  return 0;
}

QString DisplayText(const QString& text) {
  QString shown = text;
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

ScopedMessageAnswerer::ScopedMessageAnswerer(MessageAnswerer* answerer) : previous_(g_answerer) {
  g_answerer = answerer;
}

ScopedMessageAnswerer::~ScopedMessageAnswerer() { g_answerer = previous_; }

void SetMessageMainWindow(QWidget* window) { g_main_window = window; }

bool MessageOpen() { return g_open; }

int ShowMessage(const QString& text, const QString& caption, int style) {
  if (g_open) return kIdCancel;
  g_open = true;
  struct Closer {
    ~Closer() { g_open = false; }
  } closer;

  QCoreApplication::processEvents();
  QWidget* main = g_main_window;
  if (main && main->isVisible() && !main->isMaximized()) {
    main->raise();
    main->activateWindow();
  }
  const MessageRequest request{text, caption, style};
  if (g_answerer) return g_answerer->Answer(request);
  return RunDialog(request);
}

}  // namespace hm::controls
