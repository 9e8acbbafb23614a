#include "cli/commands.h"

#include <utf8.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

#include "batch/batch.h"
#include "batch/check.h"
#include "batch/journal.h"
#include "batch/page_diff.h"
#include "batch/site_names.h"
#include "batch/undo.h"
#include "batch/warned_tags.h"
#include "cli/help_format.h"
#include "cli/journal_listing.h"
#include "cli/schedule_commands.h"
#include "cli/update_options.h"
#include "messages/messages.h"
#include "platform/clock.h"
#include "schedule/schedule.h"
#include "schedule/time_of_day.h"
#include "state/program_state.h"
#include "state/version.h"
#include "text/names.h"

namespace lapse::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kVersion = "lapse-cli " LAPSE_VERSION;
constexpr const char* kCommands[] = {"run",      "replace",    "update",   "diff",
                                     "check",    "undo",       "replaces", "log",
                                     "schedule", "unschedule", "schedules"};

// What a command's errors start with, "lapse-cli run: "; before a command
// is known, "lapse-cli: ". A page's own report starts with its name instead.
std::string Who(const std::string& command) {
  return "lapse-cli" + (command.empty() ? std::string() : " " + command) + ": ";
}

// The options of every command, as typed; checked once parsing is done, so
// that each mistake gets a sentence of its own.
struct Options {
  std::string directory;
  std::string today;  // YYYY-MM-DD; empty for the clock's date
  RemovalOptions removal;
  std::string wait;
  std::string within;
  std::string warnDays;
  std::string since;                    // YYYY-MM-DD
  std::optional<std::string> timeZone;  // given empty, it is refused like any unknown zone
  std::optional<std::string> onlyAt;
  std::optional<std::string> folderId;
  bool recursive = false;
  bool quiet = false;
  bool verbose = false;
  bool json = false;
  bool trustSite = false;
  bool full = false;
  bool stat = false;
  bool exitCode = false;
};

// The options once checked.
struct Settings {
  std::string command;  // as its errors name it
  fs::path directory;
  batch::RunOptions run;
  std::chrono::milliseconds wait = batch::kDefaultLockWait;
  batch::ForeignSite foreignSite = batch::ForeignSite::Refuse;
  bool full = false;  // read every page, whatever the index says
  std::optional<int> within;
  // update names the tags that change a page within these days.
  std::optional<int> warnDays;
  std::optional<text::Today> since;
  std::string zone;  // empty for the machine's
  // update does nothing but in the quarter hour the day's update at that
  // time starts in.
  std::optional<schedule::TimeOfDay> onlyAt;
  // update does nothing to a folder that is not this one.
  std::optional<schedule::FolderId> folderId;
  bool quiet = false;
  bool verbose = false;  // replace and undo: each page, before the counts
  bool json = false;
  bool stat = false;      // diff: the count of each page's lines, not the lines
  bool exitCode = false;  // check: 1 when a run today would change a page
};

std::optional<text::Today> ParseIsoDay(std::string_view text) {
  const auto digitsAt = [&](std::size_t from, std::size_t count) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digitsAt(0, 4) || !digitsAt(5, 2) ||
      !digitsAt(8, 2)) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t from, std::size_t count) {
    return std::stoi(std::string(text.substr(from, count)));
  };
  const std::chrono::year_month_day day{std::chrono::year{number(0, 4)},
                                        std::chrono::month{static_cast<unsigned>(number(5, 2))},
                                        std::chrono::day{static_cast<unsigned>(number(8, 2))}};
  if (!day.ok()) {
    return std::nullopt;
  }
  return text::Today{day};
}

// "site/" names the folder "site": the run appends its own separator. The
// folder must be there, and be one that may be entered.
fs::path CheckedFolder(const std::string& command, const std::string& text) {
  fs::path directory = text::PathFromText(text);
  while (directory.has_relative_path() && !directory.has_filename()) {
    directory = directory.parent_path();
  }
  const std::string shown = text::DisplayText(text);
  std::error_code error;
  const fs::file_status status = fs::status(directory, error);
  if (status.type() == fs::file_type::not_found) {
    throw UsageError{"lapse-cli " + command + ": there is no folder " + shown + "."};
  }
  if (error) {
    throw UsageError{"lapse-cli " + command + ": " + shown + ": " + messages::Reason(error) + "."};
  }
  if (!fs::is_directory(status)) {
    throw UsageError{"lapse-cli " + command + ": " + shown + " is a file, not a folder."};
  }
  fs::directory_iterator entries(directory, error);
  if (error) {
    throw UsageError{"lapse-cli " + command + ": " + shown + ": " + messages::Reason(error) + "."};
  }
  return directory;
}

Settings Checked(const std::string& command, const Options& options,
                 const Environment& environment) {
  Settings settings;
  settings.command = command;
  if (options.directory.empty()) {
    throw UsageError{"lapse-cli " + command + ": which folder? (see lapse-cli " + command +
                     " --help)"};
  }
  settings.directory = CheckedFolder(command, options.directory);
  batch::RunOptions& run = settings.run;
  run.locale = environment.locale;
  run.clock = environment.clock;
  const Removal removal = CheckedRemoval(command, options.removal);
  run.locale.order = removal.order.value_or(environment.locale.order);
  run.locale.orderGiven = removal.order.has_value();
  run.recursion = options.recursive ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder;
  run.log = removal.log;
  run.newDays = removal.days.value_or(run.newDays);
  run.lines = removal.lines.value_or(run.lines);
  if (!options.wait.empty()) {
    settings.wait =
        std::chrono::seconds(WholeNumber<int>(command, "--wait", options.wait, 0, 86400));
    run.lockWait = settings.wait;
  }
  settings.full = options.full;
  if (options.trustSite) {
    settings.foreignSite = batch::ForeignSite::Allow;
    run.foreignSite = batch::ForeignSite::Allow;
  }
  if (!options.within.empty()) {
    settings.within = WholeNumber<int>(command, "--within", options.within, 0, 36500);
  }
  settings.warnDays = CheckedWarnDays(command, options.warnDays);
  if (options.timeZone) {
    if (!environment.useTimeZone || environment.useTimeZone(*options.timeZone)) {
      throw UsageError{"lapse-cli " + command + ": the system knows no time zone '" +
                       text::DisplayText(*options.timeZone) +
                       "'; give a name of the zone database, such as Europe/Berlin or UTC."};
    }
    settings.zone = *options.timeZone;
  }
  if (options.onlyAt) {
    settings.onlyAt = schedule::ParseTimeOfDay(*options.onlyAt);
    if (!settings.onlyAt) {
      throw UsageError{"lapse-cli " + command +
                       ": --only-at takes a time of day, HH:MM from 00:00 to 23:59; '" +
                       text::DisplayText(*options.onlyAt) + "' is not one."};
    }
  }
  if (options.folderId) {
    settings.folderId = schedule::ParseFolderId(*options.folderId);
    if (!settings.folderId) {
      throw UsageError{"lapse-cli " + command +
                       ": --folder-id takes DEVICE:INODE, two whole numbers such as 2049:1234; '" +
                       text::DisplayText(*options.folderId) + "' is not one."};
    }
  }
  if (!options.today.empty()) {
    const std::optional<text::Today> today = ParseIsoDay(options.today);
    if (!today) {
      throw UsageError{"lapse-cli " + command + ": '" + text::DisplayText(options.today) +
                       "' is not a date (YYYY-MM-DD)."};
    }
    run.clock = [day = *today] { return day; };
  }
  if (!options.since.empty()) {
    settings.since = ParseIsoDay(options.since);
    if (!settings.since) {
      throw UsageError{"lapse-cli " + command + ": '" + text::DisplayText(options.since) +
                       "' is not a date (YYYY-MM-DD)."};
    }
  }
  settings.quiet = options.quiet;
  settings.verbose = options.verbose;
  settings.json = options.json;
  settings.stat = options.stat;
  settings.exitCode = options.exitCode;
  return settings;
}

// One line on a terminal's error stream that tells how far a long run or
// replace has come, as wide as the terminal, erased at the end; nothing on
// a pipe or a file, so that mails from cron stay as they are.
class ProgressLine final : public batch::Progress {
 public:
  ProgressLine(std::ostream& err, bool terminal, std::size_t columns)
      : err_(err), terminal_(terminal), width_(std::max<std::size_t>(columns, 2) - 1) {}
  ~ProgressLine() override { Erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Advance(std::uint64_t done, std::uint64_t listed, const fs::path& current) override {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ || now - start_ < std::chrono::seconds(1) ||
        now - shown_ < std::chrono::milliseconds(100)) {
      return;
    }
    shown_ = now;
    std::string line = std::to_string(done) + " of " + std::to_string(listed) + " files";
    if (current.has_parent_path()) {
      line += ": " + text::DisplayName(current.parent_path());
    }
    line.resize(std::min(line.size(), width_));
    err_ << '\r' << line << std::string(width_ - line.size(), ' ') << std::flush;
    visible_ = true;
  }

  // Clears the line before anything else is written to the stream.
  void Erase() {
    if (visible_) {
      err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
      visible_ = false;
    }
  }

 private:
  std::ostream& err_;
  bool terminal_;
  std::size_t width_;  // a column short of the terminal's, so that it never wraps
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
  bool visible_ = false;
};

// The tool answers the run's question itself and reports on the error stream.
class ConsoleFrontEnd final : public batch::RunFrontEnd {
 public:
  // quiet: files left as they are by design (images, archives, links) go
  // unsaid; only what went wrong is said.
  ConsoleFrontEnd(std::ostream& err, const Environment& environment, bool quiet = false)
      : err_(err),
        progress_(err, environment.errorIsTerminal, environment.terminalColumns),
        quiet_(quiet) {}
  bool Confirm(const fs::path&, batch::Recursion) override { return true; }
  void NewDirectoryCreated() override {}
  void FileLeftOut(const fs::path& name, const batch::PageReport& report) override {
    if (quiet_ && report.outcome == batch::PageOutcome::LeftAsItIs) {
      return;
    }
    progress_.Erase();
    err_ << messages::ToolLeftOut(name, report) << '\n';
  }
  void Advance(std::uint64_t done, std::uint64_t listed, const fs::path& current) override {
    progress_.Advance(done, listed, current);
  }
  void Done() { progress_.Erase(); }

 private:
  std::ostream& err_;
  ProgressLine progress_;
  bool quiet_;
};

void SayRunNotes(const batch::RunResult& result, std::ostream& err) {
  for (const std::string& note : messages::RunNotes(result)) {
    err << note << '\n';
  }
}

int Run(const Settings& settings, const Environment& environment, std::ostream& out,
        std::ostream& err) {
  ConsoleFrontEnd frontEnd(err, environment, settings.quiet);
  batch::RunOptions options = settings.run;
  options.keepIn = environment.keepIn;
  const batch::RunResult result =
      batch::BatchRun(environment.disk, settings.directory, frontEnd, options);
  frontEnd.Done();
  if (result.status != batch::RunStatus::Completed) {
    err << Who(settings.command) << messages::Stopped(result.problem) << '\n';
    return kUsageError;
  }
  SayRunNotes(result, err);
  if (!settings.quiet) {
    out << messages::Processed(result.fileCount) << '\n';
  }
  return result.AllRewritten() ? kSuccess : kFilesLeftOut;
}

// How much of what a replace or an undo did is said on the output: what
// went wrong is always said, on the error stream, page by page.
enum class Told {
  Nothing,    // --quiet, and update, which says it in its own words
  Counts,     // a line that counts the pages
  EveryPage,  // --verbose: a line for each page, then the counts
};

Told TellingOf(const Settings& settings) {
  return settings.quiet ? Told::Nothing : settings.verbose ? Told::EveryPage : Told::Counts;
}

// Says what a replace did, and names what it could not do: a site of
// thousands of pages gets a line that counts them, and a line for each page
// that needs the user.
int SayReplaced(const batch::ReplaceResult& result, Told told, const std::string& command,
                std::ostream& out, std::ostream& err) {
  if (told == Told::EveryPage) {
    for (const std::string& line : messages::ReplaceDone(result)) {
      out << line << '\n';
    }
  }
  for (const std::string& note : messages::ReplaceNotes(result)) {
    err << note << '\n';
  }
  const bool refused = result.refusal != batch::ReplaceRefusal::None;
  for (const std::string& problem : messages::ReplaceProblems(result)) {
    err << (refused ? Who(command) : "") << problem << '\n';
  }
  if (refused && result.refusal != batch::ReplaceRefusal::RunUnfinished) {
    return kUsageError;
  }
  if (!refused && told != Told::Nothing) {
    out << messages::ReplaceSummary(result) << '\n';
  }
  return result.Complete() ? kSuccess : kFilesLeftOut;
}

int Replace(const Settings& settings, const Environment& environment, std::ostream& out,
            std::ostream& err) {
  batch::ReplaceResult result;
  {
    ProgressLine progress(err, environment.errorIsTerminal, environment.terminalColumns);
    batch::ReplaceOptions options;
    options.lockWait = settings.wait;
    options.progress = &progress;
    options.keepIn = environment.keepIn;
    options.foreignSite = settings.foreignSite;
    result = batch::Replace(environment.disk, settings.directory, options);
  }
  return SayReplaced(result, TellingOf(settings), settings.command, out, err);
}

int Undo(const Settings& settings, const Environment& environment, std::ostream& out,
         std::ostream& err) {
  if (!environment.keepIn) {
    err << Who(settings.command)
        << "the user's state folder cannot be told (no HOME): nothing is kept.\n";
    return kUsageError;
  }
  batch::UndoResult result;
  {
    ProgressLine progress(err, environment.errorIsTerminal, environment.terminalColumns);
    result = batch::Undo(environment.disk, settings.directory,
                         {*environment.keepIn, settings.wait, &progress, settings.foreignSite});
  }
  const std::vector<std::string> problems = messages::UndoProblems(result);
  switch (result.refusal) {
    case batch::UndoRefusal::None:
      break;
    case batch::UndoRefusal::AlreadyUndone:
      if (!settings.quiet) {
        out << problems.front() << '\n';
      }
      return kSuccess;
    case batch::UndoRefusal::NothingKept:
    case batch::UndoRefusal::CannotOpenFolder:
    case batch::UndoRefusal::Busy:
    case batch::UndoRefusal::CannotLock:
      err << Who(settings.command) << problems.front() << '\n';
      return kUsageError;
  }
  const Told told = TellingOf(settings);
  if (told == Told::EveryPage) {
    for (const fs::path& page : result.restored) {
      out << "Put back " << text::DisplayName(page) << '\n';
    }
  }
  for (const std::string& problem : problems) {
    err << problem << '\n';
  }
  if (told != Told::Nothing) {
    out << messages::UndoSummary(result) << '\n';
  }
  return result.Complete() ? kSuccess : kFilesLeftOut;
}

int Replaces(const Settings& settings, const Environment& environment, std::ostream& out) {
  const std::vector<batch::KeptReplace> replaces =
      environment.keepIn
          ? batch::KeptReplaces(environment.disk, *environment.keepIn, settings.directory)
          : std::vector<batch::KeptReplace>{};
  if (settings.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const batch::KeptReplace& replace : replaces) {
      list.push_back({{"time", platform::UtcText(replace.when)},
                      {"pages", replace.pages.size()},
                      {"bytes", replace.Bytes()},
                      {"undone", replace.state == batch::KeptState::Undone}});
    }
    out << list.dump(2) << '\n';
    return kSuccess;
  }
  // An empty list is no failure: a script asks, and is told there is none.
  if (replaces.empty()) {
    out << "No replace of " << text::DisplayName(settings.directory) << " is kept.\n";
    return kSuccess;
  }
  for (const batch::KeptReplace& replace : replaces) {
    out << messages::KeptReplaceLine(replace) << '\n';
  }
  return kSuccess;
}

// Why the open folder is not the one scheduled, if it is not: the user
// who owns the folder above a scheduled one can put another folder, or a
// link to another user's, in its place, and the scheduler's update would
// take whatever the path leads to.
std::optional<std::string> OtherFolder(schedule::FolderId scheduled, batch::Site& site,
                                       const Environment& environment) {
  const platform::Expected<platform::FileStatus> status =
      environment.disk.FolderStatus(site.Folder());
  if (!status) {
    return messages::FolderNotTold(site.Paths().sourceDir, status.error());
  }
  // By its file number alone: some file systems (btrfs, network mounts)
  // number their devices anew at every mount, and a reboot must not stop
  // the daily update. A folder put in its place has another number.
  if (status->stamp.inode == scheduled.inode) {
    return std::nullopt;
  }
  platform::FileStamp then;
  then.device = scheduled.device;
  then.inode = scheduled.inode;
  return messages::NotTheScheduledFolder(site.Paths().sourceDir, then, status->stamp);
}

// The tags that change a page within days, each on the first day it comes
// within them and on the day before, with --quiet too: cron mails the
// author what update prints. Without a state folder, or with a file of
// warnings that cannot be read or written, a warning comes again at worst.
struct ComingWarnings {
  batch::WarnedTags warned;
  std::vector<batch::ComingChange> due;
};

ComingWarnings ComingChangesDue(const batch::CheckResult& scan, text::Today today, int days,
                                const fs::path& directory, const Environment& environment) {
  ComingWarnings warnings;
  if (environment.keepIn) {
    warnings.warned = batch::WarnedTags::Load(environment.disk, *environment.keepIn, directory);
  }
  warnings.due = warnings.warned.Due(scan.tags, today, days);
  return warnings;
}

// The author opens the page at the line named after the update: a block
// removed above a tag moves it up, so the pages rewritten are read again
// (only they, and only on a day that rewrites any) for their tags' lines.
void TakeRewrittenLines(ComingWarnings& warnings, const std::vector<fs::path>& rewritten,
                        batch::Site& site, const text::TagRules& rules,
                        const Environment& environment) {
  if (rewritten.empty() || warnings.due.empty()) {
    return;
  }
  const batch::CheckResult look =
      batch::CheckPages(environment.disk, site.SharedFolder(), rewritten, rules);
  // A page that cannot be read now keeps the lines it had: the best known.
  std::set<fs::path> reread(rewritten.begin(), rewritten.end());
  for (const batch::PageLeftOut& page : look.leftOut) {
    reread.erase(page.name);
  }
  batch::TakeLinesFrom(warnings.due, reread, look.tags);
}

// Said, then kept as said: lost after it was printed, a warning comes again.
void SayComingChanges(const ComingWarnings& warnings, const fs::path& directory,
                      const Environment& environment, std::ostream& out) {
  for (const batch::ComingChange& change : warnings.due) {
    out << messages::ComingChange(change) << '\n';
  }
  if (environment.keepIn) {
    warnings.warned.Save(environment.disk, *environment.keepIn, directory);
  }
}

// A run and a replace as one command, under one lock: what cron or a timer
// starts on the day.
int Update(const Settings& settings, const Environment& environment, std::ostream& out,
           std::ostream& err) {
  // cron looks every quarter hour: all but the day's one look leave no trace.
  if (settings.onlyAt &&
      !schedule::DueAt(*settings.onlyAt, settings.zone, environment.now(), schedule::kCronLook)) {
    if (!settings.quiet) {
      out << messages::NotDue(schedule::FormatTimeOfDay(*settings.onlyAt), settings.zone) << '\n';
    }
    return kSuccess;
  }
  UpdateReport report;
  report.folder = settings.directory;
  report.recursive = settings.run.recursion == batch::Recursion::Subfolders;
  const auto finish = [&](int status) {
    report.status = status;
    if (environment.updated) {
      environment.updated(report);
    }
    return status;
  };
  platform::Expected<batch::Site, batch::SiteProblem> site =
      batch::Site::Open(environment.disk, settings.directory, settings.wait, settings.foreignSite);
  if (!site) {
    const batch::RunProblem problem = batch::RunProblemOf(site.error());
    report.problem = messages::Stopped(problem);
    err << Who(settings.command) << report.problem << '\n';
    return finish(kUsageError);
  }
  if (settings.folderId) {
    if (std::optional<std::string> problem = OtherFolder(*settings.folderId, *site, environment)) {
      report.problem = std::move(*problem);
      report.notTheScheduledFolder = true;
      err << Who(settings.command) << report.problem << '\n';
      return finish(kUsageError);
    }
  }
  // Only the pages whose text changes today are rewritten: every other page
  // keeps its bytes, its number and its times, and a day on which nothing
  // lapses writes nothing at all.
  const text::TagRules rules{settings.run.newDays, settings.run.lines, settings.run.locale,
                             settings.run.clock};
  std::optional<batch::PageIndex> index;
  if (environment.keepIn) {
    index = settings.full ? batch::PageIndex(rules)
                          : batch::PageIndex::Load(environment.disk, *environment.keepIn,
                                                   settings.directory, rules);
  }
  // A page saved within a tick before its read must be read again next
  // time: the index counts the ticks from when the reading began.
  const std::chrono::system_clock::time_point reading = std::chrono::system_clock::now();
  // The coming changes need the tags of every page that changes within
  // the days warned of: the index knows each page's next change, so only
  // those pages are read beside today's.
  const text::Today today = settings.run.clock();
  const std::optional<text::Today> readThrough =
      settings.warnDays ? std::optional(today + std::chrono::days{*settings.warnDays})
                        : std::nullopt;
  const batch::CheckResult scan =
      batch::CheckFolder(environment.disk, site->SharedFolder(), settings.run.recursion, rules,
                         index ? &*index : nullptr, readThrough);
  if (scan.folderError) {
    report.problem = messages::Stopped(
        {batch::RunProblem::Kind::CannotList, site->Paths().sourceDir, scan.folderError, {}});
    err << Who(settings.command) << report.problem << '\n';
    return finish(kUsageError);
  }
  if (index) {
    // Without it the next update reads every page again; nothing worse.
    index->Save(environment.disk, *environment.keepIn, settings.directory, reading);
  }
  // Said after the update where it rewrites pages, and before it stops
  // where it does not.
  std::optional<ComingWarnings> warnings;
  if (settings.warnDays) {
    warnings = ComingChangesDue(scan, today, *settings.warnDays, settings.directory, environment);
  }
  const auto warn = [&] {
    if (warnings) {
      SayComingChanges(*warnings, settings.directory, environment, out);
    }
  };
  batch::RunOptions options = settings.run;
  options.onlyPages = batch::PagesToRewrite(scan);
  options.keepIn = environment.keepIn;
  ConsoleFrontEnd frontEnd(err, environment, settings.quiet);
  for (const batch::PageLeftOut& page : scan.leftOut) {
    if (page.report.outcome == batch::PageOutcome::LeftAsItIs) {
      frontEnd.FileLeftOut(page.name, page.report);
    }
  }
  if (options.onlyPages->empty()) {
    warn();
    if (!settings.quiet) {
      out << messages::NothingLapsed(scan.pages) << '\n';
    }
    return finish(kSuccess);
  }
  const batch::RunResult run = batch::RunOnSite(environment.disk, *site, frontEnd, options);
  frontEnd.Done();
  for (const batch::PageLeftOut& page : run.leftOut) {
    report.leftAsTheyWere.push_back(messages::ToolLeftOut(page.name, page.report));
  }
  if (run.status != batch::RunStatus::Completed) {
    warn();
    report.problem = messages::Stopped(run.problem);
    err << Who(settings.command) << report.problem << '\n';
    return finish(kUsageError);
  }
  SayRunNotes(run, err);
  batch::ReplaceResult replaced;
  {
    ProgressLine progress(err, environment.errorIsTerminal, environment.terminalColumns);
    batch::ReplaceOptions replacing;
    replacing.progress = &progress;
    replacing.keepIn = environment.keepIn;
    // The removed lines go to the journal, not into the site.
    replacing.siteLog = batch::SiteLog::Left;
    replaced = batch::ReplaceOnSite(environment.disk, *site, replacing);
  }
  if (warnings) {
    TakeRewrittenLines(*warnings, replaced.replaced, *site, rules, environment);
    warn();
  }
  report.rewritten = replaced.replaced.size();
  const std::vector<std::string> problems = messages::ReplaceProblems(replaced);
  if (replaced.refusal != batch::ReplaceRefusal::None && !problems.empty()) {
    report.problem = problems.front();
  } else {
    report.leftAsTheyWere.insert(report.leftAsTheyWere.end(), problems.begin(), problems.end());
  }
  const int replaceStatus = SayReplaced(replaced, Told::Nothing, settings.command, out, err);
  if (!settings.quiet) {
    out << messages::Updated(replaced.replaced.size(), scan.pages,
                             run.filesLeftOut + replaced.PagesHeldBack())
        << '\n';
  }
  const bool whole = run.AllRewritten() && replaceStatus == kSuccess;
  return finish(replaceStatus == kUsageError ? kUsageError : whole ? kSuccess : kFilesLeftOut);
}

// What replaces and updates removed from the folder, from the journal in
// the user's state folder.
int Log(const Settings& settings, const Environment& environment, std::ostream& out,
        std::ostream& err) {
  platform::Expected<batch::Journal> journal =
      environment.keepIn ? batch::ReadJournal(environment.disk, *environment.keepIn,
                                              batch::PathsFor(settings.directory).sourceDir)
                         : batch::Journal{};
  if (!journal) {
    err << Who(settings.command) << messages::JournalUnread(journal.error()) << '\n';
    return kUsageError;
  }
  if (journal->damaged) {
    err << Who(settings.command) << messages::JournalDamaged() << '\n';
  }
  if (settings.json) {
    ListJournalAsJson(*journal, settings.since, out);
  } else if (!ListJournalAsText(*journal, settings.since, out)) {
    err << Who(settings.command) << messages::NothingJournaled(settings.directory, settings.since)
        << '\n';
  }
  return journal->damaged ? kFilesLeftOut : kSuccess;
}

std::string DateText(const std::optional<text::TagDate>& date) {
  return date ? text::FormatTagDate(*date) : "";
}

// Whether the tag lapses within the days asked for, or at all when none are.
bool Shown(const batch::FoundTag& tag, const Settings& settings, text::Today today) {
  if (!settings.within) {
    return true;
  }
  return tag.lapseDay && !tag.lapsed &&
         *tag.lapseDay <= today + std::chrono::days{*settings.within};
}

const char* KindName(text::DatedTagKind kind) {
  switch (kind) {
    case text::DatedTagKind::Expiry:
      break;
    case text::DatedTagKind::New:
      return "new";
    case text::DatedTagKind::Show:
      return "show";
  }
  return "expiry";
}

// A show block is hidden, then due; the other tags are current, then lapsed.
const char* StateName(const batch::FoundTag& tag) {
  if (!tag.date) {
    return "date format error";
  }
  if (tag.kind == text::DatedTagKind::Show) {
    return tag.lapsed ? "due" : "hidden";
  }
  return tag.lapsed ? "lapsed" : "current";
}

// The broken blocks go among the tags, by page and line.
void CheckAsText(const batch::CheckResult& result, const Settings& settings, text::Today today,
                 std::ostream& out) {
  auto broken = result.brokenBlocks.begin();
  const auto brokenUpTo = [&](const fs::path* page, std::uint64_t line) {
    for (; broken != result.brokenBlocks.end() &&
           (page == nullptr || std::tie(broken->page, broken->block.line) < std::tie(*page, line));
         ++broken) {
      out << messages::BrokenBlock(broken->page, broken->block) << '\n';
    }
  };
  for (const batch::FoundTag& tag : result.tags) {
    brokenUpTo(&tag.page, tag.line);
    if (!Shown(tag, settings, today)) {
      continue;
    }
    out << text::DisplayName(tag.page) << ':' << tag.line << ": ";
    if (!tag.date) {
      out << "date format error\n";
      continue;
    }
    out << KindName(tag.kind) << ' ' << DateText(tag.date) << ' ' << StateName(tag) << '\n';
  }
  brokenUpTo(nullptr, 0);
  out << "Next change: " << (result.nextChange ? text::FormatDay(*result.nextChange) : "none")
      << '\n';
}

// Dates that fit only the other order of day and month than the locale's:
// read so, but said, as the same page may hold dates read both ways.
void SayDatesInOtherOrder(const batch::CheckResult& result, text::DateOrder order,
                          std::ostream& err) {
  for (const batch::FoundTag& tag : result.tags) {
    if (tag.otherOrder && tag.date) {
      err << messages::ReadInOtherOrder(tag.page, tag.line, tag.dateText, *tag.date, order) << '\n';
    }
  }
}

// A page's name in JSON: "file", its bytes as they stand (JSON escapes a
// line feed, which the listings show as \n). A name that is no UTF-8 shows
// with replacement characters, is flagged, and carries its bytes in hex so
// that a script can still find the file.
nlohmann::json FileName(const fs::path& page) {
  const std::string name = text::PathText(page);
  nlohmann::json fields = {{"file", name}};
  if (!utf8::is_valid(name.begin(), name.end())) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : name) {
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0xF];
    }
    fields["file_not_utf8"] = true;
    fields["file_hex"] = hex;
  }
  return fields;
}

// Why a page was left out, as a word a script can test; the sentence beside
// it is for people.
const char* LeftOutCode(const batch::PageReport& report) {
  switch (report.outcome) {
    case batch::PageOutcome::DateFormatError:
      return "date_format_error";
    case batch::PageOutcome::BrokenBlock:
      return "broken_block";
    case batch::PageOutcome::LinesNotLogged:
      return "lines_not_logged";
    case batch::PageOutcome::Failed:
      switch (report.failure.action) {
        case batch::FileAction::Read:
          return "cannot_read";
        case batch::FileAction::Write:
          return "cannot_write";
        case batch::FileAction::GiveAccess:
          return "cannot_give_access";
      }
      break;
    case batch::PageOutcome::LeftAsItIs:
      switch (report.notText) {
        case batch::NotText::Compressed:
          return "compressed";
        case batch::NotText::Image:
          return "image";
        case batch::NotText::Pdf:
          return "pdf";
        case batch::NotText::Archive:
          return "archive";
        case batch::NotText::Link:
          return "link";
        case batch::NotText::Binary:
          return "binary";
      }
      break;
    case batch::PageOutcome::Rewritten:
      break;
  }
  return "other";
}

// fields, with the page's name.
nlohmann::json Named(const fs::path& page, nlohmann::json fields) {
  fields.update(FileName(page));
  return fields;
}

void CheckAsJson(const batch::CheckResult& result, const Settings& settings, text::Today today,
                 std::ostream& out) {
  using nlohmann::json;
  json tags = json::array();
  for (const batch::FoundTag& tag : result.tags) {
    if (!Shown(tag, settings, today)) {
      continue;
    }
    tags.push_back(Named(
        tag.page,
        {
            {"line", tag.line},
            {"kind", KindName(tag.kind)},
            {"date", tag.date ? json(DateText(tag.date)) : json(nullptr)},
            {"state", StateName(tag)},
            {"lapses_on", tag.lapseDay ? json(text::FormatDay(*tag.lapseDay)) : json(nullptr)},
        }));
  }
  json warnings = json::array();
  for (const batch::FoundTag& tag : result.tags) {
    if (tag.otherOrder && tag.date) {
      warnings.push_back(Named(tag.page, {{"line", tag.line},
                                          {"text", text::DisplayText(tag.dateText)},
                                          {"date", DateText(tag.date)},
                                          {"message", messages::ReadInOtherOrder(
                                                          tag.page, tag.line, tag.dateText,
                                                          *tag.date, settings.run.locale.order)}}));
    }
  }
  json leftOut = json::array();
  for (const batch::PageLeftOut& page : result.leftOut) {
    leftOut.push_back(Named(page.name, {{"code", LeftOutCode(page.report)},
                                        {"reason", messages::LeftOut(page.name, page.report)}}));
  }
  json brokenBlocks = json::array();
  for (const batch::FoundBrokenBlock& broken : result.brokenBlocks) {
    brokenBlocks.push_back(
        Named(broken.page, {{"line", broken.block.line},
                            {"message", messages::BrokenBlock(broken.page, broken.block)}}));
  }
  const json nextChange =
      result.nextChange ? json(text::FormatDay(*result.nextChange)) : json(nullptr);
  const json document = {
      {"folder", text::PathText(settings.directory)},
      {"today", text::FormatDay(today)},
      {"tags", tags},
      {"next_lapse", nextChange},
      {"next_change", nextChange},
      {"broken_blocks", brokenBlocks},
      {"left_out", leftOut},
      {"warnings", warnings},
  };
  // A name that is no UTF-8 shows with replacement characters.
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

int Check(const Settings& settings, const Environment& environment, std::ostream& out,
          std::ostream& err) {
  const batch::RunOptions& run = settings.run;
  const text::TagRules rules{run.newDays, run.lines, run.locale, run.clock};
  const batch::CheckResult result =
      batch::CheckSite(environment.disk, settings.directory, run.recursion, rules);
  if (result.folderError) {
    err << Who(settings.command)
        << messages::CannotOpenFolder(batch::PathsFor(settings.directory).sourceDir,
                                      result.folderError)
        << '\n';
    return kUsageError;
  }
  if (!settings.json) {
    for (const batch::PageLeftOut& page : result.leftOut) {
      err << messages::LeftOut(page.name, page.report) << '\n';
    }
    SayDatesInOtherOrder(result, run.locale.order, err);
  }
  const text::Today today = run.clock();
  if (settings.json) {
    CheckAsJson(result, settings, today, out);
  } else {
    CheckAsText(result, settings, today, out);
  }
  // Lapsed content, or a show block that is due, still stands in a page:
  // as git diff --exit-code, so that a script or a pull request can fail.
  const bool changes = settings.exitCode && !batch::PagesToRewrite(result).empty();
  return result.Faulty() || changes ? kFilesLeftOut : kSuccess;
}

// What an update on the day would do to the pages, as a unified diff (or
// with --stat as counts), with nothing written anywhere.
int Diff(const Settings& settings, const Environment& environment, std::ostream& out,
         std::ostream& err) {
  const batch::RunOptions& run = settings.run;
  const text::TagRules rules{run.newDays, run.lines, run.locale, run.clock};
  batch::DiffText text;
  if (!settings.stat) {
    text = [&out](std::string_view bytes) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
  }
  const batch::SiteDiff diff =
      batch::DiffSite(environment.disk, settings.directory, run.recursion, rules, text);
  if (diff.folderError) {
    err << Who(settings.command)
        << messages::CannotOpenFolder(batch::PathsFor(settings.directory).sourceDir,
                                      diff.folderError)
        << '\n';
    return kUsageError;
  }
  if (settings.stat) {
    for (const std::string& line : messages::DiffStat(diff.changed)) {
      out << line << '\n';
    }
  }
  out.flush();
  // Named as the update names them.
  for (const batch::PageLeftOut& page : diff.leftOut) {
    if (!settings.quiet || page.report.outcome != batch::PageOutcome::LeftAsItIs) {
      err << messages::ToolLeftOut(page.name, page.report) << '\n';
    }
  }
  for (const batch::PageLeftOut& page : diff.noted) {
    err << messages::LeftOut(page.name, page.report) << '\n';
  }
  return diff.Faulty() ? kFilesLeftOut : kSuccess;
}

constexpr const char* kExitCodes =
    "Exit status: 0 when every page was done, 1 when a page was left as it was or held back "
    "(each is named on the error stream), 2 when the command could not start (a mistake on "
    "the command line, a folder that cannot be used, another Lapse at work on it) or its "
    "output could not be written.";

// What stands before the command, where only --help and --version may:
// said as such, rather than as whatever the parser makes of it.
std::optional<std::string> MisplacedOption(const std::vector<std::string>& args) {
  if (args.empty() || !args.front().starts_with("-") || args.front() == "--help" ||
      args.front() == "-h" || args.front() == "--version") {
    return std::nullopt;
  }
  const std::string option = text::DisplayText(args.front());
  const auto command = std::find_if(args.begin(), args.end(), [](const std::string& arg) {
    return std::find(std::begin(kCommands), std::end(kCommands), arg) != std::end(kCommands);
  });
  if (command != args.end()) {
    return "lapse-cli: " + option + " comes before the command; options go after it: lapse-cli " +
           *command + " " + option + " ...";
  }
  if (option == "-V" || option == "-v") {
    return "lapse-cli: no option " + option + "; --version names the version";
  }
  return "lapse-cli: " + option +
         " is no command; the command comes first: lapse-cli COMMAND [OPTIONS] DIR (see "
         "lapse-cli --help)";
}

// An empty argument is never meant: --days "" would otherwise be taken as
// the default, and "" as a folder would name none.
std::optional<std::string> EmptyArgument(const std::vector<std::string>& args) {
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    const std::size_t equals = arg.find('=');
    const bool emptyValue =
        arg.starts_with("--") && equals != std::string::npos && equals + 1 == arg.size();
    if (arg.empty() || emptyValue) {
      const std::string after = emptyValue ? arg.substr(0, equals)
                                : at > 0   ? text::DisplayText(args[at - 1])
                                           : "";
      // Said by the command it was given to, as the parser's refusals are.
      const bool command = std::find(std::begin(kCommands), std::end(kCommands), args.front()) !=
                           std::end(kCommands);
      return "lapse-cli" + (command ? " " + args.front() : std::string()) + ": an empty argument" +
             (after.empty() ? "" : " after " + after) + "; give a value, or leave the option out";
    }
  }
  return std::nullopt;
}

// Output that did not reach its file or pipe (a full disk, a closed pipe)
// must not pass for a command that went well.
bool OutputWritten(const std::string& command, std::ostream& out, std::ostream& err) {
  errno = 0;
  out.flush();
  if (out) {
    return true;
  }
  const int error = errno;
  err << Who(command) << "the output could not be written"
      << (error != 0 ? ": " + std::generic_category().message(error) : std::string()) << ".\n";
  return false;
}

void AddDirectory(CLI::App& command, Options& options, const std::string& description) {
  command.add_option("DIR", options.directory, description)->type_name("");
}

void AddRecursive(CLI::App& command, Options& options) {
  command.add_flag("--recursive", options.recursive,
                   "Take the folders below DIR too (not hidden ones, links or DIR/New)");
}

void AddWait(CLI::App& command, Options& options) {
  command
      .add_option("--wait", options.wait,
                  "Wait up to SECONDS while another Lapse works on DIR (default 3)")
      ->type_name("SECONDS");
  command.add_flag("--trust-site", options.trustSite,
                   "Run as root over a folder that another user owns or may write into");
}

void AddDateOptions(CLI::App& command, Options& options) {
  command.add_option("--today", options.today, "Take this day as today")->type_name("YYYY-MM-DD");
  command
      .add_option("--time-zone", options.timeZone,
                  "Take today in this time zone (an IANA name, e.g. Europe/Berlin)")
      ->type_name("ZONE");
  AddDaysOption(command, options.removal);
  AddDateOrderOption(command, options.removal);
}

void AddRunOptions(CLI::App& command, Options& options) {
  AddDateOptions(command, options);
  AddLinesAndLogOptions(command, options.removal);
  AddRecursive(command, options);
  AddWait(command, options);
}

// The name of the command that was parsed, for messages.
std::string CommandName(CLI::App& app) {
  const std::vector<CLI::App*> parsed = app.get_subcommands();
  return parsed.empty() ? std::string() : parsed.front()->get_name();
}

// Says a parse error the way the other messages are said.
std::string Sentence(const CLI::ParseError& error, CLI::App& app,
                     const std::vector<std::string>& args) {
  const std::string command = CommandName(app);
  const std::string who = "lapse-cli" + (command.empty() ? "" : " " + command);
  const std::string help = " (see " + who + " --help)";
  const std::string what = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    // The first word after the command that it did not take.
    const auto known = std::find(args.begin(), args.end(), command);
    for (auto arg = known == args.end() ? args.begin() : known + 1; arg != args.end(); ++arg) {
      if (arg->starts_with("-") && what.find(*arg) != std::string::npos) {
        const std::string option = arg->substr(0, arg->find('='));
        return who + ": no option " + text::DisplayText(option) + help;
      }
    }
    // schedules takes no folder at all: it lists every one that is scheduled.
    if (command == "schedules") {
      return who + ": no folder here; schedules lists every scheduled folder" + help;
    }
    return who + ": one folder only" + help;
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    return command.empty() ? "lapse-cli: which command? (see lapse-cli --help)"
                           : who + ": which folder?" + help;
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    // "--quiet excludes --verbose", said the same whichever came first.
    constexpr std::string_view kExcludes = " excludes ";
    const std::size_t at = what.find(kExcludes);
    if (at != std::string::npos) {
      std::string one = what.substr(0, at);
      std::string other = what.substr(at + kExcludes.size());
      if (other < one) {
        std::swap(one, other);
      }
      return who + ": " + one + " and " + other + " exclude each other" + help;
    }
  }
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    return who + ": --date-order takes mdy, dmy or ymd" + help;
  }
  return who + ": " + what + help;
}

int RunCommand(const std::vector<std::string>& args, const Environment& environment,
               std::ostream& out, std::ostream& err) {
  if (const auto said = MisplacedOption(args)) {
    err << *said << '\n';
    return kUsageError;
  }
  if (const auto said = EmptyArgument(args)) {
    err << *said << '\n';
    return kUsageError;
  }
  CLI::App app("Removes lapsed content from the HTML files of a folder.", "lapse-cli");
  // An option given twice takes its last value, as in most tools.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // Commands take the formatter of the app when they are added.
  app.formatter(std::make_shared<HelpFormatter>(environment.outputColumns));
  app.set_version_flag("--version", kVersion);
  // On Windows "/web" is a folder here, not an option.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(kExitCodes);
  Options options;

  CLI::App* run = app.add_subcommand("run", "Write rewritten copies of DIR's pages into DIR/New");
  AddRunOptions(*run, options);
  run->add_flag("--quiet", options.quiet, "Say nothing unless something went wrong");
  AddDirectory(*run, options, "The folder whose HTML files are rewritten");

  CLI::App* replace =
      app.add_subcommand("replace", "Put the copies in DIR/New in place of the pages");
  replace->add_flag("--recursive", options.recursive,
                    "Accepted for scripts: a replace puts in place what its run made, "
                    "subfolders included");
  replace->add_flag("--quiet", options.quiet, "Say nothing unless something went wrong");
  replace
      ->add_flag("--verbose", options.verbose,
                 "Name each page replaced or left unchanged, and the log moved, before the "
                 "count")
      ->excludes("--quiet");
  AddWait(*replace, options);
  AddDirectory(*replace, options, "The folder whose pages are replaced by their copies in DIR/New");

  CLI::App* update = app.add_subcommand(
      "update", "Run and replace in one go: put every page up to date (for cron and timers)");
  AddRunOptions(*update, options);
  update->add_flag("--quiet", options.quiet,
                   "Say nothing unless something went wrong (--warn-days still names what "
                   "comes)");
  AddWarnDaysOption(*update, options.warnDays);
  update->add_flag("--full", options.full,
                   "Read every page, not only those that changed since the last update or whose "
                   "day has come");
  update
      ->add_option("--only-at", options.onlyAt,
                   "For cron, which starts update every quarter hour: do nothing unless this is "
                   "the quarter hour in which the day's update at HH:MM (in --time-zone) starts")
      ->type_name("HH:MM");
  update
      ->add_option("--folder-id", options.folderId,
                   "For scheduled updates: do nothing unless DIR is still this folder")
      ->type_name("DEVICE:INODE");
  AddDirectory(*update, options, "The folder whose pages are brought up to date");

  CLI::App* diff = app.add_subcommand(
      "diff",
      "Show what an update on the day would do to DIR's pages, as a unified diff that patch -p1 "
      "applies in DIR; nothing is written. A page compressed with gzip or in UTF-16 is named as "
      "a binary file (its removed lines still count in --stat). Exit status 0 with or without "
      "changes, 1 when the update would leave a page out");
  AddDateOptions(*diff, options);
  diff->add_option("--lines", options.removal.lines,
                   "Lines removed after a lapsed new-content tag (default 1)")
      ->type_name("N");
  CLI::Option* diffLog = diff->add_flag(
      "--log", options.removal.withLog,
      "Accepted so that an update's options can be given as they stand; nothing is logged");
  diff->add_flag("--no-log", options.removal.noLog, "Accepted as --log is")->excludes(diffLog);
  AddRecursive(*diff, options);
  diff->add_flag("--stat", options.stat,
                 "Show each page the update would change with its count of removed lines, and "
                 "a summary, instead of the diff");
  diff->add_flag("--quiet", options.quiet,
                 "Name on the error stream only pages left out for a fault, not images or links");
  AddDirectory(*diff, options, "The folder whose pages are compared; nothing is written");

  CLI::App* check = app.add_subcommand("check", "List the dated tags of DIR's HTML files");
  AddDateOptions(*check, options);
  AddRecursive(*check, options);
  check->add_flag("--json", options.json, "Write the list as JSON");
  check->add_flag("--exit-code", options.exitCode,
                  "Exit with 1 when a run on the day would change a page (content that has "
                  "lapsed, or a show block that is due), as git diff --exit-code does");
  check
      ->add_option("--within", options.within,
                   "List only the tags that lapse within DAYS days from today")
      ->type_name("DAYS");
  AddDirectory(*check, options, "The folder whose HTML files are read; nothing is written");

  CLI::App* undo = app.add_subcommand(
      "undo", "Put back the pages the last replace of DIR changed, where they are as it left them");
  undo->add_flag("--recursive", options.recursive,
                 "Accepted for scripts: an undo puts back what its replace changed, subfolders "
                 "included");
  undo->add_flag("--quiet", options.quiet, "Say nothing unless something went wrong");
  undo->add_flag("--verbose", options.verbose, "Name each page put back, before the count")
      ->excludes("--quiet");
  AddWait(*undo, options);
  AddDirectory(*undo, options, "The folder whose last replace is undone");

  CLI::App* replaces =
      app.add_subcommand("replaces", "List the replaces of DIR that are kept and can be undone");
  replaces->add_flag("--json", options.json,
                     "Write the list as JSON: time (UTC), pages, bytes and undone of each");
  AddDirectory(*replaces, options, "The folder whose kept replaces are listed");

  CLI::App* log =
      app.add_subcommand("log", "Show what replaces and updates removed from DIR, newest first");
  log->add_option("--since", options.since, "Only what was removed on this day or later")
      ->type_name("YYYY-MM-DD");
  log->add_flag("--json", options.json, "Write the removed lines as JSON");
  AddDirectory(*log, options, "The folder whose removed lines are shown");

  const ScheduleCommands scheduling(app);

  if (!args.empty() && !args.front().starts_with("-") &&
      std::find(std::begin(kCommands), std::end(kCommands), args.front()) == std::end(kCommands)) {
    err << "lapse-cli: no command '" << text::DisplayText(args.front())
        << "'; the commands are run, replace, update, diff, check, undo, replaces, log, "
           "schedule, unschedule and schedules (see lapse-cli --help)\n";
    return kUsageError;
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help, out, err);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version, out, err);
  } catch (const CLI::ParseError& error) {
    err << Sentence(error, app, args) << '\n';
    return kUsageError;
  }
  if (scheduling.Parsed()) {
    return scheduling.Run(schedule::MachineHost(), environment.locale.order, out, err);
  }
  const std::string command = CommandName(app);
  try {
    const Settings settings = Checked(command, options, environment);
    if (run->parsed()) {
      return Run(settings, environment, out, err);
    }
    if (replace->parsed()) {
      return Replace(settings, environment, out, err);
    }
    if (update->parsed()) {
      return Update(settings, environment, out, err);
    }
    if (undo->parsed()) {
      return Undo(settings, environment, out, err);
    }
    if (replaces->parsed()) {
      return Replaces(settings, environment, out);
    }
    if (log->parsed()) {
      return Log(settings, environment, out, err);
    }
    if (diff->parsed()) {
      return Diff(settings, environment, out, err);
    }
    return Check(settings, environment, out, err);
  } catch (const UsageError& error) {
    err << error.text << '\n';
    return kUsageError;
  }
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, const Environment& environment,
                   std::ostream& out, std::ostream& err) {
  const int status = RunCommand(args, environment, out, err);
  const bool command = !args.empty() && std::find(std::begin(kCommands), std::end(kCommands),
                                                  args.front()) != std::end(kCommands);
  return OutputWritten(command ? args.front() : std::string(), out, err) ? status : kUsageError;
}

}  // namespace lapse::cli
