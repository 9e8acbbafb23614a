// Starting other programs: the schedulers' own commands (systemctl,
// crontab, schtasks). Every start goes through this interface, so that tests
// answer in the programs' place.
#pragma once

#include <string>
#include <vector>

namespace lapse::schedule {

struct ProgramResult {
  // False when the program could not be started at all (not found, say);
  // then status means nothing.
  bool started = false;
  int status = -1;     // the exit status; -1 when it ended on a signal
  std::string output;  // what it wrote to its output stream
  std::string errors;  // what it wrote to its error stream
};

class ProgramRunner {
 public:
  virtual ~ProgramRunner() = default;
  // Runs program (a name looked up on the PATH) with args, input on its
  // input stream, and waits for its end.
  virtual ProgramResult Run(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input) = 0;
  // Whether a program of that name is on the PATH.
  virtual bool Has(const std::string& program) = 0;
};

// The runner that starts real processes.
ProgramRunner& MachineRunner();

#if defined(_WIN32)
// One argument as the Windows C runtime reads it back from a command line
// (quotes around blanks, backslashes doubled before a quote).
std::wstring QuotedWindowsArgument(const std::wstring& argument);
#endif

}  // namespace lapse::schedule
