#include "ui/editor.h"

#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QVBoxLayout>

#include "front/coming_logic.h"
#include "front/shown_text.h"
#include "ui/paths.h"

#if !defined(_WIN32)
#include <langinfo.h>
#endif

namespace lapse::ui {

namespace {

// Text in the platform's 8-bit code page: the ANSI code page on Windows;
// elsewhere the locale's character set where that is an 8-bit one, else
// Latin-1, in which pages written on such systems mostly come.
QString EightBitText(QByteArrayView bytes) {
#if defined(_WIN32)
  return QString::fromLocal8Bit(bytes);
#else
  const QByteArray charset(nl_langinfo(CODESET));
  if (charset != "UTF-8" && charset != "ANSI_X3.4-1968") {
    if (QStringDecoder decoder(charset.constData()); decoder.isValid()) {
      return decoder.decode(bytes);
    }
  }
  return QString::fromLatin1(bytes);
#endif
}

QString ShownTextOf(QFile& in) {
  const QByteArray start = in.read(static_cast<qint64>(front::kMostShown));
  const front::ShownText shown = front::TextToShow(
      std::string_view(start.constData(), static_cast<std::size_t>(start.size())), !in.atEnd());
  QString text;
  for (const front::TextRun& run : shown.runs) {
    const QByteArrayView bytes(run.bytes.data(), static_cast<qsizetype>(run.bytes.size()));
    text +=
        run.encoding == front::TextEncoding::Utf8 ? QString::fromUtf8(bytes) : EightBitText(bytes);
  }
  if (shown.cut) {
    text += QStringLiteral("\n(The rest of the file is not shown here.)");
  }
  return text;
}

}  // namespace

void ShowTextWindow(const std::filesystem::path& file) {
  auto* window = new QDialog(nullptr, Qt::Window);
  window->setObjectName(QStringLiteral("frmText"));
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(QString::fromStdString(front::TextWindowTitle(file)));
  auto* text = new QPlainTextEdit(window);
  text->setObjectName(QStringLiteral("txtText"));
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QFile in(ToQString(file));
  if (in.open(QIODevice::ReadOnly)) {
    text->setPlainText(ShownTextOf(in));
  } else {
    text->setPlainText(
        QStringLiteral("Cannot read %1: %2.").arg(DisplayPath(file), in.errorString()));
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
  QObject::connect(opener, &QProcess::errorOccurred, opener,
                   [showHere](QProcess::ProcessError error) {
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

bool DesktopEditor::OpenAt(const std::filesystem::path& file, std::uint64_t line) {
#if defined(_WIN32)
  return Open(file);
#else
  QString editor = qEnvironmentVariable("VISUAL");
  if (editor.trimmed().isEmpty()) {
    editor = qEnvironmentVariable("EDITOR");
  }
  const QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
  const std::optional<front::EditorCommand> command =
      front::EditorAtLine(editor.toStdString(), terminal.toStdString(), file, line);
  if (!command) {
    return Open(file);
  }
  QStringList arguments;
  for (const std::string& argument : command->arguments) {
    arguments.push_back(QString::fromStdString(argument));
  }
  // Without a shell, so that nothing in the path is read as a command.
  return QProcess::startDetached(QString::fromStdString(command->program), arguments) || Open(file);
#endif
}

}  // namespace lapse::ui
