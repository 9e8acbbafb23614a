#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "batch/batch.h"
#include "batch/journal.h"
#include "batch/kept_store.h"
#include "batch/page_look.h"
#include "batch/record_text.h"
#include "batch/run_record.h"
#include "batch/site_names.h"
#include "batch/site_state.h"
#include "platform/content_hash.h"
#include "platform/errors.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::EntryKind;
using platform::Folder;
using platform::Replacing;

HeldBack ReasonOf(EntryKind kind) {
  switch (kind) {
    case EntryKind::Directory:
    case EntryKind::HiddenDirectory:
      return HeldBack::Folder;
    case EntryKind::Link:
      return HeldBack::Link;
    case EntryKind::OrdinaryFile:
    case EntryKind::Hidden:
      return HeldBack::NotACopy;
    case EntryKind::Other:
      break;
  }
  return HeldBack::NotOrdinary;
}

// Removes New, once empty, and puts that on the disk.
void RemoveNew(Disk& disk, Site& site, ReplaceResult& result) {
  Folder& folder = site.Folder();
  if (const std::error_code error = disk.RemoveEmptyFolder(folder, kNewName)) {
    result.problems.push_back(
        {ReplaceProblem::Kind::CannotRemoveNew, folder.PathOf(kNewName), error});
    return;
  }
  result.newDirRemoved = true;
  if (const std::error_code error = disk.SyncFolder(folder)) {
    result.problems.push_back({ReplaceProblem::Kind::CannotSyncFolder, folder.Path(), error});
  }
}

class Replacement {
 public:
  Replacement(Disk& disk, Site& site, const std::shared_ptr<Folder>& newDir, RunRecord record,
              const ReplaceOptions& options, ReplaceResult& result)
      : disk_(disk),
        site_(site),
        newDir_(newDir),
        sources_(disk, site.SharedFolder()),
        mirrors_(disk, newDir),
        record_(std::move(record)),
        progress_(options.progress),
        keepIn_(options.keepIn),
        siteLog_(options.siteLog),
        result_(result) {}

  void Run() {
    hasLog_ = HasLog();
    for (const auto& [path, copy] : record_.copies) {
      Plan(path, copy);
    }
    steps_ = planned_.size() + same_.size();
    // Before the first page is replaced: every copy and the log on the
    // disk, the pages to be replaced kept, and the record saying that a
    // replace is under way (and where its pages are kept). A page whose
    // copy is the page needs none of it; its copy goes only once the record
    // says so, as a placed one does.
    if (!planned_.empty() && !SyncCopies()) {
      HoldAll(planned_, HeldBack::MoveFailed);
    }
    if (!planned_.empty() && keepIn_ && !Keep()) {
      HoldAll(planned_, HeldBack::NotKept);
    }
    if (!planned_.empty() || !same_.empty()) {
      markedPartPlaced_ = WriteRecord(RecordState::PartPlaced, record_.copies, true);
      if (!markedPartPlaced_) {
        HoldAll(planned_, HeldBack::MoveFailed);
        HoldAll(same_, HeldBack::MoveFailed);
      }
    }
    for (const fs::path& path : same_) {
      LeaveAlone(path, record_.copies.at(path));
    }
    for (const fs::path& path : planned_) {
      Place(path, record_.copies.at(path));
    }
    SyncSourceFolders();
    FinishKeeping();
    const bool allPlaced = heldBack_.empty() && result_.problems.empty();
    JournalRemovedLines();
    if (allPlaced) {
      MoveLogUp();
    } else {
      KeepWhatWaits();
    }
    Clean(allPlaced);
  }

 private:
  struct Hold {
    HeldBack reason;
    std::error_code error;
  };

  void Problem(ReplaceProblem::Kind kind, const fs::path& path, std::error_code error) {
    result_.problems.push_back({kind, path, error});
  }

  void HoldAll(std::vector<fs::path>& paths, HeldBack reason) {
    for (const fs::path& path : paths) {
      heldBack_[path] = {reason, {}};
    }
    paths.clear();
  }

  // Keeps every page about to be replaced, outside the site, before the
  // first is.
  bool Keep() {
    std::vector<KeptPage> pages;
    pages.reserve(planned_.size());
    for (const fs::path& path : planned_) {
      pages.push_back(KeptPageOf(path));
    }
    platform::Expected<std::unique_ptr<KeptReplaceUnderWay>, ReplaceProblem> keeping =
        KeptReplaceUnderWay::Begin(disk_, *keepIn_, site_.Paths().sourceDir, sources_,
                                   record_.keptAs, pages);
    if (!keeping) {
      result_.problems.push_back(keeping.error());
      return false;
    }
    keeping_ = std::move(*keeping);
    return true;
  }

  // What an undo compares the page with before it puts the kept one back:
  // the copy as it will stand in the page's place, and, where the copy's
  // time could not tell a save made after the replace, the hash of the
  // bytes the run wrote into it (which the replace checks before the rename).
  KeptPage KeptPageOf(const fs::path& path) const {
    const platform::FileStatus& copy = copies_.at(path);
    const CopyRecord& recorded = record_.copies.at(path);
    KeptPage page{path, recorded.source, copy.stamp, std::nullopt};
    if (!copy.fineStamp && recorded.written) {
      page.copyHash = recorded.written->hash;
    }
    return page;
  }

  // The kept replace lists the pages that were replaced, and no other; one
  // that lists none goes.
  void FinishKeeping() {
    std::set<fs::path> held;
    for (const auto& [path, hold] : heldBack_) {
      held.insert(path);
    }
    if (keeping_ && !keeping_->Finish(held)) {
      keeping_.reset();
    }
  }

  bool HasLog() {
    const platform::Expected<platform::FileStatus> log = disk_.Status(*newDir_, kLogName);
    return log && log->kind == EntryKind::OrdinaryFile;
  }

  void Advance(const fs::path& current) {
    if (progress_ != nullptr) {
      progress_->Advance(done_++, steps_, current);
    }
  }

  // A copy replaces its page only when the page is exactly as the run read
  // it: an edit made since would otherwise be lost, a page deleted since
  // would come back.
  void Plan(const fs::path& path, const CopyRecord& recorded) {
    platform::Expected<std::shared_ptr<Folder>> mirror = mirrors_.At(path.parent_path());
    const platform::Expected<platform::FileStatus> copy =
        mirror ? disk_.Status(**mirror, path.filename())
               : platform::Expected<platform::FileStatus>(mirror.error());
    if (!copy && copy.error() == std::errc::no_such_file_or_directory) {
      // A replace cut short put it in place already.
      if (record_.state != RecordState::PartPlaced) {
        heldBack_[path] = {HeldBack::CopyMissing, {}};
      } else if (!recorded.sameAsPage) {
        // A page whose copy was the page lost nothing: it was left alone.
        placedBefore_.push_back(path);
      }
      return;
    }
    if (!copy || copy->kind != EntryKind::OrdinaryFile || !IsAsWritten(copy->stamp, recorded)) {
      heldBack_[path] = {HeldBack::CopyIncomplete, {}};
      return;
    }
    copies_[path] = *copy;
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(path.parent_path());
    if (!source) {
      heldBack_[path] = {HeldBack::NoSourceFolder, {}};
      return;
    }
    if (const std::optional<Hold> hold =
            CheckPage(**source, path.filename(), recorded, Contents::Unread)) {
      heldBack_[path] = *hold;
      return;
    }
    (recorded.sameAsPage ? same_ : planned_).push_back(path);
  }

  // Whether the copy is the very file the run wrote, by what its stamp
  // tells; a record of an earlier version does not say.
  static bool IsAsWritten(const platform::FileStamp& copy, const CopyRecord& recorded) {
    return recorded.written && IdentityOf(copy) == recorded.written->identity &&
           copy.size == recorded.copySize;
  }

  // Whether the copy, opened, is the very file the run wrote, with the very
  // bytes it wrote: anyone who may write into New could have put another
  // file under its name, or written into it.
  std::optional<Hold> CheckCopy(Folder& mirror, const fs::path& name, const CopyRecord& recorded) {
    platform::Expected<std::unique_ptr<platform::SourceFile>> copy = disk_.OpenSource(mirror, name);
    if (!copy) {
      return Hold{HeldBack::MoveFailed, copy.error()};
    }
    if (!IsAsWritten((*copy)->Status().stamp, recorded) ||
        HashOf(**copy) != recorded.written->hash) {
      return Hold{HeldBack::CopyIncomplete, {}};
    }
    return std::nullopt;
  }

  // Whether a check reads the page where its time cannot tell a change: the
  // check right before the rename must; the one that plans can leave it to
  // that one, and spare a read of every page.
  enum class Contents { Read, Unread };

  // Why the page no longer is as the run read it, if it is not.
  std::optional<Hold> CheckPage(Folder& source, const fs::path& name, const CopyRecord& recorded,
                                Contents contents) {
    switch (LookAtPage(disk_, source, name, recorded.source,
                       contents == Contents::Read ? recorded.hash : std::nullopt)) {
      case PageSince::Unchanged:
        return std::nullopt;
      case PageSince::Deleted:
        return Hold{HeldBack::SourceDeleted, {}};
      case PageSince::NotAFile:
        return Hold{HeldBack::NameTaken, {}};
      case PageSince::Changed:
        break;
    }
    return Hold{HeldBack::SourceChanged, {}};
  }

  std::optional<std::uint64_t> HashOf(platform::SourceFile& file) {
    platform::ContentHash hash;
    while (const std::size_t count = file.Read(hashBuffer_)) {
      hash.Add(std::string_view(hashBuffer_.data(), count));
    }
    if (file.Error()) {
      return std::nullopt;
    }
    return hash.Value();
  }

  // Every copy and the log on the disk before the first page is replaced, so
  // that a power cut leaves no page empty.
  bool SyncCopies() {
    std::map<fs::path, std::vector<fs::path>> byFolder;
    for (const fs::path& path : planned_) {
      byFolder[path.parent_path()].push_back(path.filename());
    }
    // All of them begun at once, so that the disk writes them together;
    // then waited for.
    for (const auto& [folder, names] : byFolder) {
      if (platform::Expected<std::shared_ptr<Folder>> mirror = mirrors_.At(folder)) {
        disk_.BeginSync(**mirror, names);
      }
    }
    if (hasLog_) {
      const fs::path log[] = {kLogName};
      if (const std::error_code error = disk_.SyncFiles(*newDir_, log)) {
        Problem(ReplaceProblem::Kind::CannotSyncCopies, newDir_->Path(), error);
        return false;
      }
    }
    for (const auto& [folder, names] : byFolder) {
      platform::Expected<std::shared_ptr<Folder>> mirror = mirrors_.At(folder);
      if (!mirror) {
        continue;
      }
      if (const std::error_code error = disk_.SyncFiles(**mirror, names)) {
        Problem(ReplaceProblem::Kind::CannotSyncCopies, (*mirror)->Path(), error);
        return false;
      }
    }
    return true;
  }

  // The folders of a page and of its copy, once the page is seen, right
  // before its copy goes, to be still as the run read it: an edit saved
  // while the copies were synced is kept. Nothing, the page held back, else.
  struct PageFolders {
    std::shared_ptr<Folder> mirror;
    std::shared_ptr<Folder> source;
  };
  std::optional<PageFolders> LookAgain(const fs::path& path, const CopyRecord& recorded) {
    Advance(path);
    platform::Expected<std::shared_ptr<Folder>> mirror = mirrors_.At(path.parent_path());
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(path.parent_path());
    if (!mirror || !source) {
      heldBack_[path] = {HeldBack::MoveFailed, !mirror ? mirror.error() : source.error()};
      return std::nullopt;
    }
    if (const std::optional<Hold> hold =
            CheckPage(**source, path.filename(), recorded, Contents::Read)) {
      heldBack_[path] = *hold;
      return std::nullopt;
    }
    return PageFolders{std::move(*mirror), std::move(*source)};
  }

  void Place(const fs::path& path, const CopyRecord& recorded) {
    const std::optional<PageFolders> folders = LookAgain(path, recorded);
    if (!folders) {
      return;
    }
    if (const std::optional<Hold> hold = CheckCopy(*folders->mirror, path.filename(), recorded)) {
      heldBack_[path] = *hold;
      return;
    }
    if (const std::error_code error = disk_.Move(
            *folders->mirror, path.filename(), *folders->source, path.filename(), Replacing::Yes)) {
      heldBack_[path] = {HeldBack::MoveFailed, error};
      return;
    }
    placedFolders_.insert(path.parent_path());
    result_.replaced.push_back(path);
    if (keeping_) {
      keeping_->PagePlaced();
    }
    if (recorded.links > 1) {
      result_.otherNamesKeepOldText.push_back(path);
    }
  }

  // A copy that is its page byte for byte would change nothing but the
  // page's file: the page keeps its number, its times and its other names,
  // and is not kept for an undo, which would have nothing to put back. Its
  // copy goes from New as a placed one does, once the page is seen to be
  // still as the run read it (else the copy waits, as any other would).
  void LeaveAlone(const fs::path& path, const CopyRecord& recorded) {
    const std::optional<PageFolders> folders = LookAgain(path, recorded);
    if (!folders) {
      return;
    }
    if (const std::error_code error = disk_.RemoveFile(*folders->mirror, path.filename())) {
      heldBack_[path] = {HeldBack::MoveFailed, error};
      return;
    }
    result_.unchanged.push_back(path);
  }

  void SyncSourceFolders() {
    for (const fs::path& folder : placedFolders_) {
      platform::Expected<std::shared_ptr<Folder>> source = sources_.At(folder);
      if (source) {
        if (const std::error_code error = disk_.SyncFolder(**source)) {
          Problem(ReplaceProblem::Kind::CannotSyncFolder, (*source)->Path(), error);
        }
      }
    }
  }

  // The lines that the pages placed now lost go from the run's log into the
  // journal of the site, before the log moves up or waits: it is the record
  // that outlives the next run. Pages that a replace cut short placed are
  // taken too; they may have been journaled already, and twice is better
  // than never.
  void JournalRemovedLines() {
    // Without a state folder there is no journal: the log keeps the lines.
    journaled_ = !hasLog_;
    if (!keepIn_ || !hasLog_) {
      return;
    }
    std::vector<LoggedPage> pages;
    for (const std::vector<fs::path>* placed : {&result_.replaced, &placedBefore_}) {
      for (const fs::path& path : *placed) {
        const CopyRecord& copy = record_.copies.at(path);
        if (copy.logged && !copy.logged->blocks.empty()) {
          pages.emplace_back(path, &*copy.logged);
        }
      }
    }
    const std::error_code error = JournalPlacedLines(
        disk_, *newDir_, *keepIn_, site_.Paths().sourceDir,
        keeping_ ? keeping_->When() : std::chrono::system_clock::now(), std::move(pages));
    if (error) {
      Problem(ReplaceProblem::Kind::CannotJournal, *keepIn_ / "journal", error);
    }
    journaled_ = !error;
  }

  // The log goes last, and only once every copy of its run is in place:
  // while a copy waits, the log waits with it, so that the lines of the
  // pages already replaced stay with the lines of those still to come.
  void MoveLogUp() {
    Folder& site = site_.Folder();
    // A log that held lines of pages placed before this replace (a replace
    // cut short, a run after a partial replace) may hold lines the journal
    // never took: it is placed as a replace's is.
    if (siteLog_ == SiteLog::Left && journaled_ && !record_.logWaits) {
      if (hasLog_) {
        if (const std::error_code error = disk_.RemoveFile(*newDir_, kLogName)) {
          heldBack_[kLogName] = {HeldBack::MoveFailed, error};
        }
      }
      return;
    }
    // A replace cut short after it moved the log up: the log in the folder
    // is this run's.
    if (!hasLog_ && record_.state == RecordState::PartPlaced && record_.logWaits) {
      return;
    }
    // A "Log.txt" in the folder that an earlier replace put there goes,
    // whether or not this run wrote a log; one of the site's own stays.
    const platform::Expected<platform::FileStatus> old = disk_.Status(site, kLogName);
    if (old && old->kind == EntryKind::OrdinaryFile &&
        !IsPlacedLog(disk_, site, keepIn_, site_.Paths().sourceDir, *old)) {
      if (hasLog_) {
        heldBack_[kLogName] = {HeldBack::SiteHasItsOwnLog, {}};
      }
      return;
    }
    const bool oldIsPlaced = old && old->kind == EntryKind::OrdinaryFile;
    if (hasLog_ && keepIn_) {
      // Noted before it moves (a rename keeps a file's number, size and
      // time), beside the log it replaces: whenever the power goes, the
      // site's Log.txt is one the note names.
      std::vector<platform::FileStamp> logs;
      if (const platform::Expected<platform::FileStatus> log = disk_.Status(*newDir_, kLogName)) {
        logs.push_back(log->stamp);
      }
      if (oldIsPlaced) {
        logs.push_back(old->stamp);
      }
      (void)NotePlacedLogs(disk_, *keepIn_, site_.Paths().sourceDir, logs, Durability::Synced);
    }
    if (oldIsPlaced) {
      if (const std::error_code error = disk_.RemoveFile(site, kLogName)) {
        Problem(ReplaceProblem::Kind::CannotDeleteOldLog, site.PathOf(kLogName), error);
        if (hasLog_) {
          heldBack_[kLogName] = {HeldBack::LogWaits, {}};
        }
        return;
      }
    }
    if (!hasLog_) {
      return;
    }
    const std::error_code error = disk_.Move(*newDir_, kLogName, site, kLogName, Replacing::No);
    if (error) {
      heldBack_[kLogName] = {
          error == std::errc::file_exists ? HeldBack::NameTaken : HeldBack::MoveFailed, error};
      return;
    }
    result_.moved.push_back(kLogName);
    const platform::Expected<platform::FileStatus> placed = disk_.Status(site, kLogName);
    if (keepIn_ && placed) {
      // Without the note the next replace tells the log by its text, or
      // holds its own log back: never is a file of the site's lost.
      (void)NotePlacedLogs(disk_, *keepIn_, site_.Paths().sourceDir, {placed->stamp},
                           Durability::Cached);
    }
    if (const std::error_code syncError = disk_.SyncFolder(site)) {
      Problem(ReplaceProblem::Kind::CannotSyncFolder, site.Path(), syncError);
    }
  }

  // What stays for a later replace: the copies held back, in a record that
  // says some of its run is in place already, and the log.
  void KeepWhatWaits() {
    if (hasLog_) {
      heldBack_[kLogName] = {HeldBack::LogWaits, {}};
    }
    if (result_.replaced.empty() && result_.unchanged.empty()) {
      // Nothing went: the record says again what it said before, so that
      // the next run does not take this run's log for one of pages placed.
      if (markedPartPlaced_ && record_.state != RecordState::PartPlaced) {
        WriteRecord(record_.state, record_.copies, record_.logWaits);
      }
      return;
    }
    std::map<fs::path, CopyRecord> waiting;
    for (const auto& [path, copy] : record_.copies) {
      if (heldBack_.count(path) != 0) {
        waiting[path] = copy;
      }
    }
    WriteRecord(RecordState::PartPlaced, waiting, true);
  }

  // logWaits: the log in New holds lines of pages placed already, and no
  // run is to remove it.
  bool WriteRecord(RecordState state, const std::map<fs::path, CopyRecord>& copies, bool logWaits) {
    const bool partPlaced = state == RecordState::PartPlaced;
    const RecordHead head{state, *record_.place, hasLog_ && logWaits,
                          partPlaced && keeping_ ? keeping_->Name() : std::string()};
    // On the disk before any page is replaced.
    const std::error_code error = SaveRecord(disk_, *newDir_, head, copies);
    if (error) {
      Problem(ReplaceProblem::Kind::CannotWriteRecord, newDir_->PathOf(kRecordName), error);
    }
    return !error;
  }

  // Reports what stays in New. Once every copy is in place and nothing else
  // is there, removes the emptied folders, the record and New itself; what
  // a killed run was writing goes in any case. While something stays, the
  // record stays too, listing what still waits, so that New is Lapse's still.
  void Clean(bool allPlaced) {
    std::vector<fs::path> folders;  // in the walk's order
    const std::error_code error =
        WalkTree(disk_, newDir_, Recursion::Subfolders, TopNew::Take,
                 {[&](WalkedFolder& walked) {
                    if (!walked.relative.empty()) {
                      folders.push_back(walked.relative);
                    }
                    for (const fs::path& name : walked.own) {
                      if (name != kRecordName) {
                        disk_.RemoveFile(*walked.folder, name);
                      }
                    }
                    for (const fs::path& name : walked.files) {
                      Leave(walked.relative, name, EntryKind::OrdinaryFile);
                    }
                    for (const fs::path& name : walked.linkedPages) {
                      Leave(walked.relative, name, EntryKind::Link);
                    }
                    for (const platform::Entry& entry : walked.skipped) {
                      Leave(walked.relative, entry.name, entry.kind);
                    }
                  },
                  [&](const fs::path& relative, const fs::path&, std::error_code) {
                    result_.left.push_back({relative, HeldBack::Folder, {}});
                  }});
    if (error) {
      Problem(ReplaceProblem::Kind::CannotListNew, newDir_->Path(), error);
      return;
    }
    // Copies held back that are not even in New any more.
    std::set<fs::path> said;
    for (const LeftInNew& item : result_.left) {
      said.insert(item.name);
    }
    for (const auto& held : heldBack_) {
      if (said.count(held.first) == 0) {
        result_.left.push_back({held.first, held.second.reason, held.second.error});
      }
    }
    if (!allPlaced) {
      return;
    }
    if (!result_.left.empty()) {
      // Its run is in place; what stays is not the run's.
      // A log held back waits for the next replace; no run removes it.
      WriteRecord(RecordState::Complete, {}, heldBack_.count(kLogName) != 0);
      return;
    }
    FolderCache opened(disk_, newDir_);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
      if (platform::Expected<std::shared_ptr<Folder>> parent = opened.At(folder->parent_path())) {
        disk_.RemoveEmptyFolder(**parent, folder->filename());
      }
    }
    disk_.RemoveFile(*newDir_, kRecordName);
    RemoveNew(disk_, site_, result_);
  }

  // Says why a file of New stays there.
  void Leave(const fs::path& relative, const fs::path& name, EntryKind kind) {
    const fs::path path = Below(relative, name);
    const auto held = heldBack_.find(path);
    result_.left.push_back(held != heldBack_.end()
                               ? LeftInNew{path, held->second.reason, held->second.error}
                               : LeftInNew{path, ReasonOf(kind), {}});
  }

  Disk& disk_;
  Site& site_;
  std::shared_ptr<Folder> newDir_;
  FolderCache sources_;
  FolderCache mirrors_;
  RunRecord record_;
  Progress* progress_;
  std::optional<fs::path> keepIn_;
  SiteLog siteLog_;
  std::unique_ptr<KeptReplaceUnderWay> keeping_;
  std::map<fs::path, platform::FileStatus> copies_;  // as planned
  ReplaceResult& result_;
  bool hasLog_ = false;
  bool journaled_ = false;
  bool markedPartPlaced_ = false;  // this replace wrote that it is under way  // every line the
                                   // pages placed lost is in the journal
  std::vector<fs::path> planned_;
  std::vector<fs::path> placedBefore_;  // by a replace cut short
  std::vector<fs::path> same_;          // copies that are their pages
  std::vector<char> hashBuffer_ = std::vector<char>(std::size_t{64} * 1024);
  std::set<fs::path> placedFolders_;
  std::map<fs::path, Hold> heldBack_;
  std::uint64_t steps_ = 0;
  std::uint64_t done_ = 0;
};

}  // namespace

std::uint64_t ReplaceResult::PagesHeldBack() const {
  return static_cast<std::uint64_t>(std::count_if(
      left.begin(), left.end(), [](const LeftInNew& item) { return item.name != kLogName; }));
}

ReplaceResult ReplaceOnSite(Disk& disk, Site& site, const ReplaceOptions& options) {
  ReplaceResult result;
  result.paths = site.Paths();
  result.logPath = site.Folder().PathOf(kLogName);
  // A link named New leads elsewhere: there are no copies of these pages.
  platform::Expected<std::unique_ptr<Folder>> opened = disk.OpenSubfolder(site.Folder(), kNewName);
  if (!opened) {
    result.refusal = ReplaceRefusal::NoNewDir;
    return result;
  }
  std::shared_ptr<Folder> newDir(std::move(*opened));
  const platform::Expected<platform::FileStatus> siteStatus = disk.FolderStatus(site.Folder());
  const platform::Expected<platform::FileStatus> newStatus = disk.FolderStatus(*newDir);
  if (!siteStatus || !newStatus) {
    result.refusal = ReplaceRefusal::NoNewDir;
    return result;
  }
  const RecordPlace place{IdentityOf(siteStatus->stamp), IdentityOf(newStatus->stamp)};
  platform::Expected<FoundRecord> found = FindRecord(disk, *newDir, place);
  if (!found) {
    result.refusal = ReplaceRefusal::CannotReadRecord;
    result.problems.push_back(
        {ReplaceProblem::Kind::CannotReadRecord, newDir->PathOf(kRecordName), found.error()});
    return result;
  }
  switch (found->found) {
    case RecordFound::None:
      // An empty New is what a replace cut short at its very end leaves;
      // anything else in it is the site's.
      if (std::vector<platform::Entry> entries; !disk.List(*newDir, entries) && entries.empty()) {
        newDir.reset();
        RemoveNew(disk, site, result);
      } else {
        result.refusal = ReplaceRefusal::NewIsTheSites;
      }
      return result;
    case RecordFound::NotTheUsers:
      result.refusal = ReplaceRefusal::NewIsTheSites;
      return result;
    case RecordFound::Damaged:
      result.refusal = ReplaceRefusal::RecordDamaged;
      return result;
    case RecordFound::Read:
      break;
  }
  RunRecord& record = *found->record;
  if (record.state == RecordState::Running) {
    result.refusal = ReplaceRefusal::RunUnfinished;
    return result;
  }
  record.place = place;
  Replacement(disk, site, newDir, std::move(record), options, result).Run();
  const bool logStayed = std::any_of(result.left.begin(), result.left.end(),
                                     [](const LeftInNew& item) { return item.name == kLogName; });
  if (logStayed) {
    result.logPath = newDir->PathOf(kLogName);
  }
  return result;
}

ReplaceResult Replace(Disk& disk, const fs::path& directory, const ReplaceOptions& options) {
  platform::Expected<Site, SiteProblem> site =
      Site::Open(disk, directory, options.lockWait, options.foreignSite);
  if (!site) {
    ReplaceResult result;
    result.paths = PathsFor(directory);
    result.refusal = RefusalOf<ReplaceRefusal>(site.error());
    result.siteProblem = site.error();
    return result;
  }
  return ReplaceOnSite(disk, *site, options);
}

}  // namespace lapse::batch
