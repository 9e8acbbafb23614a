// lapse-cli --help as people read it.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

namespace lapse::cli {

// Wraps every description and the footer to the width of the terminal the
// help goes to (80 where it goes to no terminal), and shows DIR as the
// required argument it is, although the parser leaves it to the command to
// say that it is missing, and keeps the parser's own words out of it.
class HelpFormatter final : public CLI::Formatter {
 public:
  explicit HelpFormatter(std::size_t columns);

  std::string make_option(const CLI::Option* option, bool positional) const override;
  std::string make_option_opts(const CLI::Option* option) const override;
  std::string make_subcommand(const CLI::App* command) const override;
  std::string make_description(const CLI::App* app) const override;
  std::string make_footer(const CLI::App* app) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;

 private:
  // name in the first column, description wrapped in the second.
  std::string Entry(const std::string& name, const std::string& description) const;

  std::size_t columns_;
};

// text broken at its spaces into lines that end by column width, each
// beginning at column indent (the first one where the caller left off
// there, the others after indent spaces). A word longer than a line stands
// alone on its line.
std::string WrapWords(const std::string& text, std::size_t width, std::size_t indent);

}  // namespace lapse::cli
