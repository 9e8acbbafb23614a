#include "cli/schedule_commands.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "platform/clock.h"
#include "schedule/history.h"
#include "schedule/names.h"
#include "support/fake_runner.h"
#include "support/temp_dir.h"
#include "support/zone_cases.h"
#include "text/date.h"

namespace lapse::cli {
namespace {

namespace fs = std::filesystem;
using testing_support::FakeRunner;
using testing_support::MemoryCrontab;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class ScheduleCommandsTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    site_ = fs::canonical(dir_) / "my site";
    fs::create_directories(site_);
    Write(dir_ / "lapse-cli", "a program");
    host_.program = fs::canonical(dir_) / "lapse-cli";
    host_.unitFolder = dir_ / "units";
    host_.systemdRuntime = dir_ / "no-manager";
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
    crontab_.InstallInto(runner_);
  }

  // Runs a command line of the three commands alone, as the tool does.
  Outcome Call(std::vector<std::string> args) {
    for (std::string& arg : args) {
      if (arg == "SITE") {
        arg = site_.string();
      }
    }
    CLI::App app("test", "lapse-cli");
    app.require_subcommand(1);
    const ScheduleCommands commands(app);
    std::ostringstream out;
    std::ostringstream err;
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
      app.parse(reversed);
    } catch (const CLI::ParseError& error) {
      return {app.exit(error, out, err), out.str(), err.str()};
    }
    EXPECT_TRUE(commands.Parsed());
    const int status = commands.Run(host_, userOrder_, out, err);
    return {status, out.str(), err.str()};
  }

  FakeRunner runner_;
  MemoryCrontab crontab_;
  schedule::Host host_{runner_};
  fs::path site_;
  text::DateOrder userOrder_ = text::DateOrder::DayMonthYear;
};

TEST_F(ScheduleCommandsTest, ScheduleListUnschedule) {
  const Outcome scheduled = Call({"schedule", "--at", "06:30", "--recursive", "SITE"});
  EXPECT_EQ(scheduled.status, 0) << scheduled.err;
  EXPECT_EQ(scheduled.out, "Scheduled: " + site_.string() +
                               " is updated every day at 06:30, with its subfolders, by cron (" +
                               schedule::Fingerprint(site_.string()) +
                               ").\nOptions: --date-order dmy.\nNext update: 2026-12-09 06:30.\n");

  schedule::HistoryEntry update;
  update.time = host_.now() - std::chrono::hours{1};
  update.folder = site_;
  update.rewritten = 2;
  ASSERT_FALSE(schedule::AppendHistory(update, host_.stateFolder / "history.jsonl"));
  const Outcome listed = Call({"schedules"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            site_.string() + "\n  every day at 06:30, with its subfolders; cron: " +
                schedule::Fingerprint(site_.string()) +
                "\n  options: --date-order dmy\n  next update: 2026-12-09 06:30\n  last update: " +
                schedule::Summary(update) + "\n");

  const Outcome removed = Call({"unschedule", "SITE"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, "Unscheduled: " + site_.string() + " is no longer updated by cron (" +
                             schedule::Fingerprint(site_.string()) + ").\n");
  EXPECT_EQ(Call({"schedules"}).out, "No folder is scheduled.\n");
}

TEST_F(ScheduleCommandsTest, BadInputExitsWithTwoAndSaysWhy) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"schedule", "--at", "25:00", "SITE"}, "'25:00' is no time of day"},
      {{"schedule", "--at", "7pm", "SITE"}, "'7pm' is no time of day"},
      {{"schedule", "--time-zone", "Mars/Olympus", "SITE"}, "'Mars/Olympus' is no time zone"},
      {{"schedule", "--using", "launchd", "SITE"}, "'launchd' is no scheduler"},
      {{"schedule", "--using", "systemd", "SITE"}, "This machine does not have systemd"},
      {{"schedule", "SITE/missing"}, "does not exist"},
      {{"unschedule", "SITE"}, "is not scheduled"},
  };
  for (const auto& [args, said] : cases) {
    const Outcome outcome = Call(args);
    EXPECT_EQ(outcome.status, 2) << args[1];
    EXPECT_EQ(outcome.out, "") << args[1];
    EXPECT_EQ(outcome.err.rfind("lapse-cli " + args[0] + ": ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(said), std::string::npos) << outcome.err;
  }
  EXPECT_FALSE(crontab_.exists);
}

// schedule makes the one check of a zone that run, update and check make.
TEST_F(ScheduleCommandsTest, ScheduleTakesOnlyZonesOfTheDatabase) {
  if (!platform::IsZone("Europe/Berlin", host_.zoneInfo) ||
      !platform::IsZone("UTC", host_.zoneInfo)) {
    GTEST_SKIP() << "this system has no zone database";
  }
  for (const auto& [zone, known] : testing_support::kZoneCases) {
    SCOPED_TRACE(std::string("--time-zone '") + zone + "'");
    const Outcome outcome = Call({"schedule", "--time-zone", zone, "SITE"});
    if (known) {
      EXPECT_EQ(outcome.status, 0) << outcome.err;
      continue;
    }
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "lapse-cli schedule: '" + std::string(zone) +
                               "' is no time zone that this system knows: give a name of the "
                               "zone database, such as Europe/Berlin or UTC.\n");
    EXPECT_FALSE(crontab_.exists);
  }
}

// An entry written before schedules kept the folder's identity is listed
// as before (with no update in the history, as missed), and removed as
// before.
TEST_F(ScheduleCommandsTest, EntriesWithoutTheFolderIdentityAreListedAndRemoved) {
  const std::string id = schedule::Fingerprint(site_.string());
  const std::string mark = " # lapse-schedule " + id;
  const std::string command = host_.program.string() + " update --quiet '" + site_.string() + "'";
  crontab_.exists = true;
  std::string folder;  // in JSON
  for (const char c : site_.string()) {
    folder += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  crontab_.text = "# lapse-schedule " + id + " {\"at\":\"06:30\",\"folder\":\"" + folder +
                  "\",\"recursive\":false,\"zone\":\"\"}\n30 6 * * * " + command + mark +
                  "\n@reboot " + command + mark + "\n";
  const Outcome listed = Call({"schedules"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, site_.string() + "\n  every day at 06:30; cron: " + id +
                            "\n  options: none recorded (dates are read in the order of the "
                            "scheduler's locale)\n  next update: 2026-12-09 06:30\n  last update: "
                            "none yet\n  missed: no update since it was scheduled\n");
  EXPECT_EQ(Call({"unschedule", "SITE"}).status, 0);
  EXPECT_EQ(crontab_.text, "");
}

// The scheduled update removes what the user's own update would: the
// options that change it go into every line that starts it, with the date
// order of the user's locale where none is given.
TEST_F(ScheduleCommandsTest, TheEntryStartsUpdateWithTheOptionsGiven) {
  const struct {
    std::vector<std::string> args;
    std::string options;  // as the entry shows them
  } cases[] = {
      {{"schedule", "SITE"}, "--date-order dmy"},
      {{"schedule", "--date-order", "mdy", "SITE"}, "--date-order mdy"},
      {{"schedule", "--days", "-3", "--lines=2", "--no-log", "--date-order", "ymd", "SITE"},
       "--date-order ymd --days=-3 --lines=2 --no-log"},
      {{"schedule", "--log", "--days", "10", "SITE"}, "--date-order dmy --days=10"},
      {{"schedule", "--warn-days", "5", "--no-log", "SITE"},
       "--date-order dmy --no-log --warn-days=5"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.options);
    const Outcome scheduled = Call(item.args);
    ASSERT_EQ(scheduled.status, 0) << scheduled.err;
    EXPECT_NE(scheduled.out.find("\nOptions: " + item.options + ".\n"), std::string::npos)
        << scheduled.out;
    int starts = 0;
    std::istringstream lines(crontab_.text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("# ", 0) != 0) {
        ++starts;
        EXPECT_NE(line.find(" update --quiet " + item.options + " --folder-id "), std::string::npos)
            << line;
      }
    }
    EXPECT_EQ(starts, 2);
    const Outcome listed = Call({"schedules"});
    EXPECT_NE(listed.out.find("\n  options: " + item.options + "\n"), std::string::npos)
        << listed.out;
  }
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"schedule", "--days", "40000", "SITE"}, "lapse-cli schedule: --days takes a whole number"},
      {{"schedule", "--lines", "x", "SITE"}, "lapse-cli schedule: --lines takes a whole number"},
      {{"schedule", "--warn-days", "0", "SITE"},
       "lapse-cli schedule: --warn-days takes a whole number from 1"},
  };
  crontab_.text.clear();
  for (const auto& [args, said] : refused) {
    const Outcome outcome = Call(args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err.rfind(said, 0), 0u) << outcome.err;
  }
  EXPECT_EQ(crontab_.text, "");
}

// schedules names an update missed once its time and an hour's grace have
// passed since the last one (or since the folder was scheduled), and one that
// ended badly; --json says the same for monitoring.
TEST_F(ScheduleCommandsTest, SchedulesNameAMissedUpdateAndOneThatEndedBadly) {
  using std::chrono::hours;
  using std::chrono::minutes;
  using std::chrono::sys_days;
  using std::chrono::year;
  // Scheduled on 2026-12-08 at 10:00 for 06:30, with warnings.
  ASSERT_EQ(Call({"schedule", "--at", "06:30", "--warn-days", "7", "SITE"}).status, 0);
  const auto at = [](int day, int hour, int minute) {
    return sys_days{year{2026} / 12 / day} + hours{hour} + minutes{minute};
  };
  const struct {
    const char* name;
    std::chrono::system_clock::time_point now;
    std::optional<std::chrono::system_clock::time_point> updated;  // the last update
    int status;
    std::string said;        // the lines after "last update"
    const char* lastUpdate;  // in --json
  } cases[] = {
      {"sameDay", at(8, 23, 0), std::nullopt, 0, "", nullptr},
      {"withinGrace", at(9, 7, 29), std::nullopt, 0, "", nullptr},
      {"noneAfterGrace", at(9, 7, 31), std::nullopt, 0,
       "  missed: no update since it was scheduled\n", nullptr},
      {"updated", at(9, 7, 31), at(9, 6, 35), 0, "", "2026-12-09T06:35:00Z"},
      {"daysAgo", at(11, 8, 0), at(9, 6, 35), 0,
       "  missed: last update 2026-12-09 06:35, 2 days ago\n", "2026-12-09T06:35:00Z"},
      {"endedBadly", at(9, 7, 31), at(9, 6, 40), 2,
       "  the last update ended badly (exit status 2)\n", "2026-12-09T06:40:00Z"},
      {"missedAndBadly", at(10, 9, 0), at(9, 6, 40), 1,
       "  missed: last update 2026-12-09 06:40, 1 day ago\n  the last update ended badly (exit "
       "status 1)\n",
       "2026-12-09T06:40:00Z"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    fs::remove(host_.stateFolder / "history.jsonl");
    if (item.updated) {
      schedule::HistoryEntry update;
      update.time = *item.updated;
      update.folder = site_;
      update.status = item.status;
      if (item.status == 2) {
        update.problem = "the folder is locked";
      }
      ASSERT_FALSE(schedule::AppendHistory(update, host_.stateFolder / "history.jsonl"));
    }
    host_.now = [now = item.now] { return now; };
    const Outcome listed = Call({"schedules"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::size_t last = listed.out.find("  last update: ");
    ASSERT_NE(last, std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.substr(listed.out.find('\n', last) + 1), item.said);

    const Outcome json = Call({"schedules", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json entries = nlohmann::json::parse(json.out);
    ASSERT_EQ(entries.size(), 1u) << json.out;
    const nlohmann::json& entry = entries[0];
    EXPECT_EQ(entry["folder"], site_.string());
    EXPECT_EQ(entry["time"], "06:30");
    EXPECT_EQ(entry["options"]["warn_days"], 7);
    EXPECT_EQ(entry["options"]["date_order"], "dmy");
    EXPECT_EQ(entry["options"]["log"], true);
    EXPECT_TRUE(entry["options"]["days"].is_null());
    EXPECT_EQ(entry["last_update"],
              item.lastUpdate ? nlohmann::json(item.lastUpdate) : nlohmann::json(nullptr));
    EXPECT_EQ(entry["last_status"],
              item.updated ? nlohmann::json(item.status) : nlohmann::json(nullptr));
    EXPECT_EQ(entry["missed"], item.said.find("missed") != std::string::npos);
    EXPECT_EQ(entry["ended_badly"], item.said.find("badly") != std::string::npos);
  }
}

// No schedule is an empty list; an entry that recorded neither options nor
// when it was made, and has no update, has its options null and is missed.
TEST_F(ScheduleCommandsTest, SchedulesJsonOfNoneAndOfAnEntryThatRecordedNothing) {
  EXPECT_EQ(Call({"schedules", "--json"}).out, "[]\n");
  crontab_.exists = true;
  nlohmann::json metadata = {{"at", "06:30"}, {"folder", site_.string()}};
  crontab_.text = "# lapse-schedule 0123456789abcdef " + metadata.dump() + "\n";
  const Outcome json = Call({"schedules", "--json"});
  const nlohmann::json entries = nlohmann::json::parse(json.out);
  ASSERT_EQ(entries.size(), 1u) << json.out;
  EXPECT_TRUE(entries[0]["options"]["date_order"].is_null());
  EXPECT_TRUE(entries[0]["options"]["warn_days"].is_null());
  EXPECT_TRUE(entries[0]["last_update"].is_null());
  EXPECT_EQ(entries[0]["missed"], true);
  EXPECT_EQ(entries[0]["ended_badly"], false);
}

// Where nothing will start the entry, schedule says so and how to have it
// run, exits with 1, and leaves the entry that runs; schedules gives the
// idle entry no next update.
TEST_F(ScheduleCommandsTest, AnEntryThatWillNotRunIsSaidAndKeepsTheOneThatRuns) {
#if defined(_WIN32)
  GTEST_SKIP() << "systemd units and cron lines are written on Linux only";
#endif
  runner_.present.insert("systemctl");
  ASSERT_EQ(Call({"schedule", "--using", "cron", "SITE"}).status, 0);
  const std::string crontab = crontab_.text;
  const Outcome outcome = Call({"schedule", "--using", "systemd", "--at", "07:00", "SITE"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out.rfind("Written, not started: ", 0), 0u) << outcome.out;
  EXPECT_EQ(outcome.out.find("Next update"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.err.find("no systemd manager runs here: nothing will start them"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("entry with cron"), std::string::npos) << outcome.err;
  EXPECT_EQ(crontab_.text, crontab);

  const Outcome listed = Call({"schedules"});
  const std::string id = schedule::Fingerprint(site_.string());
  const std::string name = schedule::UnitBaseName(site_.string());
  EXPECT_EQ(listed.out,
            site_.string() + "\n  every day at 07:00; systemd: " + name +
                "\n  options: --date-order dmy\n  not started: its units are written, but their "
                "timer is not enabled (no systemd manager ran when it was scheduled)\n  last "
                "update: none yet\n" +
                site_.string() + "\n  every day at 00:05; cron: " + id +
                "\n  options: --date-order dmy\n  next update: 2026-12-09 00:05\n  last update: "
                "none yet\n");

  // No cron daemon either: the cron entry says so, and has no next update.
  fs::remove(dir_ / "proc" / "412" / "comm");
  const Outcome idle = Call({"schedule", "--using", "cron", "SITE"});
  EXPECT_EQ(idle.status, 1);
  EXPECT_NE(idle.err.find("no cron daemon runs on this machine: nothing will start it. Start cron"),
            std::string::npos)
      << idle.err;
  const Outcome none = Call({"schedules"});
  EXPECT_NE(none.out.find("  not started: no cron daemon runs on this machine\n  last update"),
            std::string::npos)
      << none.out;
  EXPECT_EQ(none.out.find("next update"), std::string::npos) << none.out;
  EXPECT_EQ(Call({"unschedule", "SITE"}).status, 0);
  EXPECT_EQ(Call({"schedules"}).out, "No folder is scheduled.\n");
}

TEST_F(ScheduleCommandsTest, AnUnreadableSchedulerIsReportedAndTheRestListed) {
  ASSERT_EQ(Call({"schedule", "SITE"}).status, 0);
  // Where the units should be, a file is in the way.
  Write(host_.unitFolder, "not a folder");
  const Outcome listed = Call({"schedules"});
  EXPECT_EQ(listed.status, 1);
  EXPECT_EQ(listed.err.rfind(
                "lapse-cli schedules: Cannot read the schedule: " + host_.unitFolder.string(), 0),
            0u)
      << listed.err;
  EXPECT_NE(listed.out.find(site_.string()), std::string::npos);
}

// unschedule --all, as an uninstall runs it: every entry of the user's goes,
// with whichever scheduler holds it, and the user's own crontab lines stay;
// nothing scheduled is no failure. What could not be removed or read is
// said, and the status tells how much was done.
TEST_F(ScheduleCommandsTest, UnscheduleAllRemovesEveryEntryOfTheUser) {
#if defined(_WIN32)
  GTEST_SKIP() << "systemd units and cron lines are written on Linux only";
#endif
  const fs::path other = fs::canonical(dir_) / "other site";
  fs::create_directories(other);
  const auto schedule = [this](const std::string& scheduler, const fs::path& folder) {
    const Outcome scheduled = Call({"schedule", "--using", scheduler, folder.string()});
    ASSERT_LE(scheduled.status, 1) << scheduled.err;
  };
  const auto unscheduled = [](const fs::path& folder, const std::string& by) {
    const std::string name = by == "cron" ? schedule::Fingerprint(folder.string())
                                          : schedule::UnitBaseName(folder.string());
    return "Unscheduled: " + folder.string() + " is no longer updated by " + by + " (" + name +
           ").\n";
  };
  const std::string userLines = "MAILTO=me@example.org\n0 3 * * * backup --all\n";
  const auto refused = [](const fs::path& folder) {
    return "lapse-cli unschedule: " + folder.string() +
           ": crontab - failed (exit status 1): crontab: the disk is full.\n";
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    int status;
    std::string out;
    std::string err;
    std::size_t left;  // the entries that schedules lists after
  } cases[] = {
      {"nothingScheduled", [] {}, 0, "No folder was scheduled.\n", "", 0},
      {"everyScheduler",
       [&] {
         schedule("cron", site_);
         schedule("systemd", other);
       },
       0, unscheduled(site_, "cron") + unscheduled(other, "systemd"), "", 0},
      // systemd's units will not run here, so the cron entry of the same
      // folder stays beside them: both go.
      {"oneFolderTwice",
       [&] {
         schedule("cron", site_);
         schedule("systemd", site_);
       },
       0, unscheduled(site_, "systemd") + unscheduled(site_, "cron"), "", 0},
      {"crontabRefused",
       [&] {
         schedule("cron", site_);
         schedule("cron", other);
         runner_.answers["crontab"] = [this](const testing_support::ProgramCall& call) {
           if (call.args == std::vector<std::string>{"-l"}) {
             return schedule::ProgramResult{true, 0, crontab_.text, {}};
           }
           return schedule::ProgramResult{true, 1, {}, "crontab: the disk is full\n"};
         };
       },
       2, "", refused(site_) + refused(other), 2},
      {"unitsUnreadable",
       [&] {
         schedule("cron", site_);
         Write(host_.unitFolder, "not a folder");
       },
       1, unscheduled(site_, "cron"),
       "lapse-cli unschedule: Cannot read the schedule: " + host_.unitFolder.string() + ": ", 0},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    runner_.calls.clear();
    runner_.answers.clear();
    runner_.present = {"systemctl"};
    crontab_.InstallInto(runner_);
    crontab_.exists = true;
    crontab_.text = userLines;
    fs::remove_all(host_.unitFolder);
    item.arrange();

    const Outcome outcome = Call({"unschedule", "--all"});
    EXPECT_EQ(outcome.status, item.status) << outcome.err;
    EXPECT_EQ(outcome.out, item.out);
    EXPECT_EQ(outcome.err.substr(0, item.err.size()), item.err) << outcome.err;
    if (item.status == 1) {
      // The unreadable scheduler: what it may hold is not said to be gone.
      EXPECT_NE(outcome.err.find("; its entries may be left.\n"), std::string::npos) << outcome.err;
      fs::remove(host_.unitFolder);
    } else {
      EXPECT_EQ(outcome.err, item.err);
    }
    const Outcome listed = Call({"schedules", "--json"});
    EXPECT_EQ(nlohmann::json::parse(listed.out).size(), item.left) << listed.out;
    if (item.left == 0) {
      EXPECT_EQ(crontab_.text, userLines);
    }
  }
}

// --all stands for DIR: one of the two, never both.
TEST_F(ScheduleCommandsTest, UnscheduleTakesEitherAFolderOrAll) {
  ASSERT_EQ(Call({"schedule", "SITE"}).status, 0);
  const std::string crontab = crontab_.text;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"unschedule", "--all", "SITE"},
       "lapse-cli unschedule: give DIR or --all, not both (see lapse-cli unschedule --help)\n"},
      {{"unschedule", "SITE", "--all"},
       "lapse-cli unschedule: give DIR or --all, not both (see lapse-cli unschedule --help)\n"},
      {{"unschedule"}, "lapse-cli unschedule: which folder? (see lapse-cli unschedule --help)\n"},
  };
  for (const auto& [args, said] : cases) {
    const Outcome outcome = Call(args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, said);
  }
  EXPECT_EQ(crontab_.text, crontab);
}

TEST_F(ScheduleCommandsTest, EachCommandsHelpTellsItsExitStatuses) {
  for (const char* command : {"schedule", "unschedule", "schedules"}) {
    const Outcome help = Call({command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status: 0 "), std::string::npos) << command << help.out;
  }
}

TEST(ScheduleCommandLineTest, TheToolTakesTheScheduleCommands) {
  std::ostringstream out;
  std::ostringstream err;
  Environment environment;
  environment.clock = [] { return platform::LocalToday(); };
  environment.locale = text::EnglishDateLocale();
  EXPECT_EQ(RunCommandLine({"--help"}, environment, out, err), 0);
  for (const char* command : {"schedule", "unschedule", "schedules"}) {
    EXPECT_NE(out.str().find(command), std::string::npos) << out.str();
  }
  // Refused before any scheduler is asked.
  EXPECT_EQ(RunCommandLine({"schedule", "--at", "7:5", "."}, environment, out, err), 2);
  EXPECT_NE(err.str().find("'7:5' is no time of day"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace lapse::cli
