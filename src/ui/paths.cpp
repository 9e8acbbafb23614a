#include "ui/paths.h"

#include <QDir>
#include <QFile>

namespace lapse::ui {

QString ToQString(const std::filesystem::path& path) {
#if defined(_WIN32)
  return QString::fromStdWString(path.native());
#else
  // File names are bytes here; the file-name codec maps them both ways.
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

std::filesystem::path ToPath(const QString& path) {
#if defined(_WIN32)
  return std::filesystem::path(path.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString DisplayPath(const std::filesystem::path& path) {
  return QDir::toNativeSeparators(ToQString(path));
}

}  // namespace lapse::ui
