// The program's own window for a text file (the run log), for where notepad
// cannot be started: some Windows editions leave it out.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

#include "win32/window.h"

namespace lapse::win32 {

// Read-only, in a fixed-width font, the file's path in the title; Esc or the
// close button hides it. Each line reads as UTF-8 where it is UTF-8 and in
// the ANSI code page where it is not.
class TextWindow final : public Window {
 public:
  TextWindow();
  ~TextWindow() override;

  // Shows the start of file, or why it cannot be read.
  void Show(const std::filesystem::path& file);
  std::wstring Text() const;

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void UseFixedFont(UINT dpi);

  HFONT fixedFont_ = nullptr;
};

}  // namespace lapse::win32
