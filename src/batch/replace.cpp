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
    case EntryKind::HiddenDirectory:
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

// The folder relative below top, reached folder by folder, never through a
// link.
engine::Expected<std::unique_ptr<Folder>> OpenBelow(Disk& disk, Folder& top,
                                                    const fs::path& relative) {
  engine::Expected<std::unique_ptr<Folder>> at = disk.OpenFolder(top.Path());
  for (const fs::path& part : relative) {
    if (!at) {
      break;
    }
    at = disk.OpenSubfolder(**at, part);
  }
  return at;
}

fs::path Below(const fs::path& relative, const fs::path& name) {
  return relative.empty() ? name : relative / name;
}

class Replacement {
 public:
  Replacement(Disk& disk, Folder& source, Folder& newDir, Recursion recursion,
              Progress* progress, ReplaceResult& result)
      : disk_(disk),
        source_(source),
        newDir_(newDir),
        recursion_(recursion),
        progress_(progress),
        result_(result) {}

  void Run() {
    ReadRecord();
    Plan(newDir_, {});
    // A power cut after a source is replaced must not leave an empty page:
    // every copy is on the disk before the first rename.
    std::vector<fs::path> copies;
    for (const Move& move : moves_) {
      if (move.replacing == Replacing::Yes) {
        copies.push_back(Below(move.folder, move.name));
      }
    }
    if (const std::error_code error = disk_.SyncFiles(newDir_, copies)) {
      Problem(ReplaceProblem::Kind::CannotSyncCopies, newDir_.Path(), error);
      for (const fs::path& copy : copies) {
        heldBack_[copy] = {HeldBack::MoveFailed, error};
      }
      std::erase_if(moves_, [](const Move& move) { return move.replacing == Replacing::Yes; });
    }
    // A New without files is what a replace cut short after its last move
    // leaves: the log in the directory is then this run's, and stays.
    if (!moves_.empty() || hasLog_) {
      DeleteOldLog();
    }
    MoveAll();
    // The log goes last, and only once every other file has gone: while a
    // file stays behind the log stays with it, so that the replace that
    // finishes the job cannot take it for an earlier run's log.
    if (hasLog_) {
      if (heldBack_.empty() && result_.problems.empty()) {
        MoveUp(newDir_, source_, {}, kLogName, Replacing::No, result_.moved);
      } else {
        heldBack_[kLogName] = {HeldBack::LogWaits, {}};
      }
    }
    if (Clean(newDir_, {}) && result_.problems.empty()) {
      const std::error_code error = disk_.RemoveEmptyFolder(source_, kNewName);
      result_.newDirRemoved = !error;
      if (error) {
        Problem(ReplaceProblem::Kind::CannotRemoveNew, newDir_.Path(), error);
      }
    }
    if (const std::error_code error = disk_.SyncFolder(source_)) {
      Problem(ReplaceProblem::Kind::CannotSyncFolder, source_.Path(), error);
    }
  }

 private:
  struct Move {
    fs::path folder;  // below New and below the directory alike
    fs::path name;
    Replacing replacing;
  };
  struct Hold {
    HeldBack reason;
    std::error_code error;
  };

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

  // What to move out of the folder mirror, relative below New, and out of
  // the folders below it when the run took subfolders.
  void Plan(Folder& mirror, const fs::path& relative) {
    std::vector<engine::Entry> entries;
    if (const std::error_code error = disk_.List(mirror, entries)) {
      Problem(ReplaceProblem::Kind::CannotListNew, mirror.Path(), error);
      return;
    }
    engine::Expected<std::unique_ptr<Folder>> opened =
        relative.empty() ? engine::Expected<std::unique_ptr<Folder>>(std::unique_ptr<Folder>())
                         : OpenBelow(disk_, source_, relative);
    Folder* source = relative.empty() ? &source_ : opened ? opened->get() : nullptr;
    for (const engine::Entry& entry : entries) {
      if (entry.kind != EntryKind::OrdinaryFile) {
        continue;
      }
      if (relative.empty() && (entry.name == kRecordName || entry.name == kLogName)) {
        hasLog_ = hasLog_ || entry.name == kLogName;
        continue;
      }
      if (source == nullptr) {
        heldBack_[Below(relative, entry.name)] = {HeldBack::NoSourceFolder, {}};
      } else if (IsHtmlFileName(entry.name)) {
        PlanCopy(*source, relative, entry.name);
      } else {
        moves_.push_back({relative, entry.name, Replacing::No});
      }
    }
    if (recursion_ != Recursion::Subfolders) {
      return;
    }
    for (const engine::Entry& entry : entries) {
      if (entry.kind == EntryKind::Directory) {
        engine::Expected<std::unique_ptr<Folder>> below = disk_.OpenSubfolder(mirror, entry.name);
        if (below) {
          Plan(**below, Below(relative, entry.name));
        }
      }
    }
  }

  // A copy replaces its source only when the source is exactly as the run
  // read it: an edit made since would otherwise be lost. A copy whose
  // source has gone takes its old name again, as long as nothing holds it.
  void PlanCopy(Folder& source, const fs::path& relative, const fs::path& name) {
    const fs::path path = Below(relative, name);
    const engine::Expected<engine::FileStatus> status = disk_.Status(source, name);
    if (!status && status.error() == std::errc::no_such_file_or_directory) {
      moves_.push_back({relative, name, Replacing::No});
      return;
    }
    if (!status || status->kind != EntryKind::OrdinaryFile) {
      heldBack_[path] = {HeldBack::NameTaken, {}};
      return;
    }
    const auto recorded = record_.find(path);
    const engine::Expected<engine::FileStatus> copy = disk_.Status(newDir_, path);
    if (recorded == record_.end()) {
      heldBack_[path] = {HeldBack::NoRecord, {}};
    } else if (!copy || copy->stamp.size != recorded->second.copySize) {
      heldBack_[path] = {HeldBack::CopyIncomplete, {}};
    } else if (status->stamp != recorded->second.source) {
      heldBack_[path] = {HeldBack::SourceChanged, {}};
    } else {
      moves_.push_back({relative, name, Replacing::Yes});
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

  // The copies first, then every other file; folder by folder, each pair of
  // folders opened once.
  void MoveAll() {
    std::stable_partition(moves_.begin(), moves_.end(),
                          [](const Move& move) { return move.replacing == Replacing::Yes; });
    std::uint64_t done = 0;
    for (auto first = moves_.begin(); first != moves_.end();) {
      const auto last = std::find_if(first, moves_.end(), [&](const Move& move) {
        return move.folder != first->folder || move.replacing != first->replacing;
      });
      engine::Expected<std::unique_ptr<Folder>> mirror = OpenBelow(disk_, newDir_, first->folder);
      engine::Expected<std::unique_ptr<Folder>> source = OpenBelow(disk_, source_, first->folder);
      for (auto move = first; move != last; ++move) {
        if (progress_ != nullptr) {
          progress_->Advance(done++, moves_.size(), Below(move->folder, move->name));
        }
        if (!mirror || !source) {
          heldBack_[Below(move->folder, move->name)] = {HeldBack::MoveFailed,
                                                         !mirror ? mirror.error() : source.error()};
          continue;
        }
        MoveUp(**mirror, **source, move->folder, move->name, move->replacing,
               move->replacing == Replacing::Yes ? result_.replaced : result_.moved);
      }
      first = last;
    }
  }

  void MoveUp(Folder& mirror, Folder& source, const fs::path& relative, const fs::path& name,
              Replacing replacing, std::vector<fs::path>& done) {
    const fs::path path = Below(relative, name);
    const std::error_code error = disk_.Move(mirror, name, source, name, replacing);
    if (error == std::errc::file_exists) {
      heldBack_[path] = {HeldBack::NameTaken, {}};
    } else if (error) {
      heldBack_[path] = {HeldBack::MoveFailed, error};
    } else {
      done.push_back(path);
    }
  }

  // Reports what stays in the folder mirror; the record of the sources, the
  // hidden partial copies and the mirror's emptied folders are the run's
  // own, and go. True when the folder is empty then.
  bool Clean(Folder& mirror, const fs::path& relative) {
    std::vector<engine::Entry> entries;
    if (const std::error_code error = disk_.List(mirror, entries)) {
      Problem(ReplaceProblem::Kind::CannotListNew, mirror.Path(), error);
      return false;
    }
    std::vector<fs::path> own;
    bool empty = true;
    for (const engine::Entry& entry : entries) {
      const fs::path path = Below(relative, entry.name);
      if ((relative.empty() && entry.name == kRecordName) || IsPartialCopy(entry)) {
        own.push_back(entry.name);
        continue;
      }
      if (recursion_ == Recursion::Subfolders && entry.kind == EntryKind::Directory &&
          heldBack_.find(path) == heldBack_.end()) {
        engine::Expected<std::unique_ptr<Folder>> below = disk_.OpenSubfolder(mirror, entry.name);
        if (below && Clean(**below, path) && !disk_.RemoveEmptyFolder(mirror, entry.name)) {
          continue;
        }
        empty = false;
        continue;
      }
      empty = false;
      const auto heldBack = heldBack_.find(path);
      result_.left.push_back(heldBack != heldBack_.end()
                                 ? LeftInNew{path, heldBack->second.reason, heldBack->second.error}
                                 : LeftInNew{path, ReasonOf(entry.kind), {}});
    }
    if (!empty || !result_.problems.empty()) {
      return false;
    }
    for (const fs::path& name : own) {
      disk_.RemoveFile(mirror, name);
    }
    return true;
  }

  Disk& disk_;
  Folder& source_;
  Folder& newDir_;
  Recursion recursion_;
  Progress* progress_;
  ReplaceResult& result_;
  RunRecord record_;
  std::vector<Move> moves_;
  bool hasLog_ = false;
  std::map<fs::path, Hold> heldBack_;
};

}  // namespace

ReplaceResult Replace(Disk& disk, state::ProgramState& state, Recursion recursion,
                      Progress* progress) {
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
  Replacement(disk, **source, **newDir, recursion, progress, result).Run();
  const bool logStayed = std::any_of(result.left.begin(), result.left.end(),
                                     [](const LeftInNew& item) { return item.name == kLogName; });
  state.LogPath = (logStayed ? state.NewDir : state.SourceDir).native() + kLogName.native();
  return result;
}

}  // namespace lapse::batch
