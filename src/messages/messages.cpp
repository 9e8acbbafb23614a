#include "messages/messages.h"

#include "engine/names.h"

namespace lapse::messages {

namespace {

namespace fs = std::filesystem;
using engine::DisplayName;

std::string CannotDo(const std::string& what, const fs::path& path, std::error_code error) {
  return "Cannot " + what + " " + DisplayName(path) + ": " + Reason(error) + ".";
}

std::string HeldBackReason(const batch::LeftInNew& item, const fs::path& sourceDir) {
  switch (item.reason) {
    case batch::HeldBack::NameTaken:
      return "a file of that name is already in " + DisplayName(sourceDir);
    case batch::HeldBack::SourceChanged:
      return "its page changed after the run; run again";
    case batch::HeldBack::NoRecord:
      return "nothing tells which state of its page it was made from; run again";
    case batch::HeldBack::NoSourceFolder:
      return "its folder is no longer in " + DisplayName(sourceDir);
    case batch::HeldBack::CopyIncomplete:
      return "it is not as long as the run wrote it; run again";
    case batch::HeldBack::MoveFailed:
      return item.error ? "it could not be moved: " + Reason(item.error) : "it could not be moved";
    case batch::HeldBack::LogWaits:
      return "it moves up once every other file there has; see to those, then replace again";
    case batch::HeldBack::Folder:
      return "it is a folder";
    case batch::HeldBack::Hidden:
      return "it is a hidden file";
    case batch::HeldBack::Link:
      return "it is a link";
    case batch::HeldBack::NotOrdinary:
      break;
  }
  return "it is not an ordinary file";
}

std::string ReplaceProblem(const batch::ReplaceProblem& problem) {
  using Kind = batch::ReplaceProblem::Kind;
  switch (problem.kind) {
    case Kind::CannotListNew:
      return CannotDo("list the folder", problem.path, problem.error);
    case Kind::CannotDeleteOldLog:
      return CannotDo("delete the old log", problem.path, problem.error);
    case Kind::CannotSyncCopies:
      return "Cannot write the copies in " + DisplayName(problem.path) +
             " to the disk: " + Reason(problem.error) + ". No page was replaced.";
    case Kind::CannotSyncFolder:
      return "Cannot write the new names in " + DisplayName(problem.path) +
             " to the disk: " + Reason(problem.error) + ".";
    case Kind::CannotRemoveNew:
      break;
  }
  return CannotDo("remove the folder", problem.path, problem.error);
}

}  // namespace

std::string Reason(std::error_code error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string RunQuestion(const fs::path& sourceDir) {
  return "Update all HTML files in " + DisplayName(sourceDir) + "?";
}

std::string Processed(std::uint64_t count) {
  return "Processed " + std::to_string(count) + " files.";
}

std::string DateFormatError(const fs::path& name) {
  return "Date Format error in " + DisplayName(name);
}

std::string Failure(const engine::FileFailure& failure) {
  return CannotDo(failure.action == engine::FileAction::Read ? "read" : "write", failure.path,
                  failure.error);
}

std::string LeftOut(const fs::path& name, const engine::FileReport& report) {
  switch (report.outcome) {
    case engine::FileOutcome::DateFormatError:
      return DateFormatError(name);
    case engine::FileOutcome::LeftAsItIs:
      return LeftAsItIs(name);
    case engine::FileOutcome::Failed:
    case engine::FileOutcome::Rewritten:
      break;
  }
  return Failure(report.failure);
}

std::string LeftAsItIs(const fs::path& name) {
  return DisplayName(name) + ": a compressed file, left as it is";
}

std::string Stopped(const batch::RunProblem& problem) {
  using Kind = batch::RunProblem::Kind;
  const std::string path = DisplayName(problem.path);
  switch (problem.kind) {
    case Kind::CannotOpenFolder:
      return CannotDo("open the folder", problem.path, problem.error);
    case Kind::NewIsLink:
      return "Cannot write into " + path +
             ": it is a link, and the copies would land where it leads. Nothing was written.";
    case Kind::NewInTheWay:
      return "Cannot create the folder " + path + ": a file of that name is in the way.";
    case Kind::CannotCreateNew:
      return CannotDo("create the folder", problem.path, problem.error);
    case Kind::CannotOpenNew:
      return CannotDo("open the folder", problem.path, problem.error);
    case Kind::OldLogIsFolder:
      return "Cannot delete the old log " + path + ": a folder of that name is in the way.";
    case Kind::CannotDeleteOldLog:
      return CannotDo("delete the old log", problem.path, problem.error);
    case Kind::CannotList:
      break;
  }
  return CannotDo("list the folder", problem.path, problem.error);
}

std::vector<std::string> RunNotes(const batch::RunResult& result) {
  std::vector<std::string> notes;
  if (result.copiesWithoutOwner != 0) {
    notes.push_back(std::to_string(result.copiesWithoutOwner) +
                    " copies kept their page's permissions but not its owner or group, which "
                    "only root may give: after a replace those pages belong to you.");
  }
  if (result.logFailure) {
    notes.push_back(Failure(*result.logFailure) + " The log lacks the lines of the last files.");
  }
  if (result.recordFailure) {
    notes.push_back(Failure(*result.recordFailure) +
                    " Without it a replace holds every copy back; run again.");
  }
  return notes;
}

std::vector<std::string> ReplaceProblems(const batch::ReplaceResult& result) {
  std::vector<std::string> lines;
  if (result.newDirMissing) {
    const std::string folder =
        result.newDir.empty() ? "New" : DisplayName(result.newDir.parent_path());
    lines.push_back("There is no folder " + folder + " with copies to replace the files with.");
  }
  for (const batch::LeftInNew& item : result.left) {
    lines.push_back(DisplayName(item.name) +
                    " stays in the folder New: " + HeldBackReason(item, result.sourceDir) + ".");
  }
  for (const batch::ReplaceProblem& problem : result.problems) {
    lines.push_back(ReplaceProblem(problem));
  }
  return lines;
}

std::string CannotOpenFolder(const fs::path& folder, std::error_code error) {
  return CannotDo("open the folder", folder, error);
}

std::string NoRunLog(const fs::path& log) {
  return "There is no run log at " + DisplayName(log) + ": the last run wrote none.";
}

std::string CannotOpenRunLog(const fs::path& log) {
  return "Cannot open the run log " + DisplayName(log) + " in a text editor.";
}

std::string NotAnOptionNumber(OptionNumber number, std::string_view text) {
  const std::string_view field = number == OptionNumber::Days
                                     ? "number of days after which new tags expire"
                                     : "number of lines to delete after a tag";
  return "The " + std::string(field) + " must be a whole number from -32768 to 32767; \"" +
         engine::DisplayText(text) + "\" is not. No option has been changed.";
}

}  // namespace lapse::messages
