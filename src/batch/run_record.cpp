#include "batch/run_record.h"

#include <algorithm>
#include <charconv>

#include "batch/record_text.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

// A name may hold any byte but NUL, a line feed included.
constexpr std::string_view kHeaderStart = "lapse sources 3 ";
constexpr std::string_view kSecondVersion = "lapse sources 2 ";
constexpr std::string_view kFirstVersion = "lapse sources 1\n";
constexpr char kNameEnd = '\0';
constexpr std::string_view kLogWaits = " log";
constexpr std::string_view kKeptAs = " kept ";
// After an entry's name, where the log holds lines the copy lacks:
// "log OFFSET SIZE HEAD-SIZE BLOCKS (FIRST-LINE LINE-COUNT)... ". No entry
// starts so (each starts with a number); records written before it read
// as copies without lines in the journal.
constexpr std::string_view kLogged = "log ";
// More blocks than this in a record's entry is no record that a run wrote.
constexpr std::uint64_t kMostBlocks = std::uint64_t{1} << 32;
// After an entry's name and its logged lines, where its copy is the page
// byte for byte. No entry starts so (each starts with a number), and
// records written before it existed read as copies that differ.
constexpr std::string_view kSameAsPage = "same ";

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

bool TakeName(std::string_view& text, std::filesystem::path& name) {
  const std::size_t length = text.find(kNameEnd);
  if (length == std::string_view::npos) {
    return false;
  }
  name = text::PathFromText(text.substr(0, length));
  text.remove_prefix(length + 1);
  return IsPathBelow(name);
}

bool TakeIdentity(std::string_view& text, Identity& identity) {
  return Take(text, identity.device) && Take(text, identity.inode);
}

void AppendIdentity(std::string& text, const Identity& identity) {
  Append(text, identity.device);
  Append(text, identity.inode);
}

void AppendHash(std::string& text, std::uint64_t hash) {
  char digits[17];
  const auto end = std::to_chars(digits, digits + sizeof digits, hash, 16).ptr;
  text.append(digits, end).append(" ");
}

enum class Version { First, Second, Third };

bool TakeLogged(std::string_view& text, LoggedLines& logged) {
  std::uint64_t count = 0;
  if (!Take(text, logged.offset) || !Take(text, logged.size) || !Take(text, logged.headSize) ||
      !Take(text, count) || count > kMostBlocks || count > text.size() / 4) {
    return false;
  }
  logged.blocks.resize(count);
  for (text::RemovedBlock& block : logged.blocks) {
    if (!Take(text, block.firstLine) || !Take(text, block.lineCount)) {
      return false;
    }
  }
  return true;
}

void AppendLogged(std::string& text, const LoggedLines& logged) {
  text.append(kLogged);
  for (const std::uint64_t number :
       {logged.offset, logged.size, logged.headSize, std::uint64_t{logged.blocks.size()}}) {
    Append(text, number);
  }
  for (const text::RemovedBlock& block : logged.blocks) {
    Append(text, block.firstLine);
    Append(text, block.lineCount);
  }
}

std::optional<RunRecord> ParseEntries(std::string_view text, RunRecord record, Version version) {
  const bool firstVersion = version == Version::First;
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
    if (!Take(text, copy.copySize)) {
      return std::nullopt;
    }
    if (version == Version::Third) {
      WrittenCopy written;
      if (!TakeIdentity(text, written.identity) || !Take(text, written.hash, 16)) {
        return std::nullopt;
      }
      copy.written = written;
    }
    std::filesystem::path name;
    if (!TakeName(text, name)) {
      return std::nullopt;
    }
    if (version == Version::Third && text.starts_with(kLogged)) {
      text.remove_prefix(kLogged.size());
      if (!TakeLogged(text, copy.logged.emplace())) {
        return std::nullopt;
      }
    }
    if (version == Version::Third && text.starts_with(kSameAsPage)) {
      text.remove_prefix(kSameAsPage.size());
      copy.sameAsPage = true;
    }
    record.copies[name] = copy;
  }
  return record;
}

}  // namespace

bool IsRecordOf(const RecordPlace& recorded, const RecordPlace& found) {
  return recorded.site.inode == found.site.inode && recorded.newDir.inode == found.newDir.inode;
}

Identity IdentityOf(const platform::FileStamp& stamp) {
  return {stamp.device, stamp.inode};
}

bool IsPathBelow(const std::filesystem::path& path) {
  if (path.empty() || path.has_root_name() || path.has_root_directory()) {
    return false;
  }
  // As a run writes them: no separator doubled, first or last.
  const auto isSeparator = [](std::filesystem::path::value_type c) {
    return c == '/' || c == std::filesystem::path::preferred_separator;
  };
  const std::filesystem::path::string_type& text = path.native();
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (isSeparator(text[at]) && (at == 0 || at + 1 == text.size() || isSeparator(text[at - 1]))) {
      return false;
    }
  }
  return std::all_of(path.begin(), path.end(),
                     [](const std::filesystem::path& name) { return platform::IsOneName(name); });
}

bool IsOwnFile(const platform::FileStatus& file, std::optional<std::uint32_t> user) {
  const bool regular =
      file.kind == platform::EntryKind::Hidden || file.kind == platform::EntryKind::OrdinaryFile;
  // Windows gives FileAccess no owners: there the file's folder is all that
  // keeps others from it.
  const bool owned = !user || (file.access.owner == *user && (file.access.mode & 022) == 0);
  return regular && owned && file.links == 1;
}

std::string RunRecordHeader(RecordState state, const RecordPlace& place, bool logWaits,
                            std::string_view keptAs) {
  for (const StateName& known : kStates) {
    if (known.state == state) {
      std::string header(kHeaderStart);
      header.append(known.name).append(" ");
      AppendIdentity(header, place.site);
      AppendIdentity(header, place.newDir);
      header.pop_back();
      header.append(logWaits ? kLogWaits : "");
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
    AppendHash(text, *copy.hash);
  } else {
    text.append(kNoHash).append(" ");
  }
  Append(text, copy.copySize);
  const WrittenCopy written = copy.written.value_or(WrittenCopy{});
  AppendIdentity(text, written.identity);
  AppendHash(text, written.hash);
  text += text::PathText(name);
  text += kNameEnd;
  if (copy.logged) {
    AppendLogged(text, *copy.logged);
  }
  if (copy.sameAsPage) {
    text += kSameAsPage;
  }
  return text;
}

std::optional<RunRecord> ParseRunRecord(std::string_view text) {
  // The version before knew no states: it was named when its run ended.
  if (text.starts_with(kFirstVersion)) {
    text.remove_prefix(kFirstVersion.size());
    return ParseEntries(text, RunRecord{RecordState::Complete, false, {}, {}, {}}, Version::First);
  }
  const Version version = text.starts_with(kHeaderStart)     ? Version::Third
                          : text.starts_with(kSecondVersion) ? Version::Second
                                                             : Version::First;
  if (version == Version::First) {
    return std::nullopt;
  }
  text.remove_prefix(kHeaderStart.size());
  for (const StateName& known : kStates) {
    if (!text.starts_with(known.name)) {
      continue;
    }
    text.remove_prefix(known.name.size());
    std::optional<RecordPlace> place;
    if (version == Version::Third) {
      place.emplace();
      // Each number ends in a space; the last takes the one after the state.
      if (!text.starts_with(' ')) {
        return std::nullopt;
      }
      std::string_view rest = text.substr(1);
      std::uint64_t last = 0;
      if (!TakeIdentity(rest, place->site) || !Take(rest, place->newDir.device)) {
        return std::nullopt;
      }
      const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), last);
      if (error != std::errc() || end == rest.data()) {
        return std::nullopt;
      }
      place->newDir.inode = last;
      text = rest.substr(static_cast<std::size_t>(end - rest.data()));
    }
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
    return ParseEntries(text, RunRecord{known.state, logWaits, std::move(keptAs), place, {}},
                        version);
  }
  return std::nullopt;
}

}  // namespace lapse::batch
