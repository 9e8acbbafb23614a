// The sentences the front ends show for the core's results. Both the
// command-line tool and the desktop program say the same things.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/batch.h"
#include "batch/page_diff.h"
#include "batch/undo.h"
#include "batch/warned_tags.h"
#include "schedule/schedule.h"
#include "text/date.h"

namespace lapse::messages {

// The system's reason, without the line end or full stop Windows gives it.
std::string Reason(std::error_code error);

// "Update all HTML files in " + SourceDir + "?"; over subfolders, "... in
// SourceDir and its subfolders?".
std::string RunQuestion(const std::filesystem::path& sourceDir, batch::Recursion recursion);
// "Processed " + count + " files."
std::string Processed(std::uint64_t count);
// "1 page", "4,821 pages".
std::string PageCount(std::uint64_t count);
// What an update did: "Updated 2 of 4,821 pages (3 left as they were)."
std::string Updated(std::uint64_t updated, std::uint64_t pages, std::uint64_t leftAsTheyWere);
// An update on a day when nothing lapsed: "Nothing lapsed in 4,821 pages."
std::string NothingLapsed(std::uint64_t pages);
// "Date Format error in " + the bare name.
std::string DateFormatError(const std::filesystem::path& name);
// The command-line tool's date format error, with the tag's line and what
// stands where its date should: "news.htm:12: '31/31/26' is no date". The
// bare "Date Format error in " + name where the line is not known.
std::string DateNotRead(const std::filesystem::path& name, std::uint64_t line,
                        std::string_view text);
// A date read in the other order of day and month than the one in force:
// "news.htm:12: 12/31/99 read as 1999-12-31: day first does not fit".
std::string ReadInOtherOrder(const std::filesystem::path& name, std::uint64_t line,
                             std::string_view text, text::TagDate date, text::DateOrder order);
// update --warn-days: "news.htm:12: expiry 12/24/26 lapses in 5 days
// (2026-12-24)"; a new-content tag "is no longer new", a show block "is
// shown".
std::string ComingChange(const batch::ComingChange& change);

// "Cannot read PATH: reason." or "Cannot write PATH: reason."
std::string Failure(const batch::FileFailure& failure);
// A page that is no text Lapse rewrites: "NAME: a compressed file, left as
// it is", "... an image ...", "... a link ...".
std::string LeftAsItIs(const std::filesystem::path& name, batch::NotText kind);
// A block that does not close as it should, by its page and line:
// "news.htm:12: expiry block has no <!--ENDL; it runs to the end of the page".
std::string BrokenBlock(const std::filesystem::path& name, const text::BrokenBlock& block);
// Why the file name was left out of the run.
std::string LeftOut(const std::filesystem::path& name, const batch::PageReport& report);
// The same as the command-line tool says it, which names a date format
// error's line and text.
std::string ToolLeftOut(const std::filesystem::path& name, const batch::PageReport& report);
// Why a run stopped before it wrote anything.
std::string Stopped(const batch::RunProblem& problem);
// "S is being updated by another Lapse (process N, since 2026-12-09 14:02); try again
// later."
std::string Busy(const std::filesystem::path& folder, const platform::LockHolder& holder);
// What else a completed run has to say, a line each: pages whose lapsed
// block no end tag closed, copies that could not keep their page's owner, a
// record of the sources that could not be written.
std::vector<std::string> RunNotes(const batch::RunResult& result);

// What lapse-cli diff --stat shows for the pages an update would change, a
// line each: " news.htm | 3 ---" (a bar scaled to fit 80 columns, "+"
// for lines put in, "-" for lines taken out), then " 2 files changed, 5
// deletions(-)". Nothing when no page changes.
std::vector<std::string> DiffStat(const std::vector<batch::ChangedPage>& pages);

// What a replace did, a line each: "Replaced a.htm" for a page that holds
// its copy now, "Unchanged b.htm" for one whose copy was the page byte for
// byte, "Moved Log.txt" for the log.
std::vector<std::string> ReplaceDone(const batch::ReplaceResult& result);
// What a replace did, counted, as update counts what it did: "Replaced
// 4,820 pages and moved Log.txt (2 unchanged).", "Replaced 4,819 pages (2
// unchanged, 1 held back)." The pages held back are named by
// ReplaceProblems; the log waiting for them is no page.
std::string ReplaceSummary(const batch::ReplaceResult& result);
// A line for each file that a replace left in New and why, or why it did
// nothing; empty when the replace completed.
std::vector<std::string> ReplaceProblems(const batch::ReplaceResult& result);
// What else a replace has to say: pages whose other names keep the old text.
std::vector<std::string> ReplaceNotes(const batch::ReplaceResult& result);

// A moment as the user reads it, in local time, the date always with it so
// that a message read the next day is not misread: "2026-12-09 14:02". Every
// date and time that a person reads is written so (schedules, missed
// updates, the lock); files and JSON keep their own forms.
std::string When(std::chrono::system_clock::time_point when);
// "Put back the 12 pages that the replace of 2026-12-09 14:02 changed in
// FOLDER?"
std::string UndoQuestion(const batch::KeptReplace& replace, const std::filesystem::path& folder);
// What an undo put back: "Put back 4 pages as they were before the replace
// of 2026-12-09 14:22 in /site."
std::string UndoDone(const batch::UndoResult& result);
// The same with the pages it could not put back counted, which
// UndoProblems names: "... in /site (1 left as it is)."; "Put back no page
// of the replace of 2026-12-09 14:22 in /site (2 left as they are)." where
// it put back none.
std::string UndoSummary(const batch::UndoResult& result);
// What an undo could not do, a line each, or why it did nothing; empty
// when it put back every page.
std::vector<std::string> UndoProblems(const batch::UndoResult& result);
// A kept replace in a list: "2026-12-09 14:02  12 pages  34.5 KiB".
std::string KeptReplaceLine(const batch::KeptReplace& replace);

// What lapse-cli log says where the journal of removed lines cannot be
// read, holds something that is no journal past a point, or is empty.
std::string JournalUnread(std::error_code error);
std::string JournalDamaged();
std::string NothingJournaled(const std::filesystem::path& folder, std::optional<text::Today> since);

// "Cannot open the folder PATH: reason."
std::string CannotOpenFolder(const std::filesystem::path& folder, std::error_code error);

// What update --only-at says where it is not the update's time: "Not
// updated: the update at 02:30 (Europe/Berlin) is not due now."
std::string NotDue(std::string_view at, std::string_view zone);

// What update --folder-id says where the path leads to another folder than
// the one scheduled, whose device and file number were those of scheduled:
// "/home/u/site/ is no longer the folder that was scheduled (it was device
// 2049, file 1234; now 2049, 9876): nothing was updated. Schedule it again
// if it moved."
std::string NotTheScheduledFolder(const std::filesystem::path& folder,
                                  const platform::FileStamp& scheduled,
                                  const platform::FileStamp& found);
// "Cannot tell whether PATH is still the folder that was scheduled: reason.
// Nothing was updated."
std::string FolderNotTold(const std::filesystem::path& folder, std::error_code error);

// "There is no run log at PATH: the last run wrote none."
std::string NoRunLog(const std::filesystem::path& log);
// "Cannot open the run log PATH in a text editor."
std::string CannotOpenRunLog(const std::filesystem::path& log);
// "Cannot open PATH in a text editor."
std::string CannotOpenPage(const std::filesystem::path& page);
// What a window says when something it does fails in a way no result
// names (memory ran out): "That could not be done: WHAT." The window stays.
std::string WindowFailed(std::string_view what);

// What the desktop program warns of where a schedule was saved but nothing
// on this computer will start it (schedule::Problem::WillNotRun): what was
// saved, why nothing starts it and what to do, in a desktop user's words:
// neither the scheduler's names for its files nor its commands, and no
// quoting. An entry of the folder's that another scheduler runs, and that
// stays, is named too. lapse-cli says it in its own words, which scripts read.
std::string ScheduleNotStarted(const schedule::Outcome& outcome);

// The options a schedule's update runs with, in the words of the Options
// dialog rather than the command line's: "dates month first; new tags
// expire after 30 days; delete 1 line of text after a lapsed new tag".
std::string UpdateOptionsInWords(const schedule::UpdateOptions& options);

// The two numbers of the options dialog.
enum class OptionNumber { Days, Lines };
// Why text cannot be taken for that number; no option has been changed.
std::string NotAnOptionNumber(OptionNumber number, std::string_view text);

}  // namespace lapse::messages
