// Windows Task Scheduler: a task of the user's in the folder \Lapse, with a
// daily trigger and "run as soon as possible after a missed start"
// (StartWhenAvailable), registered by `schtasks /Create /XML`. Task
// Scheduler keeps no setting of Lapse's, so a record of each task (its
// settings, as JSON) lies in the state folder's "tasks"; the task itself
// is asked after with `schtasks /Query`.
#include "schedule/backend.h"
#include "schedule/names.h"

namespace lapse::schedule::detail {

namespace {

namespace fs = std::filesystem;

// Without the state folder the records would be read and written relative
// to whatever folder the program started in: an uninstall's lapse-cli would
// find none there and call the user's tasks gone.
constexpr const char* kNoStateFolder =
    "the records of the tasks: the user's state folder cannot be told (the profile names no "
    "local application data folder, and %LOCALAPPDATA% is not set)";

// UTF-16 with its byte-order mark, in little-endian order: what schtasks
// reads an XML file in.
std::string Utf16Le(std::string_view utf8) {
  std::string bytes = "\xff\xfe";
  const auto put = [&bytes](unsigned unit) {
    bytes += static_cast<char>(unit & 0xff);
    bytes += static_cast<char>(unit >> 8);
  };
  for (size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
    unsigned code = length == 1 ? lead : lead & (0x3f >> (length - 1));
    for (size_t i = 1; i < length && at + i < utf8.size(); ++i) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[at + i]) & 0x3f);
    }
    at += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xd800 + (code >> 10));
      put(0xdc00 + (code & 0x3ff));
    } else {
      put(code);
    }
  }
  return bytes;
}

class TaskScheduler final : public Backend {
 public:
  explicit TaskScheduler(const Host& host) : host_(host) {}

  Outcome Install(const Entry& given) override {
    Outcome outcome;
    outcome.entry = given;
    Entry& entry = outcome.entry;
    entry.name = TaskName(TextOf(entry.folder));
    if (host_.stateFolder.empty()) {
      return Failed(outcome, Problem::CannotWrite, kNoStateFolder);
    }
    const fs::path records = Records();
    const std::string fingerprint = Fingerprint(TextOf(entry.folder));
    const fs::path record = records / (fingerprint + ".json");
    const fs::path xml = records / (fingerprint + ".xml");
    if (std::string failure = WriteFilesIn(records, {{fingerprint + ".xml", Utf16Le(Xml(entry))}});
        !failure.empty()) {
      return Failed(outcome, Problem::CannotWrite, std::move(failure));
    }
    const ProgramResult result = host_.runner.Run(
        "schtasks", {"/Create", "/TN", Path(entry), "/XML", TextOf(xml), "/F"}, {});
    std::error_code error;
    fs::remove(xml, error);
    if (!result.started || result.status != 0) {
      return Failed(outcome, Problem::SchedulerRefused, CommandFailure("schtasks /Create", result),
                    Status::Failed);
    }
    if (std::error_code written = WriteFileAtomically(record, MetadataOf(entry) + "\n")) {
      // The task runs; only the listing will not show it.
      return Failed(outcome, Problem::CannotWrite, TextOf(record) + ": " + written.message(),
                    Status::Partly);
    }
    if (host_.wine) {
      entry.enabled = false;
      entry.idle = Idle::WineScheduler;
      return Failed(outcome, Problem::WillNotRun, {}, Status::Partly);
    }
    return outcome;
  }

  Outcome Remove(const Entry& entry) override {
    Outcome outcome;
    outcome.entry = entry;
    if (Exists(entry)) {
      const ProgramResult result =
          host_.runner.Run("schtasks", {"/Delete", "/TN", Path(entry), "/F"}, {});
      if (!result.started || result.status != 0) {
        return Failed(outcome, Problem::SchedulerRefused,
                      CommandFailure("schtasks /Delete", result), Status::Failed);
      }
    }
    std::error_code error;
    fs::remove(Records() / (Fingerprint(TextOf(entry.folder)) + ".json"), error);
    if (error) {
      return Failed(outcome, Problem::CannotWrite, error.message(), Status::Partly);
    }
    return outcome;
  }

  std::vector<Entry> List(std::string& problem) override {
    std::vector<Entry> entries;
    if (host_.stateFolder.empty()) {
      problem = kNoStateFolder;
      return entries;
    }
    std::error_code error;
    if (!fs::exists(Records(), error)) {
      // A folder that cannot be looked at may hold records: its tasks are
      // not called gone.
      if (error) {
        problem = TextOf(Records()) + ": " + error.message();
      }
      return entries;
    }
    fs::directory_iterator records(Records(), error);
    for (; !error && records != fs::directory_iterator(); records.increment(error)) {
      if (records->path().extension() != ".json") {
        continue;
      }
      const std::optional<std::string> text = ReadFileText(records->path());
      std::optional<Entry> entry =
          text ? EntryFromMetadata(*text, SchedulerKind::TaskScheduler) : std::nullopt;
      if (!entry) {
        // Its task would be neither listed nor removed: say so.
        problem =
            TextOf(records->path()) + (text ? ": not a record of a task" : ": cannot be read");
        continue;
      }
      entry->name = TaskName(TextOf(entry->folder));
      entry->idle = !Exists(*entry) ? Idle::TaskMissing
                    : host_.wine    ? Idle::WineScheduler
                                    : Idle::No;
      entry->enabled = entry->idle == Idle::No;
      entries.push_back(std::move(*entry));
    }
    if (error) {
      problem = TextOf(Records()) + ": " + error.message();
    }
    return entries;
  }

 private:
  fs::path Records() const { return host_.stateFolder / "tasks"; }

  static std::string Path(const Entry& entry) { return "\\Lapse\\" + entry.name; }

  bool Exists(const Entry& entry) const {
    const ProgramResult result = host_.runner.Run("schtasks", {"/Query", "/TN", Path(entry)}, {});
    return result.started && result.status == 0;
  }

  std::string Xml(const Entry& entry) const {
    std::string arguments;
    for (const std::string& arg : UpdateArguments(entry)) {
      if (!arguments.empty()) {
        arguments += ' ';
      }
      arguments += WindowsArgument(arg);
    }
    // The first start is today's, at the time; the days after follow it.
    const std::string start = LocalDayText(host_.now()) + "T" + FormatTimeOfDay(entry.at) + ":00";
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
           "<Task version=\"1.2\" "
           "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
           "  <RegistrationInfo>\n"
           "    <Description>Lapse: daily update of " +
           XmlText(TextOf(entry.folder)) +
           "; lapse-cli unschedule removes it.</Description>\n"
           "  </RegistrationInfo>\n"
           "  <Triggers>\n"
           "    <CalendarTrigger>\n"
           "      <StartBoundary>" +
           start +
           "</StartBoundary>\n"
           "      <Enabled>true</Enabled>\n"
           "      <ScheduleByDay>\n"
           "        <DaysInterval>1</DaysInterval>\n"
           "      </ScheduleByDay>\n"
           "    </CalendarTrigger>\n"
           "  </Triggers>\n"
           "  <Principals>\n"
           "    <Principal id=\"Author\">\n"
           "      <LogonType>InteractiveToken</LogonType>\n"
           "      <RunLevel>LeastPrivilege</RunLevel>\n"
           "    </Principal>\n"
           "  </Principals>\n"
           "  <Settings>\n"
           "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
           "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
           "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
           "    <StartWhenAvailable>true</StartWhenAvailable>\n"
           "    <RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>\n"
           "    <ExecutionTimeLimit>PT4H</ExecutionTimeLimit>\n"
           "    <Enabled>true</Enabled>\n"
           "  </Settings>\n"
           "  <Actions Context=\"Author\">\n"
           "    <Exec>\n"
           "      <Command>" +
           XmlText(TextOf(host_.program)) +
           "</Command>\n"
           "      <Arguments>" +
           XmlText(arguments) +
           "</Arguments>\n"
           "    </Exec>\n"
           "  </Actions>\n"
           "</Task>\n";
  }

  const Host& host_;
};

}  // namespace

std::unique_ptr<Backend> MakeTaskSchedulerBackend(const Host& host) {
  return std::make_unique<TaskScheduler>(host);
}

}  // namespace lapse::schedule::detail
