#include "schedule/backend.h"

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "schedule/names.h"

namespace lapse::schedule::detail {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string MetadataOf(const Entry& entry) {
  Json json = {{"folder", TextOf(entry.folder)},
               {"at", FormatTimeOfDay(entry.at)},
               {"zone", entry.zone},
               {"recursive", entry.recursive}};
  if (entry.folderId) {
    json["folderId"] = FolderIdText(*entry.folderId);
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
  return entry;
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
  // A short hidden name: the unit's own name may be as long as a name can be.
  const fs::path temporary =
      path.parent_path() /
      std::string(".").append(Fingerprint(TextOf(path.filename()))).append(".lapse-new");
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::error_code opening(errno, std::generic_category());
    out << content;
    if (!out.flush()) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return out.is_open() || !opening ? std::make_error_code(std::errc::io_error) : opening;
    }
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
  }
  return error;
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
