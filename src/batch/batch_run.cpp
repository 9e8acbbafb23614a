#include <string>

#include "batch/batch.h"
#include "batch/directory.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using engine::Join;
using engine::PathText;

const fs::path::string_type kSeparator(1, fs::path::preferred_separator);

std::string Reason(std::error_code error) {
  return error.message();
}

// Makes sure NewDir is a directory; gives the message that stops the run
// when it cannot be.
std::optional<std::string> PrepareNewDir(const state::ProgramState& state, RunFrontEnd& frontEnd) {
  const fs::path newDir = Join(state.SourceDir, "New");
  std::error_code error;
  const fs::file_status status = fs::status(newDir, error);
  if (fs::is_directory(status)) {
    return std::nullopt;
  }
  if (fs::exists(status)) {
    return "Cannot create the folder " + PathText(newDir) + ": a file of that name is in the way.";
  }
  fs::create_directory(newDir, error);
  if (error) {
    return "Cannot create the folder " + PathText(newDir) + ": " + Reason(error) + ".";
  }
  frontEnd.NewDirectoryCreated();
  return std::nullopt;
}

// Deletes the log of the run before; gives the message that stops the run
// when it stays.
std::optional<std::string> DeleteOldLog(const state::ProgramState& state) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(state.LogPath, error);
  if (!fs::exists(status)) {
    return std::nullopt;
  }
  if (fs::is_directory(status)) {
    return "Cannot delete the old log " + PathText(state.LogPath) +
           ": a folder of that name is in the way.";
  }
  fs::remove(state.LogPath, error);
  if (error) {
    return "Cannot delete the old log " + PathText(state.LogPath) + ": " + Reason(error) + ".";
  }
  return std::nullopt;
}

RunResult Stop(std::string message) {
  RunResult result;
  result.status = RunStatus::Stopped;
  result.message = std::move(message);
  return result;
}

}  // namespace

std::string RunQuestion(const state::ProgramState& state) {
  return "Update all HTML files in " + PathText(state.SourceDir) + "?";
}

std::string ProcessedMessage(std::uint64_t count) {
  return "Processed " + std::to_string(count) + " files.";
}

bool IsHtmlFileName(const fs::path& name) {
  return name.native().find(fs::path(".htm").native()) != fs::path::string_type::npos;
}

RunResult BatchRun(state::ProgramState& state, const fs::path& directory, RunFrontEnd& frontEnd,
                   const RunSettings& settings) {
  // The separator is appended even to a root that ends in one already.
  state.SourceDir = fs::path(directory.native() + kSeparator);
  state.NewDir = Join(state.SourceDir, fs::path("New").native() + kSeparator);
  if (!frontEnd.Confirm(RunQuestion(state))) {
    return {};
  }
  if (auto problem = PrepareNewDir(state, frontEnd)) {
    return Stop(std::move(*problem));
  }
  state.LogPath = Join(state.NewDir, fs::path(engine::kLogFileName));
  if (auto problem = DeleteOldLog(state)) {
    return Stop(std::move(*problem));
  }
  const Listing listing = ListOrdinaryFiles(state.SourceDir);
  if (listing.error) {
    return Stop("Cannot list the folder " + PathText(state.SourceDir) + ": " +
                Reason(listing.error) + ".");
  }

  const engine::RewriteOptions options{state.NewDays, state.Lines,
                                       state.Log != 0 ? engine::Logging::On : engine::Logging::Off};
  engine::FileRewriter rewriter(options, settings.locale, settings.clock);
  RunResult result;
  result.status = RunStatus::Completed;
  for (const fs::path& name : listing.names) {
    if (IsHtmlFileName(name)) {
      const engine::FileReport report = rewriter.ProcessFile(state.SourceDir, state.NewDir, name);
      if (report.outcome != engine::FileOutcome::Rewritten) {
        ++result.filesLeftOut;
        frontEnd.FileLeftOut(report);
      }
    }
    ++result.fileCount;
  }
  result.message = ProcessedMessage(result.fileCount);
  return result;
}

}  // namespace lapse::batch
