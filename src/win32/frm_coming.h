// The "Coming up" window of the Windows program: the dated tags of the
// opened folder by the day they change it, and the selected row's page on a
// chosen day beside the page as it is now.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "front/coming_logic.h"
#include "platform/disk.h"
#include "win32/services.h"
#include "win32/window.h"

namespace lapse::win32 {

enum ComingControlId : int {
  kLvwComing = 501,
  kDtpLookAt,
  kLstNow,
  kLstOnDay,
};

// What the window uses of the world outside.
struct ComingServices {
  Prompts& prompts;
  HelpPages& help;
  Editor& editor;
};

// One line of a preview pane as the window draws it.
struct PaneLine {
  std::uint64_t number = 0;
  front::PreviewMark mark = front::PreviewMark::Kept;
  std::wstring text;
};

class frmComing final : public Window {
 public:
  // owner is the main window, which every help call and message box is over.
  frmComing(front::ComingLogic logic, ComingServices services, HWND owner);
  ~frmComing() override;

  // Reads the folder's rows (again); ShowModal then shows them.
  void Load();
  // Picks a row of the list, as a click does; -1 for none.
  void SelectRow(int row);
  // What a preview pane shows: kLstNow or kLstOnDay.
  std::vector<PaneLine> PaneLines(int pane) const;

 private:
  void CreateControls();
  void AddColumns();
  void FillList();
  void ShowPreview();
  void ShowStatus();
  void PlaceForSize(int width, int height);
  void MakeMarkFonts();
  void DrawPaneLine(const DRAWITEMSTRUCT& item) const;
  void OpenInEditor();
  void DayPicked(const SYSTEMTIME& picked);

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT Respond(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Notified(const NMHDR& header);
  bool PreTranslate(MSG& message) override;
  void Command(int id);

  front::ComingLogic logic_;
  ComingServices services_;
  HWND owner_;
  HFONT struckFont_ = nullptr;  // the lines that go
  HFONT boldFont_ = nullptr;    // the lines that appear
  bool filling_ = false;
};

}  // namespace lapse::win32
