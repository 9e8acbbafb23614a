// What each page of a site was when an update last read it, and the next
// day on which its tags change anything, kept in the user's state folder:
// a day on which nothing lapses then costs a listing and a look at each
// page's status, not a read of every page.
//
// A page is read again when anything of its status differs (device, number,
// size, modification time, and the time of its last change, which no save
// can set back), when its day has come, or when it was last seen so shortly
// before the index was written that a save in the same tick of the clock
// would not show. An index that is missing, damaged, or made under other
// rules (days, date order, month names) means reading every page.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::batch {

class PageIndex {
 public:
  struct Entry {
    platform::FileStamp stamp;
    std::int64_t statusChanged = 0;
    // The first day on which a tag of the page changes it; nothing when
    // none ever will.
    std::optional<text::Today> nextChange;
    friend bool operator==(const Entry&, const Entry&) = default;
  };

  // An index of nothing, for the rules a run reads tags by.
  explicit PageIndex(const text::TagRules& rules);

  // The index kept for the site at sourceDir in stateFolder; an empty one
  // when there is none to be trusted.
  static PageIndex Load(platform::Disk& disk, const std::filesystem::path& stateFolder,
                        const std::filesystem::path& sourceDir, const text::TagRules& rules);
  // Writes it beside the old one and renames it over, readable by its owner
  // only. Pages whose times lie within a tick of reading, when the reading
  // of the site began, or later, are left out: a save in that tick may
  // have left their times as they were.
  std::error_code Save(platform::Disk& disk, const std::filesystem::path& stateFolder,
                       const std::filesystem::path& sourceDir,
                       std::chrono::system_clock::time_point reading) const;

  // Whether the page, as it stands now, holds nothing that changes on or
  // before today: it need not be read.
  bool Unchanged(const std::filesystem::path& page, const platform::FileStatus& now,
                 text::Today today) const;
  // What the page was when read, and the next day it changes; Forget() for
  // a page that changes today or could not be read.
  void Record(const std::filesystem::path& page, const platform::FileStatus& status,
              std::optional<text::Today> nextChange);
  void Forget(const std::filesystem::path& page) { pages_.erase(page.native()); }

  std::size_t Size() const { return pages_.size(); }

  // The text of the index file, and back; nothing for text that is no index
  // of these rules.
  std::string Format() const;
  static std::optional<PageIndex> Parse(std::string_view text, const text::TagRules& rules);

 private:
  std::string rules_;  // what tags are read by, as text
  // By the page's path as the system spells it: a quiet day looks up every
  // page, and strings compare far faster than paths, component by component.
  std::map<std::filesystem::path::string_type, Entry> pages_;
  std::string loaded_;  // the file as it was read, which need not be written again
};

}  // namespace lapse::batch
