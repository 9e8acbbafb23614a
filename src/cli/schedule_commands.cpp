#include "cli/schedule_commands.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <nlohmann/json.hpp>

#include "platform/clock.h"
#include "schedule/history.h"
#include "schedule/missed.h"
#include "schedule/time_of_day.h"

namespace lapse::cli {

namespace {

int ExitStatus(schedule::Status status) {
  switch (status) {
    case schedule::Status::Done:
      return 0;
    case schedule::Status::Partly:
      return 1;
    case schedule::Status::Failed:
      return 2;
  }
  return 2;
}

nlohmann::json OptionsJson(const schedule::UpdateOptions& options) {
  using nlohmann::json;
  const auto number = [](const std::optional<std::int16_t>& value) {
    return value ? json(*value) : json(nullptr);
  };
  return {{"date_order", options.dateOrder.empty() ? json(nullptr) : json(options.dateOrder)},
          {"days", number(options.days)},
          {"lines", number(options.lines)},
          {"log", options.log},
          {"warn_days", number(options.warnDays)}};
}

nlohmann::json EntryJson(const schedule::Entry& entry, const schedule::UpdateState& state) {
  using nlohmann::json;
  return {{"folder", schedule::TextOf(entry.folder)},
          {"time", schedule::FormatTimeOfDay(entry.at)},
          {"time_zone", entry.zone.empty() ? json(nullptr) : json(entry.zone)},
          {"recursive", entry.recursive},
          {"scheduler", std::string(schedule::SchedulerName(entry.scheduler))},
          {"enabled", entry.enabled},
          {"options", OptionsJson(entry.options)},
          {"last_update", state.last ? json(platform::UtcText(state.last->time)) : json(nullptr)},
          {"last_status", state.last ? json(state.last->status) : json(nullptr)},
          {"missed", state.missed},
          {"ended_badly", state.endedBadly}};
}

std::string UnscheduledText(const schedule::Entry& entry) {
  return "Unscheduled: " + schedule::TextOf(entry.folder) + " is no longer updated by " +
         std::string(schedule::SchedulerTitle(entry.scheduler)) + " (" + entry.name + ").\n";
}

}  // namespace

ScheduleCommands::ScheduleCommands(CLI::App& app) {
  schedule_ = app.add_subcommand(
      "schedule", "Update DIR every day (lapse-cli update), catching up after the machine was off");
  schedule_->add_flag("--recursive", request_.recursive, "Take the folders below DIR too");
  schedule_->add_option("--at", request_.at, "The time of day (default 00:05)")->type_name("HH:MM");
  schedule_
      ->add_option("--time-zone", zone_,
                   "Read the time, and the day of the update, in this zone of the zone "
                   "database (Europe/Berlin) instead of the machine's")
      ->type_name("ZONE");
  AddDateOrderOption(*schedule_, removal_);
  AddDaysOption(*schedule_, removal_);
  AddLinesAndLogOptions(*schedule_, removal_);
  AddWarnDaysOption(*schedule_, warnDays_);
  schedule_
      ->add_option("--using", request_.scheduler,
                   "systemd, cron or task-scheduler (default: the machine's own)")
      ->type_name("SCHEDULER");
  schedule_->add_option("DIR", request_.folder, "The folder to update")->type_name("")->required();
  schedule_->footer(
      "Scheduling DIR again replaces its entry. systemd gets a timer and a service (user units, "
      "or system units for root), cron two lines of the user's crontab, Windows a task. The "
      "entry starts update with the options given here, and with --date-order of the user's "
      "locale where none is given: schedulers run with the system's locale.\n"
      "Exit status: 0 scheduled; 1 written in part, or written where nothing will start it (no "
      "systemd manager, no cron daemon: see the message); 2 bad input, or nothing could be "
      "scheduled.");

  unschedule_ = app.add_subcommand("unschedule",
                                   "Stop the daily update of DIR, or with --all of every folder");
  // DIR or --all: the command checks that one of them is given.
  unschedule_->add_option("DIR", request_.folder, "The scheduled folder (it may be gone)")
      ->type_name("");
  unschedule_->add_flag("--all", all_,
                        "Stop every daily update that you scheduled, with every scheduler, as "
                        "before Lapse is uninstalled");
  unschedule_->footer(
      "Exit status: 0 removed (with --all, also when nothing was scheduled); 1 removed in part, "
      "or with --all a scheduler could not be read (see the message); 2 DIR has no entry, bad "
      "input, or nothing could be removed.");

  schedules_ = app.add_subcommand(
      "schedules", "List the scheduled folders, their next update and how the last one went");
  schedules_->add_flag("--json", json_,
                       "Write one JSON object per scheduled folder, for monitoring: its "
                       "options, its last update (UTC) and status, and whether one was missed");
  schedules_->footer(
      "A folder whose last update is older than its last scheduled time, an hour past it, is "
      "named as missed; one whose last update exited with status 1 or 2, as ended badly.\n"
      "Each update adds a line to the user's history, $XDG_STATE_HOME/lapse/history.jsonl "
      "(~/.local/state/lapse/history.jsonl; %LOCALAPPDATA%\\Lapse\\history.jsonl on "
      "Windows).\nExit status: 0 listed; 1 a scheduler could not be read (the rest is listed); "
      "2 bad input.");
}

bool ScheduleCommands::Parsed() const {
  return schedule_->parsed() || unschedule_->parsed() || schedules_->parsed();
}

int ScheduleCommands::Run(const schedule::Host& host, text::DateOrder userOrder, std::ostream& out,
                          std::ostream& err) const {
  if (schedule_->parsed()) {
    return Schedule(host, userOrder, out, err);
  }
  if (unschedule_->parsed()) {
    return Unschedule(host, out, err);
  }
  return List(host, out, err);
}

int ScheduleCommands::Schedule(const schedule::Host& host, text::DateOrder userOrder,
                               std::ostream& out, std::ostream& err) const {
  schedule::Request request = request_;
  request.zone = zone_.value_or("");
  try {
    const Removal removal = CheckedRemoval("schedule", removal_);
    request.options.dateOrder = text::DateOrderName(removal.order.value_or(userOrder));
    request.options.days = removal.days;
    request.options.lines = removal.lines;
    request.options.log = removal.log;
    if (const std::optional<int> days = CheckedWarnDays("schedule", warnDays_)) {
      request.options.warnDays = static_cast<std::int16_t>(*days);
    }
  } catch (const UsageError& error) {
    err << error.text << '\n';
    return ExitStatus(schedule::Status::Failed);
  }
  schedule::Outcome outcome;
  if (zone_ && zone_->empty()) {
    outcome.status = schedule::Status::Failed;
    outcome.problem = schedule::Problem::UnknownZone;
  } else {
    outcome = schedule::Schedule(host, request);
  }
  if (outcome.status != schedule::Status::Failed) {
    out << schedule::DoneText(host, outcome) << '\n';
  }
  if (outcome.problem != schedule::Problem::None) {
    err << "lapse-cli schedule: " << schedule::ProblemText(host, outcome) << '\n';
  }
  return ExitStatus(outcome.status);
}

int ScheduleCommands::Unschedule(const schedule::Host& host, std::ostream& out,
                                 std::ostream& err) const {
  const char* help = " (see lapse-cli unschedule --help)\n";
  if (all_ && !request_.folder.empty()) {
    err << "lapse-cli unschedule: give DIR or --all, not both" << help;
    return ExitStatus(schedule::Status::Failed);
  }
  if (all_) {
    return UnscheduleAll(host, out, err);
  }
  if (request_.folder.empty()) {
    err << "lapse-cli unschedule: which folder?" << help;
    return ExitStatus(schedule::Status::Failed);
  }
  const schedule::Outcome outcome = schedule::Unschedule(host, request_.folder);
  if (outcome.status != schedule::Status::Failed) {
    out << UnscheduledText(outcome.entry);
  }
  if (outcome.problem != schedule::Problem::None) {
    err << "lapse-cli unschedule: " << schedule::ProblemText(outcome) << '\n';
  }
  return ExitStatus(outcome.status);
}

int ScheduleCommands::UnscheduleAll(const schedule::Host& host, std::ostream& out,
                                    std::ostream& err) const {
  const schedule::Clearing clearing = schedule::UnscheduleAll(host);
  for (const schedule::Outcome& outcome : clearing.outcomes) {
    if (outcome.status != schedule::Status::Failed) {
      out << UnscheduledText(outcome.entry);
    }
    // Each line names its folder: the entries that stay are told apart.
    if (outcome.problem != schedule::Problem::None) {
      err << "lapse-cli unschedule: " << schedule::TextOf(outcome.entry.folder) << ": "
          << schedule::ProblemText(outcome) << '\n';
    }
  }
  for (const std::string& problem : clearing.problems) {
    err << "lapse-cli unschedule: Cannot read the schedule: " << problem
        << "; its entries may be left.\n";
  }
  if (clearing.outcomes.empty() && clearing.problems.empty()) {
    out << "No folder was scheduled.\n";
  }
  return ExitStatus(clearing.status);
}

int ScheduleCommands::List(const schedule::Host& host, std::ostream& out, std::ostream& err) const {
  const schedule::Listing listing = schedule::ListSchedules(host);
  const std::vector<schedule::HistoryEntry> history =
      schedule::ReadHistory(schedule::HistoryFile(host.stateFolder));
  const std::chrono::system_clock::time_point now = host.now();
  if (json_) {
    nlohmann::json entries = nlohmann::json::array();
    for (const schedule::Entry& entry : listing.entries) {
      entries.push_back(EntryJson(entry, schedule::StateOf(entry, history, now)));
    }
    // A name that is no UTF-8 shows with replacement characters.
    out << entries.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }
  for (const schedule::Entry& entry : json_ ? std::vector<schedule::Entry>() : listing.entries) {
    out << schedule::TextOf(entry.folder) << "\n  " << schedule::WhenText(entry) << "; "
        << schedule::SchedulerTitle(entry.scheduler) << ": " << entry.name
        << "\n  options: " << schedule::OptionsText(entry) << '\n';
    if (const std::string state = schedule::NotStartedText(entry); !state.empty()) {
      out << "  " << state << '\n';
    } else {
      const schedule::NextStart next = schedule::NextDailyStart(entry.at, entry.zone, now);
      out << "  next update: " << next.text << (entry.zone.empty() ? "" : " " + entry.zone) << '\n';
    }
    const schedule::UpdateState state = schedule::StateOf(entry, history, now);
    out << "  last update: " << (state.last ? schedule::Summary(*state.last) : "none yet") << '\n';
    for (const std::string& said :
         {schedule::MissedText(state, now), schedule::EndedBadlyText(state)}) {
      if (!said.empty()) {
        out << "  " << said << '\n';
      }
    }
  }
  if (listing.entries.empty() && !json_) {
    out << "No folder is scheduled.\n";
  }
  for (const std::string& problem : listing.problems) {
    err << "lapse-cli schedules: Cannot read the schedule: " << problem << ".\n";
  }
  return listing.problems.empty() ? 0 : 1;
}

}  // namespace lapse::cli
