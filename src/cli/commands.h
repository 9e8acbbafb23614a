// The commands of lapse-cli, callable without a process of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::cli {

// What one `update` did, for the history of scheduled updates.
struct UpdateReport {
  std::filesystem::path folder;
  bool recursive = false;
  std::uint64_t rewritten = 0;  // pages now holding their copies
  // Each page left as it was, or held back, with why, as the user reads it.
  std::vector<std::string> leftAsTheyWere;
  // Why the update could not start, when it could not (status 2).
  std::string problem;
  int status = 0;  // the exit status
  // The folder was not the one --folder-id names: nothing was done to it.
  bool notTheScheduledFolder = false;
};

// What the tool takes from its surroundings: today's date and the user's date
// locale, unless the command line names others, and the disk it works on.
struct Environment {
  text::Clock clock;
  // The moment, for update --only-at.
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
  text::DateLocale locale;
  platform::Disk& disk = platform::MachineDisk();
  // Whether the error stream is a terminal, where progress may show, and
  // how many columns it has.
  bool errorIsTerminal = false;
  std::size_t terminalColumns = 80;
  // The columns of the terminal the output goes to, for --help; 80 where it
  // goes to no terminal.
  std::size_t outputColumns = 80;
  // Sets the zone that today's date is taken in, for the rest of the
  // process; the error for a zone the system does not know.
  std::function<std::error_code(const std::string& zone)> useTimeZone;
  // Told what each update did.
  std::function<void(const UpdateReport&)> updated;
  // The user's state folder, where replaces keep the pages they replace;
  // nothing keeps none, and leaves nothing to undo.
  std::optional<std::filesystem::path> keepIn = std::nullopt;
};

// Exit statuses.
inline constexpr int kSuccess = 0;
inline constexpr int kFilesLeftOut = 1;
inline constexpr int kUsageError = 2;

// Runs the command line args (without the program name).
int RunCommandLine(const std::vector<std::string>& args, const Environment& environment,
                   std::ostream& out, std::ostream& err);

}  // namespace lapse::cli
