#include "platform/files/host_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files/recycle_record.h"
#include "platform/utf.h"
#include "tests/support/testing.h"

namespace hm::files {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;

constexpr auto kRedirected = FsView::kRedirected;
constexpr auto kNative = FsView::kNative;
constexpr char kSid[] = "S-1-5-21-1-2-3-1001";

class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file :
         {"Windows/System32/cmd.exe", "Windows/SysWOW64/cmd32.exe", "Windows/System32/only64.dll",
          "Windows/System32/drivers/etc/hosts", "Windows/SysWOW64/drivers/etc/wow.txt",
          "Windows/System32/spool/PRINTERS/job.spl", "Windows/SysWOW64/regedit.exe",
          "Windows/regedit.exe", "Program Files/App/app.exe", "Users/ann/Notes.txt",
          "Users/ann/notes.TXT", "data/readme.txt"}) {
      Put(file, "x");
    }
    fs::create_directories(root_ / "Users/ann/Empty");
    fs::create_directories(outside_.path() / "secret");
    WriteFileBytes(outside_.path() / "secret/passwd", "root");
    ASSERT_TRUE(mapped_.path().is_absolute());
  }

  void Put(const std::string& path, const std::string& bytes) {
    fs::create_directories((root_ / path).parent_path());
    WriteFileBytes(root_ / path, bytes);
  }

  std::unique_ptr<HostFiles> Open(HostFiles::Options options = {}) {
    options.wow64 = true;
    auto files = HostFiles::Open(root_, options);
    EXPECT_TRUE(files.ok()) << files.status().ToString();
    return std::move(files).value();
  }

  static std::string Kind(HostFiles& files, std::string_view path, FsView view = kRedirected) {
    uint32_t error = 0;
    uint32_t attributes = files.GetFileAttributes(path, view, &error);
    if (attributes == kInvalidFileAttributes) return "missing(" + std::to_string(error) + ")";
    return attributes == kFileAttributeDirectory ? "folder" : "file";
  }

  TempDir dir_;
  TempDir outside_;
  TempDir mapped_;
  fs::path root_ = dir_.path() / "c";
};

TEST_F(HostFilesTest, NamesMatchWithoutRegardToCaseExactSpellingFirst) {
  auto files = Open();
  EXPECT_EQ(Kind(*files, "c:\\users\\ANN\\empty"), "folder");
  EXPECT_EQ(Kind(*files, "C:\\Program Files\\APP\\App.EXE"), "file");
  EXPECT_EQ(Kind(*files, "C:\\Users\\ann\\nothing.txt"), "missing(2)");
  EXPECT_EQ(Kind(*files, "C:\\Users\\nobody\\x.txt"), "missing(3)");
  EXPECT_EQ(Kind(*files, "C:\\data\\readme.txt\\x"), "missing(3)");
  EXPECT_EQ(Kind(*files, "C:\\Users\\ann\\a?.txt"), "missing(123)");
  EXPECT_EQ(Kind(*files, "C:"), "folder");
  // Two host names equal without case: the exact one, else the first in byte order.
  EXPECT_EQ(files->Stat("C:\\USERS\\ANN\\notes.TXT", kNative)->windows_path,
            "C:\\Users\\ann\\notes.TXT");
  EXPECT_EQ(files->Stat("C:\\users\\ann\\NOTES.txt", kNative)->windows_path,
            "C:\\Users\\ann\\Notes.txt");
}

TEST_F(HostFilesTest, Wow64RedirectionAndItsExemptions) {
  auto files = Open();
  struct Case {
    const char* path;
    const char* redirected;
    const char* native;
  } cases[] = {
      {"C:\\Windows\\System32\\cmd32.exe", "file", "missing(2)"},
      {"C:\\Windows\\system32\\only64.dll", "missing(2)", "file"},
      {"C:\\Windows\\System32\\drivers\\etc\\hosts", "file", "file"},  // exempt
      {"C:\\Windows\\System32\\drivers\\etc\\wow.txt", "missing(2)", "missing(2)"},
      {"C:\\Windows\\System32\\spool\\PRINTERS\\job.spl", "file", "file"},  // exempt
      {"C:\\Windows\\SysNative\\only64.dll", "file", "missing(3)"},
      {"C:\\Windows\\SysWOW64\\cmd32.exe", "file", "file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Kind(*files, c.path, kRedirected), c.redirected) << c.path;
    EXPECT_EQ(Kind(*files, c.path, kNative), c.native) << c.path;
  }
  EXPECT_EQ(files->Stat("C:\\Windows\\regedit.exe", kRedirected)->windows_path,
            "C:\\Windows\\SysWOW64\\regedit.exe");
  EXPECT_EQ(files->Stat("C:\\Windows\\regedit.exe", kNative)->windows_path,
            "C:\\Windows\\regedit.exe");

  // A 32-bit installation has no redirector.
  auto plain = HostFiles::Open(root_, {});
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(Kind(**plain, "C:\\Windows\\System32\\only64.dll", kRedirected), "file");
}

TEST_F(HostFilesTest, DrivesMappedByOption) {
  WriteFileBytes(mapped_.path() / "stick.txt", "x");
  HostFiles::Options options;
  options.drives = {{'E', mapped_.path(), install::kDriveRemovable},
                    {'D', mapped_.path(), install::kDriveFixed},
                    {'Z', mapped_.path(), install::kDriveRemote}};
  auto files = Open(options);
  EXPECT_EQ(Kind(*files, "d:\\STICK.txt"), "file");
  EXPECT_EQ(Kind(*files, "Q:\\stick.txt"), "missing(3)");
  EXPECT_EQ(files->GetDriveType("C:\\"), install::kDriveFixed);
  EXPECT_EQ(files->GetDriveType("e:"), install::kDriveRemovable);
  EXPECT_EQ(files->GetDriveType("Z:/"), install::kDriveRemote);
  EXPECT_EQ(files->GetDriveType("Q:\\"), install::kDriveNoRootDir);
  EXPECT_EQ(files->GetDriveType("C:\\Windows\\"), install::kDriveNoRootDir);
  EXPECT_EQ(files->GetDriveType("\\\\server\\share\\"), install::kDriveNoRootDir);
  EXPECT_EQ(files->QueryDosDevice('c'), "\\Device\\HarddiskVolume2");
  EXPECT_EQ(files->QueryDosDevice('D'), "\\Device\\HarddiskVolume3");
  EXPECT_EQ(files->QueryDosDevice('E'), "\\Device\\HarddiskVolume4");
  EXPECT_EQ(files->QueryDosDevice('Q'), "");
  EXPECT_EQ(files->Recycle("E:\\stick.txt", kNative, kSid).status().code(), kErrorNotSupported);
  EXPECT_TRUE(fs::exists(mapped_.path() / "stick.txt"));
}

TEST_F(HostFilesTest, LinksAreFollowedOnlyInsideTheirRoot) {
  fs::create_directory_symlink("Program Files", root_ / "Progra~1");
  fs::create_directory_symlink(root_ / "Users", root_ / "Documents and Settings");
  fs::create_directory_symlink("../../data", root_ / "Users/ann/data-link");
  fs::create_directory_symlink("../..", root_ / "data/up");
  fs::create_directory_symlink(outside_.path() / "secret", root_ / "data/secret");
  fs::create_directory_symlink("../../" + outside_.path().filename().string() + "/secret",
                               root_ / "data/relative-secret");
  fs::create_symlink("loop2", root_ / "data/loop1");
  fs::create_symlink("loop1", root_ / "data/loop2");
  fs::create_symlink("missing.txt", root_ / "data/dangling");
  auto files = Open();
  EXPECT_EQ(Kind(*files, "C:\\PROGRA~1\\App\\app.exe"), "file");
  EXPECT_EQ(Kind(*files, "C:\\Documents and Settings\\ann\\Notes.txt"), "file");
  EXPECT_EQ(Kind(*files, "C:\\Users\\ann\\data-link\\readme.txt"), "file");
  EXPECT_EQ(Kind(*files, "C:\\data\\secret"), "missing(2)");
  EXPECT_EQ(Kind(*files, "C:\\data\\secret\\passwd"), "missing(3)");
  EXPECT_EQ(Kind(*files, "C:\\data\\relative-secret\\passwd"), "missing(3)");
  EXPECT_EQ(Kind(*files, "C:\\data\\up\\secret"), "missing(3)");  // climbs above the root
  EXPECT_EQ(Kind(*files, "C:\\data\\loop1"), "missing(1921)");
  EXPECT_EQ(Kind(*files, "C:\\data\\dangling"), "missing(2)");
  EXPECT_EQ(files->Stat("C:\\Progra~1\\app", kNative)->windows_path, "C:\\Program Files\\App");
}

TEST_F(HostFilesTest, OwnChangesRefreshTheCacheOthersAfterDropCache) {
  auto files = Open();
  EXPECT_EQ(Kind(*files, "C:\\data\\new.txt"), "missing(2)");
  WriteFileBytes(root_ / "data/new.txt", "x");  // behind the program's back
  EXPECT_EQ(Kind(*files, "C:\\data\\new.txt"), "missing(2)");
  files->NoteChanged("C:\\DATA\\new.txt", kNative);
  EXPECT_EQ(Kind(*files, "C:\\data\\new.txt"), "file");

  ASSERT_TRUE(files->Delete("C:\\data\\NEW.txt", kNative).ok());
  EXPECT_EQ(Kind(*files, "C:\\data\\new.txt"), "missing(2)");
  ASSERT_TRUE(files->CreateFolder("C:\\data\\a\\b", kNative).ok());
  EXPECT_EQ(Kind(*files, "C:\\data\\a\\b"), "folder");

  fs::remove(root_ / "data/readme.txt");
  EXPECT_EQ(Kind(*files, "C:\\data\\readme.txt"), "file");
  files->DropCache();
  EXPECT_EQ(Kind(*files, "C:\\data\\readme.txt"), "missing(2)");
  const uint64_t listed = files->cache_stats().folders_listed;
  for (int i = 0; i < 3; ++i) Kind(*files, "C:\\Users\\ann\\Notes.txt");
  EXPECT_EQ(files->cache_stats().folders_listed, listed + 2);  // Users and ann, once each
}

TEST_F(HostFilesTest, DeleteRemovesLinksNotTheirTargets) {
  fs::create_directory_symlink(outside_.path() / "secret", root_ / "data/secret");
  fs::create_directories(root_ / "tree/sub");
  fs::create_directory_symlink(outside_.path() / "secret", root_ / "tree/sub/link");
  auto files = Open();
  ASSERT_TRUE(files->Delete("C:\\data\\secret", kNative).ok());
  ASSERT_TRUE(files->Delete("C:\\TREE", kNative).ok());
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "data/secret")));
  EXPECT_FALSE(fs::exists(root_ / "tree"));
  EXPECT_EQ(ReadFileBytes(outside_.path() / "secret/passwd"), "root");
  EXPECT_EQ(files->Delete("C:\\", kNative).code(), kErrorAccessDenied);
  EXPECT_EQ(files->Delete("C:\\data\\nothing", kNative).code(), kErrorFileNotFound);
}

TEST_F(HostFilesTest, RenameWithinADriveNeverReplaces) {
  auto files = Open();
  EXPECT_EQ(files->Rename("C:\\data\\readme.txt", "C:\\Users\\ann\\NOTES.TXT", kNative).code(),
            kErrorAlreadyExists);
  ASSERT_TRUE(files->Rename("C:\\data\\readme.txt", "C:\\data\\README.txt", kNative).ok());
  EXPECT_EQ(files->Stat("C:\\data\\readme.txt", kNative)->windows_path, "C:\\data\\README.txt");
  ASSERT_TRUE(files->Rename("C:\\data", "C:\\data2", kNative).ok());
  EXPECT_EQ(Kind(*files, "C:\\data2\\readme.txt"), "file");
  EXPECT_EQ(Kind(*files, "C:\\data"), "missing(2)");
  EXPECT_EQ(files->Rename("C:\\data2", "C:\\no\\data", kNative).code(), kErrorPathNotFound);
}

TEST_F(HostFilesTest, CopyFilesAndFolders) {
  fs::create_directory_symlink(outside_.path() / "secret", root_ / "data/secret");
  auto files = Open();
  // A folder to a path that does not exist becomes that path.
  ASSERT_TRUE(files->Copy("C:\\data", "C:\\Backup\\Temp", kNative).ok());
  EXPECT_EQ(ReadFileBytes(root_ / "Backup/Temp/readme.txt"), "x");
  EXPECT_TRUE(fs::is_symlink(root_ / "Backup/Temp/secret"));  // copied as a link
  EXPECT_EQ(Kind(*files, "C:\\Backup\\Temp\\secret\\passwd"), "missing(3)");
  // Into an existing folder, under the source's name; files there are replaced.
  ASSERT_TRUE(files->Copy("C:\\Users\\ann\\Notes.txt", "C:\\Backup", kNative).ok());
  Put("data/readme.txt", "new");
  ASSERT_TRUE(files->Copy("C:\\data\\readme.txt", "C:\\Backup\\Temp\\README.TXT", kNative).ok());
  EXPECT_EQ(ReadFileBytes(root_ / "Backup/Temp/readme.txt"), "new");
  EXPECT_EQ(Kind(*files, "C:\\Backup\\Notes.txt"), "file");
  EXPECT_EQ(files->Copy("C:\\data", "C:\\data\\inner", kNative).code(), kErrorInvalidParameter);
  EXPECT_EQ(files->Copy("C:\\data", "C:\\Users\\ann\\Notes.txt", kNative).code(),
            kErrorAlreadyExists);
}

TEST_F(HostFilesTest, CopyNeverWritesThroughALinkInTheTarget) {
  fs::create_directories(root_ / "target");
  fs::create_symlink(outside_.path() / "secret/passwd", root_ / "target/readme.txt");
  auto files = Open();
  ASSERT_TRUE(files->Copy("C:\\data\\readme.txt", "C:\\target", kNative).ok());
  EXPECT_EQ(ReadFileBytes(outside_.path() / "secret/passwd"), "root");
  EXPECT_FALSE(fs::is_symlink(root_ / "target/readme.txt"));
  EXPECT_EQ(ReadFileBytes(root_ / "target/readme.txt"), "x");
}

TEST_F(HostFilesTest, RecycledItemsGoToTheUsersBinWithTheirRecord) {
  Put("Users/ann/report.Doc", "1");
  Put("Users/ann/Docs/a.txt", "12345");
  Put("Users/ann/Docs/sub/b.txt", "123");
  auto files = Open();
  for (const char* path : {"C:\\users\\ann\\REPORT.doc", "C:\\Users\\ann\\docs"}) {
    Result<RecycledItem> recycled = files->Recycle(path, kNative, kSid);
    ASSERT_TRUE(recycled.ok()) << recycled.status().ToString();
    EXPECT_EQ(recycled->info_file.parent_path(), root_ / "$Recycle.Bin" / kSid);
    const std::string info = recycled->info_file.filename().string();
    const std::string data = recycled->data_file.filename().string();
    EXPECT_EQ(info.substr(0, 2), "$I");
    EXPECT_EQ(data, "$R" + info.substr(2));
    Result<RecycleRecord> record = DecodeRecycleRecord(ReadFileBytes(recycled->info_file));
    ASSERT_TRUE(record.ok());
    EXPECT_EQ(record->version, 2u);
    EXPECT_GT(record->deletion_time, 132000000000000000u);  // after 2019
    EXPECT_EQ(ToUtf8(record->original_path), recycled->original_path);
    EXPECT_FALSE(files->Stat(path, kNative).ok());
  }
  EXPECT_TRUE(fs::exists(root_ / "$Recycle.Bin" / kSid));
  auto bin = fs::directory_iterator(root_ / "$Recycle.Bin" / kSid);
  int records = 0;
  for (const auto& entry : bin) {
    const std::string name = entry.path().filename().string();
    if (name.substr(0, 2) != "$I") continue;
    ++records;
    RecycleRecord record = DecodeRecycleRecord(ReadFileBytes(entry.path())).value();
    if (ToUtf8(record.original_path) == "C:\\Users\\ann\\report.Doc") {
      EXPECT_EQ(record.size, 1u);
      EXPECT_EQ(name.substr(name.size() - 4), ".Doc");
    } else {
      EXPECT_EQ(ToUtf8(record.original_path), "C:\\Users\\ann\\Docs");
      EXPECT_EQ(record.size, 8u);
      EXPECT_TRUE(
          fs::exists(root_ / "$Recycle.Bin" / kSid / ("$R" + name.substr(2)) / "sub/b.txt"));
    }
  }
  EXPECT_EQ(records, 2);
  EXPECT_EQ(files->Recycle("C:\\data", kNative, "../../x").status().code(), kErrorInvalidParameter);
}

TEST_F(HostFilesTest, MappedHostFolderAndItsTrash) {
  HostFiles::Options options;
  options.folders = {{"C:\\Users\\ann\\AppData\\Local\\Corvexa", mapped_.path() / "data"}};
  auto no_trash = Open(options);
  ASSERT_TRUE(
      no_trash->CreateFolder("C:\\Users\\ann\\AppData\\Local\\Corvexa\\Undo", kNative).ok());
  EXPECT_TRUE(fs::is_directory(mapped_.path() / "data/Undo"));
  EXPECT_FALSE(fs::exists(root_ / "Users/ann/AppData"));
  EXPECT_EQ(Kind(*no_trash, "c:\\users\\ann\\appdata\\local\\corvexa\\UNDO"), "folder");
  EXPECT_EQ(no_trash->Recycle("C:\\Users\\ann\\AppData\\Local\\Corvexa\\Undo", kNative, kSid)
                .status()
                .code(),
            kErrorNotSupported);

  options.host_trash = mapped_.path() / "Trash";
  auto files = Open(options);
  Result<RecycledItem> recycled =
      files->Recycle("C:\\Users\\ann\\AppData\\Local\\Corvexa\\Undo", kNative, kSid);
  ASSERT_TRUE(recycled.ok()) << recycled.status().ToString();
  EXPECT_TRUE(fs::is_directory(mapped_.path() / "Trash/files/Undo"));
  const std::string info = ReadFileBytes(mapped_.path() / "Trash/info/Undo.trashinfo");
  EXPECT_NE(info.find("Path=" + (mapped_.path() / "data/Undo").string()), std::string::npos);
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);
}

TEST(RecycleRecordTest, RoundTripsBothVersions) {
  for (uint32_t version : {1u, 2u}) {
    RecycleRecord record{.version = version,
                         .size = 1234567890123ull,
                         .deletion_time = 133000000000000000ull,
                         .original_path = u"C:\\Users\\ann\\Über.txt"};
    Result<std::string> bytes = EncodeRecycleRecord(record);
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(bytes->size(), version == 1 ? 544u : 28u + 2 * 22);
    Result<RecycleRecord> back = DecodeRecycleRecord(*bytes);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->version, version);
    EXPECT_EQ(back->size, record.size);
    EXPECT_EQ(back->deletion_time, record.deletion_time);
    EXPECT_EQ(back->original_path, record.original_path);
  }
  std::string damaged = EncodeRecycleRecord({.original_path = u"C:\\x"}).value();
  damaged.resize(damaged.size() - 4);
  EXPECT_EQ(DecodeRecycleRecord(damaged).status().code(), kErrorInvalidData);
  EXPECT_EQ(EncodeRecycleRecord({.version = 1, .original_path = std::u16string(260, u'x')})
                .status()
                .code(),
            kErrorFilenameExcedRange);
}

}  // namespace
}  // namespace hm::files
