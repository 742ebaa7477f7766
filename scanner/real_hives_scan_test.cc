// A scan of all 24 categories over an installation whose user and system hives come from real
// Windows machines (the shared test data): it completes, and every finding names a key, value or
// file that exists there, so a repair would act on something real.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/install/builder.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/exclusions.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"
#include "tests/support/testing.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

// Actions whose finding is about a value that the repair changes or deletes.
bool NamesAValue(const TRegError& finding) {
  switch (finding.Action()) {
    case raDeleteValue:
    case raDeleteValueAndEmptyKey:
    case raRemoveListItem:
    case raRebuildMRUList:
    case raDeleteMRUEntry:
      return true;
    default:
      return false;
  }
}

TEST(RealHivesScanTest, EveryFindingNamesWhatExists) {
  hm::testing::TempDir dir;
  const fs::path root = dir.path() / "c";
  ASSERT_TRUE(install::BuildInstallation(hm::testing::SourceDir() / "demo/win10", root).ok());
  const fs::path user = root / "Users" / "demo";
  for (const auto& [name, folder] :
       {std::pair{"NTUSER.DAT", user},
        std::pair{"SYSTEM", root / "Windows" / "System32" / "config"},
        std::pair{"UsrClass.dat", user / "AppData" / "Local" / "Microsoft" / "Windows"}}) {
    const fs::path unpacked = hm::testing::UnpackSharedHive(name, dir.path());
    ASSERT_FALSE(unpacked.empty());
    fs::copy_file(unpacked, folder / name, fs::copy_options::overwrite_existing);
  }
  testing::OpenedInstallation opened(root);
  ASSERT_TRUE(opened.ok());

  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(TErrorCategories::All());
  scanner.SetIgnoreList(testing::ProgramIgnoreList());
  testing::ScanToEnd(scanner, queue);

  for (int c = 0; c < kCategoryCount; ++c) {
    EXPECT_GE(scanner.Tests(static_cast<TErrorCategory>(c)), 0) << "category " << c;
  }
  EXPECT_GT(scanner.ErrorCount(), 100);  // real machines leave plenty behind
  for (int i = 0; i < scanner.ErrorCount(); ++i) {
    const TRegError& finding = *scanner.Errors().Item(i);
    if (finding.RootKey() == 0) {
      EXPECT_TRUE(reg::FileExists(finding.KeyPath())) << finding.KeyPath();
      continue;
    }
    const bool view64 = finding.View() == 1;
    reg::HKEY key = 0;
    ASSERT_TRUE(reg::KeyOpenRead(&key, finding.RootKey(), view64, finding.KeyPath()))
        << finding.KeyText() << " (view " << int(finding.View()) << ")";
    if (NamesAValue(finding)) {
      EXPECT_TRUE(reg::RegValueExists(key, finding.ValueName()))
          << finding.KeyText() << " \\\\:" << finding.ValueName();
    }
    reg::RegCloseKey(key);
  }
}

}  // namespace
}  // namespace hm::scan
