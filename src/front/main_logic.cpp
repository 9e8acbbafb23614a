#include "front/main_logic.h"

#include <string>
#include <utility>
#include <vector>

#include "batch/check.h"
#include "front/folder_chain.h"
#include "front/folder_text.h"
#include "messages/messages.h"
#include "text/names.h"

namespace lapse::front {

// Answers the batch run's questions through the view; the busy pointer
// steps aside while a message box is up.
class MainLogic::RunFrontEnd final : public batch::RunFrontEnd {
 public:
  explicit RunFrontEnd(MainLogic& logic) : logic_(logic), view_(logic.view_) {}

  bool Confirm(const std::filesystem::path& sourceDir, batch::Recursion recursion) override {
    view_.SetPointer(Pointer::Normal);
    const bool yes = view_.Ask(messages::RunQuestion(sourceDir, recursion));
    if (yes) {
      view_.SetPointer(Pointer::Busy);
      // The closed question must not stay painted over the window.
      view_.Repaint();
    }
    return yes;
  }
  void NewDirectoryCreated() override { logic_.RefreshFolders(); }
  void FileLeftOut(const std::filesystem::path& name, const batch::PageReport& report) override {
    // A site may hold many compressed pages or images: one box at the end
    // names them.
    if (report.outcome == batch::PageOutcome::LeftAsItIs) {
      if (!leftAsItIs.empty()) {
        leftAsItIs += '\n';
      }
      leftAsItIs += messages::LeftAsItIs(name, report.notText);
      return;
    }
    view_.SetPointer(Pointer::Normal);
    logic_.ReportLeftOut(name, report);
    view_.SetPointer(Pointer::Busy);
  }
  void Advance(std::uint64_t done, std::uint64_t listed,
               const std::filesystem::path& current) override {
    view_.ShowProgress(done, listed, current);
  }

  std::string leftAsItIs;

 private:
  MainLogic& logic_;
  MainView& view_;
};

class MainLogic::ReplaceProgress final : public batch::Progress {
 public:
  explicit ReplaceProgress(MainView& view) : view_(view) {}
  void Advance(std::uint64_t done, std::uint64_t listed,
               const std::filesystem::path& current) override {
    view_.ShowProgress(done, listed, current);
  }

 private:
  MainView& view_;
};

MainLogic::MainLogic(MainView& view, state::SettingsStore& store, platform::Disk& disk,
                     batch::RunOptions run, std::optional<std::filesystem::path> keepIn)
    : view_(view), store_(store), disk_(disk), run_(std::move(run)), keepIn_(std::move(keepIn)) {}

void MainLogic::Load() {
  view_.MakeOptionsDialog();
  view_.UseColourScheme();
  settings_.emplace(store_, state::kApplicationName);
  state::LoadOptions(*settings_, state_);
  view_.MakeAboutBox();
  view_.EnableButton(MainButton::Replace, false);
  view_.EnableButton(MainButton::Log, false);
  view_.EnableUndo(false);
}

void MainLogic::Unload() {
  if (unloaded_ || !settings_) {
    return;
  }
  unloaded_ = true;
  view_.DropDialogs();
  view_.CloseHelp();
  state::SaveOptions(*settings_, state_);
}

void MainLogic::OpenStartFolder(const StartPlace& start) {
  drives_ = DriveTable(start.drives, start.folder, start.pathCase, start.rootDrive);
  view_.ShowDrives(drives_);
  view_.ShowDrive(drives_.DriveOf(start.folder));
  if (view_.OpenFolder(start.folder).empty()) {
    return;
  }
  for (const std::string& candidate : start.then) {
    if (view_.OpenFolder(candidate).empty()) {
      return;
    }
  }
}

void MainLogic::DriveChosen(const std::string& root) {
  const std::string why = view_.OpenFolder(drives_.CurrentFolderOf(root));
  if (!why.empty()) {
    view_.ShowDrive(drives_.DriveOf(view_.OpenedFolder()));
    view_.Warn(why);
  }
}

void MainLogic::FolderOpened(const std::string& folder) {
  view_.ListFiles(folder);
  ShowWhetherUndoable(folder);
  // Going up from a mounted volume leaves its drive.
  view_.ShowDrive(drives_.DriveOf(folder));
}

void MainLogic::FolderOpenFailed(const std::string& why) {
  view_.Warn(why);
}

void MainLogic::Activated() {
  if (!working_) {
    LeaveDeletedFolder();
  }
}

bool MainLogic::LeaveDeletedFolder() {
  const std::string shown = view_.OpenedFolder();
  const std::string nearest = NearestFolder(shown);
  if (nearest.empty() || nearest == shown) {
    return false;
  }
  view_.OpenFolder(nearest);
  return true;
}

void MainLogic::RefreshFolders() {
  if (!LeaveDeletedFolder()) {
    view_.RefreshFolders();
  }
}

std::string MainLogic::NearestFolder(const std::string& folder) {
  if (folder.empty()) {
    return {};
  }
  const std::vector<std::string> chain = FolderChain(folder);
  for (auto nearer = chain.rbegin(); nearer != chain.rend(); ++nearer) {
    // A folder is opened by a path that ends in a separator.
    if (disk_.OpenFolder(PathOf(*nearer) / "")) {
      return *nearer;
    }
  }
  return {};
}

void MainLogic::ReportLeftOut(const std::filesystem::path& name, const batch::PageReport& report) {
  const std::string message = messages::LeftOut(name, report);
  if (report.outcome == batch::PageOutcome::DateFormatError) {
    view_.Tell(message);
  } else {
    view_.Warn(message);
  }
}

void MainLogic::Go() {
  working_ = true;
  view_.SetPointer(Pointer::Busy);
  RunFrontEnd frontEnd(*this);
  batch::RunOptions options = run_;
  options.keepIn = keepIn_;
  options.newDays = state_.NewDays;
  options.lines = state_.Lines;
  options.log = state_.Log != 0;
  options.recursion =
      state_.Subfolders != 0 ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder;
  const std::filesystem::path folder = PathOf(view_.OpenedFolder());
  // The paths move to the folder shown before the question, as they always
  // have; Replace goes by the last completed run all the same.
  const batch::RunPaths paths = batch::PathsFor(folder);
  state_.SourceDir = paths.sourceDir;
  state_.NewDir = paths.newDir;
  const batch::RunResult result = batch::BatchRun(disk_, folder, frontEnd, options);
  working_ = false;
  view_.CloseProgress();
  view_.SetPointer(Pointer::Normal);
  if (result.status == batch::RunStatus::Declined) {
    return;
  }
  if (result.status != batch::RunStatus::Completed) {
    // The folder may have been deleted since the lists showed it: they move
    // to what is left before the user reads why the run stopped.
    LeaveDeletedFolder();
    view_.Warn(messages::Stopped(result.problem));
    return;
  }
  state_.LogPath = result.run.paths.logPath;
  waitingRun_ = result.run;
  if (state_.Log != 0) {
    view_.EnableButton(MainButton::Log, true);
  }
  view_.EnableButton(MainButton::Replace, true);
  if (!frontEnd.leftAsItIs.empty()) {
    view_.Tell(frontEnd.leftAsItIs);
  }
  for (const std::string& note : messages::RunNotes(result)) {
    view_.Warn(note);
  }
  view_.Tell(messages::Processed(result.fileCount));
}

void MainLogic::ViewLog() {
  const std::filesystem::path& log = state_.LogPath;
  bool present = false;
  if (!log.empty()) {
    // A folder is opened by a path that ends in a separator.
    if (auto folder = disk_.OpenFolder(log.parent_path() / "")) {
      const auto status = disk_.Status(**folder, log.filename());
      present = status && status->kind == platform::EntryKind::OrdinaryFile;
    }
  }
  if (!present) {
    view_.Warn(messages::NoRunLog(log));
    return;
  }
  if (!view_.StartEditor(log)) {
    view_.Warn(messages::CannotOpenRunLog(log));
  }
}

void MainLogic::ReplaceOldFiles() {
  if (!waitingRun_) {
    return;
  }
  working_ = true;
  view_.SetPointer(Pointer::Busy);
  ReplaceProgress progress(view_);
  batch::ReplaceOptions options;
  options.lockWait = run_.lockWait;
  options.progress = &progress;
  options.keepIn = keepIn_;
  const batch::ReplaceResult result = batch::Replace(disk_, waitingRun_->directory, options);
  working_ = false;
  view_.CloseProgress();
  // Its copies are in place, or held back with a reason the user reads now;
  // the next Replace needs another run.
  if (result.refusal != batch::ReplaceRefusal::Busy) {
    waitingRun_.reset();
    view_.EnableButton(MainButton::Replace, false);
    state_.LogPath = result.logPath;
  }
  RefreshFolders();
  ShowWhetherUndoable(view_.OpenedFolder());
  view_.SetPointer(Pointer::Normal);
  std::string problems;
  for (const std::string& line : messages::ReplaceProblems(result)) {
    problems += (problems.empty() ? "" : "\n") + line;
  }
  for (const std::string& line : messages::ReplaceNotes(result)) {
    problems += (problems.empty() ? "" : "\n") + line;
  }
  if (!problems.empty()) {
    view_.Warn(problems);
  }
}

schedule::UpdateOptions MainLogic::ScheduledUpdateOptions() const {
  schedule::UpdateOptions options;
  options.dateOrder = std::string(text::DateOrderName(run_.locale.order));
  options.days = state_.NewDays;
  options.lines = state_.Lines;
  options.log = state_.Log != 0;
  return options;
}

std::optional<text::Today> MainLogic::NextChangeDay(const std::filesystem::path& folder,
                                                    bool recursive) {
  const text::TagRules rules{state_.NewDays, state_.Lines, run_.locale, run_.clock};
  return batch::CheckSite(disk_, folder,
                          recursive ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder,
                          rules)
      .nextChange;
}

ScheduleServices MainLogic::ScheduleServicesFrom(ScheduleServices given) {
  if (given.options == schedule::UpdateOptions{}) {
    given.options = ScheduledUpdateOptions();
  }
  if (!given.nextChange) {
    given.nextChange = [this](const std::filesystem::path& folder, bool recursive) {
      return NextChangeDay(folder, recursive);
    };
  }
  return given;
}

void MainLogic::ForgetUndoneLog(const batch::RunPaths& undone) {
  // A run of the folder that waits for its Replace has a log of its own,
  // which the undo leaves true.
  if (waitingRun_ && waitingRun_->paths.sourceDir == undone.sourceDir) {
    return;
  }
  const std::filesystem::path log = state_.LogPath.lexically_normal();
  const std::filesystem::path inSite = undone.sourceDir / undone.logPath.filename();
  if (log.empty() ||
      (log != undone.logPath.lexically_normal() && log != inSite.lexically_normal())) {
    return;
  }
  state_.LogPath.clear();
  view_.EnableButton(MainButton::Log, false);
}

std::optional<batch::KeptReplace> MainLogic::UndoableReplace(const std::string& folder) {
  if (!keepIn_ || folder.empty()) {
    return std::nullopt;
  }
  std::vector<batch::KeptReplace> replaces = batch::KeptReplaces(disk_, *keepIn_, PathOf(folder));
  if (replaces.empty() || replaces.front().state == batch::KeptState::Undone) {
    return std::nullopt;
  }
  return std::move(replaces.front());
}

void MainLogic::ShowWhetherUndoable(const std::string& folder) {
  view_.EnableUndo(UndoableReplace(folder).has_value());
}

void MainLogic::UndoReplace() {
  const std::string shown = view_.OpenedFolder();
  const std::optional<batch::KeptReplace> replace = UndoableReplace(shown);
  if (!replace) {
    view_.EnableUndo(false);
    return;
  }
  const std::filesystem::path folder = PathOf(shown);
  if (!view_.Ask(messages::UndoQuestion(*replace, batch::PathsFor(folder).sourceDir))) {
    return;
  }
  working_ = true;
  view_.SetPointer(Pointer::Busy);
  view_.Repaint();
  ReplaceProgress progress(view_);
  const batch::UndoResult result = batch::Undo(disk_, folder, {*keepIn_, run_.lockWait, &progress});
  working_ = false;
  view_.CloseProgress();
  if (result.Complete()) {
    ForgetUndoneLog(result.paths);
  }
  RefreshFolders();
  ShowWhetherUndoable(view_.OpenedFolder());
  view_.SetPointer(Pointer::Normal);
  // What was put back is said either way: beside the problems, or alone.
  std::string said = result.restored.empty() ? "" : messages::UndoDone(result);
  const std::vector<std::string> problems = messages::UndoProblems(result);
  for (const std::string& line : problems) {
    said += (said.empty() ? "" : "\n") + line;
  }
  if (!problems.empty()) {
    view_.Warn(said);
  } else if (!said.empty()) {
    view_.Tell(said);
  }
}

}  // namespace lapse::front
