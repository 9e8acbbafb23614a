// The main window: picks the directory, runs the batch, views the log,
// replaces the old files; owns the program state and the other two windows.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "batch/batch.h"
#include "front/main_logic.h"
#include "front/schedule_logic.h"
#include "state/program_state.h"
#include "state/settings.h"
#include "ui/busy_pointer.h"
#include "ui/lists.h"

class QAction;
class QMenu;
class QPushButton;

namespace lapse::ui {

class EditorLauncher;
class HelpService;
class MessageBoxes;
class frmAbout;
class frmOpt;
class ProgressWindow;

// What the main window uses of the world outside; the program passes the real
// ones, tests their own.
struct MainServices {
  state::SettingsStore& store;
  HelpService& help;
  MessageBoxes& messages;
  EditorLauncher& editor;
  batch::RunOptions run;
  std::function<std::vector<Drive>()> drives = MountedDrives;
  platform::Disk& disk = platform::MachineDisk();
  // Where replaces keep the pages they replace, so that they can be undone.
  std::optional<std::filesystem::path> keepIn = std::nullopt;
  front::ScheduleServices schedule = {};
};

class frmMain final : public QMainWindow, private front::MainView {
  Q_OBJECT
 public:
  explicit frmMain(MainServices services, QWidget* parent = nullptr);
  ~frmMain() override;

  state::ProgramState& State() { return logic_.State(); }

  std::vector<QObject*> ControlOrder() const;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateMenus();
  void OpenStartDirectory();
  void OpenSchedule();
  void OpenComing();

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
  std::string OpenedFolder() const override;
  void RefreshFolders() override;
  void ListFiles(const std::string& folder) override;

  MainServices services_;
  front::MainLogic logic_;
  std::optional<BusyPointer> busy_;
  std::unique_ptr<ProgressWindow> progress_;

  QPushButton* cmdReplace = nullptr;
  QPushButton* cmdLog = nullptr;
  FileList* fileMain = nullptr;
  QPushButton* cmdGo = nullptr;
  DirectoryList* dirMain = nullptr;
  DriveList* drvMain = nullptr;

  QMenu* mnuFile = nullptr;
  QAction* mnuUndo = nullptr;
  QAction* mnuSep0 = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuSet = nullptr;
  QAction* mnuOpt = nullptr;
  QAction* mnuSchedule = nullptr;
  QAction* mnuComing = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuCont = nullptr;
  QAction* mnuSep1 = nullptr;
  QAction* mnuAbout = nullptr;

  frmOpt* frmOpt_ = nullptr;
  frmAbout* frmAbout_ = nullptr;
};

}  // namespace lapse::ui
