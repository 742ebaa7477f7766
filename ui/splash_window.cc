#include "ui/splash_window.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "app/entry.h"
#include "controls/skin.h"

namespace hm::ui {

namespace skin = controls::skin;

TfmSplash::TfmSplash(const QString& version, Mode mode, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint |
                          (mode == kSplash ? Qt::WindowStaysOnTopHint : Qt::WindowType(0))),
      mode_(mode) {
  setObjectName(mode == kSplash ? QStringLiteral("hmSplash") : QStringLiteral("hmAbout"));
  setFixedSize(app::kSplashWidth, app::kSplashHeight);
  setWindowTitle(mode == kSplash ? QStringLiteral("Hivemend")
                                 : QStringLiteral("About Hivemend"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(206, 150, 24, 18);
  layout->setSpacing(4);
  auto* version_label = new QLabel(
      QString::fromStdString(app::SplashVersionText(version.toStdString())), this);
  version_label->setObjectName(QStringLiteral("hmSplashVersion"));
  version_label->setStyleSheet(QStringLiteral("color: #c9d4df;"));
  layout->addWidget(version_label);
  layout->addStretch(1);

  auto* bottom = new QHBoxLayout();
  bottom->addStretch(1);
  if (mode == kSplash) {
    auto* loading = new QLabel(QString::fromLatin1(app::kSplashLoadingText), this);
    loading->setObjectName(QStringLiteral("hmSplashLoading"));
    loading->setStyleSheet(QStringLiteral("color: #f2a31b; font-weight: 600;"));
    bottom->addWidget(loading);
  } else {
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("hmAboutClose"));
    close->setProperty("accent", true);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(close);
  }
  layout->addLayout(bottom);

  close_timer_.setSingleShot(true);
  close_timer_.setInterval(app::kSplashCloseMs);
  connect(&close_timer_, &QTimer::timeout, this, [this] {
    close_timer_.stop();
    if (closed_) closed_();
    close();
  });
}

TfmSplash* TfmSplash::ShowSplash(const QString& version, QWidget* center_on,
                                 std::function<void()> closed) {
  auto* splash = new TfmSplash(version, kSplash, nullptr);
  splash->setAttribute(Qt::WA_DeleteOnClose);
  splash->closed_ = std::move(closed);
  QRect area;
  if (center_on && center_on->isVisible()) {
    area = center_on->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) splash->move(area.center() - splash->rect().center());
  // The timer waits until the window is up and pending events are done.
  splash->show();
  QCoreApplication::processEvents();
  splash->close_timer_.start();
  return splash;
}

void TfmSplash::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QSvgRenderer picture(QStringLiteral(":/ui/resources/splash.svg"));
  if (picture.isValid()) {
    picture.render(&painter, QRectF(rect()));
  } else {
    painter.fillRect(rect(), skin::kHeaderBottom);
  }
  painter.setPen(QColor(0, 0, 0, 120));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TfmSplash::mousePressEvent(QMouseEvent* event) {
  if (mode_ == kAbout && event->button() == Qt::LeftButton) {
    drag_offset_ = event->globalPosition().toPoint() - pos();
  }
}

void TfmSplash::mouseMoveEvent(QMouseEvent* event) {
  if (mode_ == kAbout && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - drag_offset_);
  }
}

}  // namespace hm::ui
