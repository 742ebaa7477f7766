// The program's own registry view, where "Show Key" opens: a read-only window with the
// installation's registry as a tree (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_USERS, HKEY_CURRENT_CONFIG), filled as keys are opened, and the values of the selected
// key (name, type, data). It shows one registry view (32-bit or 64-bit) at a time: the one the
// key was found in. TRegistryViewJump installs it as the process's RegistryJump.
//
// It reads through the process registry's "A" functions and changes nothing.
//
// Main (GUI) thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>

#include "registry/regedit_jump.h"

class QLabel;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace hm::ui {

// "REG_SZ", "REG_DWORD", ...; "0x1F" for a type without a name.
QString RegistryTypeName(uint32_t type);
// The data of a value as the view shows it: strings as text (a list joined by spaces), numbers
// as "0x0000002a (42)", other data as hexadecimal bytes.
QString RegistryDataText(uint32_t type, const std::string& data);

class TfRegistryView : public QWidget {
  Q_OBJECT

 public:
  explicit TfRegistryView(QWidget* parent = nullptr);

  // Opens the tree at the target's key in its view and selects its value, when it names one.
  void Navigate(const reg::RegistryJumpTarget& target);

  bool View64() const { return view64_; }
  // "HKEY_LOCAL_MACHINE\SOFTWARE\X" of the selected key (names in the installation's code page).
  std::string CurrentKeyText() const;
  // The name of the selected value ("" for the default value); nullopt when none is selected.
  std::optional<std::string> SelectedValueName() const;
  QTreeWidget* Tree() const { return tree_; }
  QTableWidget* Values() const { return values_; }

 private:
  void BuildRoots();
  // Lists the subkeys of `item` once.
  void Fill(QTreeWidgetItem* item);
  void ShowValues(QTreeWidgetItem* item);

  bool view64_ = false;
  QTreeWidget* tree_ = nullptr;
  QTableWidget* values_ = nullptr;
  QLabel* path_ = nullptr;
};

// The process's "Show Key": one registry view window, opened at each key asked for.
class TRegistryViewJump : public reg::RegistryJump {
 public:
  ~TRegistryViewJump() override;
  void ShowKey(const reg::RegistryJumpTarget& target) override;
  TfRegistryView* Window() const { return window_; }

 private:
  QPointer<TfRegistryView> window_;
};

}  // namespace hm::ui
