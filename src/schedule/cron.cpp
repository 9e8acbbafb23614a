// cron: lines in the user's crontab, read and written only through the
// crontab command. Each scheduled folder has three lines that end in or
// start with its mark, "# lapse-schedule" and the folder's fingerprint, so
// that they can be found, replaced and removed while every other line of the
// user's crontab stays as it was:
//
//   # lapse-schedule 1f0c...e2 {"folder":"/srv/site","at":"00:05",...}
//   5 0 * * * '/usr/bin/lapse-cli' update --quiet '/srv/site' # lapse-schedule 1f0c...e2
//   @reboot '/usr/bin/lapse-cli' update --quiet '/srv/site' # lapse-schedule 1f0c...e2
//
// The @reboot line is the catch-up after the machine was off at the time.
// Debian's cron reads times in the machine's zone only, where it runs a
// fixed time that a change of the clocks skips right after the change, and
// one they repeat once. For another zone the line runs at each quarter hour
// that can be that zone's minute, with --only-at: update itself starts the
// update at the first of them at or after the zone's time (DueAt), so that
// it runs once on every day, the days the zone's clocks change included:
//
//   5,20,35,50 * * * * '/usr/bin/lapse-cli' update --quiet --time-zone Europe/Berlin
//       --only-at 00:05 '/srv/site' # lapse-schedule 1f0c...e2
#include <algorithm>
#include <set>
#include <sstream>

#include "schedule/backend.h"
#include "schedule/names.h"

namespace lapse::schedule::detail {

namespace {

constexpr std::string_view kMark = "# lapse-schedule ";
constexpr size_t kIdLength = 16;

bool IsId(std::string_view text) {
  return text.size() == kIdLength && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The fingerprint the line carries as Lapse's, if it does: at its start
// (the settings line) or its end (the lines that run).
std::optional<std::string> IdOf(std::string_view line) {
  if (line.rfind(kMark, 0) == 0) {
    const std::string_view id = line.substr(kMark.size(), kIdLength);
    if (IsId(id) &&
        (line.size() == kMark.size() + kIdLength || line[kMark.size() + kIdLength] == ' ')) {
      return std::string(id);
    }
  }
  const std::string suffix = " " + std::string(kMark);
  if (line.size() >= suffix.size() + kIdLength) {
    const std::string_view tail = line.substr(line.size() - suffix.size() - kIdLength);
    if (tail.substr(0, suffix.size()) == suffix && IsId(tail.substr(suffix.size()))) {
      return std::string(tail.substr(suffix.size()));
    }
  }
  return std::nullopt;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

class Cron final : public Backend {
 public:
  explicit Cron(const Host& host) : host_(host) {}

  Outcome Install(const Entry& given) override {
    Outcome outcome;
    outcome.entry = given;
    Entry& entry = outcome.entry;
    entry.name = Fingerprint(TextOf(entry.folder));
    std::string failure;
    const std::optional<std::vector<std::string>> lines = Read(failure);
    if (!lines) {
      return Failed(outcome, Problem::CannotRead, failure);
    }
    std::vector<std::string> kept = Without(*lines, entry.name);
    const std::string mark = std::string(" ").append(kMark).append(entry.name);
    kept.push_back(std::string(kMark) + entry.name + " " + MetadataOf(entry));
    kept.push_back(Times(entry) + " " +
                   Command(entry, entry.zone.empty() ? Looks::Daily : Looks::Often) + mark);
    kept.push_back("@reboot " + Command(entry, Looks::Daily) + mark);
    if (std::string written = Write(kept); !written.empty()) {
      return Failed(outcome, Problem::SchedulerRefused, written);
    }
    // crontab writes the lines whether or not a daemon will read them.
    if (CronDaemonState(host_) == CronDaemon::None) {
      entry.enabled = false;
      entry.idle = Idle::NoCronDaemon;
      outcome.status = Status::Partly;
      outcome.problem = Problem::WillNotRun;
    }
    return outcome;
  }

  Outcome Remove(const Entry& entry) override {
    Outcome outcome;
    outcome.entry = entry;
    std::string failure;
    const std::optional<std::vector<std::string>> lines = Read(failure);
    if (!lines) {
      return Failed(outcome, Problem::CannotRead, failure);
    }
    if (std::string written = Write(Without(*lines, entry.name)); !written.empty()) {
      return Failed(outcome, Problem::SchedulerRefused, written);
    }
    return outcome;
  }

  std::vector<Entry> List(std::string& problem) override {
    std::vector<Entry> entries;
    const std::optional<std::vector<std::string>> lines = Read(problem);
    if (!lines) {
      return entries;
    }
    const bool daemon = CronDaemonState(host_) != CronDaemon::None;
    std::set<std::string> running;
    for (const std::string& line : *lines) {
      if (line.rfind(kMark, 0) != 0) {
        if (const std::optional<std::string> id = IdOf(line)) {
          running.insert(*id);
        }
      }
    }
    for (const std::string& line : *lines) {
      const std::optional<std::string> id = IdOf(line);
      if (!id || line.rfind(kMark, 0) != 0 || line.size() <= kMark.size() + kIdLength + 1) {
        continue;
      }
      std::optional<Entry> entry = EntryFromMetadata(
          std::string_view(line).substr(kMark.size() + kIdLength + 1), SchedulerKind::Cron);
      if (entry) {
        entry->name = *id;
        entry->idle = running.count(*id) == 0 ? Idle::LinesMissing
                      : !daemon               ? Idle::NoCronDaemon
                                              : Idle::No;
        entry->enabled = entry->idle == Idle::No;
        entries.push_back(std::move(*entry));
      }
    }
    return entries;
  }

 private:
  static std::vector<std::string> Without(const std::vector<std::string>& lines,
                                          const std::string& id) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&](const std::string& line) { return IdOf(line) != id; });
    return kept;
  }

  // The crontab's lines; nothing, with why, when crontab could not say.
  std::optional<std::vector<std::string>> Read(std::string& failure) const {
    const ProgramResult result = host_.runner.Run("crontab", {"-l"}, {});
    if (result.started && result.status == 0) {
      return Lines(result.output);
    }
    // A user without a crontab yet.
    if (result.started && result.errors.find("no crontab for") != std::string::npos) {
      return std::vector<std::string>{};
    }
    failure = CommandFailure("crontab -l", result);
    return std::nullopt;
  }

  std::string Write(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) {
      text += line + "\n";
    }
    const ProgramResult result = host_.runner.Run("crontab", {"-"}, text);
    return result.started && result.status == 0 ? std::string()
                                                : CommandFailure("crontab -", result);
  }

  std::string Command(const Entry& entry, Looks looks) const {
    std::string command = CronShellWord(TextOf(host_.program));
    for (const std::string& arg : UpdateArguments(entry, looks)) {
      command += ' ';
      command += CronShellWord(arg);
    }
    return command;
  }

  // The minute and hour fields; in another zone, every quarter hour whose
  // minute can be the zone's (zones differ by whole quarter hours).
  static std::string Times(const Entry& entry) {
    if (entry.zone.empty()) {
      return std::to_string(entry.at.minute) + " " + std::to_string(entry.at.hour) + " * * *";
    }
    std::set<int> minutes;
    for (int quarter = 0; quarter < 4; ++quarter) {
      minutes.insert((entry.at.minute + quarter * 15) % 60);
    }
    std::string field;
    for (const int minute : minutes) {
      if (!field.empty()) {
        field += ',';
      }
      field += std::to_string(minute);
    }
    return field + " * * * *";
  }

  const Host& host_;
};

}  // namespace

std::unique_ptr<Backend> MakeCronBackend(const Host& host) {
  return std::make_unique<Cron>(host);
}

}  // namespace lapse::schedule::detail
