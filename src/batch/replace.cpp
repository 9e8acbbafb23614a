#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "batch/batch.h"
#include "batch/run_record.h"
#include "batch/site_names.h"
#include "platform/content_hash.h"
#include "platform/errors.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::EntryKind;
using platform::Folder;
using platform::Replacing;

// Copies synced at a time, so that the progress moves while they are.
constexpr std::size_t kSyncStep = 64;

std::string ReadAll(text::ByteSource& file) {
  std::string text;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = file.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  return text;
}

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

// Folders below a top folder, each opened once, step by step from the top:
// never through a link, and never by a path longer than one name.
class FolderCache {
 public:
  FolderCache(Disk& disk, std::shared_ptr<Folder> top) : disk_(disk) {
    opened_[fs::path()] = std::move(top);
  }
  platform::Expected<std::shared_ptr<Folder>> At(const fs::path& relative) {
    if (const auto found = opened_.find(relative); found != opened_.end()) {
      return found->second;
    }
    if (const auto failed = failed_.find(relative); failed != failed_.end()) {
      return failed->second;
    }
    platform::Expected<std::shared_ptr<Folder>> parent = At(relative.parent_path());
    platform::Expected<std::unique_ptr<Folder>> folder =
        parent ? disk_.OpenSubfolder(**parent, relative.filename())
               : platform::Expected<std::unique_ptr<Folder>>(parent.error());
    if (!folder) {
      failed_[relative] = folder.error();
      return folder.error();
    }
    std::shared_ptr<Folder> shared(std::move(*folder));
    opened_[relative] = shared;
    return shared;
  }

 private:
  Disk& disk_;
  std::map<fs::path, std::shared_ptr<Folder>> opened_;
  std::map<fs::path, std::error_code> failed_;
};

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
              Progress* progress, ReplaceResult& result)
      : disk_(disk),
        site_(site),
        newDir_(newDir),
        sources_(disk, site.SharedFolder()),
        mirrors_(disk, newDir),
        record_(std::move(record)),
        progress_(progress),
        result_(result) {}

  void Run() {
    hasLog_ = HasLog();
    for (const auto& [path, copy] : record_.copies) {
      Plan(path, copy);
    }
    if (!planned_.empty() && !Prepare()) {
      for (const fs::path& path : planned_) {
        heldBack_[path] = {HeldBack::MoveFailed, {}};
      }
      planned_.clear();
    }
    for (const fs::path& path : planned_) {
      Place(path, record_.copies.at(path));
    }
    SyncSourceFolders();
    const bool allPlaced = heldBack_.empty() && result_.problems.empty();
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
      }
      return;
    }
    if (!copy || copy->kind != EntryKind::OrdinaryFile || copy->stamp.size != recorded.copySize) {
      heldBack_[path] = {HeldBack::CopyIncomplete, {}};
      return;
    }
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(path.parent_path());
    if (!source) {
      heldBack_[path] = {HeldBack::NoSourceFolder, {}};
      return;
    }
    if (const std::optional<Hold> hold = CheckPage(**source, path.filename(), recorded)) {
      heldBack_[path] = *hold;
      return;
    }
    planned_.push_back(path);
  }

  // Why the page no longer is as the run read it, if it is not.
  std::optional<Hold> CheckPage(Folder& source, const fs::path& name, const CopyRecord& recorded) {
    const platform::Expected<platform::FileStatus> page = disk_.Status(source, name);
    if (!page && page.error() == std::errc::no_such_file_or_directory) {
      return Hold{HeldBack::SourceDeleted, {}};
    }
    if (!page || page->kind != EntryKind::OrdinaryFile) {
      return Hold{HeldBack::NameTaken, {}};
    }
    if (page->stamp != recorded.source) {
      return Hold{HeldBack::SourceChanged, {}};
    }
    if (recorded.hash && HashOf(source, name) != recorded.hash) {
      return Hold{HeldBack::SourceChanged, {}};
    }
    return std::nullopt;
  }

  std::optional<std::uint64_t> HashOf(Folder& source, const fs::path& name) {
    platform::Expected<std::unique_ptr<platform::SourceFile>> page = disk_.OpenSource(source, name);
    if (!page) {
      return std::nullopt;
    }
    platform::ContentHash hash;
    std::vector<char> buffer(std::size_t{64} * 1024);
    while (const std::size_t count = (*page)->Read(buffer)) {
      hash.Add(std::string_view(buffer.data(), count));
    }
    if ((*page)->Error()) {
      return std::nullopt;
    }
    return hash.Value();
  }

  // Before the first page is replaced: the record says that a replace is
  // under way, and it, the log and every copy are on the disk, so that a
  // power cut leaves no page empty and the next replace knows what it did.
  bool Prepare() {
    steps_ = 2 * planned_.size();
    if (!WriteRecord(RecordState::PartPlaced, record_.copies)) {
      return false;
    }
    std::map<fs::path, std::vector<fs::path>> byFolder;
    for (const fs::path& path : planned_) {
      byFolder[path.parent_path()].push_back(path.filename());
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

  // The page is checked once more right before its copy takes its place:
  // an edit saved while the copies were synced is kept.
  void Place(const fs::path& path, const CopyRecord& recorded) {
    Advance(path);
    platform::Expected<std::shared_ptr<Folder>> mirror = mirrors_.At(path.parent_path());
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(path.parent_path());
    if (!mirror || !source) {
      heldBack_[path] = {HeldBack::MoveFailed, !mirror ? mirror.error() : source.error()};
      return;
    }
    if (const std::optional<Hold> hold = CheckPage(**source, path.filename(), recorded)) {
      heldBack_[path] = *hold;
      return;
    }
    if (const std::error_code error =
            disk_.Move(**mirror, path.filename(), **source, path.filename(), Replacing::Yes)) {
      heldBack_[path] = {HeldBack::MoveFailed, error};
      return;
    }
    placedFolders_.insert(path.parent_path());
    result_.replaced.push_back(path);
    if (recorded.links > 1) {
      result_.otherNamesKeepOldText.push_back(path);
    }
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

  // The log goes last, and only once every copy of its run is in place:
  // while a copy waits, the log waits with it, so that the lines of the
  // pages already replaced stay with the lines of those still to come.
  void MoveLogUp() {
    Folder& site = site_.Folder();
    // A replace cut short after it moved the log up: the log in the folder
    // is this run's.
    if (!hasLog_ && record_.state == RecordState::PartPlaced && record_.logWaits) {
      return;
    }
    // A "Log.txt" in the folder belongs to an earlier replace: it goes,
    // whether or not this run wrote a log.
    const platform::Expected<platform::FileStatus> old = disk_.Status(site, kLogName);
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
    if (result_.replaced.empty()) {
      return;
    }
    std::map<fs::path, CopyRecord> waiting;
    for (const auto& [path, copy] : record_.copies) {
      if (heldBack_.count(path) != 0) {
        waiting[path] = copy;
      }
    }
    WriteRecord(RecordState::PartPlaced, waiting);
  }

  bool WriteRecord(RecordState state, const std::map<fs::path, CopyRecord>& copies) {
    std::string text = RunRecordHeader(state, state == RecordState::PartPlaced && hasLog_);
    for (const auto& [path, copy] : copies) {
      text += FormatRecordEntry(path, copy);
    }
    platform::Expected<std::unique_ptr<platform::NewFile>> file =
        disk_.Create(*newDir_, kRecordName, 0600);
    std::error_code error = file ? std::error_code() : file.error();
    if (!error && !(*file)->Write(text)) {
      error = (*file)->Error();
    }
    // On the disk before it takes the old record's name, and that name on
    // the disk before any page is replaced.
    if (!error) {
      error = (*file)->Sync();
    }
    if (!error) {
      error = (*file)->Commit();
    }
    if (!error) {
      error = disk_.SyncFolder(*newDir_);
    }
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
    std::vector<std::pair<std::shared_ptr<Folder>, fs::path>> folders;
    std::map<fs::path, std::shared_ptr<Folder>> opened;
    const std::error_code error =
        WalkTree(disk_, newDir_, Recursion::Subfolders, TopNew::Take,
                 {[&](WalkedFolder& walked) {
                    opened[walked.relative] = walked.folder;
                    if (!walked.relative.empty()) {
                      folders.emplace_back(opened[walked.relative.parent_path()],
                                           walked.relative.filename());
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
    for (const auto& held : heldBack_) {
      const bool said = std::any_of(result_.left.begin(), result_.left.end(),
                                    [&](const LeftInNew& item) { return item.name == held.first; });
      if (!said) {
        result_.left.push_back({held.first, held.second.reason, held.second.error});
      }
    }
    if (!allPlaced) {
      return;
    }
    if (!result_.left.empty()) {
      // Its run is in place; what stays is not the run's.
      WriteRecord(RecordState::Complete, {});
      return;
    }
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
      disk_.RemoveEmptyFolder(*folder->first, folder->second);
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
  ReplaceResult& result_;
  bool hasLog_ = false;
  std::vector<fs::path> planned_;
  std::set<fs::path> placedFolders_;
  std::map<fs::path, Hold> heldBack_;
  std::uint64_t steps_ = 0;
  std::uint64_t done_ = 0;
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

ReplaceResult ReplaceOnSite(Disk& disk, Site& site, Progress* progress) {
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
  platform::Expected<std::unique_ptr<platform::SourceFile>> recordFile =
      disk.OpenSource(*newDir, kRecordName);
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
  const std::optional<RunRecord> record = ParseRunRecord(ReadAll(**recordFile));
  recordFile->reset();
  if (!record || record->state == RecordState::Running) {
    result.refusal = ReplaceRefusal::RunUnfinished;
    return result;
  }
  Replacement(disk, site, newDir, *record, progress, result).Run();
  const bool logStayed = std::any_of(result.left.begin(), result.left.end(),
                                     [](const LeftInNew& item) { return item.name == kLogName; });
  if (logStayed) {
    result.logPath = newDir->PathOf(kLogName);
  }
  return result;
}

ReplaceResult Replace(Disk& disk, const fs::path& directory, const ReplaceOptions& options) {
  platform::Expected<Site, SiteProblem> site = Site::Open(disk, directory, options.lockWait);
  if (!site) {
    ReplaceResult result;
    result.paths = PathsFor(directory);
    result.refusal = RefusalOf(site.error());
    result.siteProblem = site.error();
    return result;
  }
  return ReplaceOnSite(disk, *site, options.progress);
}

}  // namespace lapse::batch
