#include "ui/editor.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "ui/paths.h"

namespace lapse::ui {

bool DesktopEditor::Open(const std::filesystem::path& file) {
#if defined(_WIN32)
  return QProcess::startDetached(QStringLiteral("notepad.exe"), {ToQString(file)});
#else
  return QDesktopServices::openUrl(QUrl::fromLocalFile(ToQString(file)));
#endif
}

}  // namespace lapse::ui
