#include "win32/frm_about.h"

#include <commctrl.h>

#include "front/help_topics.h"
#include "state/version.h"

namespace lapse::win32 {

frmAbout::frmAbout(HelpPages& help, HWND owner) : help_(help), owner_(owner) {
  Create(L"frmAbout", L"About Lapse", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME,
         {3180, 1650, 4575, 2430}, owner);
  AddControl("cmdOK", WC_BUTTONW, L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
             {1800, 1800, 1335, 495});
  HWND picture =
      AddControl("imgAbout", WC_STATICW, L"", SS_ICON | SS_CENTERIMAGE, -1, {600, 240, 480, 480});
  AddControl("Label1", WC_STATICW, L"Lapse Version " LAPSE_VERSION_WIDE, SS_NOPREFIX, -1,
             {1800, 240, 1335, 255});
  // The 32-pixel image of the program's icon, at its natural size.
  icon_ = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
  SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
  Layout(DpiOf(Handle()));
  FitRow({"Label1"});
}

frmAbout::~frmAbout() {
  if (icon_ != nullptr) {
    DestroyIcon(icon_);
  }
}

bool frmAbout::PreTranslate(MSG& message) {
  if (message.message == WM_KEYDOWN && message.wParam == VK_F1) {
    help_.ShowTopic(owner_, helpTopic_.value_or(front::topic::kAbout));
    return true;
  }
  return false;
}

LRESULT frmAbout::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    Hide();
    return 0;
  }
  // Esc does nothing: the box has no cancel button.
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    return 0;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace lapse::win32
