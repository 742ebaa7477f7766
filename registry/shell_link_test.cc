// Shortcuts written by platform/files/shell_link_writer read back through liblnk, and the raw
// target path the scan takes from them.
#include "registry/shell_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files/shell_link_writer.h"
#include "registry/files_test_support.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using files::ShellLinkSpec;

struct RoundTrip {
  const char* name;
  ShellLinkSpec spec;
  ShellLinkTarget expected;
  const char* raw;
};

ShellLinkSpec Local(std::string path) {
  ShellLinkSpec spec;
  spec.local_path = std::move(path);
  return spec;
}

ShellLinkTarget Target(std::string local, std::string network = "", std::string environment = "",
                       std::string relative = "", std::string working_dir = "",
                       std::string arguments = "") {
  return {std::move(local),    std::move(network),     std::move(environment),
          std::move(relative), std::move(working_dir), std::move(arguments)};
}

class ShellLinkRoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ShellLinkRoundTripTest, ReadsWhatWasWritten) {
  hm::testing::TempDir dir;
  const fs::path file = dir.path() / "link.lnk";
  const RoundTrip& c = GetParam();
  Status written = files::WriteShellLink(file, c.spec);
  ASSERT_TRUE(written.ok()) << written.ToString();
  Result<ShellLinkTarget> read = ReadShellLinkFile(file);
  ASSERT_TRUE(read.ok()) << read.status().ToString();
  EXPECT_EQ(read->local_path, c.expected.local_path);
  EXPECT_EQ(read->network_path, c.expected.network_path);
  EXPECT_EQ(read->environment_target, c.expected.environment_target);
  EXPECT_EQ(read->relative_path, c.expected.relative_path);
  EXPECT_EQ(read->working_dir, c.expected.working_dir);
  EXPECT_EQ(read->arguments, c.expected.arguments);
  EXPECT_EQ(RawTargetPath(*read), c.raw);
}

ShellLinkSpec WithStrings() {
  ShellLinkSpec spec = Local("C:\\Program Files\\App One\\app.exe");
  spec.name = "App One";
  spec.relative_path = "..\\..\\Program Files\\App One\\app.exe";
  spec.working_dir = "C:\\Program Files\\App One";
  spec.arguments = "/start \"x y\"";
  spec.icon_location = "C:\\Program Files\\App One\\app.exe";
  return spec;
}

ShellLinkSpec Network() {
  ShellLinkSpec spec;
  spec.network_share = "\\\\FILESRV\\docs";
  spec.path_suffix = "plans\\2023.xlsx";
  return spec;
}

ShellLinkSpec Environment() {
  ShellLinkSpec spec = Local("C:\\Program Files\\App One\\app.exe");
  spec.environment_target = "%ProgramFiles%\\App One\\app.exe";
  return spec;
}

ShellLinkSpec RelativeOnly() {
  ShellLinkSpec spec;
  spec.relative_path = ".\\notes.txt";
  return spec;
}

INSTANTIATE_TEST_SUITE_P(
    Links, ShellLinkRoundTripTest,
    ::testing::Values(
        RoundTrip{"LocalPath", Local("C:\\Windows\\notepad.exe"),
                  Target("C:\\Windows\\notepad.exe"), "C:\\Windows\\notepad.exe"},
        // Names outside ASCII survive in the LinkInfo's UTF-16 copy.
        RoundTrip{"NonAsciiPath", Local("C:\\Users\\ann\\Documents\\Résumé №1.docx"),
                  Target("C:\\Users\\ann\\Documents\\Résumé №1.docx"),
                  "C:\\Users\\ann\\Documents\\Résumé №1.docx"},
        RoundTrip{"StringData", WithStrings(),
                  Target("C:\\Program Files\\App One\\app.exe", "", "",
                         "..\\..\\Program Files\\App One\\app.exe", "C:\\Program Files\\App One",
                         "/start \"x y\""),
                  "C:\\Program Files\\App One\\app.exe"},
        RoundTrip{"NetworkShare", Network(), Target("", "\\\\FILESRV\\docs\\plans\\2023.xlsx"),
                  "\\\\FILESRV\\docs\\plans\\2023.xlsx"},
        // The raw path is the environment form, unexpanded.
        RoundTrip{
            "EnvironmentTarget", Environment(),
            Target("C:\\Program Files\\App One\\app.exe", "", "%ProgramFiles%\\App One\\app.exe"),
            "%ProgramFiles%\\App One\\app.exe"},
        // Only a relative path: no raw path.
        RoundTrip{"RelativeOnly", RelativeOnly(), Target("", "", "", ".\\notes.txt"), ""}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST(ShellLinkTest, DamagedAndMissingFilesFail) {
  hm::testing::TempDir dir;
  const fs::path missing = dir.path() / "missing.lnk";
  EXPECT_EQ(ReadShellLinkFile(missing).status().code(), kErrorFileNotFound);

  // A named pipe is never opened (it would block the reader).
  const fs::path pipe = dir.path() / "pipe.lnk";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(ReadShellLinkFile(pipe).status().code(), kErrorInvalidData);
  EXPECT_EQ(ReadShellLinkFile(dir.path()).status().code(), kErrorInvalidData);

  const fs::path text = dir.path() / "text.lnk";
  hm::testing::WriteFileBytes(text, "not a shortcut at all, just some text in a file");
  EXPECT_EQ(ReadShellLinkFile(text).status().code(), kErrorInvalidData);

  Result<std::string> bytes = files::MakeShellLink(WithStrings());
  ASSERT_TRUE(bytes.ok());
  // Cut inside the LinkInfo and inside the string data: each is damage, never a crash.
  for (size_t size : {size_t{80}, size_t{120}, bytes->size() - 20}) {
    const fs::path cut = dir.path() / ("cut" + std::to_string(size) + ".lnk");
    hm::testing::WriteFileBytes(cut, bytes->substr(0, size));
    EXPECT_FALSE(ReadShellLinkFile(cut).ok()) << size;
  }
  // A LinkInfo size far beyond the file.
  std::string huge = *bytes;
  huge[76] = '\xFF';
  huge[77] = '\xFF';
  huge[78] = '\xFF';
  hm::testing::WriteFileBytes(dir.path() / "huge.lnk", huge);
  EXPECT_FALSE(ReadShellLinkFile(dir.path() / "huge.lnk").ok());
}

TEST(ShellLinkTest, WriterRefusesWhatTheFormatCannotHold) {
  ShellLinkSpec spec = Local("C:\\x.exe");
  spec.environment_target = "%X%\\" + std::string(300, 'a');
  EXPECT_EQ(files::MakeShellLink(spec).status().code(), kErrorInvalidParameter);
  spec.environment_target.clear();
  spec.arguments = std::string(70000, 'a');
  EXPECT_EQ(files::MakeShellLink(spec).status().code(), kErrorInvalidParameter);
  spec.arguments.clear();
  spec.code_page = 4242;
  EXPECT_EQ(files::MakeShellLink(spec).status().code(), kErrorInvalidParameter);
}

TEST(ShellLinkTest, RawPathOfAnInstallationsShortcut) {
  testing::FilesInstallation installation;
  const fs::path folder = installation.root() / "Users/ann/Desktop";
  fs::create_directories(folder);
  ASSERT_TRUE(
      files::WriteShellLink(folder / "App.lnk", Local("C:\\Program Files\\App One\\app.exe")).ok());
  installation.files().DropCache();
  std::string target;
  EXPECT_TRUE(GetShellLinkRawPath("C:\\Users\\ann\\Desktop\\app.LNK", &target));
  EXPECT_EQ(target, "C:\\Program Files\\App One\\app.exe");
  EXPECT_FALSE(GetShellLinkRawPath("C:\\Users\\ann\\Desktop\\none.lnk", &target));
  EXPECT_EQ(target, "");
}

}  // namespace
}  // namespace hm::reg
