#include "win32/text_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>
#include <system_error>

#include "front/shown_text.h"
#include "messages/messages.h"
#include "text/names.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

constexpr int kTxtText = 101;

std::wstring Decoded(std::string_view bytes, UINT codePage) {
  if (bytes.empty()) {
    return {};
  }
  const int size =
      MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return wide;
}

// An edit control breaks lines at CR LF only.
std::wstring WithCrLf(const std::wstring& text) {
  std::wstring lines;
  lines.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == L'\n' && (at == 0 || text[at - 1] != L'\r')) {
      lines += L'\r';
    }
    lines += text[at];
  }
  return lines;
}

// Reads up to size bytes; false with the reason on failure.
bool ReadUpTo(HANDLE file, std::string& bytes, size_t size, std::error_code& error) {
  bytes.resize(size);
  size_t got = 0;
  while (got < size) {
    DWORD read = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(size - got, 1 << 20));
    if (ReadFile(file, bytes.data() + got, want, &read, nullptr) == 0) {
      error.assign(static_cast<int>(GetLastError()), std::system_category());
      return false;
    }
    if (read == 0) {
      break;
    }
    got += read;
  }
  bytes.resize(got);
  return true;
}

std::wstring ShownTextOf(const std::filesystem::path& file) {
  std::error_code error;
  std::string start;
  std::string beyond;
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error.assign(static_cast<int>(GetLastError()), std::system_category());
  } else {
    if (ReadUpTo(handle, start, front::kMostShown, error)) {
      ReadUpTo(handle, beyond, 1, error);
    }
    CloseHandle(handle);
  }
  if (error) {
    return Wide("Cannot read " + text::DisplayName(file) + ": " + messages::Reason(error) + ".");
  }
  const front::ShownText shown = front::TextToShow(start, !beyond.empty());
  std::wstring text;
  for (const front::TextRun& run : shown.runs) {
    text += Decoded(run.bytes, run.encoding == front::TextEncoding::Utf8 ? CP_UTF8 : CP_ACP);
  }
  if (shown.cut) {
    text += L"\n(The rest of the file is not shown here.)";
  }
  return WithCrLf(text);
}

// Esc in the text closes the window, as in the program's other windows.
LRESULT CALLBACK EscapeCloses(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
  if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
    PostMessageW(GetParent(edit), WM_CLOSE, 0, 0);
    return 0;
  }
  if (message == WM_GETDLGCODE && lParam != 0 &&
      reinterpret_cast<const MSG*>(lParam)->wParam == VK_ESCAPE) {
    return DLGC_WANTALLKEYS;
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

TextWindow::TextWindow() {
  Create(L"frmText", L"", WS_OVERLAPPEDWINDOW, 0, {2400, 2400, 10800, 7200}, nullptr);
  HWND edit = AddControl(
      "txtText", WC_EDITW, L"",
      WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
      kTxtText, {0, 0, 10800, 7200});
  // The largest text an edit control takes; a log is cut well below it.
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  SetWindowSubclass(edit, EscapeCloses, 0, 0);
  UseFixedFont(DpiOf(Handle()));
  Layout(DpiOf(Handle()));
}

TextWindow::~TextWindow() {
  if (HWND edit = ControlNamed("txtText"); edit != nullptr) {
    RemoveWindowSubclass(edit, EscapeCloses, 0);
  }
  if (fixedFont_ != nullptr) {
    DeleteObject(fixedFont_);
  }
}

void TextWindow::Show(const std::filesystem::path& file) {
  SetWindowTextW(Handle(), Wide(front::TextWindowTitle(file)).c_str());
  SetWindowTextW(ControlNamed("txtText"), ShownTextOf(file).c_str());
  ShowWindow(Handle(), SW_SHOWNORMAL);
  SetForegroundWindow(Handle());
  SetFocus(ControlNamed("txtText"));
}

std::wstring TextWindow::Text() const {
  HWND edit = ControlNamed("txtText");
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
  return text;
}

void TextWindow::UseFixedFont(UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(10, static_cast<int>(dpi), 72);
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  constexpr std::wstring_view kFace = L"Consolas";
  std::copy(kFace.begin(), kFace.end(), font.lfFaceName);
  HFONT old = fixedFont_;
  fixedFont_ = CreateFontIndirectW(&font);
  SendMessageW(ControlNamed("txtText"), WM_SETFONT, reinterpret_cast<WPARAM>(fixedFont_), TRUE);
  if (old != nullptr) {
    DeleteObject(old);
  }
}

LRESULT TextWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      // The text fills the window, whatever size the user gives it.
      MoveWindow(ControlNamed("txtText"), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_DPICHANGED: {
      const LRESULT result = Window::OnMessage(message, wParam, lParam);
      UseFixedFont(HIWORD(wParam));
      return result;
    }
    case WM_CLOSE:
      ShowWindow(Handle(), SW_HIDE);
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

}  // namespace lapse::win32
