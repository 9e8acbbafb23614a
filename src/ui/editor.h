// Opens a text file in the platform's text editor.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>

namespace lapse::ui {

class EditorLauncher {
 public:
  virtual ~EditorLauncher() = default;
  // Starts the editor on file and returns at once; false when it could not be
  // started.
  virtual bool Open(const std::filesystem::path& file) = 0;
  // The same at line, where the editor can be told one; else as Open.
  virtual bool OpenAt(const std::filesystem::path& file, std::uint64_t /*line*/) {
    return Open(file);
  }
};

// "notepad.exe" on Windows, elsewhere the desktop's opener (xdg-open) for
// the file. The path goes over as one argument, never through a shell, so
// blanks or dashes in it cannot split it or add options. Where the opener
// cannot show the file (it does not start, or it ends with an error), the
// file shows in a window of the program's own.
class DesktopEditor final : public EditorLauncher {
 public:
  explicit DesktopEditor(QString opener = QStringLiteral("xdg-open"))
      : opener_(std::move(opener)) {}
  bool Open(const std::filesystem::path& file) override;
  // The user's editor (VISUAL, else EDITOR) where it is known to take a
  // line, a terminal one in x-terminal-emulator; else as Open.
  bool OpenAt(const std::filesystem::path& file, std::uint64_t line) override;

 private:
  QString opener_;
};

// A read-only window with the text of file, in a fixed-width font, its path
// in the title; Esc closes it. It deletes itself when closed.
void ShowTextWindow(const std::filesystem::path& file);

}  // namespace lapse::ui
