// The desktop program on Windows.
// windows.h comes before every other Windows header.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "platform/clock.h"
#include "platform/user_folders.h"
#include "win32/frm_main.h"
#include "win32/services.h"
#include "win32/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  // A drive without a medium answers with an error, not with a system box.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  lapse::win32::RegistryStore store;
  lapse::win32::MessageBoxPrompts prompts;
  lapse::win32::BrowserHelp help;
  lapse::win32::Notepad editor;
  lapse::batch::RunOptions run;
  run.locale = lapse::platform::UserDateLocale();
  run.clock = lapse::platform::LocalToday;
  int result = 0;
  {
    lapse::win32::MainServices services{store, prompts, help, editor, run};
    services.keepIn = lapse::platform::UserStateFolder();
    lapse::win32::frmMain window(std::move(services));
    ShowWindow(window.Handle(), show);
    result = lapse::win32::RunMessageLoop(window);
  }
  if (store.WriteFailed()) {
    prompts.Warn(nullptr, L"The options could not be stored in HKEY_CURRENT_USER\\Software\\" +
                              lapse::win32::Wide(lapse::state::kApplicationName) +
                              L"; the next start uses the options stored before.");
  }
  return result;
}
