#include "ui/scan_page.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/gradient_panel.h"
#include "controls/message_dialog.h"
#include "controls/skin.h"
#include "ui/flows.h"
#include "ui/main_window.h"

namespace hm::ui {
namespace {

namespace skin = controls::skin;

// Layout of the category labels (device-independent pixels, inside the page's panel).
constexpr int kColumnX[2] = {50, 260};
constexpr int kRowTop = 62;
constexpr int kRowPitch = 24;
constexpr int kRowsPerColumn = 12;
constexpr int kLabelWidth = 206;
constexpr int kLabelHeight = 22;
constexpr int kBoxOffset = 24;
constexpr int kCountOffset = 22;
constexpr int kCountWidth = 34;
constexpr int kCaptionOffset = 60;
constexpr int kCaptionPixels = 13;
// The labels' background: light grey, one step darker per row of a column.
constexpr QRgb kFirstRowColor = 0xe8e8e8;
constexpr int kRowColorStep = 1;

constexpr char kFullScanWarning[] =
    "Hivemend is about to perform a full analysis of your system.\r\r"
    "Please save your work and close running applications before you continue, and make sure "
    "that enough free disk space is available.";

// The result pictures, drawn at the screen's density.
QPixmap ResultPixmap(TfScan::TResultPicture kind, qreal ratio) {
  QPixmap pixmap(QSize(20, 20) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  if (kind == TfScan::TResultPicture::kNone) return pixmap;
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const bool issues = kind == TfScan::TResultPicture::kIssues;
  p.setPen(Qt::NoPen);
  p.setBrush(issues ? skin::kAccent : skin::kGood);
  p.drawEllipse(QRectF(2, 2, 16, 16));
  QPen pen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  if (issues) {
    p.drawLine(QPointF(10, 6), QPointF(10, 11.5));
    p.drawPoint(QPointF(10, 14.5));
  } else {
    QPainterPath tick;
    tick.moveTo(6, 10.5);
    tick.lineTo(8.8, 13.2);
    tick.lineTo(14, 7.3);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
  }
  return pixmap;
}

}  // namespace

// The animated picture shown while a scan runs: a turning arc.
class TScanSpinner : public QWidget {
 public:
  explicit TScanSpinner(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(60);
    connect(&timer_, &QTimer::timeout, this, [this] {
      angle_ = (angle_ + 30) % 360;
      update();
    });
  }

 protected:
  void showEvent(QShowEvent*) override { timer_.start(); }
  void hideEvent(QHideEvent*) override { timer_.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(3, 3, -3, -3);
    p.setPen(QPen(skin::kPanelBorder, 3));
    p.drawEllipse(r);
    p.setPen(QPen(skin::kAccent, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, -angle_ * 16, 100 * 16);
  }

 private:
  QTimer timer_;
  int angle_ = 0;
};

void TThreeStateBox::nextCheckState() {
  setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

TfScan::TfScan(TfmHMMain& main, QWidget* body) : TfrHMFrame(main, body) {
  setObjectName(QStringLiteral("hmScanPage"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 16, 20, 16);
  auto* panel = new controls::TGradientPanel(this);
  outer->addWidget(panel);

  auto* title = new QLabel(QStringLiteral("Scan & Optimize Your PC"), panel);
  title->setProperty("role", "title");
  title->move(24, 10);
  title->resize(440, 28);
  auto* subtitle = new QLabel(QStringLiteral("Check/Uncheck categories to customize your  scan"), panel);
  subtitle->setProperty("role", "subtitle");
  subtitle->setGeometry(24, 36, 440, 20);

  BuildRows(panel);

  description_title_ = new QLabel(QStringLiteral("Description"), panel);
  QFont bold = description_title_->font();
  bold.setBold(true);
  description_title_->setFont(bold);
  description_title_->setGeometry(490, 62, 260, 20);
  description_ = new QLabel(panel);
  description_->setObjectName(QStringLiteral("hmScanDescription"));
  description_->setWordWrap(true);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  description_->setGeometry(490, 86, 260, 150);
  hint_ = new QLabel(QStringLiteral("(Hover over any category for a detailed description)"), panel);
  hint_->setProperty("role", "subtitle");
  hint_->setWordWrap(true);
  hint_->setGeometry(490, 240, 260, 36);

  scanning_now_ = new QLabel(QStringLiteral("Scanning now"), panel);
  scanning_now_->setFont(bold);
  scanning_now_->setGeometry(530, 300, 200, 28);
  spinner_ = new TScanSpinner(panel);
  spinner_->setGeometry(490, 298, 32, 32);

  check_all_ = new TThreeStateBox(QStringLiteral("Check All/Uncheck All"), panel);
  check_all_->setObjectName(QStringLiteral("hmCheckAll"));
  check_all_->setGeometry(kColumnX[0] + kBoxOffset - 2, kRowTop + kRowsPerColumn * kRowPitch + 8,
                          220, 22);
  connect(check_all_, &QCheckBox::clicked, this, [this] { CheckAllClicked(); });

  progress_ = new QProgressBar(panel);
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  progress_->setGeometry(kColumnX[0], 400, 520, 16);
  progress_text_ = new QLabel(panel);
  progress_text_->setObjectName(QStringLiteral("hmScanLocation"));
  progress_text_->setProperty("role", "subtitle");
  progress_text_->setGeometry(kColumnX[0], 420, 520, 20);

  scan_button_ = new QPushButton(QStringLiteral("Scan Now"), panel);
  scan_button_->setObjectName(QStringLiteral("hmScanNow"));
  scan_button_->setProperty("accent", true);
  scan_button_->setGeometry(596, 388, 140, 40);
  connect(scan_button_, &QPushButton::clicked, this, [this] { ScanNow(true); });
  stop_button_ = new QPushButton(QStringLiteral("Stop"), panel);
  stop_button_->setObjectName(QStringLiteral("hmScanStop"));
  stop_button_->setGeometry(596, 388, 140, 40);
  connect(stop_button_, &QPushButton::clicked, this, [this] { StopScan(); });

  LoadStates();
  SetScanning(false);
}

void TfScan::BuildRows(QWidget* parent) {
  QFont caption_font = font();
  caption_font.setPixelSize(kCaptionPixels);
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const int column = c / kRowsPerColumn;
    const int row_in_column = c % kRowsPerColumn;
    Row& row = rows_[c];
    row.panel = new QWidget(parent);
    row.panel->setObjectName(QStringLiteral("hmCategory%1").arg(c));
    row.panel->setAutoFillBackground(true);
    QPalette palette = row.panel->palette();
    const int shade = qRed(kFirstRowColor) - row_in_column * kRowColorStep;
    palette.setColor(QPalette::Window, QColor(shade, shade, shade));
    row.panel->setPalette(palette);
    // The label starts at the column's x; the picture sits at its left edge.
    row.panel->setGeometry(kColumnX[column], kRowTop + row_in_column * kRowPitch, kLabelWidth,
                           kLabelHeight);
    row.picture = new QLabel(row.panel);
    row.picture->setGeometry(1, 1, 20, 20);
    row.box = new QCheckBox(row.panel);
    row.box->setGeometry(kBoxOffset, 1, 20, 20);
    row.count = new QLabel(row.panel);
    row.count->setAlignment(Qt::AlignCenter);
    row.count->setGeometry(kCountOffset, 1, kCountWidth, 20);
    // A caption too long for the label (a wide font) ends in an ellipsis.
    const QString caption = FromAnsi(scan::CategoryName(static_cast<scan::TErrorCategory>(c)));
    const int caption_width = kLabelWidth - kCaptionOffset - 2;
    QFont bold_caption = caption_font;
    bold_caption.setBold(true);
    row.caption = new QLabel(
        QFontMetrics(bold_caption).elidedText(caption, Qt::ElideRight, caption_width), row.panel);
    if (row.caption->text() != caption) row.caption->setToolTip(caption);
    row.caption->setFont(caption_font);
    row.caption->setGeometry(kCaptionOffset, 1, caption_width, 20);
    for (QWidget* part : {static_cast<QWidget*>(row.picture), static_cast<QWidget*>(row.box),
                          static_cast<QWidget*>(row.count), static_cast<QWidget*>(row.caption)}) {
      part->setProperty("hmCategory", c);
      part->installEventFilter(this);
    }
    connect(row.box, &QCheckBox::toggled, this, [this] { CategoryBoxChanged(); });
  }
}

void TfScan::LoadStates() {
  const auto& states = Main().Settings().settings().scan_categories;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    QSignalBlocker block(rows_[c].box);
    rows_[c].box->setChecked(states[c]);
  }
  UpdateCheckAll();
}

void TfScan::StoreStates() {
  auto& states = Main().Settings().settings().scan_categories;
  for (int c = 0; c < scan::kCategoryCount; ++c) states[c] = rows_[c].box->isChecked();
}

scan::TErrorCategories TfScan::CheckedCategories() const {
  scan::TErrorCategories categories;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    if (rows_[c].box->isChecked()) categories.Include(static_cast<scan::TErrorCategory>(c));
  }
  return categories;
}

void TfScan::UpdateCheckAll() {
  int checked = 0;
  for (const Row& row : rows_) checked += row.box->isChecked() ? 1 : 0;
  QSignalBlocker block(check_all_);
  check_all_->setCheckState(checked == scan::kCategoryCount ? Qt::Checked
                            : checked == 0                  ? Qt::Unchecked
                                                            : Qt::PartiallyChecked);
}

void TfScan::CategoryBoxChanged() {
  if (setting_all_) return;
  UpdateCheckAll();
  scan::TRegScanner& scanner = Main().Scanner();
  if (scanner.IsScanning()) scanner.Stop();
  scanner.ClearResults();
}

void TfScan::CheckAllClicked() { SetCheckAll(check_all_->checkState() == Qt::Checked); }

void TfScan::SetCheckAll(bool checked) {
  bool changed = false;
  setting_all_ = true;
  for (Row& row : rows_) {
    changed = changed || row.box->isChecked() != checked;
    row.box->setChecked(checked);
  }
  setting_all_ = false;
  UpdateCheckAll();
  // The boxes changed as one: the same consequences as a single box.
  if (changed) CategoryBoxChanged();
}

bool TfScan::ScanNow(bool interactive) {
  auto* handler = dynamic_cast<TScanRequestHandler*>(Main().Flows());
  if (handler == nullptr) return false;
  // A scan or a repair runs: the request would be refused, and the results must stay.
  if (Main().Busy() || Main().Scanner().IsScanning()) return false;
  if (interactive && check_all_->checkState() == Qt::Checked &&
      controls::ShowMessage(QString::fromLatin1(kFullScanWarning),
                            QString::fromLatin1(app::kApplicationTitle),
                            controls::kStyleWarning | controls::kStyleOkCancel) != controls::kIdOk) {
    return false;
  }
  StoreStates();
  Main().Scanner().ClearResults();
  progress_->setValue(0);
  progress_text_->clear();
  const bool accepted = handler->ScanRequested();
  if (!accepted) SetScanning(false);
  QCoreApplication::processEvents();
  return accepted;
}

void TfScan::StopScan() {
  StoreStates();
  if (Main().Scanner().IsScanning()) Main().Scanner().Stop();
}

void TfScan::SetScanning(bool scanning) {
  scanning_ = scanning;
  QFont regular = rows_[0].caption->font();
  regular.setBold(false);
  for (Row& row : rows_) {
    row.box->setVisible(!scanning);
    row.count->setVisible(scanning);
    row.picture->setVisible(!scanning);
    if (scanning) {
      row.count->setText(QStringLiteral("0"));
      ShowResultPicture(static_cast<int>(&row - rows_.data()), TResultPicture::kNone);
    }
    row.caption->setFont(regular);
  }
  check_all_->setVisible(!scanning);
  scanning_now_->setVisible(scanning);
  spinner_->setVisible(scanning);
  progress_text_->setVisible(scanning);
  if (!scanning) progress_text_->clear();
  scan_button_->setVisible(!scanning);
  stop_button_->setVisible(scanning);
  if (scanning) progress_->setValue(0);
}

void TfScan::SetProgress(int total_percent, const QString& location) {
  progress_->setValue(std::clamp(total_percent, 0, 100));
  progress_text_->setText(progress_text_->fontMetrics().elidedText(location, Qt::ElideMiddle,
                                                                   progress_text_->width()));
}

void TfScan::SetCategoryProgress(scan::TErrorCategory category, int count, bool finished) {
  if (category >= scan::kCategoryCount) return;
  Row& row = rows_[category];
  row.count->setText(CountText(count));
  QFont caption_font = row.caption->font();
  caption_font.setBold(!finished);
  row.caption->setFont(caption_font);
  if (finished) {
    ShowResultPicture(category, count > 0 ? TResultPicture::kIssues : TResultPicture::kClean);
    row.picture->setVisible(true);
  }
}

void TfScan::ShowResultPicture(int category, TResultPicture picture) {
  rows_[category].result = picture;
  rows_[category].picture->setPixmap(ResultPixmap(picture, devicePixelRatioF()));
}

int TfScan::CategoryOfWidget(QObject* object) const {
  const QVariant value = object->property("hmCategory");
  return value.isValid() ? value.toInt() : -1;
}

bool TfScan::eventFilter(QObject* watched, QEvent* event) {
  const int category = CategoryOfWidget(watched);
  if (category < 0) return TfrHMFrame::eventFilter(watched, event);
  const Row& row = rows_[category];
  if (event->type() == QEvent::Enter && watched != row.picture) {
    description_->setText(QString::fromStdString(
        std::string(scan::CategoryDescription(static_cast<scan::TErrorCategory>(category)))));
  } else if (event->type() == QEvent::MouseButtonRelease &&
             (watched == row.caption || watched == row.picture) && row.box->isVisible()) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) row.box->toggle();
  }
  return TfrHMFrame::eventFilter(watched, event);
}

void TfScan::VisibleChanged(bool visible) {
  TfrHMFrame::VisibleChanged(visible);
  if (visible && !Main().Scanner().IsScanning() && scanning_) SetScanning(false);
}

}  // namespace hm::ui
