#include "platform/files/shell_link_writer.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/utf.h"

namespace hm::files {
namespace {

// Link flags of the header.
constexpr uint32_t kHasLinkInfo = 0x0002;
constexpr uint32_t kHasName = 0x0004;
constexpr uint32_t kHasRelativePath = 0x0008;
constexpr uint32_t kHasWorkingDir = 0x0010;
constexpr uint32_t kHasArguments = 0x0020;
constexpr uint32_t kHasIconLocation = 0x0040;
constexpr uint32_t kIsUnicode = 0x0080;
constexpr uint32_t kHasExpString = 0x0200;

// LinkInfo flags.
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kCommonNetworkRelativeLinkAndPathSuffix = 0x2;

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kShowNormal = 1;
// The LinkInfo header with the offsets of the UTF-16 paths.
constexpr uint32_t kLinkInfoHeaderSize = 0x24;
constexpr uint32_t kEnvironmentBlockSize = 0x314;
constexpr uint32_t kEnvironmentBlockSignature = 0xA0000001;
constexpr size_t kEnvironmentTargetChars = 260;
constexpr uint32_t kWnncNetLanman = 0x00020000;

void Put16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}

void Put32(std::string* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void Set32(std::string* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<char>(value >> (8 * i));
}

void PutUtf16(std::string* out, std::u16string_view text) {
  for (char16_t unit : text) Put16(out, unit);
}

// A NUL-terminated single-byte string.
void PutAnsiZ(std::string* out, const CodePage& code_page, std::string_view utf8) {
  std::string ansi;
  code_page.FromUtf16(FromUtf8(utf8), &ansi);  // a character it lacks becomes '?'
  out->append(ansi);
  out->push_back('\0');
}

void PutUtf16Z(std::string* out, std::string_view utf8) {
  PutUtf16(out, FromUtf8(utf8));
  Put16(out, 0);
}

Status InvalidText(const std::string& what) {
  return Status::Error(kErrorInvalidParameter, "shortcut: " + what);
}

// VolumeID: size, drive type, serial number, offset of the label, the label.
std::string VolumeId(const ShellLinkSpec& spec, const CodePage& code_page) {
  std::string volume;
  Put32(&volume, 0);
  Put32(&volume, spec.drive_type);
  Put32(&volume, spec.drive_serial);
  Put32(&volume, 0x10);
  PutAnsiZ(&volume, code_page, spec.volume_label);
  Set32(&volume, 0, static_cast<uint32_t>(volume.size()));
  return volume;
}

// CommonNetworkRelativeLink of a share, with the drive it is mapped to when there is one.
std::string NetworkLink(const ShellLinkSpec& spec, const CodePage& code_page) {
  const bool has_device =
      !spec.local_path.empty() && spec.local_path.size() >= 2 && spec.local_path[1] == ':';
  std::string link;
  Put32(&link, 0);
  Put32(&link, 0x2 | (has_device ? 0x1 : 0));  // ValidNetType, ValidDevice
  Put32(&link, 0x14);                          // NetNameOffset
  Put32(&link, 0);                             // DeviceNameOffset, set below
  Put32(&link, kWnncNetLanman);
  PutAnsiZ(&link, code_page, spec.network_share);
  if (has_device) {
    Set32(&link, 12, static_cast<uint32_t>(link.size()));
    PutAnsiZ(&link, code_page, spec.local_path.substr(0, 2));
  }
  Set32(&link, 0, static_cast<uint32_t>(link.size()));
  return link;
}

std::string LinkInfo(const ShellLinkSpec& spec, const CodePage& code_page) {
  const bool local = !spec.local_path.empty();
  const bool network = !spec.network_share.empty();
  std::string info(kLinkInfoHeaderSize, '\0');
  Set32(&info, 4, kLinkInfoHeaderSize);
  Set32(&info, 8,
        (local ? kVolumeIdAndLocalBasePath : 0) |
            (network ? kCommonNetworkRelativeLinkAndPathSuffix : 0));
  auto here = [&info] { return static_cast<uint32_t>(info.size()); };
  if (local) {
    Set32(&info, 12, here());
    info += VolumeId(spec, code_page);
    Set32(&info, 16, here());
    PutAnsiZ(&info, code_page, spec.local_path);
  }
  if (network) {
    Set32(&info, 20, here());
    info += NetworkLink(spec, code_page);
  }
  Set32(&info, 24, here());
  PutAnsiZ(&info, code_page, spec.path_suffix);
  if (local) {
    Set32(&info, 28, here());
    PutUtf16Z(&info, spec.local_path);
  }
  Set32(&info, 32, here());
  PutUtf16Z(&info, spec.path_suffix);
  Set32(&info, 0, here());
  return info;
}

}  // namespace

Result<std::string> MakeShellLink(const ShellLinkSpec& spec) {
  std::unique_ptr<CodePage> code_page = CodePage::ForNumber(spec.code_page);
  if (code_page == nullptr) {
    return InvalidText("unknown code page " + std::to_string(spec.code_page));
  }
  const std::u16string environment = FromUtf8(spec.environment_target);
  if (environment.size() >= kEnvironmentTargetChars) {
    return InvalidText("environment target of " + std::to_string(environment.size()) +
                       " characters");
  }
  const std::string* strings[] = {&spec.name, &spec.relative_path, &spec.working_dir,
                                  &spec.arguments, &spec.icon_location};
  constexpr uint32_t kStringFlags[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments,
                                       kHasIconLocation};
  uint32_t flags = kIsUnicode;
  if (!spec.local_path.empty() || !spec.network_share.empty()) flags |= kHasLinkInfo;
  if (!environment.empty()) flags |= kHasExpString;
  for (size_t i = 0; i < std::size(strings); ++i) {
    if (strings[i]->empty()) continue;
    if (FromUtf8(*strings[i]).size() > 0xFFFF) return InvalidText("a string of 65536 characters");
    flags |= kStringFlags[i];
  }

  std::string out;
  Put32(&out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  Put32(&out, flags);
  Put32(&out, kFileAttributeArchive);
  out.append(24, '\0');  // creation, access and write times: not known
  Put32(&out, spec.file_size);
  Put32(&out, static_cast<uint32_t>(spec.icon_index));
  Put32(&out, kShowNormal);
  Put16(&out, 0);        // hot key
  out.append(10, '\0');  // reserved

  if (flags & kHasLinkInfo) out += LinkInfo(spec, *code_page);
  for (const std::string* text : strings) {
    if (text->empty()) continue;
    const std::u16string wide = FromUtf8(*text);
    Put16(&out, static_cast<uint16_t>(wide.size()));
    PutUtf16(&out, wide);
  }
  if (flags & kHasExpString) {
    Put32(&out, kEnvironmentBlockSize);
    Put32(&out, kEnvironmentBlockSignature);
    std::string ansi(kEnvironmentTargetChars, '\0');
    std::string converted;
    code_page->FromUtf16(environment, &converted);
    ansi.replace(0, converted.size(), converted);
    out += ansi;
    std::u16string wide(kEnvironmentTargetChars, u'\0');
    wide.replace(0, environment.size(), environment);
    PutUtf16(&out, wide);
  }
  Put32(&out, 0);  // terminal block
  return out;
}

Status WriteShellLink(const std::filesystem::path& file, const ShellLinkSpec& spec) {
  Result<std::string> bytes = MakeShellLink(spec);
  if (!bytes.ok()) return bytes.status();
  return AtomicWriteFile(file, *bytes);
}

}  // namespace hm::files
