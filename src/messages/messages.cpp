#include "messages/messages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "batch/site_names.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "text/names.h"

namespace lapse::messages {

namespace {

namespace fs = std::filesystem;
using text::DisplayName;

// 4821 as "4,821".
std::string Thousands(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, ",");
  }
  return digits;
}

std::string CannotDo(const std::string& what, const fs::path& path, std::error_code error) {
  return "Cannot " + what + " " + DisplayName(path) + ": " + Reason(error) + ".";
}

std::string HeldBackReason(const batch::LeftInNew& item, const fs::path& sourceDir) {
  switch (item.reason) {
    case batch::HeldBack::NameTaken:
      return "something that is no page stands under its name in " + DisplayName(sourceDir);
    case batch::HeldBack::SourceChanged:
      return "its page changed after the run; run again";
    case batch::HeldBack::SourceDeleted:
      return "its page was deleted after the run, and stays deleted";
    case batch::HeldBack::NoSourceFolder:
      return "its folder is no longer in " + DisplayName(sourceDir);
    case batch::HeldBack::CopyIncomplete:
      return "it is not as the run wrote it; run again";
    case batch::HeldBack::CopyMissing:
      return "its copy is no longer in the folder New; run again";
    case batch::HeldBack::NotACopy:
      return "the run did not make it";
    case batch::HeldBack::NotKept:
      return "its page could not be kept for an undo";
    case batch::HeldBack::MoveFailed:
      return item.error ? "it could not be moved: " + Reason(item.error) : "it could not be moved";
    case batch::HeldBack::LogWaits:
      return "it moves up with the last page of its run; see to the pages held back, then "
             "replace again";
    case batch::HeldBack::Folder:
      return "it is a folder";
    case batch::HeldBack::Link:
      return "it is a link";
    case batch::HeldBack::SiteHasItsOwnLog:
      return "the site has a Log.txt of its own, which Lapse leaves as it is; rename that one, "
             "then replace again to move this one up";
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
    case Kind::CannotReadRecord:
      return CannotDo("read the record of the run", problem.path, problem.error) +
             " Nothing was replaced.";
    case Kind::CannotWriteRecord:
      return CannotDo("write the record of the run", problem.path, problem.error) +
             " No page was replaced.";
    case Kind::CannotDeleteOldLog:
      return CannotDo("delete the old log", problem.path, problem.error);
    case Kind::CannotSyncCopies:
      return "Cannot write the copies in " + DisplayName(problem.path) +
             " to the disk: " + Reason(problem.error) + ". No page was replaced.";
    case Kind::CannotSyncFolder:
      return "Cannot write the new names in " + DisplayName(problem.path) +
             " to the disk: " + Reason(problem.error) + ".";
    case Kind::CannotKeep:
      return "Cannot keep the pages to be replaced in " + DisplayName(problem.path) + ": " +
             Reason(problem.error) + ". No page was replaced, so that the replace can be undone.";
    case Kind::CannotJournal:
      return "Cannot add the removed lines to the journal " + DisplayName(problem.path) + ": " +
             Reason(problem.error) + ". Log.txt keeps them.";
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

std::string RunQuestion(const fs::path& sourceDir, batch::Recursion recursion) {
  return "Update all HTML files in " + DisplayName(sourceDir) +
         (recursion == batch::Recursion::Subfolders ? " and its subfolders?" : "?");
}

std::string Processed(std::uint64_t count) {
  return "Processed " + std::to_string(count) + " files.";
}

std::string PageCount(std::uint64_t count) {
  return Thousands(count) + (count == 1 ? " page" : " pages");
}

std::string Updated(std::uint64_t updated, std::uint64_t pages, std::uint64_t leftAsTheyWere) {
  std::string text = "Updated " + Thousands(updated) + " of " + PageCount(pages);
  if (leftAsTheyWere != 0) {
    text += " (" + Thousands(leftAsTheyWere) + " left as " +
            (leftAsTheyWere == 1 ? "it was)" : "they were)");
  }
  return text + ".";
}

std::string NothingLapsed(std::uint64_t pages) {
  return "Nothing lapsed in " + PageCount(pages) + ".";
}

std::string ComingChange(const batch::ComingChange& change) {
  const char* what = "expiry";
  const char* happens = "lapses";
  switch (change.kind) {
    case text::DatedTagKind::Expiry:
      break;
    case text::DatedTagKind::New:
      what = "new";
      happens = "is no longer new";
      break;
    case text::DatedTagKind::Show:
      what = "show";
      happens = "is shown";
      break;
  }
  const std::string days =
      change.daysLeft == 1 ? "tomorrow" : "in " + std::to_string(change.daysLeft) + " days";
  return DisplayName(change.page) + ":" + std::to_string(change.line) + ": " + what + " " +
         text::DisplayText(change.dateText) + " " + happens + " " + days + " (" +
         text::FormatDay(change.day) + ")";
}

std::string DateFormatError(const fs::path& name) {
  return "Date Format error in " + DisplayName(name);
}

std::string DateNotRead(const fs::path& name, std::uint64_t line, std::string_view text) {
  if (line == 0) {
    return DateFormatError(name);
  }
  return DisplayName(name) + ":" + std::to_string(line) + ": '" + text::DisplayText(text) +
         "' is no date";
}

std::string ReadInOtherOrder(const fs::path& name, std::uint64_t line, std::string_view text,
                             text::TagDate date, text::DateOrder order) {
  const char* first = "month";
  switch (order) {
    case text::DateOrder::DayMonthYear:
      first = "day";
      break;
    case text::DateOrder::YearMonthDay:
      first = "year";
      break;
    case text::DateOrder::MonthDayYear:
      break;
  }
  return DisplayName(name) + ":" + std::to_string(line) + ": " + text::DisplayText(text) +
         " read as " + text::FormatTagDate(date) + ": " + first + " first does not fit";
}

std::string BrokenBlock(const fs::path& name, const text::BrokenBlock& block) {
  const char* what = "expiry block has no <!--ENDL; it runs to the end of the page";
  switch (block.kind) {
    case text::BrokenBlockKind::ExpiryUnclosed:
      break;
    case text::BrokenBlockKind::StrayEndTag:
      what = "<!--ENDL closes no expiry block";
      break;
    case text::BrokenBlockKind::ShowUnclosed:
      what = "show block has no closing line \"-->\"";
      break;
    case text::BrokenBlockKind::ShowHoldsCommentEnd:
      what = "show block holds \"-->\" before its closing line, which would show the rest early";
      break;
    case text::BrokenBlockKind::ShowHoldsTag:
      what = "show block holds a tag line";
      break;
  }
  return DisplayName(name) + ":" + std::to_string(block.line) + ": " + what;
}

std::string Failure(const batch::FileFailure& failure) {
  switch (failure.action) {
    case batch::FileAction::Read:
      return CannotDo("read", failure.path, failure.error);
    case batch::FileAction::GiveAccess:
      return "Cannot give " + DisplayName(failure.path) +
             " the permissions, ACL or attributes of its page: " + Reason(failure.error) +
             ". Its page is left as it is.";
    case batch::FileAction::Write:
      break;
  }
  return CannotDo("write", failure.path, failure.error);
}

std::string LeftOut(const fs::path& name, const batch::PageReport& report) {
  switch (report.outcome) {
    case batch::PageOutcome::DateFormatError:
      return DateFormatError(name);
    case batch::PageOutcome::LeftAsItIs:
      return LeftAsItIs(name, report.notText);
    case batch::PageOutcome::LinesNotLogged:
      return DisplayName(name) + ": its removed lines could not be written to Log.txt: " +
             Reason(report.failure.error) + ". It is left as it is.";
    case batch::PageOutcome::BrokenBlock:
      if (report.brokenBlock) {
        return BrokenBlock(name, *report.brokenBlock) + ". The page is left as it is.";
      }
      break;
    case batch::PageOutcome::Rewritten:
      if (report.brokenBlock) {
        return BrokenBlock(name, *report.brokenBlock) + ".";
      }
      break;
    case batch::PageOutcome::Failed:
      break;
  }
  return Failure(report.failure);
}

std::string ToolLeftOut(const fs::path& name, const batch::PageReport& report) {
  if (report.outcome == batch::PageOutcome::DateFormatError) {
    return DateNotRead(name, report.badDateLine, report.badDateText);
  }
  return LeftOut(name, report);
}

std::string LeftAsItIs(const fs::path& name, batch::NotText kind) {
  const char* what = "a compressed file";
  switch (kind) {
    case batch::NotText::Image:
      what = "an image";
      break;
    case batch::NotText::Pdf:
      what = "a PDF file";
      break;
    case batch::NotText::Archive:
      what = "an archive";
      break;
    case batch::NotText::Link:
      what = "a link";
      break;
    case batch::NotText::Binary:
      what = "a binary file";
      break;
    case batch::NotText::Compressed:
      break;
  }
  return DisplayName(name) + ": " + what + ", left as it is";
}

std::string Busy(const fs::path& folder, const platform::LockHolder& holder) {
  std::string who;
  if (holder.process) {
    who = "process " + std::to_string(*holder.process);
  }
  if (holder.since) {
    who += (who.empty() ? "since " : ", since ") + When(*holder.since);
  }
  return DisplayName(folder) + " is being updated by another Lapse" +
         (who.empty() ? "" : " (" + who + ")") + "; try again later.";
}

std::string Stopped(const batch::RunProblem& problem) {
  using Kind = batch::RunProblem::Kind;
  const std::string path = DisplayName(problem.path);
  switch (problem.kind) {
    case Kind::CannotOpenFolder:
      return CannotOpenFolder(problem.path, problem.error);
    case Kind::Busy:
      return Busy(problem.path, problem.holder);
    case Kind::CannotLock:
      return CannotDo("lock the folder", problem.path, problem.error);
    case Kind::NewIsTheSites:
      return path +
             " is a folder of the site, not Lapse's: it holds files, and no record of a run of "
             "yours. Rename it, or run Lapse on another folder. Nothing was written.";
    case Kind::CannotReadRecord:
      return CannotDo("read the record of the run", problem.path, problem.error) +
             " Nothing was written.";
    case Kind::CannotClearNew:
      return CannotDo("remove what an earlier run left in", problem.path, problem.error);
    case Kind::CannotMarkNew:
      return CannotDo("write the record of the run", problem.path, problem.error) +
             " Nothing was written.";
    case Kind::NewIsLink:
      return "Cannot write into " + path +
             ": it is a link, and the copies would land where it leads. Nothing was written.";
    case Kind::NewInTheWay:
      return "Cannot create the folder " + path + ": a file of that name is in the way.";
    case Kind::CannotCreateNew:
      return CannotDo("create the folder", problem.path, problem.error);
    case Kind::CannotOpenNew:
      return CannotOpenFolder(problem.path, problem.error);
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
  for (const batch::PageLeftOut& page : result.noted) {
    notes.push_back(LeftOut(page.name, page.report));
  }
  if (result.copiesWithoutOwner != 0) {
    notes.push_back(std::to_string(result.copiesWithoutOwner) +
                    " copies kept their page's permissions but not its owner or group, which "
                    "only root may give: after a replace those pages belong to you.");
  }
  if (result.logFailure) {
    notes.push_back(Failure(*result.logFailure) +
                    " No page whose removed lines are missing from it has a copy.");
  }
  if (result.recordFailure) {
    notes.push_back(Failure(*result.recordFailure) +
                    " Without it a replace holds every copy back; run again.");
  }
  return notes;
}

namespace {

std::size_t DecimalWidth(std::uint64_t number) {
  return std::to_string(number).size();
}

// Scales a count of lines to a bar of at most width marks, as git does: any
// change gets a mark.
std::uint64_t ScaledBar(std::uint64_t count, std::uint64_t width, std::uint64_t largest) {
  if (count == 0 || largest <= width) {
    return count;
  }
  return 1 + count * (width - 1) / largest;
}

// A name too long for its column keeps its end, after "...".
std::string FittedName(const std::string& name, std::size_t width) {
  if (name.size() <= width) {
    return name + std::string(width - name.size(), ' ');
  }
  const std::size_t keep = width > 3 ? width - 3 : 0;
  return "..." + name.substr(name.size() - keep);
}

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::vector<std::string> DiffStat(const std::vector<batch::ChangedPage>& pages) {
  std::vector<std::string> lines;
  if (pages.empty()) {
    return lines;
  }
  constexpr std::size_t kWidth = 80;
  std::vector<std::string> names;
  std::size_t nameWidth = 0;
  std::uint64_t largest = 0;
  std::uint64_t insertions = 0;
  std::uint64_t deletions = 0;
  for (const batch::ChangedPage& page : pages) {
    names.push_back(batch::DiffName("", page.page));
    nameWidth = std::max(nameWidth, names.back().size());
    largest = std::max(largest, page.insertions + page.deletions);
    insertions += page.insertions;
    deletions += page.deletions;
  }
  // " NAME | COUNT BAR" and a column free at the end: the bar gets what it
  // wants, else three eighths of the line, and the name the rest.
  const std::size_t numberWidth = DecimalWidth(largest);
  const std::size_t fixed = numberWidth + 6;
  std::size_t graphWidth = static_cast<std::size_t>(largest);
  if (nameWidth + fixed + graphWidth > kWidth) {
    const std::size_t threeEighths = kWidth * 3 / 8;
    if (graphWidth + fixed > threeEighths) {
      graphWidth = std::max<std::size_t>(threeEighths > fixed ? threeEighths - fixed : 0, 6);
    }
    if (nameWidth > kWidth - fixed - graphWidth) {
      nameWidth = kWidth - fixed - graphWidth;
    } else {
      graphWidth = kWidth - fixed - nameWidth;
    }
  }
  for (std::size_t at = 0; at < pages.size(); ++at) {
    const batch::ChangedPage& page = pages[at];
    const std::uint64_t total = page.insertions + page.deletions;
    const std::string count = std::to_string(total);
    std::string line = " " + FittedName(names[at], nameWidth) + " | " +
                       std::string(numberWidth - count.size(), ' ') + count;
    if (total != 0) {
      line += ' ';
      line += std::string(ScaledBar(page.insertions, graphWidth, largest), '+');
      line += std::string(ScaledBar(page.deletions, graphWidth, largest), '-');
    }
    lines.push_back(std::move(line));
  }
  std::string summary = " " + Counted(pages.size(), "file changed", "files changed");
  if (insertions != 0 || deletions == 0) {
    summary += ", " + Counted(insertions, "insertion(+)", "insertions(+)");
  }
  if (deletions != 0 || insertions == 0) {
    summary += ", " + Counted(deletions, "deletion(-)", "deletions(-)");
  }
  lines.push_back(std::move(summary));
  return lines;
}

std::vector<std::string> ReplaceDone(const batch::ReplaceResult& result) {
  std::vector<std::string> lines;
  const auto say = [&lines](std::string_view what, const std::vector<fs::path>& names) {
    for (const fs::path& name : names) {
      lines.push_back(std::string(what) + " " + DisplayName(name));
    }
  };
  say("Replaced", result.replaced);
  say("Unchanged", result.unchanged);
  say("Moved", result.moved);
  return lines;
}

std::string ReplaceSummary(const batch::ReplaceResult& result) {
  std::string text = "Replaced " + PageCount(result.replaced.size());
  for (const fs::path& name : result.moved) {
    text += " and moved " + DisplayName(name);
  }
  std::vector<std::string> besides;
  if (!result.unchanged.empty()) {
    besides.push_back(Thousands(result.unchanged.size()) + " unchanged");
  }
  if (const std::uint64_t heldBack = result.PagesHeldBack(); heldBack != 0) {
    besides.push_back(Thousands(heldBack) + " held back");
  }
  for (std::size_t at = 0; at < besides.size(); ++at) {
    text += (at == 0 ? " (" : ", ") + besides[at];
  }
  return text + (besides.empty() ? "." : ").");
}

std::vector<std::string> ReplaceProblems(const batch::ReplaceResult& result) {
  std::vector<std::string> lines;
  const std::string newDir = DisplayName(result.paths.newDir.parent_path());
  switch (result.refusal) {
    case batch::ReplaceRefusal::None:
      break;
    case batch::ReplaceRefusal::CannotOpenFolder:
      lines.push_back(CannotOpenFolder(result.siteProblem.path, result.siteProblem.error));
      break;
    case batch::ReplaceRefusal::Busy:
      lines.push_back(Busy(result.siteProblem.path, result.siteProblem.holder));
      break;
    case batch::ReplaceRefusal::CannotLock:
      lines.push_back(
          CannotDo("lock the folder", result.siteProblem.path, result.siteProblem.error));
      break;
    case batch::ReplaceRefusal::NoNewDir:
      lines.push_back("There is no folder " + newDir + " with copies to replace the files with.");
      break;
    case batch::ReplaceRefusal::NewIsTheSites:
      lines.push_back(newDir +
                      " is a folder of the site, not Lapse's: it holds no record of a run of "
                      "yours. Nothing was replaced.");
      break;
    case batch::ReplaceRefusal::RecordDamaged:
      lines.push_back("The record of the run in " + newDir +
                      " is damaged: it is cut short or names files outside the folder. Run "
                      "again; nothing was replaced.");
      break;
    case batch::ReplaceRefusal::CannotReadRecord:
      break;  // the problem below says why
    case batch::ReplaceRefusal::RunUnfinished:
      lines.push_back("The run that wrote " + newDir +
                      " did not finish, so its copies are not all there. Run again; nothing "
                      "was replaced.");
      break;
  }
  for (const batch::LeftInNew& item : result.left) {
    lines.push_back(DisplayName(item.name) + " stays in the folder New: " +
                    HeldBackReason(item, result.paths.sourceDir) + ".");
  }
  for (const batch::ReplaceProblem& problem : result.problems) {
    lines.push_back(ReplaceProblem(problem));
  }
  return lines;
}

std::vector<std::string> ReplaceNotes(const batch::ReplaceResult& result) {
  std::vector<std::string> notes;
  for (const fs::path& name : result.otherNamesKeepOldText) {
    notes.push_back(DisplayName(name) + ": its other names keep the old text.");
  }
  return notes;
}

std::string When(std::chrono::system_clock::time_point when) {
  return platform::LocalMinuteText(std::chrono::system_clock::to_time_t(when));
}

std::string UndoQuestion(const batch::KeptReplace& replace, const fs::path& folder) {
  const std::size_t count = replace.pages.size();
  return "Put back the " + (count == 1 ? std::string("page") : std::to_string(count) + " pages") +
         " that the replace of " + When(replace.when) + " changed in " + DisplayName(folder) + "?";
}

namespace {

// UndoDone without its full stop; "Put back no page of the replace ..."
// where none was put back.
std::string PutBack(const batch::UndoResult& result) {
  const std::size_t count = result.restored.size();
  const std::string replace =
      "the replace of " + When(result.replace.when) + " in " + DisplayName(result.paths.sourceDir);
  if (count == 0) {
    return "Put back no page of " + replace;
  }
  return "Put back " + PageCount(count) + " as " + (count == 1 ? "it was" : "they were") +
         " before " + replace;
}

}  // namespace

std::string UndoDone(const batch::UndoResult& result) {
  return PutBack(result) + ".";
}

std::string UndoSummary(const batch::UndoResult& result) {
  // The pages not put back: those held back, and those of the replace that
  // are not back. A problem is no count of pages: it may be the kept
  // replace's own record, written after every page was put back, or before
  // any was.
  const std::size_t listed = result.replace.pages.size();
  const std::size_t restored = result.restored.size();
  const std::size_t left = result.changed.size() + (listed > restored ? listed - restored : 0);
  if (left == 0) {
    return UndoDone(result);
  }
  return PutBack(result) + " (" + Thousands(left) + " left as " +
         (left == 1 ? "it is)." : "they are).");
}

std::vector<std::string> UndoProblems(const batch::UndoResult& result) {
  std::vector<std::string> lines;
  const std::string folder = DisplayName(result.paths.sourceDir);
  switch (result.refusal) {
    case batch::UndoRefusal::None:
      break;
    case batch::UndoRefusal::CannotOpenFolder:
      lines.push_back(CannotOpenFolder(result.siteProblem.path, result.siteProblem.error));
      return lines;
    case batch::UndoRefusal::Busy:
      lines.push_back(Busy(result.siteProblem.path, result.siteProblem.holder));
      return lines;
    case batch::UndoRefusal::CannotLock:
      lines.push_back(
          CannotDo("lock the folder", result.siteProblem.path, result.siteProblem.error));
      return lines;
    case batch::UndoRefusal::NothingKept:
      lines.push_back("No replace of " + folder + " is kept: there is nothing to undo.");
      return lines;
    case batch::UndoRefusal::AlreadyUndone:
      lines.push_back("The replace of " + When(result.replace.when) + " in " + folder +
                      " was undone already: there is nothing more to put back.");
      return lines;
  }
  for (const fs::path& page : result.changed) {
    lines.push_back(DisplayName(page) + ": changed after the replace; left as it is.");
  }
  for (const batch::UndoProblem& problem : result.problems) {
    lines.push_back(CannotDo("put back", problem.path, problem.error));
  }
  return lines;
}

std::string KeptReplaceLine(const batch::KeptReplace& replace) {
  constexpr std::uint64_t kKiB = 1024;
  constexpr std::uint64_t kMiB = kKiB * kKiB;
  const std::uint64_t bytes = replace.Bytes();
  char size[32];
  if (bytes < kKiB) {
    std::snprintf(size, sizeof size, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < kMiB) {
    std::snprintf(size, sizeof size, "%.1f KiB", static_cast<double>(bytes) / kKiB);
  } else {
    std::snprintf(size, sizeof size, "%.1f MiB", static_cast<double>(bytes) / kMiB);
  }
  const std::size_t count = replace.pages.size();
  return When(replace.when) + "  " + std::to_string(count) + (count == 1 ? " page  " : " pages  ") +
         size + (replace.state == batch::KeptState::Undone ? "  (undone)" : "");
}

std::string JournalUnread(std::error_code error) {
  return "The record of removed lines cannot be read: " + Reason(error) + ".";
}

std::string JournalDamaged() {
  return "The record of removed lines is damaged at its end; what comes before is shown.";
}

std::string NothingJournaled(const fs::path& folder, std::optional<text::Today> since) {
  return "Nothing removed from " + DisplayName(folder) +
         (since ? " on or after " + text::FormatDay(*since) : std::string()) + " is on record.";
}

std::string CannotOpenFolder(const fs::path& folder, std::error_code error) {
  if (error == platform::NotYoursError()) {
    return "Lapse runs as root and will not work in " + DisplayName(folder) +
           ": it belongs to another user, or others may write into it, and what they put there "
           "while Lapse works could turn root's rights against other files. Run Lapse as the "
           "folder's owner, or give lapse-cli --trust-site to go on. Nothing was changed.";
  }
  if (error == platform::IsALinkError()) {
    // Lapse never works through a link in the folder's own place: someone
    // who may change the folder above could point it anywhere.
    return "Cannot open the folder " + DisplayName(folder) +
           ": it is a link. Name the folder it leads to.";
  }
  return CannotDo("open the folder", folder, error);
}

std::string NotDue(std::string_view at, std::string_view zone) {
  return "Not updated: the update at " + std::string(at) +
         (zone.empty() ? std::string() : " (" + std::string(zone) + ")") + " is not due now.";
}

std::string NotTheScheduledFolder(const fs::path& folder, const platform::FileStamp& scheduled,
                                  const platform::FileStamp& found) {
  return DisplayName(folder) + " is no longer the folder that was scheduled (it was device " +
         std::to_string(scheduled.device) + ", file " + std::to_string(scheduled.inode) + "; now " +
         std::to_string(found.device) + ", " + std::to_string(found.inode) +
         "): nothing was updated. Schedule it again if it moved.";
}

std::string FolderNotTold(const fs::path& folder, std::error_code error) {
  return "Cannot tell whether " + DisplayName(folder) +
         " is still the folder that was scheduled: " + Reason(error) + ". Nothing was updated.";
}

std::string NoRunLog(const fs::path& log) {
  return "There is no run log at " + DisplayName(log) + ": the last run wrote none.";
}

std::string CannotOpenRunLog(const fs::path& log) {
  return "Cannot open the run log " + DisplayName(log) + " in a text editor.";
}

std::string CannotOpenPage(const fs::path& page) {
  return "Cannot open " + DisplayName(page) + " in a text editor.";
}

std::string WindowFailed(std::string_view what) {
  return what.empty() ? std::string("That could not be done.")
                      : "That could not be done: " + std::string(what) + ".";
}

std::string NotAnOptionNumber(OptionNumber number, std::string_view text) {
  const std::string_view field = number == OptionNumber::Days
                                     ? "number of days after which new tags expire"
                                     : "number of lines to delete after a tag";
  return "The " + std::string(field) + " must be a whole number from -32768 to 32767; \"" +
         text::DisplayText(text) + "\" is not. No option has been changed.";
}

namespace {

// Why a saved schedule does not run, and what has it run, as a desktop user
// takes it.
struct NotStartedWords {
  const char* why;
  const char* remedy;
};

NotStartedWords NotStartedWordsOf(schedule::Idle idle) {
  switch (idle) {
    case schedule::Idle::NoManager:
      // The timer is only enabled by a schedule made while systemd runs.
      return {"the scheduler of this computer (systemd) is not running",
              "An administrator can start it. Once it runs, open this dialog again and press "
              "Schedule: from then on the folder is updated every day by itself."};
    case schedule::Idle::NoCronDaemon:
      return {"the scheduler of this computer (the cron service) is not running",
              "An administrator can start the cron service: from then on the folder is updated "
              "every day by itself."};
    case schedule::Idle::WineScheduler:
      return {
          "Lapse runs under wine here, whose Task Scheduler keeps tasks without ever "
          "starting them",
          "To have the folder updated every day, schedule it with Lapse on the system that "
          "wine runs on."};
    case schedule::Idle::No:
    case schedule::Idle::NotEnabled:
    case schedule::Idle::LinesMissing:
    case schedule::Idle::TaskMissing:
      break;
  }
  return {"the scheduler has not taken it", "Press Schedule again to have it taken."};
}

}  // namespace

std::string UpdateOptionsInWords(const schedule::UpdateOptions& options) {
  std::vector<std::string> words;
  if (options.dateOrder == "mdy") {
    words.emplace_back("dates month first");
  } else if (options.dateOrder == "dmy") {
    words.emplace_back("dates day first");
  } else if (options.dateOrder == "ymd") {
    words.emplace_back("dates year first");
  } else {
    // An entry of an earlier Lapse, which recorded no order.
    words.emplace_back("dates in the order of the scheduler's language settings");
  }
  if (options.days) {
    words.push_back("new tags expire after " + std::to_string(*options.days) +
                    (*options.days == 1 ? " day" : " days"));
  }
  if (options.lines) {
    words.push_back("delete " + std::to_string(*options.lines) +
                    (*options.lines == 1 ? " line" : " lines") + " of text after a lapsed new tag");
  }
  if (!options.log) {
    words.emplace_back("no log");
  }
  if (options.warnDays) {
    words.push_back("name what changes within " + std::to_string(*options.warnDays) +
                    (*options.warnDays == 1 ? " day" : " days"));
  }
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "" : "; ") + word;
  }
  return text;
}

std::string ScheduleNotStarted(const schedule::Outcome& outcome) {
  const schedule::Entry& entry = outcome.entry;
  const NotStartedWords words = NotStartedWordsOf(entry.idle);
  std::string text = "Saved: the daily update of " + schedule::TextOf(entry.folder) + ", " +
                     schedule::WhenText(entry) +
                     ". But nothing on this computer will start it: " + words.why + ".\n\n" +
                     words.remedy;
  for (const schedule::Entry& kept : outcome.kept) {
    text += "\n\nThe earlier daily update of the folder with " +
            std::string(schedule::SchedulerTitle(kept.scheduler)) +
            " stays as it was, and updates it " + schedule::WhenText(kept) + ".";
  }
  return text;
}

}  // namespace lapse::messages
