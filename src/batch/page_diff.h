// What an update would do to a site's pages on a day, as a unified diff,
// with nothing written: the same check picks the pages, and the same
// rewriter decides each line, so that the diff applied with `patch -p1` in
// the folder makes the pages the update would make.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/page_report.h"
#include "batch/site_walk.h"
#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::batch {

// A page plain as it is stored (8-bit text, a UTF-8 mark allowed) is shown
// line by line; one compressed or in UTF-16 cannot be patched as text and
// is only named.
enum class DiffForm { Text, Binary };

// A page the update would change.
struct ChangedPage {
  std::filesystem::path page;  // below the folder
  DiffForm form = DiffForm::Text;
  // The diff's lines: those taken out of the page (for a binary page, the
  // lines the rewrite removes from its text) and those put in (a line
  // whose end the rewrite completes is taken out and put in again).
  std::uint64_t deletions = 0;
  std::uint64_t insertions = 0;
};

struct SiteDiff {
  // Could not open or list the folder itself; nothing else is filled.
  std::error_code folderError;
  // Pages the update leaves out or as they are, in the order it names them:
  // first those the check finds to be no text, then the rest by path.
  std::vector<PageLeftOut> leftOut;
  // Pages it rewrites that have something said of them (a lapsed block
  // that no end tag closed).
  std::vector<PageLeftOut> noted;
  // Sorted by path.
  std::vector<ChangedPage> changed;
  std::uint64_t pages = 0;  // the HTML files found

  // A page that could not be read, whose date cannot be, or with a broken
  // show block: the update would leave it out.
  bool Faulty() const;
};

// The diff's text as it is made, a page at a time; nothing takes only the
// counts.
using DiffText = std::function<void(std::string_view)>;

// Checks directory (and with Subfolders the folders below it) as an update
// on the rules' day does, and writes the diff of every page it would
// rewrite. Reads one page at a time and writes nothing to the disk.
SiteDiff DiffSite(platform::Disk& disk, const std::filesystem::path& directory, Recursion recursion,
                  const text::TagRules& rules, const DiffText& text);

// A path below the folder as the diff names it, after side ("a", "b", or
// nothing) and a "/": with "/" between folders,
// and in C quotes where it holds a quote, a backslash, a control byte or a
// byte beyond ASCII, so that patch and git read it back whole.
std::string DiffName(std::string_view side, const std::filesystem::path& page);

}  // namespace lapse::batch
