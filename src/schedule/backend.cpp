#include "schedule/backend.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "schedule/durable_file.h"
#include "schedule/names.h"

namespace lapse::schedule::detail {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::optional<std::int16_t> ReadNumber(const Json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_number_integer()) {
    return std::nullopt;
  }
  const auto value = found->get<long long>();
  if (value < INT16_MIN || value > INT16_MAX) {
    return std::nullopt;
  }
  return static_cast<std::int16_t>(value);
}

// An entry written before Lapse recorded the options has none of them, and
// its update runs with update's defaults. A date order that is none of the
// three is not passed on.
void ReadOptions(const Json& json, UpdateOptions& options) {
  if (const auto order = json.find("dateOrder"); order != json.end() && order->is_string()) {
    const std::string name = order->get<std::string>();
    if (name == "mdy" || name == "dmy" || name == "ymd") {
      options.dateOrder = name;
    }
  }
  options.days = ReadNumber(json, "days");
  options.lines = ReadNumber(json, "lines");
  // A number of days the update would refuse is not passed on.
  options.warnDays = ReadNumber(json, "warnDays");
  if (options.warnDays && *options.warnDays < 1) {
    options.warnDays.reset();
  }
  if (const auto log = json.find("log"); log != json.end() && log->is_boolean()) {
    options.log = log->get<bool>();
  }
}

}  // namespace

std::string MetadataOf(const Entry& entry) {
  Json json = {{"folder", TextOf(entry.folder)},
               {"at", FormatTimeOfDay(entry.at)},
               {"zone", entry.zone},
               {"recursive", entry.recursive},
               {"log", entry.options.log}};
  if (entry.folderId) {
    json["folderId"] = FolderIdText(*entry.folderId);
  }
  if (entry.scheduledAt) {
    json["scheduled"] =
        std::chrono::duration_cast<std::chrono::seconds>(entry.scheduledAt->time_since_epoch())
            .count();
  }
  if (!entry.options.dateOrder.empty()) {
    json["dateOrder"] = entry.options.dateOrder;
  }
  if (entry.options.days) {
    json["days"] = *entry.options.days;
  }
  if (entry.options.lines) {
    json["lines"] = *entry.options.lines;
  }
  if (entry.options.warnDays) {
    json["warnDays"] = *entry.options.warnDays;
  }
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Entry> EntryFromMetadata(std::string_view text, SchedulerKind kind) {
  const Json json = Json::parse(text, nullptr, false);
  if (!json.is_object()) {
    return std::nullopt;
  }
  const auto folder = json.find("folder");
  const auto at = json.find("at");
  if (folder == json.end() || !folder->is_string() || at == json.end() || !at->is_string()) {
    return std::nullopt;
  }
  const std::optional<TimeOfDay> time = ParseTimeOfDay(at->get<std::string>());
  if (!time || folder->get<std::string>().empty()) {
    return std::nullopt;
  }
  Entry entry;
  entry.folder = PathOf(folder->get<std::string>());
  entry.at = *time;
  entry.scheduler = kind;
  if (const auto zone = json.find("zone"); zone != json.end() && zone->is_string()) {
    entry.zone = zone->get<std::string>();
  }
  if (const auto recursive = json.find("recursive");
      recursive != json.end() && recursive->is_boolean()) {
    entry.recursive = recursive->get<bool>();
  }
  if (const auto id = json.find("folderId"); id != json.end() && id->is_string()) {
    entry.folderId = ParseFolderId(id->get<std::string>());
  }
  ReadOptions(json, entry.options);
  if (const auto scheduled = json.find("scheduled");
      scheduled != json.end() && scheduled->is_number_integer()) {
    entry.scheduledAt =
        std::chrono::system_clock::time_point{std::chrono::seconds{scheduled->get<long long>()}};
  }
  return entry;
}

std::vector<std::string> OptionArguments(const UpdateOptions& options) {
  std::vector<std::string> args;
  if (!options.dateOrder.empty()) {
    args.emplace_back("--date-order");
    args.push_back(options.dateOrder);
  }
  // One word each, so that a negative number is not read as an option.
  if (options.days) {
    args.push_back("--days=" + std::to_string(*options.days));
  }
  if (options.lines) {
    args.push_back("--lines=" + std::to_string(*options.lines));
  }
  if (!options.log) {
    args.emplace_back("--no-log");
  }
  if (options.warnDays) {
    args.push_back("--warn-days=" + std::to_string(*options.warnDays));
  }
  return args;
}

CronDaemon CronDaemonState(const Host& host) {
  std::error_code error;
  // Where the first process cannot be read (hidepid), neither can the
  // daemon: nothing is told.
  if (!ReadFileText(host.processes / "1" / "comm")) {
    return CronDaemon::Unknown;
  }
  fs::directory_iterator processes(host.processes, error);
  for (; !error && processes != fs::directory_iterator(); processes.increment(error)) {
    const std::string pid = TextOf(processes->path().filename());
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::optional<std::string> name = ReadFileText(processes->path() / "comm");
    if (!name) {
      continue;
    }
    while (!name->empty() && name->back() == '\n') {
      name->pop_back();
    }
    if (*name == "cron" || *name == "crond" || *name == "fcron") {
      return CronDaemon::Runs;
    }
  }
  return error ? CronDaemon::Unknown : CronDaemon::None;
}

std::vector<std::string> UpdateArguments(const Entry& entry, Looks looks) {
  std::vector<std::string> args = {"update", "--quiet"};
  if (entry.recursive) {
    args.emplace_back("--recursive");
  }
  if (!entry.zone.empty()) {
    args.emplace_back("--time-zone");
    args.push_back(entry.zone);
  }
  const std::vector<std::string> options = OptionArguments(entry.options);
  args.insert(args.end(), options.begin(), options.end());
  if (looks == Looks::Often) {
    args.emplace_back("--only-at");
    args.push_back(FormatTimeOfDay(entry.at));
  }
  if (entry.folderId) {
    args.emplace_back("--folder-id");
    args.push_back(FolderIdText(*entry.folderId));
  }
  args.push_back(TextOf(entry.folder));
  return args;
}

std::error_code WriteFileAtomically(const fs::path& path, const std::string& content) {
  return WriteFileDurably(path, content);
}

std::string WriteFilesIn(const fs::path& folder,
                         const std::vector<std::pair<std::string, std::string>>& files) {
  std::error_code error;
  fs::create_directories(folder, error);
  for (auto file = files.begin(); !error && file != files.end(); ++file) {
    error = WriteFileAtomically(folder / file->first, file->second);
  }
  return error ? TextOf(folder) + ": " + error.message() : std::string();
}

Outcome Failed(Outcome outcome, Problem problem, std::string detail, Status status) {
  outcome.problem = problem;
  outcome.detail = std::move(detail);
  outcome.status = status;
  return outcome;
}

std::optional<std::string> ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string CommandFailure(const std::string& command, const ProgramResult& result) {
  std::string words = !result.errors.empty() ? result.errors : result.output;
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r')) {
    words.pop_back();
  }
  for (char& c : words) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  if (!result.started) {
    return command + " could not be started" + (words.empty() ? "" : ": " + words);
  }
  return command + " failed (exit status " + std::to_string(result.status) + ")" +
         (words.empty() ? "" : ": " + words);
}

}  // namespace lapse::schedule::detail
