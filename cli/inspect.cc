// describe and check: what a hive file or an installation holds, and whether it is intact.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/render.h"
#include "platform/hive/hive.h"
#include "platform/install/installation.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;

// Texts here may come from a hive; Printable() keeps each on its line.
void PrintField(const char* label, const std::string& text) {
  std::printf("  %-14s%s\n", label, Printable(text).c_str());
}

std::string StateText(const hive::HiveHeader& header) {
  std::string sequence = "(sequence " + std::to_string(header.sequence1) + "/" +
                         std::to_string(header.sequence2) + ")";
  return (header.clean() ? "clean " : "not cleanly closed ") + sequence;
}

void PrintHiveFigures(const hive::Hive& hive) {
  const hive::HiveHeader& header = hive.header();
  PrintField("format:", "regf " + std::to_string(header.major_version) + "." +
                            std::to_string(header.minor_version));
  PrintField("state:", hive.log_recovery().applied()
                           ? "not cleanly closed; recovered in memory from its transaction logs"
                           : StateText(header));
  if (!header.checksum_ok) PrintField("checksum:", "wrong (the base block is damaged)");
  PrintField("read-only:", hive.read_only() ? "yes: " + hive.read_only_reason() : "no");
  PrintField("root:", hive.root().name_utf8());
  PrintField("last written:", FormatFileTime(header.timestamp));
  PrintField("keys:", std::to_string(hive.CountKeys()));
  PrintField("values:", std::to_string(hive.CountValues()));
  PrintField("file size:", std::to_string(hive.file_stats().file_size) + " bytes");
  PrintField("free:", std::to_string(hive.file_stats().free_bytes) + " bytes");
  if (!hive.damage().empty()) {
    PrintField("damage:", std::to_string(hive.damage().size()) + " problems (see check)");
  }
}

// Opened as the program would open it for changes (nothing is saved), so that read_only_reason()
// says whether and why the engine would refuse to write it.
Result<std::unique_ptr<hive::Hive>> OpenForDescribing(const fs::path& file) {
  return hive::Hive::Open(file, hive::OpenOptions{.read_only = false, .salvage = true});
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

std::string Signed(int64_t n) {
  return (n >= 0 ? "+" : "") + std::to_string(n);
}

// For a hive that was not cleanly closed: the logs beside it and what replaying them adds to
// the file as it is on disk. Nothing is written.
void PrintLogRecovery(const fs::path& file, const hive::Hive& hive) {
  const hive::LogRecovery& recovery = hive.log_recovery();
  if (hive.logs_found().empty() && !recovery.applied()) return;
  PrintField("logs:", hive.logs_found().empty() ? "none" : JoinNames(hive.logs_found()));
  if (recovery.applied()) {
    std::string summary = std::to_string(recovery.entries) + " log entries, " +
                          std::to_string(recovery.pages) + " dirty pages from " +
                          JoinNames(recovery.logs_used) + ", up to sequence " +
                          std::to_string(recovery.sequence);
    auto on_disk = hive::Hive::Open(
        file, hive::OpenOptions{.read_only = true, .salvage = true, .recover_from_logs = false});
    if (on_disk.ok()) {
      summary += "; keys " +
                 Signed(static_cast<int64_t>(hive.CountKeys()) -
                        static_cast<int64_t>(on_disk.value()->CountKeys())) +
                 ", values " +
                 Signed(static_cast<int64_t>(hive.CountValues()) -
                        static_cast<int64_t>(on_disk.value()->CountValues())) +
                 " against the file on disk";
    }
    PrintField("recovery:", summary);
  }
  for (const std::string& note : recovery.notes) PrintField("log note:", note);
}

// Returns false when the hive could not be read at all.
bool DescribeHive(const fs::path& file, const std::string& heading) {
  std::printf("%s\n", heading.c_str());
  Result<std::unique_ptr<hive::Hive>> hive = OpenForDescribing(file);
  if (!hive.ok()) {
    PrintField("error:", hive.status().ToString());
    return false;
  }
  PrintHiveFigures(*hive.value());
  PrintLogRecovery(file, *hive.value());
  return true;
}

std::string VersionText(const install::Installation& installation) {
  const install::WindowsVersion& v = installation.version();
  if (v.product_name.empty() && v.build.empty()) return "unknown";
  std::string text = v.product_name + " " + std::to_string(v.major) + "." +
                     std::to_string(v.minor) + " build " + v.build;
  if (!v.display_version.empty()) text += " (" + v.display_version + ")";
  return text + (installation.is_64bit() ? ", 64-bit" : ", 32-bit");
}

void PrintInstallation(const install::Installation& installation) {
  std::printf("Windows installation at %s\n", installation.root().c_str());
  PrintField("windows:", VersionText(installation));
  if (!installation.software_status().ok()) {
    PrintField("software:", installation.software_status().ToString());
  }
  for (const install::UserProfile& user : installation.users()) {
    std::string where = user.folder.empty() ? " (profile folder missing)" : "";
    PrintField("user:", user.name + "  " + user.sid + "  " + user.profile_path + where);
  }
}

int DescribeInstallation(const fs::path& path) {
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(path);
  if (!opened.ok()) return Fail(opened.status().ToString());
  const install::Installation& installation = *opened.value();
  PrintInstallation(installation);
  int exit_code = kExitOk;
  for (const install::HiveFile& file : installation.hives()) {
    std::printf("\n");
    if (!DescribeHive(file.file, file.mount + "  " + file.windows_path)) exit_code = kExitDamaged;
  }
  return exit_code;
}

void PrintFindings(const std::vector<hive::Damage>& findings, const char* kind) {
  for (const hive::Damage& finding : findings) {
    std::printf("  0x%08llx  %s%s\n", static_cast<unsigned long long>(finding.file_offset), kind,
                finding.reason.c_str());
  }
}

// Prints what is wrong with one hive; returns the number of problems. Damage (what salvage had to
// leave out) and flaws (what loses no data but Windows' own check would mend) both count; a hive
// that cannot be read at all counts as one.
size_t CheckHive(const Result<std::unique_ptr<hive::Hive>>& opened, const std::string& heading) {
  if (!opened.ok()) {
    std::printf("%s: unreadable: %s\n", heading.c_str(), opened.status().ToString().c_str());
    return 1;
  }
  const hive::Hive& hive = *opened.value();
  const bool checksum_ok = hive.header().checksum_ok;
  size_t problems = hive.damage().size() + hive.anomalies().size() + (checksum_ok ? 0 : 1);
  std::printf("%s: %s\n", heading.c_str(),
              problems == 0 ? "clean" : (std::to_string(problems) + " problems").c_str());
  if (!checksum_ok) std::printf("  0x000001fc  base block checksum is wrong\n");
  PrintFindings(hive.damage(), "");
  PrintFindings(hive.anomalies(), "flaw: ");
  if (!hive.header().clean()) {
    std::printf("  note: %s; Windows would recover it from its transaction logs\n",
                StateText(hive.header()).c_str());
  }
  return problems;
}

Result<std::unique_ptr<hive::Hive>> OpenForChecking(const fs::path& file) {
  return hive::Hive::Open(
      file, hive::OpenOptions{.read_only = true, .salvage = true, .check_structure = true});
}

}  // namespace

PathKind KindOf(const fs::path& path) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) return PathKind::kMissing;
  return fs::is_directory(status) ? PathKind::kFolder : PathKind::kFile;
}

int Describe(const fs::path& path) {
  switch (KindOf(path)) {
    case PathKind::kMissing:
      return Fail(path.string() + " does not exist");
    case PathKind::kFolder:
      return DescribeInstallation(path);
    case PathKind::kFile:
      break;
  }
  Result<std::unique_ptr<hive::Hive>> hive = OpenForDescribing(path);
  if (!hive.ok()) return Fail(hive.status().ToString());
  std::printf("%s\n", path.c_str());
  PrintHiveFigures(*hive.value());
  PrintLogRecovery(path, *hive.value());
  return kExitOk;
}

int Check(const fs::path& path) {
  switch (KindOf(path)) {
    case PathKind::kMissing:
      return Fail(path.string() + " does not exist");
    case PathKind::kFile: {
      // A file that is no hive at all is a wrong argument, not a damaged hive.
      Result<std::unique_ptr<hive::Hive>> opened = OpenForChecking(path);
      if (!opened.ok() && opened.status().code() != kErrorBadDb &&
          opened.status().code() != kErrorRegistryCorrupt) {
        return Fail(opened.status().ToString());
      }
      return CheckHive(opened, path.string()) == 0 ? kExitOk : kExitDamaged;
    }
    case PathKind::kFolder:
      break;
  }
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(path);
  if (!opened.ok()) return Fail(opened.status().ToString());
  size_t problems = 0;
  for (const install::HiveFile& file : opened.value()->hives()) {
    problems += CheckHive(OpenForChecking(file.file), file.mount + " (" + file.windows_path + ")");
  }
  return problems == 0 ? kExitOk : kExitDamaged;
}

}  // namespace hm::cli
