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
#include "batch/placed_log.h"
#include "batch/record_text.h"
#include "batch/run_record.h"
#include "batch/site_names.h"
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

// Copies synced at a time, so that the progress moves while they are.
constexpr std::size_t kSyncStep = 64;

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

// The folders of a kept replace that took new names, each synced once the
// pages, which come in the order of their paths, have left it: only the
// folders on the way to the current page stay open.
class FoldersToSync {
 public:
  explicit FoldersToSync(Disk& disk) : disk_(disk) {}

  void Add(const fs::path& relative, std::shared_ptr<Folder> folder) {
    if (std::none_of(folders_.begin(), folders_.end(),
                     [&relative](const auto& known) { return known.first == relative; })) {
      folders_.emplace_back(relative, std::move(folder));
    }
  }

  // Syncs the folders that relative is not within.
  std::error_code Leave(const fs::path& relative) {
    return SyncWhere([&relative](const fs::path& folder) { return !IsWithin(relative, folder); });
  }

  std::error_code Finish() {
    return SyncWhere([](const fs::path&) { return true; });
  }

 private:
  template <typename Left>
  std::error_code SyncWhere(const Left& left) {
    std::error_code error;
    std::erase_if(folders_, [&](const auto& folder) {
      if (!left(folder.first)) {
        return false;
      }
      if (!error) {
        error = disk_.SyncFolder(*folder.second);
      }
      return true;
    });
    return error;
  }

  Disk& disk_;
  std::vector<std::pair<fs::path, std::shared_ptr<Folder>>> folders_;
};

// The name of a kept replace: its time in UTC, to the microsecond, so that
// the names sort as the replaces came.
std::string KeptName(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch() %
                                                                           std::chrono::seconds(1))
                         .count();
  const std::size_t length = std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%06lldZ", static_cast<long long>(micro));
  return text;
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
    steps_ = 2 * planned_.size() + same_.size();
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
  // first is: by another name for its file where the state folder shares
  // the site's volume, else by a copy. The kept replace takes its name only
  // once whole, so that a replace cut short leaves it whole or absent.
  bool Keep() {
    platform::Expected<KeptStore> store =
        KeptStore::Open(disk_, *keepIn_, site_.Paths().sourceDir, true);
    if (!store) {
      Problem(ReplaceProblem::Kind::CannotKeep, *keepIn_, store.error());
      return false;
    }
    store_.emplace(std::move(*store));
    if (!record_.keptAs.empty()) {
      if (std::optional<bool> resumed = KeepInto(record_.keptAs)) {
        return *resumed;
      }
    }
    kept_.when = std::chrono::system_clock::now();
    kept_.name = KeptName(kept_.when);
    const std::string partial = kept_.name + std::string(kPartialSuffix);
    platform::Expected<std::unique_ptr<Folder>> folder =
        OpenOrMakeOwnFolder(disk_, store_->Root(), text::PathFromText(partial));
    platform::Expected<std::unique_ptr<Folder>> pages =
        folder ? OpenOrMakeOwnFolder(disk_, **folder, kKeptPagesName) : folder.error();
    std::error_code error = pages ? std::error_code() : pages.error();
    if (!error) {
      error = KeepPlannedPages(std::move(*pages));
    }
    if (!error) {
      error = store_->WriteManifest(**folder, kept_);
    }
    if (!error) {
      folder->reset();
      error = disk_.Move(store_->Root(), text::PathFromText(partial), store_->Root(),
                         text::PathFromText(kept_.name), Replacing::No);
    }
    if (!error) {
      error = disk_.SyncFolder(store_->Root());
    }
    if (error) {
      Problem(ReplaceProblem::Kind::CannotKeep, store_->Root().PathOf(text::PathFromText(partial)),
              error);
      store_->Remove(partial);
      store_.reset();
      return false;
    }
    return true;
  }

  // Once the new replace holds a page that was replaced, the ones it makes
  // too many can go; before, it may yet end empty and be removed, and an
  // undo would have lost the oldest for nothing. Removing thousands of files
  // takes the disk a while: it is done while the other pages are replaced,
  // and waited for before the replace ends.
  void PruneMeanwhile() {
    if (!store_ || pruneBegun_) {
      return;
    }
    pruneBegun_ = true;
    try {
      pruning_ = std::jthread([store = &*store_] { store->Prune(); });
    } catch (const std::system_error&) {
      // No thread to be had: FinishKeeping prunes.
    }
  }

  // A replace cut short and done again: the pages still to be replaced go
  // into the kept replace its first part began; nothing when that is gone.
  std::optional<bool> KeepInto(const std::string& name) {
    platform::Expected<std::shared_ptr<Folder>> folder = store_->FolderOf(name);
    if (!folder) {
      return std::nullopt;
    }
    std::optional<KeptReplace> existing;
    for (KeptReplace& replace : store_->List()) {
      if (replace.name == name) {
        existing = std::move(replace);
      }
    }
    platform::Expected<std::unique_ptr<Folder>> pages =
        existing ? disk_.OpenSubfolder(**folder, kKeptPagesName)
                 : platform::Expected<std::unique_ptr<Folder>>(
                       std::make_error_code(std::errc::no_such_file_or_directory));
    if (!pages) {
      return std::nullopt;
    }
    kept_ = std::move(*existing);
    std::error_code error = KeepPlannedPages(std::move(*pages));
    if (!error) {
      error = store_->WriteManifest(**folder, kept_);
    }
    if (error) {
      Problem(ReplaceProblem::Kind::CannotKeep, (*folder)->Path(), error);
      store_.reset();
      return false;
    }
    return true;
  }

  // Keeps every planned page that the kept replace does not list yet (a
  // replace cut short listed some), and syncs the folders that took them.
  std::error_code KeepPlannedPages(std::unique_ptr<Folder> pages) {
    std::set<fs::path> listed;
    for (const KeptPage& page : kept_.pages) {
      listed.insert(page.page);
    }
    FolderCache kept(disk_, std::move(pages));
    FoldersToSync made(disk_);
    std::error_code error;
    for (const fs::path& path : planned_) {
      if (listed.count(path) == 0) {
        error = KeepPage(kept, path, made);
        if (error) {
          break;
        }
      }
    }
    const std::error_code syncError = made.Finish();
    return error ? error : syncError;
  }

  std::error_code KeepPage(FolderCache& kept, const fs::path& path, FoldersToSync& made) {
    if (const std::error_code error = made.Leave(path.parent_path())) {
      return error;
    }
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(path.parent_path());
    if (!source) {
      return source.error();
    }
    platform::Expected<std::shared_ptr<Folder>> into = KeptFolder(kept, path.parent_path(), made);
    if (!into) {
      return into.error();
    }
    const fs::path name = path.filename();
    platform::Expected<KeptPage> page = KeptPageOf(path);
    if (!page) {
      return page.error();
    }
    // What a replace cut short kept under the name is a page of this run too.
    if (!record_.keptAs.empty()) {
      disk_.RemoveFile(**into, name);
    }
    std::error_code error = disk_.Link(**source, name, **into, name);
    if (error == std::errc::cross_device_link) {
      error = CopyKeepingAll(disk_, **source, name, **into, name);
    }
    if (!error) {
      kept_.pages.push_back(std::move(*page));
    }
    return error;
  }

  // What an undo compares the page with before it puts the kept one back:
  // the copy as it will stand in the page's place, and, where the copy's
  // time could not tell a save made after the replace, the hash of the
  // bytes the run wrote into it (which the replace checks before the rename).
  platform::Expected<KeptPage> KeptPageOf(const fs::path& path) {
    const platform::FileStatus& copy = copies_.at(path);
    const CopyRecord& recorded = record_.copies.at(path);
    KeptPage page{path, recorded.source, copy.stamp, std::nullopt};
    if (!copy.fineStamp && recorded.written) {
      page.copyHash = recorded.written->hash;
    }
    return page;
  }

  // The folder of kept pages that mirrors relative, made where missing.
  platform::Expected<std::shared_ptr<Folder>> KeptFolder(FolderCache& kept,
                                                         const fs::path& relative,
                                                         FoldersToSync& made) {
    platform::Expected<std::shared_ptr<Folder>> folder = kept.At(relative);
    if (folder || relative.empty()) {
      if (folder) {
        made.Add(relative, *folder);
      }
      return folder;
    }
    platform::Expected<std::shared_ptr<Folder>> parent =
        KeptFolder(kept, relative.parent_path(), made);
    if (!parent) {
      return parent.error();
    }
    platform::Expected<std::unique_ptr<Folder>> opened =
        OpenOrMakeOwnFolder(disk_, **parent, relative.filename());
    if (!opened) {
      return opened.error();
    }
    kept.Forget(relative);
    return KeptFolder(kept, relative, made);
  }

  // The kept replace lists the pages that were replaced, and no other; the
  // oldest beyond the last few go.
  void FinishKeeping() {
    if (!store_) {
      return;
    }
    const bool pruned = pruning_.joinable();
    if (pruned) {
      pruning_.join();
    }
    // A page held back is as it was: there is nothing of it to undo.
    const std::size_t keptCount = kept_.pages.size();
    std::erase_if(kept_.pages,
                  [&](const KeptPage& page) { return heldBack_.count(page.page) != 0; });
    if (kept_.pages.size() != keptCount && !kept_.pages.empty()) {
      if (platform::Expected<std::shared_ptr<Folder>> folder = store_->FolderOf(kept_.name)) {
        store_->WriteManifest(**folder, kept_);
      }
    }
    // A replace that changed no page has nothing to undo: kept, it would
    // stand before the replaces that did, as the one an undo takes back.
    if (kept_.pages.empty()) {
      store_->Remove(kept_.name);
      store_.reset();
      return;
    }
    if (!pruned) {
      store_->Prune();
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
    // then waited for, a few at a time, as the progress shows.
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
      for (std::size_t first = 0; mirror && first < names.size(); first += kSyncStep) {
        const std::span<const fs::path> step(names.data() + first,
                                             std::min(kSyncStep, names.size() - first));
        if (const std::error_code error = disk_.SyncFiles(**mirror, step)) {
          Problem(ReplaceProblem::Kind::CannotSyncCopies, (*mirror)->Path(), error);
          return false;
        }
        for (const fs::path& name : step) {
          Advance(Below(folder, name));
        }
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
    PruneMeanwhile();
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
    std::vector<std::pair<fs::path, const LoggedLines*>> pages;
    for (const std::vector<fs::path>* placed : {&result_.replaced, &placedBefore_}) {
      for (const fs::path& path : *placed) {
        const CopyRecord& copy = record_.copies.at(path);
        if (copy.logged && !copy.logged->blocks.empty()) {
          pages.emplace_back(path, &*copy.logged);
        }
      }
    }
    if (pages.empty()) {
      journaled_ = true;
      return;
    }
    std::sort(pages.begin(), pages.end(), [](const auto& one, const auto& other) {
      return one.second->offset < other.second->offset;
    });
    platform::Expected<std::vector<JournalBlock>> blocks = LoggedBlocks(pages);
    const std::error_code error =
        blocks ? AppendToJournal(disk_, *keepIn_, site_.Paths().sourceDir, *blocks)
               : blocks.error();
    if (error) {
      Problem(ReplaceProblem::Kind::CannotJournal, *keepIn_ / "journal", error);
    }
    journaled_ = !error;
  }

  // The blocks of pages, in the order of their lines in the run's log.
  platform::Expected<std::vector<JournalBlock>> LoggedBlocks(
      const std::vector<std::pair<fs::path, const LoggedLines*>>& pages) {
    platform::Expected<std::unique_ptr<platform::SourceFile>> log =
        disk_.OpenSource(*newDir_, kLogName);
    if (!log) {
      return log.error();
    }
    // The log is read as the record says only where this user wrote it.
    if (!IsOwnFile((*log)->Status(), disk_.ProcessUser())) {
      return platform::NotOwnFileError();
    }
    JournalBlock base;
    base.when = store_ ? kept_.when : std::chrono::system_clock::now();
    base.folder = SiteFolder(site_.Paths().sourceDir);
    std::vector<JournalBlock> blocks;
    LogReader reader(**log);
    for (const auto& [path, logged] : pages) {
      std::optional<std::string> bytes = reader.Read(logged->offset, logged->size);
      if (!bytes) {
        return reader.Error();
      }
      base.page = path;
      if (!AddLoggedBlocks(*bytes, *logged, base, blocks)) {
        return platform::NotAsRecordedError();
      }
    }
    return blocks;
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
    if (old && old->kind == EntryKind::OrdinaryFile && !IsPlacedLog(*old)) {
      if (hasLog_) {
        heldBack_[kLogName] = {HeldBack::SiteHasItsOwnLog, {}};
      }
      return;
    }
    if (old && old->kind == EntryKind::OrdinaryFile) {
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
      (void)NotePlacedLog(disk_, *keepIn_, site_.Paths().sourceDir, placed->stamp);
    }
    if (const std::error_code syncError = disk_.SyncFolder(site)) {
      Problem(ReplaceProblem::Kind::CannotSyncFolder, site.Path(), syncError);
    }
  }

  // Whether the site's Log.txt is the one a replace put there: the one noted
  // in the state folder; where none is noted (no state folder, or a log an
  // earlier Lapse placed), one that holds nothing or begins as a log of
  // Lapse's does, with the line end before its first entry's head.
  bool IsPlacedLog(const platform::FileStatus& log) {
    if (keepIn_) {
      if (const std::optional<platform::FileStamp> noted =
              PlacedLog(disk_, *keepIn_, site_.Paths().sourceDir)) {
        // Its number alone could be a new file's that took a freed number.
        return *noted == log.stamp;
      }
    }
    // A log a replace placed is this user's own, owner-only file.
    if (!IsOwnFile(log, disk_.ProcessUser())) {
      return false;
    }
    if (log.stamp.size == 0) {
      return true;
    }
    platform::Expected<std::unique_ptr<platform::SourceFile>> file =
        disk_.OpenSource(site_.Folder(), kLogName);
    std::array<char, 2> start{};
    return file && (*file)->Read(start) == start.size() && start == std::array<char, 2>{'\r', '\n'};
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
    std::string text = RunRecordHeader(state, *record_.place, hasLog_ && logWaits,
                                       partPlaced && store_ ? kept_.name : "");
    for (const auto& [path, copy] : copies) {
      text += FormatRecordEntry(path, copy);
    }
    // On the disk before it takes the old record's name, and that name on
    // the disk before any page is replaced.
    const std::error_code error =
        WriteWholeFile(disk_, *newDir_, kRecordName, text, Durability::Synced);
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
  std::optional<KeptStore> store_;
  KeptReplace kept_;
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
  // Last, so that it is joined before anything it uses goes.
  bool pruneBegun_ = false;
  std::jthread pruning_;
};

ReplaceRefusal RefusalOf(const SiteProblem& problem) {
  switch (problem.kind) {
    case SiteProblem::Kind::Busy:
      return ReplaceRefusal::Busy;
    case SiteProblem::Kind::CannotLock:
      return ReplaceRefusal::CannotLock;
    case SiteProblem::Kind::CannotOpenFolder:
      break;
  }
  return ReplaceRefusal::CannotOpenFolder;
}

}  // namespace

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
  platform::Expected<std::unique_ptr<platform::SourceFile>> recordFile =
      disk.OpenSource(*newDir, kRecordName);
  // A record that someone else may have written, or one moved here from
  // another New, is none of this user's runs.
  if (recordFile && !IsOwnFile((*recordFile)->Status(), disk.ProcessUser())) {
    result.refusal = ReplaceRefusal::NewIsTheSites;
    return result;
  }
  if (!recordFile && recordFile.error() != std::errc::no_such_file_or_directory &&
      recordFile.error() != platform::NotAnOrdinaryFileError() &&
      recordFile.error() != platform::IsALinkError()) {
    result.refusal = ReplaceRefusal::CannotReadRecord;
    result.problems.push_back(
        {ReplaceProblem::Kind::CannotReadRecord, newDir->PathOf(kRecordName), recordFile.error()});
    return result;
  }
  if (!recordFile) {
    std::vector<platform::Entry> entries;
    const bool empty = !disk.List(*newDir, entries) && entries.empty();
    // An empty New is what a replace cut short at its very end leaves.
    if (empty) {
      newDir.reset();
      RemoveNew(disk, site, result);
    } else {
      result.refusal = ReplaceRefusal::NewIsTheSites;
    }
    return result;
  }
  const platform::Expected<std::string> recordText = ReadAll(**recordFile);
  recordFile->reset();
  if (!recordText) {
    result.refusal = ReplaceRefusal::CannotReadRecord;
    result.problems.push_back(
        {ReplaceProblem::Kind::CannotReadRecord, newDir->PathOf(kRecordName), recordText.error()});
    return result;
  }
  std::optional<RunRecord> record = ParseRunRecord(*recordText);
  if (!record) {
    result.refusal = ReplaceRefusal::RecordDamaged;
    return result;
  }
  if (record->place && !IsRecordOf(*record->place, place)) {
    result.refusal = ReplaceRefusal::NewIsTheSites;
    return result;
  }
  if (record->state == RecordState::Running) {
    result.refusal = ReplaceRefusal::RunUnfinished;
    return result;
  }
  record->place = place;
  Replacement(disk, site, newDir, std::move(*record), options, result).Run();
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
    result.refusal = RefusalOf(site.error());
    result.siteProblem = site.error();
    return result;
  }
  return ReplaceOnSite(disk, *site, options);
}

}  // namespace lapse::batch
