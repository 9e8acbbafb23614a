#include "win32/window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "front/help_topics.h"
#include "win32/services.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

// GetDpiForWindow exists from Windows 10 on; earlier systems have one DPI
// for every screen.
GetDpiForWindowFunction DpiForWindowEntry() {
  static const auto entry = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return entry;
}

void RegisterClassOnce(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), className, &existing) != 0) {
    return;
  }
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className;
  RegisterClassExW(&windowClass);
}

}  // namespace

int Pixels(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), 1440);
}

RECT PixelRect(const Twips& place, UINT dpi) {
  const int left = Pixels(place.left, dpi);
  const int top = Pixels(place.top, dpi);
  return {left, top, left + Pixels(place.width, dpi), top + Pixels(place.height, dpi)};
}

UINT DpiOf(HWND window) {
  if (const auto entry = DpiForWindowEntry(); entry != nullptr && window != nullptr) {
    return entry(window);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi);
}

HFONT MakeFont(UINT dpi, Weight weight, int hundredthsOfPoints) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW font = metrics.lfMessageFont;
  // The metrics come at the system's DPI; the window's may differ.
  font.lfHeight = hundredthsOfPoints > 0 ? -MulDiv(hundredthsOfPoints, static_cast<int>(dpi), 7200)
                                         : MulDiv(font.lfHeight, static_cast<int>(dpi),
                                                  static_cast<int>(DpiOf(nullptr)));
  if (weight == Weight::Bold) {
    font.lfWeight = FW_BOLD;
  }
  return CreateFontIndirectW(&font);
}

Window::~Window() {
  if (handle_ != nullptr) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
  if (font_ != nullptr) {
    DeleteObject(font_);
  }
}

HWND Window::ControlNamed(const char* name) const {
  const auto found = std::find_if(controls_.begin(), controls_.end(), [name](const Control& c) {
    return std::strcmp(c.name, name) == 0;
  });
  return found == controls_.end() ? nullptr : found->handle;
}

void Window::Create(const wchar_t* className, const std::wstring& caption, DWORD style,
                    DWORD exStyle, Twips place, HWND owner) {
  RegisterClassOnce(className, &Window::Procedure);
  place_ = place;
  helpTopic_ = front::HelpTopicOf(Utf8(className));
  handle_ = CreateWindowExW(WS_EX_CONTROLPARENT | exStyle, className, caption.c_str(), style, 0, 0,
                            0, 0, owner, nullptr, GetModuleHandleW(nullptr), this);
  font_ = MakeFont(DpiOf(handle_));
}

HWND Window::AddControl(const char* name, const wchar_t* className, const std::wstring& caption,
                        DWORD style, int id, Twips place, HWND parent) {
  HWND control = CreateWindowExW(0, className, caption.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0,
                                 0, 0, parent != nullptr ? parent : handle_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  controls_.push_back({name, control, place, front::HelpTopicOf(name)});
  return control;
}

void Window::Layout(UINT dpi) {
  for (const Control& control : controls_) {
    const RECT place = PixelRect(control.place, dpi);
    SetWindowPos(control.handle, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (const auto& row : rows_) {
    FitPlaces(row, dpi);
  }
  // The designed size and place are those of the client area; the frame
  // grows around it.
  RECT frame = PixelRect(place_, dpi);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_EXSTYLE));
  AdjustWindowRectEx(&frame, style, GetMenu(handle_) != nullptr ? TRUE : FALSE, exStyle);
  SetWindowPos(handle_, nullptr, frame.left, frame.top, frame.right - frame.left,
               frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::FitRow(std::vector<const char*> names) {
  rows_.push_back(std::move(names));
  FitPlaces(rows_.back(), DpiOf(handle_));
}

void Window::FitPlaces(const std::vector<const char*>& names, UINT dpi) const {
  constexpr int kGapTwips = 60;
  int nextLeft = 0;
  HDC context = GetDC(handle_);
  for (const char* name : names) {
    HWND control = ControlNamed(name);
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    const int width = place.right - place.left;
    const int left = std::max<int>(place.left, nextLeft);
    int wanted = width;
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    if (_wcsicmp(className, WC_EDITW) != 0) {
      std::wstring caption(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
      caption.resize(static_cast<size_t>(
          GetWindowTextW(control, caption.data(), static_cast<int>(caption.size()))));
      const auto previous =
          SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
      SIZE extent{};
      GetTextExtentPoint32W(context, caption.c_str(), static_cast<int>(caption.size()), &extent);
      SelectObject(context, previous);
      // A check box's caption follows its box.
      const int box = _wcsicmp(className, WC_BUTTONW) == 0 ? Pixels(360, dpi) : 0;
      wanted = std::max<int>(width, extent.cx + box);
    }
    SetWindowPos(control, nullptr, left, place.top, wanted, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    nextLeft = left + wanted + Pixels(kGapTwips, dpi);
  }
  ReleaseDC(handle_, context);
}

void Window::Hide() {
  // The modal loop hides the window as it ends.
  shown_ = false;
}

std::optional<int> Window::FocusedButton(std::initializer_list<int> ids) const {
  const HWND focused = GetFocus();
  for (const int id : ids) {
    if (focused != nullptr && focused == GetDlgItem(handle_, id)) {
      return id;
    }
  }
  return std::nullopt;
}

std::optional<int> Window::ContextTopic() const {
  for (HWND focus = GetFocus(); focus != nullptr && focus != handle_; focus = GetParent(focus)) {
    const auto found = std::find_if(controls_.begin(), controls_.end(),
                                    [focus](const Control& c) { return c.handle == focus; });
    if (found != controls_.end() && found->helpTopic) {
      return found->helpTopic;
    }
  }
  return helpTopic_;
}

bool Window::ShowContextHelp(const MSG& message, HelpPages& help, HWND owner,
                             int windowTopic) const {
  if (message.message != WM_KEYDOWN || message.wParam != VK_F1) {
    return false;
  }
  help.ShowTopic(owner, ContextTopic().value_or(windowTopic));
  return true;
}

void Window::ShowModal(HWND owner) {
  Showing();
  EnableWindow(owner, FALSE);
  shown_ = true;
  ShowWindow(handle_, SW_SHOW);
  SetForegroundWindow(handle_);
  // The first control in tab order has the focus: OK on the dialogs. A box
  // of text has it all selected, as when tabbed to, so that typing replaces
  // it: a full box that kept its text would take no more characters.
  if (HWND first = GetNextDlgTabItem(handle_, nullptr, FALSE); first != nullptr) {
    SetFocus(first);
    if ((SendMessageW(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
      SendMessageW(first, EM_SETSEL, 0, -1);
    }
  }
  MSG message;
  while (shown_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The program is asked to end: the loop that runs it sees it too.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1) {
      break;
    }
    if (PreTranslate(message) || IsDialogMessageW(handle_, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  shown_ = false;
  // The owner takes input again before the window goes, so that it, not
  // another program, becomes the active window.
  EnableWindow(owner, TRUE);
  ShowWindow(handle_, SW_HIDE);
  SetActiveWindow(owner);
}

bool Window::PreTranslate(MSG&) {
  return false;
}

LRESULT Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: {
      // The document look: the user's window colours on every control.
      auto context = reinterpret_cast<HDC>(wParam);
      SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(context, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_DPICHANGED: {
      HFONT old = font_;
      font_ = MakeFont(HIWORD(wParam));
      for (const Control& control : controls_) {
        SendMessageW(control.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
      }
      DeleteObject(old);
      Layout(HIWORD(wParam));
      // The window goes where the system suggests, on the screen it moved to.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(handle_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_ACTIVATE:
      // The control that had the focus gets it back after help, a message
      // box or another program; the window itself would take it otherwise,
      // and its keys would reach no control.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        focusBeforeLeaving_ = IsChild(handle_, focus) ? focus : nullptr;
        return 0;
      }
      if (focusBeforeLeaving_ != nullptr && IsChild(handle_, focusBeforeLeaving_) &&
          IsWindowEnabled(focusBeforeLeaving_) && IsWindowVisible(focusBeforeLeaving_)) {
        SetFocus(focusBeforeLeaving_);
        return 0;
      }
      return DefWindowProcW(handle_, message, wParam, lParam);
    case WM_CLOSE:
      Hide();
      return 0;
    default:
      return DefWindowProcW(handle_, message, wParam, lParam);
  }
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->handle_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    // The handle is gone: the object no longer refers to it.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

int RunMessageLoop(Window& main) {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
    if (main.PreTranslate(message) || IsDialogMessageW(main.handle_, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return got == 0 ? static_cast<int>(message.wParam) : 1;
}

}  // namespace lapse::win32
