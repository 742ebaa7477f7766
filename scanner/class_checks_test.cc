// The class registration checks over a small installation with planted faults beside valid
// registrations that must not be reported.
#include "scanner/class_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "registry/files_test_support.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"

namespace hm::scan {
namespace {

#define CLASSES "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\"
#define CLSID(n) CLASSES "CLSID\\{00000000-0000-0000-0000-0000000000" n "}"

constexpr char kRegistrations[] =
    CLASSES "Prog.App]\n"
    // A server named without a drive is found by the loader: valid.
    CLSID("0A") "]\n@=\"Bare server\"\n" CLSID("0A") "\\InprocServer32]\n@=\"bare.dll\"\n"
    CLSID("0B") "]\n@=\"Missing server\"\n"
    CLSID("0B") "\\InprocServer32]\n@=\"C:\\\\Gone\\\\x.dll\"\n"
    // A versioned program identifier whose plain form is registered: valid.
    CLSID("0C") "\\ProgID]\n@=\"Prog.App.3\"\n"
    CLSID("0D") "\\ProgID]\n@=\"Nope.2\"\n"
    CLSID("0E") "\\TreatAs]\n@=\"{00000000-0000-0000-0000-0000000000FF}\"\n"
    CLSID("0F") "\\DefaultIcon]\n@=\"%1\"\n"
    CLSID("10") "\\DefaultIcon]\n@=\"\"\n"
    CLSID("11") "\\LocalServer32]\n@=\"C:\\\\Windows\\\\notepad.exe\"\n"
    // An empty surrogate means the system's own: valid.
    CLASSES "AppID\\{A1}]\n\"DllSurrogate\"=\"\"\n"
    CLASSES "AppID\\{A2}]\n\"DllSurrogate\"=\"C:\\\\Gone\\\\surrogate.exe\"\n"
    CLASSES "Interface\\{I1}\\ProxyStubClsid32]\n@=\"{00000000-0000-0000-0000-00000000000A}\"\n"
    CLASSES "Interface\\{I2}\\TypeLib]\n@=\"{T9}\"\n"
    CLASSES "TypeLib\\{T1}\\1.0]\n@=\"My Lib\"\n"
    CLASSES "TypeLib\\{T1}\\1.0\\0\\win32]\n@=\"C:\\\\Gone\\\\lib.tlb\"\n"
    CLASSES "TypeLib\\{T1}\\1.0\\HelpDir]\n@=\"C:\\\\Gone\"\n"
    CLASSES "TypeLib\\{T2}\\2.0\\0\\win32]\n@=\"C:\\\\Windows\\\\notepad.exe\"\n";

// "category view kind action key \\: value = data" for every stored finding.
std::set<std::string> Findings(TRegScanner& scanner) {
  std::set<std::string> findings;
  for (int c = 0; c < kCategoryCount; ++c) {
    for (int i = 0; i < scanner.CategoryErrorCount(TErrorCategory(c)); ++i) {
      const TRegError& f = *scanner.GetError(TErrorCategory(c), i);
      findings.insert(std::string(CategoryName(f.Category())) + " " + std::to_string(f.View()) +
                      " " + std::to_string(f.Kind()) + " " + std::to_string(f.Action()) + " " +
                      f.KeyPath() + "\\\\:" + f.ValueName() + "=" + f.Data());
    }
  }
  return findings;
}

TEST(ClassChecksTest, ReportExactlyThePlantedFaults) {
  reg::testing::FilesInstallation installation({}, kRegistrations);
  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::ClassCategories());
  testing::ScanToEnd(scanner, queue);

  const std::string clsid = "Software\\Classes\\CLSID\\{00000000-0000-0000-0000-0000000000";
  const std::set<std::string> expected = {
      // Classes and interfaces are separate in each view; these live in the 64-bit one.
      "Deep Scan 1 22 0 " + clsid + "0B}\\InprocServer32\\\\:=C:\\Gone\\x.dll",
      "Deep Scan 1 14 0 " + clsid + "0D}\\ProgID\\\\:=Nope.2",
      "Deep Scan 1 12 2 " + clsid + "0E}\\TreatAs\\\\:={00000000-0000-0000-0000-0000000000FF}",
      "Deep Scan 1 10 0 " + clsid + "10}\\DefaultIcon\\\\:=",
      "Custom Controls 1 19 0 Software\\Classes\\Interface\\{I2}\\TypeLib\\\\:={T9}",
      // Application identifiers and type libraries are shared: examined once, in view 0.
      "Application IDs 0 22 4 Software\\Classes\\AppID\\{A2}\\\\:DllSurrogate="
      "C:\\Gone\\surrogate.exe",
      "Type Library 0 22 0 Software\\Classes\\TypeLib\\{T1}\\1.0\\0\\win32\\\\:=C:\\Gone\\lib.tlb",
      "Type Library 0 16 0 Software\\Classes\\TypeLib\\{T1}\\1.0\\HelpDir\\\\:=C:\\Gone",
  };
  EXPECT_EQ(Findings(scanner), expected);
  EXPECT_TRUE(scanner.Errors().CategoryCount(ecCLSIDs) > 0);
  EXPECT_EQ(scanner.GetError(ecCLSIDs, 0)->Caption(), "Missing server");
}

}  // namespace
}  // namespace hm::scan

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

// The engine's image of a hive, marked cleanly closed: for a test that uses a hive whose newest
// changes are lost with its logs, as the sample UsrClass.dat is.
std::string CleanImage(const fs::path& file) {
  hive::OpenOptions options;
  options.read_only = true;
  auto hive = hive::Hive::Open(file, options);
  EXPECT_TRUE(hive.ok()) << hive.status().ToString();
  std::string image = (*hive)->Serialize();
  char* block = image.data();
  hive::format::Put32(block + hive::format::kBbSequence2,
                      hive::format::Get32(block + hive::format::kBbSequence1));
  hive::format::Put32(block + hive::format::kBbChecksum, hive::format::BaseBlockChecksum(block));
  return image;
}

// Whether `path` (below a classes root) names a key of `hive`'s tree below `base`.
bool Registered(const hive::Hive& hive, const std::u16string& base, const std::string& path) {
  return hive.Find(base + FromUtf8(path)) != nullptr;
}

TEST(ClassChecksTest, RealUserHivesScanWithoutReportingRegisteredClasses) {
  reg::testing::FilesInstallation installation;
  hm::testing::TempDir unpack;
  const fs::path profile = installation.root() / "Users/ann";
  const fs::path usrclass = profile / "AppData/Local/Microsoft/Windows/UsrClass.dat";
  const std::string classes_image =
      CleanImage(hm::testing::UnpackSharedHive("UsrClass.dat", unpack.path()));
  ASSERT_FALSE(classes_image.empty());
  fs::create_directories(usrclass.parent_path());
  hm::testing::WriteFileBytes(usrclass, classes_image);
  fs::copy_file(hm::testing::UnpackSharedHive("NTUSER.DAT", unpack.path()), profile / "NTUSER.DAT",
                fs::copy_options::overwrite_existing);
  // The registry is opened anew over the replaced hives.
  auto opened = install::Installation::Open(installation.root());
  ASSERT_TRUE(opened.ok());
  auto registry = reg::HostRegistry::Open(std::move(*opened), {});
  ASSERT_TRUE(registry.ok());
  reg::SetProcessRegistry(registry->get());
  reg::InitRegistryAccess(**registry);

  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::ClassCategories());
  testing::ScanToEnd(scanner, queue);
  EXPECT_TRUE(scanner.FullScanDone() || scanner.HasResults());
  EXPECT_GT(scanner.ErrorCount(), 0);

  auto user_classes = hive::Hive::Parse(classes_image, {}, "UsrClass.dat");
  ASSERT_TRUE(user_classes.ok());
  auto machine = hive::Hive::Open(installation.root() / "Windows/System32/config/SOFTWARE");
  ASSERT_TRUE(machine.ok());
  const struct {
    uint8_t kind;
    const char* prefix;
  } kReferences[] = {{12, "CLSID\\"}, {13, "AppID\\"}, {19, "TypeLib\\"}};
  for (int i = 0; i < scanner.ErrorCount(); ++i) {
    const TRegError& finding = *scanner.Errors().Item(i);
    for (const auto& reference : kReferences) {
      if (finding.Kind() != reference.kind || finding.Data().empty()) continue;
      const std::string path = reference.prefix + finding.Data();
      const std::string wow = std::string(reference.prefix) == "CLSID\\" ? "Wow6432Node\\" : "";
      EXPECT_FALSE(Registered(**user_classes, u"", path) ||
                   Registered(**user_classes, FromUtf8(wow), path) ||
                   Registered(**machine, u"Classes\\", path) ||
                   Registered(**machine, u"Classes\\" + FromUtf8(wow), path))
          << finding.KeyText() << " reports " << path << " although it is registered";
    }
  }
  reg::SetProcessRegistry(&installation.registry());
}

}  // namespace
}  // namespace hm::scan
