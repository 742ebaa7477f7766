// Helpers for the scanner's tests. Test code only; main thread only.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>

#include "gtest/gtest.h"
#include "platform/files/host_files.h"
#include "platform/install/installation.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/exclusions.h"

#include "platform/main_thread.h"
#include "scanner/scanner.h"

namespace hm::scan::testing {

inline TErrorCategories Categories(std::initializer_list<TErrorCategory> list) {
  TErrorCategories categories;
  for (TErrorCategory category : list) categories.Include(category);
  return categories;
}

// The four categories of the COM registrations.
inline TErrorCategories ClassCategories() {
  return Categories({ecAppIDs, ecCLSIDs, ecTypeLib, ecInterfaces});
}

// The installation at `root` opened as the program opens it, installed as the process's
// registry, environment and files for the object's lifetime.
class OpenedInstallation {
 public:
  explicit OpenedInstallation(const std::filesystem::path& root) {
    auto installation = install::Installation::Open(root);
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    if (!installation.ok()) return;
    auto registry = reg::HostRegistry::Open(std::move(*installation), {});
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    if (!registry.ok()) return;
    registry_ = std::move(registry).value();
    reg::SetProcessRegistry(registry_.get());
    reg::InitRegistryAccess(*registry_);
    environment_ = reg::HostEnvironment::Build(*registry_);
    auto files = reg::OpenInstallationFiles(registry_->installation(), *environment_, {});
    EXPECT_TRUE(files.ok()) << files.status().ToString();
    if (!files.ok()) return;
    files_ = std::move(files).value();
    reg::SetProcessFiles(files_.get(), environment_.get());
  }
  ~OpenedInstallation() {
    reg::SetProcessFiles(nullptr, nullptr);
    reg::SetProcessRegistry(nullptr);
  }
  OpenedInstallation(const OpenedInstallation&) = delete;
  OpenedInstallation& operator=(const OpenedInstallation&) = delete;

  bool ok() const { return files_ != nullptr; }

 private:
  std::unique_ptr<reg::HostRegistry> registry_;
  std::unique_ptr<reg::HostEnvironment> environment_;
  std::unique_ptr<files::HostFiles> files_;
};

// The ignore list the program gives a scan when the user has no ignore file: the default
// skipped keys and the permanent list.
inline std::vector<std::string> ProgramIgnoreList() {
  auto skipped = DefaultSkippedKeys();
  auto permanent = LoadPermanentIgnores();
  EXPECT_TRUE(skipped.ok() && permanent.ok());
  if (!skipped.ok() || !permanent.ok()) return {};
  return BuildIgnoreList(*skipped, *permanent, {});
}

// Starts a scan and serves its calls until it has ended.
inline void ScanToEnd(TRegScanner& scanner, MainThreadQueue& queue) {
  bool complete = false;
  scanner.OnScanComplete = [&](TRegScanner*) { complete = true; };
  scanner.Start();
  queue.ServeUntil([&] { return complete; });
}

}  // namespace hm::scan::testing
