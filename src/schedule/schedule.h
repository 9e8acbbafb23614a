// Daily updates of a folder, registered with the machine's own scheduler:
// systemd timers, the user's crontab, or Windows Task Scheduler. Each
// scheduled folder has one entry, which starts `lapse-cli update --quiet
// [--recursive] [--time-zone ZONE] --date-order ORDER [--days N] [--lines N]
// [--no-log] [--warn-days=N] --folder-id DEVICE:INODE FOLDER` every day at a time of day and
// catches up after the machine was off. The scheduler starts it with the
// system's locale, not the user's, so the entry names the date order the
// user's own commands read dates in. The
// folder's identity keeps the update to the folder that was scheduled: one
// put in its place under its path, a link to another user's folder say, is
// left as it is. The entries themselves are the
// record of what is scheduled: the unit files, the crontab's marked lines,
// and on Windows a record per task beside the history.
//
// Every start of another program goes through Host::runner; every file
// written lies under the Host's folders, which tests choose.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schedule/program_runner.h"
#include "schedule/time_of_day.h"

namespace lapse::schedule {

enum class SchedulerKind { Systemd, Cron, TaskScheduler };

// "systemd", "cron", "task-scheduler": the names --using takes.
std::string_view SchedulerName(SchedulerKind kind);
std::optional<SchedulerKind> SchedulerNamed(std::string_view name);
// The name in a sentence: "systemd", "cron", "Task Scheduler".
std::string_view SchedulerTitle(SchedulerKind kind);

#if defined(_WIN32)
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// What the schedule reaches of the machine, and where.
struct Host {
  explicit Host(ProgramRunner& programs) : runner(programs) {}

  ProgramRunner& runner;
  // The lapse-cli that the entries start: absolute.
  std::filesystem::path program;
  // systemd: root's units are the system's, a user's are the user's own.
  bool root = false;
  std::filesystem::path unitFolder;
  // Present while a systemd manager runs the machine.
  std::filesystem::path systemdRuntime = "/run/systemd/system";
  // The processes, one folder each with its "comm": where a cron daemon is
  // looked for.
  std::filesystem::path processes = "/proc";
  // Present when the user's systemd manager runs while the user is not
  // logged in (loginctl enable-linger); empty for root.
  std::filesystem::path lingerFile;
  std::filesystem::path zoneInfo = "/usr/share/zoneinfo";
  // The user's state folder: the history, and the records of the tasks.
  std::filesystem::path stateFolder;
  // Windows: Task Scheduler is the scheduler, paths are Windows paths.
  bool windows = kOnWindows;
  // Windows as wine gives it, whose Task Scheduler runs no task.
  bool wine = false;
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

// The absolute path of the program running now.
std::filesystem::path RunningProgram();
// lapse-cli beside the desktop program (or where the build tree puts it).
std::filesystem::path LapseCliBeside(const std::filesystem::path& program);

// Whether this program runs under wine.
bool UnderWine();

// This machine as lapse-cli sees it: the entries start this program.
Host MachineHost();
// This machine as the desktop program sees it: the entries start the
// lapse-cli beside it.
Host DesktopHost();

// Which folder a path led to when it was scheduled: its device, and its
// number there (platform::FileStamp's device and inode).
struct FolderId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FolderId&) const = default;
};

// "2049:1234", both numbers in decimal, and back; nothing for any other text.
std::string FolderIdText(FolderId id);
std::optional<FolderId> ParseFolderId(std::string_view text);

// The options of update that change what it removes, as the entry passes
// them on. The numbers are update's own (checked by whoever asks).
struct UpdateOptions {
  // "mdy", "dmy" or "ymd"; empty in an entry written before Lapse recorded
  // it, whose update reads dates in the scheduler's locale.
  std::string dateOrder;
  std::optional<std::int16_t> days = std::nullopt;   // --days; nothing for update's default
  std::optional<std::int16_t> lines = std::nullopt;  // --lines; nothing for update's default
  bool log = true;
  // --warn-days: the update names the tags that change a page within these
  // days; nothing names none.
  std::optional<std::int16_t> warnDays = std::nullopt;
  bool operator==(const UpdateOptions&) const = default;
};

// Why an entry that is written does not run.
enum class Idle {
  No,
  NotEnabled,     // systemd units written but their timer not enabled
  NoManager,      // no systemd manager runs the machine
  NoCronDaemon,   // no cron daemon runs to read the crontab
  LinesMissing,   // the crontab holds the settings but not the lines
  TaskMissing,    // Task Scheduler no longer has the task
  WineScheduler,  // wine's Task Scheduler keeps tasks without running them
};

// One folder's daily update as its scheduler holds it.
struct Entry {
  std::filesystem::path folder;  // absolute and canonical when it was scheduled
  // The folder's identity then; nothing for an entry written before Lapse
  // recorded it, whose update takes whatever folder the path leads to.
  std::optional<FolderId> folderId;
  TimeOfDay at = kDefaultTime;
  std::string zone;  // an IANA zone; empty for the machine's local time
  bool recursive = false;
  UpdateOptions options;
  // When it was scheduled, to the second: a day's time that passed before
  // is no missed update. Nothing for an entry written before Lapse
  // recorded it.
  std::optional<std::chrono::system_clock::time_point> scheduledAt;
  SchedulerKind scheduler = SchedulerKind::Systemd;
  // The units' name without suffix, the task's name, or the crontab mark.
  std::string name;
  // False where nothing will start the update: idle says why.
  bool enabled = true;
  Idle idle = Idle::No;
};

// What the user asked for, as typed.
struct Request {
  std::string folder;  // UTF-8
  std::string at;      // "HH:MM"; empty for 00:05
  std::string zone;    // empty for local time
  bool recursive = false;
  std::string scheduler;  // empty for the machine's own
  UpdateOptions options = {};
};

// As the commands exit: 0, 1, 2.
enum class Status { Done, Partly, Failed };

enum class Problem {
  None,
  BadTime,           // --at is no time of day
  UnknownZone,       // not in the zone database
  ZoneNotSupported,  // Task Scheduler reads local time only
  NoSuchFolder,
  NotAFolder,
  CannotOpenFolder,  // its identity could not be read
  ControlCharacter,  // the folder's name holds a line break or the like
  NotUtf8,           // the folder's name is not UTF-8 text
  PercentInName,     // Task Scheduler would expand it as a variable
  UnknownScheduler,  // --using names none of the three
  SchedulerMissing,  // --using names one this machine does not have
  NoScheduler,       // the machine has none of them
  NoProgram,         // the lapse-cli to start is not there
  CannotWrite,       // a unit file or a record could not be written
  CannotRead,        // the crontab or the unit folder could not be read
  SchedulerRefused,  // systemctl, crontab or schtasks failed
  NotScheduled,      // unschedule: the folder has no entry
  WillNotRun,        // written, but nothing starts it: the entry's idle says why
};

struct Outcome {
  Status status = Status::Done;
  Problem problem = Problem::None;
  // The path, the name or the scheduler's own words that go with problem.
  std::string detail;
  Entry entry;
  // Units written where no systemd manager runs: the commands that enable
  // them once one does.
  std::vector<std::string> enableCommands;
  // The folder's entries with other schedulers that were left in place,
  // since they run and the new one does not.
  std::vector<Entry> kept;
};

// Registers the folder's daily update, replacing any entry it had with any
// of the schedulers; where the new entry will not run (WillNotRun), an entry
// of another scheduler that does stays. Bad input registers nothing.
Outcome Schedule(const Host& host, const Request& request);
// Removes every entry of the folder, which need no longer exist.
Outcome Unschedule(const Host& host, const std::string& folder);

// What removing every entry of the user's did.
struct Clearing {
  // One per entry the schedulers listed, as Unschedule tells it: removed, or
  // why not.
  std::vector<Outcome> outcomes;
  // Schedulers that could not be read, whose entries may be left.
  std::vector<std::string> problems;
  // Done: every entry is gone, or there was none; Partly: some are gone, or
  // a scheduler could not be read; Failed: not one of them could be removed.
  Status status = Status::Done;
};
// Removes every entry of the user's with every scheduler, as before the
// program itself is removed: an entry would go on starting a lapse-cli that
// is gone.
Clearing UnscheduleAll(const Host& host);

struct Listing {
  std::vector<Entry> entries;  // by folder
  // Sources that could not be read: what was tried and why not.
  std::vector<std::string> problems;
};
Listing ListSchedules(const Host& host);
// The entry of an existing folder, when it has one; the one that runs
// where it has more.
std::optional<Entry> FindSchedule(const Host& host, const std::filesystem::path& folder);

// The scheduler a schedule takes when none is named: Task Scheduler on
// Windows; else systemd where a manager runs, cron where a cron daemon runs,
// systemd units to enable later where systemctl is, cron lines for a daemon
// to come where crontab is; nothing where none is.
std::optional<SchedulerKind> DefaultScheduler(const Host& host);

// The sentences that tell the user an outcome: a problem, or what was done.
// With the host, an entry that will not run is told how to have it run.
std::string ProblemText(const Outcome& outcome);
std::string ProblemText(const Host& host, const Outcome& outcome);
std::string DoneText(const Host& host, const Outcome& outcome);
// "every day at 00:05 (Europe/Berlin), with its subfolders"
std::string WhenText(const Entry& entry);
// The update's options as its command line gives them: "--date-order dmy
// --days=10 --no-log"; for an entry that recorded none, what it reads by.
std::string OptionsText(const Entry& entry);
// Why an entry that is not enabled does not run; empty for one that does.
std::string NotStartedText(const Entry& entry);

// A path as UTF-8 text, and back.
std::string TextOf(const std::filesystem::path& path);
std::filesystem::path PathOf(std::string_view text);

}  // namespace lapse::schedule
