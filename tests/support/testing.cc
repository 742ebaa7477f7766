#include "tests/support/testing.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace hm::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hm-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) std::abort();
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path SharedDir() {
  if (const char* env = std::getenv("HM_SHARED_DIR")) return env;
  return HM_SHARED_DIR;
}

std::filesystem::path SourceDir() {
  return HM_SOURCE_DIR;
}

std::string ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

static bool XzDecompress(const std::string& in, std::string* out) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, 0) != LZMA_OK) return false;
  stream.next_in = reinterpret_cast<const uint8_t*>(in.data());
  stream.avail_in = in.size();
  std::array<uint8_t, 1 << 16> chunk;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = chunk.size();
    ret = lzma_code(&stream, LZMA_FINISH);
    out->append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - stream.avail_out);
  }
  lzma_end(&stream);
  return ret == LZMA_STREAM_END;
}

std::filesystem::path UnpackSharedHive(const std::string& name, const std::filesystem::path& dir) {
  std::filesystem::path source = SharedDir() / "hives" / (name + ".xz");
  std::string compressed = ReadFileBytes(source);
  std::string plain;
  if (compressed.empty() || !XzDecompress(compressed, &plain)) {
    ADD_FAILURE() << "cannot unpack " << source;
    return {};
  }
  std::filesystem::path target = dir / name;
  WriteFileBytes(target, plain);
  return target;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 1 << 16> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    if (output != nullptr) output->append(chunk.data(), n);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1", nullptr) == 0;
}

}  // namespace hm::testing
