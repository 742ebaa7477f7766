// hivemend-startup-probe: starts as the desktop program does, without windows, and prints what
// that program would show, one line each:
//   installation ROOT              the installation chosen (with " user SID" when it has users)
//   note: TEXT                     something the start reports without stopping
//   message: CAPTION | TEXT | STYLE
//   end CODE                       the start ends here with that exit code
//   run splash v. VERSION | run hidden, then "mode N", "forceupdate 0|1"
//   listening                      the one instance waits for later starts
//   announce | forward | restore N a message from a later start
// The one instance runs until its standard input ends. Exit code 2 for bad input, as the
// program.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/application.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace hm::app {
namespace {

void Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void PrintMessage(const InstanceMessage& message) {
  switch (message.kind) {
    case InstanceMessage::Kind::kAnnounce:
      return Print("announce");
    case InstanceMessage::Kind::kBringForward:
      return Print("forward");
    case InstanceMessage::Kind::kRestoreCommand:
      return Print("restore " + std::to_string(message.code));
  }
}

// Serves later starts until standard input ends.
void Serve(SingleInstance* instance) {
  Print("listening");
  pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0},
                       {instance != nullptr ? instance->listen_fd() : -1, POLLIN, 0}};
  while (::poll(watched, 2, -1) >= 0) {
    if (watched[1].revents & POLLIN) instance->DispatchPending(PrintMessage);
    if (watched[0].revents & (POLLIN | POLLHUP)) {
      char buffer[256];
      if (::read(STDIN_FILENO, buffer, sizeof(buffer)) <= 0) return;
    }
  }
}

int Run(int argc, char** argv) {
  StartupRequest request;
  request.argv.assign(argv + 1, argv + argc);
  std::error_code error;
  request.program_folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  request.host = HostFolders::FromEnvironment();
  request.demo_sources = HM_DEMO_SOURCES;

  Result<std::unique_ptr<Application>> app = Application::Start(request);
  if (!app.ok()) {
    std::fprintf(stderr, "hivemend: %s\n", app.status().ToString().c_str());
    return 2;
  }
  if (const install::Installation* installation = (*app)->installation()) {
    const install::UserProfile* user = installation->DefaultUser();
    if (const reg::HostRegistry* registry = (*app)->registry()) user = registry->user();
    Print("installation " + installation->root().string() +
          (user != nullptr ? " user " + user->sid : std::string()));
  }
  for (const std::string& note : (*app)->notes()) Print("note: " + note);
  const EntryPlan& plan = (*app)->plan();
  if (plan.message) {
    Print("message: " + plan.message->caption + " | " + plan.message->text + " | " +
          std::to_string(plan.message->style));
  }
  if (plan.end) {
    Print("end " + std::to_string(plan.exit_code));
    return plan.exit_code;
  }
  Print(plan.window == WindowStart::kSplash
            ? "run splash " + SplashVersionText((*app)->environment()->program_version)
            : std::string("run hidden"));
  Print("mode " + std::to_string(static_cast<int>(plan.mode)));
  Print("forceupdate " + std::to_string(plan.force_update ? 1 : 0));
  Serve((*app)->instance());
  return 0;
}

}  // namespace
}  // namespace hm::app

int main(int argc, char** argv) {
  return hm::app::Run(argc, argv);
}
