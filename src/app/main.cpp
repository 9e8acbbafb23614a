// The desktop program: the main window over the real settings store, help
// window, message boxes and text editor.
#include <QApplication>
#include <QMessageBox>
#include <exception>

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

}  // namespace

int main(int argc, char* argv[]) {
  Application application(argc, argv);
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
