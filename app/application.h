// Application: a start of the program up to the point where the main window takes over.
//
// Start() does, in order: read the program's options; choose the installation (--root, else the
// one remembered from the last run, else the demo installation, built on first use); take the
// single-instance lock for it; and, for the one instance, open the installation's registry (as
// the process registry), gather the environment and load the settings; then it runs the entry
// logic (entry.h). The lock is taken before the registry is opened because opening it may carry
// out hive replacements scheduled by an earlier run, which must not happen under a running
// instance.
//
// The desktop program shows plan().message if any, ends with plan().exit_code when plan().end,
// and otherwise shows the splash window or starts hidden, and watches instance()->listen_fd()
// for messages from later starts.
//
// Thread-compatible: one Application per process, used on the main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/environment.h"
#include "app/host_folders.h"
#include "app/settings_store.h"
#include "app/single_instance.h"
#include "platform/files/host_files.h"
#include "platform/install/installation.h"
#include "platform/status.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"

namespace hm::app {

struct StartupRequest {
  // The command line without the program's name.
  std::vector<std::string> argv;
  // The folder of the executable.
  std::filesystem::path program_folder;
  HostFolders host;
  // Text sources the demo installation is built from.
  std::filesystem::path demo_sources;
};

class Application {
 public:
  // Fails with a text for the user: ERROR_INVALID_PARAMETER for bad options, or why the chosen
  // installation cannot be opened. The caller shows it and ends with exit code 2.
  static Result<std::unique_ptr<Application>> Start(const StartupRequest& request);
  // Writes the registry's changes, then releases the instance lock.
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  const EntryPlan& plan() const { return plan_; }
  // Things the user may want to know that did not stop the start (a settings file that could
  // not be read, no single-instance check, hive replacements carried out).
  const std::vector<std::string>& notes() const { return notes_; }

  // Null after --help.
  const install::Installation* installation() const { return installation_.get(); }
  // The single-instance lock; null when the host offers no private runtime folder.
  SingleInstance* instance() { return instance_.get(); }
  // The following exist for the one instance only (null for a later start and after --help).
  reg::HostRegistry* registry() { return registry_.get(); }
  const Environment* environment() const { return environment_.get(); }
  SettingsStore* settings() { return settings_.get(); }

 private:
  class Context;
  Application() = default;

  Status OpenInstallation(const StartupRequest& request, const ProgramOptions& options);
  void TakeInstanceLock(const std::filesystem::path& runtime);
  Status PrepareOneInstance(const StartupRequest& request);
  void OpenFiles(const StartupRequest& request, const std::string& local_app_data);

  std::unique_ptr<SingleInstance> instance_;  // released last
  std::shared_ptr<const install::Installation> installation_;
  std::string user_sid_;
  std::unique_ptr<reg::HostRegistry> registry_;
  std::unique_ptr<reg::HostEnvironment> host_environment_;
  std::unique_ptr<files::HostFiles> files_;
  std::unique_ptr<Environment> environment_;
  std::unique_ptr<SettingsStore> settings_;
  EntryPlan plan_;
  std::vector<std::string> notes_;
};

// The user profile `user` names (a SID or a profile name, compared as file names), or the
// installation's first user with hives when `user` is empty. nullptr for an installation without
// users; ERROR_NO_SUCH_USER for a name it does not have.
Result<const install::UserProfile*> FindUser(const install::Installation& installation,
                                             const std::string& user);

// Builds the demo installation into `root` from `sources` unless it is there already. The build
// goes to a new folder beside `root` that is renamed into place when complete, so an interrupted
// build never leaves a half installation behind.
Status EnsureDemoInstallation(const std::filesystem::path& sources,
                              const std::filesystem::path& root);

}  // namespace hm::app
