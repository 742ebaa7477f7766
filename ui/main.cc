// hvmend: the desktop program. Starts as app/application.h describes, then shows the splash
// window and the main window and runs the event loop until the main window ends it.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/first_run.h"
#include "controls/message_dialog.h"
#include "controls/skin.h"
#include "ui/main_thread_bridge.h"
#include "ui/main_window.h"
#include "ui/program_pages.h"
#include "ui/splash_window.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace hm::ui {
namespace {

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  const QStringList list = QCoreApplication::arguments();
  for (qsizetype i = 1; i < list.size(); ++i) args.push_back(list[i].toLocal8Bit().toStdString());
  return args;
}

int Run(QApplication& qt) {
  QApplication::setApplicationName(QStringLiteral("Hivemend"));
  QApplication::setApplicationDisplayName(QStringLiteral("Hivemend"));
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ui/resources/logo.svg")));
  controls::skin::ApplyToApplication(qt);

  app::StartupRequest request;
  request.argv = Arguments();
  request.program_folder = QCoreApplication::applicationDirPath().toStdString();
  request.host = app::HostFolders::FromEnvironment();
  request.demo_sources = HM_DEMO_SOURCES;

  Result<std::unique_ptr<app::Application>> started = app::Application::Start(request);
  if (!started.ok()) {
    const std::string text = started.status().ToString();
    std::fprintf(stderr, "hvmend: %s\n", text.c_str());
    controls::ShowMessage(QString::fromStdString(text), QStringLiteral("Hivemend"),
                          controls::kStyleError);
    return 2;
  }
  app::Application& application = **started;
  if (application.installation() == nullptr) {  // --help
    std::printf("%s", app::ProgramUsage().c_str());
    return 0;
  }
  for (const std::string& note : application.notes()) {
    std::fprintf(stderr, "hvmend: %s\n", note.c_str());
  }
  const app::EntryPlan& plan = application.plan();
  if (plan.message) {
    controls::ShowMessage(QString::fromStdString(plan.message->text),
                          QString::fromStdString(plan.message->caption), plan.message->style);
  }
  if (plan.end) return plan.exit_code;

  Result<app::ProgramOptions> options = app::ParseProgramOptions(request.argv);
  QtMainThreadQueue main_thread;
  TMainWindowSetup setup;
  setup.settings = application.settings();
  setup.environment = *application.environment();
  setup.args = options.ok() ? options->args : std::vector<std::string>();
  setup.first_run = app::CheckAndMarkFirstRun();
  setup.splash_showing = plan.window == app::WindowStart::kSplash;

  auto main = std::make_unique<TfmHMMain>(main_thread.queue(), std::move(setup));
  InstallProgramPages(*main);

  std::unique_ptr<QSocketNotifier> listener;
  if (app::SingleInstance* instance = application.instance(); instance && instance->listen_fd() >= 0) {
    listener = std::make_unique<QSocketNotifier>(instance->listen_fd(), QSocketNotifier::Read);
    const int version = application.environment()->windows_version;
    QObject::connect(listener.get(), &QSocketNotifier::activated, main.get(),
                     [instance, version, window = main.get()] {
                       instance->DispatchPending([&](const app::InstanceMessage& message) {
                         window->ReactToInstance(app::ReactToInstanceMessage(message, version));
                       });
                     });
  }

  if (plan.window == app::WindowStart::kSplash) {
    main->show();
    TfmHMMain* window = main.get();
    TfmSplash::ShowSplash(QString::fromStdString(application.environment()->program_version),
                          window, [window] { window->PostCommand(cmd::kStartupDone); });
  }
  const int code = QApplication::exec();
  listener.reset();
  main.reset();
  return code == 0 ? 0 : code;
}

}  // namespace
}  // namespace hm::ui

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  return hm::ui::Run(qt);
}
