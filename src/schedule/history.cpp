#include "schedule/history.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "schedule/schedule.h"
#include "schedule/time_of_day.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lapse::schedule {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using std::chrono::system_clock;

constexpr std::uintmax_t kLargestFile = std::uintmax_t{1024} * 1024;
constexpr std::uintmax_t kKeptAfterTrim = std::uintmax_t{512} * 1024;

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path PathOfUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

// "2026-12-08T00:05:03Z"
std::string UtcText(system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto day = floor<days>(seconds);
  const year_month_day date{day};
  const hh_mm_ss clock{seconds - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::optional<system_clock::time_point> ParseUtcText(const std::string& text) {
  using namespace std::chrono;
  int yearNumber = 0;
  unsigned monthNumber = 0;
  unsigned dayNumber = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  char zulu = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d%c", &yearNumber, &monthNumber, &dayNumber,
                  &hour, &minute, &second, &zulu) != 7 ||
      zulu != 'Z') {
    return std::nullopt;
  }
  const year_month_day date{year{yearNumber}, month{monthNumber}, day{dayNumber}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60 || hour < 0 || minute < 0 ||
      second < 0) {
    return std::nullopt;
  }
  return sys_days{date} + hours{hour} + minutes{minute} + seconds{second};
}

constexpr std::pair<UpdateOutcome, const char*> kOutcomeNames[] = {
    {UpdateOutcome::Ran, "ran"},
    {UpdateOutcome::CouldNotStart, "could-not-start"},
    {UpdateOutcome::NotTheScheduledFolder, "not-the-scheduled-folder"},
};

const char* OutcomeName(UpdateOutcome outcome) {
  for (const auto& [each, name] : kOutcomeNames) {
    if (each == outcome) {
      return name;
    }
  }
  return "ran";
}

// What a line says, or, on a line written before outcomes were, what its
// status says.
UpdateOutcome OutcomeOf(const std::string* name, int status) {
  for (const auto& [each, known] : kOutcomeNames) {
    if (name != nullptr && *name == known) {
      return each;
    }
  }
  return status == 2 ? UpdateOutcome::CouldNotStart : UpdateOutcome::Ran;
}

std::string LineOf(const HistoryEntry& entry) {
  Json left = Json::array();
  for (size_t i = 0; i < entry.left.size() && i < kMostPagesKept; ++i) {
    left.push_back({{"page", entry.left[i].page}, {"why", entry.left[i].why}});
  }
  const Json line = {{"time", UtcText(entry.time)},
                     {"folder", Utf8Of(entry.folder)},
                     {"recursive", entry.recursive},
                     {"status", entry.status},
                     {"rewritten", entry.rewritten},
                     {"leftCount", std::max<std::uint64_t>(entry.leftCount, entry.left.size())},
                     {"left", left},
                     {"problem", entry.problem},
                     {"outcome", OutcomeName(entry.outcome)}};
  // Text that is not UTF-8 is kept readable rather than refused.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::optional<HistoryEntry> EntryOf(const std::string& line) {
  const Json json = Json::parse(line, nullptr, false);
  if (!json.is_object()) {
    return std::nullopt;
  }
  const auto text = [&](const char* key) -> const std::string* {
    const auto found = json.find(key);
    return found != json.end() && found->is_string() ? found->get_ptr<const std::string*>()
                                                     : nullptr;
  };
  const auto number = [&](const char* key) -> std::optional<std::uint64_t> {
    const auto found = json.find(key);
    if (found == json.end() || !found->is_number_unsigned()) {
      return std::nullopt;
    }
    return found->get<std::uint64_t>();
  };
  const std::string* time = text("time");
  const std::string* folder = text("folder");
  const std::optional<std::uint64_t> status = number("status");
  if (time == nullptr || folder == nullptr || !status || *status > 255) {
    return std::nullopt;
  }
  const std::optional<system_clock::time_point> when = ParseUtcText(*time);
  if (!when) {
    return std::nullopt;
  }
  HistoryEntry entry;
  entry.time = *when;
  entry.folder = PathOfUtf8(*folder);
  entry.status = static_cast<int>(*status);
  entry.rewritten = number("rewritten").value_or(0);
  if (const auto recursive = json.find("recursive");
      recursive != json.end() && recursive->is_boolean()) {
    entry.recursive = recursive->get<bool>();
  }
  if (const std::string* problem = text("problem")) {
    entry.problem = *problem;
  }
  if (const auto left = json.find("left"); left != json.end() && left->is_array()) {
    for (const Json& page : *left) {
      if (page.is_object() && page.contains("page") && page["page"].is_string()) {
        const auto why = page.find("why");
        entry.left.push_back({page["page"].get<std::string>(), why != page.end() && why->is_string()
                                                                   ? why->get<std::string>()
                                                                   : std::string()});
      }
    }
  }
  entry.leftCount = std::max<std::uint64_t>(number("leftCount").value_or(0), entry.left.size());
  entry.outcome = OutcomeOf(text("outcome"), entry.status);
  return entry;
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Keeps the newest whole lines of an overgrown file, written under a
// temporary name and renamed over it.
std::error_code Trim(const fs::path& file) {
  const std::string content = ReadAll(file);
  size_t from = content.size() > kKeptAfterTrim ? content.size() - kKeptAfterTrim : 0;
  from = content.find('\n', from > 0 ? from - 1 : 0);
  const std::string kept = from == std::string::npos ? std::string() : content.substr(from + 1);
  fs::path temporary = file;
  temporary += ".new";
  {
#if defined(_WIN32)
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << kept;
    if (!out.flush()) {
      return std::make_error_code(std::errc::io_error);
    }
#else
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
      return {errno, std::generic_category()};
    }
    const bool written = ::write(fd, kept.data(), kept.size()) == static_cast<ssize_t>(kept.size());
    ::close(fd);
    if (!written) {
      return std::make_error_code(std::errc::io_error);
    }
#endif
  }
  std::error_code error;
  fs::rename(temporary, file, error);
  return error;
}

std::error_code MakeFolder(const fs::path& folder) {
  std::error_code error;
  if (fs::is_directory(folder, error)) {
    return {};
  }
  fs::create_directories(folder, error);
  if (error) {
    return error;
  }
  // It names the folders the user schedules.
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
  return error;
}

}  // namespace

fs::path HistoryFile(const fs::path& stateFolder) {
  return stateFolder / "history.jsonl";
}

std::error_code AppendHistory(const HistoryEntry& entry, const fs::path& file) {
  if (std::error_code error = MakeFolder(file.parent_path())) {
    return error;
  }
  std::error_code error;
  if (fs::file_size(file, error) > kLargestFile && !error) {
    if (std::error_code trimmed = Trim(file)) {
      return trimmed;
    }
  }
  std::string line = LineOf(entry);
#if defined(_WIN32)
  {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (in && in.tellg() > 0) {
      in.seekg(-1, std::ios::end);
      if (in.get() != '\n') {
        line.insert(line.begin(), '\n');
      }
    }
  }
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << line;
  return out.flush() ? std::error_code() : std::make_error_code(std::errc::io_error);
#else
  const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return {errno, std::generic_category()};
  }
  std::error_code result;
  // A file made by hand, or by an older program, becomes owner-only too.
  if (::fchmod(fd, 0600) != 0) {
    result = {errno, std::generic_category()};
  }
  struct stat status {};
  char last = '\n';
  if (!result && ::fstat(fd, &status) == 0 && status.st_size > 0 &&
      ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n') {
    // The line before was cut short: it stays apart from this one.
    line.insert(line.begin(), '\n');
  }
  // One write: lines of updates that end together do not interleave.
  if (!result && ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    result = errno != 0 ? std::error_code(errno, std::generic_category())
                        : std::make_error_code(std::errc::no_space_on_device);
  }
  if (::close(fd) != 0 && !result) {
    result = {errno, std::generic_category()};
  }
  return result;
#endif
}

std::vector<HistoryEntry> ReadHistory(const fs::path& file) {
  std::vector<HistoryEntry> entries;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (std::optional<HistoryEntry> entry = EntryOf(line)) {
      entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

std::optional<HistoryEntry> LastUpdate(const fs::path& folder, const fs::path& file) {
  std::error_code error;
  fs::path wanted = fs::weakly_canonical(folder, error);
  if (error) {
    wanted = folder.lexically_normal();
  }
  std::optional<HistoryEntry> last;
  for (HistoryEntry& entry : ReadHistory(file)) {
    if (entry.folder == wanted || entry.folder == folder) {
      last = std::move(entry);
    }
  }
  return last;
}

std::string Summary(const HistoryEntry& entry) {
  std::string text = LocalText(entry.time) + ": ";
  if (entry.outcome == UpdateOutcome::NotTheScheduledFolder) {
    return text + "not updated" + (entry.problem.empty() ? "" : ": " + entry.problem);
  }
  if (entry.status == 2) {
    return text + "could not start" + (entry.problem.empty() ? "" : ": " + entry.problem);
  }
  text +=
      std::to_string(entry.rewritten) + (entry.rewritten == 1 ? " page" : " pages") + " rewritten";
  const std::uint64_t left = std::max<std::uint64_t>(entry.leftCount, entry.left.size());
  if (left > 0) {
    text += ", " + std::to_string(left) + " left as " + (left == 1 ? "it was" : "they were");
    if (!entry.left.empty()) {
      const PageLeft& first = entry.left.front();
      const char* between = first.page.empty() || first.why.empty() ? "" : ": ";
      text += " (" + first.page + between + first.why + (left > 1 ? ", ..." : "") + ")";
    }
  }
  return text;
}

}  // namespace lapse::schedule
