// The batch run over a directory, the replace that puts its copies in place of
// the sources, and the files they pick. Results are values: the front ends
// make the sentences.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "engine/date.h"
#include "engine/disk.h"
#include "engine/rewriter.h"
#include "state/program_state.h"

namespace lapse::batch {

// The folders and the log of a run over a directory: SourceDir is the
// directory with a separator appended (even to a root that ends in one),
// NewDir is SourceDir + "New" + separator, LogPath is NewDir + "Log.txt".
struct RunPaths {
  std::filesystem::path sourceDir;
  std::filesystem::path newDir;
  std::filesystem::path logPath;
};
RunPaths PathsFor(const std::filesystem::path& directory);

// Whether a run or a replace takes the folder alone, or its subfolders too
// (all but hidden ones, links and the folder New), as one run.
enum class Recursion { ThisFolder, Subfolders };

// Told how far a long run or replace has come: done of the files listed so
// far, and the file at hand (its path below the folder of the run).
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void Advance(std::uint64_t done, std::uint64_t listed,
                       const std::filesystem::path& current) = 0;
};

// What a batch run asks of its caller: the question, the per-file reports and
// the refresh of a directory list. Each call returns when the user has seen it.
class RunFrontEnd : public Progress {
 public:
  virtual ~RunFrontEnd() = default;
  // Asks whether to update the HTML files of sourceDir; true for Yes.
  virtual bool Confirm(const std::filesystem::path& sourceDir) = 0;
  // The subdirectory "New" was created.
  virtual void NewDirectoryCreated() = 0;
  // A file was left out of the run: its date could not be read, it could
  // not be read or written, or it is compressed in a way the run leaves be.
  // name is its path below the folder of the run.
  virtual void FileLeftOut(const std::filesystem::path& name, const engine::FileReport& report) = 0;
  void Advance(std::uint64_t, std::uint64_t, const std::filesystem::path&) override {}
};

enum class RunStatus {
  Declined,   // the user answered No; only SourceDir and NewDir changed
  Stopped,    // the folder, "New" or the old log was in the way; no file was written
  Completed,  // every ordinary file was listed and every HTML file handed on
};

// Why a run stopped before it wrote anything.
struct RunProblem {
  enum class Kind {
    CannotOpenFolder,    // the directory itself
    NewIsLink,           // "New" is a link: its copies would land elsewhere
    NewInTheWay,         // a file or something else that is no folder
    CannotCreateNew,
    CannotOpenNew,
    OldLogIsFolder,
    CannotDeleteOldLog,
    CannotList,
  };
  Kind kind = Kind::CannotOpenFolder;
  std::filesystem::path path;
  std::error_code error;
};

struct RunResult {
  RunStatus status = RunStatus::Declined;
  std::uint64_t fileCount = 0;     // ordinary files listed, HTML or not
  std::uint64_t filesLeftOut = 0;  // HTML files that failed, without a copy
  RunProblem problem;              // when Stopped
  // Copies that kept their source's permissions but not its owner or group:
  // only a privileged process may give a file to another user.
  std::uint64_t copiesWithoutOwner = 0;
  // The record of the sources could not be written; a replace then holds
  // every copy back.
  std::optional<engine::FileFailure> recordFailure;
  // The log's last lines could not be written when the run ended.
  std::optional<engine::FileFailure> logFailure;
};

struct RunSettings {
  engine::DateLocale locale;
  engine::Clock clock;
  Recursion recursion = Recursion::ThisFolder;
};

// The run over directory: points SourceDir and NewDir at it, asks, makes sure
// "New" exists (refusing a link), deletes the old log, rewrites every HTML
// file into "New", counts the ordinary files, and records beside the copies
// what each source was when it was read. Over subfolders, each folder's own
// files come before its subfolders, and the copies of DIR/a/b go to
// DIR/New/a/b; the log and the record stay in DIR/New. The caller enables its buttons and
// tells the count when the run completed.
RunResult BatchRun(engine::Disk& disk, state::ProgramState& state,
                   const std::filesystem::path& directory, RunFrontEnd& frontEnd,
                   const RunSettings& settings);

// Why a file stayed in "New" after a replace.
enum class HeldBack {
  NameTaken,       // another file of that name stands in the directory
  SourceChanged,   // the source changed after the run
  NoRecord,        // nothing tells what state of the source the copy was made from
  NoSourceFolder,  // the folder it belongs in is no longer in the directory (or is a link)
  CopyIncomplete,  // the copy is not as long as the run wrote it
  MoveFailed,      // with the system's error
  LogWaits,        // the log moves up with the last file
  Folder,
  Hidden,
  Link,
  NotOrdinary,
};

struct LeftInNew {
  std::filesystem::path name;  // its path below New
  HeldBack reason = HeldBack::MoveFailed;
  std::error_code error;  // for MoveFailed
};

// A step of the replace that failed as a whole.
struct ReplaceProblem {
  enum class Kind { CannotListNew, CannotDeleteOldLog, CannotSyncCopies, CannotSyncFolder,
                    CannotRemoveNew };
  Kind kind = Kind::CannotListNew;
  std::filesystem::path path;
  std::error_code error;
};

struct ReplaceResult {
  // There is no folder New (or a link stands there): nothing to replace with.
  bool newDirMissing = false;
  std::filesystem::path sourceDir;              // SourceDir and NewDir, as replaced
  std::filesystem::path newDir;
  std::vector<std::filesystem::path> replaced;  // HTML sources now holding their copies
  std::vector<std::filesystem::path> moved;     // other files moved up (the log among them)
  std::vector<LeftInNew> left;                  // what stays in "New", with the reason
  std::vector<ReplaceProblem> problems;
  bool newDirRemoved = false;

  bool Complete() const { return !newDirMissing && newDirRemoved; }
};

// Puts the copies in NewDir in place of the sources in SourceDir and moves
// the other files of NewDir up. A copy replaces its source only when the
// source is as the run read it; a source without a copy stays, and nothing
// else is ever overwritten. The copies are on the disk before the first
// source is replaced. The log moves last, and stays in NewDir while any
// other file does. Removes NewDir when it is empty, and points LogPath at
// the log's place.
// Over subfolders it walks the mirror tree in New, and removes its folders
// once they are empty.
ReplaceResult Replace(engine::Disk& disk, state::ProgramState& state,
                      Recursion recursion = Recursion::ThisFolder, Progress* progress = nullptr);

// An HTML file by name: it contains ".htm", in lower case.
bool IsHtmlFileName(const std::filesystem::path& name);

}  // namespace lapse::batch
