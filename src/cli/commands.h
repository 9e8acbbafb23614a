// The commands of lapse-cli, callable without a process of their own.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/date.h"
#include "engine/disk.h"
#include "engine/rewriter.h"

namespace lapse::cli {

// What the tool takes from its surroundings: today's date and the user's date
// locale, unless the command line names others, and the disk it works on.
struct Environment {
  engine::Clock clock;
  engine::DateLocale locale;
  engine::Disk& disk = engine::MachineDisk();
  // Whether the error stream is a terminal, where progress may show.
  bool errorIsTerminal = false;
};

// Exit statuses.
inline constexpr int kSuccess = 0;
inline constexpr int kFilesLeftOut = 1;
inline constexpr int kUsageError = 2;

// Runs the command line args (without the program name).
int RunCommandLine(const std::vector<std::string>& args, const Environment& environment,
                   std::ostream& out, std::ostream& err);

}  // namespace lapse::cli
