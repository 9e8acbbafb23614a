// What replaces and updates removed from a site, kept in the user's state
// folder, beside the kept replaces: the site's own Log.txt is gone with the
// next run, and an update leaves none. One file per site, appended to under
// the site's lock; past kJournalLimit the oldest blocks go.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/run_record.h"
#include "platform/disk.h"
#include "text/streams.h"

namespace lapse::batch {

// Far more than a year of daily updates of a site that loses a few blocks
// a day, and small enough to read whole.
inline constexpr std::uint64_t kJournalLimit = std::uint64_t{16} * 1024 * 1024;

// Lines that went together from one page.
struct JournalBlock {
  // Of the replace, to the microsecond: the blocks of one replace have
  // the same time and folder.
  std::chrono::system_clock::time_point when;
  std::filesystem::path folder;    // the site's folder as the command was given it
  std::filesystem::path page;      // below the folder
  std::uint64_t firstLine = 0;     // of the page as it was; the first line is 1
  std::vector<std::string> lines;  // without their line ends
  friend bool operator==(const JournalBlock&, const JournalBlock&) = default;
};

struct Journal {
  std::vector<JournalBlock> blocks;  // oldest first
  // The file held something after its last whole block that is no block:
  // what came before it is still read.
  bool damaged = false;
  // The bytes of the header and the whole blocks; 0 for text that has no
  // header.
  std::uint64_t wholeSize = 0;
};

// The text of blocks as the journal file holds them, and back.
std::string FormatJournalBlocks(std::span<const JournalBlock> blocks);
Journal ParseJournal(std::string_view text);

// Appends blocks to the journal of the site at sourceDir, on the disk before
// it returns; then, past the limit, writes the newest blocks anew.
std::error_code AppendToJournal(platform::Disk& disk, const std::filesystem::path& stateFolder,
                                const std::filesystem::path& sourceDir,
                                std::span<const JournalBlock> blocks);

// Reads the run's log forward, a page's lines at a time.
class LogReader {
 public:
  explicit LogReader(text::ByteSource& log) : log_(log) {}
  // The size bytes at offset, which lies at or after the end of the last
  // read; nothing when the log ends before or cannot be read (Error()).
  std::optional<std::string> Read(std::uint64_t offset, std::uint64_t size);
  std::error_code Error() const { return error_; }

 private:
  bool Next(std::uint64_t size, std::string* into);

  text::ByteSource& log_;
  std::uint64_t position_ = 0;
  std::error_code error_;
};

// Adds the blocks of the lines a page lost, as the log holds them, to
// blocks, each with the time, folder and page of base; false where the
// bytes are not as logged says.
bool AddLoggedBlocks(std::string_view bytes, const LoggedLines& logged, const JournalBlock& base,
                     std::vector<JournalBlock>& blocks);

// The journal of the site at sourceDir: empty when there is none.
platform::Expected<Journal> ReadJournal(platform::Disk& disk,
                                        const std::filesystem::path& stateFolder,
                                        const std::filesystem::path& sourceDir);

}  // namespace lapse::batch
