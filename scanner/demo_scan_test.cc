// The scan of the demo installation: its findings must be exactly the faults planted in its
// sources, as listed in demo/win10/expected-findings.txt (nothing missing, nothing extra).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/install/builder.h"
#include "platform/text_lines.h"
#include "registry/host_environment.h"
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

// One line of the expected-findings file: fields separated by tabs.
std::string Line(const TRegError& finding) {
  return std::string(CategoryName(finding.Category())) + "\t" + std::to_string(finding.View()) +
         "\t" + std::to_string(finding.Kind()) + "\t" + std::to_string(finding.Action()) + "\t" +
         finding.KeyText() + "\t" + finding.ValueName() + "\t" + finding.Data();
}

// The expected lines ('#' starts a comment line).
std::multiset<std::string> Expected() {
  std::multiset<std::string> lines;
  const std::string text =
      hm::testing::ReadFileBytes(hm::testing::SourceDir() / "demo/win10/expected-findings.txt");
  for (const std::string& line : SplitLines(text)) {
    if (!line.empty() && line.front() != '#') lines.insert(line);
  }
  return lines;
}

TEST(DemoScanTest, FindsExactlyThePlantedFaults) {
  hm::testing::TempDir dir;
  const fs::path root = dir.path() / "demo";
  ASSERT_TRUE(install::BuildInstallation(hm::testing::SourceDir() / "demo/win10", root).ok());
  testing::OpenedInstallation opened(root);
  ASSERT_TRUE(opened.ok());

  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(TErrorCategories::All());
  scanner.SetIgnoreList(testing::ProgramIgnoreList());
  testing::ScanToEnd(scanner, queue);

  std::multiset<std::string> found;
  for (int i = 0; i < scanner.ErrorCount(); ++i) found.insert(Line(*scanner.Errors().Item(i)));
  const std::multiset<std::string> expected = Expected();
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                      std::back_inserter(missing));
  std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  for (const std::string& line : missing) ADD_FAILURE() << "not found: " << line;
  for (const std::string& line : extra) ADD_FAILURE() << "not expected: " << line;
  EXPECT_EQ(scanner.ReadOnlyDrops(), 0);
}

}  // namespace
}  // namespace hm::scan
