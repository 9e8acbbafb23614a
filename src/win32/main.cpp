// The desktop program on Windows.
// windows.h comes before every other Windows header.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "engine/date.h"
#include "win32/frm_main.h"
#include "win32/services.h"
#include "win32/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  // A drive without a medium answers with an error, not with a system box.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  lapse::win32::RegistryStore store;
  lapse::win32::MessageBoxPrompts prompts;
  lapse::win32::BrowserHelp help;
  lapse::win32::Notepad editor;
  lapse::batch::RunSettings run;
  run.locale = lapse::engine::UserDateLocale();
  run.clock = lapse::engine::LocalToday;
  int result = 0;
  {
    lapse::win32::MainServices services{store, prompts, help, editor, run};
    // HOOK: the schedule dialog's next lapse day of a folder, which the
    // engine is to tell; the stub tells none.
    services.schedule.nextLapse = lapse::front::NoNextLapseDay;
    lapse::win32::frmMain window(services);
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
