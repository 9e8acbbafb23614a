#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <optional>

#include "batch/batch.h"
#include "engine/names.h"
#include "engine/page_format.h"
#include "engine/tag_scanner.h"
#include "engine/tags.h"
#include "messages/messages.h"

namespace lapse::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kVersion = "lapse-cli " LAPSE_VERSION;

struct Options {
  std::string directory;
  std::string today;  // YYYY-MM-DD; empty for the clock's date
  int days = state::kDefaultNewDays;
  int lines = state::kDefaultLines;
  bool log = true;
  std::string dateOrder;  // mdy, dmy or ymd; empty for the user's locale
};

std::optional<engine::Today> ParseIsoDay(std::string_view text) {
  const auto digitsAt = [&](std::size_t from, std::size_t count) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digitsAt(0, 4) || !digitsAt(5, 2) ||
      !digitsAt(8, 2)) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t from, std::size_t count) {
    return std::stoi(std::string(text.substr(from, count)));
  };
  const std::chrono::year_month_day day{std::chrono::year{number(0, 4)},
                                        std::chrono::month{static_cast<unsigned>(number(5, 2))},
                                        std::chrono::day{static_cast<unsigned>(number(8, 2))}};
  if (!day.ok()) {
    return std::nullopt;
  }
  return engine::Today{day};
}

engine::DateOrder OrderFromName(const std::string& name, engine::DateOrder fallback) {
  if (name == "mdy")
    return engine::DateOrder::MonthDayYear;
  if (name == "dmy")
    return engine::DateOrder::DayMonthYear;
  if (name == "ymd")
    return engine::DateOrder::YearMonthDay;
  return fallback;
}

// The run's settings from the options, over the environment's defaults.
batch::RunSettings RunSettingsFrom(const Options& options, const Environment& environment) {
  batch::RunSettings settings{environment.locale, environment.clock};
  settings.locale.order = OrderFromName(options.dateOrder, environment.locale.order);
  if (!options.today.empty()) {
    const engine::Today today = *ParseIsoDay(options.today);
    settings.clock = [today] { return today; };
  }
  return settings;
}

// The tool answers the run's question itself and reports on the error stream.
class ConsoleFrontEnd final : public batch::RunFrontEnd {
 public:
  explicit ConsoleFrontEnd(std::ostream& err) : err_(err) {}
  bool Confirm(const fs::path&) override { return true; }
  void NewDirectoryCreated() override {}
  void FileLeftOut(const fs::path& name, const engine::FileReport& report) override {
    err_ << messages::LeftOut(name, report) << '\n';
  }

 private:
  std::ostream& err_;
};

// "site/" names the folder "site": the run appends its own separator.
fs::path DirectoryOf(const Options& options) {
  fs::path directory = engine::PathFromText(options.directory);
  while (directory.has_relative_path() && !directory.has_filename()) {
    directory = directory.parent_path();
  }
  return directory;
}

int Run(const Options& options, const Environment& environment, std::ostream& out,
        std::ostream& err) {
  state::ProgramState state;
  state.NewDays = static_cast<std::int16_t>(options.days);
  state.Lines = static_cast<std::int16_t>(options.lines);
  state.Log = options.log ? 1 : 0;
  ConsoleFrontEnd frontEnd(err);
  const batch::RunResult result = batch::BatchRun(environment.disk, state, DirectoryOf(options),
                                                  frontEnd, RunSettingsFrom(options, environment));
  if (result.status != batch::RunStatus::Completed) {
    err << "lapse-cli: " << messages::Stopped(result.problem) << '\n';
    return kUsageError;
  }
  for (const std::string& note : messages::RunNotes(result)) {
    err << note << '\n';
  }
  out << messages::Processed(result.fileCount) << '\n';
  return result.filesLeftOut == 0 && !result.recordFailure ? kSuccess : kFilesLeftOut;
}

int Replace(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err) {
  state::ProgramState state;
  const batch::RunPaths paths = batch::PathsFor(DirectoryOf(options));
  state.SourceDir = paths.sourceDir;
  state.NewDir = paths.newDir;
  const batch::ReplaceResult result = batch::Replace(environment.disk, state);
  for (const fs::path& name : result.replaced) {
    out << "Replaced " << engine::DisplayName(name) << '\n';
  }
  for (const fs::path& name : result.moved) {
    out << "Moved " << engine::DisplayName(name) << '\n';
  }
  for (const std::string& problem : messages::ReplaceProblems(result)) {
    err << problem << '\n';
  }
  return result.Complete() ? kSuccess : kFilesLeftOut;
}

int Check(const Options& options, const Environment& environment, std::ostream& out,
          std::ostream& err) {
  const batch::RunSettings settings = RunSettingsFrom(options, environment);
  const engine::Today today = settings.clock();
  const fs::path directory = batch::PathsFor(DirectoryOf(options)).sourceDir;
  engine::Disk& disk = environment.disk;
  engine::Expected<std::unique_ptr<engine::Folder>> folder = disk.OpenFolder(directory);
  std::vector<engine::Entry> entries;
  const std::error_code listError = folder ? disk.List(**folder, entries) : folder.error();
  if (listError) {
    err << "lapse-cli: Cannot list the folder " << engine::DisplayName(directory) << ": "
        << messages::Reason(listError) << ".\n";
    return kUsageError;
  }
  const auto days = static_cast<std::int16_t>(options.days);
  std::vector<char> buffer(std::size_t{64} * 1024);
  std::optional<engine::Today> nextLapse;
  bool faulty = false;
  for (const engine::Entry& entry : entries) {
    if (entry.kind != engine::EntryKind::OrdinaryFile || !batch::IsHtmlFileName(entry.name)) {
      continue;
    }
    const std::string file = engine::DisplayName(entry.name);
    if (engine::NamedAsCompressed(entry.name)) {
      err << messages::LeftAsItIs(entry.name) << '\n';
      continue;
    }
    engine::Expected<std::unique_ptr<engine::SourceFile>> source =
        disk.OpenSource(**folder, entry.name);
    std::optional<engine::PageSource> page;
    if (source && page.emplace(**source).compression() == engine::Compression::Other) {
      err << messages::LeftAsItIs(entry.name) << '\n';
      continue;
    }
    const bool read =
        source && ScanDatedTags(*page, buffer, settings.locale, page->units(), [&](const engine::DatedTag& tag) {
          out << file << ':' << tag.line << ": ";
          if (!tag.date) {
            faulty = true;
            out << "date format error\n";
            return;
          }
          const bool expiry = tag.kind == engine::DatedTagKind::Expiry;
          const bool lapsed = expiry ? engine::ExpiryTagLapsed(*tag.date, today)
                                     : engine::NewTagLapsed(*tag.date, days, today);
          out << (expiry ? "expiry " : "new ") << engine::FormatTagDate(*tag.date)
              << (lapsed ? " lapsed\n" : " current\n");
          if (!lapsed) {
            const engine::Today day = engine::LapseDay(tag, days);
            nextLapse = nextLapse ? std::min(*nextLapse, day) : day;
          }
        });
    if (!read) {
      faulty = true;
      err << messages::Failure({engine::FileAction::Read, (*folder)->PathOf(entry.name),
                                source ? page->Error() : source.error()})
          << '\n';
    }
  }
  out << "Next lapse: " << (nextLapse ? engine::FormatDay(*nextLapse) : "none") << '\n';
  return faulty ? kFilesLeftOut : kSuccess;
}

void AddDirectory(CLI::App& command, Options& options, const std::string& description) {
  // The arguments are UTF-8 on every platform, which CLI::ExistingDirectory
  // does not read them as on Windows.
  const CLI::Validator existingFolder(
      [](std::string& text) -> std::string {
        std::error_code error;
        const fs::file_status status = fs::status(engine::PathFromText(text), error);
        if (!fs::exists(status)) {
          return "Directory does not exist: " + text;
        }
        return fs::is_directory(status) ? "" : "Directory is actually a file: " + text;
      },
      "DIR");
  command.add_option("DIR", options.directory, description)
      ->required()
      ->check(existingFolder);
}

void AddDateOptions(CLI::App& command, Options& options) {
  command.add_option("--today", options.today, "Take this day as today (YYYY-MM-DD)")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return ParseIsoDay(text) ? "" : "'" + text + "' is no date of the form YYYY-MM-DD";
          },
          "YYYY-MM-DD"));
  command.add_option("--days", options.days, "Days a new-content tag stays new (default 30)")
      ->check(CLI::Range(-32768, 32767));
  command
      .add_option("--date-order", options.dateOrder, "Order of numeric dates (default: locale's)")
      ->check(CLI::IsMember({"mdy", "dmy", "ymd"}));
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, const Environment& environment,
                   std::ostream& out, std::ostream& err) {
  CLI::App app("Removes lapsed content from the HTML files of a folder.", "lapse-cli");
  app.set_version_flag("--version", kVersion);
  // On Windows "/web" is a folder here, not an option.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  Options options;

  CLI::App* run = app.add_subcommand("run", "Write rewritten copies into DIR/New");
  AddDateOptions(*run, options);
  run->add_option("--lines", options.lines,
                  "Lines removed after a lapsed new-content tag (default 1)")
      ->check(CLI::Range(-32768, 32767));
  bool withLog = false;
  bool noLog = false;
  CLI::Option* logFlag = run->add_flag("--log", withLog, "Write DIR/New/Log.txt (the default)");
  run->add_flag("--no-log", noLog, "Write no log")->excludes(logFlag);
  AddDirectory(*run, options, "The folder whose HTML files are rewritten");

  CLI::App* replace =
      app.add_subcommand("replace", "Put the copies in DIR/New in place of the files");
  AddDirectory(*replace, options, "The folder whose HTML files are replaced by their copies in DIR/New");

  CLI::App* check = app.add_subcommand("check", "List the dated tags of DIR's HTML files");
  AddDateOptions(*check, options);
  AddDirectory(*check, options, "The folder whose HTML files are read; nothing is written");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help, out, err);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version, out, err);
  } catch (const CLI::ParseError& error) {
    err << "lapse-cli: " << error.what() << " (see lapse-cli --help)\n";
    return kUsageError;
  }
  if (run->parsed()) {
    options.log = !noLog;
    return Run(options, environment, out, err);
  }
  if (replace->parsed()) {
    return Replace(options, environment, out, err);
  }
  return Check(options, environment, out, err);
}

}  // namespace lapse::cli
