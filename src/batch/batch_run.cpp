#include <memory>

#include "batch/batch.h"
#include "batch/run_names.h"
#include "batch/run_record.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using engine::Disk;
using engine::EntryKind;
using engine::Folder;


RunResult Stop(RunProblem::Kind kind, fs::path path, std::error_code error) {
  RunResult result;
  result.status = RunStatus::Stopped;
  result.problem = {kind, std::move(path), error};
  return result;
}

bool Missing(std::error_code error) {
  return error == std::errc::no_such_file_or_directory;
}

// The folder New, made when missing. Whatever else stands under that name
// stops the run: a link would send the copies elsewhere, or into the sources.
engine::Expected<std::unique_ptr<Folder>> OpenNewDir(Disk& disk, Folder& source,
                                                     RunFrontEnd& frontEnd, RunProblem& problem) {
  const fs::path newDir = source.PathOf(kNewName);
  const engine::Expected<engine::FileStatus> status = disk.Status(source, kNewName);
  if (!status && Missing(status.error())) {
    if (const std::error_code error = disk.MakeFolder(source, kNewName)) {
      problem = {RunProblem::Kind::CannotCreateNew, newDir, error};
      return error;
    }
    frontEnd.NewDirectoryCreated();
  } else if (status && status->kind == EntryKind::Link) {
    problem = {RunProblem::Kind::NewIsLink, newDir, {}};
    return engine::IsALinkError();
  } else if (status && status->kind != EntryKind::Directory &&
             status->kind != EntryKind::HiddenDirectory) {
    problem = {RunProblem::Kind::NewInTheWay, newDir, {}};
    return std::make_error_code(std::errc::not_a_directory);
  }
  engine::Expected<std::unique_ptr<Folder>> folder = disk.OpenSubfolder(source, kNewName);
  if (!folder) {
    problem = {folder.error() == engine::IsALinkError() ? RunProblem::Kind::NewIsLink
                                                        : RunProblem::Kind::CannotOpenNew,
               newDir, folder.error()};
  }
  return folder;
}

// Deletes the log of the run before, and the record of its sources.
std::optional<RunProblem> DeleteOldLog(Disk& disk, Folder& newDir) {
  const engine::Expected<engine::FileStatus> status = disk.Status(newDir, kLogName);
  if (status) {
    if (status->kind == EntryKind::Directory || status->kind == EntryKind::HiddenDirectory) {
      return RunProblem{RunProblem::Kind::OldLogIsFolder, newDir.PathOf(kLogName), {}};
    }
    if (const std::error_code error = disk.RemoveFile(newDir, kLogName)) {
      return RunProblem{RunProblem::Kind::CannotDeleteOldLog, newDir.PathOf(kLogName), error};
    }
  }
  disk.RemoveFile(newDir, kRecordName);
  return std::nullopt;
}

// Written as the run goes, and named when it is done: a run cut short
// leaves no record, and a replace then takes none of its copies.
class RecordWriter {
 public:
  RecordWriter(Disk& disk, Folder& newDir) : disk_(disk), newDir_(newDir) {}

  void Add(const fs::path& name, const CopyRecord& copy) {
    if (!file_ && !error_) {
      engine::Expected<std::unique_ptr<engine::NewFile>> file = disk_.Create(newDir_, kRecordName, 0666);
      if (!file) {
        error_ = file.error();
        return;
      }
      file_ = std::move(*file);
      pending_ = RunRecordHeader();
    }
    pending_ += FormatRecordEntry(name, copy);
    if (pending_.size() >= kFlushSize) {
      Flush();
    }
  }

  // Names the record; nothing when the run made no copy.
  std::optional<engine::FileFailure> Commit() {
    if (file_ && Flush()) {
      error_ = file_->Commit();
    }
    if (error_) {
      return engine::FileFailure{engine::FileAction::Write, newDir_.PathOf(kRecordName), error_};
    }
    return std::nullopt;
  }

 private:
  static constexpr std::size_t kFlushSize = std::size_t{64} * 1024;

  bool Flush() {
    if (!error_ && !file_->Write(pending_)) {
      error_ = file_->Error();
    }
    pending_.clear();
    return !error_;
  }

  Disk& disk_;
  Folder& newDir_;
  std::unique_ptr<engine::NewFile> file_;
  std::string pending_;
  std::error_code error_;
};

// A run over a folder and, when asked, the folders below it.
class TreeRun {
 public:
  TreeRun(Disk& disk, Folder& newDir, RunFrontEnd& frontEnd,
          const engine::RewriteOptions& options, const RunSettings& settings)
      : disk_(disk),
        newDir_(newDir),
        frontEnd_(frontEnd),
        recursion_(settings.recursion),
        rewriter_(disk, options, settings.locale, settings.clock),
        record_(disk, newDir) {
    result_.status = RunStatus::Completed;
  }

  // Rewrites the HTML files of source, the folder relative below the run's,
  // whose entries are listed, and then its subfolders.
  void Folder(engine::Folder& source, const fs::path& relative,
              const std::vector<engine::Entry>& entries) {
    std::unique_ptr<engine::Folder> mirror;
    std::error_code mirrorError;
    for (const engine::Entry& entry : entries) {
      if (entry.kind == EntryKind::OrdinaryFile) {
        ++listed_;
      }
    }
    for (const engine::Entry& entry : entries) {
      if (entry.kind != EntryKind::OrdinaryFile) {
        continue;
      }
      const fs::path shown = relative.empty() ? entry.name : relative / entry.name;
      frontEnd_.Advance(result_.fileCount, listed_, shown);
      if (IsHtmlFileName(entry.name)) {
        if (!relative.empty() && !mirror && !mirrorError) {
          mirrorError = OpenMirror(relative, mirror);
        }
        engine::Folder& copies = relative.empty() ? newDir_ : *mirror;
        if (!relative.empty() && mirrorError) {
          LeftOut(shown, Failed(engine::FileAction::Write, newDir_.PathOf(relative), mirrorError));
        } else {
          Rewrite(source, copies, entry.name, shown);
        }
      }
      ++result_.fileCount;
    }
    if (recursion_ == Recursion::Subfolders) {
      for (const engine::Entry& entry : entries) {
        // Hidden folders and links stay out; New holds the copies.
        if (entry.kind == EntryKind::Directory && !(relative.empty() && entry.name == kNewName)) {
          Subfolder(source, relative.empty() ? entry.name : relative / entry.name, entry.name);
        }
      }
    }
  }

  RunResult Finish() {
    result_.logFailure = rewriter_.Finish();
    result_.recordFailure = record_.Commit();
    return result_;
  }

 private:
  void Subfolder(engine::Folder& parent, const fs::path& relative, const fs::path& name) {
    engine::Expected<std::unique_ptr<engine::Folder>> folder = disk_.OpenSubfolder(parent, name);
    std::vector<engine::Entry> entries;
    const std::error_code error = folder ? disk_.List(**folder, entries) : folder.error();
    if (error) {
      // A folder that cannot be read is reported, and the run goes on.
      LeftOut(relative, Failed(engine::FileAction::Read, parent.PathOf(name), error));
      return;
    }
    Folder(**folder, relative, entries);
  }

  // The folder of New that mirrors relative, made where missing; never
  // through a link.
  std::error_code OpenMirror(const fs::path& relative, std::unique_ptr<engine::Folder>& mirror) {
    engine::Folder* at = &newDir_;
    std::unique_ptr<engine::Folder> opened;
    for (const fs::path& part : relative) {
      engine::Expected<std::unique_ptr<engine::Folder>> next = disk_.OpenSubfolder(*at, part);
      if (!next && next.error() == std::errc::no_such_file_or_directory) {
        if (const std::error_code error = disk_.MakeFolder(*at, part)) {
          return error;
        }
        next = disk_.OpenSubfolder(*at, part);
      }
      if (!next) {
        return next.error();
      }
      opened = std::move(*next);
      at = opened.get();
    }
    mirror = std::move(opened);
    return {};
  }

  void Rewrite(engine::Folder& source, engine::Folder& copies, const fs::path& name,
               const fs::path& shown) {
    const engine::FileReport report = rewriter_.ProcessFile(source, copies, newDir_, name, shown);
    if (report.outcome == engine::FileOutcome::Rewritten) {
      record_.Add(shown, {report.source, report.copySize});
      if (report.access != engine::AccessKept::All) {
        ++result_.copiesWithoutOwner;
      }
    } else {
      LeftOut(shown, report);
    }
  }

  static engine::FileReport Failed(engine::FileAction action, fs::path path,
                                   std::error_code error) {
    engine::FileReport report;
    report.outcome = engine::FileOutcome::Failed;
    report.failure = {action, std::move(path), error};
    return report;
  }

  void LeftOut(const fs::path& shown, const engine::FileReport& report) {
    if (report.outcome != engine::FileOutcome::LeftAsItIs) {
      ++result_.filesLeftOut;
    }
    frontEnd_.FileLeftOut(shown, report);
  }

  Disk& disk_;
  engine::Folder& newDir_;
  RunFrontEnd& frontEnd_;
  Recursion recursion_;
  engine::FileRewriter rewriter_;
  RecordWriter record_;
  RunResult result_;
  std::uint64_t listed_ = 0;
};

}  // namespace

RunPaths PathsFor(const fs::path& directory) {
  const fs::path::string_type separator(1, fs::path::preferred_separator);
  RunPaths paths;
  paths.sourceDir = directory.native() + separator;
  paths.newDir = paths.sourceDir.native() + kNewName.native() + separator;
  paths.logPath = paths.newDir.native() + kLogName.native();
  return paths;
}

bool IsHtmlFileName(const fs::path& name) {
  return name.native().find(fs::path(".htm").native()) != fs::path::string_type::npos;
}

RunResult BatchRun(Disk& disk, state::ProgramState& state, const fs::path& directory,
                   RunFrontEnd& frontEnd, const RunSettings& settings) {
  const RunPaths paths = PathsFor(directory);
  state.SourceDir = paths.sourceDir;
  state.NewDir = paths.newDir;
  if (!frontEnd.Confirm(state.SourceDir)) {
    return {};
  }
  engine::Expected<std::unique_ptr<Folder>> source = disk.OpenFolder(state.SourceDir);
  if (!source) {
    return Stop(RunProblem::Kind::CannotOpenFolder, state.SourceDir, source.error());
  }
  RunProblem problem;
  engine::Expected<std::unique_ptr<Folder>> newDir = OpenNewDir(disk, **source, frontEnd, problem);
  if (!newDir) {
    return Stop(problem.kind, problem.path, problem.error);
  }
  state.LogPath = paths.logPath;
  if (const std::optional<RunProblem> logProblem = DeleteOldLog(disk, **newDir)) {
    return Stop(logProblem->kind, logProblem->path, logProblem->error);
  }
  std::vector<engine::Entry> entries;
  if (const std::error_code error = disk.List(**source, entries)) {
    return Stop(RunProblem::Kind::CannotList, state.SourceDir, error);
  }
  const engine::RewriteOptions options{state.NewDays, state.Lines,
                                       state.Log != 0 ? engine::Logging::On : engine::Logging::Off};
  TreeRun run(disk, **newDir, frontEnd, options, settings);
  run.Folder(**source, {}, entries);
  return run.Finish();
}
}  // namespace lapse::batch
