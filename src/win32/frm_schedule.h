// The schedule dialog of the Windows program.
#pragma once

#include <filesystem>

#include "front/schedule_logic.h"
#include "win32/services.h"
#include "win32/window.h"

namespace lapse::win32 {

enum ScheduleControlId : int {
  kCmdStop = 401,
  kCmdScheduleHelp,
  kTxtTime,
  kChkScheduleSubfolders,
};

class frmSchedule final : public Window, private front::ScheduleView {
 public:
  // owner is the main window, which every help call and message box is over.
  frmSchedule(front::ScheduleServices services, Prompts& prompts, HelpPages& help, HWND owner);
  ~frmSchedule() override;

  // Shows the dialog for folder until the user closes it; subfolders is the
  // options' choice.
  void Open(const std::filesystem::path& folder, bool subfolders);
  // Fills the dialog for folder without showing it.
  void Load(const std::filesystem::path& folder, bool subfolders);

 private:
  void Showing() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslate(MSG& message) override;
  void Command(int id, int notification);

  void Show(const front::ScheduleState& state) override;
  void SetFields(const front::ScheduleFields& fields) override;
  front::ScheduleFields Fields() const override;
  void EnableStop(bool enabled) override;
  void Tell(const std::string& text) override;
  void Warn(const std::string& text) override;
  void SelectTime() override;
  void Hide() override { Window::Hide(); }
  // Gives the wrapped texts the lines they take, measured as drawn.
  void FitTexts();
  // The named control's place as designed.
  Twips PlaceOf(const char* name) const;

  Prompts& prompts_;
  HelpPages& help_;
  HWND owner_;
  front::ScheduleLogic logic_;
  std::filesystem::path folder_;
  bool subfolders_ = false;
  bool loaded_ = false;
  UINT dpi_ = 0;  // the DPI the controls are laid out at
};

}  // namespace lapse::win32
