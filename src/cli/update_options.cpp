#include "cli/update_options.h"

#include <CLI/CLI.hpp>

namespace lapse::cli {

void AddDaysOption(CLI::App& command, RemovalOptions& options) {
  command.add_option("--days", options.days, "Days a new-content tag stays new (default 30)")
      ->type_name("N");
}

void AddDateOrderOption(CLI::App& command, RemovalOptions& options) {
  command
      .add_option("--date-order", options.dateOrder,
                  "Order of numeric dates, the only one read: mdy, dmy or ymd (default: the "
                  "user's locale)")
      ->check(CLI::IsMember({"mdy", "dmy", "ymd"}))
      // Not the check's own list after the name: the description says
      // the values in words.
      ->option_text("ORDER");
}

void AddLinesAndLogOptions(CLI::App& command, RemovalOptions& options) {
  command
      .add_option("--lines", options.lines,
                  "Lines removed after a lapsed new-content tag (default 1)")
      ->type_name("N");
  CLI::Option* logFlag =
      command.add_flag("--log", options.withLog, "Write DIR/New/Log.txt (the default)");
  command.add_flag("--no-log", options.noLog, "Write no log")->excludes(logFlag);
}

void AddWarnDaysOption(CLI::App& command, std::string& days) {
  command
      .add_option("--warn-days", days,
                  "Name each tag that will change a page within N days, on the first day it "
                  "does and on the day before, even with --quiet")
      ->type_name("N");
}

std::optional<int> CheckedWarnDays(const std::string& command, const std::string& days) {
  if (days.empty()) {
    return std::nullopt;
  }
  return WholeNumber<int>(command, "--warn-days", days, 1, kMostWarnDays);
}

Removal CheckedRemoval(const std::string& command, const RemovalOptions& options) {
  Removal removal;
  if (!options.days.empty()) {
    removal.days = WholeNumber<std::int16_t>(command, "--days", options.days, -32768, 32767);
  }
  if (!options.lines.empty()) {
    removal.lines = WholeNumber<std::int16_t>(command, "--lines", options.lines, -32768, 32767);
  }
  // The parser took only the three names.
  removal.order = text::DateOrderNamed(options.dateOrder);
  removal.log = !options.noLog;
  return removal;
}

}  // namespace lapse::cli
