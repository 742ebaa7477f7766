// Helpers for the test programs. Not thread-safe; each test uses its own objects.
#pragma once

#include <filesystem>
#include <string>

namespace hm::testing {

// A fresh folder below the system temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Folder of the shared test data ("hives/" holds real hives compressed with xz).
std::filesystem::path SharedDir();
// Folder of the project's sources (demo installation sources and the like).
std::filesystem::path SourceDir();

// Decompresses shared/hives/<name>.xz into `dir` as <name>; returns its path.
// Fails the current test (and returns an empty path) when the file is missing or damaged.
std::filesystem::path UnpackSharedHive(const std::string& name, const std::filesystem::path& dir);

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);

// Runs a shell command, returns its exit status and fills `output` with its standard output.
int RunCommand(const std::string& command, std::string* output);
// True when a program of that name is on PATH.
bool HaveProgram(const std::string& name);

}  // namespace hm::testing
