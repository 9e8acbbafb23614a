#include "win32/frm_schedule.h"

#include <commctrl.h>

#include "front/help_topics.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

// Texts that name folders: an & in them is a character, not an access key.
constexpr DWORD kText = SS_LEFT | SS_NOPREFIX;

std::string TextOf(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

}  // namespace

frmSchedule::frmSchedule(front::ScheduleServices services, Prompts& prompts, HelpPages& help,
                         HWND owner)
    : prompts_(prompts), help_(help), owner_(owner), logic_(*this, std::move(services)) {
  Create(L"frmSchedule", L"Schedule", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME,
         {3300, 4800, 6000, 3795}, owner);
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
  AddControl("lblLastUpdate", WC_STATICW, L"Last automatic update:", SS_LEFT, -1,
             {120, 2640, 2100, 255});
  AddControl("txtLastUpdate", WC_STATICW, L"", kText, -1, {2280, 2640, 3600, 480});
  Layout(DpiOf(Handle()));
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
