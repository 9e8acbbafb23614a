// The main window: picks the directory, runs the batch, views the log,
// replaces the old files; owns the program state and the other two windows.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "batch/batch.h"
#include "engine/rewriter.h"
#include "state/program_state.h"
#include "state/settings.h"
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

// What the main window uses of the world outside; the program passes the real
// ones, tests their own.
struct MainServices {
  state::SettingsStore& store;
  HelpService& help;
  MessageBoxes& messages;
  EditorLauncher& editor;
  batch::RunSettings run;
  std::function<std::vector<Drive>()> drives = MountedDrives;
  engine::Disk& disk = engine::MachineDisk();
};

class frmMain final : public QMainWindow {
  Q_OBJECT
 public:
  explicit frmMain(MainServices services, QWidget* parent = nullptr);
  ~frmMain() override;

  state::ProgramState& State() { return state_; }

  std::vector<QObject*> ControlOrder() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class RunFrontEnd;

  void CreateControls();
  void CreateMenus();
  void Load();
  void Unload();

  void ChooseDrive(const QString& drive);
  void OpenStartDirectory();
  void RunBatch();
  void ViewLog();
  void ReplaceOldFiles();
  void ShowOptions();
  void ShowAbout();
  void ReportLeftOut(const std::filesystem::path& name, const engine::FileReport& report);

  MainServices services_;
  state::ProgramState state_;
  std::optional<state::Settings> settings_;
  bool unloaded_ = false;
  batch::Recursion replaceRecursion_ = batch::Recursion::ThisFolder;

  QPushButton* cmdReplace = nullptr;
  QPushButton* cmdLog = nullptr;
  FileList* fileMain = nullptr;
  QPushButton* cmdGo = nullptr;
  DirectoryList* dirMain = nullptr;
  DriveList* drvMain = nullptr;

  QMenu* mnuFile = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuSet = nullptr;
  QAction* mnuOpt = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuCont = nullptr;
  QAction* mnuSep1 = nullptr;
  QAction* mnuAbout = nullptr;

  frmOpt* frmOpt_ = nullptr;
  frmAbout* frmAbout_ = nullptr;
};

}  // namespace lapse::ui
