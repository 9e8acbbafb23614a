// A small window that shows how far a long run, replace or undo has come:
// a count, the page at hand and a bar.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>

namespace lapse::win32 {

// Shows itself once the work has taken about a second; until then, and for
// short work, nothing shows. It takes no input; the owner repaints while it
// is up.
class ProgressWindow {
 public:
  explicit ProgressWindow(HWND owner);
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // done of total pages, one step per page; current is the page at hand.
  void Advance(std::uint64_t done, std::uint64_t total, const std::filesystem::path& current);

 private:
  void Make();

  HWND owner_;
  HWND window_ = nullptr;
  HWND text_ = nullptr;
  HWND bar_ = nullptr;
  HFONT font_ = nullptr;
  ULONGLONG started_;
  ULONGLONG painted_ = 0;
};

}  // namespace lapse::win32
