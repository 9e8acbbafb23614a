// systemd: a .timer that starts a oneshot .service every day, Persistent so
// that a start missed while the machine was off happens at the next boot.
// systemd lets a day pass whose clocks skip the time (02:30 on the day they
// go from 02:00 to 03:00), so the timer names those days of the next years
// too, each with the moment that takes the time's place (SkippedStarts): a
// schedule written again reaches further. A time the clocks repeat, systemd
// starts once, at its first occurrence.
#include "schedule/backend.h"
#include "schedule/names.h"

namespace lapse::schedule::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMark = "# lapse-schedule ";
// How far ahead the timer names the days whose clocks skip its time.
constexpr std::chrono::days kSkippedDaysAhead{10 * 366};

class Systemd final : public Backend {
 public:
  explicit Systemd(const Host& host) : host_(host) {}

  Outcome Install(const Entry& given) override {
    Outcome outcome;
    outcome.entry = given;
    Entry& entry = outcome.entry;
    entry.name = UnitBaseName(TextOf(entry.folder));
    if (std::string failure = WriteFilesIn(
            host_.unitFolder,
            {{entry.name + ".service", Service(entry)}, {entry.name + ".timer", Timer(entry)}});
        !failure.empty()) {
      return Failed(outcome, Problem::CannotWrite, std::move(failure));
    }
    const std::string timer = entry.name + ".timer";
    if (!SystemdManagerRuns(host_)) {
      entry.enabled = false;
      entry.idle = Idle::NoManager;
      if (!Enabled(entry.name)) {
        outcome.enableCommands = {Command({"daemon-reload"}),
                                  Command({"enable", "--now", ShellWord(timer)})};
      }
      outcome.status = Status::Partly;
      outcome.problem = Problem::WillNotRun;
      return outcome;
    }
    // A timer that runs already takes its new time of day on its restart.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"daemon-reload"}, {"enable", timer}, {"restart", timer}}) {
      if (std::string failure = Systemctl(args); !failure.empty()) {
        entry.enabled = Enabled(entry.name);
        entry.idle = entry.enabled ? Idle::No : Idle::NotEnabled;
        return Failed(outcome, Problem::SchedulerRefused, failure, Status::Partly);
      }
    }
    return outcome;
  }

  Outcome Remove(const Entry& entry) override {
    Outcome outcome;
    outcome.entry = entry;
    std::string failure;
    const bool manager = SystemdManagerRuns(host_);
    if (manager) {
      failure = Systemctl({"disable", "--now", entry.name + ".timer"});
    }
    std::error_code error;
    // The link that enabling made where no manager removed it.
    fs::remove(host_.unitFolder / "timers.target.wants" / (entry.name + ".timer"), error);
    for (const char* suffix : {".timer", ".service"}) {
      std::error_code removeError;
      fs::remove(host_.unitFolder / (entry.name + suffix), removeError);
      if (removeError && !error) {
        error = removeError;
      }
    }
    if (error) {
      return Failed(outcome, Problem::CannotWrite,
                    TextOf(host_.unitFolder / entry.name) + ": " + error.message(), Status::Failed);
    }
    if (manager && failure.empty()) {
      failure = Systemctl({"daemon-reload"});
    }
    if (!failure.empty()) {
      return Failed(outcome, Problem::SchedulerRefused, failure, Status::Partly);
    }
    return outcome;
  }

  std::vector<Entry> List(std::string& problem) override {
    std::vector<Entry> entries;
    std::error_code error;
    if (!fs::exists(host_.unitFolder, error)) {
      return entries;
    }
    // Without a manager on the machine no timer starts, enabled or not.
    const bool booted = fs::exists(host_.systemdRuntime, error);
    fs::directory_iterator units(host_.unitFolder, error);
    for (; !error && units != fs::directory_iterator(); units.increment(error)) {
      const std::string file = TextOf(units->path().filename());
      if (file.rfind(kUnitPrefix, 0) != 0 || units->path().extension() != ".timer") {
        continue;
      }
      const std::optional<std::string> text = ReadFileText(units->path());
      const size_t mark = text ? text->find(kMark) : std::string::npos;
      if (mark == std::string::npos) {
        continue;
      }
      const size_t end = text->find('\n', mark);
      std::optional<Entry> entry = EntryFromMetadata(
          std::string_view(*text).substr(mark + kMark.size(), end - mark - kMark.size()),
          SchedulerKind::Systemd);
      if (entry) {
        entry->name = TextOf(units->path().stem());
        entry->idle = !Enabled(entry->name) ? Idle::NotEnabled
                      : !booted             ? Idle::NoManager
                                            : Idle::No;
        entry->enabled = entry->idle == Idle::No;
        entries.push_back(std::move(*entry));
      }
    }
    if (error) {
      problem = TextOf(host_.unitFolder) + ": " + error.message();
    }
    return entries;
  }

 private:
  // Enabled: the link that `enable` makes beside the units.
  bool Enabled(const std::string& name) const {
    std::error_code error;
    return fs::is_symlink(host_.unitFolder / "timers.target.wants" / (name + ".timer"), error) ||
           fs::exists(host_.unitFolder / "timers.target.wants" / (name + ".timer"), error);
  }

  std::vector<std::string> Scope() const {
    return host_.root ? std::vector<std::string>{} : std::vector<std::string>{"--user"};
  }

  std::string Command(const std::vector<std::string>& args) const {
    std::string command = "systemctl";
    for (const std::string& arg : Scope()) {
      command += " " + arg;
    }
    for (const std::string& arg : args) {
      command += " " + arg;
    }
    return command;
  }

  // Empty when systemctl did it; else what it said.
  std::string Systemctl(const std::vector<std::string>& args) const {
    std::vector<std::string> all = Scope();
    all.insert(all.end(), args.begin(), args.end());
    const ProgramResult result = host_.runner.Run("systemctl", all, {});
    if (result.started && result.status == 0) {
      return {};
    }
    return CommandFailure(Command(args), result);
  }

  static std::string Header() {
    return "# Written by lapse-cli schedule; lapse-cli unschedule removes it.\n";
  }

  std::string Description(const Entry& entry, const char* what) const {
    return std::string("Description=Lapse: ") + what + " of \"" +
           SystemdText(TextOf(entry.folder)) + "\"\n";
  }

  std::string Service(const Entry& entry) const {
    std::string execStart = "ExecStart=" + SystemdWord(TextOf(host_.program));
    for (const std::string& arg : UpdateArguments(entry)) {
      execStart += ' ';
      execStart += SystemdWord(arg);
    }
    return Header() + "[Unit]\n" + Description(entry, "update") + "\n[Service]\nType=oneshot\n" +
           execStart + "\n";
  }

  std::string Timer(const Entry& entry) const {
    const std::string zone = entry.zone.empty() ? std::string() : " " + entry.zone;
    std::string calendars = "OnCalendar=*-*-* " + FormatTimeOfDay(entry.at) + ":00" + zone + "\n";
    const std::vector<std::string> skipped =
        SkippedStarts(entry.at, entry.zone, host_.now(), kSkippedDaysAhead);
    if (!skipped.empty()) {
      calendars += "# The days whose clocks skip " + FormatTimeOfDay(entry.at) +
                   ", which systemd would let pass: the update starts when they are past it.\n";
    }
    for (const std::string& start : skipped) {
      calendars += "OnCalendar=" + start + zone + "\n";
    }
    return Header() + std::string(kMark) + MetadataOf(entry) + "\n[Unit]\n" +
           Description(entry, "daily update") + "\n[Timer]\n" + calendars +
           "Persistent=true\n\n[Install]\nWantedBy=timers.target\n";
  }

  const Host& host_;
};

}  // namespace

bool SystemdManagerRuns(const Host& host) {
  std::error_code error;
  if (!fs::exists(host.systemdRuntime, error)) {
    return false;
  }
  if (host.root) {
    return true;
  }
  // A user's manager may be out of reach (no session bus in a container, or
  // no login session).
  const ProgramResult result = host.runner.Run("systemctl", {"--user", "show-environment"}, {});
  return result.started && result.status == 0;
}

std::unique_ptr<Backend> MakeSystemdBackend(const Host& host) {
  return std::make_unique<Systemd>(host);
}

}  // namespace lapse::schedule::detail
