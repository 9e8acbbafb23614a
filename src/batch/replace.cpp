#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "batch/batch.h"
#include "batch/run_names.h"
#include "batch/run_record.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using engine::Disk;
using engine::EntryKind;
using engine::Folder;
using engine::Replacing;


HeldBack ReasonOf(EntryKind kind) {
  switch (kind) {
    case EntryKind::Directory:
      return HeldBack::Folder;
    case EntryKind::Hidden:
      return HeldBack::Hidden;
    case EntryKind::Link:
      return HeldBack::Link;
    case EntryKind::OrdinaryFile:
      return HeldBack::MoveFailed;
    case EntryKind::Other:
      break;
  }
  return HeldBack::NotOrdinary;
}

// The hidden file a copy is written under until it is whole; a run killed
// while writing leaves one behind.
bool IsPartialCopy(const engine::Entry& entry) {
  const fs::path::string_type& name = entry.name.native();
  const fs::path::string_type dot = fs::path(".").native();
  const fs::path::string_type part = fs::path(".part").native();
  return entry.kind == EntryKind::Hidden && name.starts_with(dot) && name.ends_with(part);
}

std::string ReadAll(engine::SourceFile& file) {
  std::string text;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = file.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  return text;
}

class Replacement {
 public:
  Replacement(Disk& disk, Folder& source, Folder& newDir, ReplaceResult& result)
      : disk_(disk), source_(source), newDir_(newDir), result_(result) {}

  void Run() {
    std::vector<engine::Entry> entries;
    if (const std::error_code error = disk_.List(newDir_, entries)) {
      Problem(ReplaceProblem::Kind::CannotListNew, newDir_.Path(), error);
    }
    ReadRecord();
    std::vector<fs::path> copies;    // replace their sources
    std::vector<fs::path> newFiles;  // take names that nothing holds
    bool hasLog = false;
    for (const engine::Entry& entry : entries) {
      if (entry.kind != EntryKind::OrdinaryFile || entry.name == kRecordName) {
        continue;
      }
      if (entry.name == kLogName) {
        hasLog = true;
      } else if (IsHtmlFileName(entry.name)) {
        PlanCopy(entry.name, copies, newFiles);
      } else {
        newFiles.push_back(entry.name);
      }
    }
    // A power cut after a source is replaced must not leave an empty page:
    // every copy is on the disk before the first rename.
    if (const std::error_code error = disk_.SyncFiles(newDir_, copies)) {
      Problem(ReplaceProblem::Kind::CannotSyncCopies, newDir_.Path(), error);
      for (const fs::path& name : copies) {
        heldBack_[name] = {HeldBack::MoveFailed, error};
      }
      copies.clear();
    }
    // A New without files is what a replace cut short after its last move
    // leaves: the log in the directory is then this run's, and stays.
    if (!copies.empty() || !newFiles.empty() || hasLog) {
      DeleteOldLog();
    }
    for (const fs::path& name : copies) {
      MoveUp(name, Replacing::Yes, result_.replaced);
    }
    for (const fs::path& name : newFiles) {
      MoveUp(name, Replacing::No, result_.moved);
    }
    // The log goes last, and only once every other file has gone: while a
    // file stays behind the log stays with it, so that the replace that
    // finishes the job cannot take it for an earlier run's log.
    if (hasLog) {
      if (heldBack_.empty() && result_.problems.empty()) {
        MoveUp(kLogName, Replacing::No, result_.moved);
      } else {
        heldBack_[kLogName] = {HeldBack::LogWaits, {}};
      }
    }
    RemoveNewWhenDone();
    if (const std::error_code error = disk_.SyncFolder(source_)) {
      Problem(ReplaceProblem::Kind::CannotSyncFolder, source_.Path(), error);
    }
  }

 private:
  void Problem(ReplaceProblem::Kind kind, const fs::path& path, std::error_code error) {
    result_.problems.push_back({kind, path, error});
  }

  void ReadRecord() {
    engine::Expected<std::unique_ptr<engine::SourceFile>> file =
        disk_.OpenSource(newDir_, kRecordName);
    if (file) {
      record_ = ParseRunRecord(ReadAll(**file));
    }
  }

  // A copy replaces its source only when the source is exactly as the run
  // read it: an edit made since would otherwise be lost. A copy whose
  // source has gone takes its old name again, as long as nothing holds it.
  void PlanCopy(const fs::path& name, std::vector<fs::path>& copies,
                std::vector<fs::path>& newFiles) {
    const engine::Expected<engine::FileStatus> source = disk_.Status(source_, name);
    if (!source && source.error() == std::errc::no_such_file_or_directory) {
      newFiles.push_back(name);
      return;
    }
    if (!source || source->kind != EntryKind::OrdinaryFile) {
      heldBack_[name] = {HeldBack::NameTaken, {}};
      return;
    }
    const auto recorded = record_.find(name);
    const engine::Expected<engine::FileStatus> copy = disk_.Status(newDir_, name);
    if (recorded == record_.end()) {
      heldBack_[name] = {HeldBack::NoRecord, {}};
    } else if (!copy || copy->stamp.size != recorded->second.copySize) {
      heldBack_[name] = {HeldBack::CopyIncomplete, {}};
    } else if (source->stamp != recorded->second.source) {
      heldBack_[name] = {HeldBack::SourceChanged, {}};
    } else {
      copies.push_back(name);
    }
  }

  // A "Log.txt" in the directory belongs to an earlier run: it goes, whether
  // or not this run wrote a log.
  void DeleteOldLog() {
    const engine::Expected<engine::FileStatus> status = disk_.Status(source_, kLogName);
    if (status && status->kind == EntryKind::OrdinaryFile) {
      if (const std::error_code error = disk_.RemoveFile(source_, kLogName)) {
        Problem(ReplaceProblem::Kind::CannotDeleteOldLog, source_.PathOf(kLogName), error);
      }
    }
  }

  void MoveUp(const fs::path& name, Replacing replacing, std::vector<fs::path>& done) {
    const std::error_code error = disk_.Move(newDir_, name, source_, name, replacing);
    if (error == std::errc::file_exists) {
      heldBack_[name] = {HeldBack::NameTaken, {}};
    } else if (error) {
      heldBack_[name] = {HeldBack::MoveFailed, error};
    } else {
      done.push_back(name);
    }
  }

  // Whatever stays in New is reported; the record of the sources and the
  // hidden partial copies are the run's own, and go with New.
  void RemoveNewWhenDone() {
    std::vector<engine::Entry> entries;
    if (const std::error_code error = disk_.List(newDir_, entries)) {
      Problem(ReplaceProblem::Kind::CannotListNew, newDir_.Path(), error);
      return;
    }
    std::vector<fs::path> own;
    for (const engine::Entry& entry : entries) {
      if (entry.name == kRecordName || IsPartialCopy(entry)) {
        own.push_back(entry.name);
        continue;
      }
      const auto heldBack = heldBack_.find(entry.name);
      result_.left.push_back(heldBack != heldBack_.end()
                                 ? LeftInNew{entry.name, heldBack->second.reason,
                                             heldBack->second.error}
                                 : LeftInNew{entry.name, ReasonOf(entry.kind), {}});
    }
    if (!result_.left.empty() || !result_.problems.empty()) {
      return;
    }
    for (const fs::path& name : own) {
      disk_.RemoveFile(newDir_, name);
    }
    const std::error_code error = disk_.RemoveEmptyFolder(source_, kNewName);
    result_.newDirRemoved = !error;
    if (error) {
      Problem(ReplaceProblem::Kind::CannotRemoveNew, newDir_.Path(), error);
    }
  }

  struct Hold {
    HeldBack reason;
    std::error_code error;
  };

  Disk& disk_;
  Folder& source_;
  Folder& newDir_;
  ReplaceResult& result_;
  RunRecord record_;
  std::map<fs::path, Hold> heldBack_;
};

}  // namespace

ReplaceResult Replace(Disk& disk, state::ProgramState& state) {
  ReplaceResult result;
  result.sourceDir = state.SourceDir;
  result.newDir = state.NewDir;
  if (state.SourceDir.empty()) {
    result.newDirMissing = true;
    return result;
  }
  engine::Expected<std::unique_ptr<Folder>> source = disk.OpenFolder(state.SourceDir);
  if (!source) {
    result.newDirMissing = true;
    return result;
  }
  // A link named New leads elsewhere: there are no copies of these files.
  engine::Expected<std::unique_ptr<Folder>> newDir = disk.OpenSubfolder(**source, kNewName);
  if (!newDir) {
    result.newDirMissing = true;
    return result;
  }
  Replacement(disk, **source, **newDir, result).Run();
  const bool logStayed = std::any_of(result.left.begin(), result.left.end(),
                                     [](const LeftInNew& item) { return item.name == kLogName; });
  state.LogPath = (logStayed ? state.NewDir : state.SourceDir).native() + kLogName.native();
  return result;
}

}  // namespace lapse::batch
