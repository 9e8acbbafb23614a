// The main window of the Windows program: native controls over the window
// logic that the Qt window uses too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "batch/batch.h"
#include "front/main_logic.h"
#include "front/schedule_logic.h"
#include "win32/services.h"
#include "win32/window.h"

namespace lapse::win32 {

class frmAbout;
class frmComing;
class frmOpt;
class frmSchedule;
class ProgressWindow;

struct MainServices {
  state::SettingsStore& store;
  Prompts& prompts;
  HelpPages& help;
  Editor& editor;
  batch::RunOptions run;
  std::function<std::vector<front::Drive>()> drives = LogicalDrives;
  platform::Disk& disk = platform::MachineDisk();
  // Where replaces keep the pages they replace, so that they can be undone.
  std::optional<std::filesystem::path> keepIn = std::nullopt;
  front::ScheduleServices schedule = {};
};

// The control identifiers, which tests and the keyboard reach the controls by.
enum ControlId : int {
  kCmdReplace = 101,
  kCmdLog,
  kFileMain,
  kCmdGo,
  kDirMain,
  kDrvMain,
  kMnuExit = 201,
  kMnuOpt,
  kMnuCont,
  kMnuAbout,
  kMnuUndo,
  kMnuSchedule,
  kMnuComing,
};

class frmMain final : public Window, private front::MainView {
 public:
  explicit frmMain(MainServices services);
  ~frmMain() override;

  state::ProgramState& State() { return logic_.State(); }
  frmOpt* Options() const { return frmOpt_.get(); }
  frmAbout* About() const { return frmAbout_.get(); }
  // The folders the directory list shows, top to bottom.
  const std::vector<std::string>& FolderItems() const { return folderItems_; }
  // Opens the directory list's item at index, as a double click does.
  void OpenFolderItem(int index);

 private:
  void CreateControls();
  void CreateMenus();
  void OpenStartFolder();
  void OpenSchedule();
  void OpenComing();
  void Unload();

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool PreTranslate(MSG& message) override;
  void Command(int id, int notification);
  void Dispatch(int id, int notification);

  void MakeOptionsDialog() override;
  void UseColourScheme() override;
  void MakeAboutBox() override;
  void DropDialogs() override;
  void CloseHelp() override;
  void EnableButton(front::MainButton button, bool enabled) override;
  void EnableUndo(bool enabled) override;
  void SetPointer(front::Pointer pointer) override;
  bool Ask(const std::string& question) override;
  void Tell(const std::string& text) override;
  void Warn(const std::string& text) override;
  void Repaint() override;
  void ShowProgress(std::uint64_t done, std::uint64_t listed,
                    const std::filesystem::path& current) override;
  void CloseProgress() override;
  void ShowHelp(int topic) override;
  bool StartEditor(const std::filesystem::path& file) override;
  void ShowDrives(const front::DriveTable& drives) override;
  void ShowDrive(const std::string& root) override;
  std::string OpenFolder(const std::string& folder) override;
  std::string OpenedFolder() const override { return openedFolder_; }
  void RefreshFolders() override;
  void ListFiles(const std::string& folder) override;

  MainServices services_;
  front::MainLogic logic_;
  std::unique_ptr<frmOpt> frmOpt_;
  std::unique_ptr<frmAbout> frmAbout_;
  // The schedule dialog while it is shown.
  frmSchedule* frmSchedule_ = nullptr;
  // The "Coming up" window while it is shown.
  frmComing* frmComing_ = nullptr;
  std::unique_ptr<ProgressWindow> progress_;
  HFONT buttonFont_ = nullptr;
  bool busy_ = false;
  bool unloaded_ = false;
  int commandDepth_ = 0;
  bool closePending_ = false;
  HWND lastFocus_ = nullptr;
  std::vector<std::string> driveRoots_;
  std::vector<std::string> folderItems_;
  std::string openedFolder_;
};

}  // namespace lapse::win32
