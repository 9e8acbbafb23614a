// What the three schedulers have in common, for schedule.cpp: each installs,
// removes and lists the entries it holds. Not for other libraries.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "schedule/schedule.h"

namespace lapse::schedule::detail {

class Backend {
 public:
  virtual ~Backend() = default;
  // Writes the entry, replacing the one its folder had with this scheduler.
  virtual Outcome Install(const Entry& entry) = 0;
  // Removes an entry as List gave it.
  virtual Outcome Remove(const Entry& entry) = 0;
  // The entries this scheduler holds; problem says why it could not tell.
  virtual std::vector<Entry> List(std::string& problem) = 0;
};

std::unique_ptr<Backend> MakeBackend(SchedulerKind kind, const Host& host);

// Whether systemctl reaches a manager for this user.
bool SystemdManagerRuns(const Host& host);

// The entry's settings as one line of JSON, which each scheduler keeps with
// it, and back.
std::string MetadataOf(const Entry& entry);
std::optional<Entry> EntryFromMetadata(std::string_view json, SchedulerKind kind);

// Whether a cron daemon runs to read the crontab: a process named cron,
// crond or fcron. Unknown where the processes cannot be read.
enum class CronDaemon { Runs, None, Unknown };
CronDaemon CronDaemonState(const Host& host);

// update's options as arguments: [--date-order ORDER] [--days=N]
// [--lines=N] [--no-log].
std::vector<std::string> OptionArguments(const UpdateOptions& options);

// update's arguments for the entry: update --quiet [--recursive]
// [--time-zone ZONE] [OPTIONS] [--only-at HH:MM] [--folder-id DEVICE:INODE] FOLDER,
// --only-at where the scheduler starts update more often than once a day
// and update itself tells the start.
enum class Looks { Daily, Often };
std::vector<std::string> UpdateArguments(const Entry& entry, Looks looks = Looks::Daily);

// Writes content under a temporary name beside path, syncs it and renames it
// over path (WriteFileDurably).
std::error_code WriteFileAtomically(const std::filesystem::path& path, const std::string& content);
// Makes folder where it is missing and writes each file (its name in folder,
// its content) there atomically, in order. Empty once all are written, else
// the folder and the system's words: "FOLDER: words".
std::string WriteFilesIn(const std::filesystem::path& folder,
                         const std::vector<std::pair<std::string, std::string>>& files);
std::optional<std::string> ReadFileText(const std::filesystem::path& path);

// outcome, with the problem and the detail that go with it.
Outcome Failed(Outcome outcome, Problem problem, std::string detail,
               Status status = Status::Failed);

// The scheduler's own words for a failed command, on one line.
std::string CommandFailure(const std::string& command, const ProgramResult& result);

}  // namespace lapse::schedule::detail
