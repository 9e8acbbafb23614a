// lapse-cli's command line, run in the test's process on a fixed day.
#pragma once

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "text/date.h"

namespace lapse::testing_support {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// The environment of a command line run on 2026-12-08, in English: the
// machine's own date and locale never reach a test.
inline cli::Environment TestEnvironment() {
  cli::Environment environment;
  environment.clock = [] { return std::chrono::local_days{std::chrono::year{2026} / 12 / 8}; };
  environment.locale = text::EnglishDateLocale();
  environment.useTimeZone = platform::UseTimeZone;
  return environment;
}

// The same over disk, keeping what a replace replaces in keepIn.
inline cli::Environment TestEnvironment(platform::Disk& disk, const std::filesystem::path& keepIn) {
  return {.clock = [] { return std::chrono::local_days{std::chrono::year{2026} / 12 / 8}; },
          .locale = text::EnglishDateLocale(),
          .disk = disk,
          .useTimeZone = platform::UseTimeZone,
          .updated = {},
          .keepIn = keepIn};
}

inline Outcome Call(const std::vector<std::string>& args, const cli::Environment& environment) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::RunCommandLine(args, environment, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace lapse::testing_support
