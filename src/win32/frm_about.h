// The about box of the Windows program.
#pragma once

#include "win32/services.h"
#include "win32/window.h"

namespace lapse::win32 {

class frmAbout final : public Window {
 public:
  frmAbout(HelpPages& help, HWND owner);
  ~frmAbout() override;

 private:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslate(MSG& message) override;

  HelpPages& help_;
  HWND owner_;
  HICON icon_ = nullptr;
};

}  // namespace lapse::win32
