// What cron does to the command of a crontab line before /bin/sh gets it:
// an unescaped % ends the command (the rest becomes its input), and \% is a
// percent sign; every other backslash stays.
#pragma once

#include <string>

namespace lapse::testing_support {

inline std::string CronPasses(const std::string& command) {
  std::string passed;
  bool escaped = false;
  for (const char c : command) {
    if (escaped) {
      if (c == '%') {
        passed.back() = '%';
      } else {
        passed += c;
      }
      escaped = false;
      continue;
    }
    if (c == '%') {
      break;
    }
    escaped = c == '\\';
    passed += c;
  }
  return passed;
}

}  // namespace lapse::testing_support
