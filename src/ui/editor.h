// Opens a text file in the platform's text editor.
#pragma once

#include <filesystem>

namespace lapse::ui {

class EditorLauncher {
 public:
  virtual ~EditorLauncher() = default;
  // Starts the editor on file and returns at once; false when it could not be
  // started.
  virtual bool Open(const std::filesystem::path& file) = 0;
};

// "notepad.exe" on Windows, elsewhere the desktop's default application for
// the file. The path goes over as one argument, never through a shell, so
// blanks or dashes in it cannot split it or add options.
class DesktopEditor final : public EditorLauncher {
 public:
  bool Open(const std::filesystem::path& file) override;
};

}  // namespace lapse::ui
