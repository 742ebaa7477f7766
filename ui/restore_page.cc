#include "ui/restore_page.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

#include "controls/gradient_panel.h"
#include "controls/message_dialog.h"
#include "registry/host_registry.h"
#include "registry/regedit_jump.h"
#include "registry/win_registry.h"
#include "ui/flows.h"
#include "ui/main_window.h"
#include "ui/scan_page.h"

namespace hm::ui {
namespace {

using controls::ShowMessage;

constexpr char kShowKeyCaution[] =
    "CAUTION\r\rYou are about to directly enter the System Registry. This area is meant for use by "
    "experts only. Changes made here could render your system inoperable. If you proceed we "
    "recommend making a backup first. Do you wish to proceed?";

QString Title() { return QString::fromLatin1(app::kApplicationTitle); }
QString Text(std::string_view text) { return FromAnsi(text); }

}  // namespace

TfRestore::TfRestore(TfmHMMain& main, QWidget* body) : TfrHMFrame(main, body) {
  setObjectName(QStringLiteral("hmRestorePage"));
  const std::string undo_dir = Main().Scanner().BackupFolder();
  if (!undo_dir.empty()) {
    model_.emplace(repair::TUndoStore(undo_dir), Main().Settings().settings().DeleteAfterWeek);
  }

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 16, 20, 16);
  auto* panel = new controls::TGradientPanel(this);
  outer->addWidget(panel);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->setSpacing(8);

  auto* title = new QLabel(QStringLiteral("Restore Repairs"), panel);
  title->setProperty("role", "title");
  layout->addWidget(title);
  auto* subtitle = new QLabel(
      QStringLiteral("Every repair keeps a backup of what it changed. Choose the day of the repair "
                     "and the keys to bring back, then click Restore."),
      panel);
  subtitle->setProperty("role", "subtitle");
  subtitle->setWordWrap(true);
  layout->addWidget(subtitle);

  auto* chooser = new QHBoxLayout();
  chooser->addWidget(new QLabel(QStringLiteral("Snapshot:"), panel));
  selector_ = new QComboBox(panel);
  selector_->setObjectName(QStringLiteral("hmRestoreSelector"));
  selector_->setMinimumWidth(200);
  chooser->addWidget(selector_);
  chooser->addStretch(1);
  count_ = new QLabel(panel);
  count_->setObjectName(QStringLiteral("hmRestoreCount"));
  chooser->addWidget(count_);
  layout->addLayout(chooser);
  connect(selector_, &QComboBox::activated, this, &TfRestore::SnapshotSelected);

  list_ = new QListWidget(panel);
  list_->setObjectName(QStringLiteral("hmRestoreItems"));
  list_->setContextMenuPolicy(Qt::NoContextMenu);
  layout->addWidget(list_, 1);
  connect(list_, &QListWidget::itemChanged, this, &TfRestore::ItemChanged);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(QStringLiteral("Show &Key")), &QAction::triggered, this,
            &TfRestore::ShowKeyClicked);
    menu->popup(list_->viewport()->mapToGlobal(at));
  });

  auto* boxes = new QHBoxLayout();
  check_all_ = new TThreeStateBox(QStringLiteral("Check / Uncheck All"), panel);
  check_all_->setObjectName(QStringLiteral("hmRestoreCheckAll"));
  boxes->addWidget(check_all_);
  connect(check_all_, &QCheckBox::clicked, this, &TfRestore::CheckAllClicked);
  boxes->addStretch(1);
  auto_delete_ = new QCheckBox(Text(repair::kAutoDeleteCaption), panel);
  auto_delete_->setObjectName(QStringLiteral("hmRestoreAutoDelete"));
  auto_delete_->setChecked(Main().Settings().settings().DeleteAfterWeek);
  connect(auto_delete_, &QCheckBox::toggled, this, [this](bool checked) {
    if (model_) model_->SetAutoDelete(checked);
  });
  boxes->addWidget(auto_delete_);
  layout->addLayout(boxes);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  print_ = new QPushButton(QStringLiteral("Print"), panel);
  print_->setObjectName(QStringLiteral("hmRestorePrint"));
  buttons->addWidget(print_);
  restore_ = new QPushButton(QStringLiteral("Restore"), panel);
  restore_->setObjectName(QStringLiteral("hmRestoreButton"));
  restore_->setProperty("accent", true);
  buttons->addWidget(restore_);
  layout->addLayout(buttons);
  connect(print_, &QPushButton::clicked, this, &TfRestore::PrintClicked);
  connect(restore_, &QPushButton::clicked, this, &TfRestore::RestoreClicked);

  UpdateState();
}

QCheckBox* TfRestore::CheckAllBox() const { return check_all_; }

void TfRestore::VisibleChanged(bool visible) {
  TfrHMFrame::VisibleChanged(visible);
  if (visible) {
    if (model_ && !model_->Loaded()) {
      model_->Shown(std::chrono::system_clock::now());
      ShowLists();
    }
    return;
  }
  app::SettingsStore& store = Main().Settings();
  (void)store.Load();
  store.settings().DeleteAfterWeek = auto_delete_->isChecked();
  (void)store.Save();
}

void TfRestore::MarkOutOfDate() {
  if (model_) model_->MarkOutOfDate();
}

void TfRestore::ShowLists() {
  QSignalBlocker block(selector_);
  selector_->clear();
  if (model_) {
    for (const std::string& snapshot : model_->Snapshots()) selector_->addItem(Text(snapshot));
    selector_->setCurrentIndex(model_->SelectedSnapshot());
  }
  ShowItems();
}

void TfRestore::ShowItems() {
  filling_ = true;
  list_->setUpdatesEnabled(false);
  list_->clear();
  if (model_) {
    for (const repair::TRestoreItem& entry : model_->Items()) {
      auto* item = new QListWidgetItem(Text(entry.key_text), list_);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(entry.checked ? Qt::Checked : Qt::Unchecked);
    }
  }
  list_->setUpdatesEnabled(true);
  filling_ = false;
  UpdateState();
}

void TfRestore::UpdateState() {
  const bool has_items = model_ && model_->HasItems();
  count_->setText(QString::number(has_items ? model_->Items().size() : 0) + QStringLiteral(" Items"));
  restore_->setEnabled(has_items);
  print_->setEnabled(has_items);
  check_all_->setEnabled(has_items);
  list_->setContextMenuPolicy(has_items ? Qt::CustomContextMenu : Qt::NoContextMenu);
  QSignalBlocker block(check_all_);
  const repair::TCheckState state = model_ ? model_->AllState() : repair::TCheckState::cbChecked;
  check_all_->setCheckState(state == repair::TCheckState::cbChecked   ? Qt::Checked
                            : state == repair::TCheckState::cbUnchecked ? Qt::Unchecked
                                                                        : Qt::PartiallyChecked);
}

void TfRestore::SnapshotSelected(int index) {
  if (!model_) return;
  model_->SelectSnapshot(index);
  ShowItems();
  if (list_->isVisible()) list_->setFocus();
}

void TfRestore::CheckAllClicked() {
  if (!model_) return;
  model_->SetAllChecked(check_all_->checkState() == Qt::Checked);
  ShowItems();
}

void TfRestore::ItemChanged(QListWidgetItem* item) {
  if (filling_ || !model_) return;
  model_->SetItemChecked(static_cast<size_t>(list_->row(item)), item->checkState() == Qt::Checked);
  UpdateState();
}

void TfRestore::RestoreClicked() {
  if (!model_) return;
  const bool any_checked = std::any_of(model_->Items().begin(), model_->Items().end(),
                                       [](const repair::TRestoreItem& item) { return item.checked; });
  if (!any_checked) {
    ShowMessage(Text(repair::kNothingToRestoreText), Title(), controls::kStyleError);
    return;
  }
  if (ShowMessage(Text(repair::kRestoreQuestionText), Title(),
                  controls::kStyleQuestion | controls::kStyleYesNo) != controls::kIdYes) {
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::optional<repair::RestoreOutcome> outcome = model_->RestoreChecked();
  // The imports changed the registry in memory; the hives are written once, now.
  Status committed;
  if (reg::HostRegistry* registry = reg::ProcessRegistry()) committed = registry->Commit();
  Main().Scanner().ClearResults();
  ShowLists();
  QApplication::restoreOverrideCursor();
  if (!committed.ok()) {
    ShowMessage(QStringLiteral("The restored entries could not be written: ") +
                    QString::fromStdString(committed.ToString()),
                Title(), controls::kStyleError);
  } else if (outcome) {
    ShowMessage(Text(repair::RestoreCompletedText(*outcome)), Title(), controls::kStyleInformation);
  }
}

void TfRestore::PrintClicked() {
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) PrintItems(printer);
  UpdateState();
}

bool TfRestore::PrintItems(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) {
    ShowMessage(QStringLiteral("Printer error: the printer could not be started."), Title(),
                controls::kStyleError);
    return false;
  }
  const QRect page = painter.viewport();
  const int line = painter.fontMetrics().height();
  int y = line;
  for (int row = 0; row < list_->count(); ++row) {
    if (y + line > page.height()) {
      if (!printer.newPage()) {
        painter.end();
        ShowMessage(QStringLiteral("Printer error: a new page could not be started."), Title(),
                    controls::kStyleError);
        return false;
      }
      y = line;
    }
    painter.drawText(0, y, list_->item(row)->text());
    y += line;
  }
  return painter.end();
}

void TfRestore::ShowKeyClicked() {
  if (ShowMessage(QString::fromLatin1(kShowKeyCaution), Title(),
                  controls::kStyleError | controls::kStyleOkCancel) == controls::kIdCancel) {
    return;
  }
  const int row = list_->currentRow();
  if (!model_ || row < 0 || row >= static_cast<int>(model_->Items().size())) {
    ShowMessage(Text(repair::kNoItemSelectedText), Title(), controls::kStyleError);
  } else if (!reg::ShowKeyInRegedit(model_->Items()[row].key_text)) {
    ShowMessage(Text(repair::kKeyMissingText), Title(), controls::kStyleError);
  }
  UpdateState();
}

}  // namespace hm::ui
