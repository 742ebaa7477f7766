#include "registry/redirector.h"

#include <array>

#include "platform/hive/upcase.h"

namespace hm::reg {
namespace {

using hive::NamesEqual;

// Keys below HKLM\SOFTWARE that both views share on Windows 7 and later; their subkeys are
// shared too.
constexpr std::u16string_view kSharedSoftwareKeys[] = {
    u"Clients",
    u"Microsoft\\COM3",
    u"Microsoft\\Cryptography\\Calais\\Current",
    u"Microsoft\\Cryptography\\Calais\\Readers",
    u"Microsoft\\Cryptography\\Services",
    u"Microsoft\\CTF\\SystemShared",
    u"Microsoft\\CTF\\TIP",
    u"Microsoft\\DFS",
    u"Microsoft\\Driver Signing",
    u"Microsoft\\EnterpriseCertificates",
    u"Microsoft\\EventSystem",
    u"Microsoft\\MSMQ",
    u"Microsoft\\Non-Driver Signing",
    u"Microsoft\\Notepad\\DefaultFonts",
    u"Microsoft\\OLE",
    u"Microsoft\\RAS",
    u"Microsoft\\RPC",
    u"Microsoft\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo",
    u"Microsoft\\SystemCertificates",
    u"Microsoft\\TermServLicensing",
    u"Microsoft\\Transaction Server",
    u"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    u"Microsoft\\Windows\\CurrentVersion\\Group Policy",
    u"Microsoft\\Windows\\CurrentVersion\\Policies",
    u"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Setup",
    u"Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
    u"Microsoft\\Windows NT\\CurrentVersion\\Console",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    u"Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    u"Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    u"Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    u"Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    u"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    u"Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    u"Microsoft\\Windows NT\\CurrentVersion\\Ports",
    u"Microsoft\\Windows NT\\CurrentVersion\\Print",
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    u"Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    u"Policies",
    u"RegisteredApplications",
};

// Keys below a classes key that the 32-bit view finds below Wow6432Node.
constexpr std::u16string_view kRedirectedClassesKeys[] = {
    u"CLSID", u"DirectShow", u"Interface", u"Media Type", u"MediaFoundation",
};

// Whether `path` starts with the components of `prefix` (a backslash-separated text).
bool StartsWith(const Components& path, std::u16string_view prefix) {
  size_t index = 0;
  while (!prefix.empty()) {
    size_t end = prefix.find(u'\\');
    std::u16string_view part = prefix.substr(0, end);
    if (index >= path.size() || !NamesEqual(path[index], part)) return false;
    ++index;
    prefix = end == std::u16string_view::npos ? std::u16string_view() : prefix.substr(end + 1);
  }
  return true;
}

}  // namespace

bool IsSharedSoftwarePath(const Components& path) {
  if (path.empty()) return false;
  for (std::u16string_view shared : kSharedSoftwareKeys) {
    if (StartsWith(path, shared)) return true;
  }
  return false;
}

void RedirectClassesPath(Components* path, size_t start, bool view32) {
  if (!view32 || path->size() <= start) return;
  std::u16string_view first = (*path)[start];
  if (NamesEqual(first, kClassesWow6432Node)) return;
  for (std::u16string_view redirected : kRedirectedClassesKeys) {
    if (NamesEqual(first, redirected)) {
      path->insert(path->begin() + static_cast<std::ptrdiff_t>(start), kClassesWow6432Node);
      return;
    }
  }
}

void RedirectSoftwarePath(Components* path, bool view32) {
  Components& p = *path;
  if (p.size() >= 2 && NamesEqual(p[0], kWow6432Node) && NamesEqual(p[1], kClassesKey)) {
    p[0] = kClassesKey;
    p[1] = kClassesWow6432Node;
  }
  if (!view32) return;
  if (!p.empty() && NamesEqual(p[0], kClassesKey)) {
    RedirectClassesPath(path, 1, view32);
  } else if (!p.empty() && NamesEqual(p[0], kWow6432Node)) {
    // Already the 32-bit key.
  } else if (!IsSharedSoftwarePath(p)) {
    p.insert(p.begin(), kWow6432Node);
  }
}

}  // namespace hm::reg
