#include "ui/registry_view.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <vector>

#include "platform/win_error.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "ui/flows.h"

namespace hm::ui {
namespace {

constexpr int kRootRole = Qt::UserRole + 1;
constexpr int kPathRole = Qt::UserRole + 2;    // QByteArray: the key path in the code page
constexpr int kFilledRole = Qt::UserRole + 3;
constexpr int kValueRole = Qt::UserRole + 4;   // QByteArray: the value name in the code page
constexpr size_t kShownDataBytes = 1024;

constexpr reg::HKEY kRoots[] = {reg::HKEY_CLASSES_ROOT, reg::HKEY_CURRENT_USER,
                                reg::HKEY_LOCAL_MACHINE, reg::HKEY_USERS,
                                reg::HKEY_CURRENT_CONFIG};

std::string Bytes(const QVariant& value) { return value.toByteArray().toStdString(); }
QByteArray ToBytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// An open key, closed at the end of the scope.
class OpenKey {
 public:
  OpenKey(reg::HKEY root, const std::string& path, bool view64) {
    if (reg::RegOpenKeyExA(root, path.c_str(), 0, reg::KEY_READ | reg::ViewAccessFlags(view64),
                           &key_) != 0) {
      key_ = 0;
    }
  }
  ~OpenKey() {
    if (key_ != 0) reg::RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  reg::HKEY get() const { return key_; }

 private:
  reg::HKEY key_ = 0;
};

std::vector<std::string> SubkeyNames(reg::HKEY key) {
  std::vector<std::string> names;
  reg::KeyInfo info;
  if (reg::RegQueryInfoKeyA(key, &info) != 0) return names;
  // Twice the longest name leaves room for two-byte characters of the code page.
  std::vector<char> buffer(2 * static_cast<size_t>(info.max_subkey_len) + 2);
  for (uint32_t i = 0;; ++i) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    const reg::LSTATUS status = reg::RegEnumKeyExA(key, i, buffer.data(), &size);
    if (status == kErrorMoreData) {
      buffer.resize(buffer.size() * 2);
      --i;
      continue;
    }
    if (status != 0) break;
    names.emplace_back(buffer.data(), size);
  }
  return names;
}

struct ValueRow {
  std::string name;
  uint32_t type = 0;
  std::string data;
};

std::vector<ValueRow> ReadValues(reg::HKEY key) {
  std::vector<ValueRow> rows;
  reg::KeyInfo info;
  if (reg::RegQueryInfoKeyA(key, &info) != 0) return rows;
  std::vector<char> name(2 * static_cast<size_t>(info.max_value_name_len) + 2);
  std::vector<uint8_t> data(static_cast<size_t>(info.max_value_len) + 2);
  for (uint32_t i = 0;; ++i) {
    uint32_t name_size = static_cast<uint32_t>(name.size());
    uint32_t data_size = static_cast<uint32_t>(data.size());
    uint32_t type = 0;
    const reg::LSTATUS status =
        reg::RegEnumValueA(key, i, name.data(), &name_size, &type, data.data(), &data_size);
    if (status == kErrorMoreData) {
      name.resize(name.size() * 2);
      data.resize(std::max<size_t>(data.size() * 2, data_size));
      --i;
      continue;
    }
    if (status != 0) break;
    rows.push_back({std::string(name.data(), name_size), type,
                    std::string(reinterpret_cast<const char*>(data.data()), data_size)});
  }
  return rows;
}

bool SameName(const std::string& a, const std::string& b) {
  return reg::UpcasedName(a) == reg::UpcasedName(b);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

QString RegistryTypeName(uint32_t type) {
  const std::string_view name = reg::RegTypeName(type);
  if (!name.empty()) return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
  return QStringLiteral("0x%1").arg(type, 0, 16);
}

QString RegistryDataText(uint32_t type, const std::string& data) {
  if (type == reg::REG_SZ || type == reg::REG_EXPAND_SZ) {
    return FromAnsi(std::string_view(data).substr(0, data.find('\0')));
  }
  if (type == reg::REG_MULTI_SZ) {
    QStringList parts;
    size_t start = 0;
    while (start < data.size()) {
      const size_t end = data.find('\0', start);
      const std::string part = data.substr(start, end == std::string::npos ? end : end - start);
      if (part.empty()) break;
      parts << FromAnsi(part);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return parts.join(QLatin1Char(' '));
  }
  if ((type == reg::REG_DWORD || type == reg::REG_DWORD_BIG_ENDIAN) && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const uint32_t byte = static_cast<uint8_t>(data[type == reg::REG_DWORD ? i : 3 - i]);
      value |= byte << (8 * i);
    }
    return QStringLiteral("0x%1 (%2)").arg(value, 8, 16, QLatin1Char('0')).arg(value);
  }
  if (type == reg::REG_QWORD && data.size() == 8) {
    quint64 value = 0;
    for (int i = 0; i < 8; ++i) value |= quint64(static_cast<uint8_t>(data[i])) << (8 * i);
    return QStringLiteral("0x%1 (%2)").arg(value, 16, 16, QLatin1Char('0')).arg(value);
  }
  if (data.empty()) return QStringLiteral("(zero-length binary value)");
  QString text;
  const size_t shown = std::min(data.size(), kShownDataBytes);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) text += QLatin1Char(' ');
    text += QStringLiteral("%1").arg(static_cast<uint8_t>(data[i]), 2, 16, QLatin1Char('0'));
  }
  if (shown < data.size()) text += QStringLiteral(" ...");
  return text;
}

TfRegistryView::TfRegistryView(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("hmRegistryView"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(860, 560);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  path_ = new QLabel(this);
  path_->setObjectName(QStringLiteral("hmRegistryPath"));
  path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(path_);
  auto* split = new QSplitter(this);
  tree_ = new QTreeWidget(split);
  tree_->setHeaderHidden(true);
  tree_->setUniformRowHeights(true);
  values_ = new QTableWidget(0, 3, split);
  values_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"),
                                      QStringLiteral("Data")});
  values_->horizontalHeader()->setStretchLastSection(true);
  values_->verticalHeader()->hide();
  values_->verticalHeader()->setDefaultSectionSize(values_->fontMetrics().height() + 6);
  values_->setWordWrap(false);
  values_->setTextElideMode(Qt::ElideRight);
  values_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  values_->setSelectionBehavior(QAbstractItemView::SelectRows);
  values_->setSelectionMode(QAbstractItemView::SingleSelection);
  values_->setColumnWidth(0, 180);
  values_->setColumnWidth(1, 130);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);
  layout->addWidget(split, 1);
  connect(tree_, &QTreeWidget::itemExpanded, this, &TfRegistryView::Fill);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { ShowValues(current); });
  view64_ = reg::Is64BitWindows();
  BuildRoots();
}

void TfRegistryView::BuildRoots() {
  tree_->clear();
  values_->setRowCount(0);
  for (reg::HKEY root : kRoots) {
    auto* item = new QTreeWidgetItem(tree_, {QString::fromStdString(reg::RootKeyToName(root))});
    item->setData(0, kRootRole, static_cast<qulonglong>(root));
    item->setData(0, kPathRole, QByteArray());
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  setWindowTitle(QStringLiteral("Registry of the installation") +
                 (reg::Is64BitWindows() ? (view64_ ? QStringLiteral(" (64-bit view)")
                                                   : QStringLiteral(" (32-bit view)"))
                                        : QString()));
}

void TfRegistryView::Fill(QTreeWidgetItem* item) {
  if (item == nullptr || item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  const auto root = static_cast<reg::HKEY>(item->data(0, kRootRole).toULongLong());
  const std::string path = Bytes(item->data(0, kPathRole));
  OpenKey key(root, path, view64_);
  const std::vector<std::string> names =
      key.get() != 0 ? SubkeyNames(key.get()) : std::vector<std::string>();
  for (const std::string& name : names) {
    auto* child = new QTreeWidgetItem(item, {FromAnsi(name)});
    child->setData(0, kRootRole, static_cast<qulonglong>(root));
    child->setData(0, kPathRole, ToBytes(path.empty() ? name : path + "\\" + name));
    child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  if (names.empty()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void TfRegistryView::ShowValues(QTreeWidgetItem* item) {
  values_->setRowCount(0);
  if (item == nullptr) {
    path_->clear();
    return;
  }
  const auto root = static_cast<reg::HKEY>(item->data(0, kRootRole).toULongLong());
  const std::string path = Bytes(item->data(0, kPathRole));
  path_->setText(FromAnsi(reg::RootKeyToName(root) + (path.empty() ? "" : "\\" + path)));
  OpenKey key(root, path, view64_);
  if (key.get() == 0) return;
  const std::vector<ValueRow> rows = ReadValues(key.get());
  values_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const ValueRow& row = rows[i];
    auto* name = new QTableWidgetItem(row.name.empty() ? QStringLiteral("(Default)")
                                                       : FromAnsi(row.name));
    name->setData(kValueRole, ToBytes(row.name));
    values_->setItem(i, 0, name);
    values_->setItem(i, 1, new QTableWidgetItem(RegistryTypeName(row.type)));
    values_->setItem(i, 2, new QTableWidgetItem(RegistryDataText(row.type, row.data)));
  }
}

void TfRegistryView::Navigate(const reg::RegistryJumpTarget& target) {
  if (target.view64 != view64_) {
    view64_ = target.view64;
    BuildRoots();
  }
  QTreeWidgetItem* item = nullptr;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree_->topLevelItem(i);
    if (top->data(0, kRootRole).toULongLong() == static_cast<qulonglong>(target.root)) item = top;
  }
  if (item == nullptr) return;
  for (const std::string& part : SplitPath(target.key_path)) {
    Fill(item);
    item->setExpanded(true);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && next == nullptr; ++i) {
      const std::string child_path = Bytes(item->child(i)->data(0, kPathRole));
      const std::string child_name = child_path.substr(child_path.rfind('\\') + 1);
      if (SameName(child_name, part)) next = item->child(i);
    }
    if (next == nullptr) break;
    item = next;
  }
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
  if (target.value_name) {
    for (int row = 0; row < values_->rowCount(); ++row) {
      if (SameName(Bytes(values_->item(row, 0)->data(kValueRole)), *target.value_name)) {
        values_->selectRow(row);
        values_->scrollToItem(values_->item(row, 0));
        break;
      }
    }
  }
}

std::string TfRegistryView::CurrentKeyText() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) return {};
  const std::string path = Bytes(item->data(0, kPathRole));
  return reg::RootKeyToName(static_cast<reg::HKEY>(item->data(0, kRootRole).toULongLong())) +
         (path.empty() ? "" : "\\" + path);
}

std::optional<std::string> TfRegistryView::SelectedValueName() const {
  const QList<QTableWidgetItem*> selected = values_->selectedItems();
  for (const QTableWidgetItem* item : selected) {
    if (item->column() == 0) return Bytes(item->data(kValueRole));
  }
  return std::nullopt;
}

TRegistryViewJump::~TRegistryViewJump() {
  if (window_) delete window_.data();
}

void TRegistryViewJump::ShowKey(const reg::RegistryJumpTarget& target) {
  if (!window_) window_ = new TfRegistryView();
  window_->Navigate(target);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace hm::ui
