#include "ui/report_page.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "controls/gradient_panel.h"
#include "controls/skin.h"
#include "ui/main_window.h"

namespace hm::ui {
namespace {

namespace skin = controls::skin;

// The three number columns of the table.
constexpr int kColumnLeft[3] = {150, 258, 366};
constexpr int kColumnWidth = 108;
constexpr int kCaptionLeft = 8;
// The scroll bar's range is the overflow plus this; it shows only above it.
constexpr int kScrollSlack = 25;

}  // namespace

TReportTable::TReportTable(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("hmReportTable"));
  bar_ = new QScrollBar(Qt::Vertical, this);
  bar_->hide();
  connect(bar_, &QScrollBar::valueChanged, this, [this] { update(); });
}

int TReportTable::RowHeight() const { return fontMetrics().height() + 8; }

void TReportTable::SetSummary(const TRepairSummary& summary) {
  summary_ = summary;
  bar_->setValue(0);
  UpdateScrollBar();
  update();
}

QStringList TReportTable::RowTexts(int category) const {
  const TCategoryRepairSummary& row = summary_[category];
  return {FromAnsi(scan::CategoryName(static_cast<scan::TErrorCategory>(category))),
          CountText(row.found), CountText(row.repaired), CountText(row.not_repaired)};
}

void TReportTable::UpdateScrollBar() {
  // A header row and one row per category.
  const int content = RowHeight() * (scan::kCategoryCount + 1);
  const int overflow = content - height();
  const int range = overflow > 0 ? overflow + kScrollSlack : 0;
  bar_->setRange(0, std::max(0, range));
  bar_->setPageStep(std::max(1, range / 5));
  bar_->setSingleStep(RowHeight());
  bar_->setVisible(range > kScrollSlack);
  bar_->setGeometry(width() - 14, 0, 14, height());
}

void TReportTable::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateScrollBar();
}

void TReportTable::wheelEvent(QWheelEvent* event) {
  if (!bar_->isVisible()) return;
  bar_->setValue(bar_->value() - event->angleDelta().y() / 120 * bar_->singleStep());
}

void TReportTable::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const int row_height = RowHeight();
  const int top = -(bar_->isVisible() ? bar_->value() : 0);
  QFont bold = font();
  bold.setBold(true);
  auto draw_row = [&](int y, const QStringList& texts, bool header, bool shaded) {
    if (shaded) p.fillRect(QRect(0, y, width(), row_height), QColor(0xf7, 0xf9, 0xfb));
    if (header) p.fillRect(QRect(0, y, width(), row_height), skin::kPanelBottom);
    p.setFont(header ? bold : font());
    p.setPen(skin::kText);
    p.drawText(QRect(kCaptionLeft, y, kColumnLeft[0] - kCaptionLeft, row_height),
               Qt::AlignVCenter | Qt::AlignLeft,
               p.fontMetrics().elidedText(texts[0], Qt::ElideRight, kColumnLeft[0] - kCaptionLeft));
    for (int column = 0; column < 3; ++column) {
      p.drawText(QRect(kColumnLeft[column], y, kColumnWidth, row_height), Qt::AlignCenter,
                 texts[column + 1]);
    }
    p.setPen(skin::kPanelBorder);
    p.drawLine(0, y + row_height - 1, width(), y + row_height - 1);
  };
  for (int category = 0; category < scan::kCategoryCount; ++category) {
    draw_row(top + (category + 1) * row_height, RowTexts(category), false, category % 2 == 1);
  }
  // The header stays in view.
  draw_row(0,
           {QStringLiteral("Registry Items"), QStringLiteral("Issues"), QStringLiteral("Repaired"),
            QStringLiteral("Ignored")},
           true, false);
  p.setPen(skin::kPanelBorder);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TfReportR::TfReportR(TfmHMMain& main, QWidget* body) : TfrHMFrame(main, body) {
  setObjectName(QStringLiteral("hmReportPage"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 16, 20, 16);
  auto* panel = new controls::TGradientPanel(this);
  outer->addWidget(panel);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->setSpacing(8);

  auto* title = new QLabel(QStringLiteral("Registry Repair Report"), panel);
  title->setProperty("role", "title");
  layout->addWidget(title);
  auto* lines = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  last_scan_ = new QLabel(panel);
  last_scan_->setObjectName(QStringLiteral("hmReportLastScan"));
  found_ = new QLabel(panel);
  found_->setObjectName(QStringLiteral("hmReportFound"));
  repaired_ = new QLabel(panel);
  repaired_->setObjectName(QStringLiteral("hmReportRepaired"));
  QFont bold = found_->font();
  bold.setBold(true);
  found_->setFont(bold);
  repaired_->setFont(bold);
  left->addWidget(last_scan_);
  left->addWidget(found_);
  left->addWidget(repaired_);
  lines->addLayout(left);
  lines->addStretch(1);
  layout->addLayout(lines);

  table_ = new TReportTable(panel);
  table_->setMinimumWidth(kColumnLeft[2] + kColumnWidth + 16);
  table_->setMaximumWidth(kColumnLeft[2] + kColumnWidth + 16);
  layout->addWidget(table_, 1);

  auto* bottom = new QHBoxLayout();
  bottom->addStretch(1);
  auto* back = new QPushButton(QStringLiteral("Back"), panel);
  back->setObjectName(QStringLiteral("hmReportBack"));
  connect(back, &QPushButton::clicked, this, [this] { Main().PostCommand(cmd::kScanPage); });
  bottom->addWidget(back);
  layout->addLayout(bottom);
  repaired_->setText(IssueCountText(0) + QStringLiteral(" Repaired"));
}

void TfReportR::VisibleChanged(bool visible) {
  TfrHMFrame::VisibleChanged(visible);
  if (!visible) return;
  const app::Settings& settings = Main().Settings().settings();
  const QDateTime last = QDateTime::fromString(QString::fromStdString(settings.last_scan.str()),
                                               QStringLiteral("yyyyMMddHHmm"));
  last_scan_->setText(QStringLiteral("Last registry scan: ") +
                      (last.isValid() ? QLocale().toString(last, QLocale::ShortFormat)
                                      : QStringLiteral("n/a")));
  found_->setText(IssueCountText(settings.last_err) + QStringLiteral(" Found"));
}

void TfReportR::Fill(int error_count, int repaired_count, const TRepairSummary& summary) {
  (void)error_count;  // the found line shows the stored count of the last scan
  repaired_->setText(IssueCountText(repaired_count) + QStringLiteral(" Repaired"));
  table_->SetSummary(summary);
}

}  // namespace hm::ui
