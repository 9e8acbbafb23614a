#include "schedule/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "schedule/backend.h"
#include "schedule/history.h"
#include "schedule/names.h"
#include "support/cron_line.h"
#include "support/fake_runner.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lapse::schedule {
namespace {

namespace fs = std::filesystem;
using testing_support::FakeRunner;
using testing_support::MemoryCrontab;
using testing_support::ProgramCall;

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

#if !defined(_WIN32)
// The folder's device and number, as the system gives them.
std::string IdText(const fs::path& folder) {
  struct stat info {};
  EXPECT_EQ(::stat(folder.c_str(), &info), 0) << folder;
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}
#endif

class ScheduleTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    site_ = fs::canonical(dir_) / "site";
    fs::create_directories(site_);
    fs::create_directories(dir_ / "bin");
    program_ = fs::canonical(dir_) / "bin" / "lapse-cli";
    Write(program_, "a program");
    fs::create_directories(dir_ / "zoneinfo" / "Europe");
    Write(dir_ / "zoneinfo" / "Europe" / "Berlin", "TZif2...");
    host_.program = program_;
    host_.unitFolder = dir_ / "units";
    host_.systemdRuntime = dir_ / "run-systemd";
    host_.zoneInfo = dir_ / "zoneinfo";
    host_.stateFolder = dir_ / "state";
    host_.processes = dir_ / "proc";
    fs::create_directories(dir_ / "proc" / "1");
    fs::create_directories(dir_ / "proc" / "412");
    Write(dir_ / "proc" / "1" / "comm", "init\n");
    Write(dir_ / "proc" / "412" / "comm", "cron\n");
    host_.windows = false;
    host_.now = [] {
      return std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{10};
    };
  }

  Request For(const fs::path& folder) const { return {TextOf(folder), "", "", false, ""}; }

  // A systemd manager that does what it is told.
  void ManagerRuns() {
    fs::create_directories(host_.systemdRuntime);
    runner_.present.insert("systemctl");
    runner_.answers["systemctl"] = [](const ProgramCall&) {
      return ProgramResult{true, 0, {}, {}};
    };
  }

  std::string UnitText(const char* suffix) const {
    return Read(host_.unitFolder / (UnitBaseName(TextOf(site_)) + suffix));
  }

  // The lines of the crontab that Lapse wrote.
  std::vector<std::string> LapseLines() const {
    std::vector<std::string> lines;
    for (const std::string& line : LinesOf(crontab_.text)) {
      if (Contains(line, "# lapse-schedule ")) {
        lines.push_back(line);
      }
    }
    return lines;
  }

  bool Registered() const {
    for (const ProgramCall& call : runner_.calls) {
      if (call.program == "crontab" && call.args == std::vector<std::string>{"-"})
        return true;
      if (call.program == "schtasks" && !call.args.empty() && call.args[0] == "/Create")
        return true;
      if (call.program == "systemctl" && call.args.size() > 1)
        return true;
    }
    return fs::exists(host_.unitFolder);
  }

  FakeRunner runner_;
  MemoryCrontab crontab_;
  Host host_{runner_};
  fs::path site_;
  fs::path program_;
};

struct BadInput {
  const char* name;
  Request request;
  std::vector<std::string> programs;  // on the PATH
  bool windows;
  Problem problem;
};

class BadInputTest : public ScheduleTest, public testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, IsRefusedAndRegistersNothing) {
  const BadInput& input = GetParam();
  fs::create_directories(site_ / "50%");
  Write(site_ / "page.htm", "a file");
  runner_.present.insert(input.programs.begin(), input.programs.end());
  crontab_.InstallInto(runner_);
  runner_.present = {input.programs.begin(), input.programs.end()};
  host_.windows = input.windows;
  Request request = input.request;
  if (request.folder.rfind("SITE", 0) == 0) {
    request.folder = TextOf(site_) + request.folder.substr(4);
  }
  const Outcome outcome = Schedule(host_, request);
  EXPECT_EQ(outcome.status, Status::Failed);
  EXPECT_EQ(outcome.problem, input.problem) << ProblemText(outcome);
  EXPECT_FALSE(ProblemText(outcome).empty());
  EXPECT_FALSE(Registered());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    testing::Values(
        BadInput{"HourOutOfRange",
                 {"SITE", "25:00", "", false, ""},
                 {"crontab"},
                 false,
                 Problem::BadTime},
        BadInput{"Afternoon", {"SITE", "7pm", "", false, ""}, {"crontab"}, false, Problem::BadTime},
        BadInput{
            "OneDigitMinute", {"SITE", "7:5", "", false, ""}, {"crontab"}, false, Problem::BadTime},
        BadInput{"UnknownZone",
                 {"SITE", "", "Nowhere/City", false, ""},
                 {"crontab"},
                 false,
                 Problem::UnknownZone},
        BadInput{"ZoneOutsideTheDatabase",
                 {"SITE", "", "../../../etc/passwd", false, ""},
                 {"crontab"},
                 false,
                 Problem::UnknownZone},
        BadInput{"ZoneAsAnAbsolutePath",
                 {"SITE", "", "/usr/share/zoneinfo/UTC", false, ""},
                 {"crontab"},
                 false,
                 Problem::UnknownZone},
        BadInput{"NoSuchFolder",
                 {"SITE/gone", "", "", false, ""},
                 {"crontab"},
                 false,
                 Problem::NoSuchFolder},
        BadInput{
            "AFile", {"SITE/page.htm", "", "", false, ""}, {"crontab"}, false, Problem::NotAFolder},
        BadInput{"UnknownScheduler",
                 {"SITE", "", "", false, "launchd"},
                 {"crontab"},
                 false,
                 Problem::UnknownScheduler},
        BadInput{"CronNotInstalled",
                 {"SITE", "", "", false, "cron"},
                 {"systemctl"},
                 false,
                 Problem::SchedulerMissing},
        BadInput{"TaskSchedulerOffWindows",
                 {"SITE", "", "", false, "task-scheduler"},
                 {"crontab", "schtasks"},
                 false,
                 Problem::SchedulerMissing},
        BadInput{"NoSchedulerAtAll", {"SITE", "", "", false, ""}, {}, false, Problem::NoScheduler},
        BadInput{"ZoneWithTaskScheduler",
                 {"SITE", "", "Europe/Berlin", false, ""},
                 {"schtasks"},
                 true,
                 Problem::ZoneNotSupported},
        BadInput{"PercentWithTaskScheduler",
                 {"SITE/50%", "", "", false, ""},
                 {"schtasks"},
                 true,
                 Problem::PercentInName}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

#if !defined(_WIN32)
TEST_F(ScheduleTest, AFolderWhoseNameHoldsALineBreakIsRefused) {
  const fs::path folder = dir_ / "two\nlines";
  fs::create_directories(folder);
  crontab_.InstallInto(runner_);
  const Outcome outcome = Schedule(host_, For(folder));
  EXPECT_EQ(outcome.problem, Problem::ControlCharacter);
  EXPECT_TRUE(Contains(ProblemText(outcome), "two\\nlines")) << ProblemText(outcome);
  EXPECT_FALSE(crontab_.exists);
}
#endif

TEST_F(ScheduleTest, TheSchedulersFilesAreWrittenInTheirFolderOrTheFolderIsNamed) {
  struct Case {
    const char* name;
    const char* inTheWay;  // a file of this name below dir_ first; none when empty
    const char* folder;
    bool written;
  };
  const Case cases[] = {
      {"folder made", "", "made/units", true},
      {"folder there", "there/other", "there", true},
      {"a file in the folder's place", "file", "file", false},
      {"a file in a parent's place", "parent", "parent/units", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (*c.inTheWay != '\0') {
      fs::create_directories((dir_ / c.inTheWay).parent_path());
      Write(dir_ / c.inTheWay, "x");
    }
    const fs::path folder = dir_ / c.folder;
    const std::string failure =
        detail::WriteFilesIn(folder, {{"a.timer", "A"}, {"a.service", "S"}});
    if (c.written) {
      EXPECT_EQ(failure, "");
      EXPECT_EQ(Read(folder / "a.timer"), "A");
      EXPECT_EQ(Read(folder / "a.service"), "S");
    } else {
      EXPECT_EQ(failure.rfind(TextOf(folder) + ": ", 0), 0u) << failure;
      EXPECT_GT(failure.size(), TextOf(folder).size() + 2) << failure;
    }
  }
  // Each scheduler that writes files says which folder would not take them.
  Write(dir_ / "blocked", "x");
  host_.unitFolder = dir_ / "blocked";
  runner_.present = {"systemctl"};
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.status, Status::Failed);
  EXPECT_EQ(outcome.problem, Problem::CannotWrite);
  EXPECT_EQ(outcome.detail.rfind(TextOf(host_.unitFolder) + ": ", 0), 0u) << outcome.detail;
}

TEST_F(ScheduleTest, AMissingLapseCliIsRefused) {
  crontab_.InstallInto(runner_);
  host_.program = dir_ / "bin" / "nothing";
  EXPECT_EQ(Schedule(host_, For(site_)).problem, Problem::NoProgram);
  EXPECT_FALSE(crontab_.exists);
}

TEST_F(ScheduleTest, TheDefaultSchedulerFollowsWhatTheMachineHas) {
  struct Case {
    const char* name;
    std::vector<std::string> programs;
    bool manager;
    std::optional<SchedulerKind> expected;
  };
  const Case cases[] = {
      {"manager", {"systemctl", "crontab"}, true, SchedulerKind::Systemd},
      {"no manager, cron", {"systemctl", "crontab"}, false, SchedulerKind::Cron},
      {"no manager, no cron", {"systemctl"}, false, SchedulerKind::Systemd},
      {"cron alone", {"crontab"}, false, SchedulerKind::Cron},
      {"nothing", {}, false, std::nullopt},
      // crontab without a daemon to read it: units that a manager may start.
      {"no manager, no cron daemon",
       {"systemctl", "crontab", "-cron"},
       false,
       SchedulerKind::Systemd},
      {"manager, no cron daemon", {"systemctl", "crontab", "-cron"}, true, SchedulerKind::Systemd},
      {"cron alone, no daemon", {"crontab", "-cron"}, false, SchedulerKind::Cron},
  };
  for (const Case& item : cases) {
    runner_.present = {item.programs.begin(), item.programs.end()};
    // "-cron": no cron daemon runs.
    Write(dir_ / "proc" / "412" / "comm", runner_.present.erase("-cron") != 0 ? "sh\n" : "cron\n");
    fs::remove_all(host_.systemdRuntime);
    if (item.manager) {
      fs::create_directories(host_.systemdRuntime);
    }
    EXPECT_EQ(DefaultScheduler(host_), item.expected) << item.name;
  }
  // A manager that systemctl --user cannot reach is none.
  fs::create_directories(host_.systemdRuntime);
  runner_.present = {"systemctl", "crontab"};
  runner_.answers["systemctl"] = [](const ProgramCall&) {
    return ProgramResult{true, 1, {}, "Failed to connect to bus: No such file or directory"};
  };
  Write(dir_ / "proc" / "412" / "comm", "cron\n");
  EXPECT_EQ(DefaultScheduler(host_), SchedulerKind::Cron);
  host_.windows = true;
  runner_.present = {"schtasks"};
  EXPECT_EQ(DefaultScheduler(host_), SchedulerKind::TaskScheduler);
}

#if !defined(_WIN32)
// systemd and cron, on the systems that have them.
TEST_F(ScheduleTest, WithoutAManagerTheUnitsAreWrittenAndTheCommandSaysHowToStartThem) {
  runner_.present = {"systemctl"};
  const Outcome outcome = Schedule(host_, For(site_));
  ASSERT_EQ(outcome.status, Status::Partly) << ProblemText(outcome);
  EXPECT_EQ(outcome.problem, Problem::WillNotRun);
  EXPECT_EQ(outcome.entry.idle, Idle::NoManager);
  const std::string name = UnitBaseName(TextOf(site_));
  EXPECT_EQ(outcome.entry.name, name);
  EXPECT_FALSE(outcome.entry.enabled);
  EXPECT_EQ(outcome.enableCommands, (std::vector<std::string>{"systemctl --user daemon-reload",
                                                              "systemctl --user enable --now " +
                                                                  ShellWord(name + ".timer")}));
  EXPECT_TRUE(runner_.calls.empty());
  const std::string timer = UnitText(".timer");
  EXPECT_TRUE(Contains(timer, "\nOnCalendar=*-*-* 00:05:00\nPersistent=true\n")) << timer;
  EXPECT_TRUE(Contains(timer, "\nWantedBy=timers.target\n")) << timer;
  const std::string service = UnitText(".service");
  EXPECT_TRUE(Contains(service, "\nType=oneshot\nExecStart=" + TextOf(program_) +
                                    " update --quiet --folder-id " + IdText(site_) + " " +
                                    TextOf(site_) + "\n"))
      << service;
  EXPECT_TRUE(Contains(DoneText(host_, outcome), "Written, not started"))
      << DoneText(host_, outcome);
  EXPECT_FALSE(Contains(DoneText(host_, outcome), "Next update")) << DoneText(host_, outcome);
  const std::string text = ProblemText(host_, outcome);
  EXPECT_TRUE(Contains(text, "no systemd manager runs here: nothing will start them")) << text;
  EXPECT_TRUE(Contains(text, TextOf(host_.unitFolder))) << text;
  EXPECT_TRUE(Contains(text, "\n  systemctl --user enable --now ")) << text;
}

TEST_F(ScheduleTest, WithAManagerTheTimerIsEnabledAndStartedAtOnce) {
  ManagerRuns();
  Request request = For(site_);
  request.at = "06:30";
  request.zone = "Europe/Berlin";
  request.recursive = true;
  const Outcome outcome = Schedule(host_, request);
  ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
  const std::string timer = UnitBaseName(TextOf(site_)) + ".timer";
  EXPECT_EQ(runner_.CallsOf("systemctl"),
            (std::vector<std::string>{
                "systemctl --user show-environment", "systemctl --user show-environment",
                "systemctl --user daemon-reload", "systemctl --user enable " + timer,
                "systemctl --user restart " + timer}));
  EXPECT_TRUE(Contains(UnitText(".timer"), "\nOnCalendar=*-*-* 06:30:00 Europe/Berlin\n"));
  EXPECT_TRUE(
      Contains(UnitText(".service"), " update --quiet --recursive --time-zone Europe/Berlin "));
  EXPECT_TRUE(outcome.enableCommands.empty());
  EXPECT_TRUE(Contains(DoneText(host_, outcome), "Next update: 2026-12-09 06:30 Europe/Berlin."))
      << DoneText(host_, outcome);
  // Timers that stop when the user logs out are said to.
  host_.lingerFile = dir_ / "linger" / "tester";
  EXPECT_TRUE(Contains(DoneText(host_, outcome), "loginctl enable-linger"));
  fs::create_directories(host_.lingerFile);
  EXPECT_FALSE(Contains(DoneText(host_, outcome), "loginctl enable-linger"));
}

// systemd lets a day pass whose clocks skip the time: the timer names those
// days with the moment that takes its place, and only where there are such.
TEST_F(ScheduleTest, TheTimerNamesTheDaysWhoseClocksSkipItsTime) {
  ManagerRuns();
  if (!KnownZone("Europe/Berlin", "/usr/share/zoneinfo")) {
    GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
  }
  const struct {
    const char* at;
    const char* zone;
    std::vector<std::string> days;  // the first three named
  } cases[] = {
      {"02:30",
       "Europe/Berlin",
       {"2027-03-28 03:00:00 Europe/Berlin", "2028-03-26 03:00:00 Europe/Berlin",
        "2029-03-25 03:00:00 Europe/Berlin"}},
      {"02:00",
       "Europe/Berlin",
       {"2027-03-28 03:00:00 Europe/Berlin", "2028-03-26 03:00:00 Europe/Berlin",
        "2029-03-25 03:00:00 Europe/Berlin"}},
      {"03:00", "Europe/Berlin", {}},
      {"02:30", "UTC", {}},
  };
  Write(host_.zoneInfo / "UTC", "TZif2...");
  for (const auto& item : cases) {
    SCOPED_TRACE(std::string(item.at) + " " + item.zone);
    Request request = For(site_);
    request.at = item.at;
    request.zone = item.zone;
    ASSERT_EQ(Schedule(host_, request).status, Status::Done);
    std::vector<std::string> days;
    for (const std::string& line : LinesOf(UnitText(".timer"))) {
      if (line.rfind("OnCalendar=20", 0) == 0) {
        days.push_back(line.substr(11));
      }
    }
    EXPECT_EQ(
        std::vector<std::string>(days.begin(), days.begin() + std::min<size_t>(days.size(), 3)),
        item.days);
    EXPECT_EQ(days.size(), item.days.empty() ? 0u : 10u);
  }
}

TEST_F(ScheduleTest, RootGetsSystemUnits) {
  ManagerRuns();
  host_.root = true;
  ASSERT_EQ(Schedule(host_, For(site_)).status, Status::Done);
  const std::string timer = UnitBaseName(TextOf(site_)) + ".timer";
  EXPECT_EQ(runner_.CallsOf("systemctl"),
            (std::vector<std::string>{"systemctl daemon-reload", "systemctl enable " + timer,
                                      "systemctl restart " + timer}));
}

TEST_F(ScheduleTest, ASystemctlThatFailsLeavesTheUnitsAndSaysWhy) {
  ManagerRuns();
  runner_.answers["systemctl"] = [](const ProgramCall& call) {
    const bool enable = std::find(call.args.begin(), call.args.end(), "enable") != call.args.end();
    return ProgramResult{
        true, enable ? 1 : 0, {}, enable ? "Failed to enable unit: Access denied\n" : ""};
  };
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.status, Status::Partly);
  EXPECT_EQ(outcome.problem, Problem::SchedulerRefused);
  EXPECT_TRUE(Contains(ProblemText(outcome), "systemctl --user enable")) << ProblemText(outcome);
  EXPECT_TRUE(Contains(ProblemText(outcome), "Access denied")) << ProblemText(outcome);
  EXPECT_FALSE(UnitText(".timer").empty());
}

TEST_F(ScheduleTest, SchedulingAFolderAgainReplacesItsEntry) {
  ManagerRuns();
  ASSERT_EQ(Schedule(host_, For(site_)).status, Status::Done);
  Request again = For(site_ / "." / "");
  again.at = "07:30";
  again.recursive = true;
  ASSERT_EQ(Schedule(host_, again).status, Status::Done);
  const Listing listing = ListSchedules(host_);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].folder, site_);
  EXPECT_EQ(listing.entries[0].at, (TimeOfDay{7, 30}));
  EXPECT_TRUE(listing.entries[0].recursive);
  EXPECT_EQ(std::count_if(fs::directory_iterator(host_.unitFolder), fs::directory_iterator(),
                          [](const fs::directory_entry&) { return true; }),
            2);
}

TEST_F(ScheduleTest, SchedulingWithAnotherSchedulerMovesTheEntry) {
  ManagerRuns();
  crontab_.InstallInto(runner_);
  Request request = For(site_);
  request.scheduler = "cron";
  ASSERT_EQ(Schedule(host_, request).status, Status::Done);
  EXPECT_EQ(LapseLines().size(), 3u);
  request.scheduler = "systemd";
  ASSERT_EQ(Schedule(host_, request).status, Status::Done);
  EXPECT_TRUE(LapseLines().empty());
  const Listing listing = ListSchedules(host_);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].scheduler, SchedulerKind::Systemd);
}

TEST_F(ScheduleTest, UnscheduleRemovesTheEntryEvenOfAFolderThatIsGone) {
  runner_.present = {"systemctl"};
  ASSERT_EQ(Schedule(host_, For(site_)).problem, Problem::WillNotRun);
  const std::string name = UnitBaseName(TextOf(site_));
  fs::create_directories(host_.unitFolder / "timers.target.wants");
  fs::create_symlink(host_.unitFolder / (name + ".timer"),
                     host_.unitFolder / "timers.target.wants" / (name + ".timer"));
  // Enabled, but no manager on the machine starts it.
  EXPECT_EQ(ListSchedules(host_).entries.at(0).idle, Idle::NoManager);
  fs::create_directories(host_.systemdRuntime);
  EXPECT_TRUE(ListSchedules(host_).entries.at(0).enabled);
  fs::remove(host_.systemdRuntime);
  fs::remove_all(site_);

  const Outcome outcome = Unschedule(host_, TextOf(site_));
  EXPECT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
  EXPECT_EQ(outcome.entry.folder, site_);
  EXPECT_FALSE(fs::exists(host_.unitFolder / (name + ".timer")));
  EXPECT_FALSE(fs::exists(host_.unitFolder / (name + ".service")));
  EXPECT_FALSE(fs::is_symlink(host_.unitFolder / "timers.target.wants" / (name + ".timer")));

  const Outcome none = Unschedule(host_, TextOf(site_));
  EXPECT_EQ(none.status, Status::Failed);
  EXPECT_EQ(none.problem, Problem::NotScheduled);
  EXPECT_EQ(ProblemText(none),
            TextOf(site_) + " is not scheduled; lapse-cli schedules lists what is.");
}

TEST_F(ScheduleTest, WithAManagerUnscheduleStopsTheTimerFirst) {
  ManagerRuns();
  ASSERT_EQ(Schedule(host_, For(site_)).status, Status::Done);
  runner_.calls.clear();
  ASSERT_EQ(Unschedule(host_, TextOf(site_)).status, Status::Done);
  const std::string timer = UnitBaseName(TextOf(site_)) + ".timer";
  const std::vector<std::string> calls = runner_.CallsOf("systemctl");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "systemctl --user disable --now " + timer);
  EXPECT_EQ(calls.back(), "systemctl --user daemon-reload");
}

TEST_F(ScheduleTest, CronLinesLeaveTheUsersOwnLinesAsTheyWere) {
  crontab_.InstallInto(runner_);
  crontab_.exists = true;
  crontab_.text = "MAILTO=me@example.org\n# my backup\n0 3 * * * backup --all\n";
  const fs::path other = dir_ / "other site";
  fs::create_directories(other);
  ASSERT_EQ(Schedule(host_, For(site_)).status, Status::Done);
  ASSERT_EQ(Schedule(host_, For(other)).status, Status::Done);
  Request again = For(site_);
  again.at = "07:30";
  ASSERT_EQ(Schedule(host_, again).status, Status::Done);

  const std::string id = Fingerprint(TextOf(site_));
  const std::string mark = " # lapse-schedule " + id;
  const std::string command =
      TextOf(program_) + " update --quiet --folder-id " + IdText(site_) + " " + TextOf(site_);
  const std::vector<std::string> lines = LinesOf(crontab_.text);
  ASSERT_EQ(lines.size(), 9u) << crontab_.text;
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 3),
      (std::vector<std::string>{"MAILTO=me@example.org", "# my backup", "0 3 * * * backup --all"}));
  EXPECT_EQ(lines[6], "# lapse-schedule " + id + " {\"at\":\"07:30\",\"folder\":\"" +
                          TextOf(site_) + "\",\"folderId\":\"" + IdText(site_) +
                          "\",\"log\":true,\"recursive\":false,\"scheduled\":1796724000,"
                          "\"zone\":\"\"}");
  EXPECT_EQ(lines[7], "30 7 * * * " + command + mark);
  EXPECT_EQ(lines[8], "@reboot " + command + mark);

  const Listing listing = ListSchedules(host_);
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[0].folder, other);
  EXPECT_EQ(listing.entries[1].at, (TimeOfDay{7, 30}));
  EXPECT_EQ(listing.entries[1].scheduler, SchedulerKind::Cron);

  ASSERT_EQ(Unschedule(host_, TextOf(site_)).status, Status::Done);
  ASSERT_EQ(Unschedule(host_, TextOf(other)).status, Status::Done);
  EXPECT_EQ(crontab_.text, "MAILTO=me@example.org\n# my backup\n0 3 * * * backup --all\n");
}

TEST_F(ScheduleTest, InAnotherZoneTheCronLineStartsTheUpdateAtThatZonesTime) {
  crontab_.InstallInto(runner_);
  Request request = For(site_);
  request.at = "00:05";
  request.zone = "Europe/Berlin";
  ASSERT_EQ(Schedule(host_, request).status, Status::Done);
  const std::vector<std::string> lines = LapseLines();
  ASSERT_EQ(lines.size(), 3u);
  // update itself tells which quarter hour starts the update, the days the
  // zone's clocks change included; the catch-up at boot always updates.
  const std::string mark = " # lapse-schedule " + Fingerprint(TextOf(site_));
  const std::string id = " --folder-id " + IdText(site_) + " ";
  EXPECT_EQ(lines[1], "5,20,35,50 * * * * " + TextOf(program_) +
                          " update --quiet --time-zone Europe/Berlin --only-at 00:05" + id +
                          TextOf(site_) + mark);
  EXPECT_EQ(lines[2], "@reboot " + TextOf(program_) + " update --quiet --time-zone Europe/Berlin" +
                          id + TextOf(site_) + mark);
}

// The entry keeps the folder's identity, read from the folder when it was
// scheduled, and hands it to update on every line that starts it; an entry
// written before it was kept reads back without one, and its update takes
// the folder by its path as before.
TEST_F(ScheduleTest, EntriesReadBackWithTheFolderIdentityOnTheirCommandLines) {
  crontab_.InstallInto(runner_);
  ManagerRuns();
  const std::string id = IdText(site_);
  for (const char* scheduler : {"cron", "systemd"}) {
    SCOPED_TRACE(scheduler);
    Request request = For(site_);
    request.scheduler = scheduler;
    const Outcome outcome = Schedule(host_, request);
    ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
    ASSERT_TRUE(outcome.entry.folderId);
    EXPECT_EQ(FolderIdText(*outcome.entry.folderId), id);
    const Listing listing = ListSchedules(host_);
    ASSERT_EQ(listing.entries.size(), 1u);
    ASSERT_TRUE(listing.entries[0].folderId);
    EXPECT_EQ(*listing.entries[0].folderId, *outcome.entry.folderId);
    std::vector<std::string> starts;
    if (std::string(scheduler) == "cron") {
      starts = LapseLines();
      starts.erase(starts.begin());  // the settings
    } else {
      starts = {UnitText(".service")};
    }
    ASSERT_FALSE(starts.empty());
    for (const std::string& start : starts) {
      EXPECT_TRUE(Contains(start, " --folder-id " + id + " " + TextOf(site_))) << start;
    }
  }

  const std::string mark = " # lapse-schedule " + Fingerprint(TextOf(site_));
  const std::string command = TextOf(program_) + " update --quiet " + TextOf(site_);
  Unschedule(host_, TextOf(site_));
  crontab_.text = "# lapse-schedule " + Fingerprint(TextOf(site_)) +
                  " {\"at\":\"06:30\",\"folder\":\"" + TextOf(site_) +
                  "\",\"recursive\":false,\"zone\":\"\"}\n30 6 * * * " + command + mark +
                  "\n@reboot " + command + mark + "\n";
  const Listing old = ListSchedules(host_);
  ASSERT_EQ(old.entries.size(), 1u);
  EXPECT_EQ(old.entries[0].folder, site_);
  EXPECT_EQ(old.entries[0].at, (TimeOfDay{6, 30}));
  EXPECT_TRUE(old.entries[0].enabled);
  EXPECT_FALSE(old.entries[0].folderId);
}

// The scheduler starts update with the system's locale: the entry names the
// date order and the options the user's own update would take, on every line
// that starts it, and reads them back.
TEST_F(ScheduleTest, AnEntryCarriesTheDateOrderAndTheOptions) {
  crontab_.InstallInto(runner_);
  ManagerRuns();
  const struct {
    UpdateOptions options;
    std::string arguments;
    std::string json;
  } cases[] = {
      {{"dmy", std::nullopt, std::nullopt, true},
       " --date-order dmy ",
       "\"dateOrder\":\"dmy\",\"folder\""},
      {{"ymd", std::int16_t{-3}, std::int16_t{2}, false},
       " --date-order ymd --days=-3 --lines=2 --no-log ",
       "\"dateOrder\":\"ymd\",\"days\":-3,\"folder\""},
  };
  const std::string id = " --folder-id " + IdText(site_) + " ";
  for (const auto& item : cases) {
    for (const char* scheduler : {"cron", "systemd"}) {
      SCOPED_TRACE(std::string(scheduler) + item.arguments);
      Request request = For(site_);
      request.scheduler = scheduler;
      request.options = item.options;
      ASSERT_EQ(Schedule(host_, request).status, Status::Done);
      const Listing listing = ListSchedules(host_);
      ASSERT_EQ(listing.entries.size(), 1u);
      EXPECT_EQ(listing.entries[0].options, item.options);
      const std::string update =
          TextOf(program_) + " update --quiet" + item.arguments + id.substr(1) + TextOf(site_);
      if (std::string(scheduler) == "cron") {
        const std::vector<std::string> lines = LapseLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(Contains(lines[0], item.json)) << lines[0];
        const std::string mark = " # lapse-schedule " + Fingerprint(TextOf(site_));
        EXPECT_EQ(lines[1], "5 0 * * * " + update + mark);
        EXPECT_EQ(lines[2], "@reboot " + update + mark);
      } else {
        EXPECT_TRUE(Contains(UnitText(".service"), "\nExecStart=" + update + "\n"))
            << UnitText(".service");
        EXPECT_TRUE(Contains(UnitText(".timer"), item.json)) << UnitText(".timer");
      }
    }
  }
}

// Where the scheduler asked for will not run the entry, the entry is
// written and said to be idle, and the folder's entry with the other
// scheduler stays while it runs; one that does not run goes as before.
TEST_F(ScheduleTest, AnEntryThatWillNotRunKeepsTheOneThatDoes) {
  crontab_.InstallInto(runner_);
  runner_.present.insert("systemctl");
  const struct {
    const char* name;
    const char* first;   // scheduled first, while it runs
    const char* second;  // scheduled next, where it will not run
    bool firstRunsStill;
    Idle idle;
    size_t entries;
  } cases[] = {
      {"cron kept, systemd without a manager", "cron", "systemd", true, Idle::NoManager, 2},
      {"systemd kept, cron without a daemon", "systemd", "cron", true, Idle::NoCronDaemon, 2},
      {"idle systemd replaced by idle cron", "systemd", "cron", false, Idle::NoCronDaemon, 1},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    Unschedule(host_, TextOf(site_));
    fs::remove_all(host_.unitFolder);
    fs::create_directories(host_.systemdRuntime);
    Write(dir_ / "proc" / "412" / "comm", "cron\n");
    Request request = For(site_);
    request.scheduler = item.first;
    ASSERT_EQ(Schedule(host_, request).status, Status::Done);
    if (item.first == std::string("systemd")) {
      // The link systemctl enable makes.
      fs::create_directories(host_.unitFolder / "timers.target.wants");
      Write(host_.unitFolder / "timers.target.wants" / (UnitBaseName(TextOf(site_)) + ".timer"),
            "");
    }
    if (!item.firstRunsStill) {
      fs::remove_all(host_.systemdRuntime);
    }
    // The second one's scheduler stops running.
    if (item.second == std::string("systemd")) {
      fs::remove_all(host_.systemdRuntime);
    } else {
      fs::remove(dir_ / "proc" / "412" / "comm");
    }
    request.scheduler = item.second;
    const Outcome outcome = Schedule(host_, request);
    EXPECT_EQ(outcome.status, Status::Partly);
    EXPECT_EQ(outcome.problem, Problem::WillNotRun);
    EXPECT_EQ(outcome.entry.idle, item.idle);
    EXPECT_FALSE(outcome.entry.enabled);
    EXPECT_EQ(outcome.kept.size(), item.entries - 1);
    const std::string said = ProblemText(host_, outcome);
    EXPECT_TRUE(Contains(said, "nothing will start")) << said;
    EXPECT_EQ(Contains(said, "stays, and updates it every day at 00:05"), item.entries == 2)
        << said;
    const Listing listing = ListSchedules(host_);
    ASSERT_EQ(listing.entries.size(), item.entries);
    // The dialog shows the one that runs.
    const std::optional<Entry> shown = FindSchedule(host_, site_);
    ASSERT_TRUE(shown);
    EXPECT_EQ(SchedulerName(shown->scheduler), item.entries == 2 ? item.first : item.second);
  }
}

// A cron daemon is a process of that name; where the first process cannot
// be read, nothing is told, and the entry is taken to run.
TEST_F(ScheduleTest, ACronDaemonIsLookedForAmongTheProcesses) {
  const struct {
    std::vector<std::pair<const char*, const char*>> processes;  // number, name
    detail::CronDaemon state;
  } cases[] = {
      {{{"1", "init\n"}, {"412", "cron\n"}}, detail::CronDaemon::Runs},
      {{{"1", "systemd\n"}, {"88", "crond\n"}}, detail::CronDaemon::Runs},
      {{{"1", "systemd\n"}, {"88", "crontab\n"}, {"self", "cron\n"}}, detail::CronDaemon::None},
      {{{"1", "sh\n"}}, detail::CronDaemon::None},
      {{{"412", "cron\n"}}, detail::CronDaemon::Unknown},
  };
  for (const auto& item : cases) {
    fs::remove_all(host_.processes);
    fs::create_directories(host_.processes);
    for (const auto& [number, name] : item.processes) {
      fs::create_directories(host_.processes / number);
      Write(host_.processes / number / "comm", name);
    }
    EXPECT_EQ(detail::CronDaemonState(host_), item.state) << item.processes.back().second;
  }
}

TEST_F(ScheduleTest, TheFolderIdentityIsTwoDecimalNumbers) {
  const std::pair<const char*, std::optional<FolderId>> cases[] = {
      {"2049:1234", FolderId{2049, 1234}},
      {"0:0", FolderId{0, 0}},
      {"18446744073709551615:1", FolderId{18446744073709551615u, 1}},
      {"18446744073709551616:1", std::nullopt},
      {"2049", std::nullopt},
      {"2049:", std::nullopt},
      {":1234", std::nullopt},
      {"+1:2", std::nullopt},
      {"-1:2", std::nullopt},
      {"0x10:2", std::nullopt},
      {"1:2:3", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, id] : cases) {
    EXPECT_EQ(ParseFolderId(text), id) << text;
    if (id) {
      EXPECT_EQ(FolderIdText(*id), text);
    }
  }
}

TEST_F(ScheduleTest, ACrontabThatCannotBeReadIsNotOverwritten) {
  runner_.present = {"crontab"};
  runner_.answers["crontab"] = [](const ProgramCall& call) {
    return call.args[0] == "-l"
               ? ProgramResult{true, 1, {}, "crontab: your UID isn't in the passwd file.\n"}
               : ProgramResult{true, 0, {}, {}};
  };
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.problem, Problem::CannotRead);
  EXPECT_TRUE(Contains(ProblemText(outcome), "passwd file")) << ProblemText(outcome);
  for (const std::string& call : runner_.CallsOf("crontab")) {
    EXPECT_EQ(call, "crontab -l");
  }
  EXPECT_EQ(ListSchedules(host_).problems.size(), 1u);
}

#endif

// Task Scheduler through a fake schtasks, which keeps the tasks it was given.
class TaskSchedulerTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    host_.windows = true;
    runner_.present = {"schtasks"};
    runner_.answers["schtasks"] = [this](const ProgramCall& call) {
      const std::string& name = call.args.at(2);
      if (call.args[0] == "/Create") {
        tasks_[name] = Read(PathOf(call.args.at(4)));
      } else if (call.args[0] == "/Delete") {
        tasks_.erase(name);
      } else if (tasks_.count(name) == 0) {
        return ProgramResult{true, 1, {}, "ERROR: The system cannot find the file specified.\r\n"};
      }
      return ProgramResult{true, 0, {}, {}};
    };
  }

  // The task's XML back from UTF-16 (ASCII is all this test reads).
  static std::string Narrow(const std::string& utf16) {
    std::string text;
    for (size_t at = 2; at + 1 < utf16.size(); at += 2) {
      text += utf16[at + 1] == 0 ? utf16[at] : '?';
    }
    return text;
  }

  std::map<std::string, std::string> tasks_;
};

TEST_F(TaskSchedulerTest, TheTaskRunsDailyAndCatchesUpAfterAMissedStart) {
  const fs::path folder = dir_ / "my site";
  fs::create_directories(folder);
  Request request = For(folder);
  request.at = "06:30";
  request.recursive = true;
  const Outcome outcome = Schedule(host_, request);
  ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
  const std::string path = "\\Lapse\\" + TaskName(TextOf(fs::canonical(folder)));
  EXPECT_EQ(outcome.entry.name, TaskName(TextOf(fs::canonical(folder))));
  ASSERT_EQ(tasks_.count(path), 1u);
  const std::string& utf16 = tasks_[path];
  EXPECT_EQ(utf16.substr(0, 2), "\xff\xfe");
  const std::string xml = Narrow(utf16);
  EXPECT_TRUE(Contains(xml, "<StartWhenAvailable>true</StartWhenAvailable>")) << xml;
  EXPECT_TRUE(Contains(xml, "<StartBoundary>2026-12-08T06:30:00</StartBoundary>")) << xml;
  EXPECT_TRUE(Contains(xml, "<DaysInterval>1</DaysInterval>")) << xml;
  EXPECT_TRUE(Contains(xml, "<Command>" + TextOf(program_) + "</Command>")) << xml;
  ASSERT_TRUE(outcome.entry.folderId);
  EXPECT_TRUE(Contains(xml, "<Arguments>update --quiet --recursive --folder-id " +
                                FolderIdText(*outcome.entry.folderId) + " &quot;" +
                                TextOf(fs::canonical(folder)) + "&quot;</Arguments>"))
      << xml;
  EXPECT_EQ(runner_.CallsOf("schtasks").back().rfind("schtasks /Create /TN " + path + " /XML ", 0),
            0u);
  EXPECT_EQ(runner_.calls.back().args.back(), "/F");
  // The XML file was for schtasks alone.
  EXPECT_FALSE(fs::exists(PathOf(runner_.calls.back().args.at(4))));

  const Listing listing = ListSchedules(host_);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_TRUE(listing.entries[0].enabled);
  EXPECT_EQ(listing.entries[0].scheduler, SchedulerKind::TaskScheduler);
  tasks_.clear();
  EXPECT_FALSE(ListSchedules(host_).entries.at(0).enabled);

  ASSERT_EQ(Unschedule(host_, TextOf(folder)).status, Status::Done);
  EXPECT_TRUE(ListSchedules(host_).entries.empty());
}

// wine keeps the task and its settings but starts no task: the task is
// registered, and said to be idle.
TEST_F(TaskSchedulerTest, UnderWineTheTaskIsWrittenAndSaidNotToRun) {
  host_.wine = true;
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.status, Status::Partly);
  EXPECT_EQ(outcome.problem, Problem::WillNotRun);
  EXPECT_EQ(tasks_.size(), 1u);
  EXPECT_TRUE(Contains(ProblemText(host_, outcome), "wine's Task Scheduler"))
      << ProblemText(host_, outcome);
  const Listing listing = ListSchedules(host_);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].idle, Idle::WineScheduler);
  EXPECT_FALSE(NotStartedText(listing.entries[0]).empty());
  EXPECT_EQ(Unschedule(host_, TextOf(site_)).status, Status::Done);
  EXPECT_TRUE(tasks_.empty());
}

// Removing every task of the user's, as an uninstall does: a task deleted
// by hand leaves its record to remove; a task that Task Scheduler will not
// delete stays listed, and the status says that the rest went.
TEST_F(TaskSchedulerTest, UnscheduleAllRemovesEveryTaskItCan) {
  const fs::path other = fs::canonical(dir_) / "web";  // listed after site
  fs::create_directories(other);
  for (const fs::path& folder : {site_, other}) {
    ASSERT_EQ(Schedule(host_, For(folder)).status, Status::Done);
  }
  tasks_.erase("\\Lapse\\" + TaskName(TextOf(site_)));
  const auto keeper = runner_.answers["schtasks"];
  runner_.answers["schtasks"] = [&keeper](const ProgramCall& call) {
    if (call.args.at(0) == "/Delete") {
      return ProgramResult{true, 1, {}, "ERROR: Access is denied.\r\n"};
    }
    return keeper(call);
  };

  const Clearing clearing = UnscheduleAll(host_);
  EXPECT_EQ(clearing.status, Status::Partly);
  ASSERT_EQ(clearing.outcomes.size(), 2u);
  EXPECT_EQ(clearing.outcomes[0].status, Status::Done);
  EXPECT_EQ(clearing.outcomes[1].status, Status::Failed);
  EXPECT_EQ(ProblemText(clearing.outcomes[1]),
            "schtasks /Delete failed (exit status 1): ERROR: Access is denied.");
  const Listing left = ListSchedules(host_);
  ASSERT_EQ(left.entries.size(), 1u);
  EXPECT_EQ(left.entries[0].folder, other);
}

// Where the state folder cannot be told, no task is made whose record would
// lie elsewhere, and the tasks are said to be unknown rather than none.
TEST_F(TaskSchedulerTest, WithoutTheStateFolderTheTasksAreNotCalledGone) {
  host_.stateFolder.clear();
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.status, Status::Failed);
  EXPECT_EQ(ProblemText(outcome),
            "Cannot write the records of the tasks: the user's state folder cannot be told (the "
            "profile names no local application data folder, and %LOCALAPPDATA% is not set).");
  EXPECT_TRUE(runner_.CallsOf("schtasks").empty());
  const Clearing clearing = UnscheduleAll(host_);
  EXPECT_EQ(clearing.status, Status::Partly);
  ASSERT_EQ(clearing.problems.size(), 1u);
  EXPECT_TRUE(Contains(clearing.problems[0], "the user's state folder cannot be told"));
}

// A record that is no record names itself: its task would be neither listed
// nor removed.
TEST_F(TaskSchedulerTest, ADamagedRecordIsNamed) {
  ASSERT_EQ(Schedule(host_, For(site_)).status, Status::Done);
  Write(host_.stateFolder / "tasks" / "damaged.json", "{\"folder\":");
  const Listing listing = ListSchedules(host_);
  EXPECT_EQ(listing.entries.size(), 1u);
  ASSERT_EQ(listing.problems.size(), 1u);
  EXPECT_TRUE(Contains(listing.problems[0], "damaged.json: not a record of a task"))
      << listing.problems[0];
}

// Records that cannot be looked at are not taken for none: an uninstall's
// unschedule --all would leave the tasks and say that none was scheduled.
TEST_F(TaskSchedulerTest, RecordsThatCannotBeLookedAtAreNotCalledNone) {
#if defined(_WIN32)
  GTEST_SKIP() << "an overlong name is refused on Linux, where its error is told";
#endif
  host_.stateFolder = dir_ / std::string(300, 's');
  const Clearing clearing = UnscheduleAll(host_);
  EXPECT_EQ(clearing.status, Status::Partly);
  ASSERT_EQ(clearing.problems.size(), 1u);
  EXPECT_TRUE(Contains(clearing.problems[0], "tasks: ")) << clearing.problems[0];
}

TEST_F(TaskSchedulerTest, ARefusedTaskLeavesNoRecord) {
  runner_.answers["schtasks"] = [](const ProgramCall&) {
    return ProgramResult{true, 1, {}, "ERROR: Access is denied.\r\n"};
  };
  const Outcome outcome = Schedule(host_, For(site_));
  EXPECT_EQ(outcome.status, Status::Failed);
  EXPECT_TRUE(Contains(ProblemText(outcome), "Access is denied")) << ProblemText(outcome);
  EXPECT_TRUE(ListSchedules(host_).entries.empty());
}

#if defined(_WIN32)
// This Windows's own Task Scheduler (under wine, its service once started:
// wine registers the task and its settings but neither runs it nor keeps
// its trigger and command).
TEST_F(ScheduleTest, TaskSchedulerTakesTheTaskAndDropsItAgain) {
  MachineRunner().Run("net", {"start", "schedule"}, {});
  Host host(MachineRunner());
  host.program = RunningProgram();
  host.stateFolder = dir_ / "state";
  host.windows = true;
  host.wine = UnderWine();
  const fs::path folder = fs::canonical(dir_) / PathOf("Grüße site");
  fs::create_directories(folder);
  const Outcome outcome = Schedule(host, For(folder));
  // wine's Task Scheduler takes the task, and says it will not run it.
  ASSERT_EQ(outcome.status, host.wine ? Status::Partly : Status::Done) << ProblemText(outcome);
  // Windows lets administrators alone read the tasks' files; wine lets anyone.
  const wchar_t* windows = _wgetenv(L"windir");
  const fs::path file = fs::path(windows != nullptr ? windows : L"C:\\windows") / "system32" /
                        "Tasks" / "Lapse" / PathOf(outcome.entry.name);
  std::error_code error;
  const bool readable = fs::exists(file.parent_path(), error);
  if (readable) {
    EXPECT_TRUE(fs::exists(file));
  }
  const Listing listing = ListSchedules(host);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].folder, folder);
  ASSERT_EQ(Unschedule(host, TextOf(folder)).status, Status::Done);
  if (readable) {
    EXPECT_FALSE(fs::exists(file));
  }
  EXPECT_TRUE(ListSchedules(host).entries.empty());
}
#endif

#if !defined(_WIN32)
// systemd's own reading of the units, where systemd-analyze is installed: no
// manager needs to run for it.
class SystemdAnalyzeTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    if (!MachineRunner().Has("systemd-analyze")) {
      GTEST_SKIP() << "systemd-analyze is not installed (Debian's package systemd has it)";
    }
    // ExecStart must name a program that is there: the lapse-cli built here.
    host_.program = LAPSE_CLI_PATH;
    host_.zoneInfo = "/usr/share/zoneinfo";
    host_.now = std::chrono::system_clock::now;
    ManagerRuns();
  }

  static std::string Verify(const fs::path& unit) {
    const ProgramResult result =
        MachineRunner().Run("systemd-analyze", {"verify", TextOf(unit)}, {});
    return result.status == 0 && result.errors.empty()
               ? std::string()
               : "status " + std::to_string(result.status) + ": " + result.errors + result.output;
  }
};

TEST_F(SystemdAnalyzeTest, UnitsForAwkwardFoldersPassVerifyAndTheirTimeIsTheOneAsked) {
  if (!KnownZone("Europe/Berlin", host_.zoneInfo)) {
    GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
  }
  std::string longName = "long";
  for (int i = 0; i < 30; ++i) {
    longName += " Grüße";
  }
  const std::pair<std::string, std::string> folders[] = {
      {"my site/Grüße 目录", ""},
      {"50% off $HOME 'it's' \"q\" a\\b", "Europe/Berlin"},
      {longName + "/" + longName, "UTC"},
  };
  for (const auto& [name, zone] : folders) {
    SCOPED_TRACE(name);
    const fs::path folder = fs::canonical(dir_) / PathOf(name);
    fs::create_directories(folder);
    Request request = For(folder);
    request.at = "06:30";
    request.zone = zone;
    const Outcome outcome = Schedule(host_, request);
    ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
    EXPECT_LE(outcome.entry.name.size(), 247u);
    EXPECT_EQ(Verify(host_.unitFolder / (outcome.entry.name + ".timer")), "");
    EXPECT_EQ(Verify(host_.unitFolder / (outcome.entry.name + ".service")), "");

    const std::string timer = Read(host_.unitFolder / (outcome.entry.name + ".timer"));
    const size_t from = timer.find("OnCalendar=") + 11;
    const std::string calendar = timer.substr(from, timer.find('\n', from) - from);
    const ProgramResult read =
        MachineRunner().Run("env", {"TZ=UTC", "systemd-analyze", "calendar", calendar}, {});
    ASSERT_EQ(read.status, 0) << read.errors;
    // "    Next elapse: Wed 2026-12-09 05:30:00 UTC"
    const NextStart next = NextDailyStart({6, 30}, zone, std::chrono::system_clock::now());
    const std::time_t seconds = std::chrono::system_clock::to_time_t(next.time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S UTC", &utc);
    EXPECT_TRUE(Contains(read.output, "Next elapse: ")) << read.output;
    EXPECT_TRUE(Contains(read.output, expected)) << read.output << "expected " << expected;
  }
}

// What systemd makes of the timer on the days Berlin's clocks change in
// 2027, and on an ordinary day: one start each day, at 03:00 where the
// clocks skip 02:30, at the first 02:30 where they read it twice.
TEST_F(SystemdAnalyzeTest, TheTimerStartsOnceOnTheDaysTheClocksChange) {
  if (!KnownZone("Europe/Berlin", host_.zoneInfo)) {
    GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
  }
  host_.now = [] {
    return std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours{10};
  };
  Request request = For(site_);
  request.at = "02:30";
  request.zone = "Europe/Berlin";
  const Outcome outcome = Schedule(host_, request);
  ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);
  EXPECT_EQ(Verify(host_.unitFolder / (outcome.entry.name + ".timer")), "");
  std::vector<std::string> args = {"TZ=UTC", "systemd-analyze", "calendar", "--iterations=3", ""};
  for (const std::string& line : LinesOf(UnitText(".timer"))) {
    if (line.rfind("OnCalendar=", 0) == 0) {
      args.push_back(line.substr(11));
    }
  }
  const struct {
    const char* base;
    std::vector<std::string> starts;  // in UTC
  } days[] = {
      {"2027-06-14 12:00:00 UTC",
       {"2027-06-15 00:30:00", "2027-06-16 00:30:00", "2027-06-17 00:30:00"}},
      {"2027-03-27 12:00:00 UTC",
       {"2027-03-28 01:00:00", "2027-03-29 00:30:00", "2027-03-30 00:30:00"}},
      {"2027-10-30 12:00:00 UTC",
       {"2027-10-31 00:30:00", "2027-11-01 01:30:00", "2027-11-02 01:30:00"}},
  };
  for (const auto& day : days) {
    SCOPED_TRACE(day.base);
    args[4] = std::string("--base-time=") + day.base;
    const ProgramResult read = MachineRunner().Run("env", args, {});
    ASSERT_EQ(read.status, 0) << read.errors;
    // "    Next elapse: Sun 2027-03-28 01:00:00 UTC", "       Iter. #2: ..."
    std::vector<std::string> starts;
    for (const std::string& line : LinesOf(read.output)) {
      if ((Contains(line, "Next elapse: ") || Contains(line, "Iter. #")) &&
          Contains(line, " UTC")) {
        const size_t at = line.find(" 20");
        starts.push_back(line.substr(at + 1, 19));
      }
    }
    std::sort(starts.begin(), starts.end());
    starts.resize(std::min<size_t>(starts.size(), 3));
    EXPECT_EQ(starts, day.starts) << read.output;
  }
}

// Runs crontab as the unprivileged user nobody, with Debian's own crontab
// command, one test program at a time.
class NobodysCrontab final : public ProgramRunner {
 public:
  ProgramResult Run(const std::string& program, const std::vector<std::string>& args,
                    const std::string& input) override {
    if (program != "crontab") {
      return MachineRunner().Run(program, args, input);
    }
    std::vector<std::string> all = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--",
                                    "crontab"};
    all.insert(all.end(), args.begin(), args.end());
    return MachineRunner().Run("setpriv", all, input);
  }
  bool Has(const std::string& program) override { return MachineRunner().Has(program); }
};

class RealCrontabTest : public ScheduleTest {
 protected:
  void SetUp() override {
    ScheduleTest::SetUp();
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root, to run crontab as the user nobody: as any other user it "
                      "would change that user's own crontab";
    }
    if (!MachineRunner().Has("crontab") || !MachineRunner().Has("setpriv")) {
      GTEST_SKIP() << "crontab (Debian's package cron) or setpriv is not installed";
    }
    lock_ = ::open("/tmp/lapse-nobody-crontab.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock_, 0);
    ASSERT_EQ(::flock(lock_, LOCK_EX), 0);
    nobody_.Run("crontab", {"-r"}, {});
    ASSERT_EQ(nobody_.Run("crontab", {"-"}, "0 3 * * * echo mine\n").status, 0);
  }
  void TearDown() override {
    if (lock_ >= 0) {
      nobody_.Run("crontab", {"-r"}, {});
      ::close(lock_);
    }
    ScheduleTest::TearDown();
  }

  // What the line's command prints, run as cron would run it.
  static std::string RunCommand(const std::string& command) {
    return MachineRunner().Run("/bin/sh", {"-c", testing_support::CronPasses(command)}, {}).output;
  }

  NobodysCrontab nobody_;
  int lock_ = -1;
};

TEST_F(RealCrontabTest, TheLinesStartLapseCliWithTheFolderAsOneArgument) {
  // A lapse-cli that prints its arguments, in a folder of an awkward name.
  const fs::path bin = fs::canonical(dir_) / "bin's 50%";
  fs::create_directories(bin);
  Write(bin / "lapse-cli", "#!/bin/sh\nfor a; do printf '[%s]' \"$a\"; done\n");
  fs::permissions(bin / "lapse-cli", fs::perms::owner_all);
  Host host(nobody_);
  host.program = bin / "lapse-cli";
  host.unitFolder = host_.unitFolder;
  host.systemdRuntime = host_.systemdRuntime;
  host.processes = host_.processes;
  host.stateFolder = host_.stateFolder;
  host.windows = false;
  const std::string names[] = {"my site 50% it's", "$HOME `id` \"q\" a\\%b\\", "Grüße 目录"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const fs::path folder = fs::canonical(dir_) / PathOf(name);
    fs::create_directories(folder);
    Request request = For(folder);
    request.scheduler = "cron";
    request.recursive = true;
    const Outcome outcome = Schedule(host, request);
    ASSERT_EQ(outcome.status, Status::Done) << ProblemText(outcome);

    const ProgramResult listed = nobody_.Run("crontab", {"-l"}, {});
    ASSERT_EQ(listed.status, 0) << listed.errors;
    const std::string mark = " # lapse-schedule " + outcome.entry.name;
    int found = 0;
    for (const std::string& line : LinesOf(listed.output)) {
      if (line.size() < mark.size() || line.substr(line.size() - mark.size()) != mark) {
        continue;
      }
      ++found;
      // The command: after "@reboot", or after the five time fields.
      size_t start = 0;
      if (line.rfind("@reboot ", 0) == 0) {
        start = 8;
      } else {
        for (int field = 0; field < 5; ++field) {
          start = line.find(' ', start) + 1;
        }
      }
      EXPECT_EQ(RunCommand(line.substr(start)), "[update][--quiet][--recursive][--folder-id][" +
                                                    IdText(folder) + "][" + TextOf(folder) + "]")
          << line;
    }
    EXPECT_EQ(found, 2);
  }
  EXPECT_EQ(ListSchedules(host).entries.size(), 3u);
  for (const std::string& name : names) {
    ASSERT_EQ(Unschedule(host, TextOf(fs::canonical(dir_) / PathOf(name))).status, Status::Done);
  }
  EXPECT_EQ(nobody_.Run("crontab", {"-l"}, {}).output, "0 3 * * * echo mine\n");
}

// The line runs the lapse-cli built here, which updates only in the
// quarter hour of the zone's time; an update leaves its line in the history.
TEST_F(RealCrontabTest, InAnotherZoneTheLineUpdatesOnlyAtThatZonesTime) {
  Host host(nobody_);
  host.program = LAPSE_CLI_PATH;
  host.unitFolder = host_.unitFolder;
  host.systemdRuntime = host_.systemdRuntime;
  host.processes = host_.processes;
  host.stateFolder = host_.stateFolder;
  host.windows = false;
  if (!KnownZone("Asia/Tokyo", host.zoneInfo)) {
    GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
  }
  const fs::path state = fs::canonical(dir_) / "state";
  const std::string zoneNow =
      MachineRunner().Run("env", {"TZ=:Asia/Tokyo", "date", "+%H:%M"}, {}).output.substr(0, 5);
  for (const bool due : {false, true}) {
    TimeOfDay at = *ParseTimeOfDay(zoneNow);
    if (!due) {
      at.hour = (at.hour + 12) % 24;
    }
    Request request = For(site_);
    request.scheduler = "cron";
    request.zone = "Asia/Tokyo";
    request.at = FormatTimeOfDay(at);
    ASSERT_EQ(Schedule(host, request).status, Status::Done);
    std::string daily;
    for (const std::string& line : LinesOf(nobody_.Run("crontab", {"-l"}, {}).output)) {
      if (line.rfind("# ", 0) != 0 && line.rfind("@reboot", 0) != 0 &&
          Contains(line, "# lapse-schedule")) {
        daily = line;
      }
    }
    size_t start = 0;
    for (int field = 0; field < 5; ++field) {
      start = daily.find(' ', start) + 1;
    }
    const ProgramResult ran =
        MachineRunner().Run("env",
                            {"XDG_STATE_HOME=" + TextOf(state), "/bin/sh", "-c",
                             testing_support::CronPasses(daily.substr(start))},
                            {});
    EXPECT_EQ(ran.status, 0) << daily << ": " << ran.errors;
    EXPECT_EQ(ran.output + ran.errors, "") << daily;
    EXPECT_EQ(ReadHistory(HistoryFile(state / "lapse")).size(), due ? 1u : 0u) << daily;
  }
}
#endif

#if !defined(_WIN32)
// What a scheduled update leaves for `schedules` and the schedule dialog:
// lapse-cli itself adds each update to the history in the state folder.
TEST_F(ScheduleTest, EachUpdateOfTheToolIsAddedToTheHistory) {
  struct Case {
    const char* page;
    int status;
    std::uint64_t rewritten;
    const char* left;
  };
  const Case cases[] = {
      {"a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n", 0, 1, nullptr},
      {"<!--LAPSE when\nkept as it is\n", 1, 0, "page.htm:1: 'when' is no date"},
  };
  const fs::path state = fs::canonical(dir_) / "state";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    Write(site_ / "page.htm", c.page);
    const ProgramResult update =
        MachineRunner().Run("env",
                            {"XDG_STATE_HOME=" + TextOf(state), "TZ=UTC", LAPSE_CLI_PATH, "update",
                             "--quiet", "--today", "2026-12-08", TextOf(site_)},
                            {});
    ASSERT_TRUE(update.started);
    EXPECT_EQ(update.status, c.status) << update.errors;
    const std::optional<HistoryEntry> last = LastUpdate(site_, HistoryFile(state / "lapse"));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->status, c.status);
    EXPECT_EQ(last->rewritten, c.rewritten);
    EXPECT_FALSE(last->recursive);
    ASSERT_EQ(last->left.size(), c.left ? 1u : 0u);
    if (c.left) {
      EXPECT_EQ(last->left[0].why, c.left);
    }
  }
  EXPECT_EQ(ReadHistory(HistoryFile(state / "lapse")).size(), 2u);
}

// A scheduled update whose path leads to another folder by now (here one
// moved into its place) leaves that folder as it is, exits with 2
// and says so in the history, under the folder's name as it was scheduled.
TEST_F(ScheduleTest, TheToolRefusesAFolderPutInTheScheduledOnesPlace) {
  crontab_.InstallInto(runner_);
  const Outcome scheduled = Schedule(host_, For(site_));
  ASSERT_EQ(scheduled.status, Status::Done) << ProblemText(scheduled);
  const fs::path others = fs::canonical(dir_) / "others";
  fs::create_directories(others);
  const std::string page = "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n";
  Write(others / "page.htm", page);
  // Another folder moved into its place; a link there the update refuses
  // before it looks at the identity.
  fs::rename(site_, dir_ / "site.old");
  fs::rename(others, site_);

  const fs::path state = fs::canonical(dir_) / "state";
  ASSERT_TRUE(scheduled.entry.folderId);
  const ProgramResult ran = MachineRunner().Run(
      "env",
      {"XDG_STATE_HOME=" + TextOf(state), "TZ=UTC", LAPSE_CLI_PATH, "update", "--quiet",
       "--folder-id", FolderIdText(*scheduled.entry.folderId), TextOf(site_)},
      {});
  ASSERT_TRUE(ran.started);
  EXPECT_EQ(ran.status, 2);
  EXPECT_TRUE(Contains(ran.errors, "lapse-cli update: " + TextOf(site_) +
                                       "/ is no longer the folder that was scheduled"))
      << ran.errors;
  EXPECT_EQ(Read(site_ / "page.htm"), page);
  EXPECT_FALSE(fs::exists(site_ / "New"));
  const std::vector<HistoryEntry> history = ReadHistory(HistoryFile(state / "lapse"));
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].folder, site_);
  EXPECT_EQ(history[0].status, 2);
  EXPECT_EQ(history[0].outcome, UpdateOutcome::NotTheScheduledFolder);
  EXPECT_TRUE(Contains(Summary(history[0]), ": not updated: " + TextOf(site_) + "/ is no longer"))
      << Summary(history[0]);
}
#endif

}  // namespace
}  // namespace lapse::schedule
