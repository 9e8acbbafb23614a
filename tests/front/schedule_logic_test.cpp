#include "front/schedule_logic.h"

#include <gtest/gtest.h>

#include <set>

#include "schedule/history.h"
#include "support/fake_runner.h"
#include "support/temp_dir.h"

namespace lapse::front {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class RecordingView final : public ScheduleView {
 public:
  void Show(const ScheduleState& shown) override { state = shown; }
  void SetFields(const ScheduleFields& shown) override { fields = shown; }
  ScheduleFields Fields() const override { return fields; }
  void EnableStop(bool enabled) override { stopEnabled = enabled; }
  void Tell(const std::string& text) override { said.push_back("tell: " + text); }
  void Warn(const std::string& text) override { said.push_back("warn: " + text); }
  void SelectTime() override { timeSelected = true; }
  void Hide() override { hidden = true; }

  ScheduleState state;
  ScheduleFields fields;
  bool stopEnabled = true;
  std::vector<std::string> said;
  bool timeSelected = false;
  bool hidden = false;
};

class ScheduleLogicTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    site_ = fs::canonical(dir_) / "site";
    fs::create_directories(site_);
    Write(dir_ / "lapse-cli", "a program");
    // A cron daemon runs.
    fs::create_directories(dir_ / "proc" / "1");
    Write(dir_ / "proc" / "1" / "comm", "cron\n");
    crontab_.InstallInto(runner_);
  }

  ScheduleServices Services() {
    return {[this] {
              schedule::Host host(runner_);
              host.program = fs::canonical(dir_) / "lapse-cli";
              host.unitFolder = dir_ / "units";
              host.systemdRuntime = dir_ / "no-manager";
              host.zoneInfo = dir_;
              host.stateFolder = dir_ / "state";
              host.processes = dir_ / "proc";
              host.windows = false;
              if (now_) {
                host.now = [now = *now_] { return now; };
              }
              return host;
            },
            [this](const fs::path& folder, bool recursive) -> std::optional<local_days> {
              asked.emplace_back(folder, recursive);
              if (!recursive) {
                return std::nullopt;
              }
              return local_days{year{2026} / 12 / 31};
            },
            {"dmy", std::int16_t{10}, std::int16_t{2}, false}};
  }

  testing_support::FakeRunner runner_;
  testing_support::MemoryCrontab crontab_;
  RecordingView view_;
  fs::path site_;
  std::vector<std::pair<fs::path, bool>> asked;
  // The machine's clock where nothing is set.
  std::optional<system_clock::time_point> now_;
};

TEST_F(ScheduleLogicTest, AnUnscheduledFolderShowsTheDefaultsAndStopIsOff) {
  ScheduleLogic logic(view_, Services());
  logic.Activate(site_, true);
  EXPECT_EQ(view_.fields.at, "00:05");
  EXPECT_TRUE(view_.fields.subfolders);
  EXPECT_EQ(view_.state.folder, site_.string());
  EXPECT_EQ(view_.state.status, "Not updated automatically.");
  EXPECT_EQ(view_.state.nextChange, "2026-12-31");
  EXPECT_EQ(view_.state.lastUpdate, "none yet");
  EXPECT_FALSE(view_.stopEnabled);
  EXPECT_EQ(asked, (std::vector<std::pair<fs::path, bool>>{{site_, true}}));

  view_.fields.subfolders = false;
  logic.SubfoldersChanged();
  EXPECT_EQ(view_.state.nextChange, "none found");
  EXPECT_EQ(asked.back(), (std::pair<fs::path, bool>{site_, false}));
  EXPECT_TRUE(view_.said.empty());
}

TEST_F(ScheduleLogicTest, ScheduleRegistersWhatTheFieldsSayAndStopEndsIt) {
  ScheduleLogic logic(view_, Services());
  logic.Activate(site_, false);
  view_.fields = {"06:30", true};
  logic.Schedule();
  EXPECT_TRUE(view_.said.empty()) << view_.said.front();
  EXPECT_EQ(view_.state.status,
            "Updated automatically every day at 06:30, with its subfolders, by cron. Update "
            "options: dates day first; new tags expire after 10 days; delete 2 lines of text "
            "after a lapsed new tag; no log.");
  EXPECT_TRUE(view_.stopEnabled);
  EXPECT_NE(crontab_.text.find("30 6 * * * "), std::string::npos) << crontab_.text;

  // Opened again, the dialog shows the schedule rather than the options.
  RecordingView again;
  ScheduleLogic reopened(again, Services());
  reopened.Activate(site_, false);
  EXPECT_EQ(again.fields.at, "06:30");
  EXPECT_TRUE(again.fields.subfolders);

  logic.Stop();
  EXPECT_EQ(view_.state.status, "Not updated automatically.");
  EXPECT_FALSE(view_.stopEnabled);
  EXPECT_EQ(crontab_.text.find("lapse-schedule"), std::string::npos) << crontab_.text;
  EXPECT_TRUE(view_.said.empty());
}

// The last update's line names an update missed past its hour's grace, and
// one that ended badly.
TEST_F(ScheduleLogicTest, AMissedUpdateAndOneThatEndedBadlyAreNamed) {
  const auto at = [](int day, int hour, int minute) {
    return sys_days{year{2026} / 12 / day} + hours{hour} + minutes{minute};
  };
  now_ = at(8, 10, 0);
  {
    ScheduleLogic logic(view_, Services());
    logic.Activate(site_, false);
    view_.fields = {"06:30", false};
    logic.Schedule();
    ASSERT_TRUE(view_.said.empty()) << view_.said.front();
    EXPECT_EQ(view_.state.lastUpdate, "none yet");
  }
  const struct {
    const char* name;
    system_clock::time_point now;
    std::optional<system_clock::time_point> updated;
    int status;
    std::string lastUpdate;  // with "SUMMARY" for the update's summary
    bool missed;
    bool endedBadly;
  } cases[] = {
      {"notYetDue", at(9, 7, 0), std::nullopt, 0, "none yet", false, false},
      {"neverRan", at(9, 7, 31), std::nullopt, 0, "Missed: no update since it was scheduled.", true,
       false},
      {"ran", at(9, 12, 0), at(9, 6, 31), 0, "SUMMARY", false, false},
      {"ranBadly", at(9, 12, 0), at(9, 6, 31), 1, "SUMMARY (ended badly)", false, true},
      {"missed", at(12, 7, 45), at(9, 6, 31), 0,
       "Missed: last update 2026-12-09 06:31, 3 days ago.", true, false},
      {"missedAfterABadOne", at(10, 8, 0), at(9, 6, 31), 2,
       "Missed: last update 2026-12-09 06:31, 1 day ago, and it ended badly.", true, true},
  };
  const fs::path history = dir_ / "state" / "history.jsonl";
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    fs::remove(history);
    std::string summary;
    if (item.updated) {
      schedule::HistoryEntry update;
      update.time = *item.updated;
      update.folder = site_;
      update.status = item.status;
      ASSERT_FALSE(schedule::AppendHistory(update, history));
      summary = schedule::Summary(update);
    }
    now_ = item.now;
    RecordingView view;
    ScheduleLogic logic(view, Services());
    logic.Activate(site_, false);
    std::string expected = item.lastUpdate;
    if (expected.starts_with("SUMMARY")) {
      expected.replace(0, 7, summary);
    }
    EXPECT_EQ(view.state.lastUpdate, expected);
    EXPECT_EQ(view.state.missed, item.missed);
    EXPECT_EQ(view.state.endedBadly, item.endedBadly);
  }
}

TEST_F(ScheduleLogicTest, ABadTimeIsRefusedAndTheTimeSelected) {
  ScheduleLogic logic(view_, Services());
  logic.Activate(site_, false);
  for (const char* at : {"25:00", "7pm", "7:5", ""}) {
    view_.said.clear();
    view_.timeSelected = false;
    view_.fields.at = at;
    logic.Schedule();
    if (std::string(at).empty()) {
      // An empty box takes the default time.
      EXPECT_TRUE(view_.said.empty());
      continue;
    }
    ASSERT_EQ(view_.said.size(), 1u) << at;
    EXPECT_EQ(view_.said[0], "warn: '" + std::string(at) +
                                 "' is no time of day: give it as HH:MM, from 00:00 to 23:59 "
                                 "(07:30, say).");
    EXPECT_TRUE(view_.timeSelected);
    EXPECT_FALSE(crontab_.exists);
  }
}

// An unscheduled folder's last update was run by hand (or by a schedule
// since stopped): the history's line, ended badly or not, beside a status
// that says the folder is not updated automatically.
TEST_F(ScheduleLogicTest, TheLastUpdateByHandComesFromTheHistory) {
  const struct {
    const char* name;
    std::optional<int> status;  // nothing: no update in the history
    const char* after;          // after the update's summary
    bool endedBadly;
  } cases[] = {
      {"none", std::nullopt, "", false},
      {"rewrote", 0, "", false},
      {"leftAPage", 1, " (ended badly)", true},
      {"couldNotStart", 2, " (ended badly)", true},
  };
  const fs::path history = dir_ / "state" / "history.jsonl";
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    fs::remove(history);
    std::string expected = "none yet";
    if (item.status) {
      schedule::HistoryEntry update;
      update.time = sys_days{year{2026} / 12 / 8} + minutes{5};
      update.folder = site_;
      update.status = *item.status;
      update.rewritten = 3;
      update.left = {{"a.htm", "its page changed after the run"}};
      ASSERT_FALSE(schedule::AppendHistory(update, history));
      expected = schedule::Summary(update) + item.after;
    }
    RecordingView view;
    ScheduleLogic logic(view, Services());
    logic.Activate(site_, false);
    EXPECT_EQ(view.state.status, "Not updated automatically.");
    EXPECT_EQ(view.state.lastUpdate, expected);
    EXPECT_EQ(view.state.endedBadly, item.endedBadly);
    EXPECT_FALSE(view.state.missed);
  }
}

// A schedule saved where nothing will start it is warned of in a desktop
// user's words: what was saved, why it will not run and what to do, with
// neither the scheduler's escaped names nor a shell command.
TEST_F(ScheduleLogicTest, AScheduleThatNothingWillStartIsWarnedOfInPlainWords) {
  std::set<std::string> tasks;
  const struct {
    const char* name;
    std::set<std::string> programs;
    bool wine;
    const char* why;
    const char* remedy;
  } cases[] = {
      {"noSystemdManager",
       {"systemctl"},
       false,
       "the scheduler of this computer (systemd) is not running",
       "An administrator can start it."},
      {"noCronDaemon",
       {"crontab"},
       false,
       "the scheduler of this computer (the cron service) is not running",
       "An administrator can start the cron service"},
      {"wine",
       {"schtasks"},
       true,
       "under wine here, whose Task Scheduler keeps tasks without ever starting them",
       "schedule it with Lapse on the system that wine runs on."},
  };
  // A dash in the name, which systemd's unit names escape.
  const fs::path folder = site_.parent_path() / "my-site";
  fs::create_directories(folder);
  Write(dir_ / "proc" / "1" / "comm", "init\n");
  runner_.answers["schtasks"] = [&tasks](const testing_support::ProgramCall& call) {
    if (call.args[0] == "/Create") {
      tasks.insert(call.args[2]);
    } else if (call.args[0] == "/Delete") {
      tasks.erase(call.args[2]);
    } else if (tasks.count(call.args[2]) == 0) {
      return schedule::ProgramResult{true, 1, {}, {}};
    }
    return schedule::ProgramResult{true, 0, {}, {}};
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
#if defined(_WIN32)
    // systemd and cron write into folders of a Linux system.
    if (!item.wine) {
      continue;
    }
#endif
    runner_.present = item.programs;
    ScheduleServices services = Services();
    services.host = [made = services.host, wine = item.wine] {
      schedule::Host host = made();
      host.windows = wine;
      host.wine = wine;
      return host;
    };
    RecordingView view;
    ScheduleLogic logic(view, services);
    logic.Activate(folder, false);
    logic.Schedule();
    ASSERT_EQ(view.said.size(), 1u);
    const std::string& said = view.said[0];
    EXPECT_EQ(said.rfind("warn: Saved: the daily update of " + folder.string() +
                             ", every day at 00:05. But nothing on this computer will start it: ",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find(item.why), std::string::npos) << said;
    EXPECT_NE(said.find(item.remedy), std::string::npos) << said;
    for (const char* raw : {"\\x2d", "'", "\"", "systemctl", "lapse-schedule", ".timer"}) {
      EXPECT_EQ(said.find(raw), std::string::npos) << raw << " in " << said;
    }
    EXPECT_EQ(view.state.status.rfind("Scheduled every day at 00:05, but not started: ", 0), 0u)
        << view.state.status;
    logic.Stop();
  }
}

TEST_F(ScheduleLogicTest, ChangingAScheduleKeepsItsSchedulerAndZone) {
  fs::create_directories(dir_ / "Europe");
  Write(dir_ / "Europe" / "Berlin", "TZif2...");
  ScheduleServices services = Services();
  schedule::Request request{site_.string(), "01:00", "Europe/Berlin", false, "cron"};
  request.options = {"ymd", std::nullopt, std::int16_t{3}, true};
  ASSERT_EQ(schedule::Schedule(services.host(), request).status, schedule::Status::Done);
  runner_.present.insert("systemctl");  // which would be the default now
  ScheduleLogic logic(view_, services);
  logic.Activate(site_, false);
  view_.fields.at = "02:00";
  logic.Schedule();
  EXPECT_TRUE(view_.said.empty());
  EXPECT_EQ(view_.state.status,
            "Updated automatically every day at 02:00 (Europe/Berlin), by cron. Update options: "
            "dates year first; delete 3 lines of text after a lapsed new tag.");
  EXPECT_FALSE(fs::exists(dir_ / "units"));
}

// An entry written before Lapse recorded the options is shown as such, and
// changed in the dialog it gets the date order of the user's locale.
TEST_F(ScheduleLogicTest, AnEntryWithoutOptionsIsShownAndGetsTheDateOrderWhenChanged) {
  ScheduleServices services = Services();
  services.options = {};
  schedule::Request request{site_.string(), "01:00", "", false, "cron"};
  ASSERT_EQ(schedule::Schedule(services.host(), request).status, schedule::Status::Done);
  ScheduleLogic logic(view_, services);
  logic.Activate(site_, false);
  EXPECT_EQ(view_.state.status,
            "Updated automatically every day at 01:00, by cron. Update options: dates in the "
            "order of the scheduler's language settings.");
  logic.Schedule();
  EXPECT_NE(view_.state.status.find("Update options: dates month first."), std::string::npos)
      << view_.state.status;
  EXPECT_NE(crontab_.text.find(" update --quiet --date-order "), std::string::npos)
      << crontab_.text;
}

TEST_F(ScheduleLogicTest, CloseHides) {
  ScheduleLogic logic(view_, Services());
  logic.Activate(site_, false);
  logic.Close();
  EXPECT_TRUE(view_.hidden);
}

}  // namespace
}  // namespace lapse::front
