// What the scheduled updates did: one line per update, in JSON, in the
// user's state folder, readable by its owner only (it names private
// folders). `lapse-cli update` appends a line at its end; `lapse-cli
// schedules` and the desktop program's schedule dialog show a folder's last.
//
//   HistoryEntry entry;
//   entry.time = std::chrono::system_clock::now();
//   entry.folder = canonicalFolder;
//   entry.status = exitStatus;  // 0, 1 or 2, as update exits
//   entry.rewritten = pagesReplaced;
//   entry.left.push_back({"news/a.htm", "its page changed after the run"});
//   if (std::error_code error = AppendHistory(entry)) { ... warn, carry on ... }
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace lapse::schedule {

struct PageLeft {
  // The page's path below the folder, UTF-8, as the tool prints it; empty
  // when why names the page itself.
  std::string page;
  std::string why;  // the sentence that says why it was left as it was
};

// How an update ended.
enum class UpdateOutcome {
  Ran,            // status 0 or 1: rewritten and left tell what it did
  CouldNotStart,  // status 2: problem says why
  // Status 2: the path led to another folder than the one scheduled (a link
  // put in its place, a folder moved or made anew), which was left as it is.
  NotTheScheduledFolder,
};

struct HistoryEntry {
  std::chrono::system_clock::time_point time;  // when the update ended
  std::filesystem::path folder;                // absolute and canonical
  bool recursive = false;
  // The update's exit status: 0 all up to date, 1 a page left as it was or
  // held back, 2 could not start.
  int status = 0;
  std::uint64_t rewritten = 0;  // pages replaced by their rewritten copies
  // The pages left as they were, and why; a line keeps the first
  // kMostPagesKept of them and leftCount counts them all.
  std::vector<PageLeft> left;
  std::uint64_t leftCount = 0;
  std::string problem;  // why it could not start, when it could not
  // Lines written before it was recorded take it from their status.
  UpdateOutcome outcome = UpdateOutcome::Ran;
};

inline constexpr std::size_t kMostPagesKept = 100;

// The history file in the user's state folder (platform::UserStateFolder).
std::filesystem::path HistoryFile(const std::filesystem::path& stateFolder);

// How large the file may grow before its oldest lines go, and how much of
// it a trim keeps; tests make them small.
struct HistoryLimits {
  std::uintmax_t largest = std::uintmax_t{1024} * 1024;
  std::uintmax_t keptAfterTrim = std::uintmax_t{512} * 1024;
};

// Appends one line for entry, making the folder (owner-only) and the file
// (0600) as needed. leftCount is taken as at least the pages listed. A line
// cut short by an earlier crash does not swallow this one. Past
// limits.largest the oldest lines go: the newest lines are written to a new
// file under a unique name, synced and renamed over the history.
//
// Updates started at the same minute end together, so several processes may
// append at once: each holds the history locked (flock on the file, checked
// to be still the one under the name once locked; on Windows a lock on
// history.jsonl.lock beside it) from before it looks at the size until its
// line is written, so a trim never drops a line another process is adding,
// and lines never interleave. A history that cannot be read is not trimmed:
// it stays as it was, and the error is returned.
std::error_code AppendHistory(const HistoryEntry& entry, const std::filesystem::path& file,
                              const HistoryLimits& limits = {});

// Every readable line of the file, oldest first; lines cut short, garbled or
// of another shape are passed over.
std::vector<HistoryEntry> ReadHistory(const std::filesystem::path& file);

// The last update of folder (compared in canonical form), if the file has one.
std::optional<HistoryEntry> LastUpdate(const std::filesystem::path& folder,
                                       const std::filesystem::path& file);

// "2026-12-08 00:05: 3 pages rewritten, 1 left as it was" in local time.
std::string Summary(const HistoryEntry& entry);

#if !defined(_WIN32)
namespace detail {
class Descriptor;
// Keeps the newest lines of file, at most kept bytes, reading it through
// held, which holds its lock. Once the new file has the name, held is the new
// file's descriptor, locked too. If anything fails before the rename (the
// read among them), file is left as it was.
std::error_code TrimHeldHistory(Descriptor& held, const std::filesystem::path& file,
                                std::uintmax_t kept);
}  // namespace detail
#endif

}  // namespace lapse::schedule
