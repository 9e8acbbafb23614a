#include "schedule/history.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "platform/clock.h"
#include "schedule/durable_file.h"
#include "schedule/schedule.h"
#include "schedule/time_of_day.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace lapse::schedule {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using std::chrono::system_clock;

fs::path PathOfUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
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
  const Json line = {{"time", platform::UtcText(entry.time)},
                     {"folder", TextOf(entry.folder)},
                     {"recursive", entry.recursive},
                     {"status", entry.status},
                     {"rewritten", entry.rewritten},
                     {"left_count", std::max<std::uint64_t>(entry.leftCount, entry.left.size())},
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
  // The lines of earlier versions name the count in camelCase.
  const std::optional<std::uint64_t> leftCount =
      json.contains("left_count") ? number("left_count") : number("leftCount");
  entry.leftCount = std::max<std::uint64_t>(leftCount.value_or(0), entry.left.size());
  entry.outcome = OutcomeOf(text("outcome"), entry.status);
  return entry;
}

// The newest whole lines of content, at most kept bytes of them.
std::string_view NewestLines(std::string_view content, std::uintmax_t kept) {
  size_t from = content.size() > kept ? content.size() - kept : 0;
  from = content.find('\n', from > 0 ? from - 1 : 0);
  return from == std::string_view::npos ? std::string_view() : content.substr(from + 1);
}

#if defined(_WIN32)

std::error_code LastError() {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

// A handle, closed when it goes.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Holds history.jsonl.lock beside the history locked: a file that no trim
// replaces, so that whoever holds it holds the history, until the handle
// closes or the process ends.
std::error_code LockHistory(const fs::path& file, std::optional<Handle>& lock) {
  fs::path name = file;
  name += ".lock";
  lock.emplace(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (lock->Get() == INVALID_HANDLE_VALUE) {
    return LastError();
  }
  OVERLAPPED whole{};
  return ::LockFileEx(lock->Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole) ? std::error_code()
                                                                             : LastError();
}

// Keeps the newest lines of an overgrown file, under the lock; a file that
// cannot be read stays as it is.
std::error_code Trim(const fs::path& file, std::uintmax_t kept) {
  std::string newest;
  {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      return std::make_error_code(std::errc::io_error);
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad() || content.fail()) {
      return std::make_error_code(std::errc::io_error);
    }
    newest = NewestLines(content.str(), kept);
  }
  // Closed first: Windows renames nothing over a file held open.
  return detail::WriteFileDurably(file, newest);
}

std::error_code AppendLocked(const fs::path& file, const HistoryLimits& limits, std::string line) {
  std::error_code error;
  if (fs::file_size(file, error) > limits.largest && !error) {
    // A trim that fails leaves the file as it was: the line goes in all the
    // same, and the next append tries the trim again.
    (void)Trim(file, limits.keptAfterTrim);
  }
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
}

#else

using detail::Descriptor;

std::error_code Errno() {
  return {errno, std::generic_category()};
}

std::error_code LockWhole(int descriptor) {
  while (::flock(descriptor, LOCK_EX) != 0) {
    // A file system that keeps no locks (some network mounts): the line
    // still goes in, as it did before there were locks, rather than be lost.
    if (errno == ENOLCK || errno == EOPNOTSUPP) {
      return {};
    }
    if (errno != EINTR) {
      return Errno();
    }
  }
  return {};
}

// Opens the history and locks it against the other processes that append to
// it. The lock holds one file, not the name: a trim of another process may
// have renamed a new file over the one opened here while this one waited,
// and a line added to the one it replaced would be lost. So the file is
// looked up again once locked, and opened anew until it is the one named.
std::error_code OpenLocked(const fs::path& file, Descriptor& held) {
  for (;;) {
    Descriptor opened(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!opened) {
      return Errno();
    }
    if (std::error_code error = LockWhole(opened.Get())) {
      return error;
    }
    struct stat open {};
    struct stat named {};
    if (::fstat(opened.Get(), &open) != 0) {
      return Errno();
    }
    if (::stat(file.c_str(), &named) == 0) {
      if (named.st_dev == open.st_dev && named.st_ino == open.st_ino) {
        held = std::move(opened);
        return {};
      }
    } else if (errno != ENOENT) {
      return Errno();
    }
  }
}

// The whole file, read through the descriptor from its start.
std::error_code ReadWhole(int descriptor, std::string& content) {
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t read = ::pread(descriptor, buffer, sizeof buffer, at);
    if (read < 0 && errno == EINTR) {
      continue;
    }
    if (read < 0) {
      return Errno();
    }
    if (read == 0) {
      return {};
    }
    content.append(buffer, static_cast<size_t>(read));
    at += read;
  }
}

// Adds line at the end of the file held; a line cut short by an earlier
// crash does not swallow it.
std::error_code AppendLine(int descriptor, std::string line) {
  struct stat status {};
  char last = '\n';
  if (::fstat(descriptor, &status) != 0) {
    return Errno();
  }
  if (status.st_size > 0 && ::pread(descriptor, &last, 1, status.st_size - 1) == 1 &&
      last != '\n') {
    line.insert(line.begin(), '\n');
  }
  return detail::WriteAll(descriptor, line);
}

#endif

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

#if !defined(_WIN32)
namespace detail {

std::error_code TrimHeldHistory(Descriptor& held, const fs::path& file, std::uintmax_t kept) {
  std::string content;
  if (std::error_code error = ReadWhole(held.Get(), content)) {
    return error;
  }
  TemporaryFile trimmed;
  if (std::error_code error = MakeTemporaryFile(file.parent_path(), 0600, trimmed)) {
    return error;
  }
  // Locked before it takes the name: whoever opens it then waits for this
  // process's line.
  std::error_code error = LockWhole(trimmed.descriptor.Get());
  if (!error) {
    error = WriteAll(trimmed.descriptor.Get(), NewestLines(content, kept));
  }
  if (!error && ::fsync(trimmed.descriptor.Get()) != 0) {
    error = Errno();
  }
  if (!error && ::rename(trimmed.path.c_str(), file.c_str()) != 0) {
    error = Errno();
  }
  if (error) {
    ::unlink(trimmed.path.c_str());
    return error;
  }
  // Closing the file replaced lets those waiting for it go on to this one.
  held = std::move(trimmed.descriptor);
  return SyncFolder(file.parent_path());
}

}  // namespace detail
#endif

std::error_code AppendHistory(const HistoryEntry& entry, const fs::path& file,
                              const HistoryLimits& limits) {
  if (std::error_code error = MakeFolder(file.parent_path())) {
    return error;
  }
#if defined(_WIN32)
  std::optional<Handle> lock;
  if (std::error_code error = LockHistory(file, lock)) {
    return error;
  }
  return AppendLocked(file, limits, LineOf(entry));
#else
  Descriptor held;
  if (std::error_code error = OpenLocked(file, held)) {
    return error;
  }
  // A file made by hand, or by an older program, becomes owner-only too.
  if (::fchmod(held.Get(), 0600) != 0) {
    return Errno();
  }
  struct stat status {};
  if (::fstat(held.Get(), &status) != 0) {
    return Errno();
  }
  if (static_cast<std::uintmax_t>(status.st_size) > limits.largest) {
    // A trim that fails leaves held on the file as it was, or on the
    // trimmed one if only the folder's sync failed: the line goes in all
    // the same, and the next append tries the trim again.
    (void)detail::TrimHeldHistory(held, file, limits.keptAfterTrim);
  }
  if (std::error_code error = AppendLine(held.Get(), LineOf(entry))) {
    return error;
  }
  return held.Close();
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
