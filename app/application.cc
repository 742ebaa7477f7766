#include "app/application.h"

#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/install/builder.h"
#include "platform/install/win_path.h"
#include "registry/host_environment.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;

constexpr int kStyleInformationOk = 64;

// Where an installation is opened from, and whether to remember it for the next start.
struct Choice {
  bool demo = false;
  fs::path root;
  std::string user;
  bool from_options = false;  // chosen on this command line: remember it once it opens
  bool remembered = false;    // taken from the last run
};

Choice ChooseInstallation(const ProgramOptions& options,
                          const std::optional<RememberedInstallation>& last,
                          const fs::path& demo_root) {
  Choice choice;
  if (options.root) {
    choice.root = fs::absolute(*options.root);
    choice.from_options = true;
  } else if (options.demo || !last || last->demo) {
    choice.demo = true;
    choice.root = demo_root;
    choice.from_options = options.demo;
  } else {
    choice.root = last->root;
    choice.remembered = true;
  }
  if (options.user) {
    choice.user = *options.user;
    choice.from_options = true;
  } else if (last && !options.root && !options.demo) {
    choice.user = last->user;
  }
  return choice;
}

}  // namespace

// The entry's questions answered by the parts of a real start.
class Application::Context : public EntryContext {
 public:
  explicit Context(Application& app) : app_(app) {}

  bool BecomeOnlyInstance() override {
    return app_.instance_ == nullptr || app_.instance_->is_first();
  }
  void NotifyRunningInstance(const std::vector<InstanceMessage>& messages) override {
    Status status = app_.instance_->Notify(messages);
    if (!status.ok()) app_.notes_.push_back(status.ToString());
  }
  bool IsStrictAdministrator() override { return app_.environment_->strict_administrator; }
  // This host has no elevation prompt: the start goes on as after a refused one.
  bool StartElevated(const std::vector<std::string>&) override { return false; }
  bool AutomaticRunDue() override { return app_.settings_->AutomaticRunDue(); }

 private:
  Application& app_;
};

Result<const install::UserProfile*> FindUser(const install::Installation& installation,
                                             const std::string& user) {
  if (user.empty()) return installation.DefaultUser();
  for (const install::UserProfile& profile : installation.users()) {
    if (install::FileNamesEqual(profile.sid, user) || install::FileNamesEqual(profile.name, user)) {
      return &profile;
    }
  }
  return Status::Error(kErrorNoSuchUser, "user '" + user + "' has no profile in this installation");
}

Status EnsureDemoInstallation(const fs::path& sources, const fs::path& root) {
  std::error_code error;
  if (fs::exists(root, error)) return Status::Ok();
  fs::create_directories(root.parent_path(), error);
  const fs::path building =
      root.parent_path() / (root.filename().string() + ".building-" + std::to_string(::getpid()));
  fs::remove_all(building, error);
  Status status = install::BuildInstallation(sources, building);
  if (status.ok()) {
    fs::rename(building, root, error);
    // Another start may have built it at the same time; its copy is as good as this one.
    if (error && !fs::exists(root)) {
      status = Status::Error(WinErrorFromErrno(error.value()), "rename to '" + root.string() + "'");
    }
  }
  fs::remove_all(building, error);
  return status;
}

Status Application::OpenInstallation(const StartupRequest& request, const ProgramOptions& options) {
  const fs::path demo_root = request.host.data / "demo";
  Choice choice =
      ChooseInstallation(options, ReadRememberedInstallation(request.host.config), demo_root);
  if (choice.demo) {
    Status built = EnsureDemoInstallation(request.demo_sources, demo_root);
    if (!built.ok()) {
      return Status::Error(built.code(), "cannot build the demo installation: " + built.context());
    }
  }
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(choice.root);
  if (!opened.ok()) {
    if (!choice.remembered) return opened.status();
    return Status::Error(opened.status().code(),
                         "the installation of the last run cannot be opened (choose one with "
                         "--root DIR, or --demo): " +
                             opened.status().context());
  }
  installation_ = std::move(*opened);
  Result<const install::UserProfile*> user = FindUser(*installation_, choice.user);
  if (!user.ok()) return user.status();
  if (*user != nullptr) user_sid_ = (*user)->sid;
  if (choice.from_options) {
    Status remembered = RememberInstallation(
        request.host.config,
        RememberedInstallation{choice.demo, choice.demo ? fs::path() : choice.root, choice.user});
    if (!remembered.ok()) {
      notes_.push_back("the installation chosen is not remembered: " + remembered.ToString());
    }
  }
  return Status::Ok();
}

void Application::TakeInstanceLock(const fs::path& runtime) {
  Status status = runtime.empty() ? Status::Error(kErrorPathNotFound, "no private runtime folder")
                                  : Status::Ok();
  if (status.ok()) {
    Result<std::unique_ptr<SingleInstance>> instance =
        SingleInstance::Acquire(runtime, InstanceKey(installation_->root(), user_sid_));
    if (instance.ok()) {
      instance_ = std::move(*instance);
      return;
    }
    status = instance.status();
  }
  // The program still runs; it just cannot tell whether it runs twice.
  notes_.push_back("other instances cannot be detected: " + status.ToString());
}

Status Application::PrepareOneInstance(const StartupRequest& request) {
  Result<std::unique_ptr<reg::HostRegistry>> registry =
      reg::HostRegistry::Open(installation_, {.user = user_sid_, .read_only = false});
  if (!registry.ok()) return registry.status();
  registry_ = std::move(*registry);
  for (const std::string& note : registry_->pending_notes()) notes_.push_back(note);
  reg::SetProcessRegistry(registry_.get());
  reg::InitRegistryAccess(*registry_);

  EnvironmentOptions options;
  options.program_folder = request.program_folder;
  if (!request.host.data.empty()) {
    options.host_data_fallback =
        request.host.data / "installations" / InstanceKey(installation_->root(), user_sid_);
  }
  // The installation's own environment and shell folders, then its files.
  host_environment_ = reg::HostEnvironment::Build(*registry_);
  options.local_app_data = host_environment_->SpecialFolder(reg::CSIDL_LOCAL_APPDATA);
  while (!options.local_app_data.empty() && options.local_app_data.back() == '\\') {
    options.local_app_data.pop_back();
  }
  environment_ = std::make_unique<Environment>(PrepareEnvironment(*registry_, options));
  OpenFiles(request, options.local_app_data);
  settings_ = std::make_unique<SettingsStore>(environment_->data_folder);
  Status loaded = settings_->Load();
  if (!loaded.ok()) notes_.push_back("the settings could not be read: " + loaded.ToString());
  return Status::Ok();
}

// Opens the installation's files for the path tests and shell operations. A data folder on the
// host is mapped where the installation would have held it, so that the program's own files
// keep their Windows paths.
void Application::OpenFiles(const StartupRequest& request, const std::string& local_app_data) {
  files::HostFiles::Options options;
  const DataFolder& data = environment_->data_folder;
  if (!data.in_installation() && !data.path().empty() && !local_app_data.empty()) {
    environment_->data_folder_windows = local_app_data + "\\" + std::string(kCompanyFolder);
    options.folders.push_back({environment_->data_folder_windows, data.path()});
  }
  if (!request.host.data.empty()) options.host_trash = request.host.data.parent_path() / "Trash";
  Result<std::unique_ptr<files::HostFiles>> files =
      reg::OpenInstallationFiles(*installation_, *host_environment_, std::move(options));
  if (!files.ok()) {
    notes_.push_back("the installation's files cannot be examined: " + files.status().ToString());
    return;
  }
  files_ = std::move(*files);
  reg::SetProcessFiles(files_.get(), host_environment_.get());
}

Result<std::unique_ptr<Application>> Application::Start(const StartupRequest& request) {
  Result<ProgramOptions> options = ParseProgramOptions(request.argv);
  if (!options.ok()) return options.status();
  std::unique_ptr<Application> app(new Application());
  if (options->help) {
    app->plan_.message = UserMessage{ProgramUsage(), kApplicationTitle, kStyleInformationOk};
    app->plan_.end = true;
    return app;
  }
  HM_RETURN_IF_ERROR(app->OpenInstallation(request, *options));

  app->TakeInstanceLock(request.host.runtime);
  if (app->instance_ == nullptr || app->instance_->is_first()) {
    HM_RETURN_IF_ERROR(app->PrepareOneInstance(request));
  }
  Context context(*app);
  app->plan_ = RunEntry(options->args, context);
  return app;
}

Application::~Application() {
  if (files_ != nullptr && reg::ProcessFiles() == files_.get()) {
    reg::SetProcessFiles(nullptr, nullptr);
  }
  if (registry_ != nullptr && reg::ProcessRegistry() == registry_.get()) {
    reg::SetProcessRegistry(nullptr);
  }
  settings_.reset();
  files_.reset();
  host_environment_.reset();
  registry_.reset();
  instance_.reset();
}

}  // namespace hm::app
