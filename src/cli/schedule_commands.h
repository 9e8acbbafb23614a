// The commands that schedule daily updates of a folder: schedule,
// unschedule and schedules. commands.cpp adds them to the tool's command
// line and runs the one given on the machine's schedulers; tests run them
// on their own.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "cli/update_options.h"
#include "schedule/schedule.h"
#include "text/date.h"

namespace CLI {
class App;
}

namespace lapse::cli {

class ScheduleCommands {
 public:
  // Adds the three subcommands to app.
  explicit ScheduleCommands(CLI::App& app);

  // Whether the parsed command line named one of them.
  bool Parsed() const;
  // Runs the one named on host's schedulers; returns the exit status.
  // userOrder is the date order of the user's locale, which a schedule
  // records where --date-order does not name one: the scheduler starts the
  // update with the system's locale.
  int Run(const schedule::Host& host, text::DateOrder userOrder, std::ostream& out,
          std::ostream& err) const;

 private:
  int Schedule(const schedule::Host& host, text::DateOrder userOrder, std::ostream& out,
               std::ostream& err) const;
  int Unschedule(const schedule::Host& host, std::ostream& out, std::ostream& err) const;
  int UnscheduleAll(const schedule::Host& host, std::ostream& out, std::ostream& err) const;
  int List(const schedule::Host& host, std::ostream& out, std::ostream& err) const;

  CLI::App* schedule_;
  CLI::App* unschedule_;
  CLI::App* schedules_;
  schedule::Request request_;
  // update's options for what it removes, as typed.
  RemovalOptions removal_;
  std::string warnDays_;  // as typed
  bool json_ = false;     // schedules --json
  bool all_ = false;      // unschedule --all
  // --time-zone as given: given empty, it is refused rather than read as
  // the machine's local time.
  std::optional<std::string> zone_;
};

}  // namespace lapse::cli
