// Calendar dates and the date locale that the date parser reads them with.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lapse::text {

// What the date parser reads as a digit and as a letter of a word (bytes of
// a multi-byte character belong to words of the user's language). The tag
// reader tells where a number or a word ends by the same tests.
inline bool IsDateDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsDateLetter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || byte >= 0x80;
}

// A tag date: a calendar date with a time of day, as a point in local time.
using TagDate = std::chrono::local_seconds;

// The current local date at the start of the day.
using Today = std::chrono::local_days;

// The order in which a numeric date gives its day, month and year.
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

// How the user writes dates: the order of a numeric date and the month names
// of the user's language. English month names are understood in any locale.
struct DateLocale {
  DateOrder order = DateOrder::MonthDayYear;
  // An order the user named is the only one read; one taken from the
  // locale is a guess, and a date that fits only the other order of day and
  // month is read so (and said to be).
  bool orderGiven = false;
  std::array<std::string, 12> monthNames{};       // "January", ... (empty when unknown)
  std::array<std::string, 12> shortMonthNames{};  // "Jan", ...
};

// The locale of the C library's "C" locale: month first, English names.
DateLocale EnglishDateLocale();

// Reads the short-date format of the platform ("%m/%d/%y", "%d.%m.%Y", ...)
// and gives the order of its day, month and year fields; month first when the
// format names no such fields.
DateOrder DateOrderFromFormat(std::string_view format);

// "mdy", "dmy", "ymd": the names --date-order takes, and back; nothing for
// any other name.
std::string_view DateOrderName(DateOrder order);
std::optional<DateOrder> DateOrderNamed(std::string_view name);

// Parses a date as authors write it, with an optional time of day:
//   12/31/26, 31.12.2026, 2026-12-31, 31 Dec 2026, Dec 31, 2026, 31-Dec-26,
//   each optionally followed by a blank and H:MM, H:MM:SS, with AM or PM.
// Blanks around the text are ignored. Gives nothing for any text that is not
// wholly such a date, and for impossible dates and times.
std::optional<TagDate> ParseDate(std::string_view text, const DateLocale& locale);

// A date as ParseDate reads it, and whether its day and month fit only the
// other order than the locale's (31/12/26 in a month-first locale).
struct DateReading {
  TagDate date;
  bool otherOrder = false;
};
std::optional<DateReading> ReadDate(std::string_view text, const DateLocale& locale);

// Text of a date as YYYY-MM-DD, and of a tag date with " HH:MM" when it has a
// time of day.
std::string FormatDay(Today day);
std::string FormatTagDate(TagDate date);

}  // namespace lapse::text
