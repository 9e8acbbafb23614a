#include <algorithm>
#include <map>

#include "batch/batch.h"
#include "batch/directory.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using engine::Join;
using engine::PathText;

std::string Describe(EntryKind kind) {
  switch (kind) {
    case EntryKind::Directory:
      return "it is a folder";
    case EntryKind::Hidden:
      return "it is a hidden file";
    case EntryKind::Link:
      return "it is a link";
    case EntryKind::OrdinaryFile:
      return "it could not be moved";
    case EntryKind::Other:
      break;
  }
  return "it is not an ordinary file";
}

class Replacement {
 public:
  explicit Replacement(const state::ProgramState& state)
      : sourceDir_(state.SourceDir), newDir_(state.NewDir) {}

  ReplaceResult Run() {
    const fs::path newDirectory = Join(sourceDir_, "New");
    std::error_code error;
    if (sourceDir_.empty() || !fs::is_directory(fs::symlink_status(newDirectory, error))) {
      result_.newDirMissing = true;
      return std::move(result_);
    }
    const Listing listing = ListOrdinaryFiles(newDir_);
    if (listing.error) {
      result_.errors.push_back("Cannot list the folder " + PathText(newDir_) + ": " +
                               listing.error.message() + ".");
    }
    // A New without files is what a replace cut short after its last move
    // leaves: the log in the directory is then this run's, and stays.
    if (!listing.names.empty()) {
      DeleteOldLog();
    }
    const fs::path logName(engine::kLogFileName);
    for (const fs::path& name : listing.names) {
      if (name != logName) {
        MoveUp(name);
      }
    }
    // The log goes last, and only once every other file has gone: while a
    // file stays behind the log stays with it, so that the replace that
    // finishes the job cannot take it for an earlier run's log.
    if (std::find(listing.names.begin(), listing.names.end(), logName) != listing.names.end()) {
      if (heldBack_.empty() && !listing.error) {
        MoveUp(logName);
      } else {
        heldBack_[logName] = "it moves up with the last file";
      }
    }
    CollectWhatIsLeft();
    if (result_.left.empty() && result_.errors.empty()) {
      fs::remove(newDirectory, error);
      result_.newDirRemoved = !error;
      if (error) {
        result_.errors.push_back("Cannot remove the folder " + PathText(newDirectory) + ": " +
                                 error.message() + ".");
      }
    }
    return std::move(result_);
  }

 private:
  // A "Log.txt" in the directory belongs to an earlier run: it goes, whether or
  // not this run wrote a log.
  void DeleteOldLog() {
    const fs::path oldLog = Join(sourceDir_, fs::path(engine::kLogFileName));
    std::error_code error;
    if (fs::is_regular_file(fs::symlink_status(oldLog, error))) {
      fs::remove(oldLog, error);
      if (error) {
        result_.errors.push_back("Cannot delete the old log " + PathText(oldLog) + ": " +
                                 error.message() + ".");
      }
    }
  }

  // An HTML copy takes its source's place in one rename; every other file
  // moves up only where nothing of its name stands yet.
  void MoveUp(const fs::path& name) {
    const fs::path from = Join(newDir_, name);
    const fs::path to = Join(sourceDir_, name);
    std::error_code error;
    const fs::file_status target = fs::symlink_status(to, error);
    const bool isLog = name == fs::path(engine::kLogFileName);
    const bool replacesSource = IsHtmlFileName(name) && fs::is_regular_file(target) && !isLog;
    if (fs::exists(target) && !replacesSource && !(isLog && fs::is_regular_file(target))) {
      heldBack_[name] = "a file of that name is already in " + PathText(sourceDir_);
      return;
    }
    if (const std::error_code moveError = ReplaceFile(from, to)) {
      heldBack_[name] = "it could not be moved: " + moveError.message();
      return;
    }
    (replacesSource ? result_.replaced : result_.moved).push_back(name);
  }

  void CollectWhatIsLeft() {
    std::error_code error;
    fs::directory_iterator it(newDir_, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::path name = it->path().filename();
      const auto heldBack = heldBack_.find(name);
      result_.left.push_back(
          {name, heldBack != heldBack_.end() ? heldBack->second : Describe(KindOf(*it))});
    }
  }

  fs::path sourceDir_;
  fs::path newDir_;
  std::map<fs::path, std::string> heldBack_;
  ReplaceResult result_;
};

}  // namespace

std::vector<std::string> ReplaceResult::Problems() const {
  std::vector<std::string> lines;
  if (newDirMissing) {
    lines.push_back("There is no folder New with copies to replace the files with.");
  }
  for (const LeftInNew& item : left) {
    lines.push_back(PathText(item.name) + " stays in the folder New: " + item.reason + ".");
  }
  lines.insert(lines.end(), errors.begin(), errors.end());
  return lines;
}

ReplaceResult Replace(state::ProgramState& state) {
  ReplaceResult result = Replacement(state).Run();
  if (!result.newDirMissing) {
    const fs::path logName(engine::kLogFileName);
    const bool logStayed = std::any_of(result.left.begin(), result.left.end(),
                                       [&](const LeftInNew& item) { return item.name == logName; });
    state.LogPath = Join(logStayed ? state.NewDir : state.SourceDir, logName);
  }
  return result;
}

}  // namespace lapse::batch
