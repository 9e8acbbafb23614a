// Feeds the date parser any text of up to 16 bytes, read with one of a few
// date locales. A crash, a sanitizer report or a broken property is a finding:
//  - an accepted text is a real calendar date in 1000..9999 with a time of
//    day in [0, 24h);
//  - the answer depends on the text and the locale value alone: parsing
//    again, from another buffer, with a copy of the locale, after parsing
//    something else, or with blanks around the text gives the same answer;
//  - a date written back as text reads back as the same date to the minute;
//  - a tag line's date does not depend on the bytes past the line's head.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "text/date.h"
#include "text/tags.h"

namespace {

using lapse::text::DateLocale;
using lapse::text::DateOrder;
using lapse::text::ParseDate;
using lapse::text::TagDate;

constexpr std::size_t kMaxTextLength = 16;

std::string_view g_text;  // the input of the current run, for the report

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "date_parser_fuzz: %s\ntext (%zu bytes):", what, g_text.size());
  for (const char c : g_text)
    std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds)
    Fail(what);
}

// Locales whose month names are not English, with short names that end in a
// dot and names with bytes past ASCII, besides the English one and one that
// knows no names at all.
DateLocale MakeLocale(std::uint8_t selector) {
  DateLocale locale;
  switch ((selector >> 2) % 4) {
    case 0:
      locale = lapse::text::EnglishDateLocale();
      break;
    case 1:
      break;  // no names of its own: only English names are understood
    case 2:
      locale.monthNames = {"Januar", "Februar", "M\u00e4rz", "April",   "Mai",      "Juni",
                           "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
      locale.shortMonthNames = {"Jan.", "Feb.", "M\u00e4r.", "Apr.", "Mai",  "Jun.",
                                "Jul.", "Aug.", "Sep.",      "Okt.", "Nov.", "Dez."};
      break;
    default:
      locale.monthNames = {"janvier",   "f\u00e9vrier", "mars",     "avril",
                           "mai",       "juin",         "juillet",  "ao\u00fbt",
                           "septembre", "octobre",      "novembre", "d\u00e9cembre"};
      locale.shortMonthNames = {"janv.", "f\u00e9vr.", "mars",  "avr.", "mai",  "juin",
                                "juil.", "ao\u00fbt",  "sept.", "oct.", "nov.", "d\u00e9c."};
      break;
  }
  switch (selector % 4) {
    case 1:
      locale.order = DateOrder::DayMonthYear;
      break;
    case 2:
      locale.order = DateOrder::YearMonthDay;
      break;
    default:
      locale.order = DateOrder::MonthDayYear;
      break;
  }
  return locale;
}

void CheckIsValidDate(TagDate date) {
  using namespace std::chrono;
  const local_days day = floor<days>(date);
  const year_month_day calendar{day};
  Check(calendar.ok(), "accepted date is no calendar date");
  Check(calendar.year() >= year{1000} && calendar.year() <= year{9999},
        "accepted date outside the years 1000..9999");
  const auto timeOfDay = date - day;
  Check(timeOfDay >= seconds{0} && timeOfDay < hours{24}, "time of day outside [0, 24h)");
}

void CheckTagDate(std::string_view prefix, std::string_view text, const DateLocale& locale) {
  const std::string line = std::string(prefix) + std::string(text);
  const auto whole = lapse::text::ReadTagDate(line, locale);
  const auto head = lapse::text::ReadTagDate(
      std::string_view(line).substr(0, lapse::text::kLineHeadLength), locale);
  Check(whole == head, "tag date depends on bytes past the line's head");
  if (whole) {
    CheckIsValidDate(*whole);
  }
  // What a message names of the date lies within the line.
  const std::string_view field = lapse::text::TagDateField(line);
  Check(field.empty() || (field.data() >= line.data() &&
                          field.data() + field.size() <= line.data() + line.size()),
        "the date field's text lies outside the line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size - 1 > kMaxTextLength) {
    return 0;
  }
  const DateLocale locale = MakeLocale(data[0]);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  g_text = text;

  const std::optional<TagDate> answer = ParseDate(text, locale);
  Check(ParseDate(text, locale) == answer, "a second parse gives another answer");

  // A buffer of exactly the text's size, so that a read past its end shows.
  const auto copy = std::make_unique<char[]>(text.size());
  text.copy(copy.get(), text.size());
  // A copy on purpose: the answer must not hang on the locale object's address.
  const DateLocale localeCopy = locale;  // NOLINT(performance-unnecessary-copy-initialization)
  ParseDate("31 Dec 2026 23:59", lapse::text::EnglishDateLocale());
  Check(ParseDate(std::string_view(copy.get(), text.size()), localeCopy) == answer,
        "the answer depends on more than the text and the locale");

  Check(ParseDate(" \t" + std::string(text) + "\t ", locale) == answer,
        "blanks around the text change the answer");

  // A named order reads what the locale's order reads without the other
  // order's help, as the same date, and nothing else.
  const std::optional<lapse::text::DateReading> reading = lapse::text::ReadDate(text, locale);
  Check(reading.has_value() == answer.has_value() && (!reading || reading->date == *answer),
        "ReadDate and ParseDate answer otherwise");
  DateLocale given = locale;
  given.orderGiven = true;
  const std::optional<TagDate> strict = ParseDate(text, given);
  Check(strict == (reading && !reading->otherOrder ? answer : std::nullopt),
        "a named order reads another date than the locale's order alone");

  if (answer) {
    CheckIsValidDate(*answer);
    const auto toTheMinute = std::chrono::floor<std::chrono::minutes>(*answer);
    Check(ParseDate(lapse::text::FormatTagDate(*answer), locale) == toTheMinute,
          "a date written back as text reads back as another date");
  }

  // The platform's short-date format is text from outside too.
  lapse::text::DateOrderFromFormat(text);

  CheckTagDate(lapse::text::kExpiryTag, text, locale);
  CheckTagDate(std::string(lapse::text::kNewTag) + " ", text, locale);
  return 0;
}
