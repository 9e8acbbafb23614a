// A look at what a site's tags say, without writing anything: every dated
// tag, whether it has lapsed, and the next day on which one lapses.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "batch/page_index.h"
#include "batch/page_report.h"
#include "batch/site_walk.h"
#include "platform/disk.h"
#include "text/rewrite.h"
#include "text/tag_scanner.h"

namespace lapse::batch {

struct FoundTag {
  std::filesystem::path page;  // below the folder checked
  std::uint64_t line = 0;      // counted from 1
  text::DatedTagKind kind = text::DatedTagKind::Expiry;
  std::optional<text::TagDate> date;    // nothing for a date format error
  bool lapsed = false;                  // for a show tag: its block is due, and shown
  std::optional<text::Today> lapseDay;  // the first day on which it has lapsed (or is due)
  // The date as written, or what stands in its place when it cannot be read.
  std::string dateText{};
  // The date fits only the other order of day and month than the one in
  // force, taken from the locale: it is read so, and check says it.
  bool otherOrder = false;
};

// A block that does not close as it should.
struct FoundBrokenBlock {
  std::filesystem::path page;  // below the folder checked
  text::BrokenBlock block;
};

struct CheckResult {
  // Could not list the folder itself; nothing else is filled.
  std::error_code folderError;
  // Sorted by page and line.
  std::vector<FoundTag> tags;
  // Pages that could not be read, and pages that are no text (not failures).
  std::vector<PageLeftOut> leftOut;
  // Sorted by page and line.
  std::vector<FoundBrokenBlock> brokenBlocks;
  // The earliest day on which a tag that has not lapsed yet lapses, or a
  // show block that is hidden is shown: the next change.
  std::optional<text::Today> nextChange;
  // The HTML files found, read or not.
  std::uint64_t pages = 0;

  // A page that could not be read, a tag whose date cannot be, or a
  // broken block.
  bool Faulty() const;
};

// Reads every HTML file of directory (and, with Subfolders, of the folders
// below it, by the same walk a run takes) and lists its dated tags.
CheckResult CheckSite(platform::Disk& disk, const std::filesystem::path& directory,
                      Recursion recursion, const text::TagRules& rules);
// The same over a folder already open. With an index, a page it knows to
// be as it was and to change nothing today is not read (and its tags are
// not listed); the index learns every page that is read. With readThrough,
// a page that changes on or before that day is read too, so that the tags
// of the days ahead are listed; the rest stay unread.
CheckResult CheckFolder(platform::Disk& disk, const std::shared_ptr<platform::Folder>& folder,
                        Recursion recursion, const text::TagRules& rules, PageIndex* index,
                        std::optional<text::Today> readThrough = std::nullopt);

// The tags of the pages named (paths below folder) alone, read again
// without an index: where the tags of pages just rewritten now stand.
CheckResult CheckPages(platform::Disk& disk, const std::shared_ptr<platform::Folder>& folder,
                       const std::vector<std::filesystem::path>& pages,
                       const text::TagRules& rules);

// The pages that a run today would change, or report: those with a tag
// that has lapsed (or a show block that is due) or whose date cannot be
// read, those with a broken show block, and those that could not be read. An update rewrites these
// alone, so that every other page keeps its bytes, its number and its times.
std::set<std::filesystem::path> PagesToRewrite(const CheckResult& check);

}  // namespace lapse::batch
