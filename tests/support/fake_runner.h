// A ProgramRunner that starts nothing: it writes down each call and answers
// as the test says, per program.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "schedule/program_runner.h"

namespace lapse::testing_support {

struct ProgramCall {
  std::string program;
  std::vector<std::string> args;
  std::string input;
};

class FakeRunner final : public schedule::ProgramRunner {
 public:
  using Answer = std::function<schedule::ProgramResult(const ProgramCall&)>;

  schedule::ProgramResult Run(const std::string& program, const std::vector<std::string>& args,
                              const std::string& input) override {
    calls.push_back({program, args, input});
    const auto answer = answers.find(program);
    if (answer == answers.end()) {
      return present.count(program) != 0 ? schedule::ProgramResult{true, 0, {}, {}}
                                         : schedule::ProgramResult{false, -1, {}, "not found"};
    }
    return answer->second(calls.back());
  }
  bool Has(const std::string& program) override { return present.count(program) != 0; }

  // The calls of one program, each as "program arg arg...".
  std::vector<std::string> CallsOf(const std::string& program) const {
    std::vector<std::string> lines;
    for (const ProgramCall& call : calls) {
      if (call.program == program) {
        std::string line = call.program;
        for (const std::string& arg : call.args) {
          line += " " + arg;
        }
        lines.push_back(line);
      }
    }
    return lines;
  }

  std::set<std::string> present;
  std::map<std::string, Answer> answers;
  std::vector<ProgramCall> calls;
};

// A crontab kept in memory, answering `crontab -l` and `crontab -` as
// Debian's crontab does.
class MemoryCrontab {
 public:
  void InstallInto(FakeRunner& runner) {
    runner.present.insert("crontab");
    runner.answers["crontab"] = [this](const ProgramCall& call) {
      if (call.args == std::vector<std::string>{"-l"}) {
        if (!exists) {
          return schedule::ProgramResult{true, 1, {}, "no crontab for tester\n"};
        }
        return schedule::ProgramResult{true, 0, text, {}};
      }
      text = call.input;
      exists = true;
      return schedule::ProgramResult{true, 0, {}, {}};
    };
  }

  bool exists = false;
  std::string text;
};

}  // namespace lapse::testing_support
