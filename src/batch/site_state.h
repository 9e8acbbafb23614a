// What a command leaves behind for the next one, and the only code that
// writes it: the run record in New, the log waiting there, the kept replace
// a replace makes, and the note of the Log.txt a replace placed in the site.
// Run, replace and undo move it from one state to the next through these
// calls; docs/architecture.md has the table of states and what a kill at
// each step leaves.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "batch/batch.h"
#include "batch/kept_store.h"
#include "batch/record_text.h"
#include "batch/run_record.h"
#include "batch/site_walk.h"
#include "platform/disk.h"
#include "platform/expected.h"

namespace lapse::batch {

// ---- The run record in New -------------------------------------------------

// What stands in New under the record's name.
enum class RecordFound {
  None,         // no record (nothing, a link or a folder under its name)
  NotTheUsers,  // someone else may have written it, or it names other folders
  Damaged,      // the user's own, cut short by a power cut: it says nothing
  Read,
};

struct FoundRecord {
  RecordFound found = RecordFound::None;
  std::optional<RunRecord> record;  // with Read
};

// The record in newDir, taken as the user's only where no one else could
// have written it and it names the very folders here it stands in. An error
// is an error (permissions, a failed read), never a guess at what it says.
platform::Expected<FoundRecord> FindRecord(platform::Disk& disk, platform::Folder& newDir,
                                           const RecordPlace& here);

// Whether the log in New holds lines of pages that a replace put in place
// while some of their run's copies waited: such a log stays until the last
// of them goes up, whatever runs come between.
bool LogWaitsAfter(const RunRecord& earlier);

// Running: a run has begun. Written over whatever record stood there, so
// that New is Lapse's from now on even if the run is killed; on the disk
// at once where it says the log waits (the next run must not lose it).
std::error_code MarkRunBegun(platform::Disk& disk, platform::Folder& newDir,
                             const RecordPlace& place, bool logWaits);

// Complete: the record of a run, written as the run goes, unnamed, and
// named over the mark that the run began with only when the run is done;
// on the disk first where it says the log waits.
class RunRecordWriter {
 public:
  RunRecordWriter(platform::Disk& disk, platform::Folder& newDir, const RecordPlace& place,
                  bool logWaits);
  void Add(const std::filesystem::path& name, const CopyRecord& copy);
  std::optional<FileFailure> Commit();

 private:
  bool Open();
  bool Flush();

  platform::Disk& disk_;
  platform::Folder& newDir_;
  RecordPlace place_;
  bool logWaits_;
  std::unique_ptr<platform::NewFile> file_;
  std::string pending_;
  std::error_code error_;
};

// What a replace writes at its steps: PartPlaced with every copy before the
// first page goes (and the kept replace that holds them), PartPlaced with
// the copies still waiting when some stay, Complete with none when its run
// is in place but New holds more, or the record it found, when it placed
// nothing. On the disk before it returns.
struct RecordHead {
  RecordState state = RecordState::Running;
  RecordPlace place;
  bool logWaits = false;
  std::string keptAs;
};
std::error_code SaveRecord(platform::Disk& disk, platform::Folder& newDir, const RecordHead& head,
                           const std::map<std::filesystem::path, CopyRecord>& copies);

// ---- The waiting log ------------------------------------------------------

// A page placed, and where its lost lines stand in the log in New.
using LoggedPage = std::pair<std::filesystem::path, const LoggedLines*>;

// Takes the lines that pages placed lost from the log in New (read only
// where the user's own) into the journal of the site at sourceDir, in the
// order of the log, each block dated when.
std::error_code JournalPlacedLines(platform::Disk& disk, platform::Folder& newDir,
                                   const std::filesystem::path& stateFolder,
                                   const std::filesystem::path& sourceDir,
                                   std::chrono::system_clock::time_point when,
                                   std::vector<LoggedPage> pages);

// A replace killed after it put some pages in place left their lines in
// the log, unjournaled, and a record listing every copy: the pages whose
// copies are gone from New were placed. A run that comes before the next
// replace journals them, since its record will not name them.
std::error_code JournalWhatACutReplacePlaced(platform::Disk& disk,
                                             const std::shared_ptr<platform::Folder>& newDir,
                                             const std::filesystem::path& stateFolder,
                                             const std::filesystem::path& sourceDir,
                                             const RunRecord& earlier);

// ---- The kept replace a replace makes --------------------------------------

// The pages a replace is about to put copies in place of, kept in the state
// folder. It is made beside the kept ones and takes its name only once it
// holds every page (a replace cut short and done again adds to the one it
// began); older ones are pruned only once it holds a page that was
// replaced, and it is removed when it ends holding none.
class KeptReplaceUnderWay {
 public:
  // Keeps pages (their folders taken from sources) in the store of the site
  // at sourceDir: into the kept replace resume where one of that name is
  // whole, else into a new one.
  static platform::Expected<std::unique_ptr<KeptReplaceUnderWay>, ReplaceProblem> Begin(
      platform::Disk& disk, const std::filesystem::path& stateFolder,
      const std::filesystem::path& sourceDir, FolderCache& sources, const std::string& resume,
      const std::vector<KeptPage>& pages);

  KeptReplaceUnderWay(const KeptReplaceUnderWay&) = delete;
  KeptReplaceUnderWay& operator=(const KeptReplaceUnderWay&) = delete;
  ~KeptReplaceUnderWay() = default;

  const std::string& Name() const { return kept_.name; }
  std::chrono::system_clock::time_point When() const { return kept_.when; }

  // A page was replaced: the replaces this one makes too many may go. It
  // takes the disk a while; it is done meanwhile, and waited for by Finish.
  void PagePlaced();
  // The pages held back are as they were, and no longer listed; false, and
  // the kept replace removed, when it holds no page then.
  bool Finish(const std::set<std::filesystem::path>& heldBack);

 private:
  KeptReplaceUnderWay(platform::Disk& disk, std::unique_ptr<KeptStore> store, FolderCache& sources)
      : disk_(disk), store_(std::move(store)), sources_(sources) {}

  std::optional<bool> KeepInto(const std::string& name, const std::vector<KeptPage>& pages,
                               ReplaceProblem& problem);
  bool KeepNew(const std::vector<KeptPage>& pages, ReplaceProblem& problem);
  std::error_code KeepPages(std::unique_ptr<platform::Folder> into,
                            const std::vector<KeptPage>& pages, bool resumed);

  platform::Disk& disk_;
  std::unique_ptr<KeptStore> store_;
  FolderCache& sources_;
  KeptReplace kept_;
  bool pruneBegun_ = false;
  // Last, so that it is joined before anything it uses goes.
  std::jthread pruning_;
};

// ---- The site's Log.txt ----------------------------------------------------

// Notes logs, the files a replace put or is about to put in the site at
// sourceDir as its Log.txt: their numbers, sizes and times, which no later
// file of the site's has all alike.
std::error_code NotePlacedLogs(platform::Disk& disk, const std::filesystem::path& stateFolder,
                               const std::filesystem::path& sourceDir,
                               const std::vector<platform::FileStamp>& logs, Durability durability);

// Whether log, the site's Log.txt, is one a replace put there: one noted
// in the state folder; where none is noted (no state folder, or a log
// an earlier version placed), one of the user's own that holds nothing or
// begins as a log of Lapse's does, with the line end before its first
// entry's head. Never a file of the site's own.
bool IsPlacedLog(platform::Disk& disk, platform::Folder& site,
                 const std::optional<std::filesystem::path>& stateFolder,
                 const std::filesystem::path& sourceDir, const platform::FileStatus& log);

}  // namespace lapse::batch
