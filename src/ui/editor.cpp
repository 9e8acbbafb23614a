#include "ui/editor.h"

#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QVBoxLayout>

#include "ui/paths.h"

namespace lapse::ui {

namespace {

// A log can hold a lapsed block of any size; the window shows its start.
constexpr qint64 kMostShown = qint64{16} * 1024 * 1024;

}  // namespace

void ShowTextWindow(const std::filesystem::path& file) {
  auto* window = new QDialog(nullptr, Qt::Window);
  window->setObjectName(QStringLiteral("frmText"));
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(DisplayPath(file));
  auto* text = new QPlainTextEdit(window);
  text->setObjectName(QStringLiteral("txtText"));
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QFile in(ToQString(file));
  if (in.open(QIODevice::ReadOnly)) {
    QString shown = QString::fromUtf8(in.read(kMostShown));
    if (!in.atEnd()) {
      shown += QStringLiteral("\n(The rest of the file is not shown here.)");
    }
    text->setPlainText(shown);
  } else {
    text->setPlainText(QStringLiteral("Cannot read %1: %2.").arg(DisplayPath(file), in.errorString()));
  }
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text);
  window->resize(720, 480);
  window->show();
}

bool DesktopEditor::Open(const std::filesystem::path& file) {
#if defined(_WIN32)
  return QProcess::startDetached(QStringLiteral("notepad.exe"), {ToQString(file)});
#else
  auto* opener = new QProcess;
  const auto showHere = [opener, file] {
    opener->deleteLater();
    ShowTextWindow(file);
  };
  QObject::connect(opener, &QProcess::errorOccurred, opener, [showHere](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      showHere();
    }
  });
  QObject::connect(opener, &QProcess::finished, opener,
                   [opener, showHere](int exitCode, QProcess::ExitStatus status) {
                     if (exitCode != 0 || status != QProcess::NormalExit) {
                       showHere();
                     } else {
                       opener->deleteLater();
                     }
                   });
  // The opener's own complaints would only reach a terminal nobody reads.
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  opener->start(opener_, {ToQString(file)});
  return true;
#endif
}

}  // namespace lapse::ui
