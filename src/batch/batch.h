// The batch run over a directory, the replace that puts its copies in place of
// the sources, and the files they pick.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/date.h"
#include "engine/rewriter.h"
#include "state/program_state.h"

namespace lapse::batch {

// What a batch run asks of its caller: the question, the per-file reports and
// the refresh of a directory list. Each call returns when the user has seen it.
class RunFrontEnd {
 public:
  virtual ~RunFrontEnd() = default;
  // Asks the question; true when the user answers Yes.
  virtual bool Confirm(std::string_view question) = 0;
  // The subdirectory "New" was created.
  virtual void NewDirectoryCreated() = 0;
  // A file was left out of the run: its date could not be read, or it could
  // not be read or written. The report's message says which and why.
  virtual void FileLeftOut(const engine::FileReport& report) = 0;
};

enum class RunStatus {
  Declined,   // the user answered No; only SourceDir and NewDir changed
  Stopped,    // "New" or the old log was in the way; no file was written
  Completed,  // every ordinary file was listed and every HTML file handed on
};

struct RunResult {
  RunStatus status = RunStatus::Declined;
  std::uint64_t fileCount = 0;     // ordinary files listed, HTML or not
  std::uint64_t filesLeftOut = 0;  // HTML files without a copy
  std::string message;             // "Processed N files.", or why the run stopped
};

struct RunSettings {
  engine::DateLocale locale;
  engine::Clock clock;
};

// The run over directory: points SourceDir and NewDir at it, asks, makes sure
// "New" exists, deletes the old log, rewrites every HTML file into "New" and
// counts the ordinary files. The caller enables its buttons and shows the
// message when the run completed.
RunResult BatchRun(state::ProgramState& state, const std::filesystem::path& directory,
                   RunFrontEnd& frontEnd, const RunSettings& settings);

// "Update all HTML files in " + SourceDir + "?"
std::string RunQuestion(const state::ProgramState& state);
// "Processed " + count + " files."
std::string ProcessedMessage(std::uint64_t count);

// Why a file stayed in "New" after a replace.
struct LeftInNew {
  std::filesystem::path name;
  std::string reason;
};

struct ReplaceResult {
  bool newDirMissing = false;                   // nothing to replace with
  std::vector<std::filesystem::path> replaced;  // HTML sources now holding their copies
  std::vector<std::filesystem::path> moved;     // other files moved up (the log among them)
  std::vector<LeftInNew> left;                  // what stays in "New", with the reason
  std::vector<std::string> errors;              // other failures, as messages
  bool newDirRemoved = false;

  bool Complete() const { return !newDirMissing && newDirRemoved; }
  // Lines for the user: one for each file left and why, or why nothing was done.
  std::vector<std::string> Problems() const;
};

// Puts the copies in NewDir in place of the sources in SourceDir, one atomic
// rename each, and moves the other files of NewDir up. A source without a
// copy, and a file that a move would overwrite, stay as they are. The log
// moves last, and stays in NewDir while any other file does. Removes NewDir
// when it is empty, and points LogPath at the log's place.
ReplaceResult Replace(state::ProgramState& state);

// An HTML file by name: it contains ".htm", in lower case.
bool IsHtmlFileName(const std::filesystem::path& name);

}  // namespace lapse::batch
