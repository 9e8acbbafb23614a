// The options of update that change what it removes: the order its dates
// are read in, the days a new-content tag stays new, the lines removed after
// one, and the log. run, update and check take them, and schedule passes
// them on to the update it schedules, each checked here alike.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "text/date.h"
#include "text/names.h"

namespace CLI {
class App;
}

namespace lapse::cli {

// A mistake on the command line: said on the error stream, exit status 2.
struct UsageError {
  std::string text;
};

// As typed.
struct RemovalOptions {
  std::string days;
  std::string lines;
  std::string dateOrder;  // mdy, dmy or ymd; empty for the user's locale
  bool withLog = false;
  bool noLog = false;
};

// Once checked; nothing where the command line leaves the default.
struct Removal {
  std::optional<std::int16_t> days;
  std::optional<std::int16_t> lines;
  std::optional<text::DateOrder> order;
  bool log = true;
};

void AddDaysOption(CLI::App& command, RemovalOptions& options);
void AddDateOrderOption(CLI::App& command, RemovalOptions& options);
// --lines, --log and --no-log.
void AddLinesAndLogOptions(CLI::App& command, RemovalOptions& options);

// --warn-days N of update and schedule: the days ahead whose coming
// changes update names.
void AddWarnDaysOption(CLI::App& command, std::string& days);
inline constexpr int kMostWarnDays = 3660;
// Nothing for no option; UsageError for a number out of range.
std::optional<int> CheckedWarnDays(const std::string& command, const std::string& days);

// Throws UsageError for a number out of range.
Removal CheckedRemoval(const std::string& command, const RemovalOptions& options);

// A whole number from low to high; UsageError with the sentence that says
// what is wrong.
template <typename Number>
Number WholeNumber(const std::string& command, const std::string& option, const std::string& text,
                   Number low, Number high) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
    throw UsageError{"lapse-cli " + command + ": " + option + " takes a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high) + "; '" +
                     text::DisplayText(text) + "' is not one."};
  }
  return static_cast<Number>(value);
}

}  // namespace lapse::cli
