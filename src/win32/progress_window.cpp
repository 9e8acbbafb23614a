#include "win32/progress_window.h"

#include <commctrl.h>

#include <string>

#include "win32/window.h"

namespace lapse::win32 {

namespace {

constexpr ULONGLONG kShowAfterMs = 1000;
constexpr ULONGLONG kRepaintEveryMs = 100;

// Paints what waits to be painted, in every window of the program, and
// drops no input: the input stays queued for after the work.
void PaintPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE) != 0) {
    DispatchMessageW(&message);
  }
}

}  // namespace

ProgressWindow::ProgressWindow(HWND owner) : owner_(owner), started_(GetTickCount64()) {}

ProgressWindow::~ProgressWindow() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
  }
  if (font_ != nullptr) {
    DeleteObject(font_);
  }
}

void ProgressWindow::Advance(std::uint64_t done, std::uint64_t total,
                             const std::filesystem::path& current) {
  const ULONGLONG now = GetTickCount64();
  if (now - started_ < kShowAfterMs || now - painted_ < kRepaintEveryMs) {
    return;
  }
  painted_ = now;
  if (window_ == nullptr) {
    Make();
  }
  const std::wstring text =
      std::to_wstring(done) + L" of " + std::to_wstring(total) + L" files\n" + current.native();
  SetWindowTextW(text_, text.c_str());
  // The bar's range is an int: a count past it shows as a share of a
  // thousand.
  const bool large = total > 1'000'000;
  SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(large ? 1000 : total));
  SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(large ? done * 1000 / total : done), 0);
  PaintPending();
}

// The window is of the dialog class, which paints its background and
// nothing else: a static control would draw its title, "Lapse", across it.
void ProgressWindow::Make() {
  const UINT dpi = DpiOf(owner_);
  RECT place = {0, 0, Pixels(5400, dpi), Pixels(1260, dpi)};
  AdjustWindowRectEx(&place, WS_POPUP | WS_CAPTION, FALSE, WS_EX_DLGMODALFRAME);
  RECT ownerPlace;
  GetWindowRect(owner_, &ownerPlace);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  window_ = CreateWindowExW(WS_EX_DLGMODALFRAME, WC_DIALOG, L"Lapse", WS_POPUP | WS_CAPTION,
                            ownerPlace.left + Pixels(600, dpi), ownerPlace.top + Pixels(1800, dpi),
                            place.right - place.left, place.bottom - place.top, owner_, nullptr,
                            instance, nullptr);
  text_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP,
                          Pixels(120, dpi), Pixels(120, dpi), Pixels(5160, dpi), Pixels(660, dpi),
                          window_, nullptr, instance, nullptr);
  bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, Pixels(120, dpi),
                         Pixels(840, dpi), Pixels(5160, dpi), Pixels(300, dpi), window_, nullptr,
                         instance, nullptr);
  font_ = MakeFont(dpi);
  SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  ShowWindow(window_, SW_SHOWNOACTIVATE);
}

}  // namespace lapse::win32
