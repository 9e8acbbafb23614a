#include "batch/run_record.h"

#include <charconv>

#include "text/names.h"

namespace lapse::batch {

namespace {

// A name may hold any byte but NUL, a line feed included.
constexpr std::string_view kHeaderStart = "lapse sources 2 ";
constexpr std::string_view kFirstVersion = "lapse sources 1\n";
constexpr char kNameEnd = '\0';
constexpr std::string_view kNoHash = "-";
constexpr std::string_view kLogWaits = " log";
constexpr std::string_view kKeptAs = " kept ";

struct StateName {
  RecordState state;
  std::string_view name;
};
constexpr StateName kStates[] = {{RecordState::Running, "running"},
                                 {RecordState::Complete, "complete"},
                                 {RecordState::PartPlaced, "part-placed"}};

template <typename Number>
void Append(std::string& text, Number number) {
  text += std::to_string(number);
  text += ' ';
}

template <typename Number>
bool Take(std::string_view& text, Number& number, int base = 10) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (error != std::errc() || end == text.data() + text.size() || *end != ' ') {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

bool TakeHash(std::string_view& text, std::optional<std::uint64_t>& hash) {
  if (text.starts_with(kNoHash) && text.substr(kNoHash.size()).starts_with(' ')) {
    text.remove_prefix(kNoHash.size() + 1);
    hash.reset();
    return true;
  }
  std::uint64_t value = 0;
  if (!Take(text, value, 16)) {
    return false;
  }
  hash = value;
  return true;
}

bool TakeName(std::string_view& text, std::filesystem::path& name) {
  const std::size_t length = text.find(kNameEnd);
  if (length == std::string_view::npos) {
    return false;
  }
  name = text::PathFromText(text.substr(0, length));
  text.remove_prefix(length + 1);
  return true;
}

std::optional<RunRecord> ParseEntries(std::string_view text, RunRecord record, bool firstVersion) {
  while (!text.empty()) {
    CopyRecord copy;
    platform::FileStamp& source = copy.source;
    if (!Take(text, source.size) || !Take(text, source.modified) || !Take(text, source.device) ||
        !Take(text, source.inode)) {
      return std::nullopt;
    }
    if (!firstVersion && (!Take(text, copy.links) || !TakeHash(text, copy.hash))) {
      return std::nullopt;
    }
    std::filesystem::path name;
    if (!Take(text, copy.copySize) || !TakeName(text, name)) {
      return std::nullopt;
    }
    record.copies[name] = copy;
  }
  return record;
}

}  // namespace

std::string RunRecordHeader(RecordState state, bool logWaits, std::string_view keptAs) {
  for (const StateName& known : kStates) {
    if (known.state == state) {
      std::string header(kHeaderStart);
      header.append(known.name).append(logWaits ? kLogWaits : "");
      if (!keptAs.empty()) {
        header.append(kKeptAs).append(keptAs);
      }
      return header.append("\n");
    }
  }
  return {};
}

std::string FormatRecordEntry(const std::filesystem::path& name, const CopyRecord& copy) {
  std::string text;
  const platform::FileStamp& source = copy.source;
  Append(text, source.size);
  Append(text, source.modified);
  Append(text, source.device);
  Append(text, source.inode);
  Append(text, copy.links);
  if (copy.hash) {
    char digits[17];
    const auto end = std::to_chars(digits, digits + sizeof digits, *copy.hash, 16).ptr;
    text.append(digits, end).append(" ");
  } else {
    text.append(kNoHash).append(" ");
  }
  Append(text, copy.copySize);
  text += text::PathText(name);
  text += kNameEnd;
  return text;
}

std::optional<RunRecord> ParseRunRecord(std::string_view text) {
  // The version before knew no states: it was named when its run ended.
  if (text.starts_with(kFirstVersion)) {
    text.remove_prefix(kFirstVersion.size());
    return ParseEntries(text, RunRecord{RecordState::Complete, false, {}, {}}, true);
  }
  if (!text.starts_with(kHeaderStart)) {
    return std::nullopt;
  }
  text.remove_prefix(kHeaderStart.size());
  for (const StateName& known : kStates) {
    if (!text.starts_with(known.name)) {
      continue;
    }
    text.remove_prefix(known.name.size());
    const bool logWaits = text.starts_with(kLogWaits);
    if (logWaits) {
      text.remove_prefix(kLogWaits.size());
    }
    std::string keptAs;
    if (text.starts_with(kKeptAs)) {
      text.remove_prefix(kKeptAs.size());
      const std::size_t end = text.find('\n');
      if (end == std::string_view::npos || end == 0 ||
          text.substr(0, end).find(' ') != std::string_view::npos) {
        return std::nullopt;
      }
      keptAs = text.substr(0, end);
      text.remove_prefix(end);
    }
    if (!text.starts_with('\n')) {
      return std::nullopt;
    }
    text.remove_prefix(1);
    return ParseEntries(text, RunRecord{known.state, logWaits, std::move(keptAs), {}}, false);
  }
  return std::nullopt;
}

}  // namespace lapse::batch
