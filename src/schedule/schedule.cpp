#include "schedule/schedule.h"

#include <algorithm>
#include <charconv>

#include "platform/disk.h"
#include "schedule/backend.h"
#include "schedule/names.h"
#include "text/names.h"

namespace lapse::schedule {

namespace detail {
std::unique_ptr<Backend> MakeSystemdBackend(const Host& host);
std::unique_ptr<Backend> MakeCronBackend(const Host& host);
std::unique_ptr<Backend> MakeTaskSchedulerBackend(const Host& host);

std::unique_ptr<Backend> MakeBackend(SchedulerKind kind, const Host& host) {
  switch (kind) {
    case SchedulerKind::Systemd:
      return MakeSystemdBackend(host);
    case SchedulerKind::Cron:
      return MakeCronBackend(host);
    case SchedulerKind::TaskScheduler:
      return MakeTaskSchedulerBackend(host);
  }
  return nullptr;
}
}  // namespace detail

namespace {

namespace fs = std::filesystem;

constexpr SchedulerKind kAllKinds[] = {SchedulerKind::Systemd, SchedulerKind::Cron,
                                       SchedulerKind::TaskScheduler};

// The program each scheduler is reached through.
const char* ProgramOf(SchedulerKind kind) {
  switch (kind) {
    case SchedulerKind::Systemd:
      return "systemctl";
    case SchedulerKind::Cron:
      return "crontab";
    case SchedulerKind::TaskScheduler:
      return "schtasks";
  }
  return "";
}

bool Has(const Host& host, SchedulerKind kind) {
  // Task Scheduler is Windows's alone; systemd and cron are not there.
  if ((kind == SchedulerKind::TaskScheduler) != host.windows) {
    return false;
  }
  return host.runner.Has(ProgramOf(kind));
}

// Where a scheduler may hold entries: systemd's unit files are read without
// systemctl.
bool MayHoldEntries(const Host& host, SchedulerKind kind) {
  return Has(host, kind) || (kind == SchedulerKind::Systemd && !host.windows);
}

Outcome Fail(Problem problem, std::string detail = {}) {
  Outcome outcome;
  outcome.status = Status::Failed;
  outcome.problem = problem;
  outcome.detail = std::move(detail);
  return outcome;
}

struct Folder {
  fs::path path;
  Problem problem = Problem::None;
};

// The folder made absolute and canonical, so that one folder has one name
// however it was typed.
Folder ExistingFolder(const std::string& text) {
  std::error_code error;
  const fs::path given = PathOf(text);
  const fs::file_status status = fs::status(given, error);
  if (!fs::exists(status)) {
    return {given, Problem::NoSuchFolder};
  }
  if (!fs::is_directory(status)) {
    return {given, Problem::NotAFolder};
  }
  fs::path canonical = fs::canonical(fs::absolute(given, error), error);
  if (error) {
    return {given, Problem::NoSuchFolder};
  }
  return {canonical, Problem::None};
}

// A folder that may be gone: canonical as far as it still exists.
fs::path LooseFolder(const std::string& text) {
  std::error_code error;
  fs::path absolute = fs::absolute(PathOf(text), error);
  fs::path canonical = fs::weakly_canonical(absolute, error);
  fs::path folder = error ? absolute.lexically_normal() : canonical;
  if (!folder.has_filename() && folder.has_relative_path()) {
    folder = folder.parent_path();
  }
  return folder;
}

// The folder's identity, read from the folder itself once it is open; the
// path and the system's reason where it cannot be.
platform::Expected<FolderId, std::string> IdentityOf(const fs::path& folder) {
  platform::Disk& disk = platform::MachineDisk();
  const fs::path path = folder.native() + fs::path::string_type(1, fs::path::preferred_separator);
  platform::Expected<std::unique_ptr<platform::Folder>> opened = disk.OpenFolder(path);
  if (!opened) {
    return TextOf(folder) + ": " + opened.error().message();
  }
  const platform::Expected<platform::FileStatus> status = disk.FolderStatus(**opened);
  if (!status) {
    return TextOf(folder) + ": " + status.error().message();
  }
  return FolderId{status->stamp.device, status->stamp.inode};
}

Problem NameProblem(const Host& host, const fs::path& path) {
  const std::string text = TextOf(path);
  switch (CheckFolderName(text)) {
    case NameFault::ControlCharacter:
      return Problem::ControlCharacter;
    case NameFault::NotUtf8:
      return Problem::NotUtf8;
    case NameFault::None:
      break;
  }
  // Task Scheduler expands %NAME% in a task's command and arguments, and has
  // no escape for it.
  if (host.windows && text.find('%') != std::string::npos) {
    return Problem::PercentInName;
  }
  return Problem::None;
}

std::vector<Entry> EntriesOf(const Host& host, const fs::path& folder) {
  std::vector<Entry> found;
  for (const Entry& entry : ListSchedules(host).entries) {
    if (entry.folder == folder) {
      found.push_back(entry);
    }
  }
  return found;
}

}  // namespace

std::string_view SchedulerName(SchedulerKind kind) {
  switch (kind) {
    case SchedulerKind::Systemd:
      return "systemd";
    case SchedulerKind::Cron:
      return "cron";
    case SchedulerKind::TaskScheduler:
      return "task-scheduler";
  }
  return "";
}

std::string_view SchedulerTitle(SchedulerKind kind) {
  return kind == SchedulerKind::TaskScheduler ? "Task Scheduler" : SchedulerName(kind);
}

std::optional<SchedulerKind> SchedulerNamed(std::string_view name) {
  for (const SchedulerKind kind : kAllKinds) {
    if (SchedulerName(kind) == name) {
      return kind;
    }
  }
  return std::nullopt;
}

std::string FolderIdText(FolderId id) {
  return std::to_string(id.device) + ":" + std::to_string(id.inode);
}

std::optional<FolderId> ParseFolderId(std::string_view text) {
  const auto number = [](std::string_view digits) -> std::optional<std::uint64_t> {
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end) {
      return std::nullopt;
    }
    return value;
  };
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> device = number(text.substr(0, colon));
  const std::optional<std::uint64_t> inode = number(text.substr(colon + 1));
  if (!device || !inode) {
    return std::nullopt;
  }
  return FolderId{*device, *inode};
}

std::string TextOf(const fs::path& path) {
  return text::PathText(path);
}

fs::path PathOf(std::string_view text) {
  return text::PathFromText(text).make_preferred();
}

std::optional<SchedulerKind> DefaultScheduler(const Host& host) {
  if (host.windows) {
    return Has(host, SchedulerKind::TaskScheduler) ? std::optional(SchedulerKind::TaskScheduler)
                                                   : std::nullopt;
  }
  const bool systemctl = Has(host, SchedulerKind::Systemd);
  const bool crontab = Has(host, SchedulerKind::Cron);
  if (systemctl && detail::SystemdManagerRuns(host)) {
    return SchedulerKind::Systemd;
  }
  if (crontab && detail::CronDaemonState(host) != detail::CronDaemon::None) {
    return SchedulerKind::Cron;
  }
  // Neither runs now: the entry waits for a manager, or for a daemon.
  if (systemctl) {
    return SchedulerKind::Systemd;
  }
  if (crontab) {
    return SchedulerKind::Cron;
  }
  return std::nullopt;
}

Outcome Schedule(const Host& host, const Request& request) {
  Entry entry;
  entry.recursive = request.recursive;
  entry.options = request.options;
  entry.scheduledAt = std::chrono::time_point_cast<std::chrono::seconds>(host.now());
  if (!request.at.empty()) {
    const std::optional<TimeOfDay> at = ParseTimeOfDay(request.at);
    if (!at) {
      return Fail(Problem::BadTime, request.at);
    }
    entry.at = *at;
  }
  std::optional<SchedulerKind> kind;
  if (request.scheduler.empty()) {
    kind = DefaultScheduler(host);
    if (!kind) {
      return Fail(Problem::NoScheduler);
    }
  } else {
    kind = SchedulerNamed(request.scheduler);
    if (!kind) {
      return Fail(Problem::UnknownScheduler, request.scheduler);
    }
    if (!Has(host, *kind)) {
      return Fail(Problem::SchedulerMissing, request.scheduler);
    }
  }
  entry.scheduler = *kind;
  if (!request.zone.empty()) {
    if (*kind == SchedulerKind::TaskScheduler) {
      return Fail(Problem::ZoneNotSupported, request.zone);
    }
    if (!KnownZone(request.zone, host.zoneInfo)) {
      return Fail(Problem::UnknownZone, request.zone);
    }
    entry.zone = request.zone;
  }
  const Folder folder = ExistingFolder(request.folder);
  if (folder.problem != Problem::None) {
    return Fail(folder.problem, request.folder);
  }
  entry.folder = folder.path;
  if (const Problem problem = NameProblem(host, entry.folder); problem != Problem::None) {
    return Fail(problem, TextOf(entry.folder));
  }
  const platform::Expected<FolderId, std::string> identity = IdentityOf(entry.folder);
  if (!identity) {
    return Fail(Problem::CannotOpenFolder, identity.error());
  }
  entry.folderId = *identity;
  std::error_code error;
  if (!fs::is_regular_file(host.program, error)) {
    return Fail(Problem::NoProgram, TextOf(host.program));
  }
  if (const Problem problem = NameProblem(host, host.program); problem != Problem::None) {
    return Fail(problem, TextOf(host.program));
  }

  // One entry per folder: one with another scheduler goes once this one is
  // in, unless it runs and this one will not.
  const std::vector<Entry> before = EntriesOf(host, entry.folder);
  Outcome outcome = detail::MakeBackend(*kind, host)->Install(entry);
  if (outcome.status == Status::Failed) {
    return outcome;
  }
  const bool runs = outcome.problem != Problem::WillNotRun;
  for (const Entry& old : before) {
    if (old.scheduler == *kind) {
      continue;
    }
    if (!runs && old.enabled) {
      outcome.kept.push_back(old);
      continue;
    }
    const Outcome removed = detail::MakeBackend(old.scheduler, host)->Remove(old);
    if (removed.status != Status::Done && outcome.status == Status::Done) {
      outcome.status = Status::Partly;
      outcome.problem = removed.problem;
      outcome.detail = removed.detail;
    }
  }
  return outcome;
}

Outcome Unschedule(const Host& host, const std::string& folderText) {
  const fs::path folder = LooseFolder(folderText);
  const std::vector<Entry> entries = EntriesOf(host, folder);
  if (entries.empty()) {
    Outcome none = Fail(Problem::NotScheduled, TextOf(folder));
    none.entry.folder = folder;
    return none;
  }
  Outcome outcome;
  outcome.entry = entries.front();
  for (const Entry& entry : entries) {
    const Outcome removed = detail::MakeBackend(entry.scheduler, host)->Remove(entry);
    if (removed.status != Status::Done && outcome.problem == Problem::None) {
      outcome.status = removed.status;
      outcome.problem = removed.problem;
      outcome.detail = removed.detail;
    }
  }
  return outcome;
}

Clearing UnscheduleAll(const Host& host) {
  Clearing clearing;
  Listing listing = ListSchedules(host);
  clearing.problems = std::move(listing.problems);
  bool removedAny = false;
  for (const Entry& entry : listing.entries) {
    Outcome removed = detail::MakeBackend(entry.scheduler, host)->Remove(entry);
    removedAny = removedAny || removed.status != Status::Failed;
    if (removed.status != Status::Done) {
      clearing.status = Status::Partly;
    }
    clearing.outcomes.push_back(std::move(removed));
  }
  if (!clearing.problems.empty()) {
    clearing.status = Status::Partly;
  }
  if (!clearing.outcomes.empty() && !removedAny) {
    clearing.status = Status::Failed;
  }
  return clearing;
}

Listing ListSchedules(const Host& host) {
  Listing listing;
  for (const SchedulerKind kind : kAllKinds) {
    if (!MayHoldEntries(host, kind)) {
      continue;
    }
    std::string problem;
    std::vector<Entry> entries = detail::MakeBackend(kind, host)->List(problem);
    listing.entries.insert(listing.entries.end(), entries.begin(), entries.end());
    if (!problem.empty()) {
      listing.problems.push_back(problem);
    }
  }
  std::stable_sort(listing.entries.begin(), listing.entries.end(),
                   [](const Entry& a, const Entry& b) { return a.folder < b.folder; });
  return listing;
}

std::optional<Entry> FindSchedule(const Host& host, const fs::path& folder) {
  std::error_code error;
  const fs::path canonical = fs::canonical(folder, error);
  const std::vector<Entry> entries = EntriesOf(host, error ? folder : canonical);
  if (entries.empty()) {
    return std::nullopt;
  }
  const auto running = std::find_if(entries.begin(), entries.end(),
                                    [](const Entry& entry) { return entry.enabled; });
  return running != entries.end() ? *running : entries.front();
}

std::string WhenText(const Entry& entry) {
  std::string text = "every day at " + FormatTimeOfDay(entry.at);
  if (!entry.zone.empty()) {
    text += " (" + entry.zone + ")";
  }
  if (entry.recursive) {
    text += ", with its subfolders";
  }
  return text;
}

std::string OptionsText(const Entry& entry) {
  const UpdateOptions& options = entry.options;
  if (options == UpdateOptions{}) {
    return "none recorded (dates are read in the order of the scheduler's locale)";
  }
  std::string text;
  for (const std::string& arg : detail::OptionArguments(options)) {
    text += (text.empty() ? "" : " ") + arg;
  }
  if (options.dateOrder.empty()) {
    text += " (dates are read in the order of the scheduler's locale)";
  }
  return text;
}

std::string NotStartedText(const Entry& entry) {
  if (entry.enabled) {
    return {};
  }
  switch (entry.idle) {
    case Idle::No:
    case Idle::NotEnabled:
      break;
    case Idle::NoManager:
      return "not started: no systemd manager runs here";
    case Idle::NoCronDaemon:
      return "not started: no cron daemon runs on this machine";
    case Idle::LinesMissing:
      return "not started: the crontab holds its settings but not its lines; schedule it again";
    case Idle::TaskMissing:
      return "not started: Task Scheduler no longer has its task; schedule it again";
    case Idle::WineScheduler:
      return "not started: wine's Task Scheduler keeps the task but runs no task";
  }
  return "not started: its units are written, but their timer is not enabled (no systemd "
         "manager ran when it was scheduled)";
}

namespace {

// Why a written entry will not run, and how to have it run.
std::string WillNotRunText(const Host& host, const Outcome& outcome) {
  const Entry& entry = outcome.entry;
  std::string text;
  switch (entry.idle) {
    case Idle::NoCronDaemon:
      text =
          "The entry is written, but no cron daemon runs on this machine: nothing will start "
          "it. Start cron (as root: systemctl enable --now cron)";
      text += Has(host, SchedulerKind::Systemd) && detail::SystemdManagerRuns(host)
                  ? " or schedule with --using systemd."
                  : ".";
      break;
    case Idle::WineScheduler:
      text =
          "The task is written, but wine's Task Scheduler keeps tasks without running them: "
          "nothing will start it. Schedule the update on the system that wine runs on.";
      break;
    default:
      text = "The units are written to " + TextOf(host.unitFolder) +
             ", but no systemd manager runs here: nothing will start them.";
      if (!outcome.enableCommands.empty()) {
        text += " Once one runs, start them with:";
        for (const std::string& command : outcome.enableCommands) {
          text += "\n  " + command;
        }
      }
      break;
  }
  for (const Entry& kept : outcome.kept) {
    text += "\nThe folder's entry with " + std::string(SchedulerTitle(kept.scheduler)) + " (" +
            kept.name + ") stays, and updates it " + WhenText(kept) + ".";
  }
  return text;
}

}  // namespace

std::string ProblemText(const Host& host, const Outcome& outcome) {
  if (outcome.problem == Problem::WillNotRun) {
    return WillNotRunText(host, outcome);
  }
  return ProblemText(outcome);
}

std::string ProblemText(const Outcome& outcome) {
  const std::string& detail = outcome.detail;
  switch (outcome.problem) {
    case Problem::None:
      return {};
    case Problem::WillNotRun:
      return "Written, but " + NotStartedText(outcome.entry) + ".";
    case Problem::BadTime:
      return "'" + detail +
             "' is no time of day: give it as HH:MM, from 00:00 to 23:59 (07:30, say).";
    case Problem::UnknownZone:
      return "'" + detail +
             "' is no time zone that this system knows: give a name of the zone database, such "
             "as Europe/Berlin or UTC.";
    case Problem::ZoneNotSupported:
      return "Task Scheduler starts tasks in this computer's time zone only; leave out "
             "--time-zone.";
    case Problem::NoSuchFolder:
      return "The folder " + detail + " does not exist.";
    case Problem::NotAFolder:
      return detail + " is a file, not a folder.";
    case Problem::CannotOpenFolder:
      return "Cannot open the folder " + detail + ".";
    case Problem::ControlCharacter:
      return "The name " + ShownName(detail) +
             " holds a line break or another control character, which no scheduler can be given "
             "safely; rename the folder to schedule it.";
    case Problem::NotUtf8:
      return "The name " + ShownName(detail) +
             " is not UTF-8 text, which the schedulers' files must be; rename the folder to "
             "schedule it.";
    case Problem::PercentInName:
      return "Task Scheduler would read the % in " + detail +
             " as part of an environment variable; rename the folder to schedule it.";
    case Problem::UnknownScheduler:
      return "'" + detail + "' is no scheduler: use systemd, cron or task-scheduler.";
    case Problem::SchedulerMissing:
      return detail == "task-scheduler"
                 ? std::string("Task Scheduler is Windows's; this machine does not have it.")
                 : "This machine does not have " + detail + " (" +
                       ProgramOf(*SchedulerNamed(detail)) + " is not on the PATH).";
    case Problem::NoScheduler:
      return "This machine has no scheduler that Lapse can use: neither systemctl nor crontab "
             "is on the PATH.";
    case Problem::NoProgram:
      return "lapse-cli is not at " + detail + ", where the schedule would start it.";
    case Problem::CannotWrite:
      return "Cannot write " + detail + ".";
    case Problem::CannotRead:
      return "Cannot read the schedule: " + detail + ".";
    case Problem::SchedulerRefused:
      // The scheduler's own words may end their sentence already.
      return detail.ends_with('.') ? detail : detail + ".";
    case Problem::NotScheduled:
      return detail + " is not scheduled; lapse-cli schedules lists what is.";
  }
  return {};
}

std::string DoneText(const Host& host, const Outcome& outcome) {
  const Entry& entry = outcome.entry;
  const std::string by = std::string(SchedulerTitle(entry.scheduler)) + " (" + entry.name + ")";
  if (outcome.problem == Problem::WillNotRun) {
    return "Written, not started: the daily update of " + TextOf(entry.folder) + ", " +
           WhenText(entry) + ", with " + by + ".\nOptions: " + OptionsText(entry) + ".";
  }
  std::string text = "Scheduled: " + TextOf(entry.folder) + " is updated " + WhenText(entry) +
                     ", by " + by + ".\nOptions: " + OptionsText(entry) + ".";
  text += "\nNext update: " + NextDailyStart(entry.at, entry.zone, host.now()).text +
          (entry.zone.empty() ? "" : " " + entry.zone) + ".";
  std::error_code error;
  if (entry.scheduler == SchedulerKind::Systemd && !host.lingerFile.empty() &&
      !fs::exists(host.lingerFile, error)) {
    text +=
        "\nA user's timers run while the user's systemd manager does: while you are logged in "
        "(a missed update runs when you log in). `loginctl enable-linger` keeps it running.";
  }
  return text;
}

}  // namespace lapse::schedule
