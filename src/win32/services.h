// What the Win32 windows use of the world outside: message boxes, help,
// the text editor, the settings in the registry, drives and folders. The
// program passes the real ones, tests their own.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "front/drive_table.h"
#include "state/settings.h"

namespace lapse::win32 {

class TextWindow;

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Yes and No with the question icon (style 36); true for Yes.
  virtual bool AskYesNo(HWND owner, const std::wstring& text) = 0;
  // An OK button alone (style 0).
  virtual void Tell(HWND owner, const std::wstring& text) = 0;
  // An OK button and the warning icon.
  virtual void Warn(HWND owner, const std::wstring& text) = 0;
};

// MessageBoxW captioned "Lapse".
class MessageBoxPrompts final : public Prompts {
 public:
  bool AskYesNo(HWND owner, const std::wstring& text) override;
  void Tell(HWND owner, const std::wstring& text) override;
  void Warn(HWND owner, const std::wstring& text) override;
};

class HelpPages {
 public:
  virtual ~HelpPages() = default;
  virtual void ShowTopic(HWND owner, int topic) = 0;
  virtual void Close() = 0;
};

// The topic pages in the folder "help" beside the program, opened in the
// user's browser: every Windows has one, and nothing needs installing.
class BrowserHelp final : public HelpPages {
 public:
  void ShowTopic(HWND owner, int topic) override;
  // The browser's window is the user's; there is nothing of the program's to
  // close.
  void Close() override {}
};

class Editor {
 public:
  virtual ~Editor() = default;
  virtual bool Open(const std::filesystem::path& file) = 0;
};

// notepad.exe with the path as one quoted argument, started directly: no
// shell sees the path. Where notepad cannot be started, the file shows in a
// window of the program's own.
class Notepad final : public Editor {
 public:
  // program: the notepad to start; empty for the system's own.
  explicit Notepad(std::filesystem::path program = {});
  ~Notepad() override;
  Notepad(const Notepad&) = delete;
  Notepad& operator=(const Notepad&) = delete;

  bool Open(const std::filesystem::path& file) override;
  // The program's own window, once notepad could not be started.
  const TextWindow* OwnWindow() const { return window_.get(); }

 private:
  std::filesystem::path program_;
  std::unique_ptr<TextWindow> window_;
};

// The command line that starts notepad on file.
std::wstring NotepadCommandLine(const std::filesystem::path& file);

// The values under HKEY_CURRENT_USER\Software\APPLICATION, a subkey per
// section, each value a string.
class RegistryStore final : public state::SettingsStore {
 public:
  std::string Get(std::string_view application, std::string_view section, std::string_view key,
                  std::string_view defaultValue) override;
  void Set(std::string_view application, std::string_view section, std::string_view key,
           std::string_view value) override;
  // Whether a value could not be stored.
  bool WriteFailed() const { return writeFailed_; }

 private:
  bool writeFailed_ = false;
};

// The drives that have a root: letter and volume label.
std::vector<front::Drive> LogicalDrives();

// The folder's subfolders, or its files, with hidden and system ones left
// out, sorted without regard to case; why not, when it cannot be listed.
struct Listing {
  std::vector<std::wstring> names;
  std::string error;  // empty when listed
};
enum class EntryWanted { Folders, Files };
Listing ListFolder(const std::wstring& folder, EntryWanted wanted);

}  // namespace lapse::win32
