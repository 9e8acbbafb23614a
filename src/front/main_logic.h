// What the main window does, without drawing: its load and unload steps,
// which buttons it enables when, what GO!, View Log and Replace do, and how
// its drive, folder and file lists follow one another. A face (the Qt
// window, the Win32 window) draws the controls, passes their events here and
// carries out what the logic asks of its view.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "batch/undo.h"
#include "front/drive_table.h"
#include "front/schedule_logic.h"
#include "platform/disk.h"
#include "schedule/schedule.h"
#include "state/program_state.h"
#include "state/settings.h"

namespace lapse::front {

enum class MainButton { Replace, Log };
enum class Pointer { Normal, Busy };

// What the main window logic asks of the window that shows it. Each call
// returns once it is done; a message returns when the user has closed it.
class MainView {
 public:
  virtual ~MainView() = default;

  // The steps of loading and unloading that belong to the face.
  virtual void MakeOptionsDialog() = 0;
  virtual void UseColourScheme() = 0;
  virtual void MakeAboutBox() = 0;
  virtual void DropDialogs() = 0;
  virtual void CloseHelp() = 0;

  virtual void EnableButton(MainButton button, bool enabled) = 0;
  // "&Undo replace" in the File menu.
  virtual void EnableUndo(bool enabled) = 0;
  virtual void SetPointer(Pointer pointer) = 0;
  // Yes and No with the question icon, Yes the default; true for Yes.
  virtual bool Ask(const std::string& question) = 0;
  // An OK button alone and no icon.
  virtual void Tell(const std::string& text) = 0;
  // An OK button and the warning icon: something could not be done.
  virtual void Warn(const std::string& text) = 0;
  // Paints what a closed message box left behind before long work goes on.
  virtual void Repaint() = 0;
  // How far a long run or replace has come; the face decides when to show it.
  virtual void ShowProgress(std::uint64_t done, std::uint64_t listed,
                            const std::filesystem::path& current) = 0;
  virtual void CloseProgress() = 0;
  virtual void ShowHelp(int topic) = 0;
  // Starts the text editor on file and returns at once; false when it could
  // not be started.
  virtual bool StartEditor(const std::filesystem::path& file) = 0;

  // The lists.
  virtual void ShowDrives(const DriveTable& drives) = 0;
  // Selects the drive of that root without announcing a choice.
  virtual void ShowDrive(const std::string& root) = 0;
  // Opens folder in the folder list; empty when it is open, else why not
  // (the list then stays as it was). An opened folder comes back through
  // MainLogic::FolderOpened.
  virtual std::string OpenFolder(const std::string& folder) = 0;
  virtual std::string OpenedFolder() const = 0;
  // Lists the opened folder again, or its nearest ancestor that still exists.
  virtual void RefreshFolders() = 0;
  virtual void ListFiles(const std::string& folder) = 0;
};

// Where the lists open when the program starts.
struct StartPlace {
  std::vector<Drive> drives;
  std::string folder;             // the process's current folder
  std::vector<std::string> then;  // where to try next: home, the root
  PathCase pathCase = kPlatformPathCase;
  std::string rootDrive = kPlatformRootDrive;  // a drive always on offer
};

class MainLogic {
 public:
  // run gives the date locale and the clock; the options come from the
  // program state at each run. keepIn is the user's state folder, where a
  // replace keeps the pages it replaces; nothing keeps none.
  MainLogic(MainView& view, state::SettingsStore& store, platform::Disk& disk,
            batch::RunOptions run, std::optional<std::filesystem::path> keepIn = std::nullopt);

  state::ProgramState& State() { return state_; }
  const state::ProgramState& State() const { return state_; }

  // The options dialog comes first, then the colours, then the stored
  // options, then the about box: each later step may rely on the ones
  // before.
  void Load();
  // Drops the dialogs and the help and stores the options; once only, so
  // that every way out of the program may call it.
  void Unload();

  void OpenStartFolder(const StartPlace& start);
  void DriveChosen(const std::string& root);
  void FolderOpened(const std::string& folder);
  void FolderOpenFailed(const std::string& why);
  // The window became the active one again: the folder the lists show may
  // have been deleted meanwhile, and then the lists move up to the nearest
  // folder that exists. Nothing happens while a command works.
  void Activated();

  void Go();
  void ViewLog();
  void ReplaceOldFiles();
  // Puts back what the last replace of the folder the lists show changed,
  // once the user has said yes.
  void UndoReplace();
  // The next day on which a tag of folder lapses, with the options now set.
  std::optional<text::Today> NextChangeDay(const std::filesystem::path& folder, bool recursive);
  // The options now set, and the date order of the runs, as a scheduled
  // update is to take them: it runs with the system's locale.
  schedule::UpdateOptions ScheduledUpdateOptions() const;
  // What the schedule dialog opened from the main window works with: what
  // the face gives, and where it gives no options or no reader of the next
  // lapse day, the options now set and NextChangeDay.
  ScheduleServices ScheduleServicesFrom(ScheduleServices given);

 private:
  class RunFrontEnd;
  class ReplaceProgress;

  void ReportLeftOut(const std::filesystem::path& name, const batch::PageReport& report);
  // Where the shown folder cannot be opened any more, moves the lists to
  // its nearest ancestor that can; true when they moved.
  bool LeaveDeletedFolder();
  // Lists the shown folder again, or leaves it where it was deleted.
  void RefreshFolders();
  // The shown folder or its nearest ancestor that can be opened; empty when
  // none can (a drive that went away with everything on it).
  std::string NearestFolder(const std::string& folder);
  // The last replace of folder that can be undone, if any.
  std::optional<batch::KeptReplace> UndoableReplace(const std::string& folder);
  void ShowWhetherUndoable(const std::string& folder);
  // Once every page of the replace of undone is back, its log (in the site,
  // or in New where it waited) tells of lines the pages hold again: View
  // Log no longer offers it, as after a start with no run. An undo that
  // held pages back leaves it, since it still tells what those pages lost.
  void ForgetUndoneLog(const batch::RunPaths& undone);

  MainView& view_;
  state::SettingsStore& store_;
  platform::Disk& disk_;
  batch::RunOptions run_;
  std::optional<std::filesystem::path> keepIn_;
  state::ProgramState state_;
  std::optional<state::Settings> settings_;
  DriveTable drives_;
  bool unloaded_ = false;
  // A run, a replace or an undo is at work: the lists stay where it began.
  bool working_ = false;
  // The last run that completed and was not replaced yet: what Replace puts
  // in place, whatever a later run that was declined or stopped showed.
  std::optional<batch::CompletedRun> waitingRun_;
};

}  // namespace lapse::front
