#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const lapse::cli::Environment environment{[] { return lapse::engine::LocalToday(); },
                                            lapse::engine::UserDateLocale()};
  return lapse::cli::RunCommandLine(args, environment, std::cout, std::cerr);
}
