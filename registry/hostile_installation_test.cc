// A hostile installation: links that lead to /etc, to the host user's home and to a folder
// standing for it, "..\..\.." chains and absolute host paths in registry values. No function of
// the path utilities or the shell operations may read, list or change anything outside the
// installation; inotify on the stand-in folder shows that not even a file or folder is opened
// there.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "registry/files_test_support.h"
#include "registry/path_utils.h"
#include "registry/shell_files.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;
using testing::ExpandSz;
using testing::FilesInstallation;

// Every event inotify reports for the folders watched.
class FolderWatch {
 public:
  FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
  ~FolderWatch() { close(fd_); }
  void Add(const fs::path& folder) {
    ASSERT_GE(inotify_add_watch(fd_, folder.c_str(), IN_ALL_EVENTS), 0) << folder;
  }
  // The number of events since the watches were added.
  int Events() {
    int events = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) return events;
      for (char* at = buffer; at < buffer + got;) {
        auto* event = reinterpret_cast<inotify_event*>(at);
        ADD_FAILURE() << "event 0x" << std::hex << event->mask << " on "
                      << (event->len ? event->name : "the folder itself");
        ++events;
        at += sizeof(inotify_event) + event->len;
      }
    }
  }

 private:
  int fd_;
};

std::string Registry(const fs::path& secret_folder) {
  const std::u16string evil = FromUtf8(secret_folder.string());
  return R"reg([HKEY_CURRENT_USER\Environment]
"EVIL"="/etc"
"SECRET"=)reg" +
         ExpandSz(evil) + R"reg(
"UP"=)reg" +
         ExpandSz(u"%USERPROFILE%\\..\\..\\..\\..\\..\\..") + R"reg(

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Recent"=)reg" +
         ExpandSz(u"%LOCALAPPDATA%\\Evil\\Recent") + R"reg(
"Templates"=)reg" +
         ExpandSz(u"%UP%\\tmp\\templates") + R"reg(

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\etc-link\\passwd"=dword:00000001
"C:\\Users\\ann\\AppData\\Local\\Evil\\secret.txt"=dword:00000001
"/etc/hostname"=dword:00000001
)reg";
}

class HostileInstallationTest : public ::testing::Test {
 protected:
  HostileInstallationTest() : installation_({}, Registry(secret_.path())) {
    WriteFileBytes(secret_.path() / "secret.txt", "secret");
    fs::create_directories(secret_.path() / "inner");
    WriteFileBytes(secret_.path() / "inner/deeper.txt", "deeper");
    fs::create_directories(secret_.path() / "Recent");
    const fs::path root = installation_.root();
    fs::create_directory_symlink("/etc", root / "etc-link");
    const char* home = std::getenv("HOME");
    fs::create_directory_symlink(home != nullptr ? home : "/root", root / "home-link");
    fs::create_directory_symlink(secret_.path(), root / "Users/ann/AppData/Local/Evil");
    fs::create_symlink(secret_.path() / "secret.txt", root / "Windows/SysWOW64/secret.dll");
    std::string climb = "../../..";  // from Program Files\App One up to the root's parent
    for (const auto& part : fs::relative(secret_.path(), root.parent_path())) {
      climb += "/" + part.string();
    }
    fs::create_directory_symlink(climb, root / "Program Files/App One/rel");
    watch_.Add(secret_.path());
    watch_.Add(secret_.path() / "inner");
    watch_.Add(secret_.path() / "Recent");
  }

  TempDir secret_;  // stands for the host user's home
  FilesInstallation installation_;
  FolderWatch watch_;
};

const char* const kHostileTexts[] = {
    "/etc/passwd",
    "\\etc\\passwd",
    "C:\\..\\..\\..\\etc\\passwd",
    "..\\..\\..\\..\\etc\\passwd",
    "C:\\Windows\\..\\..\\..\\..\\etc\\hostname",
    "C:\\etc-link\\passwd",
    "C:\\etc-link",
    "C:\\home-link\\.bashrc",
    "C:\\home-link",
    "C:\\Users\\ann\\AppData\\Local\\Evil\\secret.txt",
    "C:\\Users\\ann\\AppData\\Local\\Evil\\inner\\deeper.txt",
    "C:\\Users\\ann\\AppData\\Local\\Evil",
    "%LOCALAPPDATA%\\Evil\\secret.txt",
    "%EVIL%\\passwd",
    "%SECRET%\\secret.txt",
    "C:%SECRET%\\secret.txt",
    "%UP%\\etc\\passwd",
    "C:\\Program Files\\App One\\rel\\secret.txt",
    "C:\\Program Files\\App One\\rel",
    "C:\\Windows\\System32\\secret.dll",
    "\\\\?\\C:\\etc-link\\passwd",
    "\\\\.\\C:\\..\\..\\etc\\passwd",
    "\\??\\C:\\home-link",
    "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\etc\\passwd",
    "\\\\localhost\\c$\\etc\\passwd",
    "rundll32 C:\\etc-link\\passwd,Entry",
    "\"C:\\Users\\ann\\AppData\\Local\\Evil\\secret.txt\" /s",
    "passwd",
    "secret.txt",
    "hostname",
};

TEST_F(HostileInstallationTest, NothingOutsideIsFoundReadListedOrChanged) {
  RegisterCaptureTool("secret.txt", [](const std::vector<std::string>&) { return "ran"; });
  RegisterCaptureTool("passwd", [](const std::vector<std::string>&) { return "ran"; });
  for (const char* text : kHostileTexts) {
    SCOPED_TRACE(text);
    std::string path = text;
    EXPECT_EQ(ProbePath(&path), 0);
    EXPECT_EQ(GetFileAttributesA(text), files::kInvalidFileAttributes);
    EXPECT_FALSE(FileExistsEx(text));
    EXPECT_FALSE(FolderExistsEx(text));
    EXPECT_FALSE(PathExistsEx(text, false));
    EXPECT_EQ(FindFileOnPathAnyView(text), "");
    std::vector<std::string> lines;
    EXPECT_FALSE(RunAndCapture(text, &lines));
    EXPECT_NE(ShellCopyCode(text, "C:\\copied"), 0);
    const std::string inside = std::string(text) + "\\secret.txt";
    EXPECT_NE(ShellRenameCode(inside, std::string(text) + "\\taken.txt"), 0);
    EXPECT_NE(ShellDeleteCode(inside, false), 0);
    EXPECT_NE(ShellDeleteCode(inside, true), 0);
  }
  EXPECT_FALSE(fs::exists(installation_.root() / "copied"));
  for (const char* folder : {"C:\\Users\\ann\\AppData\\Local\\Evil", "C:\\etc-link",
                             "C:\\home-link", "C:\\Program Files\\App One\\rel"}) {
    EXPECT_NE(ShellCopyCode("C:\\x.dll", std::string(folder) + "\\x.dll"), 0) << folder;
    EXPECT_NE(ShellCopyCode("C:\\Tools", std::string(folder) + "\\Tools"), 0) << folder;
  }

  // Folders the registry points outside are neither found nor created there.
  std::string folder;
  EXPECT_FALSE(GetSpecialFolderPath(nullptr, &folder, CSIDL_RECENT | CSIDL_FLAG_CREATE, false));
  EXPECT_FALSE(GetSpecialFolderPath(nullptr, &folder, CSIDL_TEMPLATES | CSIDL_FLAG_CREATE, false));
  EXPECT_FALSE(DirectoryExists(GetSpecialFolder(CSIDL_RECENT, false)));

  // Links are removed, moved and replaced as links; what they point to stays as it was.
  EXPECT_EQ(ShellCopyCode("C:\\x.dll", "C:\\Windows\\System32\\secret.dll"), 0);
  EXPECT_EQ(ShellDeleteCode("C:\\Users\\ann\\AppData\\Local\\Evil", true), 0);
  EXPECT_EQ(ShellRenameCode("C:\\etc-link", "C:\\etc-link2"), 0);
  EXPECT_EQ(ShellDeleteCode("C:\\etc-link2", false), 0);
  EXPECT_EQ(ShellDeleteCode("C:\\Program Files\\App One", false), 0);

  EXPECT_EQ(watch_.Events(), 0);
  EXPECT_EQ(ReadFileBytes(secret_.path() / "secret.txt"), "secret");
  EXPECT_EQ(ReadFileBytes(secret_.path() / "inner/deeper.txt"), "deeper");
  EXPECT_TRUE(fs::is_empty(secret_.path() / "Recent"));
  EXPECT_TRUE(fs::exists("/etc/passwd"));
}

}  // namespace
}  // namespace hm::reg
