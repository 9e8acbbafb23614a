#include "batch/site_state.h"

#include <algorithm>
#include <array>

#include "batch/journal.h"
#include "batch/record_text.h"
#include "batch/site_names.h"
#include "platform/errors.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::Folder;

// Only their owner may read the record and the log: they hold what the
// pages removed and name every page, pages of private folders among them.
constexpr std::uint32_t kOwnerOnly = 0600;

constexpr std::string_view kPlacedLogHeader = "lapse log 2 ";
constexpr std::string_view kPlacedLogFolder = "logs";

// Whether an error opening the record means that no record stands there.
bool IsNoRecord(std::error_code error) {
  return error == std::errc::no_such_file_or_directory ||
         error == platform::NotAnOrdinaryFileError() || error == platform::IsALinkError();
}

// The logs last noted for the site, each on a line of its own; nothing
// where none was, or the note cannot be read.
std::vector<platform::FileStamp> NotedLogs(Disk& disk, const fs::path& stateFolder,
                                           const fs::path& sourceDir) {
  platform::Expected<std::unique_ptr<Folder>> folder =
      StateSubfolder(disk, stateFolder, kPlacedLogFolder, false);
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      folder ? disk.OpenSource(**folder, fs::path(SiteKey(sourceDir))) : folder.error();
  const platform::Expected<std::string> text =
      file ? ReadAll(**file) : platform::Expected<std::string>(file.error());
  std::vector<platform::FileStamp> logs;
  std::string_view rest = text ? std::string_view(*text) : std::string_view();
  while (rest.starts_with(kPlacedLogHeader)) {
    rest.remove_prefix(kPlacedLogHeader.size());
    platform::FileStamp log;
    if (!Take(rest, log.device) || !Take(rest, log.inode) || !Take(rest, log.size) ||
        !Take(rest, log.modified) || !rest.starts_with('\n')) {
      return {};
    }
    rest.remove_prefix(1);
    logs.push_back(log);
  }
  return rest.empty() ? logs : std::vector<platform::FileStamp>{};
}

}  // namespace

platform::Expected<FoundRecord> FindRecord(Disk& disk, Folder& newDir, const RecordPlace& here) {
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(newDir, kRecordName);
  if (!file) {
    return IsNoRecord(file.error()) ? platform::Expected<FoundRecord>(FoundRecord{}) : file.error();
  }
  if (!IsOwnFile((*file)->Status(), disk.ProcessUser())) {
    return FoundRecord{RecordFound::NotTheUsers, std::nullopt};
  }
  const platform::Expected<std::string> text = ReadAll(**file);
  if (!text) {
    return text.error();
  }
  std::optional<RunRecord> record = ParseRunRecord(*text);
  if (!record) {
    return FoundRecord{RecordFound::Damaged, std::nullopt};
  }
  // One moved here from another New is none of this New's runs.
  if (record->place && !IsRecordOf(*record->place, here)) {
    return FoundRecord{RecordFound::NotTheUsers, std::nullopt};
  }
  return FoundRecord{RecordFound::Read, std::move(record)};
}

bool LogWaitsAfter(const RunRecord& earlier) {
  return earlier.state == RecordState::PartPlaced || earlier.logWaits;
}

std::error_code MarkRunBegun(Disk& disk, Folder& newDir, const RecordPlace& place, bool logWaits) {
  return WriteWholeFile(disk, newDir, kRecordName,
                        RunRecordHeader(RecordState::Running, place, logWaits),
                        logWaits ? Durability::Synced : Durability::Cached);
}

RunRecordWriter::RunRecordWriter(Disk& disk, Folder& newDir, const RecordPlace& place,
                                 bool logWaits)
    : disk_(disk), newDir_(newDir), place_(place), logWaits_(logWaits) {}

void RunRecordWriter::Add(const fs::path& name, const CopyRecord& copy) {
  constexpr std::size_t kFlushSize = std::size_t{64} * 1024;
  if (!Open()) {
    return;
  }
  pending_ += FormatRecordEntry(name, copy);
  if (pending_.size() >= kFlushSize) {
    Flush();
  }
}

std::optional<FileFailure> RunRecordWriter::Commit() {
  // Where it says the log waits, it takes the mark's name only once on the
  // disk: a record lost to a power cut would let the next run remove the
  // log. Otherwise a lost record costs a run again, and no sync is spent.
  if (Open() && Flush() && logWaits_) {
    error_ = file_->Sync();
  }
  if (!error_) {
    error_ = file_->Commit();
  }
  if (error_) {
    return FileFailure{FileAction::Write, newDir_.PathOf(kRecordName), error_};
  }
  return std::nullopt;
}

bool RunRecordWriter::Open() {
  if (!file_ && !error_) {
    platform::Expected<std::unique_ptr<platform::NewFile>> file =
        disk_.Create(newDir_, kRecordName, kOwnerOnly);
    if (!file) {
      error_ = file.error();
    } else {
      file_ = std::move(*file);
      pending_ = RunRecordHeader(RecordState::Complete, place_, logWaits_);
    }
  }
  return !error_;
}

bool RunRecordWriter::Flush() {
  if (!error_ && !file_->Write(pending_)) {
    error_ = file_->Error();
  }
  pending_.clear();
  return !error_;
}

std::error_code SaveRecord(Disk& disk, Folder& newDir, const RecordHead& head,
                           const std::map<fs::path, CopyRecord>& copies) {
  std::string text = RunRecordHeader(head.state, head.place, head.logWaits, head.keptAs);
  for (const auto& [path, copy] : copies) {
    text += FormatRecordEntry(path, copy);
  }
  return WriteWholeFile(disk, newDir, kRecordName, text, Durability::Synced);
}

std::error_code JournalPlacedLines(Disk& disk, Folder& newDir, const fs::path& stateFolder,
                                   const fs::path& sourceDir,
                                   std::chrono::system_clock::time_point when,
                                   std::vector<LoggedPage> pages) {
  if (pages.empty()) {
    return {};
  }
  std::sort(pages.begin(), pages.end(), [](const LoggedPage& one, const LoggedPage& other) {
    return one.second->offset < other.second->offset;
  });
  platform::Expected<std::unique_ptr<platform::SourceFile>> log = disk.OpenSource(newDir, kLogName);
  if (!log) {
    return log.error();
  }
  // The log is read as the record says only where this user wrote it.
  if (!IsOwnFile((*log)->Status(), disk.ProcessUser())) {
    return platform::NotOwnFileError();
  }
  JournalBlock base;
  base.when = when;
  base.folder = SiteFolder(sourceDir);
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
  return AppendToJournal(disk, stateFolder, sourceDir, blocks);
}

std::error_code JournalWhatACutReplacePlaced(Disk& disk, const std::shared_ptr<Folder>& newDir,
                                             const fs::path& stateFolder, const fs::path& sourceDir,
                                             const RunRecord& earlier) {
  if (earlier.state != RecordState::PartPlaced) {
    return {};
  }
  FolderCache mirrors(disk, newDir);
  std::vector<LoggedPage> placed;
  for (const auto& [path, copy] : earlier.copies) {
    if (copy.sameAsPage || !copy.logged || copy.logged->blocks.empty()) {
      continue;
    }
    platform::Expected<std::shared_ptr<Folder>> mirror = mirrors.At(path.parent_path());
    const platform::Expected<platform::FileStatus> status =
        mirror ? disk.Status(**mirror, path.filename())
               : platform::Expected<platform::FileStatus>(mirror.error());
    if (!status && status.error() == std::errc::no_such_file_or_directory) {
      placed.emplace_back(path, &*copy.logged);
    }
  }
  return JournalPlacedLines(disk, *newDir, stateFolder, sourceDir, std::chrono::system_clock::now(),
                            std::move(placed));
}

std::error_code NotePlacedLogs(Disk& disk, const fs::path& stateFolder, const fs::path& sourceDir,
                               const std::vector<platform::FileStamp>& logs,
                               Durability durability) {
  platform::Expected<std::unique_ptr<Folder>> folder =
      StateSubfolder(disk, stateFolder, kPlacedLogFolder, true);
  if (!folder) {
    return folder.error();
  }
  std::string text;
  for (const platform::FileStamp& log : logs) {
    text += kPlacedLogHeader;
    for (const std::uint64_t number : {log.device, log.inode, log.size}) {
      text += std::to_string(number) + " ";
    }
    text += std::to_string(log.modified) + " \n";
  }
  return WriteWholeFile(disk, **folder, fs::path(SiteKey(sourceDir)), text, durability);
}

bool IsPlacedLog(Disk& disk, Folder& site, const std::optional<fs::path>& stateFolder,
                 const fs::path& sourceDir, const platform::FileStatus& log) {
  if (stateFolder) {
    const std::vector<platform::FileStamp> noted = NotedLogs(disk, *stateFolder, sourceDir);
    if (!noted.empty()) {
      // Its number alone could be a new file's that took a freed number.
      return std::find(noted.begin(), noted.end(), log.stamp) != noted.end();
    }
  }
  // A log a replace placed is this user's own, owner-only file.
  if (!IsOwnFile(log, disk.ProcessUser())) {
    return false;
  }
  if (log.stamp.size == 0) {
    return true;
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file = disk.OpenSource(site, kLogName);
  std::array<char, 2> start{};
  return file && (*file)->Read(start) == start.size() && start == std::array<char, 2>{'\r', '\n'};
}

}  // namespace lapse::batch
