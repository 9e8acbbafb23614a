// The run over a folder, the replace that puts its copies in place of the
// pages, and the site they work on. Results are values: the fronts make the
// sentences. Nothing here is shared between calls: a run returns what it
// made, and a replace is told which run's copies to put in place.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "batch/page_report.h"
#include "batch/site_walk.h"
#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::batch {

// The folders and the log of a run over a directory: sourceDir is the
// directory with a separator appended (even to a root that ends in one),
// newDir is sourceDir + "New" + separator, logPath is newDir + "Log.txt".
struct RunPaths {
  std::filesystem::path sourceDir;
  std::filesystem::path newDir;
  std::filesystem::path logPath;
};
RunPaths PathsFor(const std::filesystem::path& directory);

// How long a command waits for another Lapse to finish with the same folder.
inline constexpr std::chrono::milliseconds kDefaultLockWait{3000};

// Why a command could not work on a folder at all.
struct SiteProblem {
  enum class Kind {
    CannotOpenFolder,  // the folder itself
    Busy,              // another Lapse works on it
    CannotLock,
  };
  Kind kind = Kind::CannotOpenFolder;
  std::filesystem::path path;
  std::error_code error;
  platform::LockHolder holder;  // when Busy
};

// A site that could not be opened or locked, in the terms of the command
// that asked: each command's refusals name these three.
template <typename Refusal>
Refusal RefusalOf(const SiteProblem& problem) {
  switch (problem.kind) {
    case SiteProblem::Kind::Busy:
      return Refusal::Busy;
    case SiteProblem::Kind::CannotLock:
      return Refusal::CannotLock;
    case SiteProblem::Kind::CannotOpenFolder:
      break;
  }
  return Refusal::CannotOpenFolder;
}

// Whether a privileged process works on a folder that another user owns or
// may write into. Whoever may write into a site can change it while Lapse
// works, and what Lapse does there with root's rights, it does for them:
// such a folder is refused unless the user says to go on.
enum class ForeignSite { Refuse, Allow };

// A folder that one command works on: open (never through a link in its
// own place), and locked against every other Lapse for as long as the
// object lives.
class Site {
 public:
  static platform::Expected<Site, SiteProblem> Open(platform::Disk& disk,
                                                    const std::filesystem::path& directory,
                                                    std::chrono::milliseconds wait,
                                                    ForeignSite foreign = ForeignSite::Refuse);
  platform::Folder& Folder() { return *folder_; }
  std::shared_ptr<platform::Folder> SharedFolder() { return folder_; }
  const RunPaths& Paths() const { return paths_; }

 private:
  Site(std::shared_ptr<platform::Folder> folder, std::unique_ptr<platform::FolderLock> lock,
       RunPaths paths)
      : folder_(std::move(folder)), lock_(std::move(lock)), paths_(std::move(paths)) {}

  std::shared_ptr<platform::Folder> folder_;
  std::unique_ptr<platform::FolderLock> lock_;
  RunPaths paths_;
};

// Told how far a long run, replace or undo has come: done of total pages,
// one step per page, and the page at hand (its path below the folder of the
// command). The total is known from the first step; it grows only when
// pages come while the command runs.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void Advance(std::uint64_t done, std::uint64_t total,
                       const std::filesystem::path& current) = 0;
};

// What a run asks of its caller: the question, the per-page reports and the
// refresh of a directory list. Each call returns when the user has seen it;
// the reports come in the order of the pages, whatever thread made them.
class RunFrontEnd : public Progress {
 public:
  // Asks whether to update the HTML files of sourceDir; true for Yes.
  virtual bool Confirm(const std::filesystem::path& sourceDir, Recursion recursion) = 0;
  // The subdirectory "New" was created.
  virtual void NewDirectoryCreated() = 0;
  // A page was left out of the run, or left as it is. name is its path
  // below the folder of the run.
  virtual void FileLeftOut(const std::filesystem::path& name, const PageReport& report) = 0;
  void Advance(std::uint64_t, std::uint64_t, const std::filesystem::path&) override {}
};

struct RunOptions {
  std::int16_t newDays = 30;
  std::int16_t lines = 1;
  bool log = true;
  Recursion recursion = Recursion::ThisFolder;
  text::DateLocale locale;
  text::Clock clock;
  // Threads that rewrite pages; 0 for as many as the machine has cores.
  unsigned threads = 0;
  std::chrono::milliseconds lockWait = kDefaultLockWait;
  ForeignSite foreignSite = ForeignSite::Refuse;
  // The pages (by their paths below the folder) that the run rewrites, as
  // an update finds them; every page when not given. The others are
  // counted, and neither read nor said.
  std::optional<std::set<std::filesystem::path>> onlyPages;
  // The user's state folder, where the journal of the site is: the lines of
  // pages a replace cut short placed go there before the run clears New.
  std::optional<std::filesystem::path> keepIn;
};

enum class RunStatus {
  Declined,   // the user answered No; nothing was done
  Stopped,    // the folder, "New" or the old log was in the way; no page was written
  Completed,  // every ordinary file was listed and every HTML file handed on
};

// Why a run stopped before it wrote anything.
struct RunProblem {
  enum class Kind {
    CannotOpenFolder,  // the directory itself
    Busy,              // another Lapse works on it
    CannotLock,
    NewIsLink,         // "New" is a link: its copies would land elsewhere
    NewInTheWay,       // a file or something else that is no folder
    NewIsTheSites,     // a folder New that Lapse did not make
    CannotReadRecord,  // the record of an earlier run is there but cannot be read
    CannotCreateNew,
    CannotOpenNew,
    CannotClearNew,  // what an earlier run left there could not be removed
    CannotMarkNew,   // the record that makes New Lapse's could not be written
    OldLogIsFolder,
    CannotDeleteOldLog,
    CannotList,
  };
  Kind kind = Kind::CannotOpenFolder;
  std::filesystem::path path;
  std::error_code error;
  platform::LockHolder holder;  // when Busy
};

// A folder that could not be opened or locked, as a run's problem.
RunProblem RunProblemOf(const SiteProblem& problem);

// What a completed run made, for the replace that puts it in place.
struct CompletedRun {
  std::filesystem::path directory;  // as the run was given it
  RunPaths paths;
  bool logWritten = false;  // Log.txt stands in New
};

struct RunResult {
  RunStatus status = RunStatus::Declined;
  RunProblem problem;           // when Stopped
  CompletedRun run;             // when Completed
  std::uint64_t fileCount = 0;  // ordinary files listed, HTML or not
  std::uint64_t pagesRewritten = 0;
  std::uint64_t filesLeftOut = 0;    // HTML files without a copy: failures
  std::vector<PageLeftOut> leftOut;  // every page without a copy, in order
  // Pages rewritten that have something to be said of them, in order: a
  // lapsed block that no end tag closed took the rest of the page (the
  // report's brokenBlock says where).
  std::vector<PageLeftOut> noted;
  // Copies that kept their page's permissions but not its owner or group:
  // only a privileged process may give a file to another user.
  std::uint64_t copiesWithoutOwner = 0;
  // The record of the sources could not be written; a replace then holds
  // every copy back.
  std::optional<FileFailure> recordFailure;
  // The log could not be made, or cut back after a failed write.
  std::optional<FileFailure> logFailure;

  bool AllRewritten() const {
    return status == RunStatus::Completed && filesLeftOut == 0 && !recordFailure && !logFailure;
  }
};

// The run over directory: asks, locks the folder, makes sure "New" exists
// and is Lapse's (refusing a link and a folder of the site's own), clears
// what an earlier run left there, rewrites every HTML file into "New" on
// as many threads as asked, counts the ordinary files, and records beside
// the copies what each page was when it was read. Each copy takes its name
// only once the lines it removed are in the log. Over subfolders, each
// folder's own files come before its subfolders, and the copies of DIR/a/b
// go to DIR/New/a/b; the log and the record stay in DIR/New.
RunResult BatchRun(platform::Disk& disk, const std::filesystem::path& directory,
                   RunFrontEnd& frontEnd, const RunOptions& options);
// The same on a site already open and locked, without the question.
RunResult RunOnSite(platform::Disk& disk, Site& site, RunFrontEnd& frontEnd,
                    const RunOptions& options);

// Why a copy stayed in New after a replace.
enum class HeldBack {
  NameTaken,       // something that is no page stands under its page's name
  SourceChanged,   // the page changed after the run
  SourceDeleted,   // the page was deleted after the run
  NoSourceFolder,  // the folder it belongs in is no longer there (or is a link)
  CopyIncomplete,  // the copy is not as the run wrote it
  CopyMissing,     // the copy is gone from New
  MoveFailed,      // with the system's error
  LogWaits,        // the log moves up once every copy of its run has
  NotACopy,        // a file the run did not make
  NotKept,         // the page it would replace could not be kept for an undo
  Folder,
  Link,
  NotOrdinary,
  // The log: the site has a Log.txt that Lapse did not put there, which is
  // never overwritten.
  SiteHasItsOwnLog,
};

struct LeftInNew {
  std::filesystem::path name;  // its path below New
  HeldBack reason = HeldBack::MoveFailed;
  std::error_code error;  // for MoveFailed
};

// A step of the replace that failed as a whole.
struct ReplaceProblem {
  enum class Kind {
    CannotListNew,
    CannotReadRecord,
    CannotWriteRecord,
    CannotDeleteOldLog,
    CannotSyncCopies,
    CannotSyncFolder,
    CannotRemoveNew,
    CannotKeep,  // the pages to be replaced could not be kept: none was replaced
    // The removed lines of the pages replaced could not be added to the
    // journal of the site; the log keeps them.
    CannotJournal,
  };
  Kind kind = Kind::CannotListNew;
  std::filesystem::path path;
  std::error_code error;
};

// Why a replace did nothing at all.
enum class ReplaceRefusal {
  None,
  CannotOpenFolder,
  Busy,
  CannotLock,
  NoNewDir,          // there is no folder New, or a link stands there
  NewIsTheSites,     // New holds no record of a run: the site's own folder
  RunUnfinished,     // the run that made New did not end
  RecordDamaged,     // the record of the run is no record, or names a place outside the site
  CannotReadRecord,  // the record is there but cannot be read: the problem says why
};

struct ReplaceResult {
  ReplaceRefusal refusal = ReplaceRefusal::None;
  SiteProblem siteProblem;                      // when CannotOpenFolder, Busy or CannotLock
  RunPaths paths;                               // of the run whose copies were placed
  std::vector<std::filesystem::path> replaced;  // pages now holding their copies
  // Pages whose copies were the very same bytes: left as they were, not
  // kept for an undo, their copies gone from New.
  std::vector<std::filesystem::path> unchanged;
  std::vector<std::filesystem::path> moved;  // the log, when it moved up
  // Pages that have other names, which keep the old text.
  std::vector<std::filesystem::path> otherNamesKeepOldText;
  std::vector<LeftInNew> left;  // what stays in "New", with the reason
  std::vector<ReplaceProblem> problems;
  bool newDirRemoved = false;
  std::filesystem::path logPath;  // where the log is now, when there is one

  bool Complete() const { return refusal == ReplaceRefusal::None && newDirRemoved; }
  // The pages among what stays in "New": the log is none, whether it waits
  // for the pages held back or stays beside a Log.txt of the site's own.
  std::uint64_t PagesHeldBack() const;
};

// What becomes of the run's log once its copies are in place.
enum class SiteLog {
  Placed,  // it takes the place of the site's Log.txt
  // The site's Log.txt is left as it stands: the lines are in the journal.
  // Where the journal could not take them, the log is placed after all.
  Left,
};

struct ReplaceOptions {
  std::chrono::milliseconds lockWait = kDefaultLockWait;
  Progress* progress = nullptr;
  // The user's state folder, where the pages a replace takes are kept so
  // that it can be undone, and the lines they lost are journaled; nothing
  // keeps and journals nothing.
  std::optional<std::filesystem::path> keepIn;
  ForeignSite foreignSite = ForeignSite::Refuse;
  SiteLog siteLog = SiteLog::Placed;
};

// Puts the copies of the run that made directory/New in place of its pages:
// exactly the copies its record names, each only when its page is still as
// the run read it, checked right before the copy takes its place, after
// every copy is on the disk. A page deleted since stays deleted; nothing
// but a page is ever overwritten, and a page whose copy is the page byte
// for byte is not touched at all. The log moves up last, once every copy
// has; then New goes.
ReplaceResult Replace(platform::Disk& disk, const std::filesystem::path& directory,
                      const ReplaceOptions& options);
// The same on a site already open and locked.
ReplaceResult ReplaceOnSite(platform::Disk& disk, Site& site, const ReplaceOptions& options);

}  // namespace lapse::batch
