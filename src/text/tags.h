// The three tag kinds, the date of a dated tag and when a tag has lapsed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text/date.h"

namespace lapse::text {

inline constexpr std::string_view kExpiryTag = "<!--LAPSE";
inline constexpr std::string_view kEndTag = "<!--ENDL";
inline constexpr std::string_view kNewTag = "<!--LNEW";
// Opens a block of content hidden in a comment until its date.
inline constexpr std::string_view kShowTag = "<!--LSHOW";

// A tag line is recognised by its prefix alone, in column 1, in the same case.
bool IsExpiryTag(std::string_view line);
bool IsEndTag(std::string_view line);
bool IsNewTag(std::string_view line);
bool IsShowTag(std::string_view line);
// Whether the line is a tag line of any kind.
bool IsTagLine(std::string_view line);

// The date field starts in column 10 whatever the tag, so that for a
// new-content tag the blank after its eight-character prefix is skipped.
inline constexpr std::size_t kDateColumn = 9;  // zero-based

// The lengths at which the date field is tried, in this order.
inline constexpr std::size_t kCandidateLengths[] = {9, 8, 6, 7, 10, 11};

// Only this many characters at the start of a line take part in any decision
// about it: the date field's longest candidate and the character after it.
inline constexpr std::size_t kLineHeadLength =
    kDateColumn + std::ranges::max(kCandidateLengths) + 1;
// As many bytes as that many characters of UTF-8 may take.
inline constexpr std::size_t kLineHeadBytes = 4 * kLineHeadLength;

// What a column is: a byte of 8-bit text, or a character of UTF-8 (the text
// of a UTF-16 page, as the rewriter reads it).
enum class TextUnits { Bytes, Utf8Characters };

// The tag date of a dated tag line, or nothing for a date format error. The
// line may be cut to its first kLineHeadLength columns: the answer is the
// same.
std::optional<TagDate> ReadTagDate(std::string_view line, const DateLocale& locale,
                                   TextUnits units = TextUnits::Bytes);

// A tag date with how it was written: the text that gave it, without blanks
// around it, and whether it fits only the other order of day and month than
// the locale's. The text lies in the line given.
struct WrittenTagDate {
  TagDate date;
  std::string_view text;
  bool otherOrder = false;
};
std::optional<WrittenTagDate> ReadTagDateAsWritten(std::string_view line, const DateLocale& locale,
                                                   TextUnits units = TextUnits::Bytes);

// What stands where a dated tag's date is read, to name a date that cannot
// be: the date field as far as the longest candidate, up to the comment's
// end, without blanks around it.
std::string_view TagDateField(std::string_view line, TextUnits units = TextUnits::Bytes);

// An expiry tag lapses on the day after its date.
bool ExpiryTagLapsed(TagDate date, Today today);

// A new-content tag lapses on the day after its date plus newDays days.
bool NewTagLapsed(TagDate date, std::int16_t newDays, Today today);

// A show block is shown from the day of its date on, whatever its time of
// day: the day an expiry block is last shown, a show block is first.
bool ShowTagDue(TagDate date, Today today);

}  // namespace lapse::text
