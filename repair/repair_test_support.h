// A small installation for the repair and undo tests, with a scanner whose backup folder is the
// user's undo store, and helpers to read and dump registry state. Test code only.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/main_thread.h"
#include "registry/files_test_support.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/error_list.h"
#include "scanner/scanner.h"

namespace hm::repair::testing {

inline constexpr char kUndoDir[] = "C:\\Users\\ann\\AppData\\Local\\Corvexa\\Undo\\";

// Keys the repairs work on: HKCU\Software\Test is shared by both views, HKLM\SOFTWARE\Test is
// the 64-bit view's own.
inline constexpr char kTestRegistry[] = R"reg(
[HKEY_CURRENT_USER\Software\Test\Values]
"Gone"="C:\\missing.exe"
"Text"="a;b;a"
"Multi"=hex(7):61,00,00,00,62,00,00,00,61,00,00,00,00,00
"Number"=dword:00000005
"Quote\"d"="back\\slash"

[HKEY_CURRENT_USER\Software\Test\Mru]
"MRUList"="cab"
"a"="first"
"b"="second"

[HKEY_CURRENT_USER\Software\Test\Tree\Sub]
"v"="1"
@="default"

[HKEY_CURRENT_USER\Software\Test\Lonely]
"only"="1"

[HKEY_LOCAL_MACHINE\SOFTWARE\Test\Native]
"Path"="C:\\nowhere.dll"
)reg";

struct ValueData {
  uint32_t type = 0;
  std::string data;
};

inline std::optional<ValueData> ReadValue(reg::HKEY root, const std::string& path,
                                          const std::string& name, bool view64 = true) {
  reg::HKEY key = 0;
  if (!reg::KeyOpenRead(&key, root, view64, path)) return std::nullopt;
  ValueData value;
  value.data.resize(70000);
  uint32_t size = static_cast<uint32_t>(value.data.size());
  const reg::LSTATUS status =
      reg::RegQueryValueExA(key, name.c_str(), &value.type,
                            reinterpret_cast<uint8_t*>(value.data.data()), &size);
  reg::RegCloseKey(key);
  if (status != 0) return std::nullopt;
  value.data.resize(size);
  return value;
}

// Every key and value below root\path, one sorted line each ("key|value|type|data").
inline void DumpInto(reg::HKEY root, const std::string& path, bool view64,
                     std::vector<std::string>* lines) {
  reg::HKEY key = 0;
  if (!reg::KeyOpenRead(&key, root, view64, path)) return;
  lines->push_back(path);
  std::vector<std::string> subkeys;
  for (uint32_t i = 0;; ++i) {
    char name[512];
    uint32_t name_size = sizeof name;
    if (reg::RegEnumKeyExA(key, i, name, &name_size) != 0) break;
    subkeys.emplace_back(name, name_size);
  }
  for (uint32_t i = 0;; ++i) {
    char name[512];
    uint32_t name_size = sizeof name, type = 0;
    std::string data(70000, '\0');
    uint32_t data_size = static_cast<uint32_t>(data.size());
    if (reg::RegEnumValueA(key, i, name, &name_size, &type,
                           reinterpret_cast<uint8_t*>(data.data()), &data_size) != 0) {
      break;
    }
    data.resize(data_size);
    lines->push_back(path + "|" + std::string(name, name_size) + "|" + std::to_string(type) +
                     "|" + data);
  }
  reg::RegCloseKey(key);
  for (const std::string& subkey : subkeys) DumpInto(root, path + "\\" + subkey, view64, lines);
}

inline std::vector<std::string> Dump(reg::HKEY root, const std::string& path, bool view64 = true) {
  std::vector<std::string> lines;
  DumpInto(root, path, view64, &lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class RepairTest : public ::testing::Test {
 protected:
  RepairTest() { scanner_.SetBackupFolder(kUndoDir); }

  // A finding as a check would hand it over (view 1: the 64-bit view).
  static std::unique_ptr<scan::TRegError> Finding(reg::HKEY root, const std::string& key,
                                                  const std::string& value, uint8_t action,
                                                  const std::string& data = "",
                                                  scan::TErrorCategory category =
                                                      scan::ecHistoryLists) {
    scan::TRegErrorInfo info;
    info.View = 1;
    info.RootKey = root;
    info.KeyPath = key;
    info.ValueName = value;
    info.Data = data;
    info.Action = action;
    info.Category = category;
    return std::make_unique<scan::TRegError>(info);
  }

  // The host path of a file of the installation.
  std::filesystem::path Host(const std::string& windows_path) {
    auto host = installation_.files().HostPathForCreate(windows_path, files::FsView::kNative);
    EXPECT_TRUE(host.ok());
    return host.ok() ? *host : std::filesystem::path();
  }

  reg::testing::FilesInstallation installation_{{}, kTestRegistry};
  MainThreadQueue main_thread_;
  scan::TRegScanner scanner_{main_thread_, scan::CategoryRoutines{}};
};

}  // namespace hm::repair::testing
