#include "registry/registry_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "platform/win_error.h"
#include "registry/host_registry.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

using hm::testing::TempDir;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kWindows10 =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
    "\"CurrentVersion\"=\"6.3\"\n"
    "\"CurrentMajorVersionNumber\"=dword:0000000a\n"
    "\"CurrentMinorVersionNumber\"=dword:00000000\n\n";
constexpr const char* kWow64 = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node]\n\n";

// A built installation whose registry is the process registry for as long as it lives.
class TestInstallation {
 public:
  explicit TestInstallation(const std::string& reg, bool read_only = false) {
    std::filesystem::create_directories(dir_ / "sources/registry");
    hm::testing::WriteFileBytes(dir_ / "sources/registry/10-test.reg", kHeader + reg);
    Status built = install::BuildInstallation(dir_ / "sources", dir_ / "root");
    EXPECT_TRUE(built.ok()) << built.ToString();
    auto installation = install::Installation::Open(dir_ / "root");
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    if (!installation.ok()) return;
    HostRegistry::Options options;
    options.read_only = read_only;
    auto registry = HostRegistry::Open(std::move(installation).value(), options);
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    if (!registry.ok()) return;
    registry_ = std::move(registry).value();
    SetProcessRegistry(registry_.get());
    InitRegistryAccess(*registry_);
  }
  ~TestInstallation() { SetProcessRegistry(nullptr); }

 private:
  TempDir dir_;
  std::unique_ptr<HostRegistry> registry_;
};

// A 64-bit Windows 10 with a small tree below HKLM\SOFTWARE\Tree:
//   A\A1\A11\A111, A\A2, B\B1, C
// and the key SOFTWARE\Both in each view, holding Sub in the 64-bit and Sub32 in the 32-bit view.
class RegistryAccessTest : public ::testing::Test {
 protected:
  static std::string Reg() {
    return std::string(kWindows10) + kWow64 +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\A\\A1\\A11\\A111]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\A\\A2]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\B\\B1]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\C]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Both\\Sub]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Both\\Sub32]\n\n";
  }

  // Opens HKLM\<path> in the 64-bit view.
  static std::unique_ptr<TRegistryAccess> OpenMachineKey(const std::string& path) {
    auto access = std::make_unique<TRegistryAccess>();
    access->SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(access->OpenKey(path, /*can_create=*/true)) << path;
    return access;
  }

  TestInstallation installation_{Reg()};
};

TEST(RootKeyTest, NamesAndAbbreviations) {
  const struct {
    HKEY root;
    const char* name;
    const char* short_name;
  } kCases[] = {
      {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
      {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
      {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
      {HKEY_USERS, "HKEY_USERS", "HKU"},
      {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA", "HKEY_PERFORMANCE_DATA"},
      {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
      {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
      {0, "", ""},
      {0x80000007, "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RootKeyToName(c.root), c.name) << std::hex << c.root;
    EXPECT_EQ(RootKeyToShortName(c.root), c.short_name) << std::hex << c.root;
  }
}

TEST(RootKeyTest, NameToRootKey) {
  const struct {
    const char* text;
    HKEY root;
  } kCases[] = {
      {"hklm", HKEY_LOCAL_MACHINE},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"hKey_Current_User", HKEY_CURRENT_USER},
      {"HKCR", HKEY_CLASSES_ROOT},
      {"hku", HKEY_USERS},
      {"HKCC", HKEY_CURRENT_CONFIG},
      {"HKDD", HKEY_DYN_DATA},
      {"hkey_performance_data", HKEY_PERFORMANCE_DATA},
      {"HKPD", 0},
      {" HKLM", 0},
      {"HKLM ", 0},
      {"HKLM\\Software", 0},
      {"", 0},
  };
  for (const auto& c : kCases) EXPECT_EQ(NameToRootKey(c.text), c.root) << '"' << c.text << '"';
}

TEST(KeyPathTest, ExtractKeyTailAndParent) {
  const struct {
    const char* path;
    int n;
    const char* tail;
  } kTails[] = {
      {"A\\B\\C", 0, "C"},
      {"A\\B\\C", 1, "B\\C"},
      {"A\\B\\C", 2, "A\\B\\C"},
      {"A\\B\\C", 5, "A\\B\\C"},
      {"ABC", 0, "ABC"},
      {"A\\B\\", 0, ""},
      {"", 0, ""},
  };
  for (const auto& c : kTails) {
    EXPECT_EQ(ExtractKeyTail(c.path, c.n), c.tail) << c.path << " n=" << c.n;
  }
  const struct {
    const char* path;
    const char* parent;
  } kParents[] = {
      {"A\\B\\C", "A\\B\\"},
      {"ABC", ""},
      {"A\\", "A\\"},
      {"", ""},
  };
  for (const auto& c : kParents) EXPECT_EQ(ExtractKeyParent(c.path), c.parent) << c.path;
}

TEST(ValueTypeTest, RegTypeToValueType) {
  const struct {
    uint32_t reg_type;
    TRegValueType code;
  } kCases[] = {
      {REG_NONE, rvNone},
      {REG_SZ, rvString},
      {REG_EXPAND_SZ, rvExpandString},
      {REG_MULTI_SZ, rvMultiString},
      {REG_DWORD, rvDWord},
      {REG_BINARY, rvBinary},
      {REG_QWORD, rvUnknown},
      {REG_LINK, rvUnknown},
      {REG_DWORD_BIG_ENDIAN, rvUnknown},
      {REG_RESOURCE_LIST, rvUnknown},
      {0xFFFF, rvUnknown},
  };
  for (const auto& c : kCases) EXPECT_EQ(RegTypeToValueType(c.reg_type), c.code) << c.reg_type;
  EXPECT_EQ(static_cast<int>(rvMultiString), 4);
  EXPECT_EQ(static_cast<int>(rvDWord), 5);
}

TEST(ProcessFactsTest, ComeFromTheInstallation) {
  const std::string kAcp932 =
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage]\n\"ACP\"=\"932\"\n\n";
  const struct {
    const char* label;
    std::string reg;
    bool is_64bit;
    bool no_view_flags;
    bool multi_byte;
    REGSAM default_view_bits;  // of a new TRegistryAccess
  } kCases[] = {
      {"Windows 10 x64", std::string(kWindows10) + kWow64, true, false, false, KEY_WOW64_64KEY},
      {"Windows 10 x86", kWindows10, false, false, false, KEY_WOW64_32KEY},
      {"Windows XP",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
       "\"CurrentVersion\"=\"5.1\"\n\n",
       false, false, false, KEY_WOW64_32KEY},
      {"Windows 2000",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
       "\"CurrentVersion\"=\"5.0\"\n\n",
       false, true, false, 0},
      {"unknown version", "", false, true, false, 0},
      {"Japanese code page", kWindows10 + kAcp932, false, false, true, KEY_WOW64_32KEY},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TestInstallation installation(c.reg);
    EXPECT_EQ(Is64BitWindows(), c.is_64bit);
    EXPECT_EQ(IsWow64(), c.is_64bit);
    EXPECT_EQ(ReflectionSupported(), c.is_64bit);
    EXPECT_EQ(NoViewFlags(), c.no_view_flags);
    EXPECT_EQ(MultiByteLocale(), c.multi_byte);
    EXPECT_EQ(ViewAccessFlags(true), c.no_view_flags ? 0 : KEY_WOW64_64KEY);
    EXPECT_EQ(ViewAccessFlags(false), c.no_view_flags ? 0 : KEY_WOW64_32KEY);

    TRegistryAccess access;
    EXPECT_EQ(access.Access(), KEY_ALL_ACCESS | c.default_view_bits);
    EXPECT_EQ(access.Is64BitView(), c.default_view_bits == KEY_WOW64_64KEY);
    access.SetView64(true);
    EXPECT_EQ(access.Is64BitView(), !c.no_view_flags);
    access.SetView64(false);
    EXPECT_FALSE(access.Is64BitView());
    EXPECT_EQ(access.Access() & ~KEY_WOW64_RES, KEY_ALL_ACCESS);
  }
}

TEST(FsRedirectionTest, TokensRestoreTheThreadsOwnState) {
  EXPECT_FALSE(FsRedirectionDisabled());
  FsRedirectionToken outer = DisableFsRedirection();
  EXPECT_TRUE(FsRedirectionDisabled());
  FsRedirectionToken inner = DisableFsRedirection();
  bool other_thread_sees_disabled = true;
  std::thread([&] { other_thread_sees_disabled = FsRedirectionDisabled(); }).join();
  EXPECT_FALSE(other_thread_sees_disabled);
  RevertFsRedirection(inner);
  EXPECT_TRUE(FsRedirectionDisabled()) << "the inner revert must not end the outer disable";
  RevertFsRedirection(outer);
  EXPECT_FALSE(FsRedirectionDisabled());
}

TEST_F(RegistryAccessTest, KeyHelpersHonourTheView) {
  // SOFTWARE\Tree exists only in the 64-bit view; the 32-bit view of SOFTWARE is WOW6432Node.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\A"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Tree\\A"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Both\\Sub32"));

  HKEY handle = 0;
  EXPECT_EQ(KeyOpenWrite(&handle, HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Tree"), kErrorFileNotFound);
  EXPECT_FALSE(KeyOpenWriteOk(&handle, HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Tree"));
  std::string error = "old text";
  EXPECT_FALSE(KeyOpenWriteMsg(&error, &handle, HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Tree"));
  EXPECT_EQ(error, WinErrorMessage(kErrorFileNotFound));

  ASSERT_TRUE(KeyOpenWriteMsg(&error, &handle, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree"));
  EXPECT_EQ(RegSetValueExA(handle, "v", REG_SZ, reinterpret_cast<const uint8_t*>("x"), 2),
            kErrorSuccess);
  EXPECT_TRUE(RegValueExists(handle, "v"));
  EXPECT_FALSE(RegValueExists(handle, "missing"));
  RegCloseKey(handle);
  // A handle that cannot be examined counts as holding the value.
  EXPECT_TRUE(RegValueExists(0x12345, "v"));
}

TEST(ReadOnlyInstallationTest, WritesAreRefused) {
  TestInstallation installation(std::string(kWindows10) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n\n",
                                /*read_only=*/true);
  HKEY handle = 0;
  EXPECT_EQ(KeyOpenWrite(&handle, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\K"), kErrorAccessDenied);
  std::string error;
  EXPECT_FALSE(KeyOpenWriteMsg(&error, &handle, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\K"));
  EXPECT_EQ(error, WinErrorMessage(kErrorAccessDenied));
  EXPECT_FALSE(DeleteRegKeyTree(&error, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\K"));
  EXPECT_EQ(error, "RegKeyOpenEx: " + WinErrorMessage(kErrorAccessDenied));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\K"));
}

TEST_F(RegistryAccessTest, DeleteRegKeyTreeDeletesTheWholeSubtree) {
  std::string error = "old text";
  ASSERT_TRUE(DeleteRegKeyTree(&error, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\A")) << error;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\A"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\B\\B1"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\C"));
}

TEST_F(RegistryAccessTest, DeleteRegKeyTreeDeletesInTheChosenViewOnly) {
  ASSERT_TRUE(DeleteRegKey(HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Both"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Both"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Both\\Sub"));

  TRegistryAccess access;
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(access.DeleteTree("SOFTWARE\\Both"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Both"));
}

TEST_F(RegistryAccessTest, DeleteRegKeyTreeFailuresReplaceTheText) {
  std::string error = "old text";
  EXPECT_FALSE(DeleteRegKeyTree(&error, HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Missing"));
  EXPECT_EQ(error, "RegKeyOpenEx: " + WinErrorMessage(kErrorFileNotFound));
  EXPECT_FALSE(DeleteRegKey(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Missing"));
}

TEST(DeleteRegKeyTreeTest, TheRootItselfIsRefusedBeforeAnythingIsDeleted) {
  // Windows opens a root with an empty path, so the walk would empty it before the final delete
  // failed; the path is refused first, whatever the registry below would allow.
  TestInstallation installation(
      std::string(kWindows10) +
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
      "S-1-5-21-1-2-3-1001]\n\"ProfileImagePath\"=\"C:\\\\Users\\\\ann\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\Keep]\n\n");
  ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, true, "Software\\Keep"));
  std::string error;
  EXPECT_FALSE(DeleteRegKeyTree(&error, HKEY_CURRENT_USER, true, ""));
  EXPECT_EQ(error, "RegDeleteKeyEx: " + WinErrorMessage(kErrorBadPathname));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, true, "Software\\Keep"));
}

TEST_F(RegistryAccessTest, KeyReflection) {
  // Where the views are separate keys (SOFTWARE\Tree) reflection counts as disabled; shared keys
  // (SYSTEM) and keys that do not open count as reflected.
  const struct {
    HKEY root;
    bool view64;
    const char* path;
    bool enabled;
  } kCases[] = {
      {HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree", false},
      {HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Both", false},
      {HKEY_LOCAL_MACHINE, true, "SYSTEM\\Select", true},
      {HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Missing", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(KeyReflectionEnabled(c.root, c.view64, c.path), c.enabled) << c.path;
    TRegistryAccess access;
    access.SetRootKey(c.root);
    access.SetView64(c.view64);
    access.OpenKeyReadOnly(c.path);
    EXPECT_EQ(CurrentKeyReflectionEnabled(access), c.enabled) << c.path;
  }
}

TEST(KeyReflectionTest, AlwaysEnabledWithoutTwoViews) {
  TestInstallation installation(std::string(kWindows10) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n\n");
  EXPECT_TRUE(KeyReflectionEnabled(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\K"));
  EXPECT_TRUE(KeyReflectionEnabled(HKEY_LOCAL_MACHINE, false, "SOFTWARE\\K"));
}

TEST_F(RegistryAccessTest, KeyIsEmptyAndKeyHasContent) {
  const struct {
    const char* label;
    std::vector<const char*> values;  // "" is the default value
    bool with_subkey;
    bool empty;
    bool content;
  } kCases[] = {
      {"nothing", {}, false, true, false},
      {"default value only", {""}, false, false, false},
      {"one named value", {"v"}, false, false, true},
      {"default and named", {"", "v"}, false, false, true},
      {"a subkey only", {}, true, false, true},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string path = "SOFTWARE\\Content\\" + std::to_string(n++);
    auto access = OpenMachineKey(path);
    for (const char* name : c.values) ASSERT_TRUE(access->WriteString(name, "x").ok());
    if (c.with_subkey) {
      ASSERT_TRUE(access->OpenKey("Sub", /*can_create=*/true));
      ASSERT_TRUE(access->OpenKey("\\" + path, /*can_create=*/false));
    }
    EXPECT_EQ(KeyIsEmpty(*access), c.empty);
    EXPECT_EQ(KeyHasContent(*access), c.content);
  }
  TRegistryAccess closed;
  EXPECT_FALSE(KeyIsEmpty(closed));
  EXPECT_FALSE(KeyHasContent(closed));
}

TEST_F(RegistryAccessTest, OpenKeyIsRelativeToTheOpenKeyUnlessAbsolute) {
  TRegistryAccess access;
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(access.OpenKey("SOFTWARE\\Tree", false));
  ASSERT_TRUE(access.OpenKey("A\\A1", false));
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE\\Tree\\A\\A1");

  const HKEY open_key = access.CurrentKey();
  EXPECT_FALSE(access.OpenKey("Missing", false));
  EXPECT_EQ(access.CurrentKey(), open_key) << "a failed open keeps the open key";
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE\\Tree\\A\\A1");

  ASSERT_TRUE(access.OpenKey("\\SOFTWARE\\Tree\\B\\", false));
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE\\Tree\\B");
  ASSERT_TRUE(access.OpenKey("New\\Deeper", true));
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE\\Tree\\B\\New\\Deeper");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\B\\New\\Deeper"));

  // From the root itself a relative path gets no leading backslash.
  ASSERT_TRUE(access.OpenKeyReadOnly("\\"));
  EXPECT_EQ(access.CurrentPath(), "");
  ASSERT_TRUE(access.OpenKey("SOFTWARE", false));
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE");

  access.SetRootKey(HKEY_CLASSES_ROOT);
  EXPECT_EQ(access.CurrentKey(), 0u);
  EXPECT_EQ(access.CurrentPath(), "");
}

TEST_F(RegistryAccessTest, StringValuesAndDataTypes) {
  auto access = OpenMachineKey("SOFTWARE\\Values");
  ASSERT_TRUE(access->WriteString("text", "hello").ok());
  const uint32_t number = 7;
  const char kTwoStrings[] = "first\0second\0";
  const struct {
    const char* name;
    uint32_t type;
    const void* data;
    uint32_t size;
  } kRaw[] = {
      {"number", REG_DWORD, &number, 4},
      {"expand", REG_EXPAND_SZ, kTwoStrings, sizeof kTwoStrings},
      {"multi", REG_MULTI_SZ, kTwoStrings, sizeof kTwoStrings},
      {"bytes", REG_BINARY, "\1\2", 2},
  };
  for (const auto& v : kRaw) {
    ASSERT_EQ(RegSetValueExA(access->CurrentKey(), v.name, v.type,
                             static_cast<const uint8_t*>(v.data), v.size),
              kErrorSuccess);
  }

  EXPECT_EQ(access->ReadString("text").value(), "hello");
  EXPECT_EQ(access->ReadString("expand").value(), "first") << "text ends at its first NUL";
  EXPECT_EQ(access->ReadString("missing").value(), "");
  EXPECT_EQ(access->ReadString("number").status().code(), kErrorInvalidData);

  const struct {
    const char* name;
    TRegDataType type;
  } kTypes[] = {
      {"text", rdString},  {"expand", rdExpandString}, {"number", rdInteger},
      {"bytes", rdBinary}, {"multi", rdUnknown},       {"missing", rdUnknown},
  };
  for (const auto& c : kTypes) EXPECT_EQ(access->GetDataType(c.name), c.type) << c.name;
  EXPECT_TRUE(access->ValueExists("bytes"));
  EXPECT_FALSE(access->ValueExists("missing"));

  std::vector<std::string> names = access->GetValueNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"bytes", "expand", "multi", "number", "text"}));

  // A read-only open keeps the view and makes the object read-only.
  ASSERT_TRUE(access->OpenKeyReadOnly("\\SOFTWARE\\Values"));
  EXPECT_EQ(access->Access(), KEY_READ | KEY_WOW64_64KEY);
  EXPECT_EQ(access->WriteString("text", "changed").code(), kErrorAccessDenied);
  EXPECT_EQ(access->ReadString("text").value(), "hello");
}

// The subkeys an enumeration below SOFTWARE\Tree visits, as "path:depth" relative to the tree.
std::string WalkTree(bool recursive, int32_t max_depth, const std::string& answer_on,
                     uint8_t answer) {
  TRegistryAccess access;
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(access.OpenKeyReadOnly("SOFTWARE\\Tree"));
  const std::string prefix = "SOFTWARE\\Tree\\";
  std::string visited;
  access.EnumSubKeys(
      recursive, max_depth,
      [&](void* thread, TRegistryAccess& second, const std::string& path) -> uint8_t {
        EXPECT_EQ(thread, &visited);
        EXPECT_EQ(path.rfind(prefix, 0), 0u) << path;
        const std::string relative = path.substr(prefix.size());
        visited += (visited.empty() ? "" : " ") + relative + ":" + std::to_string(second.Depth());
        return relative == answer_on ? answer : 0;
      },
      &visited);
  EXPECT_EQ(access.Depth(), 0);
  EXPECT_EQ(access.CurrentPath(), "SOFTWARE\\Tree");
  return visited;
}

TEST_F(RegistryAccessTest, EnumSubKeysDepthLimitsAndCallbackCodes) {
  const struct {
    bool recursive;
    int32_t max_depth;
    const char* answer_on;
    uint8_t answer;
    const char* visited;
  } kCases[] = {
      {true, 0, "", 0, "A:1 A\\A1:2 A\\A1\\A11:3 A\\A1\\A11\\A111:4 A\\A2:2 B:1 B\\B1:2 C:1"},
      {true, -5, "", 0, "A:1 A\\A1:2 A\\A1\\A11:3 A\\A1\\A11\\A111:4 A\\A2:2 B:1 B\\B1:2 C:1"},
      {true, 1, "", 0, "A:1 B:1 C:1"},
      {true, 2, "", 0, "A:1 A\\A1:2 A\\A2:2 B:1 B\\B1:2 C:1"},
      {false, 0, "", 0, "A:1 B:1 C:1"},
      // 1 skips only that subkey's subtree.
      {true, 0, "A\\A1", 1, "A:1 A\\A1:2 A\\A2:2 B:1 B\\B1:2 C:1"},
      // 2 (or more) stops at once, also from deep inside the walk.
      {true, 0, "A\\A1", 2, "A:1 A\\A1:2"},
      {true, 0, "A\\A1\\A11\\A111", 7, "A:1 A\\A1:2 A\\A1\\A11:3 A\\A1\\A11\\A111:4"},
      {false, 0, "B", 2, "A:1 B:1"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WalkTree(c.recursive, c.max_depth, c.answer_on, c.answer), c.visited)
        << "recursive=" << c.recursive << " max_depth=" << c.max_depth << " answer "
        << int{c.answer} << " on " << c.answer_on;
  }
}

TEST_F(RegistryAccessTest, EnumSubKeysWalksTheViewOfTheObject) {
  for (bool view64 : {true, false}) {
    TRegistryAccess access;
    access.SetRootKey(HKEY_LOCAL_MACHINE);
    access.SetView64(view64);
    ASSERT_TRUE(access.OpenKeyReadOnly("SOFTWARE\\Both"));
    std::vector<std::string> visited;
    access.EnumSubKeys(
        true, 0,
        [&](void*, TRegistryAccess&, const std::string& path) -> uint8_t {
          visited.push_back(path);
          return 0;
        },
        nullptr);
    EXPECT_EQ(visited,
              std::vector<std::string>{view64 ? "SOFTWARE\\Both\\Sub" : "SOFTWARE\\Both\\Sub32"});
  }
}

TEST_F(RegistryAccessTest, EnumSubKeysPreparesTheSecondObjectForEachSubkey) {
  TRegistryAccess access(KEY_READ);
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(access.OpenKey("SOFTWARE\\Tree", false));
  int calls = 0;
  access.EnumSubKeys(
      true, 3,
      [&](void*, TRegistryAccess& second, const std::string& path) -> uint8_t {
        ++calls;
        EXPECT_EQ(second.RootKey(), HKEY_LOCAL_MACHINE);
        EXPECT_EQ(second.Access(), access.Access());
        EXPECT_EQ(second.CurrentKey(), 0u) << "the previous callback's key is closed";
        EXPECT_EQ(second.MaxDepth(), 3);
        // What a callback typically does with the object: open the subkey, look, change it.
        EXPECT_TRUE(second.OpenKeyReadOnly(path)) << path;
        second.SetView64(false);
        second.SetRootKey(HKEY_CURRENT_USER);
        return 0;
      },
      nullptr);
  EXPECT_EQ(calls, 7);
}

// The walk opens the keys it hands out below their parent's handle; a callback that changes the
// second object's view or root first opens what that view or root holds.
TEST_F(RegistryAccessTest, EnumSubKeysCallbacksOpenInTheViewAndRootTheyChose) {
  TRegistryAccess access(KEY_READ);
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  access.SetView64(true);
  ASSERT_TRUE(access.OpenKeyReadOnly("SOFTWARE\\Both"));
  std::vector<std::string> opened;
  access.EnumSubKeys(
      true, 0,
      [&](void*, TRegistryAccess& second, const std::string& path) -> uint8_t {
        for (bool view64 : {false, true}) {
          second.SetView64(view64);
          opened.push_back(path + (view64 ? " 64:" : " 32:") +
                           (second.OpenKeyReadOnly(path) ? "open" : "missing"));
        }
        second.SetRootKey(HKEY_CURRENT_USER);
        opened.push_back(path + " HKCU:" + (second.OpenKeyReadOnly(path) ? "open" : "missing"));
        return 0;
      },
      nullptr);
  EXPECT_EQ(opened, (std::vector<std::string>{"SOFTWARE\\Both\\Sub 32:missing",
                                              "SOFTWARE\\Both\\Sub 64:open",
                                              "SOFTWARE\\Both\\Sub HKCU:missing"}));
}

// A callback that deletes the subtree it is handed: the walk never enters the deleted key and
// goes on by index, as Windows enumerates (so the sibling that moved into the deleted key's
// place, A2, is passed over).
TEST_F(RegistryAccessTest, EnumSubKeysGoesOnPastSubtreesTheCallbackDeleted) {
  TRegistryAccess access;
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(access.OpenKey("SOFTWARE\\Tree", false));
  std::vector<std::string> visited;
  access.EnumSubKeys(
      true, 0,
      [&](void*, TRegistryAccess& second, const std::string& path) -> uint8_t {
        visited.push_back(path);
        EXPECT_TRUE(second.OpenKey(path, false)) << path;  // left open for the walk to take over
        if (path == "SOFTWARE\\Tree\\A\\A1") EXPECT_TRUE(second.DeleteTree(path));
        return 0;
      },
      nullptr);
  EXPECT_EQ(visited, (std::vector<std::string>{"SOFTWARE\\Tree\\A", "SOFTWARE\\Tree\\A\\A1",
                                               "SOFTWARE\\Tree\\B", "SOFTWARE\\Tree\\B\\B1",
                                               "SOFTWARE\\Tree\\C"}));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, true, "SOFTWARE\\Tree\\A\\A1"));
}

TEST_F(RegistryAccessTest, EnumValuesSkipsValuesAbove64KiBAndStopsOnFalse) {
  auto access = OpenMachineKey("SOFTWARE\\Values");
  const std::string big(65536, 'b');
  const std::string huge(65537, 'h');
  const uint32_t number = 7;
  ASSERT_TRUE(access->WriteString("", "default").ok());
  const HKEY key = access->CurrentKey();
  RegSetValueExA(key, "big", REG_BINARY, reinterpret_cast<const uint8_t*>(big.data()), 65536);
  RegSetValueExA(key, "huge", REG_BINARY, reinterpret_cast<const uint8_t*>(huge.data()), 65537);
  RegSetValueExA(key, "number", REG_DWORD, reinterpret_cast<const uint8_t*>(&number), 4);
  RegSetValueExA(key, "empty", REG_NONE, nullptr, 0);
  RegSetValueExA(key, "qword", REG_QWORD, reinterpret_cast<const uint8_t*>("12345678"), 8);

  struct Seen {
    std::string name;
    TRegValueType type;
    std::string data;
    bool operator==(const Seen&) const = default;
  };
  auto enumerate = [&](size_t stop_after) {
    std::vector<Seen> seen;
    access->EnumValues(
        [&](void*, TRegistryAccess& second, const std::string& key_path, uint32_t size,
            const uint8_t* data, TRegValueType type, const std::string& name) {
          EXPECT_EQ(key_path, "SOFTWARE\\Values");
          EXPECT_EQ(second.Access(), access->Access());
          seen.push_back({name, type, std::string(reinterpret_cast<const char*>(data), size)});
          return seen.size() < stop_after;
        },
        nullptr);
    std::sort(seen.begin(), seen.end(),
              [](const Seen& a, const Seen& b) { return a.name < b.name; });
    return seen;
  };

  const std::vector<Seen> expected = {
      {"", rvString, std::string("default", 8)},
      {"big", rvBinary, big},
      {"empty", rvNone, ""},
      {"number", rvDWord, std::string("\7\0\0\0", 4)},
      {"qword", rvUnknown, "12345678"},
  };
  EXPECT_EQ(enumerate(100), expected);
  EXPECT_EQ(enumerate(1).size(), 1u);
  EXPECT_EQ(enumerate(2).size(), 2u);
}

TEST(ReadOnlyInstallationTest, ReadOnlyObjectsStillWalk) {
  TestInstallation installation(
      std::string(kWindows10) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\L]\n\"v\"=\"x\"\n\n",
      /*read_only=*/true);
  TRegistryAccess access;
  access.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(access.OpenKeyReadOnly("SOFTWARE\\K"));
  std::vector<std::string> visited;
  access.EnumSubKeys(
      true, 0,
      [&](void*, TRegistryAccess& second, const std::string& path) -> uint8_t {
        visited.push_back(path);
        EXPECT_TRUE(second.OpenKeyReadOnly(path));
        second.EnumValues(
            [&](void*, TRegistryAccess&, const std::string&, uint32_t, const uint8_t*,
                TRegValueType, const std::string& name) {
              visited.push_back(name);
              return true;
            },
            nullptr);
        return 0;
      },
      nullptr);
  EXPECT_EQ(visited, (std::vector<std::string>{"SOFTWARE\\K\\L", "v"}));
}

}  // namespace
}  // namespace hm::reg
