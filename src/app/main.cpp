// The desktop program: the main window over the real settings store, help
// window, message boxes and text editor.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>

#include "platform/clock.h"
#include "platform/user_folders.h"
#include "state/version.h"
#include "ui/editor.h"
#include "ui/focus_style.h"
#include "ui/frm_main.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/program_icon.h"
#include "ui/qt_settings_store.h"

namespace {

// No exception may unwind through Qt's event loop: one that escapes an event
// handler ends the command it came from, with a message, not the program.
class Application final : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ReportUnexpected(QString::fromLocal8Bit(error.what()));
    } catch (...) {
      ReportUnexpected(QStringLiteral("unknown error"));
    }
    return false;
  }

 private:
  static void ReportUnexpected(const QString& what) {
    while (QApplication::overrideCursor() != nullptr) {
      QApplication::restoreOverrideCursor();
    }
    QMessageBox::critical(
        QApplication::activeWindow(), QStringLiteral("Lapse"),
        QStringLiteral("The command stopped on an unexpected error: %1.").arg(what));
  }
};

constexpr const char* kUsage =
    "Usage: lapse [--help] [--version]\n"
    "Opens Lapse's window on the folder it is started in: rewrites copies of\n"
    "the folder's HTML pages without their lapsed content, and puts them in\n"
    "place of the pages. lapse-cli does the same without a window (see\n"
    "lapse-cli --help, man lapse and man lapse-cli).\n";

// --version and --help are answered before any window, so that they work
// where there is no display. Qt's own options (-platform, -style) pass on.
std::optional<int> AnswerWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--version" || argument == "-v") {
      std::printf("lapse %s\n", LAPSE_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  }
  return std::nullopt;
}

#if !defined(_WIN32)
bool Unset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}

// Without a display Qt would abort the program with a core dump and advice
// to reinstall it.
bool NoDisplay() {
  return Unset("QT_QPA_PLATFORM") && Unset("DISPLAY") && Unset("WAYLAND_DISPLAY");
}
#endif

// A display that is named but cannot be reached is found by Qt alone, as a
// fatal message: said as ours, and an exit rather than an abort.
void EndOnFatalMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (type == QtFatalMsg) {
    std::fputs("lapse: the window cannot be opened; lapse-cli works without one.\n", stderr);
    std::_Exit(2);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (const auto answered = AnswerWithoutWindow(argc, argv)) {
    return *answered;
  }
#if !defined(_WIN32)
  if (NoDisplay()) {
    std::fputs(
        "lapse: there is no display to open the window on (neither DISPLAY nor "
        "WAYLAND_DISPLAY is set); lapse-cli works without one.\n",
        stderr);
    return 2;
  }
#endif
  const QtMessageHandler qtHandler = qInstallMessageHandler(EndOnFatalMessage);
  Application application(argc, argv);
  qInstallMessageHandler(qtHandler);
  QApplication::setApplicationName(QStringLiteral("Lapse"));
  QApplication::setApplicationVersion(QStringLiteral(LAPSE_VERSION));
  QApplication::setWindowIcon(lapse::ui::ProgramIcon());
  QApplication::setStyle(new lapse::ui::FocusStyle);

  lapse::ui::QtSettingsStore store;
  lapse::ui::HelpViewer help;
  lapse::ui::QtMessageBoxes messages;
  lapse::ui::DesktopEditor editor;
  lapse::batch::RunOptions run;
  run.locale = lapse::platform::UserDateLocale();
  run.clock = lapse::platform::LocalToday;
  lapse::ui::MainServices services{store, help, messages, editor, run};
  services.keepIn = lapse::platform::UserStateFolder();
  lapse::ui::frmMain window(std::move(services));
  window.show();
  const int result = QApplication::exec();

  if (store.WriteFailed()) {
    messages.Warn(QStringLiteral("The options could not be stored in %1; the next start uses the "
                                 "options stored before.")
                      .arg(lapse::ui::QtSettingsStore::Location(lapse::state::kApplicationName)));
  }
  return result;
}
