#include "registry/regedit_jump.h"

#include <gtest/gtest.h>

#include <vector>

#include "registry/files_test_support.h"

namespace hm::reg {
namespace {

constexpr char kKeys[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Only64]

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Only32]
"V"="x"

[HKEY_LOCAL_MACHINE\SOFTWARE\Both]

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Both]

[HKEY_CURRENT_USER\Software\Mine]
"Val"="y"
)reg";

class RecordingJump : public RegistryJump {
 public:
  void ShowKey(const RegistryJumpTarget& target) override { targets.push_back(target); }
  std::vector<RegistryJumpTarget> targets;
};

class ShowKeyTest : public ::testing::Test {
 protected:
  ShowKeyTest() : installation_({}, kKeys) { SetRegistryJump(&jump_); }
  ~ShowKeyTest() override { SetRegistryJump(nullptr); }

  testing::FilesInstallation installation_;
  RecordingJump jump_;
};

TEST_F(ShowKeyTest, HandsTheKeyToTheJumpOrAnswersFalse) {
  struct Case {
    const char* text;
    // Empty: ShowKeyInRegedit answers false and nothing is shown.
    const char* line;
    const char* rebuilt;
  };
  const Case cases[] = {
      {"HKLM", "", ""},
      {"", "", ""},
      {"NOPE\\Software", "", ""},
      {"HKLM\\SOFTWARE\\Nowhere", "", ""},
      {"HKEY_CURRENT_USER\\Software\\Missing\\\\:Val", "", ""},
      // Abbreviations, in any case, become the full names.
      {"hklm\\SOFTWARE\\Only64", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64 (64-bit view)",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64"},
      // A key only the 32-bit view has is shown there; one both have, in the 64-bit view.
      {"HKLM\\SOFTWARE\\Only32", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only32 (32-bit view)",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only32"},
      {"HKLM\\SOFTWARE\\Both", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Both (64-bit view)",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Both"},
      // "\\:" splits off the value name; the first one counts.
      {"HKCU\\Software\\Mine\\\\:Val", "HKEY_CURRENT_USER\\Software\\Mine (64-bit view), value Val",
       "HKEY_CURRENT_USER\\Software\\Mine\\\\:Val"},
      {"HKCU\\Software\\Mine\\\\:", "HKEY_CURRENT_USER\\Software\\Mine (64-bit view), value (Default)",
       "HKEY_CURRENT_USER\\Software\\Mine\\\\:"},
      {"HKCU\\Software\\Mine\\\\:a\\\\:b",
       "HKEY_CURRENT_USER\\Software\\Mine (64-bit view), value a\\\\:b",
       "HKEY_CURRENT_USER\\Software\\Mine\\\\:a\\\\:b"},
      // The value need not exist: the key is what is shown.
      {"HKLM\\SOFTWARE\\Only32\\\\:Gone",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only32 (32-bit view), value Gone",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Only32\\\\:Gone"},
      {"HKLM\\", "HKEY_LOCAL_MACHINE (64-bit view)", "HKEY_LOCAL_MACHINE\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    jump_.targets.clear();
    const bool shown = *c.line != '\0';
    EXPECT_EQ(ShowKeyInRegedit(c.text), shown);
    ASSERT_EQ(jump_.targets.size(), shown ? 1u : 0u);
    if (!shown) continue;
    EXPECT_EQ(DescribeJumpTarget(jump_.targets[0]), c.line);
    EXPECT_EQ(jump_.targets[0].text, c.rebuilt);
  }
}

TEST_F(ShowKeyTest, TargetCarriesRootViewPathAndValue) {
  ASSERT_TRUE(ShowKeyInRegedit("HKLM\\SOFTWARE\\Only32\\\\:V"));
  ASSERT_EQ(jump_.targets.size(), 1u);
  const RegistryJumpTarget& target = jump_.targets[0];
  EXPECT_EQ(target.root, HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(target.view64);
  EXPECT_EQ(target.key_path, "SOFTWARE\\Only32");
  EXPECT_EQ(target.value_name, "V");
}

TEST_F(ShowKeyTest, WithoutAJumpStillAnswersWhetherTheKeyExists) {
  SetRegistryJump(nullptr);
  EXPECT_TRUE(ShowKeyInRegedit("HKLM\\SOFTWARE\\Only64"));
  EXPECT_FALSE(ShowKeyInRegedit("HKLM\\SOFTWARE\\Nowhere"));
  EXPECT_TRUE(jump_.targets.empty());
}

}  // namespace
}  // namespace hm::reg
