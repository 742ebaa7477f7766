#include "ui/header_bar.h"

#include <QMouseEvent>
#include <QPainter>

#include "controls/picture.h"
#include "controls/skin.h"
#include "ui/main_window.h"

namespace hm::ui {
namespace {

namespace skin = controls::skin;

constexpr const char* kCaptions[THeaderBar::kButtonCount] = {
    "PC Status", "Scan", "Optimize", "Monitor", "Restore", "History", "Settings"};
constexpr const char* kIcons[THeaderBar::kButtonCount] = {
    ":/ui/resources/header-status.svg",  ":/ui/resources/header-scan.svg",
    ":/ui/resources/header-optimize.svg", ":/ui/resources/header-monitor.svg",
    ":/ui/resources/header-restore.svg", ":/ui/resources/header-history.svg",
    ":/ui/resources/header-settings.svg"};

constexpr int kWindowButtonSize = 26;
// The help button's left edge lies this far left of the window's right edge.
constexpr int kHelpFromRight = 224;

}  // namespace

THeaderBar::THeaderBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("hmHeader"));
  setFixedHeight(skin::kHeaderHeight);
  for (int i = 0; i < kButtonCount; ++i) {
    auto* button = new controls::THeaderButton(QString::fromLatin1(kCaptions[i]),
                                               QString::fromLatin1(kIcons[i]), this);
    button->setObjectName(QStringLiteral("hmHeaderButton%1").arg(i));
    connect(button, &QAbstractButton::clicked, this, [this, i] { emit ButtonClicked(i); });
    buttons_[i] = button;
  }
  const QSize small(kWindowButtonSize, 22);
  help_ = new controls::TImageButton(QStringLiteral(":/ui/resources/window-help.svg"),
                                     QSize(14, 14), small, this);
  help_->setObjectName(QStringLiteral("hmHelpButton"));
  help_->setToolTip(QStringLiteral("Help"));
  minimize_ = new controls::TImageButton(QStringLiteral(":/ui/resources/window-minimize.svg"),
                                         QSize(12, 12), small, this);
  minimize_->setToolTip(QStringLiteral("Minimize"));
  maximize_ = new controls::TImageButton(QStringLiteral(":/ui/resources/window-maximize.svg"),
                                         QSize(12, 12), small, this);
  maximize_->setToolTip(QStringLiteral("Maximize"));
  close_ = new controls::TImageButton(QStringLiteral(":/ui/resources/window-close.svg"),
                                      QSize(12, 12), small, this);
  close_->setObjectName(QStringLiteral("hmCloseButton"));
  close_->setToolTip(QStringLiteral("Close"));
  close_->SetHoverColor(skin::kDanger);
  connect(help_, &QAbstractButton::clicked, this, &THeaderBar::HelpClicked);
  connect(minimize_, &QAbstractButton::clicked, this, &THeaderBar::MinimizeClicked);
  connect(maximize_, &QAbstractButton::clicked, this, &THeaderBar::MaximizeClicked);
  connect(close_, &QAbstractButton::clicked, this, &THeaderBar::CloseClicked);
}

void THeaderBar::SetMaximized(bool maximized) {
  maximize_->SetPicture(maximized ? QStringLiteral(":/ui/resources/window-restore.svg")
                                  : QStringLiteral(":/ui/resources/window-maximize.svg"));
  maximize_->setToolTip(maximized ? QStringLiteral("Restore Down") : QStringLiteral("Maximize"));
}

void THeaderBar::PlaceChildren() {
  const int top = height() - skin::kHeaderButtonHeight;
  for (int i = 0; i < kButtonCount; ++i) {
    buttons_[i]->move(TfmHMMain::HeaderButtonLeft(width(), i), top);
  }
  int x = width() - 4 - kWindowButtonSize;
  for (controls::TImageButton* b : {close_, maximize_, minimize_}) {
    b->move(x, 2);
    x -= kWindowButtonSize + 2;
  }
  help_->move(std::max(0, width() - kHelpFromRight), 2);
}

void THeaderBar::resizeEvent(QResizeEvent*) { PlaceChildren(); }

void THeaderBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, 0, height());
  fill.setColorAt(0, skin::kHeaderTop);
  fill.setColorAt(1, skin::kHeaderBottom);
  painter.fillRect(rect(), fill);
  // A faint amber glow behind the logo, and a hairline under the header.
  QRadialGradient glow(QPointF(52, height() / 2.0), 110);
  QColor amber = skin::kAccent;
  amber.setAlpha(40);
  glow.setColorAt(0, amber);
  glow.setColorAt(1, Qt::transparent);
  painter.fillRect(QRectF(0, 0, 240, height()), glow);
  painter.fillRect(QRectF(0, height() - 1, width(), 1), QColor(0, 0, 0, 90));

  const int logo = 46;
  const QPixmap mark = controls::RenderPicture(QStringLiteral(":/ui/resources/logo.svg"),
                                               QSize(logo, logo), devicePixelRatioF());
  const qreal logo_top = (height() - logo) / 2.0 + 4;
  painter.drawPixmap(QPointF(18, logo_top), mark);
  // The name and tag line only where the button row leaves room for them (a narrow work area
  // moves the row left).
  if (TfmHMMain::HeaderButtonLeft(width(), 0) < 18 + logo + 10 + 150) return;
  QFont name = font();
  name.setPointSizeF(font().pointSizeF() + 7);
  name.setBold(true);
  painter.setFont(name);
  painter.setPen(skin::kHeaderText);
  const QRectF name_box(18 + logo + 10, logo_top - 2, 170, logo * 0.62);
  painter.drawText(name_box, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Hivemend"));
  QFont tag = font();
  tag.setPointSizeF(std::max(7.0, font().pointSizeF() - 1));
  painter.setFont(tag);
  painter.setPen(skin::kAccent);
  painter.drawText(QRectF(name_box.left() + 1, name_box.bottom() + 1, 170, logo * 0.4),
                   Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Registry care"));
}

void THeaderBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit MoveRequested(event->globalPosition().toPoint());
}

void THeaderBar::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) emit DragMoved(event->globalPosition().toPoint());
}

void THeaderBar::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

}  // namespace hm::ui
