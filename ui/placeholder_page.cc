#include "ui/placeholder_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "controls/gradient_panel.h"
#include "controls/picture.h"

namespace hm::ui {

TfrLaterRelease::TfrLaterRelease(TfmHMMain& main, QWidget* body, int page_id)
    : TfrHMFrame(main, body) {
  setObjectName(QStringLiteral("hmLaterRelease%1").arg(page_id));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(28, 24, 28, 28);
  auto* panel = new controls::TGradientPanel(this);
  outer->addWidget(panel);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(40, 36, 40, 36);
  layout->setSpacing(12);
  layout->addStretch(1);

  auto* picture = new QLabel(panel);
  picture->setPixmap(controls::RenderPicture(QStringLiteral(":/ui/resources/page-later.svg"),
                                             QSize(96, 96), devicePixelRatioF()));
  picture->setAlignment(Qt::AlignHCenter);
  layout->addWidget(picture);

  auto* title = new QLabel(FeatureName(page_id), panel);
  title->setObjectName(QStringLiteral("hmLaterReleaseTitle"));
  QFont title_font = title->font();
  title_font.setPointSizeF(title_font.pointSizeF() * 1.6);
  title_font.setBold(true);
  title->setFont(title_font);
  title->setAlignment(Qt::AlignHCenter);
  layout->addWidget(title);

  auto* line = new QLabel(QStringLiteral("Coming in a later release of Hivemend."), panel);
  line->setObjectName(QStringLiteral("hmLaterReleaseLine"));
  line->setAlignment(Qt::AlignHCenter);
  QFont bold = line->font();
  bold.setBold(true);
  line->setFont(bold);
  line->setStyleSheet(QStringLiteral("color: #c97f06;"));
  layout->addWidget(line);

  auto* text = new QLabel(FeatureText(page_id), panel);
  text->setProperty("role", "subtitle");
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignHCenter);
  text->setMinimumWidth(320);
  text->setMaximumWidth(520);
  text->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  layout->addWidget(text, 0, Qt::AlignHCenter);
  layout->addStretch(2);
}

QString TfrLaterRelease::FeatureName(int page_id) {
  switch (page_id) {
    case 1: return QStringLiteral("PC Status");
    case 5: return QStringLiteral("Settings");
    case 6: return QStringLiteral("Optimize");
    case 8: return QStringLiteral("Registry Monitor");
    case 12: return QStringLiteral("History Cleaner");
  }
  return {};
}

QString TfrLaterRelease::FeatureText(int page_id) {
  switch (page_id) {
    case 1:
      return QStringLiteral(
          "An overview of the registry's health, the last scan and the last repair. Until then, "
          "start with Scan: it checks the registry and shows what it found.");
    case 5:
      return QStringLiteral(
          "Automatic scans, update checks, backups before repairs and the keys to skip. The "
          "program keeps its current settings meanwhile.");
    case 6:
      return QStringLiteral(
          "Windows tweaks and optimization settings: menu delay, shutdown time-outs and boot "
          "optimization.");
    case 8:
      return QStringLiteral(
          "Watches chosen registry keys and reports every created, deleted or changed subkey and "
          "value.");
    case 12:
      return QStringLiteral(
          "Analyses and removes usage traces of Windows and of six browsers.");
  }
  return QStringLiteral("This page is not part of this release.");
}

}  // namespace hm::ui
