// The options dialog of the Windows program.
#pragma once

#include "front/options_logic.h"
#include "win32/services.h"
#include "win32/window.h"

namespace lapse::win32 {

enum OptionsControlId : int {
  kCmdApply = 301,
  kCmdHelp,
  kTabOpt,
  kTxtDays,
  kTxtLines,
  kChkLog,
  kChkSubfolders,
};

class frmOpt final : public Window, private front::OptionsView {
 public:
  // owner is the main window: it owns the dialog and every help call.
  frmOpt(state::ProgramState& options, Prompts& prompts, HelpPages& help, HWND owner);
  ~frmOpt() override;

  // The tab shown: 0 "General", 1 "New Tags".
  int SelectedTab() const;
  void SelectTab(int tab);

 private:
  void Showing() override { logic_.Activate(); }
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslate(MSG& message) override;
  void Command(int id, int notification);

  void SetFields(const front::OptionFields& fields) override;
  front::OptionFields Fields() const override;
  void EnableApply(bool enabled) override;
  void Warn(const std::string& text) override;
  void SelectField(messages::OptionNumber field) override;
  void Hide() override { Window::Hide(); }

  Prompts& prompts_;
  HelpPages& help_;
  HWND owner_;
  front::OptionsLogic logic_;
};

}  // namespace lapse::win32
