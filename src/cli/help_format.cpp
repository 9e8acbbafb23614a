#include "cli/help_format.h"

#include <algorithm>
#include <sstream>

namespace lapse::cli {

namespace {

// Where the descriptions begin: wide enough for "--date-order ORDER".
constexpr std::size_t kNameColumn = 28;
constexpr std::size_t kNarrowest = 60;
constexpr std::size_t kWidest = 120;

}  // namespace

std::string WrapWords(const std::string& text, std::size_t width, std::size_t indent) {
  std::istringstream words(text);
  std::string wrapped;
  std::size_t column = indent;
  for (std::string word; words >> word;) {
    if (column > indent && column + 1 + word.size() > width) {
      wrapped += '\n' + std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      wrapped += ' ';
      ++column;
    }
    wrapped += word;
    column += word.size();
  }
  return wrapped;
}

HelpFormatter::HelpFormatter(std::size_t columns)
    : columns_(std::clamp(columns, kNarrowest, kWidest)) {
  column_width(kNameColumn);
  label("SUBCOMMAND", "COMMAND");
}

std::string HelpFormatter::Entry(const std::string& name, const std::string& description) const {
  std::string entry = "  " + name;
  if (description.empty()) {
    return entry + '\n';
  }
  if (entry.size() + 1 > kNameColumn) {
    entry += '\n' + std::string(kNameColumn, ' ');
  } else {
    entry.resize(kNameColumn, ' ');
  }
  return entry + WrapWords(description, columns_ - 1, kNameColumn) + '\n';
}

std::string HelpFormatter::make_option(const CLI::Option* option, bool positional) const {
  return Entry(make_option_name(option, positional) + make_option_opts(option),
               make_option_desc(option));
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
  // The value's name alone: the descriptions say in words what an option
  // needs, excludes or takes by default, where the parser would list
  // "REQUIRED", "Excludes: --verbose" or "=3" in its own terms.
  if (!option->get_option_text().empty()) {
    return ' ' + option->get_option_text();
  }
  if (option->get_type_size() == 0 || option->get_type_name().empty()) {
    return {};
  }
  return ' ' + get_label(option->get_type_name());
}

std::string HelpFormatter::make_subcommand(const CLI::App* command) const {
  return Entry(command->get_display_name(true), command->get_description());
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
  const std::string description = app->get_description();
  return description.empty() ? std::string() : WrapWords(description, columns_ - 1, 0) + '\n';
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  const std::string footer = app->get_footer();
  return footer.empty() ? std::string() : WrapWords(footer, columns_ - 1, 0) + '\n';
}

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  std::string usage = CLI::Formatter::make_usage(app, std::move(name));
  if (const std::size_t optional = usage.find("[DIR]"); optional != std::string::npos) {
    // A command that takes --all in place of DIR (unschedule) needs one of
    // the two.
    usage.replace(optional, 5,
                  app->get_option_no_throw("--all") != nullptr ? "{DIR | --all}" : "DIR");
  }
  return usage;
}

}  // namespace lapse::cli
