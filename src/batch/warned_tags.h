// Which coming changes an update has already warned of, kept per site in the
// user's state folder, so that a daily update run by cron (which mails what
// it prints) names a tag that will change soon twice, not every day: on the
// first day it comes within the days asked for, and on the day before it
// changes. A missing or damaged file means warning again, never failing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "batch/check.h"
#include "platform/disk.h"

namespace lapse::batch {

// A tag that will change its page within the days asked for.
struct ComingChange {
  std::filesystem::path page;  // below the folder checked
  std::uint64_t line = 0;
  text::DatedTagKind kind = text::DatedTagKind::Expiry;
  std::string dateText;  // as written
  text::Today day;       // the first day on which it has changed the page
  int daysLeft = 0;      // from today, at least 1
  // Its place among the page's tags alike in kind, day and date: with
  // those, what knows the tag whatever its line.
  unsigned ordinal = 0;
};

// Gives each change on a page among reread the line of its tag in tags (a
// look at those pages alone, once an update has rewritten them), found as
// WarnedTags knows a tag: the line the author finds it at after the update.
// A change whose tag went with a block the update removed changes nothing
// and is dropped.
void TakeLinesFrom(std::vector<ComingChange>& changes,
                   const std::set<std::filesystem::path>& reread,
                   const std::vector<FoundTag>& tags);

class WarnedTags {
 public:
  // The warnings kept for the site at sourceDir; none when the file is
  // missing or cannot be read as one.
  static WarnedTags Load(platform::Disk& disk, const std::filesystem::path& stateFolder,
                         const std::filesystem::path& sourceDir);
  // Writes the file beside the old one and renames it over, synced and
  // readable by its owner only; nothing when it would hold what it holds.
  std::error_code Save(platform::Disk& disk, const std::filesystem::path& stateFolder,
                       const std::filesystem::path& sourceDir) const;

  // The tags of a check that change their page within days of today and
  // are due a warning today, in the check's order; each is noted as warned.
  // Every tag not among them and not warned of before is forgotten: what
  // has changed its page, is gone, or lies further ahead. tags must hold
  // every tag of each page that changes within days (an index read through
  // that day: see CheckFolder).
  std::vector<ComingChange> Due(const std::vector<FoundTag>& tags, text::Today today, int days);

  std::size_t Size() const { return warned_.size(); }

  // The text of the file, and back; nothing for text that is no such file.
  std::string Format() const;
  static std::optional<WarnedTags> Parse(std::string_view text);

 private:
  // A tag is known by its page, its kind, the day it changes the page, its
  // date as written and its place among the page's tags with all of those
  // alike; not by its line, since a line added above it (the everyday edit)
  // would make it new and warned of again. A date moved makes a new tag,
  // rightly warned of anew.
  struct Key {
    std::string page;  // UTF-8
    int kind = 0;
    int day = 0;  // days since the epoch
    std::string dateText;
    unsigned ordinal = 0;
    friend auto operator<=>(const Key&, const Key&) = default;
  };
  // What has been said of a tag.
  enum Said : unsigned { kComing = 1, kEve = 2 };

  std::map<Key, unsigned> warned_;
  std::string loaded_;  // the file as it was read
};

}  // namespace lapse::batch
