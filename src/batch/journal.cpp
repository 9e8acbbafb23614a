#include "batch/journal.h"

#include <algorithm>
#include <array>

#include "batch/kept_store.h"
#include "batch/record_text.h"
#include "platform/errors.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

// Each block is a line of numbers, then its folder, page and text, whose
// lengths the numbers give, and a line end: any bytes may stand in a name
// or a line, and a block cut short by a crash shows.
//   MICROSECONDS FOLDER-BYTES PAGE-BYTES FIRST-LINE LINE-COUNT TEXT-BYTES\n
//   FOLDER PAGE TEXT\n
// where TEXT holds every line followed by an LF.
constexpr std::string_view kHeader = "lapse journal 1\n";

constexpr std::string_view kFolder = "journal";

void AppendNumber(std::string& text, std::uint64_t number, char after) {
  text += std::to_string(number);
  text += after;
}

void AppendBlock(std::string& text, const JournalBlock& block) {
  const std::string folder = text::PathText(block.folder);
  const std::string page = text::PathText(block.page);
  std::string lines;
  for (const std::string& line : block.lines) {
    lines += line;
    lines += '\n';
  }
  const auto micro =
      std::chrono::duration_cast<std::chrono::microseconds>(block.when.time_since_epoch()).count();
  AppendNumber(text, static_cast<std::uint64_t>(std::max<std::int64_t>(micro, 0)), ' ');
  AppendNumber(text, folder.size(), ' ');
  AppendNumber(text, page.size(), ' ');
  AppendNumber(text, block.firstLine, ' ');
  AppendNumber(text, block.lines.size(), ' ');
  AppendNumber(text, lines.size(), '\n');
  text += folder;
  text += page;
  text += lines;
  text += '\n';
}

// Takes the last number of a line, and its line end.
bool TakeLast(std::string_view& text, std::uint64_t& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end == text.data() + text.size() || *end != '\n') {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

std::optional<std::vector<std::string>> SplitLines(std::string_view text, std::uint64_t count) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (lines.size() != count) {
    return std::nullopt;
  }
  return lines;
}

std::optional<JournalBlock> TakeBlock(std::string_view& text) {
  std::string_view rest = text;
  std::uint64_t micro = 0;
  std::uint64_t folderSize = 0;
  std::uint64_t pageSize = 0;
  std::uint64_t lineCount = 0;
  std::uint64_t textSize = 0;
  JournalBlock block;
  if (!Take(rest, micro) || !Take(rest, folderSize) || !Take(rest, pageSize) ||
      !Take(rest, block.firstLine) || !Take(rest, lineCount) || !TakeLast(rest, textSize)) {
    return std::nullopt;
  }
  // Each length within what is left, so that their sum cannot overflow.
  if (folderSize > rest.size() || pageSize > rest.size() || textSize > rest.size()) {
    return std::nullopt;
  }
  const std::uint64_t size = folderSize + pageSize + textSize;
  // The latest time the clock can hold.
  constexpr auto kLatest =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::duration::max())
                                     .count());
  if (rest.size() < size + 1 || rest[size] != '\n' || micro > kLatest) {
    return std::nullopt;
  }
  block.when = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::microseconds(static_cast<std::int64_t>(micro))));
  try {
    block.folder = text::PathFromText(rest.substr(0, folderSize));
    block.page = text::PathFromText(rest.substr(folderSize, pageSize));
  } catch (const std::exception&) {
    // Windows makes a path of UTF-8 text only: bytes that are none are damage.
    return std::nullopt;
  }
  std::optional<std::vector<std::string>> lines =
      SplitLines(rest.substr(folderSize + pageSize, textSize), lineCount);
  if (!lines) {
    return std::nullopt;
  }
  block.lines = std::move(*lines);
  text = rest.substr(size + 1);
  return block;
}

// Writes the newest blocks that fit in three quarters of the limit anew,
// so that the next trim is a while away.
std::error_code Trim(platform::Disk& disk, platform::Folder& folder, const fs::path& name) {
  platform::Expected<std::unique_ptr<platform::SourceFile>> file = disk.OpenSource(folder, name);
  if (!file) {
    return file.error();
  }
  const platform::Expected<std::string> text = ReadAll(**file);
  if (!text) {
    return text.error();
  }
  Journal journal = ParseJournal(*text);
  std::uint64_t size = kHeader.size();
  auto first = journal.blocks.end();
  while (first != journal.blocks.begin()) {
    const std::uint64_t blockSize = FormatJournalBlocks({std::prev(first), 1}).size();
    // The newest block stays, however large.
    if (size + blockSize > kJournalLimit / 4 * 3 && first != journal.blocks.end()) {
      break;
    }
    size += blockSize;
    --first;
  }
  return WriteWholeFile(disk, folder, name, FormatJournalBlocks({first, journal.blocks.end()}),
                        Durability::Synced);
}

constexpr std::string_view kLogLineEnd = "\r\n";

}  // namespace

bool LogReader::Next(std::uint64_t size, std::string* into) {
  std::array<char, std::size_t{16} * 1024> buffer{};
  while (size > 0) {
    const std::size_t count =
        log_.Read(std::span<char>(buffer.data(), std::min<std::uint64_t>(size, buffer.size())));
    if (count == 0) {
      error_ = log_.Error() ? log_.Error() : platform::NotAsRecordedError();
      return false;
    }
    if (into != nullptr) {
      into->append(buffer.data(), count);
    }
    position_ += count;
    size -= count;
  }
  return true;
}

std::optional<std::string> LogReader::Read(std::uint64_t offset, std::uint64_t size) {
  if (offset < position_) {
    error_ = platform::NotAsRecordedError();
    return std::nullopt;
  }
  std::string bytes;
  if (!Next(offset - position_, nullptr) || !Next(size, &bytes)) {
    return std::nullopt;
  }
  return bytes;
}

bool AddLoggedBlocks(std::string_view bytes, const LoggedLines& logged, const JournalBlock& base,
                     std::vector<JournalBlock>& blocks) {
  // Each block stands under the head the run wrote for the page.
  const std::string head =
      std::string(kLogLineEnd) + text::DisplayName(base.page) + std::string(kLogLineEnd);
  if (logged.headSize != head.size()) {
    return false;
  }
  for (const text::RemovedBlock& removed : logged.blocks) {
    if (!bytes.starts_with(head)) {
      return false;
    }
    bytes.remove_prefix(head.size());
    JournalBlock block = base;
    block.firstLine = removed.firstLine;
    for (std::uint64_t line = 0; line < removed.lineCount; ++line) {
      const std::size_t end = bytes.find(kLogLineEnd);
      if (end == std::string_view::npos) {
        return false;
      }
      block.lines.emplace_back(bytes.substr(0, end));
      bytes.remove_prefix(end + kLogLineEnd.size());
    }
    // A new-content tag that takes no line with it leaves a head alone.
    if (!block.lines.empty()) {
      blocks.push_back(std::move(block));
    }
  }
  return bytes.empty();
}

std::string FormatJournalBlocks(std::span<const JournalBlock> blocks) {
  std::string text(kHeader);
  for (const JournalBlock& block : blocks) {
    AppendBlock(text, block);
  }
  return text;
}

Journal ParseJournal(std::string_view text) {
  Journal journal;
  if (text.empty()) {
    return journal;
  }
  if (!text.starts_with(kHeader)) {
    journal.damaged = true;
    return journal;
  }
  const std::size_t whole = text.size();
  text.remove_prefix(kHeader.size());
  journal.wholeSize = kHeader.size();
  while (!text.empty()) {
    std::optional<JournalBlock> block = TakeBlock(text);
    if (!block) {
      journal.damaged = true;
      break;
    }
    journal.blocks.push_back(std::move(*block));
    journal.wholeSize = whole - text.size();
  }
  return journal;
}

std::error_code AppendToJournal(platform::Disk& disk, const fs::path& stateFolder,
                                const fs::path& sourceDir, std::span<const JournalBlock> blocks) {
  if (blocks.empty()) {
    return {};
  }
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, true);
  if (!folder) {
    return folder.error();
  }
  const fs::path name(SiteKey(sourceDir));
  platform::Expected<std::unique_ptr<platform::AppendedFile>> file =
      disk.OpenAppending(**folder, name, 0600);
  if (!file) {
    return file.error();
  }
  std::uint64_t before = (*file)->Size();
  if (before != 0) {
    // An append cut short by a crash would hide every block after it: the
    // journal is cut back to its last whole block first.
    platform::Expected<std::unique_ptr<platform::SourceFile>> current =
        disk.OpenSource(**folder, name);
    const platform::Expected<std::string> read =
        current ? ReadAll(**current) : platform::Expected<std::string>(current.error());
    if (!read) {
      return read.error();
    }
    const std::uint64_t whole = ParseJournal(*read).wholeSize;
    if (whole != before) {
      if (const std::error_code error = (*file)->CutBack(whole)) {
        return error;
      }
      before = whole;
    }
  }
  std::string text = FormatJournalBlocks(blocks);
  if (before != 0) {
    text.erase(0, kHeader.size());
  }
  if (!(*file)->Write(text)) {
    // A block cut short would hide every block after it.
    const std::error_code error = (*file)->Error();
    (void)(*file)->CutBack(before);
    return error;
  }
  const std::uint64_t after = (*file)->Size();
  file->reset();
  const fs::path names[] = {name};
  if (const std::error_code error = disk.SyncFiles(**folder, names)) {
    return error;
  }
  if (after > kJournalLimit) {
    // The blocks are in: a trim that fails is tried again after the next
    // append, and takes nothing from this one.
    (void)Trim(disk, **folder, name);
  }
  return {};
}

platform::Expected<Journal> ReadJournal(platform::Disk& disk, const fs::path& stateFolder,
                                        const fs::path& sourceDir) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, false);
  if (!folder) {
    if (folder.error() == std::errc::no_such_file_or_directory) {
      return Journal{};
    }
    return folder.error();
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(**folder, fs::path(SiteKey(sourceDir)));
  if (!file) {
    if (file.error() == std::errc::no_such_file_or_directory) {
      return Journal{};
    }
    return file.error();
  }
  const platform::Expected<std::string> text = ReadAll(**file);
  if (!text) {
    return text.error();
  }
  return ParseJournal(*text);
}

}  // namespace lapse::batch
