// hvmend-render-pages: renders the desktop program's pages to PNG files.
//
// It starts the program on a demo installation built in a temporary folder (the same start as
// `hvmend --demo`, with every host folder inside the temporary one), then walks through a session
// of the program: the splash window, the scan page idle and while a scan runs, the results
// (summary and the details of one category), a repair and its report, the restore page with the
// snapshot the repair left, and one message dialog. Each step saves QWidget::grab() of the window
// as <OUTDIR>/<name>.png at the window's own size (times --scale).
//
// Questions the flows ask on the way are answered through the message dialog's test seam; only
// the message dialog step shows the real dialog.
//
// Usage: hvmend-render-pages [--scale F] [--demo-sources DIR] OUTDIR
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "controls/message_dialog.h"
#include "controls/skin.h"
#include "ui/flows.h"
#include "ui/main_thread_bridge.h"
#include "ui/main_window.h"
#include "ui/program_pages.h"
#include "ui/restore_page.h"
#include "ui/results_page.h"
#include "ui/scan_page.h"
#include "ui/splash_window.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace hm::ui {
namespace {

struct Options {
  QString out;
  QString demo_sources = QStringLiteral(HM_DEMO_SOURCES);
  double scale = 0;  // 0: as the platform has it
};

constexpr char kUsage[] = "usage: hvmend-render-pages [--scale F] [--demo-sources DIR] OUTDIR\n";

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--scale" || arg == "--demo-sources") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--demo-sources") {
        options->demo_sources = QString::fromStdString(value);
        continue;
      }
      char* end = nullptr;
      options->scale = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !(options->scale >= 0.5 && options->scale <= 4)) {
        std::fprintf(stderr, "hvmend-render-pages: --scale takes a factor from 0.5 to 4\n");
        return false;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else if (options->out.isEmpty()) {
      options->out = QString::fromStdString(arg);
    } else {
      return false;
    }
  }
  return !options->out.isEmpty();
}

// Answers every question the way a user walking through the program would: yes, OK, go on
// without a restore point; "no" to opening the list of findings that were not resolved.
struct Answers : controls::MessageAnswerer {
  int Answer(const controls::MessageRequest& request) override {
    std::fprintf(stderr, "  answered: %s\n",
                 request.text.left(70).simplified().toLocal8Bit().constData());
    const std::vector<int> buttons = controls::LayoutOfStyle(request.style).buttons;
    auto has = [&](int code) {
      for (int b : buttons) {
        if (b == code) return true;
      }
      return false;
    };
    if (request.text.contains(QStringLiteral("could not resolve")) && has(controls::kIdNo)) {
      return controls::kIdNo;
    }
    for (int code : {controls::kIdYes, controls::kIdOk, controls::kIdIgnore}) {
      if (has(code)) return code;
    }
    return buttons.empty() ? controls::kIdOk : buttons.front();
  }
};

bool WaitFor(const std::function<bool()>& done, int milliseconds = 180000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class Renderer {
 public:
  explicit Renderer(QString out) : out_(std::move(out)) {}

  bool Save(QWidget* widget, const char* name) {
    const QString path = QDir(out_).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    const QPixmap picture = widget->grab();
    if (picture.isNull() || !picture.save(path, "PNG")) {
      std::fprintf(stderr, "hvmend-render-pages: cannot write %s\n", path.toLocal8Bit().constData());
      failed_ = true;
      return false;
    }
    std::printf("%s (%dx%d)\n", path.toLocal8Bit().constData(), picture.width(), picture.height());
    return true;
  }
  // A step that could not be shown as its name says: reported, the run goes on.
  void Fail(const char* name, const char* why) {
    std::fprintf(stderr, "hvmend-render-pages: %s: %s\n", name, why);
    failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  QString out_;
  bool failed_ = false;
};

int Run(QApplication& qt, const Options& options, const QString& temp) {
  QApplication::setApplicationName(QStringLiteral("Hivemend"));
  QApplication::setApplicationDisplayName(QStringLiteral("Hivemend"));
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ui/resources/logo.svg")));
  controls::skin::ApplyToApplication(qt);
  if (!QDir().mkpath(options.out)) {
    std::fprintf(stderr, "hvmend-render-pages: cannot create %s\n",
                 options.out.toLocal8Bit().constData());
    return 2;
  }

  // The program's own start on the demo installation; every host folder is in `temp`.
  const std::filesystem::path base = temp.toStdString();
  app::StartupRequest request;
  request.argv = {"--demo"};
  request.program_folder = base / "program";
  request.host.runtime = base / "run";
  request.host.config = base / "config" / "hivemend";
  request.host.data = base / "share" / "hivemend";
  request.demo_sources = options.demo_sources.toStdString();
  std::filesystem::create_directories(request.program_folder);
  std::fprintf(stderr, "building the demo installation...\n");
  Result<std::unique_ptr<app::Application>> started = app::Application::Start(request);
  if (!started.ok()) {
    std::fprintf(stderr, "hvmend-render-pages: %s\n", started.status().ToString().c_str());
    return 2;
  }
  app::Application& application = **started;
  if (application.settings() == nullptr || application.environment() == nullptr) {
    std::fprintf(stderr, "hvmend-render-pages: the demo installation did not open\n");
    return 2;
  }

  Renderer renderer(options.out);
  QtMainThreadQueue main_thread;
  TMainWindowSetup setup;
  setup.settings = application.settings();
  setup.environment = *application.environment();
  setup.end_program = [] {};
  setup.open_url = [](const QUrl&) { return true; };
  auto main = std::make_unique<TfmHMMain>(main_thread.queue(), std::move(setup));
  InstallProgramPages(*main);
  main->show();
  Settle();

  // The splash window over the main window.
  {
    TfmSplash splash(QString::fromStdString(application.environment()->program_version),
                     TfmSplash::kSplash);
    splash.show();
    Settle();
    renderer.Save(&splash, "splash");
  }

  // Pages are reached as the user reaches them: through the header buttons, which also select
  // the button.
  main->HeaderButtonPressed(kButtonScan);
  Settle();
  auto* scan_page = qobject_cast<TfScan*>(main->Page(hpScan));
  if (scan_page == nullptr || main->CurrentPage() != hpScan) {
    renderer.Fail("scan-idle", "the scan page did not open");
    return 1;
  }
  renderer.Save(main.get(), "scan-idle");

  Answers answers;
  {
    controls::ScopedMessageAnswerer scope(&answers);

    // A full scan, caught part-way: the worker waits for the GUI thread at each report, so
    // nothing moves while the window is grabbed.
    scan_page->ScanButton()->click();
    if (!scan_page->Scanning()) {
      renderer.Fail("scan-running", "the scan did not start");
      return 1;
    }
    WaitFor([&] { return scan_page->ProgressBar()->value() >= 40 || !main->Busy(); });
    if (main->Busy()) {
      Settle();
      renderer.Save(main.get(), "scan-running");
    } else {
      renderer.Fail("scan-running", "the scan ended before it could be caught");
    }

    if (!WaitFor([&] { return !main->Busy(); })) {
      renderer.Fail("results-summary", "the scan did not end");
      return 1;
    }
    Settle();
    auto* results = qobject_cast<TfResults*>(main->Page(hpResults));
    if (results == nullptr || main->CurrentPage() != hpResults) {
      renderer.Fail("results-summary", "the scan found nothing: no results page");
      return 1;
    }
    renderer.Save(main.get(), "results-summary");

    // The details of the category with the most findings.
    scan::TRegScanner& scanner = main->Scanner();
    int busiest = 0;
    for (int c = 1; c < scan::kCategoryCount; ++c) {
      if (scanner.CategoryErrorCount(static_cast<scan::TErrorCategory>(c)) >
          scanner.CategoryErrorCount(static_cast<scan::TErrorCategory>(busiest))) {
        busiest = c;
      }
    }
    results->List()->ShowDetails(busiest);
    Settle();
    if (results->List()->View() == TRegErrorListBox::vDetails) {
      results->List()->setCurrentRow(0);
      Settle();
      renderer.Save(main.get(), "results-details");
    } else {
      renderer.Fail("results-details", "the details view did not open");
    }
    results->List()->ShowSummary();
    Settle();

    // Repair everything selected; the report follows.
    results->RepairButton()->click();
    WaitFor([&] { return !main->Busy() && main->CurrentPage() == hpReport; }, 60000);
    Settle();
    if (main->CurrentPage() == hpReport) {
      renderer.Save(main.get(), "report");
    } else {
      renderer.Fail("report", "the repair did not end on the report page");
    }

    // The snapshot of that repair.
    main->HeaderButtonPressed(kButtonRestore);
    Settle();
    auto* restore = qobject_cast<TfRestore*>(main->Page(hpRestore));
    if (restore != nullptr && main->CurrentPage() == hpRestore) {
      if (restore->Items()->count() == 0) renderer.Fail("restore", "no snapshot items listed");
      renderer.Save(main.get(), "restore");
    } else {
      renderer.Fail("restore", "the restore page did not open");
    }
  }

  // The real message dialog with a question the repair flow asks; grabbed once it is up, then
  // dismissed.
  bool grabbed = false;
  std::function<void(int)> grab_when_open = [&](int tries) {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || !dialog->isVisible()) {
      if (tries > 0) QTimer::singleShot(20, [&, tries] { grab_when_open(tries - 1); });
      return;
    }
    Settle();
    grabbed = renderer.Save(dialog, "message-dialog");
    if (auto* box = qobject_cast<QDialog*>(dialog)) box->reject();
    else dialog->close();
  };
  QTimer::singleShot(0, [&] { grab_when_open(250); });
  controls::ShowMessage(RescanQuestion(RescanWording(3 * 3600)), QStringLiteral("Hivemend"),
                        controls::kStyleWarning | controls::kStyleYesNoCancel);
  if (!grabbed) renderer.Fail("message-dialog", "the dialog did not show");

  main.reset();
  return renderer.failed() ? 1 : 0;
}

}  // namespace
}  // namespace hm::ui

int main(int argc, char** argv) {
  hm::ui::Options options;
  if (!hm::ui::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "%s", hm::ui::kUsage);
    return 2;
  }
  QTemporaryDir temp;
  if (!temp.isValid()) {
    std::fprintf(stderr, "hvmend-render-pages: no temporary folder\n");
    return 2;
  }
  // Without a display: the offscreen platform with one full-HD screen, so the window keeps its
  // natural size (the platform's default screen is smaller than the window).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    const QString config = QDir(temp.path()).filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly)) {
      file.write(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1920, )"
                 R"("height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
      file.close();
      qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
    } else {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
  }
  if (options.scale > 0) qputenv("QT_SCALE_FACTOR", QByteArray::number(options.scale));
  QApplication qt(argc, argv);
  return hm::ui::Run(qt, options, temp.path());
}
