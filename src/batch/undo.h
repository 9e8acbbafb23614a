// Taking a replace back: the pages it replaced, kept outside the site, go
// back in place of what it put there, where that is still as it left it.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "batch/batch.h"
#include "batch/kept_store.h"
#include "platform/disk.h"

namespace lapse::batch {

struct UndoOptions {
  std::filesystem::path keptIn;  // the user's state folder
  std::chrono::milliseconds lockWait = kDefaultLockWait;
  Progress* progress = nullptr;
  ForeignSite foreignSite = ForeignSite::Refuse;
};

enum class UndoRefusal {
  None,
  CannotOpenFolder,
  Busy,
  CannotLock,
  NothingKept,    // no replace of the folder is kept
  AlreadyUndone,  // the last replace was taken back already
};

struct UndoProblem {
  std::filesystem::path path;
  std::error_code error;
};

struct UndoResult {
  UndoRefusal refusal = UndoRefusal::None;
  SiteProblem siteProblem;  // when CannotOpenFolder, Busy or CannotLock
  RunPaths paths;
  KeptReplace replace;  // the replace taken back
  std::vector<std::filesystem::path> restored;
  // Pages changed (or deleted) after the replace, up to the moment before
  // the kept page would have been renamed over them: left as they are, and
  // no longer listed by the kept replace.
  std::vector<std::filesystem::path> changed;
  std::vector<UndoProblem> problems;

  bool Complete() const {
    return refusal == UndoRefusal::None && changed.empty() && problems.empty();
  }
};

// Puts back the pages of the last replace of directory that are still as
// that replace left them; keeps what it replaces beside them, so that
// nothing is lost whatever is done next. Holds the site's lock; a second
// undo of the same replace does nothing.
UndoResult Undo(platform::Disk& disk, const std::filesystem::path& directory,
                const UndoOptions& options);

// The replaces of directory that are kept, newest first.
std::vector<KeptReplace> KeptReplaces(platform::Disk& disk, const std::filesystem::path& keptIn,
                                      const std::filesystem::path& directory);

}  // namespace lapse::batch
