#include "win32/frm_opt.h"

#include <commctrl.h>

#include "front/help_topics.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

enum Tab { kGeneralTab = 0, kNewTagsTab = 1 };

// The tab control's pages are windows of their own, children of the tab
// control, placed over its display area; their controls' notifications go
// up to the dialog.
LRESULT CALLBACK ForwardToDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR dialog) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return SendMessageW(reinterpret_cast<HWND>(dialog), message, wParam, lParam);
    default:
      return DefSubclassProc(window, message, wParam, lParam);
  }
}

std::string TextOf(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

}  // namespace

frmOpt::frmOpt(state::ProgramState& options, Prompts& prompts, HelpPages& help, HWND owner)
    : prompts_(prompts), help_(help), owner_(owner), logic_(*this, options) {
  Create(L"frmOpt", L"Options", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME,
         {3975, 5280, 4455, 3360}, owner);
  // Created in tab order.
  AddControl("cmdOK", WC_BUTTONW, L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
             {120, 2880, 975, 375});
  AddControl("cmdCancel", WC_BUTTONW, L"Cancel", WS_TABSTOP, IDCANCEL, {1200, 2880, 975, 375});
  AddControl("cmdApply", WC_BUTTONW, L"Apply", WS_TABSTOP, kCmdApply, {2280, 2880, 975, 375});
  AddControl("cmdHelp", WC_BUTTONW, L"Help", WS_TABSTOP, kCmdHelp, {3360, 2880, 975, 375});
  HWND tabs = AddControl("tabOpt", WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, kTabOpt,
                         {120, 120, 4215, 2655});
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"General");
  SendMessageW(tabs, TCM_INSERTITEMW, kGeneralTab, reinterpret_cast<LPARAM>(&item));
  item.pszText = const_cast<wchar_t*>(L"New Tags");
  SendMessageW(tabs, TCM_INSERTITEMW, kNewTagsTab, reinterpret_cast<LPARAM>(&item));
  SetWindowLongPtrW(tabs, GWL_EXSTYLE, GetWindowLongPtrW(tabs, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  SetWindowSubclass(tabs, ForwardToDialog, 1, reinterpret_cast<DWORD_PTR>(Handle()));

  // The controls of a tab are placed relative to the tab control.
  AddControl("lblDays", WC_STATICW, L"New tags expire after", 0, -1, {120, 600, 1695, 255}, tabs);
  AddControl("lblDays2", WC_STATICW, L"days", 0, -1, {2520, 600, 615, 255}, tabs);
  AddControl("txtDays", WC_EDITW, L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, kTxtDays,
             {1680, 600, 735, 285}, tabs);
  AddControl("lblLines1", WC_STATICW, L"Delete", 0, -1, {120, 1200, 735, 255}, tabs);
  AddControl("txtLines", WC_EDITW, L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, kTxtLines,
             {720, 1200, 615, 285}, tabs);
  AddControl("lblLines2", WC_STATICW, L"line(s) of text after tag", 0, -1, {1440, 1200, 2535, 255},
             tabs);
  AddControl("chkLog", WC_BUTTONW, L"Generate Log.txt file?", WS_TABSTOP | BS_AUTOCHECKBOX, kChkLog,
             {360, 720, 2055, 375}, tabs);
  AddControl("chkSubfolders", WC_BUTTONW, L"Include &subfolders", WS_TABSTOP | BS_AUTOCHECKBOX,
             kChkSubfolders, {360, 1320, 2055, 375}, tabs);
  Layout(DpiOf(Handle()));
  FitRow({"lblDays", "txtDays", "lblDays2"});
  FitRow({"lblLines1", "txtLines", "lblLines2"});
  FitRow({"chkLog"});
  FitRow({"chkSubfolders"});
  SelectTab(kNewTagsTab);
}

frmOpt::~frmOpt() = default;

int frmOpt::SelectedTab() const {
  return static_cast<int>(SendMessageW(ControlNamed("tabOpt"), TCM_GETCURSEL, 0, 0));
}

void frmOpt::SelectTab(int tab) {
  SendMessageW(ControlNamed("tabOpt"), TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
  const bool general = tab == kGeneralTab;
  for (const char* name : {"chkLog", "chkSubfolders"}) {
    ShowWindow(ControlNamed(name), general ? SW_SHOW : SW_HIDE);
  }
  for (const char* name :
       {"lblDays", "lblDays2", "txtDays", "lblLines1", "txtLines", "lblLines2"}) {
    ShowWindow(ControlNamed(name), general ? SW_HIDE : SW_SHOW);
  }
}

bool frmOpt::PreTranslate(MSG& message) {
  return ShowContextHelp(message, help_, owner_, front::topic::kOptions);
}

LRESULT frmOpt::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY:
      if (reinterpret_cast<const NMHDR*>(lParam)->code == TCN_SELCHANGE) {
        SelectTab(SelectedTab());
      }
      return 0;
    case WM_CLOSE:
      // The frame's close button applies nothing, like Cancel.
      logic_.Cancel();
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

void frmOpt::Command(int id, int notification) {
  switch (id) {
    case IDOK:
      // Enter on a focused button presses it; anywhere else it is OK's.
      if (const std::optional<int> button = FocusedButton({IDCANCEL, kCmdApply, kCmdHelp})) {
        Command(*button, BN_CLICKED);
        return;
      }
      logic_.Ok();
      return;
    case IDCANCEL:
      logic_.Cancel();
      return;
    case kCmdApply:
      logic_.Apply();
      return;
    case kCmdHelp:
      help_.ShowTopic(owner_, front::topic::kOptions);
      return;
    case kTxtDays:
    case kTxtLines:
      if (notification == EN_CHANGE) {
        logic_.FieldChanged();
      }
      return;
    case kChkLog:
    case kChkSubfolders:
      if (notification == BN_CLICKED) {
        logic_.FieldChanged();
      }
      return;
    default:
      return;
  }
}

void frmOpt::SetFields(const front::OptionFields& fields) {
  SetWindowTextW(ControlNamed("txtDays"), Wide(fields.days).c_str());
  SetWindowTextW(ControlNamed("txtLines"), Wide(fields.lines).c_str());
  SendMessageW(ControlNamed("chkLog"), BM_SETCHECK, fields.log ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(ControlNamed("chkSubfolders"), BM_SETCHECK,
               fields.subfolders ? BST_CHECKED : BST_UNCHECKED, 0);
}

front::OptionFields frmOpt::Fields() const {
  return {TextOf(ControlNamed("txtDays")), TextOf(ControlNamed("txtLines")),
          SendMessageW(ControlNamed("chkLog"), BM_GETCHECK, 0, 0) == BST_CHECKED,
          SendMessageW(ControlNamed("chkSubfolders"), BM_GETCHECK, 0, 0) == BST_CHECKED};
}

void frmOpt::EnableApply(bool enabled) {
  EnableWindow(ControlNamed("cmdApply"), enabled ? TRUE : FALSE);
}

void frmOpt::Warn(const std::string& text) {
  prompts_.Warn(Handle(), Wide(text));
}

void frmOpt::SelectField(messages::OptionNumber field) {
  SelectTab(kNewTagsTab);
  HWND box = ControlNamed(field == messages::OptionNumber::Days ? "txtDays" : "txtLines");
  SetFocus(box);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

}  // namespace lapse::win32
