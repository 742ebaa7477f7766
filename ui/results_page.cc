#include "ui/results_page.h"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "controls/gradient_panel.h"
#include "controls/message_dialog.h"
#include "controls/skin.h"
#include "platform/file_io.h"
#include "registry/host_registry.h"
#include "registry/regedit_jump.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "repair/repair_engine.h"
#include "repair/store_files.h"
#include "scanner/exclusions.h"
#include "scanner/scanner.h"
#include "ui/main_window.h"

namespace hm::ui {
namespace {

namespace skin = controls::skin;
using controls::ShowMessage;
using scan::TErrorCategory;
using scan::TRegError;

constexpr int kSummaryRowHeight = 34;
constexpr int kDetailsRowHeight = 55;
constexpr int kShortcutKind = 29;
// Right-hand columns of the summary rows.
constexpr int kLinkWidth = 70;
constexpr int kCountColumn = 64;

constexpr char kRepairsFile[] = "repairs.htm";
constexpr char kNotResolvedFile[] = "cantremove.txt";
constexpr char kShowKeyCaution[] =
    "CAUTION\rYou are about to directly enter the System Registry. This area is meant for use by "
    "experts only. Changes made here could render your system inoperable. If you proceed we "
    "recommend making a backup first. Do you wish to proceed?";
constexpr char kKeyMissing[] = "Registry key does not exist.";

const QColor kSelectedRow{0xfb, 0xe6, 0xc2};
const QColor kAlternateRow{0xf7, 0xf9, 0xfb};
const QColor kLink{0x1f, 0x6f, 0xc5};

QString Text(std::string_view text) { return FromAnsi(text); }

QString CategoryCaption(int category) {
  return Text(scan::CategoryName(static_cast<TErrorCategory>(category)));
}

QRect ExpanderRect(const QRect& row) { return QRect(row.left() + 10, row.center().y() - 6, 12, 12); }
QRect DetailsLinkRect(const QRect& row) {
  return QRect(row.right() - kLinkWidth, row.top(), kLinkWidth, row.height());
}
QRect FoundRect(const QRect& row) {
  return QRect(row.right() - kLinkWidth - kCountColumn, row.top(), kCountColumn, row.height());
}
QRect SelectedRect(const QRect& row) {
  return QRect(row.right() - kLinkWidth - 2 * kCountColumn, row.top(), kCountColumn, row.height());
}
QRect CheckRect(const QRect& row) { return QRect(row.left() + 10, row.top() + 8, 16, 16); }

void DrawCheck(QPainter& p, const QRect& box, bool checked) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(checked ? skin::kAccentDark : QColor(0x9a, 0xa6, 0xb2), 1));
  p.setBrush(checked ? skin::kAccent : QColor(Qt::white));
  p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  if (checked) {
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF o = box.topLeft();
    const QPointF tick[] = {o + QPointF(4, 8.5), o + QPointF(7, 11.5), o + QPointF(12.5, 5)};
    p.drawPolyline(tick, 3);
  }
  p.restore();
}

// Paints the rows of the results list.
class TResultsRowDelegate : public QStyledItemDelegate {
 public:
  explicit TResultsRowDelegate(TRegErrorListBox* list) : QStyledItemDelegate(list), list_(list) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
    const int kind = index.data(TRegErrorListBox::kKindRole).toInt();
    return QSize(200, kind == TRegErrorListBox::rkFinding ? kDetailsRowHeight : kSummaryRowHeight);
  }

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect r = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const int kind = index.data(TRegErrorListBox::kKindRole).toInt();
    p->save();
    p->fillRect(r, selected ? kSelectedRow : (index.row() % 2 ? kAlternateRow : QColor(Qt::white)));
    p->setPen(skin::kPanelBorder);
    p->drawLine(r.bottomLeft(), r.bottomRight());
    if (kind == TRegErrorListBox::rkFinding) {
      PaintFinding(p, option, index);
    } else {
      PaintSummaryRow(p, option, index, kind);
    }
    p->restore();
  }

 private:
  void PaintSummaryRow(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index,
                       int kind) const {
    const QRect r = option.rect;
    scan::TRegScanner* scanner = list_->AttachedScanner();
    QFont bold = option.font;
    bold.setBold(true);
    int found = 0;
    int selected = 0;
    if (kind == TRegErrorListBox::rkCategory) {
      const int category = index.data(TRegErrorListBox::kCategoryRole).toInt();
      if (scanner) {
        found = scanner->CategoryErrorCount(static_cast<TErrorCategory>(category));
        selected = scanner->CategorySelectedCount(static_cast<TErrorCategory>(category));
      }
      p->setPen(skin::kText);
      p->setFont(option.font);
      const QRect text(r.left() + 44, r.top(), SelectedRect(r).left() - r.left() - 48, r.height());
      p->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                  option.fontMetrics.elidedText(CategoryCaption(category), Qt::ElideRight,
                                                text.width()));
      QFont link = option.font;
      link.setUnderline(true);
      p->setFont(link);
      p->setPen(kLink);
      p->drawText(DetailsLinkRect(r), Qt::AlignCenter, QStringLiteral("Details"));
    } else {
      const int group = index.data(TRegErrorListBox::kGroupRole).toInt();
      if (scanner) {
        found = scanner->GroupErrorCount(group);
        selected = scanner->GroupSelectedCount(group);
      }
      const QRect box = ExpanderRect(r);
      p->setPen(QColor(0x8a, 0x9b, 0xad));
      p->setBrush(Qt::white);
      p->drawRect(box.adjusted(0, 0, -1, -1));
      p->setPen(QPen(skin::kText, 1.5));
      p->drawLine(box.left() + 3, box.center().y(), box.right() - 3, box.center().y());
      if (kind == TRegErrorListBox::rkGroupCollapsed) {
        p->drawLine(box.center().x(), box.top() + 3, box.center().x(), box.bottom() - 3);
      }
      const int left = r.left() + 32;
      const int width = SelectedRect(r).left() - left - 4;
      const QFontMetrics bold_metrics(bold);
      p->setFont(bold);
      p->setPen(skin::kText);
      const QString name = Text(scan::GroupName(group));
      p->drawText(QRect(left, r.top(), width, r.height()), Qt::AlignVCenter | Qt::AlignLeft, name);
      const int after = left + bold_metrics.horizontalAdvance(name) + 10;
      p->setFont(option.font);
      p->setPen(skin::kTextMuted);
      p->drawText(QRect(after, r.top(), std::max(0, left + width - after), r.height()),
                  Qt::AlignVCenter | Qt::AlignLeft,
                  option.fontMetrics.elidedText(QString::fromStdString(scan::GroupHeading(group)),
                                                Qt::ElideRight, std::max(0, left + width - after)));
    }
    p->setFont(bold);
    p->setPen(skin::kText);
    p->drawText(SelectedRect(r), Qt::AlignCenter, CountText(selected));
    p->drawText(FoundRect(r), Qt::AlignCenter, CountText(found));
  }

  void PaintFinding(QPainter* p, const QStyleOptionViewItem& option,
                    const QModelIndex& index) const {
    const QRect r = option.rect;
    const TRegError* error = list_->FindingAt(index.row());
    if (error == nullptr) return;
    DrawCheck(*p, CheckRect(r), error->Checked());
    QFont bold = option.font;
    bold.setBold(true);
    const QFontMetrics bold_metrics(bold);
    const int left = r.left() + 36;
    const int right = r.right() - 10;
    const int line = (r.height() - 4) / 3;
    p->setFont(bold);
    p->setPen(skin::kText);
    int title_right = right;
    if (error->Ignored()) {
      const QString ignore = QStringLiteral("Ignore");
      p->setPen(skin::kDanger);
      p->drawText(QRect(left, r.top() + 2, right - left, line), Qt::AlignRight | Qt::AlignVCenter,
                  ignore);
      title_right -= bold_metrics.horizontalAdvance(ignore) + 12;
      p->setPen(skin::kText);
    }
    p->drawText(QRect(left, r.top() + 2, title_right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
                bold_metrics.elidedText(Text(scan::IssueTitle(error->Kind())), Qt::ElideRight,
                                        title_right - left));
    p->setFont(option.font);
    p->drawText(QRect(left, r.top() + 2 + line, right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
                option.fontMetrics.elidedText(Text(error->Description()), Qt::ElideRight,
                                              right - left));
    p->setPen(skin::kTextMuted);
    p->drawText(QRect(left, r.top() + 2 + 2 * line, right - left, line),
                Qt::AlignLeft | Qt::AlignVCenter,
                option.fontMetrics.elidedText(Text(error->KeyText()), Qt::ElideMiddle,
                                              right - left));
  }

  TRegErrorListBox* list_;
};

// The titles of the summary rows' count columns, above the list.
class TResultsColumns : public QWidget {
 public:
  TResultsColumns(TRegErrorListBox* list, QWidget* parent) : QWidget(parent), list_(list) {
    setFixedHeight(fontMetrics().height() + 4);
    list_->viewport()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) update();
    return false;
  }
  void paintEvent(QPaintEvent*) override {
    if (list_->View() != TRegErrorListBox::vSummary) return;
    QPainter p(this);
    QWidget* viewport = list_->viewport();
    const QPoint origin = viewport->mapTo(parentWidget(), QPoint(0, 0)) - pos();
    const QRect row(origin.x(), 0, viewport->width(), height());
    p.setPen(skin::kTextMuted);
    p.drawText(SelectedRect(row), Qt::AlignCenter, QStringLiteral("Selected"));
    p.drawText(FoundRect(row), Qt::AlignCenter, QStringLiteral("Found"));
  }

 private:
  TRegErrorListBox* list_;
};

bool AppendLine(const std::filesystem::path& file, const std::string& line) {
  std::FILE* out = std::fopen(file.c_str(), "ab");
  if (out == nullptr) return false;
  const std::string bytes = line + "\r\n";
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

std::string IgnoreEntryOf(const TRegError& error) {
  if (error.Action() == scan::raRecycleFile) return {};
  const std::string root = reg::RootKeyToName(error.RootKey());
  if (root.empty()) return {};
  return root + "\\" + error.KeyPath() + std::string(scan::kValueSeparator) +
         (error.ValueName().empty() ? std::string("(DEFAULT)") : error.ValueName());
}

// ---- TRegErrorListBox ----

TRegErrorListBox::TRegErrorListBox(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("hmResultsList"));
  setItemDelegate(new TResultsRowDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(false);
  setMouseTracking(true);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  link_.OnChange = [this](scan::TRegScanner*, TRegError*, scan::TListNotification) {
    ScheduleRebuild();
  };
  connect(this, &QListWidget::currentRowChanged, this, [this] { emit CountersChanged(); });
}

TRegErrorListBox::~TRegErrorListBox() {
  // Unregistered quietly: the page that hears CountersChanged may be gone already.
  if (scanner_ != nullptr) scanner_->UnregisterChanges(&link_);
}

void TRegErrorListBox::Attach(scan::TRegScanner* scanner) {
  if (scanner_ == scanner) return;
  if (scanner_ != nullptr) scanner_->UnregisterChanges(&link_);
  scanner_ = scanner;
  if (scanner_ != nullptr) scanner_->RegisterChanges(&link_);
  view_ = vSummary;
  category_ = -1;
  clear();
  if (scanner_ != nullptr) {
    for (int g = 0; g < scan::kGroupCount; ++g) AddGroupRow(g, false);
  }
  emit CountersChanged();
}

void TRegErrorListBox::AddGroupRow(int group, bool expanded) {
  auto* item = new QListWidgetItem(this);
  item->setData(kKindRole, expanded ? rkGroupExpanded : rkGroupCollapsed);
  item->setData(kGroupRole, group);
  item->setData(kCategoryRole, -1);
  item->setText(Text(scan::GroupName(group)));
}

void TRegErrorListBox::AddCategoryRows(int after_row, int group) {
  if (scanner_ == nullptr) return;
  const scan::TErrorCategories members = scan::GroupMembers(group);
  int row = after_row + 1;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (!members.Contains(category) || scanner_->CategoryErrorCount(category) == 0) continue;
    auto* item = new QListWidgetItem();
    item->setData(kKindRole, rkCategory);
    item->setData(kGroupRole, group);
    item->setData(kCategoryRole, c);
    item->setText(CategoryCaption(c));
    insertItem(row++, item);
  }
}

void TRegErrorListBox::ToggleGroup(int row) {
  QListWidgetItem* group_item = item(row);
  if (group_item == nullptr) return;
  const int kind = group_item->data(kKindRole).toInt();
  if (kind != rkGroupCollapsed && kind != rkGroupExpanded) return;
  const int scroll = verticalScrollBar()->value();
  if (kind == rkGroupCollapsed) {
    AddCategoryRows(row, group_item->data(kGroupRole).toInt());
    group_item->setData(kKindRole, rkGroupExpanded);
  } else {
    while (QListWidgetItem* next = item(row + 1)) {
      if (next->data(kKindRole).toInt() != rkCategory) break;
      delete takeItem(row + 1);
    }
    group_item->setData(kKindRole, rkGroupCollapsed);
  }
  verticalScrollBar()->setValue(scroll);
}

void TRegErrorListBox::ShowSummary() {
  const bool from_details = view_ == vDetails;
  view_ = vSummary;
  category_ = -1;
  Rebuild();
  if (from_details) {
    if (summary_row_ >= 0 && summary_row_ < count()) setCurrentRow(summary_row_);
    verticalScrollBar()->setValue(summary_scroll_);
  }
  emit CountersChanged();
}

void TRegErrorListBox::ShowDetails(int category) {
  if (scanner_ == nullptr || category < 0 || category >= scan::kCategoryCount ||
      scanner_->CategoryErrorCount(static_cast<TErrorCategory>(category)) == 0) {
    if (view_ != vSummary) ShowSummary();
    return;
  }
  if (view_ == vSummary) {
    summary_row_ = currentRow();
    summary_scroll_ = verticalScrollBar()->value();
  }
  view_ = vDetails;
  category_ = category;
  Rebuild();
  setCurrentRow(0);
  emit CountersChanged();
}

void TRegErrorListBox::Rebuild() {
  rebuild_pending_ = false;
  if (view_ == vDetails) {
    const int count_now =
        scanner_ ? scanner_->CategoryErrorCount(static_cast<TErrorCategory>(category_)) : 0;
    if (count_now == 0) {
      ShowSummary();
      return;
    }
    const int current = currentRow();
    clear();
    for (int i = 0; i < count_now; ++i) {
      auto* row = new QListWidgetItem(this);
      row->setData(kKindRole, rkFinding);
      row->setData(kCategoryRole, category_);
      row->setData(kIndexRole, i);
    }
    setCurrentRow(std::clamp(current, 0, count_now - 1));
  } else {
    std::set<int> expanded;
    int current_group = -1;
    int current_category = -1;
    for (int row = 0; row < count(); ++row) {
      QListWidgetItem* it = item(row);
      if (it->data(kKindRole).toInt() == rkGroupExpanded) expanded.insert(it->data(kGroupRole).toInt());
    }
    if (QListWidgetItem* it = currentItem()) {
      current_group = it->data(kGroupRole).toInt();
      current_category = it->data(kCategoryRole).toInt();
    }
    const int scroll = verticalScrollBar()->value();
    clear();
    if (scanner_ != nullptr) {
      for (int g = 0; g < scan::kGroupCount; ++g) {
        AddGroupRow(g, false);
        if (expanded.count(g)) ToggleGroup(count() - 1);
      }
    }
    for (int row = 0; row < count(); ++row) {
      QListWidgetItem* it = item(row);
      if (it->data(kGroupRole).toInt() == current_group &&
          it->data(kCategoryRole).toInt() == current_category) {
        setCurrentRow(row);
        break;
      }
    }
    verticalScrollBar()->setValue(scroll);
  }
  viewport()->update();
  emit CountersChanged();
}

void TRegErrorListBox::ScheduleRebuild() {
  if (rebuild_pending_) return;
  rebuild_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (rebuild_pending_) Rebuild();
  });
}

TRegError* TRegErrorListBox::FindingAt(int row) const {
  if (scanner_ == nullptr || view_ != vDetails) return nullptr;
  const QListWidgetItem* it = item(row);
  if (it == nullptr || it->data(kKindRole).toInt() != rkFinding) return nullptr;
  const auto category = static_cast<TErrorCategory>(category_);
  const int index = it->data(kIndexRole).toInt();
  if (index >= scanner_->CategoryErrorCount(category)) return nullptr;
  return scanner_->GetError(category, index);
}

TRegError* TRegErrorListBox::SelectedFinding() const { return FindingAt(currentRow()); }

void TRegErrorListBox::ToggleChecked(int row) {
  TRegError* error = FindingAt(row);
  if (error == nullptr) return;
  error->SetChecked(!error->Checked());
  viewport()->update();
  emit CountersChanged();
}

void TRegErrorListBox::ActivateRow(int row) {
  const QListWidgetItem* it = item(row);
  if (it == nullptr) return;
  switch (it->data(kKindRole).toInt()) {
    case rkGroupCollapsed:
    case rkGroupExpanded:
      ToggleGroup(row);
      break;
    case rkCategory:
      ShowDetails(it->data(kCategoryRole).toInt());
      break;
    default:
      break;
  }
}

void TRegErrorListBox::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      if (view_ == vDetails) ToggleChecked(currentRow());
      return;
    case Qt::Key_Backspace:
      if (view_ == vDetails) ShowSummary();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (view_ == vSummary) ActivateRow(currentRow());
      return;
    case Qt::Key_S:
      if (SelectedFinding() != nullptr) emit IgnoreRequested();
      return;
    default:
      QListWidget::keyPressEvent(event);
  }
}

void TRegErrorListBox::mousePressEvent(QMouseEvent* event) {
  QListWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(event->pos());
  if (!index.isValid()) return;
  const QRect r = visualRect(index);
  const int kind = index.data(kKindRole).toInt();
  const QPoint at = event->pos();
  if ((kind == rkGroupCollapsed || kind == rkGroupExpanded) &&
      ExpanderRect(r).adjusted(-4, -4, 4, 4).contains(at)) {
    ToggleGroup(index.row());
  } else if (kind == rkCategory && DetailsLinkRect(r).contains(at)) {
    ShowDetails(index.data(kCategoryRole).toInt());
  } else if (kind == rkFinding && CheckRect(r).adjusted(-4, -4, 4, 4).contains(at)) {
    ToggleChecked(index.row());
  }
}

void TRegErrorListBox::mouseMoveEvent(QMouseEvent* event) {
  if (!hasFocus() && isEnabled() && focusPolicy() != Qt::NoFocus) setFocus(Qt::MouseFocusReason);
  QListWidget::mouseMoveEvent(event);
}

// ---- TfResults ----

TfResults::TfResults(TfmHMMain& main, QWidget* body) : TfrHMFrame(main, body) {
  setObjectName(QStringLiteral("hmResultsPage"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 16, 20, 16);
  auto* panel = new controls::TGradientPanel(this);
  outer->addWidget(panel);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(20, 14, 20, 14);
  layout->setSpacing(8);

  auto* top = new QHBoxLayout();
  title_ = new QLabel(QStringLiteral("Registry Scan Results"), panel);
  title_->setProperty("role", "title");
  top->addWidget(title_, 1);
  found_ = new QLabel(panel);
  found_->setObjectName(QStringLiteral("hmResultsFound"));
  selected_ = new QLabel(panel);
  selected_->setObjectName(QStringLiteral("hmResultsSelected"));
  QFont bold = found_->font();
  bold.setBold(true);
  found_->setFont(bold);
  selected_->setProperty("role", "subtitle");
  auto* counts = new QVBoxLayout();
  counts->setSpacing(0);
  counts->addWidget(found_, 0, Qt::AlignRight);
  counts->addWidget(selected_, 0, Qt::AlignRight);
  top->addLayout(counts);
  layout->addLayout(top);

  list_ = new TRegErrorListBox(panel);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* columns = new TResultsColumns(list_, panel);
  layout->addWidget(columns);
  layout->addWidget(list_, 1);
  connect(list_, &TRegErrorListBox::CountersChanged, columns, qOverload<>(&QWidget::update));
  connect(list_, &TRegErrorListBox::CountersChanged, this, &TfResults::UpdateCounters);
  connect(list_, &TRegErrorListBox::IgnoreRequested, this, &TfResults::PermanentlyIgnoreSelected);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (QMenu* menu = BuildContextMenu()) menu->popup(list_->viewport()->mapToGlobal(at));
  });

  restore_point_ = new QLabel(QStringLiteral("Creating restore point ..."), panel);
  restore_point_->setFont(bold);
  restore_point_->hide();
  layout->addWidget(restore_point_);
  progress_ = new QProgressBar(panel);
  progress_->setTextVisible(false);
  progress_->hide();
  layout->addWidget(progress_);

  auto* bottom = new QHBoxLayout();
  total_ = new QLabel(panel);
  total_->setObjectName(QStringLiteral("hmResultsTotal"));
  bottom->addWidget(total_);
  working_ = new QLabel(QStringLiteral("Repairing..."), panel);
  working_->setFont(bold);
  working_->hide();
  bottom->addWidget(working_);
  bottom->addStretch(1);
  back_button_ = new QPushButton(QStringLiteral("Back"), panel);
  back_button_->setObjectName(QStringLiteral("hmResultsBack"));
  bottom->addWidget(back_button_);
  repair_button_ = new QPushButton(QStringLiteral("Repair Selected"), panel);
  repair_button_->setObjectName(QStringLiteral("hmResultsRepair"));
  repair_button_->setProperty("accent", true);
  bottom->addWidget(repair_button_);
  layout->addLayout(bottom);
  connect(back_button_, &QPushButton::clicked, this, &TfResults::Back);
  connect(repair_button_, &QPushButton::clicked, this, [this] {
    if (TMainFlows* flows = Main().Flows()) flows->Repair();
  });
  UpdateCounters();
}

void TfResults::VisibleChanged(bool visible) {
  TfrHMFrame::VisibleChanged(visible);
  if (visible) {
    list_->Detach();
    list_->Attach(Scanner());
    list_->ShowSummary();
  } else {
    list_->Detach();
  }
  UpdateCounters();
}

void TfResults::UpdateCounters() {
  scan::TRegScanner* scanner = list_->AttachedScanner();
  int found = 0;
  int selected = 0;
  QString title = QStringLiteral("Registry Scan Results");
  if (scanner != nullptr) {
    if (list_->View() == TRegErrorListBox::vDetails) {
      const auto category = static_cast<TErrorCategory>(list_->ShownCategory());
      found = scanner->CategoryErrorCount(category);
      selected = scanner->CategorySelectedCount(category);
      title += QStringLiteral(" - ") + CategoryCaption(category);
    } else {
      found = scanner->ErrorCount();
      selected = scanner->SelectedCount();
    }
  }
  title_->setText(title);
  found_->setText(IssueCountText(found) + QStringLiteral(" Found"));
  selected_->setText(IssueCountText(selected) + QStringLiteral(" Selected"));
  total_->setText(QStringLiteral("Total Registry Issues Selected: ") +
                  CountText(scanner ? scanner->SelectedCount() : 0));
  repair_button_->setEnabled(!working_state_ && scanner != nullptr && scanner->SelectedCount() > 0);
  list_->viewport()->update();
}

void TfResults::SetWorking(bool working) {
  if (working == working_state_) return;
  working_state_ = working;
  back_button_->setEnabled(!working);
  total_->setVisible(!working);
  working_->setVisible(working);
  if (working) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
  UpdateCounters();
}

void TfResults::SetRestorePointLine(bool shown) {
  restore_point_->setVisible(shown);
  if (shown) restore_point_->repaint();
}

void TfResults::Back() {
  if (list_->View() == TRegErrorListBox::vDetails) {
    list_->ShowSummary();
    return;
  }
  list_->Detach();
  Main().PostCommand(cmd::kScanPage);
}

// ---- Context menu ----

QMenu* TfResults::BuildContextMenu() {
  delete menu_;
  menu_ = new QMenu(this);
  menu_->setObjectName(QStringLiteral("hmResultsMenu"));
  const bool details = list_->View() == TRegErrorListBox::vDetails;
  const TRegError* error = list_->SelectedFinding();
  const bool registry_finding = details && error != nullptr && error->Kind() != kShortcutKind;

  // Sections of the menu; a separator stands only between sections that have items.
  std::vector<std::vector<QAction*>> sections(4);
  if (registry_finding) {
    QAction* ignore = new QAction(QStringLiteral("Permanently Ignore item"), menu_);
    ignore->setCheckable(true);
    ignore->setChecked(error->Ignored());
    connect(ignore, &QAction::triggered, this, &TfResults::PermanentlyIgnoreSelected);
    sections[0].push_back(ignore);
  }
  QAction* select_all = new QAction(QStringLiteral("Select All"), menu_);
  connect(select_all, &QAction::triggered, this, [this] { SelectAll(true); });
  QAction* deselect_all = new QAction(QStringLiteral("Deselect All"), menu_);
  connect(deselect_all, &QAction::triggered, this, [this] { SelectAll(false); });
  sections[1] = {select_all, deselect_all};
  if (registry_finding) {
    QAction* show_key = new QAction(QStringLiteral("Show Key"), menu_);
    connect(show_key, &QAction::triggered, this, &TfResults::ShowKeyOfSelected);
    sections[2].push_back(show_key);
  }
  if (!details) {
    QAction* select_group = new QAction(QStringLiteral("Select All In This Category"), menu_);
    connect(select_group, &QAction::triggered, this, [this] { SelectAllInGroup(true); });
    QAction* deselect_group = new QAction(QStringLiteral("Deselect All In This Category"), menu_);
    connect(deselect_group, &QAction::triggered, this, [this] { SelectAllInGroup(false); });
    sections[3] = {select_group, deselect_group};
  }
  for (const auto& section : sections) {
    if (section.empty()) continue;
    if (!menu_->actions().isEmpty()) menu_->addSeparator();
    for (QAction* action : section) menu_->addAction(action);
  }
  return menu_;
}

void TfResults::SelectAll(bool checked) {
  scan::TRegScanner* scanner = list_->AttachedScanner();
  if (scanner == nullptr) return;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    if (list_->View() == TRegErrorListBox::vDetails && c != list_->ShownCategory()) continue;
    const auto category = static_cast<TErrorCategory>(c);
    for (int i = 0; i < scanner->CategoryErrorCount(category); ++i) {
      scanner->GetError(category, i)->SetChecked(checked);
    }
  }
  UpdateCounters();
}

void TfResults::SelectAllInGroup(bool checked) {
  scan::TRegScanner* scanner = list_->AttachedScanner();
  const QListWidgetItem* row = list_->currentItem();
  if (scanner == nullptr || row == nullptr || list_->View() != TRegErrorListBox::vSummary) return;
  const scan::TErrorCategories members =
      scan::GroupMembers(row->data(TRegErrorListBox::kGroupRole).toInt());
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (!members.Contains(category)) continue;
    for (int i = 0; i < scanner->CategoryErrorCount(category); ++i) {
      scanner->GetError(category, i)->SetChecked(checked);
    }
  }
  UpdateCounters();
}

void TfResults::PermanentlyIgnoreSelected() {
  TRegError* error = list_->SelectedFinding();
  if (error == nullptr || error->Action() == scan::raRecycleFile) return;
  const std::string entry = IgnoreEntryOf(*error);
  if (entry.empty()) return;
  error->SetIgnored(!error->Ignored());
  Result<std::filesystem::path> file = Main().Environment().data_folder.Map(scan::kIgnoreFileName);
  const Status saved = !file.ok()        ? file.status()
                       : error->Ignored() ? scan::AddToIgnoreFile(*file, entry)
                                          : scan::RemoveFromIgnoreFile(*file, entry);
  if (!saved.ok()) {
    ShowMessage(QStringLiteral("The ignore list could not be saved: ") +
                    QString::fromStdString(saved.ToString()),
                QString::fromLatin1(app::kApplicationTitle), controls::kStyleError);
  }
  UpdateCounters();
}

void TfResults::ShowKeyOfSelected() {
  const TRegError* error = list_->SelectedFinding();
  if (error == nullptr || error->Kind() == kShortcutKind) return;
  const QString title = QString::fromLatin1(app::kApplicationTitle);
  if (ShowMessage(QString::fromLatin1(kShowKeyCaution), title,
                  controls::kStyleError | controls::kStyleOkCancel) == controls::kIdCancel) {
    return;
  }
  std::string text = reg::RootKeyToName(error->RootKey()) + "\\" + error->KeyPath();
  if (!error->ValueName().empty()) text += std::string(scan::kValueSeparator) + error->ValueName();
  if (!reg::ShowKeyInRegedit(text)) {
    ShowMessage(QString::fromLatin1(kKeyMissing), title, controls::kStyleError);
  }
}

// ---- Repair ----

void TfResults::AppendReportLine(const std::string& line) {
  Result<std::filesystem::path> file = Main().Environment().data_folder.Map(kRepairsFile);
  if (file.ok()) (void)AppendLine(*file, line);  // a report line that cannot be written is skipped
}

void TfResults::Repair(int* repaired, TRepairSummary* summary, int* not_resolved) {
  scan::TRegScanner& scanner = Main().Scanner();
  not_resolved_text_.clear();
  *repaired = 0;
  *not_resolved = 0;
  *summary = {};

  progress_->setRange(0, std::max(1, scanner.SelectedCount()));
  progress_->setValue(0);
  progress_->show();
  Main().PostCommand(cmd::kHeaderState, 2);
  QCoreApplication::processEvents();
  setEnabled(false);
  SetWorking(true);

  // The findings may not be taken away while the loop runs; should the list be cleared anyway
  // (while events are processed), the loop ends there.
  bool list_changed = false;
  scan::TRegScannerChangeLink guard;
  guard.OnChange = [&list_changed](scan::TRegScanner*, TRegError*, scan::TListNotification action) {
    if (action != scan::lnAdded) list_changed = true;
  };
  scanner.RegisterChanges(&guard);

  int done = 0;
  for (int c = 0; c < scan::kCategoryCount && !list_changed; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    TCategoryRepairSummary& record = (*summary)[c];
    record.found = scanner.CategoryErrorCount(category);
    if (scanner.CategorySelectedCount(category) > 0) {
      AppendReportLine("<b>" + std::string(scan::CategoryName(category)) + "</b><br>");
    }
    std::vector<TRegError*> findings;
    for (int i = 0; i < record.found; ++i) findings.push_back(scanner.GetError(category, i));
    for (TRegError* error : findings) {
      if (list_changed) break;
      const std::string entry = IgnoreEntryOf(*error);
      std::string error_text;
      if (error->Ignored()) {
        (void)repair::RepairError(scanner, *error, &error_text);
        ++record.not_repaired;
      } else if (error->Checked()) {
        if (repair::RepairError(scanner, *error, &error_text)) {
          ++*repaired;
          ++record.repaired;
          if (!entry.empty()) AppendReportLine(entry + "<br>");
        } else {
          not_resolved_text_ += "\r\n" + error->Caption() + "\r\n";
          if (!entry.empty()) not_resolved_text_ += entry + "\r\n";
          not_resolved_text_ += std::string(scan::IssueTitle(error->Kind())) + "\r\n" +
                                error->Description() + "\r\n" + error_text + "\r\n\r\n";
          ++record.not_repaired;
          ++*not_resolved;
        }
      } else {
        continue;
      }
      if (error->Checked()) {
        progress_->setValue(++done);
        QCoreApplication::processEvents();
      }
    }
  }
  scanner.UnregisterChanges(&guard);

  // The backups reach the disk before the changes they are for; the hives are written once.
  if (!scanner.BackupFolder().empty()) (void)repair::SyncStore(scanner.BackupFolder());
  Status committed;
  if (reg::HostRegistry* registry = reg::ProcessRegistry()) committed = registry->Commit();

  Main().SendCommand(cmd::kClearResults);
  list_->Detach();
  setEnabled(true);
  Main().PostCommand(cmd::kHeaderState, 7);
  progress_->hide();
  SetWorking(false);
  if (!committed.ok()) {
    ShowMessage(QStringLiteral("The repaired registry could not be written: ") +
                    QString::fromStdString(committed.ToString()),
                QString::fromLatin1(app::kApplicationTitle), controls::kStyleError);
  }
  if (*repaired > 0) {
    app::SettingsStore& store = Main().Settings();
    (void)store.Load();
    store.settings().last_scan =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm")).toStdString();
    store.settings().last_repair = *repaired;
    store.settings().total_error_repaired += *repaired;
    (void)store.Save();
  }
}

Result<std::filesystem::path> TfResults::NotResolvedListPath() const {
  return Main().Environment().data_folder.Map(kNotResolvedFile);
}

void TfResults::WriteNotResolvedList() {
  if (not_resolved_text_.empty()) return;
  Result<std::filesystem::path> file = NotResolvedListPath();
  if (file.ok()) (void)AtomicWriteFile(*file, not_resolved_text_ + "\r\n");
  not_resolved_text_.clear();
}

}  // namespace hm::ui
