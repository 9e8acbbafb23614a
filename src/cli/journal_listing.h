// The journal of what was removed from a site, as lapse-cli log shows it:
// newest first, for a person to read, or as JSON for scripts.
#pragma once

#include <optional>
#include <ostream>

#include "batch/journal.h"
#include "text/date.h"

namespace lapse::cli {

// Shows the blocks removed on since or later (in local time), the newest
// replace first and each replace's blocks in the order of its pages; false
// when there is none to show.
bool ListJournalAsText(const batch::Journal& journal, std::optional<text::Today> since,
                       std::ostream& out);
void ListJournalAsJson(const batch::Journal& journal, std::optional<text::Today> since,
                       std::ostream& out);

}  // namespace lapse::cli
