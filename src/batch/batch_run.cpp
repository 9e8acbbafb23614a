#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "batch/batch.h"
#include "batch/ordered_work.h"
#include "batch/page_rewrite.h"
#include "batch/record_text.h"
#include "batch/run_record.h"
#include "batch/site_names.h"
#include "batch/site_state.h"
#include "platform/errors.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::EntryKind;
using platform::Folder;

// Only their owner may read the log and the record: they hold what the
// pages removed and name every page, pages of private folders among them.
constexpr std::uint32_t kOwnerOnly = 0600;
// Copies held open, unnamed, until the log takes their lines.
constexpr std::size_t kWaitingCopies = 32;
// The log's lines gathered before they are written.
constexpr std::size_t kLogBufferSize = std::size_t{64} * 1024;

RunResult Stop(RunProblem problem) {
  RunResult result;
  result.status = RunStatus::Stopped;
  result.problem = std::move(problem);
  return result;
}

}  // namespace

RunProblem RunProblemOf(const SiteProblem& problem) {
  return {RefusalOf<RunProblem::Kind>(problem), problem.path, problem.error,
          problem.kind == SiteProblem::Kind::Busy ? problem.holder : platform::LockHolder{}};
}

namespace {

bool IsFolder(EntryKind kind) {
  return kind == EntryKind::Directory || kind == EntryKind::HiddenDirectory;
}

// The folder New as the run finds it.
struct NewDir {
  std::shared_ptr<Folder> folder;
  RecordPlace place;
  // What an earlier run recorded there; nothing for a New just made, an
  // empty one, or one whose record cannot be read.
  std::optional<RunRecord> earlier;
  // The log in New holds lines of pages already in place: this run adds
  // to it.
  bool logKept = false;
};

// The folder name in parent that this process just made like the folder
// it mirrors: whoever may write into parent could have put another in its
// place before it was opened. One of theirs belongs neither to the owner of
// the folder it mirrors nor to this process.
platform::Expected<std::unique_ptr<Folder>> OpenMadeFolder(Disk& disk, Folder& parent,
                                                           const fs::path& name,
                                                           const platform::FileAccess& like) {
  platform::Expected<std::unique_ptr<Folder>> folder = disk.OpenSubfolder(parent, name);
  if (!folder) {
    return folder;
  }
  const platform::Expected<platform::FileStatus> status = disk.FolderStatus(**folder);
  const std::optional<std::uint32_t> user = disk.ProcessUser();
  if (!status || (user && status->access.owner != like.owner && status->access.owner != *user)) {
    return status ? platform::NotMadeHereError() : status.error();
  }
  return folder;
}

// New is Lapse's when Lapse made it: it holds nothing, or a record that
// only this user can have written there. Any other folder of that name is
// a part of the site.
platform::Expected<NewDir, RunProblem> OpenNewDir(Disk& disk, Folder& site, RunFrontEnd& frontEnd) {
  const fs::path path = site.PathOf(kNewName);
  const platform::Expected<platform::FileStatus> siteStatus = disk.FolderStatus(site);
  if (!siteStatus) {
    return RunProblem{RunProblem::Kind::CannotOpenFolder, site.Path(), siteStatus.error(), {}};
  }
  const platform::Expected<platform::FileStatus> status = disk.Status(site, kNewName);
  const bool made = !status && status.error() == std::errc::no_such_file_or_directory;
  if (made) {
    // It mirrors the site's folder, as the folders in it mirror theirs.
    if (const std::error_code error =
            disk.MakeFolder(site, kNewName, siteStatus->access, platform::FolderOwner::AsLike)) {
      return RunProblem{RunProblem::Kind::CannotCreateNew, path, error, {}};
    }
    frontEnd.NewDirectoryCreated();
  } else if (status && status->kind == EntryKind::Link) {
    return RunProblem{RunProblem::Kind::NewIsLink, path, {}, {}};
  } else if (status && !IsFolder(status->kind)) {
    return RunProblem{RunProblem::Kind::NewInTheWay, path, {}, {}};
  }
  platform::Expected<std::unique_ptr<Folder>> folder =
      made ? OpenMadeFolder(disk, site, kNewName, siteStatus->access)
           : disk.OpenSubfolder(site, kNewName);
  if (!folder) {
    return RunProblem{folder.error() == platform::IsALinkError() ? RunProblem::Kind::NewIsLink
                                                                 : RunProblem::Kind::CannotOpenNew,
                      path,
                      folder.error(),
                      {}};
  }
  NewDir newDir{std::shared_ptr<Folder>(std::move(*folder)), {}, std::nullopt};
  const platform::Expected<platform::FileStatus> newStatus = disk.FolderStatus(*newDir.folder);
  if (!newStatus) {
    return RunProblem{RunProblem::Kind::CannotOpenNew, path, newStatus.error(), {}};
  }
  newDir.place = {IdentityOf(siteStatus->stamp), IdentityOf(newStatus->stamp)};
  std::vector<platform::Entry> entries;
  if (const std::error_code error = disk.List(*newDir.folder, entries)) {
    return RunProblem{RunProblem::Kind::CannotOpenNew, path, error, {}};
  }
  if (!entries.empty()) {
    platform::Expected<FoundRecord> found = FindRecord(disk, *newDir.folder, newDir.place);
    if (!found) {
      return RunProblem{RunProblem::Kind::CannotReadRecord,
                        newDir.folder->PathOf(kRecordName),
                        found.error(),
                        {}};
    }
    // A record of the user's own that a power cut damaged still makes New
    // Lapse's: the run clears it.
    if (found->found == RecordFound::None || found->found == RecordFound::NotTheUsers) {
      return RunProblem{RunProblem::Kind::NewIsTheSites, path, {}, {}};
    }
    newDir.earlier = std::move(found->record);
  }
  // Checked before anything is written: a run that stops changes nothing.
  const bool logIsFolder = std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
    return entry.name == kLogName && IsFolder(entry.kind);
  });
  if (logIsFolder) {
    return RunProblem{RunProblem::Kind::OldLogIsFolder, newDir.folder->PathOf(kLogName), {}, {}};
  }
  return newDir;
}

// Removes what earlier runs left in New: their copies, the files they were
// writing, the folders that held them, and the log, unless a replace has
// put part of its run in place: then its lines are kept, and this run's
// follow them.
// blocked gets the pages' names that a folder holding something still
// stands under: their copies could not take their names.
std::optional<RunProblem> ClearNew(Disk& disk, const std::shared_ptr<Folder>& newDir, bool keepLog,
                                   std::set<fs::path>& blocked) {
  const platform::Expected<platform::FileStatus> log = disk.Status(*newDir, kLogName);
  if (log && !keepLog) {
    if (const std::error_code error = disk.RemoveFile(*newDir, kLogName)) {
      return RunProblem{RunProblem::Kind::CannotDeleteOldLog, newDir->PathOf(kLogName), error, {}};
    }
  }
  std::optional<RunProblem> problem;
  std::vector<fs::path> folders;  // in the walk's order
  const auto remove = [&](Folder& folder, const fs::path& name) {
    if (const std::error_code error = disk.RemoveFile(folder, name); error && !problem) {
      problem = RunProblem{RunProblem::Kind::CannotClearNew, folder.PathOf(name), error, {}};
    }
  };
  const std::error_code error = WalkTree(disk, newDir, Recursion::Subfolders, TopNew::Take,
                                         {[&](WalkedFolder& walked) {
                                            if (!walked.relative.empty()) {
                                              folders.push_back(walked.relative);
                                            }
                                            for (const fs::path& name : walked.files) {
                                              if (IsHtmlFileName(name)) {
                                                remove(*walked.folder, name);
                                              }
                                            }
                                            for (const fs::path& name : walked.own) {
                                              if (name != kRecordName) {
                                                remove(*walked.folder, name);
                                              }
                                            }
                                          },
                                          nullptr});
  if (error && !problem) {
    problem = RunProblem{RunProblem::Kind::CannotClearNew, newDir->Path(), error, {}};
  }
  // Deepest first; a folder that still holds something stays.
  FolderCache opened(disk, newDir);
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    const fs::path name = folder->filename();
    platform::Expected<std::shared_ptr<Folder>> parent = opened.At(folder->parent_path());
    if ((!parent || disk.RemoveEmptyFolder(**parent, name)) && IsHtmlFileName(name)) {
      blocked.insert(*folder);
    }
  }
  return problem;
}

// Takes the rewritten pages in their order and makes each copy's name
// follow its lines into the log: the lines of a few pages are written
// together, and only once they are in the file do those pages' copies take
// their names. When the log cannot take them, it is cut back to where it
// stood, and those pages are reported without a copy.
class Committer {
 public:
  Committer(Disk& disk, const NewDir& newDir, RunFrontEnd& frontEnd, bool logging,
            RunResult& result)
      : disk_(disk),
        newDir_(*newDir.folder),
        frontEnd_(frontEnd),
        logging_(logging),
        result_(result),
        record_(disk, *newDir.folder, newDir.place, newDir.logKept),
        logBuffer_(kLogBufferSize),
        replayBuffer_(kLogBufferSize) {}

  void Take(const fs::path& shown, RewrittenPage page) {
    if (page.report.outcome != PageOutcome::Rewritten) {
      Wait(shown, std::move(page));
      return;
    }
    const bool hasLines = page.lines && !page.lines->Empty();
    if (logging_ && !OpenLog()) {
      if (hasLines) {
        page.report = {PageOutcome::LinesNotLogged, *logOpenFailure_, {}};
      }
      Wait(shown, std::move(page));
      return;
    }
    if (hasLines) {
      // Where the page's lines stand in the log: from what the writer took,
      // so that lines that could not all be given leave no gap unseen.
      const std::uint64_t offset = logBase_ + logWriter_->Taken();
      page.lines->WriteTo(*logWriter_, replayBuffer_);
      page.record.logged = LoggedLines{offset, logBase_ + logWriter_->Taken() - offset,
                                       text::EntryHeadSize(text::DisplayName(shown)), page.blocks};
      if (page.lines->Error()) {
        // Its own lines are lost, not the log's: the page alone goes.
        page.report = {PageOutcome::LinesNotLogged,
                       {FileAction::Write, newDir_.PathOf(kLogName), page.lines->Error()},
                       {}};
      }
      pendingLines_ = true;
    }
    Wait(shown, std::move(page));
  }

  void Finish() {
    Settle();
    result_.run.logWritten = log_ != nullptr || logWasMade_;
    result_.recordFailure = record_.Commit();
  }

 private:
  struct Waiting {
    fs::path shown;
    RewrittenPage page;
  };

  void Wait(const fs::path& shown, RewrittenPage page) {
    waiting_.push_back({shown, std::move(page)});
    if (!pendingLines_ || waiting_.size() >= kWaitingCopies) {
      Settle();
    }
  }

  bool OpenLog() {
    if (log_) {
      return true;
    }
    if (logOpenFailure_) {
      return false;
    }
    platform::Expected<std::unique_ptr<platform::AppendedFile>> log =
        disk_.OpenAppending(newDir_, kLogName, kOwnerOnly);
    if (!log) {
      logOpenFailure_ = FileFailure{FileAction::Write, newDir_.PathOf(kLogName), log.error()};
      result_.logFailure = logOpenFailure_;
      return false;
    }
    // New may be the site owner's: a log someone else made there, or may
    // write into, would hand them the lines of every page, private ones too.
    if (!IsOwnFile((*log)->Status(), disk_.ProcessUser())) {
      logOpenFailure_ =
          FileFailure{FileAction::Write, newDir_.PathOf(kLogName), platform::NotOwnFileError()};
      result_.logFailure = logOpenFailure_;
      return false;
    }
    log_ = std::move(*log);
    logWasMade_ = true;
    logWriter_.emplace(*log_, logBuffer_);
    settledSize_ = log_->Size();
    logBase_ = settledSize_;
    return true;
  }

  // Writes the gathered lines, then names the copies that waited for them.
  void Settle() {
    std::optional<FileFailure> logFailure;
    if (pendingLines_ && logWriter_ && !logWriter_->Flush()) {
      logFailure = FileFailure{FileAction::Write, newDir_.PathOf(kLogName), log_->Error()};
      CutBackLog();
    } else if (log_) {
      settledSize_ = log_->Size();
    }
    pendingLines_ = false;
    for (Waiting& waiting : waiting_) {
      RewrittenPage& page = waiting.page;
      if (page.report.outcome == PageOutcome::Rewritten && logFailure && page.lines &&
          !page.lines->Empty()) {
        page.report = {PageOutcome::LinesNotLogged, *logFailure, {}};
      }
      if (page.report.outcome == PageOutcome::Rewritten) {
        Name(waiting.shown, page);
      } else {
        Report(waiting.shown, page.report);
      }
    }
    waiting_.clear();
  }

  // Takes out of the log what the failed write put there. The log is opened
  // afresh for the next pages: lines that are fewer may still fit.
  void CutBackLog() {
    if (const std::error_code error = log_->CutBack(settledSize_)) {
      result_.logFailure = FileFailure{FileAction::Write, newDir_.PathOf(kLogName), error};
    }
    logWriter_.reset();
    log_.reset();
  }

  void Name(const fs::path& shown, RewrittenPage& page) {
    if (const std::error_code error = page.named ? page.nameError : page.copy->Commit()) {
      PageReport report;
      report.outcome = PageOutcome::Failed;
      report.failure = {FileAction::Write, newDir_.PathOf(shown), error};
      Report(shown, report);
      return;
    }
    record_.Add(shown, page.record);
    ++result_.pagesRewritten;
    if (page.report.brokenBlock) {
      result_.noted.push_back({shown, page.report});
    }
    if (page.access != platform::AccessKept::All) {
      ++result_.copiesWithoutOwner;
    }
  }

  void Report(const fs::path& shown, const PageReport& report) {
    if (report.outcome != PageOutcome::LeftAsItIs) {
      ++result_.filesLeftOut;
    }
    result_.leftOut.push_back({shown, report});
    frontEnd_.FileLeftOut(shown, report);
  }

  Disk& disk_;
  Folder& newDir_;
  RunFrontEnd& frontEnd_;
  bool logging_;
  RunResult& result_;
  RunRecordWriter record_;
  std::vector<char> logBuffer_;
  std::vector<char> replayBuffer_;
  std::unique_ptr<platform::AppendedFile> log_;
  std::optional<text::BufferedWriter> logWriter_;
  std::optional<FileFailure> logOpenFailure_;
  bool logWasMade_ = false;
  bool pendingLines_ = false;
  std::uint64_t settledSize_ = 0;  // the log with the lines of every named copy
  std::uint64_t logBase_ = 0;      // the log's size when its writer was made
  std::vector<Waiting> waiting_;
};

// Pages a thread takes at a time: a thread wakes once for each block.
constexpr std::size_t kBlock = 16;

unsigned ThreadsFor(unsigned asked) {
  if (asked != 0) {
    return asked;
  }
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// The run over the site's folders: the walk hands each page to the
// rewriters, and the committer takes them back in order.
class TreeRun {
 public:
  TreeRun(Disk& disk, NewDir& newDir, std::set<fs::path> blocked, RunFrontEnd& frontEnd,
          const RunOptions& options, RunResult& result)
      : disk_(disk),
        blocked_(std::move(blocked)),
        newDir_(newDir.folder),
        frontEnd_(frontEnd),
        settings_{{options.newDays, options.lines, options.locale, options.clock}, options.log},
        onlyPages_(options.onlyPages),
        threads_(ThreadsFor(options.threads)),
        committer_(disk, newDir, frontEnd, options.log, result),
        result_(result) {
    for (unsigned worker = 0; worker < threads_; ++worker) {
      rewriters_.push_back(std::make_unique<PageRewriter>(disk, settings_, *newDir_));
    }
    mirrors_[fs::path()] = newDir_;
  }

  std::error_code Run(const std::shared_ptr<Folder>& site, Recursion recursion) {
    total_ = onlyPages_ ? onlyPages_->size() : CountPages(site, recursion);
    OrderedWork<PageJob, RewrittenPage> work(
        threads_, kBlock,
        [this](const PageJob& job, unsigned worker) { return rewriters_[worker]->Rewrite(job); });
    const std::size_t window = threads_ > 1 ? std::size_t{threads_} * kBlock * 2 : 1;
    const auto add = [&](PageJob job) {
      while (work.Pending() >= window) {
        TakeNext(work);
      }
      shownOrder_.push_back(job.shown);
      ++listed_;
      work.Add(std::move(job));
    };
    const std::error_code error = WalkTree(
        disk_, site, recursion, TopNew::Skip,
        {[&](WalkedFolder& folder) { Visit(folder, add); },
         [&](const fs::path& relative, const fs::path& path, std::error_code failure) {
           PageJob job;
           job.shown = relative;
           job.known = PageReport{PageOutcome::Failed, {FileAction::Read, path, failure}, {}};
           add(std::move(job));
         }});
    while (work.Pending() != 0) {
      TakeNext(work);
    }
    committer_.Finish();
    return error;
  }

 private:
  template <typename Add>
  void Visit(WalkedFolder& folder, const Add& add) {
    ForgetMirrorsOutside(folder.relative);
    const platform::Expected<platform::FileStatus> status = disk_.FolderStatus(*folder.folder);
    access_[folder.relative] = status ? status->access : platform::FileAccess{0700};
    for (const fs::path& name : folder.linkedPages) {
      if (!Taken(Below(folder.relative, name))) {
        continue;
      }
      PageJob job;
      job.shown = Below(folder.relative, name);
      job.known = PageReport{PageOutcome::LeftAsItIs, {}, NotText::Link};
      add(std::move(job));
    }
    for (const fs::path& name : folder.files) {
      ++result_.fileCount;
      if (!IsHtmlFileName(name) || !Taken(Below(folder.relative, name))) {
        continue;
      }
      PageJob job{folder.folder, nullptr, name, Below(folder.relative, name), std::nullopt};
      platform::Expected<std::shared_ptr<Folder>> mirror = Mirror(folder.relative);
      if (mirror && blocked_.count(job.shown) != 0) {
        job.known = PageReport{PageOutcome::Failed,
                               {FileAction::Write, (*mirror)->PathOf(name),
                                std::make_error_code(std::errc::is_a_directory)},
                               {}};
      } else if (mirror) {
        job.copies = *mirror;
      } else {
        job.known =
            PageReport{PageOutcome::Failed,
                       {FileAction::Write, newDir_->PathOf(folder.relative), mirror.error()},
                       {}};
      }
      add(std::move(job));
    }
  }

  bool Taken(const fs::path& page) const { return !onlyPages_ || onlyPages_->count(page) != 0; }

  // The pages the run's walk will come to, counted by a walk of their own
  // (folder listings alone, no page read) so that the progress shows the
  // true total from the first page; pages listed by the run alone, added
  // meanwhile, raise it.
  std::uint64_t CountPages(const std::shared_ptr<Folder>& site, Recursion recursion) {
    std::uint64_t pages = 0;
    const auto count = [&](const fs::path& relative, const std::vector<fs::path>& names,
                           bool htmlOnly) {
      for (const fs::path& name : names) {
        if ((!htmlOnly || IsHtmlFileName(name)) && Taken(Below(relative, name))) {
          ++pages;
        }
      }
    };
    WalkTree(disk_, site, recursion, TopNew::Skip,
             {[&](WalkedFolder& folder) {
                count(folder.relative, folder.linkedPages, false);
                count(folder.relative, folder.files, true);
              },
              [&](const fs::path&, const fs::path&, std::error_code) { ++pages; }});
    return pages;
  }

  // The walk goes depth first, so a mirror is wanted again only while the
  // walk is below its folder; the pages in flight hold their own. Without
  // this a site of a thousand folders would run out of descriptors.
  void ForgetMirrorsOutside(const fs::path& relative) {
    std::erase_if(mirrors_,
                  [&relative](const auto& mirror) { return !IsWithin(relative, mirror.first); });
  }

  // The folder of New that mirrors relative, made by this run with the
  // permissions and owner of the folder it mirrors; never through a link.
  // A folder that stands there already was left by someone else (the run
  // removed every emptied folder of the runs before): a copy put there
  // could be read, or swapped, by whoever made it.
  platform::Expected<std::shared_ptr<Folder>> Mirror(const fs::path& relative) {
    if (const auto found = mirrors_.find(relative); found != mirrors_.end()) {
      return found->second;
    }
    if (const auto failed = mirrorErrors_.find(relative); failed != mirrorErrors_.end()) {
      return failed->second;
    }
    platform::Expected<std::shared_ptr<Folder>> parent = Mirror(relative.parent_path());
    if (!parent) {
      mirrorErrors_[relative] = parent.error();
      return parent.error();
    }
    const fs::path name = relative.filename();
    std::error_code error =
        disk_.MakeFolder(**parent, name, access_[relative], platform::FolderOwner::AsLike);
    if (error == std::errc::file_exists) {
      const platform::Expected<platform::FileStatus> there = disk_.Status(**parent, name);
      error = there && IsFolder(there->kind) ? platform::NotMadeHereError()
                                             : std::make_error_code(std::errc::not_a_directory);
    }
    platform::Expected<std::unique_ptr<Folder>> opened =
        error ? platform::Expected<std::unique_ptr<Folder>>(error)
              : OpenMadeFolder(disk_, **parent, name, access_[relative]);
    if (!opened) {
      mirrorErrors_[relative] = opened.error();
      return opened.error();
    }
    std::shared_ptr<Folder> mirror(std::move(*opened));
    mirrors_[relative] = mirror;
    return mirror;
  }

  void TakeNext(OrderedWork<PageJob, RewrittenPage>& work) {
    const fs::path shown = std::move(shownOrder_.front());
    shownOrder_.pop_front();
    RewrittenPage page = work.Next();
    frontEnd_.Advance(done_++, std::max<std::uint64_t>(total_, listed_), shown);
    committer_.Take(shown, std::move(page));
  }

  Disk& disk_;
  // Pages whose names a folder in New holds.
  std::set<fs::path> blocked_;
  std::shared_ptr<Folder> newDir_;
  RunFrontEnd& frontEnd_;
  PageSettings settings_;
  const std::optional<std::set<fs::path>>& onlyPages_;
  unsigned threads_;
  std::vector<std::unique_ptr<PageRewriter>> rewriters_;
  Committer committer_;
  RunResult& result_;
  std::map<fs::path, std::shared_ptr<Folder>> mirrors_;
  std::map<fs::path, std::error_code> mirrorErrors_;
  std::map<fs::path, platform::FileAccess> access_;
  // The names of the pages in flight, so that memory stays flat however
  // many pages the site has.
  std::deque<fs::path> shownOrder_;
  std::uint64_t total_ = 0;
  std::size_t listed_ = 0;
  std::size_t done_ = 0;
};

}  // namespace

RunResult RunOnSite(Disk& disk, Site& site, RunFrontEnd& frontEnd, const RunOptions& options) {
  platform::Expected<NewDir, RunProblem> newDir = OpenNewDir(disk, site.Folder(), frontEnd);
  if (!newDir) {
    return Stop(newDir.error());
  }
  // The log holds the lines of pages a replace put in place while some of
  // their run's copies waited: it stays, and says so in this run's record,
  // so that the run after this one keeps it too, even if this one is cut
  // short.
  newDir->logKept =
      newDir->earlier && LogWaitsAfter(*newDir->earlier) && disk.Status(*newDir->folder, kLogName);
  const bool keepLog = newDir->logKept;
  if (keepLog && options.keepIn) {
    // Where the journal cannot take them the log keeps them: it waits, and
    // goes up with the last page of this run.
    (void)JournalWhatACutReplacePlaced(disk, newDir->folder, *options.keepIn,
                                       site.Paths().sourceDir, *newDir->earlier);
  }
  if (const std::error_code error = MarkRunBegun(disk, *newDir->folder, newDir->place, keepLog)) {
    return Stop({RunProblem::Kind::CannotMarkNew, newDir->folder->PathOf(kRecordName), error, {}});
  }
  std::set<fs::path> blocked;
  if (std::optional<RunProblem> problem = ClearNew(disk, newDir->folder, keepLog, blocked)) {
    return Stop(*problem);
  }
  RunResult result;
  result.status = RunStatus::Completed;
  result.run.paths = site.Paths();
  TreeRun run(disk, *newDir, std::move(blocked), frontEnd, options, result);
  if (const std::error_code error = run.Run(site.SharedFolder(), options.recursion)) {
    return Stop({RunProblem::Kind::CannotList, site.Paths().sourceDir, error, {}});
  }
  return result;
}

RunResult BatchRun(Disk& disk, const fs::path& directory, RunFrontEnd& frontEnd,
                   const RunOptions& options) {
  const RunPaths paths = PathsFor(directory);
  if (!frontEnd.Confirm(paths.sourceDir, options.recursion)) {
    return {};
  }
  platform::Expected<Site, SiteProblem> site =
      Site::Open(disk, directory, options.lockWait, options.foreignSite);
  if (!site) {
    return Stop(RunProblemOf(site.error()));
  }
  RunResult result = RunOnSite(disk, *site, frontEnd, options);
  result.run.directory = directory;
  return result;
}

}  // namespace lapse::batch
