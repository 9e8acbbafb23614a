// Lists the dated tags of a file without rewriting it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "text/date.h"
#include "text/show_block.h"
#include "text/streams.h"
#include "text/tags.h"

namespace lapse::text {

enum class DatedTagKind { Expiry, New, Show };

struct DatedTag {
  std::uint64_t line = 0;  // counted from 1
  DatedTagKind kind = DatedTagKind::Expiry;
  std::optional<TagDate> date;  // nothing for a date format error
  // The date as written (or what stands in its place when it cannot be
  // read), and whether it fits only the other order than the locale's.
  std::string text;
  bool otherOrder = false;
};

// Calls onTag for every expiry and new-content tag line, in file order. Gives
// false when the source could not be read to its end.
bool ScanDatedTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
                   TextUnits units, const std::function<void(const DatedTag&)>& onTag);

// The same, and onBroken for every block that does not close as it should:
// an expiry block without its end tag (by the tag that opened it), an end
// tag outside any expiry block, and the first broken show block.
bool ScanTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
              TextUnits units, const std::function<void(const DatedTag&)>& onTag,
              const std::function<void(const BrokenBlock&)>& onBroken);

// The first day on which a tag of kind with date has lapsed; for a show
// tag, the day its block is first shown.
Today LapseDay(TagDate date, DatedTagKind kind, std::int16_t newDays);

}  // namespace lapse::text
