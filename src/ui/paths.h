// Paths between the core's std::filesystem and Qt's text.
#pragma once

#include <QString>
#include <filesystem>

namespace lapse::ui {

QString ToQString(const std::filesystem::path& path);
std::filesystem::path ToPath(const QString& path);

// A path as the user reads it, with the platform's separators.
QString DisplayPath(const std::filesystem::path& path);

}  // namespace lapse::ui
