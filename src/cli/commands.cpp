#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <chrono>
#include <optional>

#include "batch/batch.h"
#include "cli/schedule_commands.h"
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
  bool recursive = false;
  bool quiet = false;
};

batch::Recursion RecursionOf(const Options& options) {
  return options.recursive ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder;
}

// One line on a terminal's error stream that tells how far a long run or
// replace has come, erased at the end; nothing on a pipe or a file, so that
// mails from cron stay as they are.
class ProgressLine final : public batch::Progress {
 public:
  ProgressLine(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
  ~ProgressLine() override { Erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Advance(std::uint64_t done, std::uint64_t listed, const fs::path& current) override {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal_ || now - start_ < std::chrono::seconds(1) ||
        now - shown_ < std::chrono::milliseconds(100)) {
      return;
    }
    shown_ = now;
    std::string line = std::to_string(done) + " of " + std::to_string(listed) + " files";
    if (current.has_parent_path()) {
      line += ": " + engine::DisplayName(current.parent_path());
    }
    line.resize(std::min<std::size_t>(line.size(), kWidth));
    err_ << '\r' << line << std::string(kWidth - line.size(), ' ') << std::flush;
    visible_ = true;
  }

  // Clears the line before anything else is written to the stream.
  void Erase() {
    if (visible_) {
      err_ << '\r' << std::string(kWidth, ' ') << '\r' << std::flush;
      visible_ = false;
    }
  }

 private:
  static constexpr std::size_t kWidth = 78;
  std::ostream& err_;
  bool terminal_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
  bool visible_ = false;
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
  batch::RunSettings settings{environment.locale, environment.clock, RecursionOf(options)};
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
  ConsoleFrontEnd(std::ostream& err, bool terminal) : err_(err), progress_(err, terminal) {}
  bool Confirm(const fs::path&) override { return true; }
  void NewDirectoryCreated() override {}
  void FileLeftOut(const fs::path& name, const engine::FileReport& report) override {
    progress_.Erase();
    err_ << messages::LeftOut(name, report) << '\n';
  }
  void Advance(std::uint64_t done, std::uint64_t listed, const fs::path& current) override {
    progress_.Advance(done, listed, current);
  }
  void Done() { progress_.Erase(); }

 private:
  std::ostream& err_;
  ProgressLine progress_;
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
  ConsoleFrontEnd frontEnd(err, environment.errorIsTerminal);
  const batch::RunResult result = batch::BatchRun(environment.disk, state, DirectoryOf(options),
                                                  frontEnd, RunSettingsFrom(options, environment));
  frontEnd.Done();
  if (result.status != batch::RunStatus::Completed) {
    err << "lapse-cli: " << messages::Stopped(result.problem) << '\n';
    return kUsageError;
  }
  for (const std::string& note : messages::RunNotes(result)) {
    err << note << '\n';
  }
  out << messages::Processed(result.fileCount) << '\n';
  return result.filesLeftOut == 0 && !result.recordFailure && !result.logFailure ? kSuccess
                                                                                 : kFilesLeftOut;
}

int Replace(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err) {
  state::ProgramState state;
  const batch::RunPaths paths = batch::PathsFor(DirectoryOf(options));
  state.SourceDir = paths.sourceDir;
  state.NewDir = paths.newDir;
  batch::ReplaceResult result;
  {
    ProgressLine progress(err, environment.errorIsTerminal);
    result = batch::Replace(environment.disk, state, RecursionOf(options), &progress);
  }
  for (const fs::path& name : result.replaced) {
    if (!options.quiet) {
      out << "Replaced " << engine::DisplayName(name) << '\n';
    }
  }
  for (const fs::path& name : result.moved) {
    if (!options.quiet) {
      out << "Moved " << engine::DisplayName(name) << '\n';
    }
  }
  for (const std::string& problem : messages::ReplaceProblems(result)) {
    err << problem << '\n';
  }
  return result.Complete() ? kSuccess : kFilesLeftOut;
}

// Lists the dated tags of the HTML files of a folder and, when asked, of the
// folders below it (each folder's files before its subfolders).
class Checker {
 public:
  Checker(const Options& options, const Environment& environment, std::ostream& out,
          std::ostream& err)
      : settings_(RunSettingsFrom(options, environment)),
        disk_(environment.disk),
        today_(settings_.clock()),
        days_(static_cast<std::int16_t>(options.days)),
        out_(out),
        err_(err),
        buffer_(std::size_t{64} * 1024) {}

  void Folder(engine::Folder& folder, const fs::path& relative,
              const std::vector<engine::Entry>& entries) {
    for (const engine::Entry& entry : entries) {
      if (entry.kind == engine::EntryKind::OrdinaryFile && batch::IsHtmlFileName(entry.name)) {
        File(folder, entry.name, relative.empty() ? entry.name : relative / entry.name);
      }
    }
    if (settings_.recursion != batch::Recursion::Subfolders) {
      return;
    }
    for (const engine::Entry& entry : entries) {
      if (entry.kind != engine::EntryKind::Directory ||
          (relative.empty() && entry.name == fs::path("New"))) {
        continue;
      }
      engine::Expected<std::unique_ptr<engine::Folder>> below =
          disk_.OpenSubfolder(folder, entry.name);
      std::vector<engine::Entry> belowEntries;
      const std::error_code error = below ? disk_.List(**below, belowEntries) : below.error();
      if (error) {
        faulty_ = true;
        err_ << messages::Failure({engine::FileAction::Read, folder.PathOf(entry.name), error})
             << '\n';
        continue;
      }
      Folder(**below, relative.empty() ? entry.name : relative / entry.name, belowEntries);
    }
  }

  int Finish() {
    out_ << "Next lapse: " << (nextLapse_ ? engine::FormatDay(*nextLapse_) : "none") << '\n';
    return faulty_ ? kFilesLeftOut : kSuccess;
  }

 private:
  void File(engine::Folder& folder, const fs::path& name, const fs::path& shown) {
    if (engine::NamedAsCompressed(name)) {
      err_ << messages::LeftAsItIs(shown) << '\n';
      return;
    }
    engine::Expected<std::unique_ptr<engine::SourceFile>> source = disk_.OpenSource(folder, name);
    std::optional<engine::PageSource> page;
    if (source && page.emplace(**source).compression() == engine::Compression::Other) {
      err_ << messages::LeftAsItIs(shown) << '\n';
      return;
    }
    const std::string file = engine::DisplayName(shown);
    const bool read = source && ScanDatedTags(*page, buffer_, settings_.locale, page->units(),
                                              [&](const engine::DatedTag& tag) { Tag(file, tag); });
    if (!read) {
      faulty_ = true;
      err_ << messages::Failure({engine::FileAction::Read, folder.PathOf(name),
                                 source ? page->Error() : source.error()})
           << '\n';
    }
  }

  void Tag(const std::string& file, const engine::DatedTag& tag) {
    out_ << file << ':' << tag.line << ": ";
    if (!tag.date) {
      faulty_ = true;
      out_ << "date format error\n";
      return;
    }
    const bool expiry = tag.kind == engine::DatedTagKind::Expiry;
    const bool lapsed = expiry ? engine::ExpiryTagLapsed(*tag.date, today_)
                               : engine::NewTagLapsed(*tag.date, days_, today_);
    out_ << (expiry ? "expiry " : "new ") << engine::FormatTagDate(*tag.date)
         << (lapsed ? " lapsed\n" : " current\n");
    if (!lapsed) {
      const engine::Today day = engine::LapseDay(tag, days_);
      nextLapse_ = nextLapse_ ? std::min(*nextLapse_, day) : day;
    }
  }

  batch::RunSettings settings_;
  engine::Disk& disk_;
  engine::Today today_;
  std::int16_t days_;
  std::ostream& out_;
  std::ostream& err_;
  std::vector<char> buffer_;
  std::optional<engine::Today> nextLapse_;
  bool faulty_ = false;
};

int Check(const Options& options, const Environment& environment, std::ostream& out,
          std::ostream& err) {
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
  Checker checker(options, environment, out, err);
  checker.Folder(**folder, {}, entries);
  return checker.Finish();
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

void AddRecursive(CLI::App& command, Options& options) {
  command.add_flag("--recursive", options.recursive,
                   "Take the folders below DIR too (not hidden ones, links or DIR/New)");
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
  AddRecursive(*run, options);
  AddDirectory(*run, options, "The folder whose HTML files are rewritten");

  CLI::App* replace =
      app.add_subcommand("replace", "Put the copies in DIR/New in place of the files");
  AddRecursive(*replace, options);
  replace->add_flag("--quiet", options.quiet, "Name no file that was replaced or moved");
  AddDirectory(*replace, options, "The folder whose HTML files are replaced by their copies in DIR/New");

  CLI::App* check = app.add_subcommand("check", "List the dated tags of DIR's HTML files");
  AddDateOptions(*check, options);
  AddRecursive(*check, options);
  AddDirectory(*check, options, "The folder whose HTML files are read; nothing is written");

  const ScheduleCommands scheduling(app);

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
  if (scheduling.Parsed()) {
    return scheduling.Run(schedule::MachineHost(), out, err);
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
