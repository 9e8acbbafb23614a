#include "batch/page_index.h"

#include <charconv>

#include "batch/kept_store.h"
#include "batch/record_text.h"
#include "batch/run_record.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "lapse index 1 ";
constexpr char kNameEnd = '\0';
constexpr std::string_view kNoDay = "-";
// A save within this long of a look at a page may leave its times as they
// were on a file system that keeps whole seconds, or two (FAT).
constexpr std::int64_t kSameTick = 2'000'000'000;

// The rules as text: what decides which day a tag changes a page.
std::string RulesText(const text::TagRules& rules) {
  std::string text =
      std::to_string(rules.newDays) + " " + std::to_string(static_cast<int>(rules.locale.order));
  // A named order reads no date in the other: the same pages answer otherwise.
  if (rules.locale.orderGiven) {
    text += " given";
  }
  for (const auto* names : {&rules.locale.monthNames, &rules.locale.shortMonthNames}) {
    for (const std::string& name : *names) {
      text += " " + text::DisplayText(name);
    }
  }
  return text;
}

// A page's key as the file holds it, in UTF-8, and back. Keys are only
// ever compared with the pages a walk finds, never opened: a key that is
// no path below the site finds no page.
std::string KeyText(const fs::path::string_type& key) {
#if defined(_WIN32)
  return text::PathText(fs::path(key));
#else
  return key;
#endif
}

fs::path::string_type KeyOf(std::string_view text) {
#if defined(_WIN32)
  return text::PathFromText(text).native();
#else
  return fs::path::string_type(text);
#endif
}

constexpr std::string_view kFolder = "index";

}  // namespace

PageIndex::PageIndex(const text::TagRules& rules) : rules_(RulesText(rules)) {}

bool PageIndex::Unchanged(const fs::path& page, const platform::FileStatus& now,
                          text::Today today) const {
  const auto found = pages_.find(page.native());
  if (found == pages_.end()) {
    return false;
  }
  const Entry& entry = found->second;
  return entry.stamp == now.stamp && entry.statusChanged == now.statusChanged &&
         (!entry.nextChange || *entry.nextChange > today);
}

void PageIndex::Record(const fs::path& page, const platform::FileStatus& status,
                       std::optional<text::Today> nextChange) {
  pages_[page.native()] = {status.stamp, status.statusChanged, nextChange};
}

std::string PageIndex::Format() const {
  std::string text(kHeader);
  text += rules_;
  text += '\n';
  for (const auto& [page, entry] : pages_) {
    for (const std::uint64_t number : {entry.stamp.device, entry.stamp.inode, entry.stamp.size}) {
      text += std::to_string(number);
      text += ' ';
    }
    for (const std::int64_t number : {entry.stamp.modified, entry.statusChanged}) {
      text += std::to_string(number);
      text += ' ';
    }
    if (entry.nextChange) {
      text += std::to_string(entry.nextChange->time_since_epoch().count());
    } else {
      text += kNoDay;
    }
    text += ' ';
    text += KeyText(page);
    text += kNameEnd;
  }
  return text;
}

std::optional<PageIndex> PageIndex::Parse(std::string_view text, const text::TagRules& rules) {
  PageIndex index(rules);
  const std::string header = std::string(kHeader) + index.rules_ + '\n';
  if (!text.starts_with(header)) {
    return std::nullopt;
  }
  text.remove_prefix(header.size());
  while (!text.empty()) {
    Entry entry;
    if (!Take(text, entry.stamp.device) || !Take(text, entry.stamp.inode) ||
        !Take(text, entry.stamp.size) || !Take(text, entry.stamp.modified) ||
        !Take(text, entry.statusChanged)) {
      return std::nullopt;
    }
    if (text.starts_with(kNoDay) && text.substr(kNoDay.size()).starts_with(' ')) {
      text.remove_prefix(kNoDay.size() + 1);
    } else {
      int days = 0;
      if (!Take(text, days)) {
        return std::nullopt;
      }
      entry.nextChange = text::Today{std::chrono::days{days}};
    }
    const std::size_t end = text.find(kNameEnd);
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    index.pages_.emplace_hint(index.pages_.end(), KeyOf(text.substr(0, end)), entry);
    text.remove_prefix(end + 1);
  }
  return index;
}

PageIndex PageIndex::Load(platform::Disk& disk, const fs::path& stateFolder,
                          const fs::path& sourceDir, const text::TagRules& rules) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, false);
  if (!folder) {
    return PageIndex(rules);
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(**folder, fs::path(SiteKey(sourceDir)));
  if (!file) {
    return PageIndex(rules);
  }
  platform::Expected<std::string> text = ReadAll(**file);
  std::optional<PageIndex> index = text ? Parse(*text, rules) : std::nullopt;
  if (!index) {
    return PageIndex(rules);
  }
  index->loaded_ = std::move(*text);
  return std::move(*index);
}

std::error_code PageIndex::Save(platform::Disk& disk, const fs::path& stateFolder,
                                const fs::path& sourceDir,
                                std::chrono::system_clock::time_point reading) const {
  PageIndex kept(*this);
  const std::int64_t seen =
      std::chrono::duration_cast<std::chrono::nanoseconds>(reading.time_since_epoch()).count();
  std::erase_if(kept.pages_, [seen](const auto& page) {
    return std::max(page.second.stamp.modified, page.second.statusChanged) > seen - kSameTick;
  });
  std::string text = kept.Format();
  if (text == loaded_) {
    return {};
  }
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, true);
  if (!folder) {
    return folder.error();
  }
  // An index lost to a power cut costs a day's reading, no more: it is not
  // synced.
  return WriteWholeFile(disk, **folder, fs::path(SiteKey(sourceDir)), text, Durability::Cached);
}

}  // namespace lapse::batch
