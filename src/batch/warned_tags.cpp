#include "batch/warned_tags.h"

#include <algorithm>

#include "batch/kept_store.h"
#include "batch/record_text.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "lapse warned 1\n";
constexpr std::string_view kFolder = "warned";
constexpr char kEnd = '\0';

// A date as written may hold any byte but the one that ends a field.
std::string KeyText(std::string_view text) {
  std::string key(text);
  std::replace(key.begin(), key.end(), kEnd, '?');
  return key;
}

// Takes the text up to the next kEnd and kEnd itself.
bool TakeField(std::string_view& text, std::string& field) {
  const std::size_t end = text.find(kEnd);
  if (end == std::string_view::npos) {
    return false;
  }
  field.assign(text.substr(0, end));
  text.remove_prefix(end + 1);
  return true;
}

}  // namespace

std::vector<ComingChange> WarnedTags::Due(const std::vector<FoundTag>& tags, text::Today today,
                                          int days) {
  std::map<Key, unsigned> kept;
  std::map<Key, unsigned> seen;  // by the key without its ordinal: how many came before
  std::vector<ComingChange> due;
  for (const FoundTag& tag : tags) {
    if (!tag.lapseDay || tag.lapsed) {
      continue;
    }
    const int left = static_cast<int>((*tag.lapseDay - today).count());
    if (left < 1 || left > days) {
      continue;
    }
    Key key{text::PathText(tag.page), static_cast<int>(tag.kind),
            static_cast<int>(tag.lapseDay->time_since_epoch().count()), KeyText(tag.dateText), 0};
    key.ordinal = seen[key]++;
    const auto before = warned_.find(key);
    unsigned said = before != warned_.end() ? before->second : 0;
    bool say = false;
    if ((said & kComing) == 0) {
      said |= kComing;
      say = true;
    }
    if (left <= 1 && (said & kEve) == 0) {
      said |= kEve;
      say = true;
    }
    kept[key] = said;
    if (say) {
      due.push_back({tag.page, tag.line, tag.kind, tag.dateText, *tag.lapseDay, left, key.ordinal});
    }
  }
  warned_ = std::move(kept);
  return due;
}

void TakeLinesFrom(std::vector<ComingChange>& changes, const std::set<fs::path>& reread,
                   const std::vector<FoundTag>& tags) {
  // A key holds the same day, and so the same lapsed or not, for every tag
  // it counts: the ordinals below are those Due gave.
  using Alike = std::tuple<fs::path, text::DatedTagKind, text::Today, std::string>;
  std::map<Alike, std::vector<std::uint64_t>> lines;
  for (const FoundTag& tag : tags) {
    if (tag.lapseDay && reread.contains(tag.page)) {
      lines[{tag.page, tag.kind, *tag.lapseDay, tag.dateText}].push_back(tag.line);
    }
  }
  std::erase_if(changes, [&](ComingChange& change) {
    if (!reread.contains(change.page)) {
      return false;
    }
    const auto found = lines.find({change.page, change.kind, change.day, change.dateText});
    if (found == lines.end() || change.ordinal >= found->second.size()) {
      return true;
    }
    change.line = found->second[change.ordinal];
    return false;
  });
}

std::string WarnedTags::Format() const {
  std::string text(kHeader);
  for (const auto& [key, said] : warned_) {
    for (const long long number :
         {static_cast<long long>(said), static_cast<long long>(key.kind),
          static_cast<long long>(key.day), static_cast<long long>(key.ordinal)}) {
      text += std::to_string(number);
      text += ' ';
    }
    text += key.page;
    text += kEnd;
    text += key.dateText;
    text += kEnd;
  }
  return text;
}

std::optional<WarnedTags> WarnedTags::Parse(std::string_view text) {
  if (!text.starts_with(kHeader)) {
    return std::nullopt;
  }
  text.remove_prefix(kHeader.size());
  WarnedTags warned;
  while (!text.empty()) {
    unsigned said = 0;
    Key key;
    if (!Take(text, said) || !Take(text, key.kind) || !Take(text, key.day) ||
        !Take(text, key.ordinal) || !TakeField(text, key.page) || !TakeField(text, key.dateText) ||
        said == 0 || said > (kComing | kEve)) {
      return std::nullopt;
    }
    warned.warned_[std::move(key)] = said;
  }
  return warned;
}

WarnedTags WarnedTags::Load(platform::Disk& disk, const fs::path& stateFolder,
                            const fs::path& sourceDir) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, false);
  if (!folder) {
    return {};
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(**folder, fs::path(SiteKey(sourceDir)));
  if (!file) {
    return {};
  }
  platform::Expected<std::string> text = ReadAll(**file);
  std::optional<WarnedTags> warned = text ? Parse(*text) : std::nullopt;
  if (!warned) {
    return {};
  }
  warned->loaded_ = std::move(*text);
  return std::move(*warned);
}

std::error_code WarnedTags::Save(platform::Disk& disk, const fs::path& stateFolder,
                                 const fs::path& sourceDir) const {
  const std::string text = Format();
  // Nothing warned and no file read: a site without coming changes leaves
  // no file behind.
  if (text == loaded_ || (loaded_.empty() && warned_.empty())) {
    return {};
  }
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, true);
  if (!folder) {
    return folder.error();
  }
  // Lost to a power cut after it was mailed, a warning would come again:
  // it is synced.
  return WriteWholeFile(disk, **folder, fs::path(SiteKey(sourceDir)), text, Durability::Synced);
}

}  // namespace lapse::batch
