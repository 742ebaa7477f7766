// Writes small hives made by the engine into a folder, as seeds for hive_fuzz: formats 1.3 and 1.5,
// compressed and UTF-16 names, class names, inline, cell and big-data values, an index of leaves.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/hive/hive.h"

namespace {

using namespace hm::hive;

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out;
}

void Write(const std::filesystem::path& file, const Hive& hive) {
  std::string image = hive.Serialize();
  std::ofstream(file, std::ios::binary)
      .write(image.data(), static_cast<std::streamsize>(image.size()));
}

std::unique_ptr<Hive> Small(uint32_t minor) {
  auto hive = Hive::CreateEmpty(minor);
  Key* a = hive->root().CreateSubkey(u"Software").value();
  (void)a->SetValue(u"", kRegSz, Utf16Le(u"default"));
  (void)a->SetValue(u"Dword", kRegDword, "\x01\x02\x03\x04");
  (void)a->SetValue(u"Bin", kRegBinary, std::string(40, '\x5A'));
  (void)a->SetValue(u"Caf\u00e9", kRegMultiSz, Utf16Le(std::u16string(u"a\0b\0\0", 5)));
  (void)a->SetClassName(Utf16Le(u"Class"));
  Key* b = a->CreateSubkey(u"\u03a4\u03b5\u03c3\u03c4").value();
  (void)b->SetValue(u"\u4e2d", kRegQword, "12345678");
  (void)hive->root().CreateSubkey(u"Empty");
  return hive;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  for (uint32_t minor : {3u, 5u}) {
    std::string tag = "1." + std::to_string(minor);
    Write(dir / ("empty-" + tag), *Hive::CreateEmpty(minor));
    Write(dir / ("small-" + tag), *Small(minor));

    auto big = Small(minor);
    (void)big->root().CreateSubkey(u"Big").value()->SetValue(u"Data", kRegBinary,
                                                             std::string(20000, '\x11'));
    Write(dir / ("bigdata-" + tag), *big);

    auto wide = Hive::CreateEmpty(minor);
    Key* many = wide->root().CreateSubkey(u"Many").value();
    for (int i = 0; i < 520; ++i)
      (void)many->CreateSubkey(hm::hive::FromUtf8("K" + std::to_string(i)));
    Write(dir / ("index-" + tag), *wide);
  }
  return 0;
}
