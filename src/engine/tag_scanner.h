// Lists the dated tags of a file without rewriting it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "engine/date.h"
#include "engine/io.h"
#include "engine/tags.h"

namespace lapse::engine {

enum class DatedTagKind { Expiry, New };

struct DatedTag {
  std::uint64_t line = 0;  // counted from 1
  DatedTagKind kind = DatedTagKind::Expiry;
  std::optional<TagDate> date;  // nothing for a date format error
};

// Calls onTag for every expiry and new-content tag line, in file order. Gives
// false when the source could not be read to its end.
bool ScanDatedTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
                   TextUnits units, const std::function<void(const DatedTag&)>& onTag);

// The first day on which the tag has lapsed.
Today LapseDay(const DatedTag& tag, std::int16_t newDays);

}  // namespace lapse::engine
