#include "win32/frm_schedule.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>

#include "front/help_topics.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

// Texts that name folders: an & in them is a character, not an access key.
constexpr DWORD kText = SS_LEFT | SS_NOPREFIX;
// The client area as designed, in twips.
constexpr int kWidth = 6000;
constexpr int kHeight = 3795;

std::wstring WideTextOf(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string TextOf(HWND control) {
  return Utf8(WideTextOf(control));
}

// The height in pixels that the static control's text takes, wrapped at
// width as the control wraps it.
int TextHeight(HWND control, int width) {
  const std::wstring text = WideTextOf(control);
  HDC context = GetDC(control);
  const auto previous =
      SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT bounds{0, 0, width, 0};
  DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &bounds,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  SelectObject(context, previous);
  ReleaseDC(control, context);
  return bounds.bottom - bounds.top;
}

}  // namespace

frmSchedule::frmSchedule(front::ScheduleServices services, Prompts& prompts, HelpPages& help,
                         HWND owner)
    : prompts_(prompts), help_(help), owner_(owner), logic_(*this, std::move(services)) {
  Create(L"frmSchedule", L"Schedule", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME,
         {3300, 4800, kWidth, kHeight}, owner);
  // Created in tab order: the time first, the buttons last.
  AddControl("lblTime", WC_STATICW, L"Update every day &at", SS_LEFT, -1, {120, 1350, 2100, 255});
  AddControl("txtTime", WC_EDITW, L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, kTxtTime,
             {2280, 1320, 735, 285});
  SendMessageW(ControlNamed("txtTime"), EM_LIMITTEXT, 5, 0);
  AddControl("lblTimeForm", WC_STATICW, L"(HH:MM, this computer's time)", SS_LEFT, -1,
             {3120, 1350, 2760, 255});
  AddControl("chkSubfolders", WC_BUTTONW, L"Include &subfolders", WS_TABSTOP | BS_AUTOCHECKBOX,
             kChkScheduleSubfolders, {2280, 1740, 3600, 375});
  AddControl("cmdSchedule", WC_BUTTONW, L"&Schedule", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
             {120, 3300, 1335, 375});
  AddControl("cmdStop", WC_BUTTONW, L"S&top", WS_TABSTOP, kCmdStop, {1560, 3300, 1335, 375});
  AddControl("cmdClose", WC_BUTTONW, L"Close", WS_TABSTOP, IDCANCEL, {3000, 3300, 1335, 375});
  AddControl("cmdHelp", WC_BUTTONW, L"Help", WS_TABSTOP, kCmdScheduleHelp, {4440, 3300, 1335, 375});
  AddControl("lblFolder", WC_STATICW, L"Folder:", SS_LEFT, -1, {120, 120, 2100, 255});
  // A long path shows with "..." in its middle.
  AddControl("txtFolder", WC_STATICW, L"", kText | SS_PATHELLIPSIS, -1, {2280, 120, 3600, 255});
  AddControl("lblStatus", WC_STATICW, L"", kText, -1, {120, 720, 5760, 480});
  AddControl("lblNextLapse", WC_STATICW, L"Next change here:", SS_LEFT, -1, {120, 2280, 2100, 255});
  AddControl("txtNextLapse", WC_STATICW, L"", kText, -1, {2280, 2280, 3600, 255});
  AddControl("lblLastUpdate", WC_STATICW, L"Last update:", SS_LEFT, -1, {120, 2640, 2100, 255});
  AddControl("txtLastUpdate", WC_STATICW, L"", kText, -1, {2280, 2640, 3600, 480});
  dpi_ = DpiOf(Handle());
  Layout(dpi_);
  FitRow({"lblTime", "txtTime", "lblTimeForm"});
  FitRow({"chkSubfolders"});
}

frmSchedule::~frmSchedule() = default;

void frmSchedule::Load(const std::filesystem::path& folder, bool subfolders) {
  folder_ = folder;
  subfolders_ = subfolders;
  logic_.Activate(folder_, subfolders_);
  loaded_ = true;
}

void frmSchedule::Open(const std::filesystem::path& folder, bool subfolders) {
  folder_ = folder;
  subfolders_ = subfolders;
  loaded_ = false;
  ShowModal(owner_);
}

void frmSchedule::Showing() {
  if (!loaded_) {
    logic_.Activate(folder_, subfolders_);
  }
  loaded_ = false;
}

bool frmSchedule::PreTranslate(MSG& message) {
  return ShowContextHelp(message, help_, owner_, front::topic::kSchedule);
}

LRESULT frmSchedule::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      logic_.Close();
      return 0;
    case WM_DPICHANGED: {
      // The layout at the new DPI is the designed one: the texts fit anew,
      // at the DPI the message gives, which a system without
      // GetDpiForWindow cannot tell of the window.
      const LRESULT result = Window::OnMessage(message, wParam, lParam);
      dpi_ = HIWORD(wParam);
      FitTexts();
      return result;
    }
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

void frmSchedule::Command(int id, int notification) {
  switch (id) {
    case IDOK:
      // Enter on a focused button presses it; anywhere else it is Schedule's.
      if (const std::optional<int> button = FocusedButton({kCmdStop, IDCANCEL, kCmdScheduleHelp})) {
        Command(*button, BN_CLICKED);
        return;
      }
      logic_.Schedule();
      return;
    case kCmdStop:
      logic_.Stop();
      return;
    case IDCANCEL:
      logic_.Close();
      return;
    case kCmdScheduleHelp:
      help_.ShowTopic(owner_, front::topic::kSchedule);
      return;
    case kChkScheduleSubfolders:
      if (notification == BN_CLICKED) {
        logic_.SubfoldersChanged();
      }
      return;
    default:
      return;
  }
}

void frmSchedule::Show(const front::ScheduleState& state) {
  SetWindowTextW(ControlNamed("txtFolder"), Wide(state.folder).c_str());
  SetWindowTextW(ControlNamed("lblStatus"), Wide(state.status).c_str());
  SetWindowTextW(ControlNamed("txtNextLapse"), Wide(state.nextChange).c_str());
  SetWindowTextW(ControlNamed("txtLastUpdate"), Wide(state.lastUpdate).c_str());
  FitTexts();
}

void frmSchedule::FitTexts() {
  // The places as designed hold two lines of each wrapped text; a longer
  // text pushes down what is below it, and the dialog grows.
  const UINT dpi = dpi_;
  const Twips status = PlaceOf("lblStatus");
  const Twips lastUpdate = PlaceOf("txtLastUpdate");
  const int statusGrowth =
      std::max(0, TextHeight(ControlNamed("lblStatus"), Pixels(status.width, dpi)) -
                      Pixels(status.height, dpi));
  const int lastUpdateGrowth =
      std::max(0, TextHeight(ControlNamed("txtLastUpdate"), Pixels(lastUpdate.width, dpi)) -
                      Pixels(lastUpdate.height, dpi));
  for (const Control& control : Controls()) {
    RECT place;
    GetWindowRect(control.handle, &place);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&place), 2);
    int top = PixelRect(control.place, dpi).top;
    int height = place.bottom - place.top;
    if (control.place.top >= status.top + status.height) {
      top += statusGrowth;
    }
    if (control.place.top >= lastUpdate.top + lastUpdate.height) {
      top += lastUpdateGrowth;
    }
    if (control.handle == ControlNamed("lblStatus")) {
      height = Pixels(status.height, dpi) + statusGrowth;
    } else if (control.handle == ControlNamed("txtLastUpdate")) {
      height = Pixels(lastUpdate.height, dpi) + lastUpdateGrowth;
    }
    SetWindowPos(control.handle, nullptr, place.left, top, place.right - place.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The client area grows; the window stays where it is.
  RECT client{0, 0, Pixels(kWidth, dpi), Pixels(kHeight, dpi) + statusGrowth + lastUpdateGrowth};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE));
  AdjustWindowRectEx(&client, style, FALSE, exStyle);
  SetWindowPos(Handle(), nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // What the controls left behind where they stood is painted over, and
  // each is drawn where it stands now.
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

Twips frmSchedule::PlaceOf(const char* name) const {
  for (const Control& control : Controls()) {
    if (std::string_view(control.name) == name) {
      return control.place;
    }
  }
  return {};
}

void frmSchedule::SetFields(const front::ScheduleFields& fields) {
  SetWindowTextW(ControlNamed("txtTime"), Wide(fields.at).c_str());
  SendMessageW(ControlNamed("chkSubfolders"), BM_SETCHECK,
               fields.subfolders ? BST_CHECKED : BST_UNCHECKED, 0);
}

front::ScheduleFields frmSchedule::Fields() const {
  const std::string text = TextOf(ControlNamed("txtTime"));
  const size_t first = text.find_first_not_of(' ');
  const std::string at = first == std::string::npos
                             ? std::string()
                             : text.substr(first, text.find_last_not_of(' ') - first + 1);
  return {at, SendMessageW(ControlNamed("chkSubfolders"), BM_GETCHECK, 0, 0) == BST_CHECKED};
}

void frmSchedule::EnableStop(bool enabled) {
  HWND stop = ControlNamed("cmdStop");
  // A button that goes off while it has the focus would leave the dialog
  // without one, and its keys unread: the focus moves to Schedule.
  if (!enabled && GetFocus() == stop) {
    SetFocus(ControlNamed("cmdSchedule"));
  }
  EnableWindow(stop, enabled ? TRUE : FALSE);
}

void frmSchedule::Tell(const std::string& text) {
  prompts_.Tell(Handle(), Wide(text));
}

void frmSchedule::Warn(const std::string& text) {
  prompts_.Warn(Handle(), Wide(text));
}

void frmSchedule::SelectTime() {
  HWND box = ControlNamed("txtTime");
  SetFocus(box);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

}  // namespace lapse::win32
